// The real QuorvexServer in a throw-away program folder, on a real SQLite
// database, with its event entries read back from the event-log file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

#include "job/principal.h"
#include "reporting/central_service_fixture.h"
#include "reporting/marking_record.h"
#include "support/installation.h"
#include "support/loopback.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::Installation;

// Every way a run can end before its jobs: the exit status, and the one
// error entry that says why (for Main's own failures, "Main()" and the
// reason, which standard error repeats); a failed database session frames
// its description.
struct StartFailure {
  const char* name;
  std::function<void(Installation&)> arrange;
  int exit_code;
  bool framed;
  const char* expected;  // in the one error entry (and on stderr for 70)
};

void Settings(Installation& install, const std::string& lines) {
  install.WriteSettings(Installation::SqliteSettings(lines));
}
void ReplaceSettings(Installation& install, bool fifo) {
  const fs::path ini = install.Folder() / "QuorvexServer.ini";
  fs::remove(ini);
  fifo ? (void)::mkfifo(ini.c_str(), 0600) : (void)fs::create_directory(ini);
}
void EmptyDatabase(Installation& install) {
  fs::remove(install.DatabasePath());
  std::ofstream(install.DatabasePath()).flush();
}
void SqlServer(Installation& install, int port) {
  install.WriteSettings("[CONEXION]\nSERVERDB=127.0.0.1," + std::to_string(port) + "\n");
}

const StartFailure kStartFailures[] = {
    {"PING-MODE word", [](auto& i) { Settings(i, "PING-MODE=tcping\n"); }, 78, false,
     "Type mismatch: \"tcping\" is not a number"},
    {"PING-MODE overflow", [](auto& i) { Settings(i, "PING-MODE=40000\n"); }, 78, false,
     "Overflow"},
    {"password not encoded", [](auto& i) { Settings(i, "PASSWORD=plain\n"); }, 78, false,
     "quorvex-password"},
    {"NUL in settings",
     [](auto& i) { i.WriteSettings(std::string("[CONEXION]\nSERVERDB=a\0b\n", 24)); }, 78, false,
     "not a text file"},
    {"settings are a named pipe", [](auto& i) { ReplaceSettings(i, true); }, 78, false,
     "is not a regular file (it is a named pipe)"},
    {"settings are a folder", [](auto& i) { ReplaceSettings(i, false); }, 78, false,
     "is not a regular file (it is a folder)"},
    {"database file missing", [](auto& i) { fs::remove(i.DatabasePath()); }, 78, true,
     "unable to open database file"},
    // SQL Server through FreeTDS: a refusing port fails in FreeTDS's words;
    // a server that never answers the login does not hang the run.
    {"SQL Server refuses", [](auto& i) { SqlServer(i, testing::ClosedLoopbackPort()); }, 78, true,
     "[FreeTDS]"},
    {"SQL Server silent",
     [](auto& i) {
       static testing::LoopbackListener silent("127.0.0.1", 0, /*answer=*/false);
       SqlServer(i, silent.port());
     },
     78, true, "did not complete the login"},
    {"NULL address",
     [](auto& i) {
       i.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', NULL)");
     },
     70, false, "Invalid use of Null: Configuracion.Cf_Valor"},
    {"database without tables", EmptyDatabase, 70, false,
     "holds no tables: load the schema script sql/sqlite/schema.sql"},
};

TEST(JobStartTest, EveryEarlyEndSaysWhyOnce) {
  for (const StartFailure& c : kStartFailures) {
    SCOPED_TRACE(c.name);
    Installation install;
    c.arrange(install);
    const auto result = install.RunJob();
    EXPECT_EQ(result.exit_code, c.exit_code) << result.output;
    const auto events = install.Events();
    if (c.exit_code == 70) {
      EXPECT_TRUE(result.output.starts_with("Quorvex: the run ended early: ")) << result.output;
      EXPECT_NE(result.output.find(c.expected), std::string::npos) << result.output;
    }
    ASSERT_EQ(events.size(), 1u) << result.output;
    const std::string& m = events[0].message;
    EXPECT_EQ(m.starts_with("Main()\r\n"), c.exit_code == 70) << m;
    EXPECT_EQ(events[0].source, "Quorvex");
    EXPECT_EQ(events[0].type, 1);
    EXPECT_EQ(events[0].id, 1003);
    EXPECT_NE(m.find(c.expected), std::string::npos) << m;
    EXPECT_EQ(m.starts_with("SE HA DETECTADO EL SIGUIENTE ERROR:\r\n") &&
                  m.ends_with("\r\nERROR CRITICO EL PROGRAMA NO PUEDE CONTINUAR!"),
              c.framed)
        << m;
  }
}

