// The real QuorvexServer in a throw-away program folder, on a real SQLite
// database, with its event entries read back from the event-log file.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "job/password_cipher.h"
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
    EXPECT_TRUE(result.output.starts_with("Quorvex: the run ended early: ")) << result.output;
    EXPECT_NE(result.output.find(c.expected), std::string::npos) << result.output;
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

// A tool the sweep cannot start leaves every server at -1 and says so in
// one error entry per run, however many servers there are. Each row: what
// is done to the installation, and the start of that entry.
TEST(SweepToolTest, AToolThatCannotBeStartedIsOneEntryPerRun) {
  const struct {
    const char* name;
    const char* settings;
    std::function<void(const fs::path&)> arrange;
    const char* entry;  // after the folder's path where it holds "@"
  } rows[] = {
      {"tcping.exe deleted", "", [](const fs::path& f) { fs::remove(f / "tcping.exe"); },
       "TcPingResp()\r\ntcping.exe was not found: it was looked for as @/tcping.exe "
       "(TCPING=tcping.exe, relative to the program folder)"},
      {"tcping.exe hidden", "TCPING=.tcping.exe\n",
       [](const fs::path& f) { fs::rename(f / "tcping.exe", f / ".tcping.exe"); },
       "TcPingResp()\r\ntcping.exe was not found: it was looked for as @/.tcping.exe"},
      {"TCPING names another program", "TCPING=tcping64.exe\n", [](const fs::path&) {},
       "TcPingResp()\r\nTCPING=tcping64.exe does not name tcping.exe"},
      {"psping.exe writable by everyone", "PING-MODE=2\n",
       [](const fs::path& f) { fs::permissions(f / "psping.exe", fs::perms::all); },
       "bPSPING()\r\n@/psping.exe was not started: @/psping.exe is writable by everyone"},
      // The system's own ping, on PATH, would run for good without a count.
      {"the stand-in ping missing", "PING-MODE=3\n",
       [](const fs::path& f) { fs::remove(f / "ping"); },
       "SystemPingResp()\r\nThe ping program was not found: with PING-MODE 3 the sweep starts "
       "only @/ping"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Installation install;
    testing::LoopbackListener server;
    Settings(install, row.settings);
    row.arrange(install.Folder());
    const std::string url =
        "', 'http://127.0.0.1:" + std::to_string(server.port()) + "/', 'AC', 7)";
    install.Exec("INSERT INTO Servidor_Timbrado VALUES ('1" + url + ", ('2" + url + ", ('3" + url);
    const auto start = std::chrono::steady_clock::now();
    const auto result = install.RunJob({{"QUORVEX_RUN_SECONDS", "30"}});

    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(install.Scalar("SELECT group_concat(St_Ping) FROM Servidor_Timbrado"), "-1,-1,-1");
    const std::string expected =
        std::regex_replace(row.entry, std::regex("@"), install.Folder().string());
    std::vector<std::string> errors;
    for (const auto& e : install.Events()) e.type == 1 ? errors.push_back(e.message) : void();
    ASSERT_EQ(errors.size(), 1u) << result.output;
    EXPECT_TRUE(errors[0].starts_with(expected)) << errors[0];
  }
}

// QUORVEX_EVENT_LOG naming what cannot be opened as a file: the entry goes
// to the journal, as without the variable. The run has a /run of its own
// whose journal socket is the test's. Each row: the variable's value.
TEST(EventLogTest, AnUnwritableEventLogLeavesTheEntryToTheJournal) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a /run of the run's own";
  Installation install;
  const fs::path plain = install.Folder() / "plain.txt";
  std::ofstream(plain).put('x');
  const fs::path socket_path = install.Folder() / "journal.socket";
  const int journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socket_path.string().copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Settings(install, "PING-MODE=tcping\n");
  const char* script =
      "mount -t tmpfs none /run && mkdir -p /run/systemd/journal && "
      "touch /run/systemd/journal/socket && mount --bind \"$0\" /run/systemd/journal/socket && "
      "exec \"$1\"";
  for (const fs::path& log : {plain / "events.jsonl", install.Folder(), fs::path("/no/such")}) {
    SCOPED_TRACE(log);
    const auto result = testing::RunProgram(
        "/usr/bin/unshare",
        {"-m", "/bin/sh", "-c", script, socket_path.string(),
         (install.Folder() / "QuorvexServer").string()},
        {{"QUORVEX_EVENT_LOG", log.string()}, {"QUORVEX_STATE_DIR", install.StateFolder()}});
    EXPECT_EQ(result.exit_code, 78) << result.output;
    char datagram[4096];
    const ssize_t size = ::recv(journal, datagram, sizeof datagram, 0);
    ASSERT_GT(size, 0) << "no entry reached the journal";
    const std::string fields(datagram, static_cast<std::size_t>(size));
    EXPECT_NE(fields.find("MESSAGE=Type mismatch: \"tcping\" is not a number (key PING-MODE"),
              std::string::npos)
        << fields;
    EXPECT_NE(fields.find("PRIORITY=3\nSYSLOG_IDENTIFIER=Quorvex\n"), std::string::npos) << fields;
  }
  ::close(journal);
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
  EXPECT_TRUE(result.output.starts_with(
      "Quorvex: the run ended early: The single-instance guard cannot be set up"))
      << result.output;
  ASSERT_EQ(entries.size(), 1u) << result.output;
  EXPECT_EQ(entries[0].type, 1);
  EXPECT_EQ(entries[0].id, 1003);
  EXPECT_NE(entries[0].message.find("The single-instance guard cannot be set up"),
            std::string::npos);
}

