// The real QuorvexServer in a throw-away program folder, on a real SQLite
// database, with its event entries read back from the event-log file.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

#include "job/principal.h"
#include "reporting/central_service_fixture.h"
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
    // The system released the lock with its holder. The state folder the
    // job made admits nobody else.
    Settings(install, "");
    EXPECT_EQ(install.RunJob().exit_code, 0);
    EXPECT_EQ(fs::status(install.StateFolder()).permissions() & fs::perms::others_all,
              fs::perms::none);
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

// A small file system of its own, mounted (when asked) until destroyed.
struct SmallDisk {
  SmallDisk(const fs::path& at, bool mount) : path(at) {
    fs::create_directory(path);
    mounted = mount && ::mount("quorvex-test", path.c_str(), "tmpfs", 0, "size=1m") == 0;
  }
  ~SmallDisk() {
    if (mounted) ::umount2(path.c_str(), MNT_DETACH);
  }
  void Fill() const {
    testing::RunProgram("/bin/dd", {"if=/dev/zero", "of=" + (path / "fill").string(), "bs=64k"});
  }
  fs::path path;
  bool mounted = false;
};

// The Accesos the service received for each Nombre, over every document.
std::map<std::string, int> Received(const testing::CentralService& service) {
  static const std::regex row("Nombre=\"([^\"]*)\"[^\n]* Accesos=\"([0-9]+)\"");
  std::map<std::string, int> counts;
  for (int n = 1; n <= service.Received(); ++n) {
    const std::string document = service.Record(n, ".xml");
    for (std::sregex_iterator it(document.begin(), document.end(), row), end; it != end; ++it)
      counts[(*it)[1]] += std::stoi((*it)[2]);
  }
  return counts;
}

