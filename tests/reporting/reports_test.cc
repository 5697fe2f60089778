// The two usage reports run whole: frmMain on a real database, the reference
// central service over loopback, the event log written to a file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "central_service_fixture.h"
#include "platform/message_box.h"
#include "reporting/marking_record.h"
#include "support/installation.h"
#include "support/loopback.h"
#include "ui/frm_main.h"

namespace quorvex {
namespace {

const std::string kUsageStart =
    "<Documento Tipo='TRANSACCION-USO' Usuario='' Password='' Empresa='' > \r\n"
    " <Transacciones>\r\n";

std::string UsageLine(const std::string& nombre, const std::string& sid, const std::string& fecha,
                      const std::string& accesos) {
  return "  <Transaccion Nombre=\"" + nombre + "\"  SID=\"" + sid + "\"  Fecha=\"" + fecha +
         "\"  Accesos=\"" + accesos + "\" />\r\n";
}

// The parameter names the session: the SQLite file of tests/support, or
// (only under the fixture of tests/postgres, which sets ODBCINI) the
// PostgreSQL server through ODBC, in a schema of its own to drop tables in.
class ReportsTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const bool pg = GetParam() == std::string("postgres");
    if (pg && !std::getenv("ODBCINI")) GTEST_SKIP() << "needs the fixture of tests/postgres";
    setenv("QUORVEX_EVENT_LOG", install_.EventLogPath().c_str(), 1);
    connection_string_ = pg ? "Password=quorvex;User ID=quorvex;Data Source=odbc:QuorvexPgTest"
                            : "Data Source=sqlite:" + install_.DatabasePath().string();
    run_.DbConnection = OpenConnection(connection_string_, install_.Folder().string());
    if (pg)
      Exec("DROP SCHEMA IF EXISTS reportes CASCADE; CREATE SCHEMA reportes; " +
           std::string(kSearchPath) +
           "; CREATE TABLE Transaccion_Uso (LIKE public.Transaccion_Uso"
           " INCLUDING ALL); CREATE TABLE Operadores (LIKE public.Operadores INCLUDING ALL)");
    run_.WebServiceUrl = service_.Url();
    run_.StateFolder = install_.Folder().string();
    form_ = std::make_unique<frmMain>(run_, *boxes_);
  }

  void Exec(const std::string& sql) { run_.DbConnection->Execute(sql); }
  // Records of Transaccion_Uso: Transaccion, Server_Id and Fecha as SQL.
  void Use(const std::string& values, const std::string& enviado, int count = 1) {
    for (int i = 0; i < count; ++i)
      Exec("INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha, Enviado) VALUES (" +
           values + ", '" + enviado + "')");
  }
  std::string Column(const std::string& sql) {
    std::string out;
    for (RowSet rows = run_.DbConnection->Execute(sql); !rows.Eof(); rows.MoveNext())
      out += rows.Field(rows.Columns().at(0)).value_or("NULL") + " ";
    return out;
  }
  // "type id message" of every entry written so far.
  std::vector<std::string> Entries() {
    std::vector<std::string> out;
    for (const auto& e : install_.Events())
      out.push_back(std::to_string(e.type) + " " + std::to_string(e.id) + " " + e.message);
    return out;
  }
  // The cut-off as the sent document number n carries it.
  std::string Cutoff(int n) {
    return service_.Record(n, ".xml").substr(service_.Record(n, ".xml").find("Fecha=\"") + 7, 19);
  }

  static constexpr char kSearchPath[] = "SET search_path TO reportes, public";
  std::string connection_string_;
  testing::Installation install_;
  testing::CentralService service_;
  std::unique_ptr<MessageBoxPresenter> boxes_ = MakeConsoleMessageBox("Quorvex");
  RunState run_;
  std::unique_ptr<frmMain> form_;
};