// Whoever else may change the job's own places could put another program in
// its place or forge what it keeps: the run does not start (71), and one
// error entry (repeated on standard error) names the path at fault and the
// fix. A folder above that everyone may write is safe only with the sticky
// bit, as /tmp. A settings file everyone may read gives the password away:
// each run says so in one error entry, and goes on. Each row: what is done
// in the folder that holds program/ and state/, the exit status, the path
// at fault and the reason (none: no error entry); two runs each.
TEST(SingleInstanceTest, RefusesAPlaceOthersMayChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  const std::string nobody = " belongs to nobody (uid 65534), neither root nor the job's user";
  const std::string refused = ", so someone other than the administrators and the job's account";
  const struct {
    const char* shell;
    int exit_code;
    const char* at;
    std::string reason;
  } rows[] = {
      {"chmod o+w state", 71, "/state", " is writable by everyone" + refused},
      {"chmod g+w state", 71, "/state", " is writable by its group root" + refused},
      {"chown nobody state", 71, "/state", nobody + refused},
      {"chown nobody state/QuorvexServer.lock", 71, "/state/QuorvexServer.lock", nobody + refused},
      {"chmod o+w state/QuorvexServer.lock", 71, "/state/QuorvexServer.lock",
       " is writable by everyone" + refused},
      {"chmod o+w program", 71, "/program", " is writable by everyone" + refused},
      {"chmod g+w .", 71, "", " is writable by its group root" + refused},
      {"chmod o+w,+t .", 0, "", ""},
      {"chmod o+r program/QuorvexServer.ini", 0, "/program/QuorvexServer.ini",
       " is readable by everyone, and anybody who reads PASSWORD there can decode it. Let only "
       "root and the job's group read it (chown root:quorvex, chmod 0640), as the package sets "
       "it."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shell);
    Installation install;
    const std::string root = install.Folder().parent_path().string();
    testing::RunProgram("/bin/sh", {"-c",
                                    "cd \"$0\" && mkdir state && touch "
                                    "state/QuorvexServer.lock && " +
                                        std::string(row.shell),
                                    root});
    for (int run = 1; run <= 2; ++run) {
      const auto result = install.RunJob();
      EXPECT_EQ(result.exit_code, row.exit_code) << result.output;
      const bool said = result.output.find("The run was not started: ") != std::string::npos;
      EXPECT_EQ(said, row.exit_code == 71) << result.output;
    }
    std::vector<std::string> errors;
    for (const auto& e : install.Events())
      if (e.type == 1) errors.push_back(e.message);
    if (row.reason.empty()) {
      EXPECT_EQ(errors.size(), 0u);
      continue;
    }
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], errors[1]);
    const std::string start = row.exit_code == 71 ? "The run was not started: " : "Main()\r\n";
    EXPECT_TRUE(errors[0].starts_with(start + root + row.at + row.reason)) << errors[0];
    EXPECT_EQ(errors[0].find("(chown root, chmod go-w)") != std::string::npos, row.exit_code == 71)
        << errors[0];
  }
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