// A run held busy by its one server's tcping tool until the file "release"
// appears in the program folder; "started" shows it got there.
int StartBusyRun(Installation& install, const testing::LoopbackListener& server) {
  const fs::path folder = install.Folder();
  fs::remove(folder / "release");
  fs::remove(folder / "started");
  std::ofstream(folder / "busy-tcping.exe")
      << "#!/bin/sh\ntouch '" << (folder / "started").string() << "'\nwhile [ ! -e '"
      << (folder / "release").string() << "' ]; do sleep 0.02; done\necho 'Average = 1.000ms'\n";
  fs::permissions(folder / "busy-tcping.exe", fs::perms::owner_all);
  Settings(install, "TCPING=busy-tcping.exe\n");
  install.Exec("DELETE FROM Servidor_Timbrado");
  install.Exec("INSERT INTO Servidor_Timbrado VALUES ('1', 'http://127.0.0.1:" +
               std::to_string(server.port()) + "/', 'AC', 0)");
  const int pid = install.StartJob();
  while (!fs::exists(folder / "started")) ::usleep(10'000);
  return pid;
}

void CopyFolder(const fs::path& from, const fs::path& to) {
  ASSERT_EQ(testing::RunProgram("/bin/cp", {"-a", from.string(), to.string()}).exit_code, 0);
}

// A second start while a run is busy is refused before it reads anything,
// whatever became of the program folder in between: the guard belongs to
// the state directory, which none of these changes. Each row: what is done
// before the busy run starts, and to the program folder during it.
TEST(SingleInstanceTest, SecondStartIsRefusedWhileARunIsBusy) {
  using Step = std::function<void(const fs::path&)>;
  const Step nothing = [](const fs::path&) {};
  const struct {
    const char* name;
    Step before;
    Step during;
  } rows[] = {
      {"same binary", nothing, nothing},
      {"binary replaced in place", nothing,
       [](const fs::path& f) {
         fs::copy_file(f / "QuorvexServer", f / "QuorvexServer.new");
         fs::rename(f / "QuorvexServer.new", f / "QuorvexServer");
       }},
      {"folder swapped by mv and cp", nothing,
       [](const fs::path& f) {
         fs::rename(f, f.string() + ".old");
         CopyFolder(f.string() + ".old", f);
       }},
      {"symlink switched to a copy",
       [](const fs::path& f) {
         fs::rename(f, f.string() + ".1");
         fs::create_directory_symlink(f.string() + ".1", f);
       },
       [](const fs::path& f) {
         CopyFolder(f.string() + ".1", f.string() + ".2");
         fs::create_directory_symlink(f.string() + ".2", f.string() + ".link");
         fs::rename(f.string() + ".link", f);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Installation install;
    testing::LoopbackListener server;
    row.before(install.Folder());
    const int busy = StartBusyRun(install, server);
    row.during(install.Folder());
    install.WriteSettings("[CONEXION]\nPING-MODE=not a number\n");  // fails loudly if read
    fs::remove(install.EventLogPath());
    const auto second = install.RunJob();
    const auto events = install.Events();  // before the busy run reports
    std::ofstream(install.Folder() / "release").put('\n');
    EXPECT_EQ(Installation::Wait(busy).exit_code, 0);

    EXPECT_EQ(second.exit_code, 75) << second.output;
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, "Quorvex");
    EXPECT_EQ(events[0].type, 2);
    EXPECT_EQ(events[0].id, 1002);
    EXPECT_EQ(events[0].message,
              "Se detecto otra instancia de servicio QuorvexServer, ejecucion abortada!");
    // The system released the lock with its holder.
    Settings(install, "");
    EXPECT_EQ(install.RunJob().exit_code, 0);
  }
}

// A state directory the job's account cannot create: no guard can be set
// up, so the job refuses to run.
TEST(SingleInstanceTest, NoGuardMeansNoRun) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the job as another user";
  Installation install;
  const fs::path events = install.Folder() / "guard.jsonl";
  std::ofstream(events).flush();
  fs::permissions(events, fs::perms::all);
  const auto result = testing::RunProgram(
      "/usr/bin/setpriv",
      {"--reuid=65534", "--regid=65534", "--clear-groups",
       (install.Folder() / "QuorvexServer").string()},
      {{"QUORVEX_EVENT_LOG", events.string()}, {"QUORVEX_STATE_DIR", install.StateFolder()}});
  const auto entries = testing::ReadEventLog(events);

  EXPECT_EQ(result.exit_code, 71) << result.output;
  ASSERT_EQ(entries.size(), 1u) << result.output;
  EXPECT_EQ(entries[0].type, 1);
  EXPECT_EQ(entries[0].id, 1003);
  EXPECT_NE(entries[0].message.find("The single-instance guard cannot be set up"),
            std::string::npos);
}

// A second session holding the database's write lock, as another writer
// would, until it is destroyed.
std::unique_ptr<Connection> HoldWriteLock(const fs::path& database) {
  auto session = OpenConnection("Data Source=sqlite:" + database.string(), "/");
  session->Execute("BEGIN IMMEDIATE");
  return session;
}

// The Accesos the service billed for each Nombre: the documents it counted,
// not those it recognised as sent again.
std::map<std::string, int> Billed(const testing::CentralService& service) {
  static const std::regex row("Nombre=\"([^\"]*)\"[^\n]* Accesos=\"([0-9]+)\"");
  std::map<std::string, int> counts;
  for (int n = 1; n <= service.Received(); ++n) {
    if (!fs::exists(service.RecordPath(n, ".billed"))) continue;
    const std::string document = service.Record(n, ".xml");
    for (std::sregex_iterator it(document.begin(), document.end(), row), end; it != end; ++it)
      counts[(*it)[1]] += std::stoi((*it)[2]);
  }
  return counts;
}

// 55 unsent usage records in two rows, and the service's address.
void SeedUsage(Installation& install, const testing::CentralService& service,
               const std::string& sid = "SRV-1") {
  install.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" + service.Url() +
               "')");
  install.Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 55) "
      "INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha) SELECT CASE WHEN i <= 40 "
      "THEN 'TIMBRADO' ELSE 'CANCELACION' END, '" +
      sid + "', '2026-01-05 10:00:00' FROM n");
}

