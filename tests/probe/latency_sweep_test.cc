// The latency sweep on a real database, SQLite or the PostgreSQL server of
// tests/postgres, with servers on loopback listeners and fake tools that
// print a prepared reply; and the whole job with the real tcping.exe and
// psping.exe under several regional settings.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "probe_form_fixture.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using Pings = std::map<std::string, double>;

// Each backend: its connection string (the SQLite one ends where the
// database path goes), and the statements that make the UPDATE of server
// S2 fail and that undo them.
struct Backend {
  const char* name;
  const char* connection;
  std::vector<const char*> refuse_s2;
  const char* allow;
};
const Backend kBackends[] = {
    {"sqlite",
     "Provider=SQLOLEDB.1;Password=;User ID=sa;Initial Catalog=EMPRESAS;Data Source=sqlite:",
     {"CREATE TRIGGER refuse BEFORE UPDATE ON Servidor_Timbrado WHEN NEW.St_ID = 'S2' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END"},
     "DROP TRIGGER IF EXISTS refuse"},
    {"postgres",
     "Provider=SQLOLEDB.1;Password=quorvex;Persist Security Info=True;User ID=quorvex;"
     "Initial Catalog=quorvex_test;Data Source=odbc:QuorvexPgTest;APP=Quorvex",
     {"CREATE OR REPLACE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
      "$$BEGIN RAISE EXCEPTION 'refused'; END$$",
      "CREATE TRIGGER refuse BEFORE UPDATE ON Servidor_Timbrado FOR EACH ROW "
      "WHEN (NEW.St_ID = 'S2') EXECUTE FUNCTION refuse()"},
     "DROP TRIGGER IF EXISTS refuse ON Servidor_Timbrado"},
};

class LatencySweepTest : public testing::ProbeFormTest,
                         public ::testing::WithParamInterface<Backend> {
 protected:
  void SetUp() override {
    std::string connection = GetParam().connection;
    if (connection.ends_with("sqlite:")) connection += installation_.DatabasePath().string();
    run_.DbConnection = OpenConnection(connection, run_.ProgramFolder);
    Reset();
    form_.Form_Load();
  }
  void TearDown() override { run_.DbConnection->Execute(GetParam().allow); }
  void Reset() {
    run_.DbConnection->Execute(GetParam().allow);
    run_.DbConnection->Execute("DELETE FROM Servidor_Timbrado");
  }

  void Add(const char* id, const std::string& url, const char* state) {
    auto text = [](const char* value) { return value ? "'" + std::string(value) + "'" : "NULL"; };
    run_.DbConnection->Execute(
        "INSERT INTO Servidor_Timbrado (St_ID, St_Url, Es_Cve_Estado, St_Ping) VALUES (" +
        text(id) + ", " + text(url.empty() ? nullptr : url.c_str()) + ", " + text(state) + ", 5)");
  }
  Pings StPing() {
    Pings pings;
    RowSet rows = run_.DbConnection->Execute("SELECT St_ID, St_Ping FROM Servidor_Timbrado");
    for (; !rows.Eof(); rows.MoveNext()) {
      pings[rows.Field("St_ID").value_or("NULL")] = std::stod(rows.Field("St_Ping").value());
    }
    return pings;
  }

  testing::LoopbackListener listener_;
  const std::string open_ = std::to_string(listener_.port());
  const std::string closed_ = std::to_string(testing::ClosedLoopbackPort());
};

