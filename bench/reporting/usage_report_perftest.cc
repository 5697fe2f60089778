// The transaction usage report over a large installation: how much of a run
// is the job's own work (document, call, bookkeeping) and how much is the
// database counting and marking.
//
// Builds a SQLite installation database with --records unreported usage
// records spread over --groups (transaction, server) pairs and starts the
// reference central service. Each of --runs repetitions takes a fresh copy
// of the database and runs frmMain::Get_Transaccion_Uso whole. The session
// the job uses is the real SQLite session inside a thin decorator that only
// measures how long each statement takes, so the database's time and the
// whole time come from the same run; the job's own part is the difference.
// Also prints the peak resident memory of the process during the report
// alone (the kernel's high-water mark is reset before each report). Prints
// medians.
//
// Every group has at least one record when --records is at least --groups,
// so "--records 1000000 --groups 1000000" is a report of a million rows.
//
// usage: usage_report_perftest [--records N] [--groups G] [--runs R]
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "central_service_fixture.h"
#include "platform/message_box.h"
#include "ui/frm_main.h"

namespace {

using Clock = std::chrono::steady_clock;
using quorvex::testing::CentralService;

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder under the temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "quorvex-bench-XXXXXX").string()) {
    if (mkdtemp(path_.data()) == nullptr) std::exit(1);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n", error ? error : "sqlite error");
    std::exit(1);
  }
}

void BuildDatabase(const std::string& path, long records, int groups) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  Exec(db, ReadFileBytes(std::string(QUORVEX_SOURCE_DIR) + "/sql/sqlite/schema.sql"));
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha, Enviado) "
                     "VALUES (?, ?, datetime('now', 'localtime', '-1 day', ?), 'NO')",
                     -1, &insert, nullptr);
  for (long i = 0; i < records; ++i) {
    // Every group once, then skewed group sizes so the ORDER BY has real
    // work to do.
    long g = i < groups ? i : (i * i + i / 7) % groups;
    std::string transaccion = "TRANSACCION-" + std::to_string(g % 20);
    std::string server = "SRV-" + std::to_string(g / 20);
    std::string offset = "+" + std::to_string(i % 80000) + " seconds";
    sqlite3_bind_text(insert, 1, transaccion.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, server.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, offset.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
  Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
  sqlite3_close(db);
}

std::string Open(const std::string& path) {
  return "Provider=SQLOLEDB.1;Password=;Persist Security Info=True;User ID=sa;"
         "Initial Catalog=EMPRESAS;Data Source=sqlite:" +
         path + ";APP=Quorvex";
}

// Forwards every statement to the real session and adds up its time, by
// kind of statement.
class TimedConnection final : public quorvex::Connection {
 public:
  explicit TimedConnection(std::unique_ptr<quorvex::Connection> inner) : inner_(std::move(inner)) {}
  quorvex::RowSet Execute(std::string_view sql) override {
    auto start = Clock::now();
    quorvex::RowSet rows = inner_->Execute(sql);
    double seconds = Seconds(Clock::now() - start);
    if (sql.find("COUNT(Id)") != std::string_view::npos) {
      counting += seconds;
    } else if (sql.starts_with("UPDATE")) {
      marking += seconds;
    } else {
      other += seconds;
    }
    return rows;
  }
  void SetCommandTimeout(std::chrono::seconds timeout) override {
    inner_->SetCommandTimeout(timeout);
  }
  std::string BackendName() const override { return inner_->BackendName(); }

  double counting = 0;
  double marking = 0;
  double other = 0;

 private:
  std::unique_ptr<quorvex::Connection> inner_;
};

// The process's peak resident memory since the last ResetPeakMemory, in
// KiB (Linux: VmHWM).
long PeakMemoryKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  long records = 1000000;
  int groups = 200;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    if (arg == "--records") records = std::atol(argv[i + 1]);
    if (arg == "--groups") groups = std::atoi(argv[i + 1]);
    if (arg == "--runs") runs = std::atoi(argv[i + 1]);
  }
  TempDir dir;
  const std::string pristine = dir.path() + "/pristine.db";
  const std::string work = dir.path() + "/work.db";
  const std::string log = dir.path() + "/events.jsonl";
  setenv("QUORVEX_EVENT_LOG", log.c_str(), 1);
  auto t0 = Clock::now();
  BuildDatabase(pristine, records, groups);
  std::printf("built %ld records in %d groups in %.1f s\n", records, groups,
              Seconds(Clock::now() - t0));

  CentralService service;
  auto boxes = quorvex::MakeConsoleMessageBox("Quorvex");
  std::vector<double> totals, counts, marks, others, owns, bytes, peaks;
  for (int r = 0; r < runs; ++r) {
    std::filesystem::copy_file(pristine, work, std::filesystem::copy_options::overwrite_existing);
    quorvex::RunState run;
    auto timed = std::make_unique<TimedConnection>(quorvex::OpenConnection(Open(work), dir.path()));
    TimedConnection* meter = timed.get();
    run.DbConnection = std::move(timed);
    run.WebServiceUrl = service.Url();
    run.StateFolder = dir.path();
    quorvex::frmMain form(run, *boxes);
    const int before = service.Received();
    ResetPeakMemory();
    auto start = Clock::now();
    form.Get_Transaccion_Uso();
    totals.push_back(Seconds(Clock::now() - start));
    peaks.push_back(static_cast<double>(PeakMemoryKiB()));
    counts.push_back(meter->counting);
    marks.push_back(meter->marking);
    others.push_back(meter->other);
    owns.push_back(totals.back() - meter->counting - meter->marking - meter->other);
    if (service.Received() != before + 1) {
      std::fprintf(stderr, "the report was not delivered\n");
      return 1;
    }
    bytes.push_back(static_cast<double>(service.Record(before + 1, ".xml").size()));
    auto left =
        run.DbConnection->Execute("SELECT COUNT(*) AS N FROM Transaccion_Uso WHERE Enviado = 'NO'");
    if (left.Field("N").value_or("?") != "0") {
      std::fprintf(stderr, "records left unmarked: %s\n", left.Field("N").value_or("?").c_str());
      return 1;
    }
  }
  const double total = Median(totals);
  const double count = Median(counts);
  const double mark = Median(marks);
  const double other = Median(others);
  const double own = Median(owns);
  std::printf("document: %.0f bytes\n", Median(bytes));
  std::printf("whole report (median of %d): %.3f s\n", runs, total);
  std::printf("  database counting:         %.3f s\n", count);
  std::printf("  database marking:          %.3f s\n", mark);
  std::printf("  other statements:          %.4f s (table check, server date)\n", other);
  std::printf("  job's own part:            %.4f s (%.2f%% of the whole; target < 5%%)\n", own,
              100.0 * own / total);
  std::printf("peak resident memory during the report: %.0f KiB\n", Median(peaks));
  std::printf("(each figure is the median over the runs of that figure)\n");
  return 0;
}
