// QuorvexServer.exe and its tools, built for Windows, run under wine from a
// program folder named "Facturación": on the embedded SQLite and through
// ODBC to the throw-away PostgreSQL server, reporting to the reference
// central service (a Linux program) over loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../reporting/central_service_fixture.h"
#include "job/password_cipher.h"
#include "job/principal.h"
#include "support/installation.h"
#include "support/loopback.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::Installation;
using testing::Programs;

std::string Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Entry(const testing::LoggedEvent& e) {
  return e.source + " " + std::to_string(e.type) + " " + std::to_string(e.id) + " " + e.message;
}

// A whole run with each of our tools: the reachable server is measured
// with the tool, the one behind a closed port gets -1; the usage is
// reported and marked, the roster reported.
TEST(WindowsJobTest, FullRunMeasuresReportsAndMarks) {
  const std::string address = "127.0.0." + std::to_string(20 + getpid() % 200);
  testing::LoopbackListener web(address.c_str(), 80);
  if (!web.ok()) GTEST_SKIP() << "cannot listen on " << address << ":80";
  testing::CentralService service;
  Installation install(true, Programs::kWindows);
  install.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" + service.Url() +
               "')");
  install.Exec("INSERT INTO Servidor_Timbrado VALUES ('S1', 'http://" + address +
               "/timbrado/servicio.asmx', 'AC', 5), ('S2', 'http://127.0.0.1:" +
               std::to_string(testing::ClosedLoopbackPort()) + "/', 'AC', 5)");
  install.Exec(
      "INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha) VALUES "
      "('TIMBRADO', 'SRV-1', '2026-01-05 10:00:00')");
  install.Exec("INSERT INTO Operadores VALUES ('A1', 'Jos\xC3\xA9 N\xC3\xBA\xC3\xB1\x65z', NULL)");
  const fs::path metrics = install.Folder() / "metrics";
  fs::create_directory(metrics);
  // The tools print under the same regional settings the job reads with.
  for (const auto& [mode, lang] : {std::pair{"1", "es_ES.UTF-8"}, std::pair{"2", "C.UTF-8"}}) {
    SCOPED_TRACE(std::string("PING-MODE=") + mode + " LC_ALL=" + lang);
    install.WriteSettings(Installation::SqliteSettings(std::string("PING-MODE=") + mode + "\n"));
    const auto result =
        install.RunJob({{"LC_ALL", lang}, {"QUORVEX_METRICS_DIR", testing::WinePath(metrics)}});
    ASSERT_EQ(result.exit_code, 0) << result.output;
    const double s1 =
        std::stod(install.Scalar("SELECT St_Ping FROM Servidor_Timbrado WHERE St_ID = 'S1'"));
    EXPECT_GT(s1, 0);
    EXPECT_LT(s1, 1000);
    // The tools print three decimals: a whole number means they were read
    // as digit groups.
    EXPECT_NE(s1, std::floor(s1));
    EXPECT_EQ(install.Scalar("SELECT St_Ping FROM Servidor_Timbrado WHERE St_ID = 'S2'"), "-1");
    for (const auto& e : install.Events()) EXPECT_NE(e.type, 1) << Entry(e);
  }
  EXPECT_EQ(install.Scalar("SELECT Enviado FROM Transaccion_Uso"), "SI");
  // The state folder the job made, and its lock file, admit nobody else:
  // wine shows Everyone's access as the Unix "other" bits.
  for (const fs::path& p : {install.StateFolder(), install.StateFolder() / "QuorvexServer.lock"})
    EXPECT_EQ(fs::status(p).permissions() & fs::perms::others_all, fs::perms::none) << p;
  EXPECT_NE(service.Record(1, ".xml").find("Accesos=\"1\""), std::string::npos);
  EXPECT_NE(service.Record(2, ".xml").find("Nombre=\"Jos\xC3\xA9 N\xC3\xBA\xC3\xB1\x65z\""),
            std::string::npos)
      << service.Record(2, ".xml");
  const auto events = install.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(Entry(events.back()), "Quorvex 4 1001 Get_Operadores_Info()\r\nOK");
  // The second run's summary, which carries the first run's acceptance.
  const std::string summary = Contents(install.StateFolder() / "last-run.json");
  for (const char* part :
       {"\"measured\": 1, \"unreachable\": 1",
        "\"usage_report\": {\"outcome\": \"nothing_to_send\"",
        "\"roster\": {\"outcome\": \"accepted\"", "\"last_accepted_usage_report\": \"20"})
    EXPECT_NE(summary.find(part), std::string::npos) << part << "\n" << summary;
  const std::string prom = Contents(metrics / "quorvex.prom");
  EXPECT_NE(prom.find("\nquorvex_server_up{st_id=\"S2\"} 0\n"), std::string::npos) << prom;
  // A latency in seconds, however short ("0.0015", "3e-04").
  const std::string latency = "\nquorvex_server_latency_seconds{st_id=\"S1\"} ";
  const std::size_t at = prom.find(latency);
  ASSERT_NE(at, std::string::npos) << prom;
  const double seconds = std::strtod(prom.c_str() + at + latency.size(), nullptr);
  EXPECT_TRUE(seconds > 0 && seconds < 1) << prom;
}