TEST_P(LatencySweepTest, MeasuresEveryActiveServerInTurn) {
  InstallFakeTool("tcping.exe", "     Minimum = 1ms, Maximum = 20ms, Average = 12.5ms\n");
  Add("S1", "http://localhost:" + open_ + "/timbrado/servicio.asmx", "AC");
  Add("S2", "https://127.0.0.1:" + closed_ + "/x", "AC");
  Add("S3", "127.0.0.1:" + open_, "AC");
  Add("BA1", "http://127.0.0.1:" + open_ + "/", "BA");
  Add("N1", "http://127.0.0.1:" + open_ + "/", nullptr);
  Add(nullptr, "http://127.0.0.1:" + open_ + "/", "AC");
  Add("O''Hara", "HTTP://127.0.0.1:" + open_ + "/x", "AC");
  form_.GetPingTimbrado();
  EXPECT_EQ(StPing(), (Pings{{"S1", 12.5},
                             {"S2", -1},
                             {"S3", 12.5},
                             {"BA1", 5},
                             {"N1", 5},
                             {"NULL", 5},
                             {"O'Hara", 12.5}}));
  // The closed port is never measured; hosts keep their ports and an
  // upper-case scheme becomes the host.
  const std::string local = "-i|0|127.0.0.1:" + open_ + "|80";
  EXPECT_EQ(CallsOf("tcping.exe"), (std::vector<std::string>{"-i|0|localhost:" + open_ + "|80",
                                                             local, local, "-i|0|HTTP:|80"}));
  EXPECT_EQ(run_.SqlText,
            "UPDATE Servidor_Timbrado SET    St_Ping =  12.5 WHERE St_ID = 'O''Hara' ");
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_P(LatencySweepTest, PingModeChoosesTheTool) {
  InstallFakeTool("tcping.exe", "Average = 1.5ms");
  InstallFakeTool("psping.exe", "Average = 2ms");
  InstallFakeTool("ping", "Average = 9ms, Media = 3ms");
  const struct {
    std::int16_t mode;
    const std::string& port;
    const char* latency;
  } cases[] = {{1, open_, " 1.5"}, {2, open_, " 2"},  {0, open_, " 3"},
               {3, open_, " 3"},   {-7, open_, " 3"}, {1, closed_, "-1"}};
  for (const auto& c : cases) {
    Reset();
    Add("S1", "https://127.0.0.1:" + c.port + "/servicio", "AC");
    run_.Settings.PingMode = c.mode;
    form_.GetPingTimbrado();
    EXPECT_EQ(run_.SqlText, "UPDATE Servidor_Timbrado SET    St_Ping = " + std::string(c.latency) +
                                " WHERE St_ID = 'S1' ")
        << c.mode;
  }
  EXPECT_EQ(form_.objDOS()->CommandLine(), "ping 127.0.0.1:" + open_);
  EXPECT_TRUE(Messages().empty());
}

// A row that cannot be handled ends the sweep there with one error entry.
TEST_P(LatencySweepTest, FailureStopsTheSweep) {
  InstallFakeTool("tcping.exe", "Average = 12.5ms");
  const std::string url = "http://127.0.0.1:" + open_ + "/";
  const struct {
    const char* url_of_s3;
    bool refuse_s2;
    Pings pings;
    const char* description;
  } cases[] = {
      {"", false, {{"S1", 12.5}, {"S2", 12.5}, {"S3", 5}, {"S4", 5}}, "Invalid use of Null"},
      {url.c_str(), true, {{"S1", 12.5}, {"S2", 5}, {"S3", 5}, {"S4", 5}}, "refused"},
  };
  for (const auto& c : cases) {
    Reset();
    fs::remove(installation_.EventLogPath());
    for (const char* statement : GetParam().refuse_s2) {
      if (c.refuse_s2) run_.DbConnection->Execute(statement);
    }
    for (const char* id : {"S1", "S2", "S3", "S4"}) Add(id, id[1] == '3' ? c.url_of_s3 : url, "AC");
    form_.GetPingTimbrado();
    EXPECT_EQ(StPing(), c.pings) << c.description;
    const auto events = installation_.Events();
    ASSERT_EQ(events.size(), 1u) << c.description;
    EXPECT_EQ(events[0].type, 1);
    EXPECT_EQ(events[0].id, 1003);
    EXPECT_TRUE(events[0].message.starts_with("GetPingTimbrado()\r\n")) << events[0].message;
    EXPECT_NE(events[0].message.find(c.description), std::string::npos) << events[0].message;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, LatencySweepTest, ::testing::ValuesIn(kBackends),
                         [](const auto& info) { return std::string(info.param.name); });

// The whole job with the real tcping.exe and psping.exe, each behind a
// pass-through that keeps a copy of what it printed: under every regional
// setting the stored St_Ping is the average the tool printed, read with the
// user's decimal separator and written into SQL with a full stop.
TEST(LatencySweepProgramTest, StoresThePrintedAverageUnderEveryLocale) {
  const std::string address = "127.0.0." + std::to_string(20 + getpid() % 200);
  testing::LoopbackListener web(address.c_str(), 80);
  if (!web.ok()) GTEST_SKIP() << "cannot listen on " << address << ":80";
  testing::Installation installation;
  for (const char* tool : {"tcping.exe", "psping.exe"}) {
    const fs::path path = installation.Folder() / tool;
    fs::rename(path, path.string() + ".real");
    std::ofstream(path) << "#!/bin/sh\n\"$0.real\" \"$@\" | tee \"$0.out\"\n";
    fs::permissions(path, fs::perms::owner_all);
  }
  installation.Exec("INSERT INTO Servidor_Timbrado VALUES ('S1', 'http://" + address +
                    "/timbrado/servicio.asmx', 'AC', 5)");
  for (const char* locale : {"es_ES.UTF-8", "de_DE.UTF-8", "es_MX.UTF-8", "C"}) {
    for (const char* tool : {"tcping.exe", "psping.exe"}) {
      SCOPED_TRACE(std::string(locale) + " " + tool);
      installation.WriteSettings(testing::Installation::SqliteSettings(
          std::string("PING-MODE=") + (tool[0] == 't' ? "1" : "2") + "\n"));
      fs::remove(installation.Folder() / (std::string(tool) + ".out"));
      const auto result = installation.RunJob({{"LC_ALL", locale}});
      ASSERT_EQ(result.exit_code, 0) << result.output;
      std::ifstream printed(installation.Folder() / (std::string(tool) + ".out"));
      const std::string output((std::istreambuf_iterator<char>(printed)), {});
      const std::size_t at = output.find("Average = ");
      ASSERT_NE(at, std::string::npos) << output;
      std::string average = output.substr(at + 10, output.find("ms", at) - at - 10);
      std::replace(average.begin(), average.end(), ',', '.');
      const double stored = std::stod(installation.Scalar("SELECT St_Ping FROM Servidor_Timbrado"));
      EXPECT_DOUBLE_EQ(stored, std::stod(average)) << output;
      EXPECT_GT(stored, 0);
    }
  }
}

}  // namespace
}  // namespace quorvex
