// The two usage reports run whole: frmMain on a real SQLite installation
// database, the reference central service over loopback, the event log
// written to a file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "central_service_fixture.h"
#include "event_log_reader.h"
#include "platform/message_box.h"
#include "ui/frm_main.h"

namespace quorvex {
namespace {

using testing::CentralService;
using testing::Entry;
using testing::ReadEntries;
using testing::ReadFileBytes;
using testing::TempDir;

// A second session on the same database file, for the test's own reads and
// writes (also while the job is waiting for the service).
class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open failed");
    sqlite3_busy_timeout(db_, 10000);
  }
  ~Db() { sqlite3_close(db_); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(message + " in " + sql);
    }
  }
  // First column of every row, NULL as "<NULL>".
  std::vector<std::string> Column(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db_));
    }
    std::vector<std::string> values;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      values.push_back(text ? reinterpret_cast<const char*>(text) : "<NULL>");
    }
    sqlite3_finalize(stmt);
    return values;
  }

 private:
  sqlite3* db_ = nullptr;
};

const std::string kUsageHeader =
    "<Documento Tipo='TRANSACCION-USO' Usuario='' Password='' "
    "Empresa='' > \r\n <Transacciones>\r\n";
const std::string kRosterHeader =
    "<Documento Tipo='OPERADOR-INFO' Usuario='' Password='' "
    "Empresa='' > \r\n <Operadores>\r\n";

std::string UsageLine(const std::string& nombre, const std::string& sid, const std::string& fecha,
                      int accesos) {
  return "  <Transaccion Nombre=\"" + nombre + "\"  SID=\"" + sid + "\"  Fecha=\"" + fecha +
         "\"  Accesos=\"" + std::to_string(accesos) + "\" />\r\n";
}

std::string RosterLine(const std::string& sid, const std::string& op, const std::string& nombre,
                       const std::string& email) {
  return "  <Operador  SID=\"" + sid + "\"  Operador=\"" + op + "\"  Nombre=\"" + nombre +
         "\"  Email=\"" + email + "\" />\r\n";
}

class ReportsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new CentralService(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }

  void SetUp() override {
    db_path_ = dir_.path() + "/quorvex.db";
    log_path_ = dir_.path() + "/events.jsonl";
    setenv("QUORVEX_EVENT_LOG", log_path_.c_str(), 1);
    db_ = std::make_unique<Db>(db_path_);
    db_->Exec(ReadFileBytes(std::string(QUORVEX_SOURCE_DIR) + "/sql/sqlite/schema.sql"));
    run_.DbConnection = OpenConnection(
        "Provider=SQLOLEDB.1;Password=;Persist Security Info=True;User ID=sa;"
        "Initial Catalog=EMPRESAS;Data Source=sqlite:" +
            db_path_ + ";APP=Quorvex",
        dir_.path());
    run_.WebServiceUrl = service_->Url();
    service_->SetMode("accept");
    received_before_ = service_->Received();
    form_ = std::make_unique<frmMain>(run_, *boxes_);
  }

  void TearDown() override {
    form_.reset();
    unsetenv("QUORVEX_EVENT_LOG");
  }

  std::vector<Entry> Entries() { return ReadEntries(log_path_); }
  int Sent() { return service_->Received() - received_before_; }
  std::string SentDocument(int n = 1) { return service_->Document(received_before_ + n); }

  // The cut-off as written into the Fecha attributes of a sent document.
  static std::string CutoffOf(const std::string& document) {
    std::smatch m;
    if (!std::regex_search(document, m, std::regex("Fecha=\"([^\"]*)\""))) return "";
    return m[1];
  }

  std::string EnviadoById() {
    std::string out;
    for (const auto& v : db_->Column("SELECT Enviado FROM Transaccion_Uso ORDER BY Id"))
      out += v + " ";
    return out;
  }

  static CentralService* service_;
  TempDir dir_;
  std::string db_path_;
  std::string log_path_;
  std::unique_ptr<Db> db_;
  std::unique_ptr<MessageBoxPresenter> boxes_ = MakeConsoleMessageBox();
  RunState run_;
  std::unique_ptr<frmMain> form_;
  int received_before_ = 0;
};

CentralService* ReportsTest::service_ = nullptr;

constexpr char kPast[] = "datetime('now', 'localtime', '-1 hour')";
constexpr char kFuture[] = "datetime('now', 'localtime', '+1 day')";

void InsertUsage(Db& db, const std::string& transaccion, const std::string& server_id,
                 const std::string& fecha_sql, const std::string& enviado, int count = 1) {
  for (int i = 0; i < count; ++i) {
    db.Exec("INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha, Enviado) VALUES (" +
            transaccion + ", " + server_id + ", " + fecha_sql + ", '" + enviado + "')");
  }
}

