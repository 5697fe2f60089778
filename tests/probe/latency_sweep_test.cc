// The latency sweep on SQLite and PostgreSQL with servers on loopback
// listeners and fake tools; and the whole job with the real tools.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "probe_form_fixture.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// The parameter is the data source: SQLite, or PostgreSQL through ODBC.
class LatencySweepTest : public testing::ProbeFormTest,
                         public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    run_.DbConnection = OpenConnection(
        "Provider=SQLOLEDB.1;Password=quorvex;User ID=quorvex;Initial Catalog=quorvex_test;"
        "Data Source=" +
            GetParam() + (GetParam() == "sqlite:" ? installation_.DatabasePath().string() : ""),
        run_.ProgramFolder);
    Reset();
    form_.Form_Load();
  }
  void TearDown() override { Reset(); }
  // An empty table; refuse_s2: one whose UPDATE of server S2 fails.
  void Reset(bool refuse_s2 = false) {
    run_.DbConnection->Execute("DROP TABLE Servidor_Timbrado");
    run_.DbConnection->Execute(
        "CREATE TABLE Servidor_Timbrado (St_ID varchar(20), St_Url varchar(500), "
        "Es_Cve_Estado varchar(10), St_Ping numeric(18, 4)" +
        std::string(refuse_s2 ? ", CHECK (St_ID <> 'S2' OR St_Ping = 5))" : ")"));
  }

  void Add(const char* id, const std::string& url, const char* state) {
    auto text = [](const char* value) { return value ? "'" + std::string(value) + "'" : "NULL"; };
    run_.DbConnection->Execute("INSERT INTO Servidor_Timbrado VALUES (" + text(id) + ", " +
                               text(url.empty() ? nullptr : url.c_str()) + ", " + text(state) +
                               ", 5)");
  }
  // St_Ping of every row, by St_ID ("NULL" for none).
  std::string StPing() {
    std::map<std::string, double> pings;
    RowSet rows = run_.DbConnection->Execute("SELECT St_ID, St_Ping FROM Servidor_Timbrado");
    for (; !rows.Eof(); rows.MoveNext()) {
      pings[rows.Field("St_ID").value_or("NULL")] = std::stod(rows.Field("St_Ping").value());
    }
    std::ostringstream text;
    for (const auto& [id, ping] : pings) text << id << '=' << ping << ' ';
    return text.str();
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
  EXPECT_EQ(StPing(), "BA1=5 N1=5 NULL=5 O'Hara=12.5 S1=12.5 S2=-1 S3=-1 ");
  // The closed port and the URL without a scheme are never measured; an
  // upper-case scheme is the host.
  EXPECT_EQ(CallsOf("tcping.exe"),
            (std::vector<std::string>{"-i|0|localhost:" + open_ + "|80",
                                      "-i|0|127.0.0.1:" + open_ + "|80", "-i|0|HTTP:|80"}));
  EXPECT_EQ(run_.SqlText,
            "UPDATE Servidor_Timbrado SET    St_Ping =  12.5 WHERE St_ID = 'O''Hara' ");
  EXPECT_TRUE(Messages().empty());
}

// Each row: PING-MODE, the ping stand-in writable by everyone, the
// latency stored. A stand-in that others could replace is not started.
TEST_P(LatencySweepTest, PingModeChoosesTheTool) {
  InstallFakeTool("tcping.exe", "Average = 1.5ms");
  InstallFakeTool("psping.exe", "Average = 2ms");
  InstallFakeTool("ping", "Average = 9ms, Media = 3ms");
  const struct {
    std::int16_t mode;
    bool writable;
    const char* latency;
  } cases[] = {
      {1, false, "1.5"}, {2, false, "2"}, {0, false, "3"}, {3, false, "3"}, {0, true, "-1"}};
  for (const auto& c : cases) {
    Reset();
    Add("S1", "https://127.0.0.1:" + open_ + "/servicio", "AC");
    run_.Settings.PingMode = c.mode;
    if (c.writable)
      fs::permissions(Folder() / "ping", fs::perms::others_write, fs::perm_options::add);
    form_.GetPingTimbrado();
    EXPECT_EQ(StPing(), "S1=" + std::string(c.latency) + " ") << c.mode;
  }
  EXPECT_EQ(form_.objDOS()->CommandLine(), "ping 127.0.0.1:" + open_);
  // The entry's whole text: ping_tools_test.cc.
  const std::string ping = (Folder() / "ping").string();
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_TRUE(Messages()[0].starts_with("SystemPingResp()\r\n" + ping +
                                        " was not started: " + ping + " is writable by everyone"));
  EXPECT_EQ(CallsOf("ping").size(), 2u);
}

