// The latency sweep on a real SQLite database, with servers on loopback
// listeners and the tools run as real child processes: a fake tool with a
// prepared reply where exact values matter, and the real tcping.exe,
// psping.exe and ping stand-in for one measured server each; and the whole
// job with the real tools under several regional settings.
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "probe_form_fixture.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::ClosedLoopbackPort;
using testing::LoopbackListener;

class LatencySweepTest : public testing::ProbeFormTest {
 protected:
  LatencySweepTest() {
    run_.DbConnection = OpenConnection(
        "Provider=SQLOLEDB.1;Password=;User ID=sa;Initial Catalog=EMPRESAS;Data Source=sqlite:" +
            installation_.DatabasePath().string() + ";APP=Quorvex",
        run_.ProgramFolder);
    form_.Form_Load();
  }

  void AddServer(const char* id, const std::string& url, const char* state) {
    auto text = [](const char* value) {
      return value ? "'" + std::string(value) + "'" : std::string("NULL");
    };
    installation_.Exec(
        "INSERT INTO Servidor_Timbrado (St_ID, St_Url, Es_Cve_Estado, St_Ping) "
        "VALUES (" +
        text(id) + ", " + text(url.empty() ? nullptr : url.c_str()) + ", " + text(state) + ", 5)");
  }

  // St_Ping of every row, by St_ID ("NULL" for the row without one).
  std::map<std::string, std::string> Pings() {
    std::map<std::string, std::string> pings;
    RowSet rows = installation_.Db().Execute(
        "SELECT St_ID, CAST(St_Ping AS TEXT) AS P FROM Servidor_Timbrado");
    for (; !rows.Eof(); rows.MoveNext()) {
      pings[rows.Field("St_ID").value_or("NULL")] = rows.Field("P").value_or("NULL");
    }
    return pings;
  }

  LoopbackListener listener_;
  const std::string open_ = std::to_string(listener_.port());
  const std::string closed_ = std::to_string(ClosedLoopbackPort());
};