// The service accepts the usage report, then the first run's marking fails
// or never happens; a second run, with nothing in the way, settles it.
// Every record's count reaches the service exactly once and every record
// ends 'SI'. Each row: how the first run's marking is stopped. The signals
// come once the acceptance is recorded, while a writer holds the database.
TEST(ExactlyOnceTest, AcceptedUsageIsSentOnceAndMarked) {
  const struct {
    const char* name;
    bool full_disk;  // the disk holding database and state fills during the call
    int signal;
    const char* run_seconds;  // the first run's QUORVEX_RUN_SECONDS
  } rows[] = {
      {"a writer holds the lock until the run's time is up", false, 0, "5"},
      {"killed right after acceptance", false, SIGKILL, ""},
      {"stopped by the scheduler's time limit", false, SIGTERM, ""},
      {"the disk fills during the call", true, 0, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.full_disk && ::geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    Installation install;
    testing::CentralService service;
    const SmallDisk disk(install.StateFolder().string() + "-disk", row.full_disk);
    fs::path database = install.DatabasePath(), state = install.StateFolder();
    if (row.full_disk) {
      ASSERT_TRUE(disk.mounted);
      fs::copy_file(install.DatabasePath(), database = disk.path / "quorvex.sqlite3");
      fs::create_directory(state = disk.path / "state");
      install.WriteSettings("[CONEXION]\nSERVERDB=sqlite:" + database.string() + "\n");
      service.SetMode("accept delay=1000 once");
    }
    {
      auto db = OpenConnection("Data Source=sqlite:" + database.string(), "/");
      db->Execute("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" +
                  service.Url() + "')");
      db->Execute(
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 55) "
          "INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha) SELECT CASE WHEN i <= 40 "
          "THEN 'TIMBRADO' ELSE 'CANCELACION' END, 'SRV-1', '2026-01-05 10:00:00' FROM n");
    }
    auto lock = row.full_disk ? nullptr : HoldWriteLock(database);
    const int first = install.StartJob(
        {{"QUORVEX_STATE_DIR", state.string()}, {"QUORVEX_RUN_SECONDS", row.run_seconds}});
    for (int i = 0; i < 500 && service.Received() == 0; ++i) ::usleep(10'000);
    if (row.full_disk) disk.Fill();
    for (int i = 0; i < 500 && row.signal != 0; ++i) {
      std::ifstream record(state / "usage-report.record");
      std::string word;
      if (std::getline(record, word) && word == "ACCEPTED") break;
      ::usleep(10'000);
    }
    if (row.signal != 0) ::kill(first, row.signal);
    EXPECT_EQ(Installation::Wait(first).exit_code, row.signal != 0 ? -1 : 0);
    lock.reset();
    fs::remove(disk.path / "fill");
    fs::remove(install.EventLogPath());

    EXPECT_EQ(install.RunJob({{"QUORVEX_STATE_DIR", state.string()}}).exit_code, 0);
    const std::map<std::string, int> once = {{"CANCELACION", 15}, {"TIMBRADO", 40}};
    EXPECT_EQ(Received(service), once);
    auto db = OpenConnection("Data Source=sqlite:" + database.string(), "/");
    EXPECT_EQ(
        *db->Execute("SELECT COUNT(*) AS n FROM Transaccion_Uso WHERE Enviado = 'SI'").Field("n"),
        "55");
    const auto events = install.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(std::to_string(events[0].type) + " " + std::to_string(events[0].id), "4 1001");
    EXPECT_TRUE(
        events[0].message.ends_with(" that the central web service accepted in an earlier "
                                    "run had not been marked: its records are now marked "
                                    "as sent"))
        << events[0].message;
  }
}

// However slow the service, the database or a tool, a run ends within its
// deadline (QUORVEX_RUN_SECONDS=4). Each row: the cause, what became of
// the usage waiting to be reported, words of the entry that says so.
TEST(RunDeadlineTest, EveryRunEndsWithinItsDeadline) {
  const struct {
    const char* name;
    const char* mode;
    bool locked;
    const char* tcping;  // a script, or none for the real tool
    const char* enviado;
    const char* entry;
  } rows[] = {
      {"a service dripping a byte every 0.9 s", "drip 900", false, nullptr, "NO",
       "NO ES POSIBLE CONSUMIR EL WEBSERVICE"},
      {"a locked database", "accept", true, nullptr, "NO", "database is locked"},
      {"a tool that never ends", "accept", false, "#!/bin/sh\nexec sleep 60\n", "SI",
       "2 of 3 servers were not measured in this run"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Installation install;
    testing::CentralService service;
    testing::LoopbackListener server;
    service.SetMode(row.mode);
    if (row.tcping) std::ofstream(install.Folder() / "stuck-tcping.exe") << row.tcping;
    if (row.tcping) fs::permissions(install.Folder() / "stuck-tcping.exe", fs::perms::owner_all);
    if (row.tcping) Settings(install, "TCPING=stuck-tcping.exe\n");
    install.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" +
                 service.Url() + "')");
    const std::string url =
        "', 'http://127.0.0.1:" + std::to_string(server.port()) + "/', 'AC', 7)";
    install.Exec("INSERT INTO Servidor_Timbrado VALUES ('1" + url + ", ('2" + url + ", ('3" + url);
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
  }
}

// The usage report goes to an http or https address only. The https
// service's certificate is made here for 127.0.0.1; the job trusts it once
// it stands in the system's trust store, which libcurl reads by path (not
// through SSL_CERT_FILE): it is bound over that file in a mount namespace of
// this test's own. Each row: the address, whether the certificate is
// trusted by then, Enviado after the run (SI: the one document was sent).
TEST(ServiceAddressTest, ReportsOverHttpAndHttpsOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "binding a certificate into the trust store needs root";
  Installation install;
  const std::string cert = (install.Folder() / "cert.pem").string();
  const std::string key = (install.Folder() / "key.pem").string();
  ASSERT_EQ(
      testing::RunProgram("/usr/bin/openssl",
                          {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=x",
                           "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert})
          .exit_code,
      0);
  testing::CentralService http, https(cert, key);
  const struct {
    std::string url;
    bool trusted;
    const char* enviado;
  } rows[] = {
      {https.Url(), false, "NO"}, {http.Url().substr(7), false, "NO"}, {https.Url(), true, "SI"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url + (row.trusted ? " trusted" : ""));
    if (row.trusted) {
      ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
      ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
      ASSERT_EQ(
          ::mount(cert.c_str(), "/etc/ssl/certs/ca-certificates.crt", nullptr, MS_BIND, nullptr),
          0);
    }
    install.Exec("DELETE FROM Configuracion; DELETE FROM Transaccion_Uso");
    install.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" + row.url +
                 "'); INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha) VALUES "
                 "('TIMBRADO', 'S', '2026-01-05 10:00:00')");
    const int before = http.Received() + https.Received();
    EXPECT_EQ(install.RunJob().exit_code, 0);
    EXPECT_EQ(http.Received() + https.Received() - before, *row.enviado == 'S');
    EXPECT_EQ(install.Scalar("SELECT Enviado FROM Transaccion_Uso"), row.enviado);
  }
}

// A tool leaves a process in a session of its own (setsid) whose child
// sleeps, and ends: once the run is over, that grandchild of the job's is
// gone too.
TEST(LeftoverProcessTest, NothingAToolStartedOutlivesTheRun) {
  Installation install;
  testing::LoopbackListener server;
  const std::string pid_file = (install.Folder() / "sleeper.pid").string();
  std::ofstream(install.Folder() / "leaving-tcping.exe")
      << "#!/bin/sh\nsetsid sh -c 'sleep 60 & echo $! >" << pid_file
      << "; wait' </dev/null >/dev/null 2>&1 &\nwhile [ ! -s " << pid_file
      << " ]; do sleep 0.01; done\necho 'Average = 1.000ms'\n";
  fs::permissions(install.Folder() / "leaving-tcping.exe", fs::perms::owner_all);
  Settings(install, "TCPING=leaving-tcping.exe\n");
  install.Exec("INSERT INTO Servidor_Timbrado VALUES ('1', 'http://127.0.0.1:" +
               std::to_string(server.port()) + "/', 'AC', 0)");
  EXPECT_EQ(install.RunJob().exit_code, 0);
  int pid = 0;
  std::ifstream(pid_file) >> pid;
  ASSERT_GT(pid, 0);
  std::string stat;
  std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
  EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << stat;
  if (!stat.empty()) ::kill(pid, SIGKILL);
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