// What a file as Python's json and Prometheus' own text parser read it:
// "key.key=value" for every value of the summary (texts in JSON quotes),
// then "name{label=value}=value" for every sample of the metrics.
testing::ProcessResult Parsed(const fs::path& summary, const fs::path& metrics) {
  static const char kScript[] = R"(import json, sys
from prometheus_client.parser import text_string_to_metric_families
def flat(prefix, v):
    if isinstance(v, dict):
        for k, x in v.items(): flat(prefix + k + ".", x)
    else: print(prefix[:-1] + "=" + json.dumps(v))
flat("", json.load(open(sys.argv[1])))
for f in text_string_to_metric_families(open(sys.argv[2]).read()):
    for s in f.samples:
        print(s.name + "".join("{%s=%s}" % kv for kv in sorted(s.labels.items())) + "=" + repr(s.value))
)";
  return testing::RunProgram("/usr/bin/python3", {"-c", kScript, summary, metrics});
}

// Every run that holds the guard leaves its summary and its metrics, both
// read by real parsers, neither holding the password. Each row: how the run
// is arranged, the summary an earlier run left, and lines the parsers must
// print.
TEST(RunSummaryTest, EveryRunLeavesItsSummaryAndMetrics) {
  PasswordCipher cipher;
  cipher.SetKey(InstallationPasswordKey());
  const std::string password = "Zq9-secreto-Kx";
  const std::string with_password = "PASSWORD=" + cipher.Encode(password) + "\n";
  const struct {
    const char* name;
    const char* mode;  // of the central service
    std::string settings;
    bool record_unreadable;  // the usage report's record of its call is a folder
    const char* previous;    // the earlier run's last-run.json
    const char* lines;       // each a piece of the parsers' output, separated by "|"
  } rows[] = {
      {"accepted", "accept",
       Installation::SqliteSettings("TCPING=fake-tcping.exe\n" + with_password), false, nullptr,
       "exit_status=0\n|reason=null\n|sweep.selected=2\n|sweep.measured=1\n|"
       "sweep.unreachable=1\n|sweep.not_handled=0\n|usage_report.outcome=\"accepted\"\n|"
       "usage_report.records_counted=55\n|usage_report.rows_sent=2\n|"
       "usage_report.accesos_sent=55\n|roster.outcome=\"accepted\"\n|roster.operators_sent=1\n|"
       "last_accepted_usage_report=\"20|quorvex_last_run_exit_status=0.0\n|"
       "quorvex_usage_report_accesos=55.0\n|quorvex_usage_report_outcome{outcome=accepted}=1.0\n|"
       "quorvex_servers{outcome=measured}=1.0\n|quorvex_servers{outcome=unreachable}=1.0\n|"
       "quorvex_server_latency_seconds{st_id=S1 \"a\\b}=0.0015\n|"
       "quorvex_server_up{st_id=S2}=0.0\n"},
      {"rejected, the last acceptance carried over", "rechazado-lower",
       Installation::SqliteSettings("TCPING=fake-tcping.exe\n"), false,
       "{\"last_accepted_usage_report\": \"2026-01-02T03:04:05Z\"}",
       "usage_report.outcome=\"rejected\"\n|usage_report.rows_sent=2\n|"
       "roster.outcome=\"rejected\"\n|last_accepted_usage_report=\"2026-01-02T03:04:05Z\"\n|"
       "quorvex_last_accepted_usage_report_time_seconds=1767323045.0\n|"
       "quorvex_usage_report_outcome{outcome=rejected}=1.0\n"},
      {"held back, a previous summary from the future", "accept",
       Installation::SqliteSettings("TCPING=fake-tcping.exe\n"), true,
       "{\"last_accepted_usage_report\": \"2099-01-01T00:00:00Z\"",
       "usage_report.outcome=\"held_back\"\n|usage_report.records_counted=0\n|"
       "usage_report.accesos_sent=0\n|last_accepted_usage_report=null\n|"
       "quorvex_usage_report_outcome{outcome=held_back}=1.0\n"},
      {"early end 78, the password in the database's name", "accept",
       "[CONEXION]\nSERVERDB=sqlite:/nonexistent-quorvex/*PASSWORD*.db\n" + with_password, false,
       "\x01\xff not json",
       "exit_status=78\n|reason=\"SE HA DETECTADO EL SIGUIENTE ERROR:|sweep.selected=0\n|"
       "usage_report.outcome=\"not_run\"\n|roster.outcome=\"not_run\"\n|"
       "last_accepted_usage_report=null\n|quorvex_last_run_exit_status=78.0\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Installation install;
    testing::CentralService service;
    testing::LoopbackListener server;
    service.SetMode(row.mode);
    std::ofstream(install.Folder() / "fake-tcping.exe") << "#!/bin/sh\necho 'Average = 1.500ms'\n";
    fs::permissions(install.Folder() / "fake-tcping.exe", fs::perms::owner_all);
    install.WriteSettings(row.settings);
    install.Exec("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" +
                 service.Url() + "')");
    install.Exec("INSERT INTO Servidor_Timbrado VALUES ('S1 \"a\\b', 'http://127.0.0.1:" +
                 std::to_string(server.port()) + "/', 'AC', 0), ('S2', 'http://127.0.0.1:" +
                 std::to_string(testing::ClosedLoopbackPort()) + "/', 'AC', 0)");
    install.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 55) "
        "INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha) SELECT CASE WHEN i <= 40 "
        "THEN 'TIMBRADO' ELSE 'CANCELACION' END, 'SRV-1', '2026-01-05 10:00:00' FROM n");
    install.Exec("INSERT INTO Operadores VALUES ('A1', 'Ana', 'a')");
    fs::create_directories(install.StateFolder());
    if (row.record_unreadable) fs::create_directory(install.StateFolder() / "usage-report.record");
    if (row.previous) std::ofstream(install.StateFolder() / "last-run.json") << row.previous;
    const fs::path metrics = install.Folder() / "metrics";
    fs::create_directory(metrics);

    const auto result = install.RunJob({{"QUORVEX_METRICS_DIR", metrics.string()}});
    const fs::path summary = install.StateFolder() / "last-run.json";
    const auto parsed = Parsed(summary, metrics / "quorvex.prom");
    ASSERT_EQ(parsed.exit_code, 0) << parsed.output;
    std::istringstream lines(row.lines);
    for (std::string line; std::getline(lines, line, '|');)
      EXPECT_NE(parsed.output.find(line), std::string::npos) << line << "\n" << parsed.output;
    for (const fs::path& file : {summary, metrics / "quorvex.prom"}) {
      std::ifstream in(file, std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)), {});
      EXPECT_EQ(text.find(password), std::string::npos) << text;
      EXPECT_FALSE(fs::exists(file.string() + ".new"));
    }
    EXPECT_EQ(fs::status(metrics / "quorvex.prom").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
  }
}