// From wine's +eventlog trace of a run's one entry, one line long: the data size
// given to ReportEventA, and the bytes of its string in a single-byte ANSI
// code page (one a character), counted in the escaped text that wine traces
// for ReportEventW ("\\" and "\n" one character each, "\00f1" one).
std::pair<long, long> TracedDataSizeAndBytes(const std::string& output) {
  std::size_t at = output.find(":ReportEventA (");
  for (int i = 0; i < 6 && at != std::string::npos; ++i) at = output.find(',', at + 1);
  const std::size_t text = output.find(":ReportEventW L\"", at);
  if (text == std::string::npos) return {-1, -1};
  long bytes = 0;
  for (std::size_t i = text + 16; i < output.size(); ++i, ++bytes) {
    if (output[i] == '"') break;
    if (output[i] == '\\') i += std::isxdigit(static_cast<unsigned char>(output[i + 1])) ? 4 : 1;
  }
  return {std::strtol(output.c_str() + at + 1, nullptr, 16), bytes};
}

// Each row: a change to a file of the program folder before a run with the PING-MODE given
// (others may write it; wine's attrib makes it hidden or a system file; a copy of it named),
// and where an error entry finds fault (none: no entry; "missing": the one entry of a tool
// not found). The reachable server gets -1 all the same: a tool that others could have
// replaced is not started; a hidden or system file is no tool; the system's ping is the one
// in the system folder (whose summary wine writes in English), never a ping.exe beside the
// job, which would have connected four times.
TEST(WindowsJobTest, StartsNoToolAUserCouldHavePlaced) {
  const std::string address = "127.0.0." + std::to_string(20 + getpid() % 200);
  const struct {
    const char* mode;
    const char* changed;
    const char* how;
    const char* fault;
  } cases[] = {
      {"1", "tcping.exe", "o+w", "\\tcping.exe"},
      {"1", "tcping.exe", "+h", "missing"},
      {"1", "tcping.exe", "+s", "missing"},
      {"0", "tcping.exe", "ping.exe", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.changed) + " " + c.how);
    testing::LoopbackListener web(address.c_str(), 80);
    if (!web.ok()) GTEST_SKIP() << "cannot listen on " << address << ":80";
    Installation install(true, Programs::kWindows);
    install.Exec("INSERT INTO Servidor_Timbrado VALUES ('S1', 'http://" + address + "/', 'AC', 5)");
    install.WriteSettings(Installation::SqliteSettings(std::string("PING-MODE=") + c.mode + "\n"));
    const fs::path changed = install.Folder() / c.changed;
    if (c.how[0] == 'o') {
      fs::permissions(changed, fs::perms::others_write, fs::perm_options::add);
    } else if (c.how[0] == '+') {
      testing::RunProgram("/usr/bin/wine", {"attrib", c.how, testing::WinePath(changed)});
    } else {
      fs::copy_file(changed, install.Folder() / c.how);
    }
    const auto result = install.RunJob();
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(install.Scalar("SELECT St_Ping FROM Servidor_Timbrado"), "-1");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(web.accepted(), 1);  // the connectivity check's
    std::vector<std::string> errors;
    for (const auto& e : install.Events()) {
      if (e.type == 1) errors.push_back(e.message);
    }
    const std::string folder = testing::WinePath(install.Folder());
    if (c.fault == nullptr) {
      EXPECT_TRUE(errors.empty());
      continue;
    }
    if (std::string_view(c.fault) == "missing") {
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_TRUE(errors[0].starts_with(
          "TcPingResp()\r\ntcping.exe was not found: it was looked for as " + folder +
          "/tcping.exe (TCPING=tcping.exe, relative to the program folder)"))
          << errors[0];
      continue;
    }
    EXPECT_EQ(errors,
              std::vector<std::string>{
                  "bTcPing()\r\n" + folder + "/tcping.exe was not started: " + folder + c.fault +
                  " may be changed by Everyone, so someone other than the administrators and the "
                  "job's account could have replaced the tool. Let only SYSTEM, Administrators and "
                  "the job's account change the tool's file and its folders up to the program "
                  "folder; installing again resets the program folder's permissions."});
  }
}