TEST_F(LatencySweepTest, MeasuresEveryActiveServerInTurn) {
  ASSERT_TRUE(listener_.ok());
  InstallFakeTool("tcping.exe", "     Minimum = 1ms, Maximum = 20ms, Average = 12ms\n");
  AddServer("S1", "http://localhost:" + open_ + "/timbrado/servicio.asmx", "AC");
  AddServer("S2", "https://127.0.0.1:" + closed_ + "/x", "AC");
  AddServer("S3", "127.0.0.1:" + open_, "AC");
  AddServer("BA1", "http://127.0.0.1:" + open_ + "/", "BA");
  AddServer("N1", "http://127.0.0.1:" + open_ + "/", nullptr);
  AddServer(nullptr, "http://127.0.0.1:" + open_ + "/", "AC");
  AddServer("O''Hara", "HTTP://127.0.0.1:" + open_ + "/x", "AC");

  form_.GetPingTimbrado();

  EXPECT_EQ(Pings(), (std::map<std::string, std::string>{{"S1", "12"},
                                                         {"S2", "-1"},
                                                         {"S3", "12"},
                                                         {"BA1", "5"},
                                                         {"N1", "5"},
                                                         {"NULL", "5"},
                                                         {"O'Hara", "12"}}));
  // The closed port is never measured; the hosts keep their ports and an
  // upper-case scheme becomes the host.
  EXPECT_EQ(CallsOf("tcping.exe"),
            (std::vector<std::string>{"-i|0|localhost:" + open_ + "|80",
                                      "-i|0|127.0.0.1:" + open_ + "|80",
                                      "-i|0|127.0.0.1:" + open_ + "|80", "-i|0|HTTP:|80"}));
  EXPECT_EQ(run_.SqlText, "UPDATE Servidor_Timbrado SET    St_Ping =  12 WHERE St_ID = 'O''Hara' ");
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(LatencySweepTest, ServerWithoutIdGetsAnEmptyLiteral) {
  InstallFakeTool("tcping.exe", "Average = 0.63ms");
  AddServer(nullptr, "http://127.0.0.1:" + closed_ + "/", "AC");
  form_.GetPingTimbrado();
  EXPECT_EQ(run_.SqlText, "UPDATE Servidor_Timbrado SET    St_Ping = -1 WHERE St_ID = '' ");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(LatencySweepTest, NullUrlStopsTheSweepThere) {
  InstallFakeTool("tcping.exe", "Average = 0.63ms");
  AddServer("S1", "http://127.0.0.1:" + open_ + "/", "AC");
  AddServer("S2", "http://127.0.0.1:" + open_ + "/", "AC");
  AddServer("BROKEN", "", "AC");
  AddServer("S4", "http://127.0.0.1:" + open_ + "/", "AC");
  form_.GetPingTimbrado();
  EXPECT_EQ(Pings(), (std::map<std::string, std::string>{
                         {"S1", "0.63"}, {"S2", "0.63"}, {"BROKEN", "5"}, {"S4", "5"}}));
  EXPECT_EQ(run_.SqlText, "UPDATE Servidor_Timbrado SET    St_Ping =  0.63 WHERE St_ID = 'S2' ");
  EXPECT_EQ(Messages(), std::vector<std::string>{"GetPingTimbrado()\r\nInvalid use of Null"});
}

TEST_F(LatencySweepTest, EmptySelectionUpdatesNothing) {
  AddServer("BA1", "http://127.0.0.1:" + open_ + "/", "BA");
  form_.GetPingTimbrado();
  EXPECT_EQ(run_.SqlText,
            "SELECT St_ID,    St_Url FROM Servidor_Timbrado WHERE Es_Cve_Estado <> 'BA' ");
  EXPECT_EQ(Pings(), (std::map<std::string, std::string>{{"BA1", "5"}}));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(LatencySweepTest, MissingTableIsOneErrorEntry) {
  installation_.Exec("DROP TABLE Servidor_Timbrado");
  form_.GetPingTimbrado();
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].starts_with("GetPingTimbrado()\r\n")) << messages[0];
}

TEST_F(LatencySweepTest, PingModeChoosesTheTool) {
  InstallFakeTool("tcping.exe", "Average = 1ms");
  InstallFakeTool("psping.exe", "Average = 2ms");
  InstallFakeTool("ping", "    Minimo = 1ms, Maximo = 5ms, Media = 3ms\n");
  AddServer("S1", "https://127.0.0.1:" + open_ + "/servicio", "AC");
  const struct {
    std::int16_t mode;
    const char* ping;
  } cases[] = {{1, "1"}, {2, "2"}, {0, "3"}, {3, "3"}, {-7, "3"}};
  for (const auto& c : cases) {
    run_.Settings.PingMode = c.mode;
    form_.GetPingTimbrado();
    EXPECT_EQ(Pings()["S1"], c.ping) << c.mode << ": " << form_.txtSalida.Text();
  }
  EXPECT_EQ(CallsOf("psping.exe"),
            std::vector<std::string>{"-n|4|-i|0|-w|0|127.0.0.1:" + open_ + ":80"});
  EXPECT_EQ(CallsOf("ping"), std::vector<std::string>(3, "127.0.0.1:" + open_));
  EXPECT_EQ(form_.objDOS()->CommandLine(), "ping 127.0.0.1:" + open_);

  // A system ping that summarises in another language gives -1.
  InstallFakeTool("ping", "    Minimum = 1ms, Maximum = 5ms, Average = 3ms\n");
  run_.Settings.PingMode = 3;
  form_.GetPingTimbrado();
  EXPECT_EQ(Pings()["S1"], "-1");
  EXPECT_TRUE(Messages().empty());
}

// The real tools against a listener on port 80 of a loopback address of its
// own, so that a URL without a port is both reachable and measurable.
TEST_F(LatencySweepTest, RealToolsMeasureALoopbackServer) {
  const std::string address = "127.0.0." + std::to_string(20 + getpid() % 200);
  LoopbackListener web(address.c_str(), 80);
  if (!web.ok()) GTEST_SKIP() << "cannot listen on " << address << ":80";
  for (const char* tool : {"tcping.exe", "psping.exe", "ping"}) {
    if (!fs::exists(installation_.Folder() / tool)) GTEST_SKIP() << tool << " not built";
  }
  AddServer("S1", "http://" + address + "/timbrado/servicio.asmx", "AC");
  const char* saved_all = std::getenv("LC_ALL");
  const std::string saved = saved_all ? saved_all : "";
  setenv("LC_ALL", "es_ES.UTF-8", 1);  // the system ping summarises in Spanish
  std::setlocale(LC_ALL, "");          // and the job reads numbers as the tools write them
  for (std::int16_t mode : {1, 2, 3}) {
    run_.Settings.PingMode = mode;
    form_.GetPingTimbrado();
    const std::string ping = Pings()["S1"];
    // Loopback answers in well under a millisecond; the system ping
    // reports whole milliseconds, so it may well say 0.
    EXPECT_GE(std::stod(ping), 0) << "mode " << mode << ": " << ping << "\n"
                                  << form_.txtSalida.Text();
  }
  if (saved_all) {
    setenv("LC_ALL", saved.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  std::setlocale(LC_ALL, "C");
  EXPECT_TRUE(Messages().empty());
}

// The whole job with the real tcping.exe and psping.exe, each behind a
// pass-through that keeps a copy of what it printed: under every regional
// setting the stored St_Ping is the average the tool printed, read with the
// user's decimal separator (a full stop read as a digit group under es_ES
// would store 70 for 0.070).
TEST(LatencySweepProgramTest, StoresThePrintedAverageUnderEveryLocale) {
  const std::string address = "127.0.0." + std::to_string(20 + getpid() % 200);
  LoopbackListener web(address.c_str(), 80);
  if (!web.ok()) GTEST_SKIP() << "cannot listen on " << address << ":80";
  testing::Installation installation;
  for (const char* tool : {"tcping.exe", "psping.exe"}) {
    const fs::path path = installation.Folder() / tool;
    if (!fs::exists(path)) GTEST_SKIP() << tool << " not built";
    fs::rename(path, path.string() + ".real");
    std::ofstream(path) << "#!/bin/sh\n\"$0.real\" \"$@\" | tee \"$0.out\"\n";
    fs::permissions(path, fs::perms::owner_all);
  }
  installation.Exec("INSERT INTO Servidor_Timbrado VALUES ('S1', 'http://" + address +
                    "/timbrado/servicio.asmx', 'AC', 5)");

  const struct {
    const char* locale;
    int mode;
    const char* tool;
  } cases[] = {
      {"es_ES.UTF-8", 1, "tcping.exe"}, {"es_ES.UTF-8", 2, "psping.exe"},
      {"de_DE.UTF-8", 1, "tcping.exe"}, {"de_DE.UTF-8", 2, "psping.exe"},
      {"es_MX.UTF-8", 1, "tcping.exe"}, {"es_MX.UTF-8", 2, "psping.exe"},
      {"C", 1, "tcping.exe"},           {"C", 2, "psping.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " " + c.tool);
    installation.WriteSettings(
        testing::Installation::SqliteSettings("PING-MODE=" + std::to_string(c.mode) + "\n"));
    const fs::path copy = installation.Folder() / (std::string(c.tool) + ".out");
    fs::remove(copy);
    const auto result = installation.RunJob({{"LC_ALL", c.locale}});
    ASSERT_EQ(result.exit_code, 0) << result.output;

    std::ifstream printed(copy);
    const std::string output((std::istreambuf_iterator<char>(printed)),
                             std::istreambuf_iterator<char>());
    const std::size_t at = output.find("Average = ");
    ASSERT_NE(at, std::string::npos) << output;
    std::string average = output.substr(at + 10, output.find("ms", at) - at - 10);
    std::replace(average.begin(), average.end(), ',', '.');
    const double stored = std::stod(installation.Scalar("SELECT St_Ping FROM Servidor_Timbrado"));
    EXPECT_DOUBLE_EQ(stored, std::stod(average)) << output;
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, 1000);  // a loopback connection
  }
}

}  // namespace
}  // namespace quorvex