// A summary or metrics file the job cannot read or write changes nothing
// else of the run and is one warning entry that names it. Each row: what
// stands in the way, the metrics folder, and the entries' beginnings.
TEST(RunSummaryTest, WhatCannotBeReadOrWrittenIsOneWarningEach) {
  const struct {
    const char* name;
    bool summary_is_folder;
    const char* metrics;  // under the program folder
    std::vector<std::string> warnings;
  } rows[] = {
      {"a folder in the summary's place",
       true,
       "",
       {"The summary of the previous run cannot be read: ",
        "The run's summary cannot be written: "}},
      {"a metrics folder that does not exist",
       false,
       "no-such-folder",
       {"The run's metrics cannot be written: "}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Installation install;
    fs::create_directories(install.StateFolder() / "last-run.json");
    if (!row.summary_is_folder) fs::remove(install.StateFolder() / "last-run.json");
    const std::string metrics = *row.metrics ? (install.Folder() / row.metrics).string() : "";
    EXPECT_EQ(install.RunJob({{"QUORVEX_METRICS_DIR", metrics}}).exit_code, 0);
    std::vector<std::string> warnings;
    for (const auto& e : install.Events())
      if (e.type == 2 && e.message.starts_with("The ")) warnings.push_back(e.message);
    ASSERT_EQ(warnings.size(), row.warnings.size());
    for (std::size_t i = 0; i < warnings.size(); ++i)
      EXPECT_TRUE(warnings[i].starts_with(row.warnings[i])) << warnings[i];
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