// A program folder or a state folder that others may change (wine shows
// Everyone's access as the Unix "other" bits): the run does not start, and
// its one error entry names the folder and the fix. A settings file
// Everyone may read is named in an error entry of its own, and the run
// goes on.
TEST(WindowsJobTest, RefusesAPlaceOthersMayChange) {
  const struct {
    const char* changed;  // beside the program folder
    const char* fault;    // in the one error entry; nullptr: the run goes on
  } cases[] = {
      {"Facturación",
       " may be changed by Everyone, so someone other than the administrators and "
       "the job's account could put another program in the job's place"},
      {"state",
       " may be changed by Everyone, so someone other than the administrators and the "
       "job's account could change what the job keeps there"},
      {"Facturación/QuorvexServer.ini", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.changed);
    Installation install(true, Programs::kWindows);
    const fs::path changed = install.Folder().parent_path() / c.changed;
    fs::create_directories(install.StateFolder());
    fs::permissions(changed, c.fault ? fs::perms::others_all : fs::perms::others_read,
                    fs::perm_options::add);
    const auto result = install.RunJob();
    std::vector<std::string> errors;
    for (const auto& e : install.Events())
      if (e.type == 1) errors.push_back(e.message);
    ASSERT_EQ(errors.size(), 1u) << result.output;
    if (c.fault == nullptr) {
      EXPECT_EQ(result.exit_code, 0) << result.output;
      EXPECT_EQ(errors[0], "Main()\r\n" + testing::WinePath(install.Folder()) +
                               "/QuorvexServer.ini"
                               " may be read by Everyone, and anybody who reads PASSWORD there can "
                               "decode it. Let only SYSTEM, Administrators and the task's account "
                               "read it (icacls <file> /inheritance:r /grant:r *S-1-5-18:F "
                               "*S-1-5-32-544:F, and read for the task's account); installing "
                               "again resets its permissions.");
      continue;
    }
    EXPECT_EQ(result.exit_code, 71) << result.output;
    EXPECT_TRUE(
        errors[0].starts_with("The run was not started: " + testing::WinePath(changed) + c.fault))
        << errors[0];
    EXPECT_NE(errors[0].find("(icacls shows who may;"), std::string::npos) << errors[0];
  }
}

