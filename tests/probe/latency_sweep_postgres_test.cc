// The latency sweep through the ODBC session against the throw-away
// PostgreSQL server of tests/postgres (data source "QuorvexPgTest"), with
// servers on loopback listeners and the fake tool of this folder.
#include <map>

#include "probe_form_fixture.h"

namespace quorvex {
namespace {

using testing::ClosedLoopbackPort;
using testing::LoopbackListener;

class LatencySweepPostgresTest : public testing::ProbeFormTest {
 protected:
  LatencySweepPostgresTest() : ProbeFormTest(/*with_database=*/false) {}
  void SetUp() override {
    ASSERT_NE(std::getenv("ODBCINI"), nullptr) << "run through ctest (pg_harness.sh)";
    ASSERT_TRUE(listener_.ok());
    run_.DbConnection = OpenConnection(
        "Provider=SQLOLEDB.1;Password=quorvex;Persist Security Info=True;User ID=quorvex;"
        "Initial Catalog=quorvex_test;Data Source=odbc:QuorvexPgTest;APP=Quorvex",
        run_.ProgramFolder);
    run_.DbConnection->Execute("DELETE FROM Servidor_Timbrado");
    InstallFakeTool("tcping.exe", "Minimum = 1ms, Maximum = 20ms, Average = 12.5ms\n");
    form_.Form_Load();
  }

  void AddServer(const char* id, const char* url, const char* state) {
    auto text = [](const char* value) {
      return value ? "'" + std::string(value) + "'" : std::string("NULL");
    };
    run_.DbConnection->Execute(
        "INSERT INTO Servidor_Timbrado (St_ID, St_Url, Es_Cve_Estado, St_Ping) VALUES (" +
        text(id) + ", " + text(url) + ", " + text(state) + ", 5)");
  }

  std::map<std::string, double> Pings() {
    std::map<std::string, double> pings;
    RowSet rows = run_.DbConnection->Execute("SELECT St_ID, St_Ping FROM Servidor_Timbrado");
    for (; !rows.Eof(); rows.MoveNext()) {
      pings[rows.Field("St_ID").value_or("NULL")] = std::stod(rows.Field("St_Ping").value());
    }
    return pings;
  }

  LoopbackListener listener_;
  const std::string open_url_ = "http://127.0.0.1:" + std::to_string(listener_.port()) + "/x";
  const std::string closed_url_ =
      "https://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/x";
};

TEST_F(LatencySweepPostgresTest, MeasuresActiveServersAndQuotesIdentifiers) {
  AddServer("S1", open_url_.c_str(), "AC");
  AddServer("S2", closed_url_.c_str(), "AC");
  AddServer("BA1", open_url_.c_str(), "BA");
  AddServer("N1", open_url_.c_str(), nullptr);
  AddServer("O''Hara", open_url_.c_str(), "AC");
  form_.GetPingTimbrado();
  EXPECT_EQ(Pings(), (std::map<std::string, double>{
                         {"S1", 12.5}, {"S2", -1}, {"BA1", 5}, {"N1", 5}, {"O'Hara", 12.5}}));
  EXPECT_EQ(run_.SqlText,
            "UPDATE Servidor_Timbrado SET    St_Ping =  12.5 WHERE St_ID = 'O''Hara' ");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(LatencySweepPostgresTest, NullUrlStopsTheSweepThere) {
  AddServer("S1", open_url_.c_str(), "AC");
  AddServer("BROKEN", nullptr, "AC");
  AddServer("S3", open_url_.c_str(), "AC");
  form_.GetPingTimbrado();
  EXPECT_EQ(Pings(), (std::map<std::string, double>{{"S1", 12.5}, {"BROKEN", 5}, {"S3", 5}}));
  EXPECT_EQ(Messages(), std::vector<std::string>{"GetPingTimbrado()\r\nInvalid use of Null"});
}

}  // namespace
}  // namespace quorvex