TEST_F(ReportsTest, UsageCountsGroupedOrderedSentAndMarked) {
  InsertUsage(*db_, "'TIMBRADO'", "'  SRV-1 '", kPast, "NO", 5);
  InsertUsage(*db_, "'TIMBRADO'", "'SRV-2'", kPast, "NO", 3);          // same name, other server
  InsertUsage(*db_, "' CANCELACION '", "'  SRV-1 '", kPast, "NO", 4);  // same server, other name
  InsertUsage(*db_, "'CONSULTA'", "'SRV-2'", kPast, "NO", 1);
  InsertUsage(*db_, "'TIMBRADO'", "'SRV-2'", kPast, "SI", 7);    // reported before
  InsertUsage(*db_, "'TIMBRADO'", "'SRV-2'", kFuture, "NO", 2);  // after the cut-off

  form_->Get_Transaccion_Uso();

  ASSERT_EQ(Sent(), 1);
  const std::string document = SentDocument();
  const std::string cutoff = CutoffOf(document);
  ASSERT_TRUE(std::regex_match(cutoff, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << cutoff;
  EXPECT_EQ(document, kUsageHeader + UsageLine("TIMBRADO", "SRV-1", cutoff, 5) +
                          UsageLine(" CANCELACION ", "SRV-1", cutoff, 4) +
                          UsageLine("TIMBRADO", "SRV-2", cutoff, 3) +
                          UsageLine("CONSULTA", "SRV-2", cutoff, 1) +
                          "  </Transacciones>\r\n </Documento>");
  EXPECT_TRUE(Entries().empty());
  EXPECT_EQ(db_->Column("SELECT COUNT(*) FROM Transaccion_Uso WHERE Enviado = 'NO'"),
            std::vector<std::string>{"2"});
  EXPECT_EQ(db_->Column("SELECT COUNT(*) FROM Transaccion_Uso WHERE Enviado = 'NO' AND Fecha > '" +
                        cutoff + "'"),
            std::vector<std::string>{"2"});

  // A second run finds nothing left up to its cut-off.
  form_->Get_Transaccion_Uso();
  EXPECT_EQ(Sent(), 1);
  auto entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].type, 4);
  EXPECT_TRUE(entries[0].message.starts_with(
      "Get_Transaccion_Uso()\r\nNO HAY TRANSACCIONES PARA ESTADISTICO EN "))
      << entries[0].message;
  EXPECT_TRUE(std::regex_match(entries[0].message.substr(entries[0].message.size() - 19),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
}

TEST_F(ReportsTest, RecordAtTheCutoffIsCountedAndMarked) {
  // Start just after a second boundary so that the record's second and the
  // cut-off read a moment later are the same second.
  const auto now = std::chrono::system_clock::now();
  const auto next = std::chrono::ceil<std::chrono::seconds>(now) + std::chrono::milliseconds(20);
  std::this_thread::sleep_until(next);
  InsertUsage(*db_, "'TIMBRADO'", "'SRV-1'", "datetime('now', 'localtime')", "NO");
  const std::string fecha = db_->Column("SELECT Fecha FROM Transaccion_Uso")[0];

  form_->Get_Transaccion_Uso();

  ASSERT_EQ(Sent(), 1);
  EXPECT_EQ(CutoffOf(SentDocument()), fecha);
  EXPECT_EQ(EnviadoById(), "SI ");
}

TEST_F(ReportsTest, RecordWrittenDuringTheCallStaysUnsent) {
  InsertUsage(*db_, "'TIMBRADO'", "'SRV-1'", kPast, "NO", 2);
  service_->SetMode("accept delay=2500 once");
  std::atomic<bool> inserted{false};
  std::thread writer([&] {
    Db second(db_path_);
    while (service_->Received() == received_before_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The cut-off was taken before the request left; a record written a
    // second later lies after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    InsertUsage(second, "'TIMBRADO'", "'SRV-1'", "datetime('now', 'localtime')", "NO");
    inserted = true;
  });
  form_->Get_Transaccion_Uso();
  writer.join();

  ASSERT_TRUE(inserted);
  ASSERT_EQ(Sent(), 1);
  EXPECT_NE(SentDocument().find("Accesos=\"2\""), std::string::npos);
  EXPECT_EQ(EnviadoById(), "SI SI NO ");
  EXPECT_TRUE(Entries().empty());
}

TEST_F(ReportsTest, RejectedOrFailedCallMarksNothing) {
  InsertUsage(*db_, "'TIMBRADO'", "'SRV-1'", kPast, "NO", 3);
  // The two huge answers go past the job's 64 MiB cap: one announced, one
  // cut off as it arrives.
  for (const char* mode :
       {"rechazado-lower", "refuse", "partial", "status 503\nMANTENIMIENTO", "fault",
        "empty-result", "no-attributes", "huge 1000000000", "huge-chunked 1000000000"}) {
    SCOPED_TRACE(mode);
    service_->SetMode(mode);
    const int before = Sent();
    form_->Get_Transaccion_Uso();
    ASSERT_EQ(Sent(), before + 1);
    const std::string cutoff = CutoffOf(SentDocument(before + 1));
    auto entries = Entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(),
              (Entry{2, "Get_Transaccion_Uso()\r\nNO ES POSIBLE CONSUMIR EL WEBSERVICE" + cutoff}));
    EXPECT_EQ(EnviadoById(), "NO NO NO ");
  }
  EXPECT_EQ(Entries().size(), 9u);
}

TEST_F(ReportsTest, ValueXmlCannotCarryIsNotSentAndMarksNothing) {
  for (const char* nombre :
       {"'TIM' || char(0) || 'BRE'", "'TIM' || char(27)", "CAST(X'54494DE9' AS TEXT)"}) {
    SCOPED_TRACE(nombre);
    db_->Exec("DELETE FROM Transaccion_Uso");
    InsertUsage(*db_, nombre, "'SRV-1'", kPast, "NO", 2);
    form_->Get_Transaccion_Uso();
    EXPECT_EQ(Sent(), 0);
    EXPECT_EQ(EnviadoById(), "NO NO ");
    auto entries = Entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().type, 2);
    EXPECT_TRUE(entries.back().message.starts_with(
        "Get_Transaccion_Uso()\r\nNO ES POSIBLE CONSUMIR EL WEBSERVICE"))
        << entries.back().message;
  }
}

TEST_F(ReportsTest, NullsAndMarkupInValuesArriveUnescaped) {
  // A table of the installation that allows NULL in every column the job
  // writes into the document.
  db_->Exec("DROP TABLE Transaccion_Uso");
  db_->Exec(
      "CREATE TABLE Transaccion_Uso (Id INTEGER PRIMARY KEY, Transaccion TEXT, "
      "Server_Id TEXT, Fecha TEXT, Enviado TEXT)");
  InsertUsage(*db_, "NULL", "'SRV-1'", kPast, "NO", 3);
  InsertUsage(*db_, "'TIM\"BRE & <CIA>'", "NULL", kPast, "NO", 2);
  InsertUsage(*db_, "'O''NEIL'", "'   '", kPast, "NO", 1);

  form_->Get_Transaccion_Uso();

  ASSERT_EQ(Sent(), 1);
  const std::string document = SentDocument();
  const std::string cutoff = CutoffOf(document);
  EXPECT_EQ(document, kUsageHeader + UsageLine("", "SRV-1", cutoff, 3) +
                          UsageLine("TIM\"BRE & <CIA>", "", cutoff, 2) +
                          UsageLine("O'NEIL", "", cutoff, 1) +
                          "  </Transacciones>\r\n </Documento>");
  // Unescaped markup is not XML: the service says so and nothing is marked.
  EXPECT_EQ(EnviadoById(), "NO NO NO NO NO NO ");
  auto entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0],
            (Entry{2, "Get_Transaccion_Uso()\r\nNO ES POSIBLE CONSUMIR EL WEBSERVICE" + cutoff}));
}