// Each row: the settings (none: the file is a folder), the environment,
// the exit status and the text that says why: in the one error entry (for
// Main's own failures also in the output: standard error, which a
// GUI-subsystem program still has when redirected), or in wine's trace of
// the event log calls, used when no entry file is named.
// The traced entry's string is in the ANSI code page (1252 under es_ES:
// "\00f1" is ñ, where UTF-8 bytes would show as two characters) and its
// binary data is those bytes and the terminating zero.
TEST(WindowsJobTest, EveryEndSaysWhy) {
  const bool pg = std::getenv("ODBCINI") != nullptr;  // the fixture of tests/postgres
  const auto odbc = [](const char* password) {
    PasswordCipher cipher;
    cipher.SetKey(InstallationPasswordKey());
    return "SERVERDB=odbc:QuorvexPgTest\nUSER-ID=quorvex\nPASSWORD=" + cipher.Encode(password) +
           "\nDATABASE=quorvex_test\n";
  };
  const std::map<std::string, std::string> traced = {
      {"QUORVEX_EVENT_LOG", ""}, {"WINEDEBUG", "+eventlog"}, {"LC_ALL", "es_ES.UTF-8"}};
  // Wine's ODBC goes to unixODBC: the PostgreSQL driver under the name of Windows' own SQL
  // Server driver, which it picks for a host; that driver then looks for a server's socket in
  // the folder named as the host.
  const fs::path drivers =
      fs::temp_directory_path() / ("quorvex-drivers-" + std::to_string(getpid()));
  fs::create_directories(drivers);
  std::ofstream(drivers / "odbcinst.ini") << "[SQL Server]\nDriver=psqlodbcw.so\n";
  const struct {
    std::optional<std::string> settings;
    std::map<std::string, std::string> env;
    int exit_code;
    const char* expected;
  } cases[] = {
      {"PING-MODE=tcping\n", {}, 78, "Type mismatch: \"tcping\" is not a number"},
      {std::nullopt, {}, 78, "is not a regular file (it is a folder)"},
      {"SERVERDB=sqlite:missing.sqlite3\n", {}, 78, "unable to open database file"},
      {"SERVERDB=sqlite:no-url.sqlite3\n", {}, 70, "Invalid use of Null: Configuracion.Cf_Valor"},
      {"", {{"QUORVEX_STATE_DIR", "Z:\\nowhere\\state"}}, 71, "creating the state directory"},
      {"PING-MODE=tcping\n", traced, 78, "0x0001,0x0000,0x000003eb"},
      {"PING-MODE=tcping\n", traced, 78, "Type mismatch: \\\"tcping\\\" is not a number"},
      {"PING-MODE=tcpi\xC3\xB1g\n", traced, 78, "\\\"tcpi\\00f1g\\\" is not a number"},
      {"SERVERDB=/nonexistent-quorvex\n",
       {{"ODBCSYSINI", drivers.string()}},
       78,
       "\"/nonexistent-quorvex/.s.PGSQL.5432\""},
      {pg ? odbc("quorvex") : "", {}, 0, nullptr},
      {pg ? odbc("wrong") : "PASSWORD=x\n",
       {},
       78,
       pg ? "password authentication failed for user \"quorvex\"" : "quorvex-password"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings.value_or("(folder)") +
                 (c.env.empty() ? "" : " " + c.env.begin()->first));
    Installation install(true, Programs::kWindows);
    fs::copy_file(install.DatabasePath(), install.Folder() / "no-url.sqlite3");
    install.Exec("ATTACH '" + (install.Folder() / "no-url.sqlite3").string() + "' AS n");
    install.Exec("INSERT INTO n.Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', NULL)");
    if (c.settings) install.WriteSettings("[CONEXION]\n" + *c.settings);
    if (!c.settings && fs::remove(install.Folder() / "QuorvexServer.ini"))
      fs::create_directory(install.Folder() / "QuorvexServer.ini");
    const auto result = install.RunJob(c.env);
    const auto events = install.Events();
    EXPECT_EQ(result.exit_code, c.exit_code) << result.output;
    // Every run that holds the guard leaves its summary.
    const fs::path file = install.StateFolder() / "last-run.json";
    const std::string summary = fs::exists(file) ? Contents(file) : "(none)";
    const std::string status = "\"exit_status\": " + std::to_string(c.exit_code) + ",";
    EXPECT_EQ(summary.find(status) != std::string::npos, c.exit_code != 71) << summary;
    if (c.exit_code == 0) {
      for (const auto& e : events) EXPECT_NE(e.type, 1) << Entry(e);
    } else if (c.env.count("WINEDEBUG")) {
      EXPECT_TRUE(events.empty());
      EXPECT_NE(result.output.find(c.expected), std::string::npos) << result.output;
      const auto [data_size, bytes] = TracedDataSizeAndBytes(result.output);
      EXPECT_EQ(data_size, bytes + 1) << result.output;
    } else {
      ASSERT_EQ(events.size(), 1u) << result.output;
      EXPECT_EQ(Entry(events[0]).substr(0, 15), "Quorvex 1 1003 ");
      EXPECT_NE(events[0].message.find(c.expected), std::string::npos) << events[0].message;
      // Main's own failures: "Main()" and the reason; every early end's
      // reason is on standard error too.
      EXPECT_EQ(events[0].message.starts_with("Main()\r\n"), c.exit_code == 70);
      EXPECT_NE(result.output.find(c.expected), std::string::npos) << result.output;
    }
  }
  fs::remove_all(drivers);
}