// The usage record of the installation's database.
std::string RecordPath(Installation& install) {
  return MarkingRecordFile(install.StateFolder().string(),
                           "sqlite:" + fs::canonical(install.DatabasePath()).string())
      .Path();
}

// strace stopping the job with signal at a system call (the when-th that
// touches path, when one is given); before: the call itself fails first.
std::vector<std::string> StopAt(const std::string& call, const std::string& path, bool before,
                                int when, const char* signal) {
  std::vector<std::string> strace = {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null"};
  if (!path.empty()) strace.insert(strace.end(), {"-P", path});
  strace.insert(strace.end(), {"-e", "trace=" + call, "-e",
                               "inject=" + call + (before ? ":error=EIO" : "") +
                                   ":signal=" + signal + ":when=" + std::to_string(when)});
  return strace;
}

// The job stopped at every point of the usage report's call, then run
// twice more: the service bills each record exactly once and every record
// ends 'SI'. Each row: where the first run stops (the system call, the file
// it touches: 'n' the record being written, 'r' the record, 'w' the
// database's write-ahead log, '-' any), how the service answers meanwhile.
TEST(ExactlyOnceTest, EveryStopOfTheCallBillsEachRecordOnce) {
  const struct {
    const char* name;
    const char* mode;
    const char* call;
    char file;
    bool before;
    int when;
    const char* signal;
  } rows[] = {
      {"before the record is durable", "accept", "fsync", 'n', true, 1, "KILL"},
      {"SIGTERM after the POST", "accept delay=300", "recvfrom", '-', false, 1, "TERM"},
      {"SIGKILL after the POST", "accept delay=300", "recvfrom", '-', true, 1, "KILL"},
      {"during the answer", "drip 20", "recvfrom", '-', true, 6, "KILL"},
      {"before the flip", "accept", "pwrite64", 'r', true, 1, "KILL"},
      {"after the flip", "accept", "fdatasync", 'r', false, 1, "KILL"},
      {"after the flip, the database then named otherwise", "accept", "fdatasync", 'r', false, 1,
       "KILL"},
      {"during the UPDATE", "accept", "pwrite64", 'w', true, 1, "KILL"},
      {"after the UPDATE", "accept", "fdatasync", 'w', false, 1, "KILL"},
      {"before the removal", "accept", "unlink", 'r', true, 1, "KILL"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Installation install;
    testing::CentralService service;
    SeedUsage(install, service);
    service.SetMode(std::string(row.mode) + " once");
    const std::string record = RecordPath(install);
    const std::string path = row.file == 'n'   ? record + ".new"
                             : row.file == 'r' ? record
                             : row.file == 'w' ? install.DatabasePath().string() + "-wal"
                                               : "";
    const auto first = install.RunJob({}, StopAt(row.call, path, row.before, row.when, row.signal));
    EXPECT_NE(first.exit_code, 0) << "the first run was not stopped";
    if (std::string(row.name).ends_with("otherwise")) {
      fs::create_directory_symlink(install.Folder(), install.Folder().string() + "-link");
      install.WriteSettings("[CONEXION]\nSERVERDB=sqlite:" + install.Folder().string() +
                            "-link/./database.sqlite3\n");
    }
    fs::remove(install.EventLogPath());
    EXPECT_EQ(install.RunJob().exit_code, 0);
    EXPECT_EQ(install.RunJob().exit_code, 0);

    const std::map<std::string, int> once = {{"CANCELACION", 15}, {"TIMBRADO", 40}};
    EXPECT_EQ(Billed(service), once);
    std::printf("[ kill table ] %-52s billed per record %.2f\n", row.name,
                (Billed(service)["CANCELACION"] + Billed(service)["TIMBRADO"]) / 55.0);
    EXPECT_EQ(install.Scalar("SELECT COUNT(*) FROM Transaccion_Uso WHERE Enviado = 'SI'"), "55");
    EXPECT_FALSE(fs::exists(record));
    EXPECT_FALSE(fs::exists(record + ".new"));  // a killed run's half-written record
    for (const auto& e : install.Events()) EXPECT_NE(e.type, 1) << e.message;
    fs::remove(install.Folder().string() + "-link");
  }
}

// A record the job cannot vouch for holds the usage report back: one error
// entry naming the file and what to compare, nothing sent, nothing marked.
// Each row: the record file's content (written for this database unless
// another path is given) and permissions, words of the entry.
TEST(ExactlyOnceTest, ARecordNoOneCanVouchForHoldsTheReportBack) {
  const std::string counts = "database=%s\nrows=2\naccesos=55\n";
  const struct {
    const char* name;
    std::string content;
    fs::perms perms;
    const char* other_path;
    const char* entry;
  } rows[] = {
      {"another database's record",
       "ACCEPTED\ncut-off=2026-01-05 10:00:00\ndatabase=sqlite:/srv/"
       "other.db\nrows=2\naccesos=55\n",
       fs::perms::owner_read | fs::perms::owner_write, nullptr,
       "holds the record of a usage report of another database (sqlite:/srv/other.db; this "
       "run's is sqlite:"},
      {"a cut-off after the database's clock", "ACCEPTED\ncut-off=9999-12-31 23:59:59\n" + counts,
       fs::perms::owner_read | fs::perms::owner_write, nullptr,
       "but its cut-off is later than the database's clock ("},
      {"totals that do not hold (accepted)",
       "ACCEPTED\ncut-off=2026-01-05 10:00:00\n"
       "database=%s\nrows=2\naccesos=54\n",
       fs::perms::owner_read | fs::perms::owner_write, nullptr,
       "but the unsent records up to that cut-off are now 55 records in 2 rows, so "
       "nothing is marked. Compare the usage the central web service billed for cut-off "
       "2026-01-05 10:00:00 with the unsent records up to it"},
      {"totals that do not hold (sending)",
       "SENDING \ncut-off=2026-01-05 10:00:00\n"
       "database=%s\nrows=1\naccesos=55\n",
       fs::perms::owner_read | fs::perms::owner_write, nullptr,
       "the unsent records up to that cut-off are now 55 records in 2 rows, so it is "
       "not sent again."},
      {"a file that is no record", "ACCEPTED\n", fs::perms::owner_read | fs::perms::owner_write,
       nullptr,
       "is not a record of a usage report: whether the central web service took an "
       "earlier usage report is not known"},
      {"a record others may change", "ACCEPTED\ncut-off=2026-01-05 10:00:00\n" + counts,
       fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_write, nullptr,
       ", so what it says cannot be believed"},
      {"an earlier version's record", "ACCEPTED\ncut-off=2026-01-05 10:00:00\nserver=x\n",
       fs::perms::owner_read | fs::perms::owner_write, "usage-report.record",
       "usage-report.record was left by an earlier version of the job"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Installation install;
    testing::CentralService service;
    SeedUsage(install, service);
    const std::string identity = "sqlite:" + fs::canonical(install.DatabasePath()).string();
    const std::string path =
        row.other_path ? (install.StateFolder() / row.other_path).string() : RecordPath(install);
    fs::create_directories(install.StateFolder());
    std::string content = row.content;
    if (const auto at = content.find("%s"); at != std::string::npos)
      content.replace(at, 2, identity);
    std::ofstream(path) << content;
    fs::permissions(path, row.perms);

    EXPECT_EQ(install.RunJob().exit_code, 0);
    EXPECT_EQ(service.Received(), 0);
    EXPECT_EQ(install.Scalar("SELECT COUNT(*) FROM Transaccion_Uso WHERE Enviado = 'SI'"), "0");
    const auto events = install.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, 1);
    EXPECT_NE(events[0].message.find(row.entry), std::string::npos) << events[0].message;
    EXPECT_NE(events[0].message.find(path), std::string::npos) << events[0].message;
  }
}

// Two installations share one state directory; the first is stopped after
// the service accepted. Each still bills its own records exactly once.
TEST(ExactlyOnceTest, InstallationsSharingAStateDirectoryBillOnceEach) {
  Installation a, b;
  testing::CentralService service;
  SeedUsage(a, service);
  SeedUsage(b, service, "SRV-2");
  const std::map<std::string, std::string> shared = {
      {"QUORVEX_STATE_DIR", a.StateFolder().string()}};
  a.RunJob(shared, StopAt("fdatasync", RecordPath(a), false, 1, "KILL"));
  EXPECT_EQ(b.RunJob(shared).exit_code, 0);
  EXPECT_EQ(a.RunJob(shared).exit_code, 0);
  const std::map<std::string, int> twice = {{"CANCELACION", 30}, {"TIMBRADO", 80}};
  EXPECT_EQ(Billed(service), twice);
  for (Installation* i : {&a, &b})
    EXPECT_EQ(i->Scalar("SELECT COUNT(*) FROM Transaccion_Uso WHERE Enviado = 'SI'"), "55");
}

// However slow the service, the database or a tool, a run ends within its
// deadline (QUORVEX_RUN_SECONDS=4). Each row: the cause, what became of
// the usage waiting to be reported, words of the entry that says so.
TEST(RunDeadlineTest, EveryRunEndsWithinItsDeadline) {
  const struct {
    const char* name;
    const char* mode;
    bool locked;
    const char* tcping;  // a script, none for the real tool, "" for no server to measure
    const char* enviado;
    const char* entry;
    const char* roster;  // the roster report's entry
  } rows[] = {
      {"a service dripping a byte every 0.9 s", "drip 900", false, nullptr, "NO",
       "NO ES POSIBLE CONSUMIR EL WEBSERVICE", ""},
      {"a locked database", "accept", true, nullptr, "NO", "database is locked", ""},
      {"a locked marking statement", "accept", true, "", "NO", "database is locked",
       "Get_Operadores_Info()\r\nOK"},
      {"a tool that never ends", "accept", false, "#!/bin/sh\nexec sleep 60\n", "SI",
       "2 of 3 servers were not measured in this run", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Installation install;
    testing::CentralService service;
    testing::LoopbackListener server;
    service.SetMode(row.mode);
    const bool servers = !row.tcping || *row.tcping != '\0';  // "": none to measure
    if (row.tcping && servers) {
      std::ofstream(install.Folder() / "stuck-tcping.exe") << row.tcping;
      fs::permissions(install.Folder() / "stuck-tcping.exe", fs::perms::owner_all);
      Settings(install, "TCPING=stuck-tcping.exe\n");
    }
    install.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" +
                 service.Url() + "')");
    const std::string url =
        "', 'http://127.0.0.1:" + std::to_string(server.port()) + "/', 'AC', 7)";
    if (servers)
      install.Exec("INSERT INTO Servidor_Timbrado VALUES ('1" + url + ", ('2" + url + ", ('3" +
                   url);
    install.Exec(
        "INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha) VALUES ('TIMBRADO', 'S', "
        "'2026-01-05 10:00:00')");
    install.Exec("INSERT INTO Operadores VALUES ('A1', 'Ana', 'a')");
    auto lock = row.locked ? HoldWriteLock(install.DatabasePath()) : nullptr;
    const auto start = std::chrono::steady_clock::now();
    const auto result = install.RunJob({{"QUORVEX_RUN_SECONDS", "4"}});
    const auto took = std::chrono::steady_clock::now() - start;
    lock.reset();

    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_LT(took, std::chrono::seconds(5));  // with the process's own start and end
    EXPECT_EQ(install.Scalar("SELECT Enviado FROM Transaccion_Uso"), row.enviado);
    std::string entries;
    for (const auto& e : install.Events()) entries += e.message + "\n";
    EXPECT_NE(entries.find(row.entry), std::string::npos) << entries;
    EXPECT_NE(entries.find(row.roster), std::string::npos) << entries;
  }
}

// The address steps of Main, on a real session: the default only for no
// row or the exact empty text; blanks stay; the first row wins.
TEST(LocateWebServiceTest, DefaultOnlyForNoRowOrTheExactEmptyText) {
  Installation install;
  const struct {
    const char* rows;
    const char* expected;
  } cases[] = {
      {"", "http://central.quorvex.example/update/update.asmx"},
      {"('OTHER', 'http://x/')", "http://central.quorvex.example/update/update.asmx"},
      {"('GEN_WEBSERVICE_UPDATE_URL', '')", "http://central.quorvex.example/update/update.asmx"},
      {"('GEN_WEBSERVICE_UPDATE_URL', '   ')", "   "},
      {"('GEN_WEBSERVICE_UPDATE_URL', 'http://first/'), "
       "('GEN_WEBSERVICE_UPDATE_URL', 'http://second/')",
       "http://first/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rows);
    install.Exec("DELETE FROM Configuracion");
    if (*c.rows != '\0') install.Exec(std::string("INSERT INTO Configuracion VALUES ") + c.rows);
    RunState run;
    run.DbConnection =
        OpenConnection("Data Source=sqlite:" + install.DatabasePath().string() + ";APP=Quorvex",
                       install.Folder().string());
    LocateWebService(run);
    EXPECT_EQ(run.SqlText,
              "SELECT Cf_Valor FROM Configuracion WHERE Cf_Variable = "
              "'GEN_WEBSERVICE_UPDATE_URL'");
    EXPECT_EQ(run.WebServiceUrl, c.expected);
  }
}

}  // namespace
}  // namespace quorvex