TEST_F(ReportsTest, MissingTablesAreWarnedAboutAndNothingIsSent) {
  db_->Exec("INSERT INTO Operadores VALUES ('A1', 'Ana', 'ana@example.com')");
  db_->Exec("DROP TABLE Transaccion_Uso");
  form_->Get_Transaccion_Uso();
  form_->Get_Operadores_Info();
  db_->Exec(
      "CREATE TABLE Transaccion_Uso (Id INTEGER PRIMARY KEY, Transaccion TEXT, "
      "Server_Id TEXT, Fecha TEXT, Enviado TEXT)");
  InsertUsage(*db_, "'T'", "'S'", kPast, "NO");
  db_->Exec("DROP TABLE Operadores");
  form_->Get_Operadores_Info();
  // A view is not a user table.
  db_->Exec("CREATE VIEW Operadores AS SELECT 'A1' AS Operador, 'Ana' AS Nombre, '' AS Email");
  form_->Get_Operadores_Info();

  EXPECT_EQ(Sent(), 0);
  EXPECT_EQ(Entries(), (std::vector<Entry>{
                           {2, "Get_Transaccion_Uso()\r\nTABLA Transaccion_Uso NO EXISTE!"},
                           {2, "Get_Operadores_Info()\r\nTABLA Transaccion_Uso NO EXISTE!"},
                           {2, "Get_Operadores_Info()\r\nTABLA Operadores NO EXISTE!"},
                           {2, "Get_Operadores_Info()\r\nTABLA Operadores NO EXISTE!"},
                       }));
}