TEST_P(ReportsTest, UsageIsCountedSentAndExactlyTheCountedRecordsMarked) {
  Use("'TIMBRADO', '  SRV-1 ', '2020-01-01 10:00:00'", "NO", 4);
  Use("' CANCELACION ', '  SRV-1 ', '2020-01-01 10:00:00'", "NO", 3);
  Use("'TIMBRADO', 'SRV-2', '2020-01-01 10:00:00'", "NO", 2);
  Use("'CONSULTA', NULL, '2020-01-01 10:00:00'", "NO");
  Use("'TIMBRADO', ' \tSRV-3\t ', '2020-01-01 10:00:00'", "NO", 5);  // spaces trimmed, not tabs
  Use("'TIMBRADO', 'SRV-2', '2020-01-01 10:00:00'", "SI", 5);
  Use("'FUTURO', 'SRV-2', '2099-01-01 00:00:00'", "NO");
  Use("'OTRO', 'SRV-2', '2020-01-01 10:00:00'", "XX");  // never counted, never marked
  // Calls that mark nothing, why Consumir_WebService says they failed, and
  // whether the service may hold the report (its record is kept): then the
  // same report goes again, before anything new is counted. No mode: the
  // service's address is a closed port.
  const struct {
    const char* mode;
    const char* why;
    bool kept;
  } calls[] = {
      {"", "Funciones - Consumir_WebService(). NO FUE POSIBLE CONSUMIR EL WEBSERVICE. ", false},
      {"rechazado-lower", "EL WEBSERVICE HA RECHAZADO LA PETICION. MINUSCULAS", false},
      {"refuse", "Funciones - Consumir_WebService(). NO FUE POSIBLE CONSUMIR EL WEBSERVICE. ",
       true},
  };
  const std::string url = run_.WebServiceUrl;
  const std::string closed_url =
      "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort()) + "/update/update.asmx";
  const std::string record =
      MarkingRecordFile(run_.StateFolder, DatabaseIdentity(*run_.DbConnection)).Path();
  for (const auto& call : calls) {
    SCOPED_TRACE(call.mode);
    const bool closed = *call.mode == '\0';
    run_.WebServiceUrl = closed ? closed_url : url;
    if (!closed) service_.SetMode(call.mode);
    const std::size_t before = Entries().size();
    form_->Get_Transaccion_Uso();
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), before + 2 + call.kept);
    const std::string failed =
        "2 1002 Get_Transaccion_Uso()\r\nNO ES POSIBLE CONSUMIR EL WEBSERVICE";
    EXPECT_EQ(entries.at(before).substr(0, failed.size()), failed);
    if (!closed) {
      EXPECT_EQ(entries.at(before), failed + Cutoff(service_.Received()));
    }
    const std::string why = "2 1002 Consumir_WebService()\r\n" + std::string(call.why);
    EXPECT_EQ(entries.at(before + 1).substr(0, why.size()), why);
    EXPECT_EQ(Column("SELECT COUNT(*) FROM Transaccion_Uso WHERE Enviado = 'SI'"), "5 ");
    EXPECT_EQ(std::filesystem::exists(record), call.kept);
  }
  run_.WebServiceUrl = url;
  service_.SetMode("accept");
  form_->Get_Transaccion_Uso();

  const std::string cutoff = Cutoff(2);
  EXPECT_EQ(service_.Record(3, ".xml"), service_.Record(2, ".xml"));
  EXPECT_EQ(service_.Record(3, ".xml"),
            kUsageStart + UsageLine("TIMBRADO", "\tSRV-3\t", cutoff, "5") +
                UsageLine("TIMBRADO", "SRV-1", cutoff, "4") +
                UsageLine(" CANCELACION ", "SRV-1", cutoff, "3") +
                UsageLine("TIMBRADO", "SRV-2", cutoff, "2") +
                UsageLine("CONSULTA", "", cutoff, "1") + "  </Transacciones>\r\n </Documento>");
  EXPECT_EQ(Column("SELECT Transaccion FROM Transaccion_Uso WHERE Enviado <> 'SI' ORDER BY Id"),
            "FUTURO OTRO ");
  const auto entries = Entries();
  ASSERT_EQ(entries.size(), 10u);
  const std::string info = "4 1001 Get_Transaccion_Uso()\r\n", rows = " (15 records in 5 rows)";
  EXPECT_EQ(entries[7], info + "The usage report with cut-off " + cutoff + rows +
                            " may have reached the central web service in an earlier run without "
                            "its answer arriving: it is sent again as it was");
  EXPECT_EQ(entries[8], info + "The central web service accepted the usage report with cut-off " +
                            cutoff + rows + "; the marking statement marked 15 records as sent");
  const std::string nothing = info + "NO HAY TRANSACCIONES PARA ESTADISTICO EN ";
  EXPECT_EQ(entries[9].substr(0, nothing.size()), nothing);
  EXPECT_EQ(entries[9].size(), nothing.size() + 19) << entries[9];
  EXPECT_GE(entries[9].substr(nothing.size()), cutoff);
  EXPECT_FALSE(std::filesystem::exists(record));
}