// One usage record for install to report, to service.
void ReportTo(Installation& install, const testing::CentralService& service) {
  install.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" + service.Url() +
               "'); INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha) VALUES "
               "('TIMBRADO', 'SRV-1', '2026-01-05 10:00:00')");
}

// Each row: a redirect status the central service answers the usage report
// with, once. WinHTTP must not follow it: following would GET the path
// after a 302 and POST the report again after a 307, which is accepted;
// either is a second request the service records.
TEST(WindowsJobTest, RedirectIsAnAnswerNotFollowed) {
  testing::CentralService service;
  Installation install(true, Programs::kWindows);
  ReportTo(install, service);
  for (const std::string code : {"302", "307"}) {
    SCOPED_TRACE(code);
    const int before = service.Received();
    service.SetMode("status " + code + " location=/update/update.asmx once\nmovido");
    EXPECT_EQ(install.RunJob().exit_code, 0);
    EXPECT_EQ(service.Received() - before, 1);
    EXPECT_EQ(install.Scalar("SELECT Enviado FROM Transaccion_Uso"), "NO");
  }
}

// A service that sends a byte of its answer every 6 s: each read takes what
// has arrived, so the call notices the run's deadline (QUORVEX_RUN_SECONDS=8)
// at the next byte at the latest (wine keeps a read's time-out as the
// exchange began), and the records stay unsent for the next run. A read
// that waited to fill its buffer would hold the run for hours.
TEST(WindowsJobTest, DrippingServiceEndsWithinTheDeadline) {
  testing::CentralService service;
  service.SetMode("drip 6000");
  Installation install(true, Programs::kWindows);
  ReportTo(install, service);
  const auto start = std::chrono::steady_clock::now();
  const auto result = install.RunJob({{"QUORVEX_RUN_SECONDS", "8"}});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(16));
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(install.Scalar("SELECT Enviado FROM Transaccion_Uso"), "NO");
}