TEST_F(ReportsTest, DatabaseErrorsEndInTheErrorEntry) {
  db_->Exec("DROP TABLE Transaccion_Uso");
  db_->Exec(
      "CREATE TABLE Transaccion_Uso (Id INTEGER PRIMARY KEY, Transaccion TEXT, "
      "Server_Id TEXT, Fecha TEXT)");  // no Enviado column
  form_->Get_Transaccion_Uso();
  db_->Exec("INSERT INTO Transaccion_Uso VALUES (1, 'T', NULL, '2026-01-01 00:00:00')");
  db_->Exec("INSERT INTO Operadores VALUES ('A1', 'Ana', 'ana@example.com')");
  form_->Get_Operadores_Info();  // the latest record has no Server_Id

  EXPECT_EQ(Sent(), 0);
  auto entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].type, 1);
  EXPECT_TRUE(entries[0].message.starts_with("Get_Transaccion_Uso()\r\n"));
  EXPECT_NE(entries[0].message.find("Enviado"), std::string::npos) << entries[0].message;
  EXPECT_EQ(entries[1], (Entry{1, "Get_Operadores_Info()\r\nInvalid use of Null"}));
}

TEST_F(ReportsTest, RosterCarriesTheLatestServerIdAndLeavesOutReservedAccounts) {
  InsertUsage(*db_, "'TIMBRADO'", "'OLD'", "'2026-01-01 00:00:00'", "NO");
  InsertUsage(*db_, "'TIMBRADO'", "'  SRV 9 '", "'2026-03-01 00:00:00'", "SI");  // latest
  InsertUsage(*db_, "'TIMBRADO'", "'MID'", "'2026-02-01 00:00:00'", "NO");
  db_->Exec("DROP TABLE Operadores");
  db_->Exec("CREATE TABLE Operadores (Operador TEXT, Nombre TEXT, Email TEXT)");
  db_->Exec(
      "INSERT INTO Operadores VALUES ('CONFIG', 'x', 'x'), ('A1', 'Ana \"La\" Jefa', "
      "'ana&co@example.com'), ('DESARROLLO', 'y', 'y'), (' B2 ', NULL, NULL), "
      "('config', 'minusculas', '')");

  form_->Get_Operadores_Info();

  ASSERT_EQ(Sent(), 1);
  EXPECT_EQ(SentDocument(), kRosterHeader +
                                RosterLine("SRV 9", "A1", "Ana \"La\" Jefa", "ana&co@example.com") +
                                RosterLine("SRV 9", " B2 ", "", "") +
                                RosterLine("SRV 9", "config", "minusculas", "") +
                                "  </Operadores>\r\n </Documento>");
  // The markup makes it malformed for the service: the warning entry.
  EXPECT_EQ(
      Entries(),
      (std::vector<Entry>{{2, "Get_Operadores_Info()\r\nNO ES POSIBLE CONSUMIR EL WEBSERVICE"}}));

  db_->Exec(
      "UPDATE Operadores SET Nombre = 'Ana', Email = 'ana@example.com' WHERE Operador = 'A1'");
  form_->Get_Operadores_Info();
  ASSERT_EQ(Sent(), 2);
  auto entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], (Entry{4, "Get_Operadores_Info()\r\nOK"}));
  EXPECT_EQ(EnviadoById(), "NO SI NO ");  // the roster marks nothing
}

TEST_F(ReportsTest, RosterNeedsAUsageRecordAndAnUnreservedOperator) {
  db_->Exec("INSERT INTO Operadores VALUES ('A1', 'Ana', 'ana@example.com')");
  form_->Get_Operadores_Info();  // no usage record yet
  db_->Exec("DELETE FROM Operadores");
  db_->Exec("INSERT INTO Operadores VALUES ('CONFIG', 'c', 'c'), ('DESARROLLO', 'd', 'd')");
  InsertUsage(*db_, "'TIMBRADO'", "'SRV-1'", kPast, "NO");
  form_->Get_Operadores_Info();  // only reserved accounts: no document, no entry

  EXPECT_EQ(Sent(), 0);
  EXPECT_EQ(Entries(),
            (std::vector<Entry>{{4, "Get_Operadores_Info()\r\nNO SE PUDO HAYAR EL SERVER ID"}}));
}

}  // namespace
}  // namespace quorvex