// Records written with the database's clock while a report is under way,
// in the second it starts: none is marked without being counted, and the
// next report counts them. Every record marked 'SI' is billed once.
TEST_P(ReportsTest, RecordsOfTheCutOffsSecondAreCountedBeforeTheyAreMarked) {
  auto writer_session = OpenConnection(connection_string_, install_.Folder().string());
  if (GetParam() == std::string("postgres")) writer_session->Execute(kSearchPath);
  service_.SetMode("accept delay=600 once");
  Use("'TIMBRADO', 'SRV-1', '2020-01-01 10:00:00'", "NO");
  std::this_thread::sleep_until(
      std::chrono::ceil<std::chrono::seconds>(std::chrono::system_clock::now()) +
      std::chrono::milliseconds(20));
  std::thread writer([&] {
    for (int i = 0; i < 12; ++i) {
      writer_session->Execute(
          "INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha, Enviado) VALUES "
          "('TIMBRADO', 'SRV-1', GetDate(), 'NO')");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  form_->Get_Transaccion_Uso();
  writer.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  form_->Get_Transaccion_Uso();
  int billed = 0;
  for (int n = 1; n <= service_.Received(); ++n) {
    const std::string document = service_.Record(n, ".xml");
    for (std::size_t at = document.find("Accesos=\""); at != std::string::npos;
         at = document.find("Accesos=\"", at + 1))
      billed += std::stoi(document.substr(at + 9));
  }
  EXPECT_EQ(Column("SELECT COUNT(*) FROM Transaccion_Uso WHERE Enviado = 'SI'"),
            std::to_string(billed) + " ");
  EXPECT_EQ(billed, 13);
}

// A value the document cannot carry, or a document over its size limit:
// one error entry naming the rows, what is wrong and the fix; nothing is
// sent or marked. Each row: the Transaccion of the bad record (an SQL
// expression), the words of the entry; the embedded database alone stores
// the bytes of the first two and so long a value. A value longer than the
// limit is caught by its length before the counting; one within it that is
// longer in bytes, by the document's size.
TEST_P(ReportsTest, ValuesTheDocumentCannotCarryAreNamed) {
  const bool pg = GetParam() == std::string("postgres");
  const struct {
    const char* value;
    bool sqlite_only;
    const char* entry;
  } rows[] = {
      {"'A' || char(0) || 'B'", true, "1 of the 2 rows of the usage report with cut-off "},
      {"CAST(X'41FF42' AS TEXT)", true,
       "- Transaccion \"A\\xffB\", Server_Id \"S-1\": its Transaccion is not UTF-8: the byte 0xFF"
       " at offset 1"},
      {"'DOBLE\"COMILLA'", false,
       "- Transaccion \"DOBLE\"COMILLA\", Server_Id \"S-1\": its Transaccion holds a double quote,"
       " which ends the attribute early\r\nCorrect Transaccion or Server_Id of those records in "
       "table Transaccion_Uso"},
      {"'A & B'", false, "its Transaccion holds '&', which XML reads as the start of a reference"},
      {"REPLACE(HEX(ZEROBLOB(8500000)), '0', 'x')", true, "An unsent usage record up to cut-off "},
      {"REPLACE(HEX(ZEROBLOB(8387000)), '0', 'x') || REPLACE(HEX(ZEROBLOB(1000)), '0', char(233))",
       true,
       " bytes, more than the 16777216 bytes a usage document may have, so no usage is sent. Its "
       "largest row: Transaccion \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\"... (16778000 bytes), "
       "Server_Id \"S-1\""},
  };
  Use("'BUENA', 'S-1', '2020-01-01 00:00:00'", "NO", 3);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    if (pg && row.sqlite_only) continue;
    Exec("DELETE FROM Transaccion_Uso WHERE Transaccion <> 'BUENA'");
    Use(std::string(row.value) + ", 'S-1', '2020-01-01 00:00:00'", "NO");
    form_->Get_Transaccion_Uso();
    const std::string entry = Entries().back();
    EXPECT_TRUE(entry.starts_with("1 1003 Get_Transaccion_Uso()\r\n")) << entry;
    EXPECT_NE(entry.find(row.entry), std::string::npos) << entry.substr(0, 600);
  }
  EXPECT_EQ(service_.Received(), 0);
  EXPECT_EQ(Column("SELECT COUNT(*) FROM Transaccion_Uso WHERE Enviado = 'SI'"), "0 ");
}

TEST_P(ReportsTest, RosterCarriesTheLatestServerIdAndMarksNothing) {
  Use("'T', 'OLD', '2020-01-01 00:00:00'", "NO");
  Use("'T', ' \tSRV 9\t ', '2020-03-01 00:00:00'", "SI");  // the latest, reported or not
  Use("'T', 'MID', '2020-02-01 00:00:00'", "NO");
  Exec(
      "INSERT INTO Operadores VALUES ('CONFIG', 'x', 'x'), "
      "(' A1 ', 'Jos\xC3\xA9 O''N\xC3\xBA\xC3\xB1\x65z', NULL), ('DESARROLLO', 'y', 'y')");
  service_.SetMode("rechazado-lower");
  form_->Get_Operadores_Info();
  service_.SetMode("accept");
  form_->Get_Operadores_Info();

  // Accented names arrive as UTF-8 whatever the session; values unescaped.
  const std::string roster =
      "<Documento Tipo='OPERADOR-INFO' Usuario='' Password='' Empresa='' > \r\n <Operadores>\r\n"
      "  <Operador  SID=\"\tSRV 9\t\"  Operador=\" A1 \"  Nombre=\"Jos\xC3\xA9 "
      "O'N\xC3\xBA\xC3\xB1\x65z\"  Email=\"\" />\r\n  </Operadores>\r\n </Documento>";
  EXPECT_EQ(service_.Record(1, ".xml"), roster);
  EXPECT_EQ(service_.Record(2, ".xml"), roster);
  EXPECT_EQ(Entries(), (std::vector<std::string>{
                           "2 1002 Get_Operadores_Info()\r\nNO ES POSIBLE CONSUMIR EL WEBSERVICE",
                           "2 1002 Consumir_WebService()\r\nEL WEBSERVICE HA RECHAZADO LA PETICION."
                           " MINUSCULAS",
                           "4 1001 Get_Operadores_Info()\r\nOK"}));
  EXPECT_EQ(Column("SELECT Enviado FROM Transaccion_Uso ORDER BY Id"), "NO SI NO ");
}

// Each row: the report that runs ('U' usage, 'O' roster), the one entry it
// must write ("" for none; one ending in a line break is followed by a
// description), and the statements run before it. Nothing is ever sent.
TEST_P(ReportsTest, ReportsWithoutADocumentWriteTheirOneEntry) {
  const struct {
    char report;
    std::string entry;
    std::vector<std::string> sql;
  } steps[] = {
      // clang-format off
      {'U', "2 1002 Get_Transaccion_Uso()\r\nTABLA Transaccion_Uso NO EXISTE!",
       {"INSERT INTO Operadores VALUES ('A1', 'Ana', 'a')", "DROP TABLE Transaccion_Uso"}},
      {'O', "2 1002 Get_Operadores_Info()\r\nTABLA Transaccion_Uso NO EXISTE!", {}},
      {'U', "1 1003 Get_Transaccion_Uso()\r\n", {"CREATE TABLE Transaccion_Uso (Id integer, "
       "Transaccion varchar(9), Server_Id varchar(9), Fecha varchar(19))"}},  // no Enviado
      {'O', "1 1003 Get_Operadores_Info()\r\nInvalid use of Null",
       {"INSERT INTO Transaccion_Uso VALUES (1, 'T', NULL, '2020-01-01 00:00:00')"}},
      {'O', "4 1001 Get_Operadores_Info()\r\nNO SE PUDO HAYAR EL SERVER ID",
       {"DELETE FROM Transaccion_Uso"}},
      {'O', "", {"INSERT INTO Transaccion_Uso VALUES (1, 'T', 'S', '2020-01-01 00:00:00')",
       "DELETE FROM Operadores",
       "INSERT INTO Operadores VALUES ('CONFIG', 'c', 'c'), ('DESARROLLO', 'd', 'd')"}},
      {'O', "2 1002 Get_Operadores_Info()\r\nTABLA Operadores NO EXISTE!",
       {"DROP TABLE Operadores"}},
      {'O', "2 1002 Get_Operadores_Info()\r\nTABLA Operadores NO EXISTE!",  // a view
       {"CREATE VIEW Operadores AS SELECT 'A1' AS Operador, 'Ana' AS Nombre, 'a' AS Email"}},
      // clang-format on
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.entry);
    for (const std::string& sql : step.sql) Exec(sql);
    const std::size_t before = Entries().size();
    step.report == 'U' ? form_->Get_Transaccion_Uso() : form_->Get_Operadores_Info();
    const std::vector<std::string> entries = Entries();
    ASSERT_EQ(entries.size(), before + !step.entry.empty());
    if (step.entry.empty()) continue;
    const std::string& last = entries.back();
    EXPECT_EQ(step.entry.ends_with("\n") ? last.substr(0, step.entry.size()) : last, step.entry);
  }
  EXPECT_EQ(service_.Received(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, ReportsTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace quorvex
