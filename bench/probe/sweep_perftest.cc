// Sweep overhead: GetPingTimbrado over N servers on a loopback listener,
// with a tcping.exe that answers at once (instant_tool.cc), on a SQLite
// database made by the installation's schema script.
//
//   probe_sweep_perftest [--db FOLDER] [--schema FILE] [servers...]
//
// Defaults: 1000 servers, the database in the temporary folder, the schema
// sql/sqlite/schema.sql of this source tree (give an older script to
// compare). For each server count it prints
//   - the sweep's wall time, in all and per server;
//   - the tool's own time per run: starting the same tool and waiting for it
//     with its output thrown away, no job around it;
//   - the difference, the job's own cost per server (the reachability check,
//     the command line, the pipe and the capture, the UPDATE);
//   - the same without the UPDATE, whose commit is the database's own cost
//     (SQLite syncs its log to disk on every commit: put the database on a
//     tmpfs such as /dev/shm to see the job without the disk);
//   - one measurement (TcPingResp), the reachability check and the UPDATE
//     (changing the value, as a sweep does) timed on their own;
//   - the process's peak resident memory.
// Give several counts (1000 5000 20000) to see the growth: with the key on
// St_ID the cost per server stays flat, without it every UPDATE reads the
// whole table and the cost per server grows with the count.
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/connectivity.h"
#include "probe_test_support.h"
#include "ui/frm_main.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool MakeDatabase(const std::string& path, const std::string& schema, int servers, int port) {
  std::ifstream script(schema);
  std::string sql(std::istreambuf_iterator<char>(script), {});
  if (sql.empty()) return false;
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  sql += "BEGIN;";
  for (int i = 0; i < servers; ++i) {
    sql += "INSERT INTO Servidor_Timbrado VALUES ('SRV" + std::to_string(i) +
           "', 'http://127.0.0.1:" + std::to_string(port) + "/timbrado/servicio.asmx', 'AC', 0);";
  }
  sql += "COMMIT;";
  const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// Starts the tool as the runner would, output to /dev/null, and waits.
double ToolOwnSeconds(const std::string& tool, int runs) {
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(tool.c_str()), const_cast<char*>("-i"),
                    const_cast<char*>("0"),          const_cast<char*>("127.0.0.1"),
                    const_cast<char*>("80"),         nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ) == 0) {
      waitpid(pid, nullptr, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  return Since(start);
}

// One sweep over servers; prints its figures. False when it cannot be set
// up or did not measure every server.
bool Measure(const fs::path& base, const std::string& schema, int servers) {
  const fs::path folder = base / ("quorvex-sweep-bench-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::copy_file(BENCH_TOOL_DIR "/probe_instant_tool", folder / "tcping.exe");

  quorvex::testing::LoopbackListener listener;
  if (!listener.ok() ||
      !MakeDatabase((folder / "bench.sqlite3").string(), schema, servers, listener.port())) {
    std::fprintf(stderr, "cannot set up the benchmark\n");
    return false;
  }

  quorvex::RunState run;
  run.ProgramFolder = folder.string();
  run.DbConnection = quorvex::OpenConnection(
      "Provider=SQLOLEDB.1;Password=;User ID=sa;Initial Catalog=EMPRESAS;"
      "Data Source=sqlite:bench.sqlite3;APP=Quorvex",
      run.ProgramFolder);
  run.Settings.TcPingExe = "tcping.exe";
  run.Settings.TcPingCommand = "-i 0";
  run.Settings.PingPort = "80";
  run.Settings.PingMode = 1;
  quorvex::testing::RecordingBoxes boxes;
  quorvex::frmMain form(run, boxes);
  form.Form_Load();

  auto start = Clock::now();
  form.GetPingTimbrado();
  const double sweep = Since(start);
  const quorvex::RowSet check = run.DbConnection->Execute(
      "SELECT COUNT(*) AS N FROM Servidor_Timbrado WHERE St_Ping = 0.051");
  if (check.Field("N").value_or("") != std::to_string(servers) || !boxes.shown.empty()) {
    std::fprintf(stderr, "the sweep did not measure every server\n");
    return false;
  }

  const double tool = ToolOwnSeconds((folder / "tcping.exe").string(), servers);

  start = Clock::now();
  for (int i = 0; i < servers; ++i) form.TcPingResp("127.0.0.1");
  const double measurements = Since(start);

  const std::string url = "http://127.0.0.1:" + std::to_string(listener.port()) + "/x";
  start = Clock::now();
  for (int i = 0; i < servers; ++i) quorvex::CanConnect(url);
  const double checks = Since(start);

  start = Clock::now();
  for (int i = 0; i < servers; ++i) {
    run.DbConnection->Execute(
        "UPDATE Servidor_Timbrado SET    St_Ping =  " + std::to_string(i + 1) +
        " WHERE St_ID = 'SRV" + std::to_string(i) + "' ");
  }
  const double updates = Since(start);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double ms = 1000.0 / servers;
  std::printf("servers                 %d\n", servers);
  std::printf("sweep                   %.3f s\n", sweep);
  std::printf("sweep per server        %.3f ms\n", sweep * ms);
  std::printf("tool's own time per run %.3f ms\n", tool * ms);
  std::printf("job's cost per server   %.3f ms\n", (sweep - tool) * ms);
  std::printf("  without the UPDATE    %.3f ms\n", (sweep - tool - updates) * ms);
  std::printf("TcPingResp alone        %.3f ms\n", measurements * ms);
  std::printf("the check alone         %.3f ms\n", checks * ms);
  std::printf("the UPDATE alone        %.3f ms\n", updates * ms);
  std::printf("peak resident memory    %ld KiB\n\n", usage.ru_maxrss);
  std::fflush(stdout);

  form.Form_QueryUnload();
  run.DbConnection.reset();
  fs::remove_all(folder);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path base = fs::temp_directory_path();
  std::string schema = QUORVEX_SOURCE_DIR "/sql/sqlite/schema.sql";
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--db" && i + 1 < argc) {
      base = argv[++i];
    } else if (arg == "--schema" && i + 1 < argc) {
      schema = argv[++i];
    } else if (std::atoi(arg.c_str()) > 0) {
      counts.push_back(std::atoi(arg.c_str()));
    } else {
      std::fprintf(stderr, "usage: %s [--db FOLDER] [--schema FILE] [servers...]\n", argv[0]);
      return 2;
    }
  }
  if (counts.empty()) counts.push_back(1000);
  std::printf("schema                  %s\n\n", schema.c_str());
  for (const int servers : counts) {
    if (!Measure(base, schema, servers)) return 1;
  }
  return 0;
}