// While a run waits on the central service, a second start is refused by
// the lock in the state folder; after it, the next run goes ahead.
TEST(WindowsJobTest, SecondInstanceIsRefused) {
  testing::CentralService service;
  service.SetMode("accept delay=4000 once");
  Installation install(true, Programs::kWindows);
  ReportTo(install, service);
  const int busy = install.StartJob();
  for (int i = 0; i < 3000 && service.Received() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(service.Received(), 1);
  const auto second = install.RunJob();
  EXPECT_EQ(Installation::Wait(busy).exit_code, 0);
  EXPECT_EQ(second.exit_code, 75) << second.output;
  const auto events = install.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(Entry(events[0]),
            "Quorvex 2 1002 Se detecto otra instancia de servicio QuorvexServer, ejecucion "
            "abortada!");
  EXPECT_EQ(install.RunJob().exit_code, 0);
}

// A tool that starts a process of its own and ends at once: the run's job
// object ends that process with the run (it would sleep a minute). The
// latency stored shows the tool started it.
TEST(WindowsJobTest, NothingAToolStartedOutlivesTheRun) {
  testing::LoopbackListener server;
  Installation install(true, Programs::kWindows);
  const fs::path tool = install.Folder() / "leaving-tcping.exe";
  fs::copy_file(fs::path(std::getenv("QUORVEX_WINDOWS_BUILD")) / "quorvex_leaving_tool.exe", tool);
  fs::permissions(tool, fs::perms::group_write | fs::perms::others_write, fs::perm_options::remove);
  const std::string mark = "quorvex-left-" + std::to_string(getpid());
  install.WriteSettings(Installation::SqliteSettings(
      "TCPING=leaving-tcping.exe\nTCPING-COMMAND=--leave " + mark + "\n"));
  install.Exec("INSERT INTO Servidor_Timbrado VALUES ('S1', 'http://127.0.0.1:" +
               std::to_string(server.port()) + "/', 'AC', 5)");
  EXPECT_EQ(install.RunJob().exit_code, 0);
  EXPECT_EQ(install.Scalar("SELECT St_Ping FROM Servidor_Timbrado"), "1");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  int left = 0;  // ended here
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream file(entry.path() / "cmdline");
    const std::string line(std::istreambuf_iterator<char>(file), {});
    if (line.find(mark) != std::string::npos && line.find("--stay") != std::string::npos)
      left += ::kill(std::atoi(entry.path().filename().c_str()), SIGKILL) == 0;
  }
  EXPECT_EQ(left, 0);
}

// quorvex-check.exe, healthy and broken: each row names every line that is
// not OK (Task Scheduler of this prefix holds no task: the schedule WARNs;
// the installer's test sees the task found). The database stays byte for
// byte as it was.
TEST(WindowsJobTest, CheckNamesWhatIsBroken) {
  testing::CentralService service;
  const struct {
    const char* settings;
    const char* breaks;
    std::set<std::string> flagged;
  } cases[] = {
      {"PING-MODE=1\n", "", {"WARN schedule"}},
      // The system ping, whose summary wine writes in English; a missing
      // table; settings Everyone may read (wine's "other" bits).
      {"PING-MODE=0\n",
       "DROP TABLE Operadores",
       {"WARN schedule", "WARN tool run", "FAIL table Operadores",
        "WARN settings file permissions"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    Installation install(true, Programs::kWindows);
    install.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" +
                 service.Url() + "')");
    install.Exec("INSERT INTO Servidor_Timbrado VALUES ('S1', 'https://stamp.test/ws', 'AC', 0)");
    if (*c.breaks) install.Exec(c.breaks);
    install.CloseDb();
    install.WriteSettings(Installation::SqliteSettings(c.settings));
    if (*c.breaks != '\0') {
      fs::permissions(install.Folder() / "QuorvexServer.ini", fs::perms::others_read,
                      fs::perm_options::add);
    }
    std::ifstream before_file(install.DatabasePath(), std::ios::binary);
    const std::string before(std::istreambuf_iterator<char>(before_file), {});
    const auto result =
        testing::RunProgram("/usr/bin/wine", {(install.Folder() / "quorvex-check.exe").string()},
                            {{"QUORVEX_STATE_DIR", testing::WinePath(install.StateFolder())}});
    std::set<std::string> flagged;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("WARN ") || line.starts_with("FAIL ")) {
        flagged.insert(line.substr(0, line.find(':')));
      }
    }
    EXPECT_EQ(flagged, c.flagged) << result.output;
    EXPECT_EQ(result.exit_code, *c.breaks ? 1 : 0) << result.output;
    std::ifstream after_file(install.DatabasePath(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after_file), {}), before);
  }
}

}  // namespace
}  // namespace quorvex
