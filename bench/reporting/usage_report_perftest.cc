// The transaction usage report over a large installation: how much of a run
// is the job's own work (document, call, bookkeeping) and how much is the
// database counting and marking.
//
// Builds a SQLite installation database with --records unreported usage
// records spread over --groups (transaction, server) pairs, starts the
// reference central service, and then for each of --runs repetitions, on a
// fresh copy of the database:
//   1. runs frmMain::Get_Transaccion_Uso whole and times it (total);
//   2. on another fresh copy, runs the counting and the marking statements
//      alone through the same kind of session and times them (database).
// The job's own part is total minus database. Prints medians.
//
// usage: usage_report_perftest [--records N] [--groups G] [--runs R]
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "central_service_fixture.h"
#include "platform/message_box.h"
#include "reporting/modulo.h"
#include "ui/frm_main.h"

namespace {

using Clock = std::chrono::steady_clock;
using quorvex::testing::CentralService;
using quorvex::testing::ReadFileBytes;
using quorvex::testing::TempDir;

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
    // Skewed group sizes so the ORDER BY has real work to do.
    long g = (i * i + i / 7) % groups;
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
  auto boxes = quorvex::MakeConsoleMessageBox();
  std::vector<double> totals, counts, marks, bytes;
  for (int r = 0; r < runs; ++r) {
    std::filesystem::copy_file(pristine, work, std::filesystem::copy_options::overwrite_existing);
    {
      quorvex::RunState run;
      run.DbConnection = quorvex::OpenConnection(Open(work), dir.path());
      run.WebServiceUrl = service.Url();
      quorvex::frmMain form(run, *boxes);
      const int before = service.Received();
      auto start = Clock::now();
      form.Get_Transaccion_Uso();
      totals.push_back(Seconds(Clock::now() - start));
      if (service.Received() != before + 1) {
        std::fprintf(stderr, "the report was not delivered\n");
        return 1;
      }
      bytes.push_back(static_cast<double>(service.Document(before + 1).size()));
      auto left = run.DbConnection->Execute(
          "SELECT COUNT(*) AS N FROM Transaccion_Uso WHERE Enviado = 'NO'");
      if (left.Field("N").value_or("?") != "0") {
        std::fprintf(stderr, "records left unmarked: %s\n", left.Field("N").value_or("?").c_str());
        return 1;
      }
    }
    std::filesystem::copy_file(pristine, work, std::filesystem::copy_options::overwrite_existing);
    {
      quorvex::RunState run;
      run.DbConnection = quorvex::OpenConnection(Open(work), dir.path());
      const std::string cutoff = quorvex::Formato_Fecha(quorvex::Get_FechaServidor(run));
      auto start = Clock::now();
      run.DbConnection->Execute(std::string(" SELECT Transaccion, ") + "     Server_Id, " +
                                "     COUNT(Id) AS Accesos " + " FROM Transaccion_Uso " +
                                " WHERE Fecha <= '" + cutoff + "' AND " + "     Enviado = 'NO' " +
                                " GROUP BY Transaccion, " + "     Server_Id " +
                                " ORDER BY Accesos DESC ");
      auto counted = Clock::now();
      run.DbConnection->Execute(std::string("UPDATE Transaccion_Uso ") + " SET Enviado = 'SI' " +
                                " WHERE Fecha <= '" + cutoff + "' AND " + "     Enviado = 'NO' ");
      auto marked = Clock::now();
      counts.push_back(Seconds(counted - start));
      marks.push_back(Seconds(marked - counted));
    }
  }
  const double total = Median(totals);
  const double count = Median(counts);
  const double mark = Median(marks);
  const double own = total - count - mark;
  std::printf("document: %.0f bytes\n", Median(bytes));
  std::printf("whole report (median of %d): %.3f s\n", runs, total);
  std::printf("  database counting:         %.3f s\n", count);
  std::printf("  database marking:          %.3f s\n", mark);
  std::printf("  job's own part:            %.4f s (%.2f%% of the whole; target < 5%%)\n", own,
              100.0 * own / total);
  return 0;
}
