// The window's tool operations against a real program folder, with a fake
// tool that prints a prepared reply and records how it was called.
#include <clocale>
#include <filesystem>

#include "probe_form_fixture.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

class PingToolsTest : public testing::ProbeFormTest {
 protected:
  PingToolsTest() : ProbeFormTest(/*with_database=*/false) { form_.Form_Load(); }
};

TEST_F(PingToolsTest, LocatesToolsByKeyTextAndOrdinaryFile) {
  const std::string folder = Folder().string() + "/";
  for (const char* file : {"PSPING.EXE", "psping64.exe", "tcping64.exe", "TCPING.EXE",
                           "sub/tcping.exe", ".tcping.exe"}) {
    InstallFakeTool(file, "");
  }
  fs::create_directories(Folder() / "dir" / "tcping.exe");
  const struct {
    const char* setting;
    bool psping;
    std::string expected;
  } cases[] = {
      {"psping.exe", true, folder + "psping.exe"},
      {"PSPING.EXE", true, folder + "PSPING.EXE"},
      {"psping64.exe", true, folder + "psping64.exe"},
      {"pingps.exe", true, ""},
      {"tcping.exe", false, folder + "tcping.exe"},
      {"TCPING.EXE", false, folder + "TCPING.EXE"},
      {"tcping64.exe", false, ""},  // key text "TCPING.EXE" missing
      {"sub\\tcping.exe", false, folder + "sub/tcping.exe"},
      {"sub/tcping.exe", false, folder + "sub/tcping.exe"},
      {".tcping.exe", false, ""},     // hidden
      {"dir/tcping.exe", false, ""},  // a folder
      {"missing/tcping.exe", false, ""},
      {" tcping.exe", false, ""},  // not trimmed
  };
  for (const auto& c : cases) {
    std::string& setting = c.psping ? run_.Settings.PsPingExe : run_.Settings.TcPingExe;
    setting = c.setting;
    EXPECT_EQ(c.psping ? form_.bPSPING() : form_.bTcPing(), c.expected) << c.setting;
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(PingToolsTest, ProgramFolderGetsOneSeparator) {
  run_.ProgramFolder = Folder().string() + "/";
  EXPECT_EQ(form_.bTcPing(), Folder().string() + "/tcping.exe");
  run_.ProgramFolder = "";
  EXPECT_EQ(form_.bTcPing(), "");
}

TEST_F(PingToolsTest, MalformedPathIsReportedWithTheComposedPath) {
  run_.Settings.TcPingExe = std::string(5000, 'x') + "tcping.exe";
  const std::string expected = Folder().string() + "/" + run_.Settings.TcPingExe;
  EXPECT_EQ(form_.bTcPing(), expected);
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].starts_with("bTcPing()\r\n")) << messages[0];
}

TEST_F(PingToolsTest, ReadsTheAverageOfTheSummary) {
  const struct {
    const char* reply;
    double expected;
  } cases[] = {
      {"Probing 127.0.0.1:80/tcp - Port is open - time=0.512ms\n"
       "     Minimum = 0.512ms, Maximum = 0.512ms, Average = 0.63ms\n",
       0.63},
      {"Average = 1ms\nAverage = 2ms\n", 1},
      {"Average = 7.5 ms", 7.5},
      {"no summary at all\n", -1},
      {"Average = slow ms\n", -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    InstallFakeTool("tcping.exe", c.reply);
    InstallFakeTool("psping.exe", c.reply);
    EXPECT_EQ(form_.TcPingResp("host"), c.expected) << c.reply;
    EXPECT_EQ(form_.PsPingResp("host"), c.expected) << c.reply;
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(PingToolsTest, ReadsTheAverageUnderADecimalCommaLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "es_ES.utf8") == nullptr) GTEST_SKIP() << "no es_ES locale";
  InstallFakeTool("tcping.exe", "Average = 0,63ms\n");
  const double value = form_.TcPingResp("host");
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(value, 0.63);
}

TEST_F(PingToolsTest, BuildsTheCommandLinesOfTheSettings) {
  InstallFakeTool("tcping.exe", "Average = 1ms");
  InstallFakeTool("psping.exe", "Average = 1ms");
  const std::string tcping = Folder().string() + "/tcping.exe";
  const std::string psping = Folder().string() + "/psping.exe";

  form_.TcPingResp("  host  ");
  EXPECT_EQ(form_.objDOS()->CommandLine(), "\"" + tcping + "\" -i 0 host 80");
  EXPECT_EQ(LastCallOf("tcping.exe"), "-i|0|host|80");
  form_.PsPingResp("  host  ");
  EXPECT_EQ(form_.objDOS()->CommandLine(), "\"" + psping + "\" -n 4 -i 0 -w 0 host:80");
  EXPECT_EQ(LastCallOf("psping.exe"), "-n|4|-i|0|-w|0|host:80");

  // A port that is not a number is left out.
  for (const char* port : {"", "http", "8o"}) {
    run_.Settings.PingPort = port;
    form_.TcPingResp(" host ");
    EXPECT_EQ(LastCallOf("tcping.exe"), "-i|0|host") << port;
    form_.PsPingResp(" host ");
    EXPECT_EQ(LastCallOf("psping.exe"), "-n|4|-i|0|-w|0|host") << port;
  }

  // Empty options leave two spaces between the path and the target; a host
  // carrying a port gets a second one.
  run_.Settings.PingPort = "443";
  run_.Settings.PsPingCommand = "  ";
  form_.PsPingResp("127.0.0.1:8080");
  EXPECT_EQ(form_.objDOS()->CommandLine(), "\"" + psping + "\"  127.0.0.1:8080:443");
  EXPECT_EQ(LastCallOf("psping.exe"), "127.0.0.1:8080:443");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(PingToolsTest, MissingToolStartsNothing) {
  InstallFakeTool("tcping64.exe", "Average = 1ms");
  run_.Settings.TcPingExe = "tcping64.exe";
  EXPECT_EQ(form_.TcPingResp("host"), -1);
  EXPECT_EQ(LastCallOf("tcping64.exe"), "not run");
  run_.Settings.PsPingExe = "psping-missing.exe";
  EXPECT_EQ(form_.PsPingResp("host"), -1);
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(form_.objDOS()->CommandLine(), "");
}

TEST_F(PingToolsTest, ExecCMDClearsTheOutputBoxAndReturnsWhatTheToolPrinted) {
  InstallFakeTool("tcping.exe", "first");
  form_.txtSalida.SetText("left over");
  EXPECT_EQ(form_.ExecCMD(Folder().string() + "/tcping.exe", " -a ", " t "), "first");
  EXPECT_EQ(form_.txtSalida.Text(), "first");
  EXPECT_EQ(LastCallOf("tcping.exe"), "-a|t");

  // A tool that cannot be started: the runner's message, an empty box.
  EXPECT_EQ(form_.ExecCMD(Folder().string() + "/absent.exe", "", "t"), "");
  EXPECT_EQ(form_.txtSalida.Text(), "");
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "File or command not found");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(PingToolsTest, NoRunnerIsAnExecCMDFailure) {
  InstallFakeTool("tcping.exe", "Average = 1ms");
  form_.Form_QueryUnload();
  EXPECT_EQ(form_.TcPingResp("host"), -1);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "ExecCMD()\r\nObject variable or With block variable not set"});
  EXPECT_EQ(LastCallOf("tcping.exe"), "not run");
}

}  // namespace
}  // namespace quorvex
