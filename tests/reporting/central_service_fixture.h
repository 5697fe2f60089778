// The reference central service as a child process of a test: started on a
// free loopback port with its own record folder, told how to answer through
// its control endpoint, stopped (SIGTERM, then waited for) when the object
// goes away.
#pragma once

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quorvex::testing {

// A folder under the system's temporary folder, removed with its content.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-rep-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class CentralService {
 public:
  // extra: more options for the service (--cert/--key for https).
  explicit CentralService(std::vector<std::string> extra = {}) {
    const std::string binary = std::string(QUORVEX_BINARY_DIR) + "/quorvex-central-ref";
    const std::string port_file = dir_.path() + "/port";
    record_dir_ = dir_.path() + "/received";
    std::filesystem::create_directory(record_dir_);
    std::vector<std::string> args = {binary, "--port-file", port_file, "--record-dir", record_dir_};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
    if (pid_ < 0) throw std::runtime_error("fork failed");
    // Waits for the port file, which the service writes once it listens.
    for (int i = 0; i < 1000 && port_ == 0; ++i) {
      std::ifstream in(port_file);
      if (!(in >> port_)) {
        port_ = 0;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
          pid_ = -1;
          throw std::runtime_error("the reference service ended at start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    if (port_ == 0) throw std::runtime_error("the reference service did not start");
  }
  ~CentralService() {
    if (pid_ <= 0) return;
    // A service that does not stop within five seconds is killed, so that a
    // fault of the service never hangs the tests.
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  CentralService(const CentralService&) = delete;
  CentralService& operator=(const CentralService&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + "/update/update.asmx";
  }

  // Sets the answer mode ("NAME [ARG] [delay=MS] [once]" and an optional
  // payload after a line break). Only for a plain http service.
  void SetMode(const std::string& mode) {
    httplib::Client client("127.0.0.1", port_);
    auto res = client.Post("/__control", mode, "text/plain");
    if (!res || res->status != 200) throw std::runtime_error("the service refused mode " + mode);
  }

  // Number of requests recorded so far, and the recorded files of one.
  int Received() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(record_dir_)) {
      if (entry.path().extension() == ".xml") ++count;
    }
    return count;
  }
  std::string Record(int number, const std::string& extension) const {
    char stem[16];
    std::snprintf(stem, sizeof stem, "%04d", number);
    return ReadFileBytes(record_dir_ + "/" + stem + extension);
  }
  std::string Document(int number) const { return Record(number, ".xml"); }

  const std::string& temp_dir() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::string record_dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace quorvex::testing
