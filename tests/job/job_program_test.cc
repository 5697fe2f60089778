// The real QuorvexServer in a throw-away program folder, on a real SQLite
// database, with its event entries read back from the event-log file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "job/principal.h"
#include "job/run_state.h"
#include "support/installation.h"

namespace quorvex {
namespace {

using testing::Installation;
using testing::LoggedEvent;

constexpr int kError = 1, kWarning = 2;

// A loopback socket bound to a free port. With listen == false nothing
// answers there (connections are refused); with listen == true the kernel
// takes connections but nobody ever reads or answers them.
class LoopbackPort {
 public:
  explicit LoopbackPort(bool listen) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (listen) {
      ::listen(fd_, 16);
    } else {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~LoopbackPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  std::string Text() const { return std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// An installation with nothing to do: every table empty.
class JobRunTest : public ::testing::Test {
 protected:
  Installation install_;
};

// A run held busy by its one server's tcping tool until the test creates
// the file "release" in the program folder; "started" shows it got there.
int StartBusyRun(Installation& install, const LoopbackPort& listener) {
  const std::filesystem::path folder = install.Folder();
  const auto tool = folder / "busy-tcping.exe";
  std::ofstream(tool) << "#!/bin/sh\ntouch '" << (folder / "started").string()
                      << "'\nwhile [ ! -e '" << (folder / "release").string()
                      << "' ]; do sleep 0.02; done\necho 'Average = 1.000ms'\n";
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  install.WriteSettings(Installation::SqliteSettings("TCPING=busy-tcping.exe\n"));
  install.Exec("DELETE FROM Servidor_Timbrado");
  install.Exec("INSERT INTO Servidor_Timbrado VALUES ('1', 'http://127.0.0.1:" + listener.Text() +
               "/', 'AC', 0)");
  const int pid = install.StartJob();
  while (!std::filesystem::exists(folder / "started")) ::usleep(10'000);
  return pid;
}

// A second start while a run is busy: refused before it reads anything,
// also when a package upgrade has replaced the program file in between.
TEST_F(JobRunTest, SecondStartIsRefusedWhileARunIsBusy) {
  LoopbackPort listener(/*listen=*/true);
  for (const bool upgraded : {false, true}) {
    SCOPED_TRACE(upgraded ? "binary replaced during the run" : "same binary");
    const auto folder = install_.Folder();
    std::filesystem::remove(folder / "release");
    std::filesystem::remove(folder / "started");
    std::filesystem::remove(install_.EventLogPath());
    const int busy = StartBusyRun(install_, listener);
    // A settings file that would fail loudly if it were read.
    install_.WriteSettings("[CONEXION]\nPING-MODE=not a number\n");
    if (upgraded) {
      std::filesystem::copy_file(folder / "QuorvexServer", folder / "QuorvexServer.new");
      std::filesystem::rename(folder / "QuorvexServer.new", folder / "QuorvexServer");
    }
    const auto second = install_.RunJob();
    const auto events = install_.Events();  // before the busy run reports
    std::ofstream(folder / "release").put('\n');
    EXPECT_EQ(Installation::Wait(busy).exit_code, 0);

    EXPECT_EQ(second.exit_code, 75) << second.output;
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kWarning);
    EXPECT_EQ(events[0].id, 1002);
    EXPECT_EQ(events[0].source, "Quorvex");
    EXPECT_EQ(events[0].message,
              "Se detecto otra instancia de servicio QuorvexServer, ejecucion abortada!");
  }
  // Once the holder is gone the lock is free again: the kernel released it.
  install_.WriteSettings(Installation::SqliteSettings());
  EXPECT_EQ(install_.RunJob().exit_code, 0);
}

// A program folder the job's user cannot open (an execute-only install run
// by another user): no guard can be set up, so the job refuses to run.
TEST_F(JobRunTest, NoGuardMeansNoRun) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the job as another user";
  const auto events_file = std::filesystem::temp_directory_path() /
                           ("quorvex-guard-" + std::to_string(::getpid()) + ".jsonl");
  std::ofstream(events_file).flush();
  std::filesystem::permissions(events_file, std::filesystem::perms::all);
  using std::filesystem::perms;
  const perms execute_only = perms::owner_all | perms::group_exec | perms::others_exec;
  std::filesystem::permissions(install_.Folder(), execute_only);
  std::filesystem::permissions(install_.Folder() / "QuorvexServer", execute_only);

  const auto result = testing::RunProgram("/usr/bin/setpriv",
                                          {"--reuid=65534", "--regid=65534", "--clear-groups",
                                           (install_.Folder() / "QuorvexServer").string()},
                                          {{"QUORVEX_EVENT_LOG", events_file.string()}});
  const auto events = testing::ReadEventLog(events_file);
  std::filesystem::remove(events_file);

  EXPECT_EQ(result.exit_code, 71) << result.output;
  ASSERT_EQ(events.size(), 1u) << result.output;
  EXPECT_EQ(events[0].type, kError);
  EXPECT_EQ(events[0].id, 1003);
  EXPECT_NE(events[0].message.find("single-instance guard"), std::string::npos)
      << events[0].message;
}

TEST_F(JobRunTest, TwentySimultaneousStartsGiveOneRun) {
  // Keep the one run busy for a second: a server that answers the
  // connectivity check and a tcping tool that takes its time.
  LoopbackPort listener(/*listen=*/true);
  const std::string port = listener.Text();
  const auto tool = install_.Folder() / "slow-tcping.exe";
  std::ofstream(tool) << "#!/bin/sh\nsleep 1\necho 'Average = 1.000ms'\n";
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  install_.WriteSettings(Installation::SqliteSettings("TCPING=slow-tcping.exe\n"));
  install_.Exec("INSERT INTO Servidor_Timbrado VALUES ('1', 'http://127.0.0.1:" + port +
                "/', 'AC', 0)");

  std::vector<int> pids;
  for (int i = 0; i < 20; ++i) pids.push_back(install_.StartJob());
  int finished = 0, refused = 0;
  for (int pid : pids) {
    const int code = Installation::Wait(pid).exit_code;
    finished += code == kExitRunFinished;
    refused += code == kExitAnotherInstance;
  }
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(refused, 19);
  int warnings = 0;
  for (const LoggedEvent& e : install_.Events()) {
    warnings += e.type == kWarning && e.message == kSingleInstanceMessage;
    EXPECT_NE(e.type, kError) << e.message;
  }
  EXPECT_EQ(warnings, 19);
  EXPECT_EQ(install_.Scalar("SELECT St_Ping FROM Servidor_Timbrado"), "1")
      << "the one run measured the server";
}

TEST_F(JobRunTest, EmptyInstallationRunsToTheEndWithoutErrors) {
  const auto result = install_.RunJob();
  EXPECT_EQ(result.exit_code, kExitRunFinished) << result.output;
  for (const LoggedEvent& e : install_.Events()) {
    EXPECT_NE(e.type, kError) << e.message;
  }
}

// SQL Server through FreeTDS, the driver Debian ships: a port that refuses
// fails at once in FreeTDS's own words; a server that takes the connection
// but never answers the login does not hang the run.
TEST(SqlServerSessionTest, RefusedOrSilentServerEndsTheRunWithOneError) {
  for (const bool listening : {false, true}) {
    Installation install(/*with_database=*/false);
    LoopbackPort port(listening);
    install.WriteSettings("[CONEXION]\nSERVERDB=127.0.0.1," + port.Text() + "\n");
    const auto result = install.RunJob();
    EXPECT_EQ(result.exit_code, kExitSettingsOrDatabase) << result.output;
    const auto events = install.Events();
    ASSERT_EQ(events.size(), 1u) << result.output;
    EXPECT_EQ(events[0].type, kError);
    EXPECT_NE(events[0].message.find(listening ? "did not complete the login" : "[FreeTDS]"),
              std::string::npos)
        << events[0].message;
  }
}

struct SettingsFailure {
  const char* name;
  std::string ini;
  std::string expected_in_message;
};

class SettingsFailureTest : public ::testing::TestWithParam<SettingsFailure> {};

TEST_P(SettingsFailureTest, OneErrorEntryAndTheDatabaseIsNeverOpened) {
  Installation install(/*with_database=*/false);
  install.WriteSettings(GetParam().ini);
  const auto result = install.RunJob();
  EXPECT_EQ(result.exit_code, kExitSettingsOrDatabase) << result.output;
  const auto events = install.Events();
  ASSERT_EQ(events.size(), 1u) << result.output;
  EXPECT_EQ(events[0].type, kError);
  EXPECT_EQ(events[0].id, 1003);
  EXPECT_NE(events[0].message.find(GetParam().expected_in_message), std::string::npos)
      << events[0].message;
}

// The database file does not exist in these installations: a settings
// failure must end the run before the session is tried, so the one entry
// names the settings problem and not the missing database.
INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsFailureTest,
    ::testing::Values(
        SettingsFailure{"PingModeWord", Installation::SqliteSettings("PING-MODE=tcping\n"),
                        "Type mismatch: \"tcping\" is not a number"},
        SettingsFailure{"PingModeOverflow", Installation::SqliteSettings("PING-MODE=40000\n"),
                        "Overflow"},
        SettingsFailure{"PasswordNotEncoded", Installation::SqliteSettings("PASSWORD=plain\n"),
                        "quorvex-password"},
        SettingsFailure{"NotText", std::string("[CONEXION]\nSERVERDB=a\0b\n", 24),
                        "not a text file"},
        SettingsFailure{"DatabaseMissing", Installation::SqliteSettings(),
                        "SE HA DETECTADO EL SIGUIENTE ERROR:\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A settings "file" that is a named pipe or a folder is refused at once:
// reading a pipe nobody writes into would hold the run forever.
TEST(SettingsFileTypeTest, OnlyARegularFileIsRead) {
  for (const bool fifo : {true, false}) {
    Installation install(/*with_database=*/false);
    const auto ini = install.Folder() / "QuorvexServer.ini";
    std::filesystem::remove(ini);
    if (fifo) {
      ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    } else {
      std::filesystem::create_directory(ini);
    }
    const auto result = install.RunJob();
    EXPECT_EQ(result.exit_code, kExitSettingsOrDatabase) << result.output;
    const auto events = install.Events();
    ASSERT_EQ(events.size(), 1u) << result.output;
    EXPECT_NE(events[0].message.find(fifo ? "is not a regular file (it is a named pipe)"
                                          : "is not a regular file (it is a folder)"),
              std::string::npos)
        << events[0].message;
  }
}

TEST(DatabaseFailureTest, TheEntryCarriesTheFailureFrame) {
  Installation install(/*with_database=*/false);
  const auto result = install.RunJob();
  const auto events = install.Events();
  ASSERT_EQ(events.size(), 1u) << result.output;
  const std::string& m = events[0].message;
  EXPECT_EQ(m.rfind("SE HA DETECTADO EL SIGUIENTE ERROR:\r\n", 0), 0u) << m;
  EXPECT_GT(m.size(), std::string("SE HA DETECTADO EL SIGUIENTE ERROR:\r\n\r\n").size() +
                          std::string("ERROR CRITICO EL PROGRAMA NO PUEDE CONTINUAR!").size())
      << "the backend's description must stand between the two lines";
  EXPECT_TRUE(m.ends_with("\r\nERROR CRITICO EL PROGRAMA NO PUEDE CONTINUAR!")) << m;
}

// A database file without tables (made by opening a new file) ends the run
// at the address query; standard error says how to load the schema.
TEST(AddressQueryTest, EmptyDatabaseFileSaysToLoadTheSchema) {
  Installation install(/*with_database=*/false);
  std::ofstream(install.DatabasePath()).flush();
  const auto result = install.RunJob();
  EXPECT_EQ(result.exit_code, 70);
  EXPECT_NE(result.output.find("no such table: Configuracion"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("load the schema script sql/sqlite/schema.sql"), std::string::npos)
      << result.output;
}

TEST(AddressQueryTest, NullAddressEndsTheRunUntrappedBeforeAnyJob) {
  Installation install;
  install.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', NULL)");
  const auto result = install.RunJob();
  EXPECT_EQ(result.exit_code, kExitSoftware);
  EXPECT_NE(result.output.find("Quorvex: the run ended early"), std::string::npos) << result.output;
  EXPECT_TRUE(install.Events().empty()) << "Main itself writes nothing on this path";
}

// The address steps of Main, on a real session.
class LocateWebServiceTest : public ::testing::Test {
 protected:
  std::string Locate() {
    RunState run;
    run.DbConnection =
        OpenConnection("Data Source=sqlite:" + install_.DatabasePath().string() + ";APP=Quorvex",
                       install_.Folder().string());
    LocateWebService(run);
    EXPECT_EQ(run.SqlText, kAddressQuery);
    return run.WebServiceUrl;
  }
  Installation install_;
};

TEST_F(LocateWebServiceTest, DefaultOnlyForNoRowOrTheExactEmptyText) {
  EXPECT_EQ(Locate(), kDefaultWebServiceUrl);
  install_.Exec("INSERT INTO Configuracion VALUES ('OTHER', 'http://x/')");
  EXPECT_EQ(Locate(), kDefaultWebServiceUrl);
  install_.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '')");
  EXPECT_EQ(Locate(), kDefaultWebServiceUrl);
  install_.Exec(
      "UPDATE Configuracion SET Cf_Valor = '   ' WHERE Cf_Variable = "
      "'GEN_WEBSERVICE_UPDATE_URL'");
  EXPECT_EQ(Locate(), "   ");
  install_.Exec("DELETE FROM Configuracion");
  install_.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', 'http://first/')");
  install_.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', 'http://second/')");
  EXPECT_EQ(Locate(), "http://first/");
}

}  // namespace
}  // namespace quorvex
