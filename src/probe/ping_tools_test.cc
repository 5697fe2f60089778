// The window's tool operations against a real program folder, with a fake
// tool that prints a prepared reply and records how it was called.

#include <algorithm>
#include <clocale>
#include <filesystem>

#include "probe_form_fixture.h"

namespace quorvex {
namespace {

class PingToolsTest : public testing::ProbeFormTest {
 protected:
  PingToolsTest() : ProbeFormTest(/*with_database=*/false) { form_.Form_Load(); }
  std::string Path(const std::string& name) const { return Folder().string() + "/" + name; }
};

// Each row: the setting, which tool, the path found ("" for none), and the
// error entries written. A name too long for the file system makes the
// existence test fail: an entry, and the composed path as the result.
TEST_F(PingToolsTest, LocatesToolsByKeyTextAndOrdinaryFile) {
  for (const char* file :
       {"PSPING.EXE", "psping64.exe", "tcping64.exe", "sub/tcping.exe", ".tcping.exe"}) {
    InstallFakeTool(file, "");
  }
  std::filesystem::create_directories(Folder() / "dir" / "tcping.exe");
  const std::string too_long(300, 'x');  // longer than a file name may be
  const std::string error = "\r\nBad file name or number: File name too long|";
  const struct {
    std::string setting;
    bool psping;
    std::string found;
    std::string entries;  // each followed by "|"
  } cases[] = {
      {"PSPING.EXE", true, Path("PSPING.EXE"), ""},
      {"psping64.exe", true, Path("psping64.exe"), ""},
      {"pingps.exe", true, "", ""},
      {"tcping64.exe", false, "", ""},  // key text "TCPING.EXE" missing
      {"sub\\tcping.exe", false, Path("sub/tcping.exe"), ""},
      {".tcping.exe", false, "", ""},     // hidden
      {"dir/tcping.exe", false, "", ""},  // a folder
      {" tcping.exe", false, "", ""},     // not trimmed, so absent
      {too_long + "psping.exe", true, Path(too_long + "psping.exe"), "bPSPING()" + error},
      {too_long + "tcping.exe", false, Path(too_long + "tcping.exe"), "bTcPing()" + error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setting.substr(0, 20));
    (c.psping ? run_.Settings.PsPingExe : run_.Settings.TcPingExe) = c.setting;
    std::filesystem::remove(installation_.EventLogPath());
    EXPECT_EQ(c.psping ? form_.bPSPING() : form_.bTcPing(), c.found);
    std::string entries;
    for (const std::string& m : Messages()) entries += m + "|";
    EXPECT_EQ(entries, c.entries);
  }
  run_.ProgramFolder = Folder().string() + "/";
  run_.Settings.TcPingExe = "tcping.exe";
  InstallFakeTool("tcping.exe", "");
  EXPECT_EQ(form_.bTcPing(), Path("tcping.exe"));  // one separator only
  run_.ProgramFolder = "";
  EXPECT_EQ(form_.bTcPing(), "");
}

// Each row: what is made writable by everyone, the tool setting, and the
// path at fault ("" when the tool is used). The program folder is
// Folder()/prog: the folder above it is never judged, a tool outside it only
// by its file and its own folder. The other reasons (its group, another
// owner) come from the same judgement as the job's own places, whose test
// (tests/job) has them.
TEST_F(PingToolsTest, RefusesToolsOthersCouldReplace) {
  namespace fs = std::filesystem;
  run_.ProgramFolder = Path("prog");
  for (const char* file : {"prog/tcping.exe", "prog/sub/tcping.exe", "prog/psping.exe",
                           "out/tcping.exe", "ok/tcping.exe"}) {
    InstallFakeTool(file, "Average = 1ms");
  }
  const struct {
    const char* changed;
    const char* setting;
    const char* fault;
  } cases[] = {
      {"prog/tcping.exe", "tcping.exe", "prog/tcping.exe"},
      {"prog", "tcping.exe", "prog"},
      {"prog/sub", "sub\\tcping.exe", "prog/sub"},
      {"prog/psping.exe", "psping.exe", "prog/psping.exe"},
      {"out", "..\\out\\tcping.exe", "out"},
      {"", "tcping.exe", ""},  // above the program folder
      {"", "../ok/tcping.exe", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.changed) + " " + c.setting);
    const bool psping = c.setting[0] == 'p';
    (psping ? run_.Settings.PsPingExe : run_.Settings.TcPingExe) = c.setting;
    fs::permissions(Path(c.changed), fs::perms::others_write, fs::perm_options::add);
    fs::remove(installation_.EventLogPath());
    const double latency = psping ? form_.PsPingResp("host") : form_.TcPingResp("host");
    fs::permissions(Path(c.changed), fs::perms::others_write, fs::perm_options::remove);
    if (*c.fault == '\0') {
      EXPECT_EQ(latency, 1);
      EXPECT_TRUE(Messages().empty());
      continue;
    }
    EXPECT_EQ(latency, -1);
    std::string tool = run_.ProgramFolder + "/" + c.setting;
    std::replace(tool.begin(), tool.end(), '\\', '/');
    EXPECT_EQ(Messages(),
              std::vector<std::string>{
                  (psping ? "bPSPING()\r\n" : "bTcPing()\r\n") + tool +
                  " was not started: " + Path(c.fault) +
                  " is writable by everyone, so someone other than the administrators and the "
                  "job's account could have replaced the tool. Let the tool's file and its "
                  "folders up to the program folder belong to root and be writable by their "
                  "owner only (chown root, chmod go-w)."});
  }
  EXPECT_TRUE(CallsOf("prog/sub/tcping.exe").empty());
  EXPECT_TRUE(CallsOf("out/tcping.exe").empty());
}

TEST_F(PingToolsTest, ReadsTheAverageOfTheSummary) {
  const struct {
    const char* locale;
    const char* reply;
    double expected;
  } cases[] = {
      {"C", "time=0.512ms\n Minimum = 0.512ms, Average = 0.63ms\n", 0.63},
      {"C", "Average = 1ms\nAverage = 2ms\n", 1},
      {"C", "average = 1ms\n", -1},
      {"C", "Average = 1\n", -1},
      {"C", "Average = 1m 2ms\n", -1},     // up to "ms", not "m"
      {"C", "Average =\t0.63\tms\n", -1},  // only spaces are trimmed
      {"de_DE.UTF-8", "Average = 0,63ms\n", 0.63},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    ASSERT_NE(std::setlocale(LC_NUMERIC, c.locale), nullptr);
    InstallFakeTool("tcping.exe", c.reply);
    InstallFakeTool("psping.exe", c.reply);
    EXPECT_EQ(form_.TcPingResp("host"), c.expected);
    EXPECT_EQ(form_.PsPingResp("host"), c.expected);
  }
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(PingToolsTest, BuildsTheCommandLinesOfTheSettings) {
  InstallFakeTool("tcping.exe", "Average = 1ms");
  InstallFakeTool("psping.exe", "Average = 1ms");
  form_.PsPingResp("  host  ");
  EXPECT_EQ(form_.objDOS()->CommandLine(), "\"" + Path("psping.exe") + "\" -n 4 -i 0 -w 0 host:80");
  run_.Settings.PingPort = "http";  // not a number: the host alone
  form_.TcPingResp(" host ");
  EXPECT_EQ(CallsOf("tcping.exe"), std::vector<std::string>{"-i|0|host"});
  run_.Settings.PsPingCommand = "  ";  // empty options: two spaces
  form_.PsPingResp("127.0.0.1");
  EXPECT_EQ(form_.objDOS()->CommandLine(), "\"" + Path("psping.exe") + "\"  127.0.0.1");
}

// A tool that cannot be started: the runner's box, an empty output box. No
// runner: an ExecCMD() entry, and -1 without a process.
TEST_F(PingToolsTest, ExecCMDFailures) {
  form_.txtSalida.SetText("left over");
  EXPECT_EQ(form_.ExecCMD(Path("absent.exe"), "", "t"), "");
  EXPECT_EQ(form_.txtSalida.Text(), "");
  EXPECT_EQ(boxes_.shown.size(), 1u);  // its text: tests/ui
  InstallFakeTool("tcping.exe", "Average = 1ms");
  form_.Form_QueryUnload();
  EXPECT_EQ(form_.TcPingResp("host"), -1);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "ExecCMD()\r\nObject variable or With block variable not set"});
  EXPECT_TRUE(CallsOf("tcping.exe").empty());
}

}  // namespace
}  // namespace quorvex