// A row that cannot be handled ends the sweep there with one error entry.
TEST_P(LatencySweepTest, FailureStopsTheSweep) {
  InstallFakeTool("tcping.exe", "Average = 12.5ms");
  const std::string url = "http://127.0.0.1:" + open_ + "/";
  const struct {
    const char* url_of_s3;
    bool refuse_s2;
    const char* pings;
    const char* message;
  } cases[] = {
      {"", false, "S1=12.5 S2=12.5 S3=5 S4=5 ", "GetPingTimbrado()\r\nInvalid use of Null"},
      {url.c_str(), true, "S1=12.5 S2=5 S3=5 S4=5 ", "GetPingTimbrado()\r\n"},  // and the reason
  };
  for (const auto& c : cases) {
    Reset(c.refuse_s2);
    fs::remove(installation_.EventLogPath());
    for (const char* id : {"S1", "S2", "S3", "S4"}) Add(id, id[1] == '3' ? c.url_of_s3 : url, "AC");
    form_.GetPingTimbrado();
    EXPECT_EQ(StPing(), c.pings);
    const auto events = installation_.Events();
    ASSERT_EQ(events.size(), 1u) << c.pings;
    EXPECT_EQ(std::to_string(events[0].type) + " " + std::to_string(events[0].id), "1 1003");
    EXPECT_TRUE(events[0].message.starts_with(c.message) && events[0].message.size() > 19)
        << events[0].message;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, LatencySweepTest,
                         ::testing::Values("sqlite:", "odbc:QuorvexPgTest"),
                         [](const auto& info) { return info.index == 0 ? "sqlite" : "postgres"; });

// Each real tool behind a pass-through that keeps the average it printed:
// under every regional setting St_Ping is that average, for a server named
// by an IPv4 address and one named by an IPv6 address ("[::1]", as the URL
// writes it). The system ping (mode 3) is measured on the IPv4 server only:
// Windows ping takes no brackets.
TEST(LatencySweepProgramTest, StoresThePrintedAverageUnderEveryLocale) {
  const std::string address = "127.0.0." + std::to_string(20 + getpid() % 200);
  testing::LoopbackListener web(address.c_str(), 80), web6("::1", 80);
  if (!web.ok() || !web6.ok()) GTEST_SKIP() << "cannot listen on " << address << ":80 and [::1]:80";
  testing::Installation installation;
  for (const char* tool : {"tcping.exe", "psping.exe", "ping"}) {
    const fs::path path = installation.Folder() / tool;
    fs::rename(path, path.string() + ".real");
    std::ofstream(path)
        << "#!/bin/sh\nout=$(\"$0.real\" \"$@\"); echo \"$out\"; echo \"$out\" | sed -n "
           "'s/.*\\(Average\\|Media\\) = \\([0-9]*\\)[.,]\\{0,1\\}\\([0-9]*\\)ms.*/"
           "\\2.\\30/p' >\"$0.avg\"\n";
    fs::permissions(path, fs::perms::owner_all);
  }
  const struct {
    const char* tool;
    const char* mode;
    std::string host;
  } cases[] = {
      {"tcping.exe", "1", address}, {"psping.exe", "2", address}, {"ping", "3", address},
      {"tcping.exe", "1", "[::1]"}, {"psping.exe", "2", "[::1]"},
  };
  for (const char* locale : {"es_ES.UTF-8", "de_DE.UTF-8", "es_MX.UTF-8", "C"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(locale) + " " + c.tool + " " + c.host);
      installation.Exec("DELETE FROM Servidor_Timbrado");
      installation.Exec("INSERT INTO Servidor_Timbrado VALUES ('S1', 'http://" + c.host +
                        "/timbrado/servicio.asmx', 'AC', 5)");
      installation.WriteSettings(
          testing::Installation::SqliteSettings(std::string("PING-MODE=") + c.mode + "\n"));
      fs::remove(installation.Folder() / (std::string(c.tool) + ".avg"));
      const auto result = installation.RunJob({{"LC_ALL", locale}});
      ASSERT_EQ(result.exit_code, 0) << result.output;
      double printed = -1;
      std::ifstream(installation.Folder() / (std::string(c.tool) + ".avg")) >> printed;
      EXPECT_GE(printed, 0);
      EXPECT_DOUBLE_EQ(std::stod(installation.Scalar("SELECT St_Ping FROM Servidor_Timbrado")),
                       printed);
    }
  }
}

}  // namespace
}  // namespace quorvex
