// The reference central service (tools/central_service) as a child process
// on a free loopback port, recording into a folder of its own; with a
// certificate and its key (PEM files), over https.
#pragma once

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

namespace quorvex::testing {

class CentralService {
 public:
  explicit CentralService(const std::string& cert = {}, const std::string& key = {})
      : scheme_(cert.empty() ? "http" : "https") {
    dir_ = (std::filesystem::temp_directory_path() / "quorvex-rep-XXXXXX").string();
    if (mkdtemp(dir_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    std::filesystem::create_directory(dir_ + "/received");
    const std::string binary = std::string(QUORVEX_BINARY_DIR) + "/quorvex-central-ref";
    pid_ = fork();
    if (pid_ == 0) {
      const char* tls[] = {"--cert", cert.c_str(), "--key", key.c_str()};
      execl(binary.c_str(), binary.c_str(), "--port-file", (dir_ + "/port").c_str(), "--record-dir",
            (dir_ + "/received").c_str(), "--on-accept", AcceptedFile().c_str(),
            cert.empty() ? nullptr : tls[0], tls[1], tls[2], tls[3], nullptr);
      _exit(127);
    }
    for (int i = 0; i < 1000 && !(std::ifstream(dir_ + "/port") >> port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (port_ == 0) throw std::runtime_error("the reference service did not start");
  }
  ~CentralService() {
    kill(pid_, SIGTERM);
    int status = 0, waited = 0;
    while (waitpid(pid_, &status, WNOHANG) != pid_ && ++waited < 500)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waited == 500) kill(pid_, SIGKILL), waitpid(pid_, &status, 0);
    std::filesystem::remove_all(dir_);
  }
  CentralService(const CentralService&) = delete;
  CentralService& operator=(const CentralService&) = delete;

  int port() const { return port_; }
  std::string Url() const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + "/update/update.asmx";
  }

  // The answer mode: "NAME [ARG] [delay=MS] [once]", a payload after "\n".
  void SetMode(const std::string& mode) {
    httplib::Client client(scheme_ + "://127.0.0.1:" + std::to_string(port_));
    client.enable_server_certificate_verification(false);
    auto answer = client.Post("/__control", mode, "text/plain");
    if (!answer || answer->status != 200) throw std::runtime_error("refused mode " + mode);
  }

  // One line for every accepting answer sent so far.
  std::string AcceptedFile() const { return dir_ + "/accepted"; }

  // Requests recorded so far, and the files recorded for request number.
  int Received() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/received"))
      count += entry.path().extension() == ".xml";
    return count;
  }
  std::string RecordPath(int number, const char* extension) const {
    char name[32];
    std::snprintf(name, sizeof name, "/received/%04d%s", number, extension);
    return dir_ + name;
  }
  std::string Record(int number, const char* extension) const {
    std::ifstream in(RecordPath(number, extension), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string scheme_;
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace quorvex::testing
