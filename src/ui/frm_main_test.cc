#include "ui/frm_main.h"

#include <gtest/gtest.h>

#include "probe_test_support.h"

namespace quorvex {
namespace {

using testing::HelperPath;
using testing::RecordingBoxes;

class RecordingView final : public WindowView {
 public:
  void ProcessPendingEvents() override { ++passes; }
  void TextChanged(const Control& control, std::string_view appended, bool append) override {
    if (append) {
      appended_text += appended;
    } else {
      replaced.push_back(control.Name() + "=" + control.Text());
    }
  }
  int passes = 0;
  std::string appended_text;
  std::vector<std::string> replaced;
};

class FrmMainTest : public ::testing::Test {
 protected:
  static std::string Helper(const std::string& args) {
    return "\"" + HelperPath("probe_test_child") + "\" " + args;
  }
  RunState run_;
  RecordingBoxes boxes_;
  frmMain form_{run_, boxes_};
};

// The controls' layout is checked in pixels on a real display
// (tests/ui/main_window_view_test.cc).
TEST_F(FrmMainTest, FocusSkipsLabelsAndUnusableControls) {
  EXPECT_EQ(form_.FocusOrder(),
            (std::vector<const Control*>{&form_.txtNombreHost, &form_.txtSalida, &form_.cmdPing}));
}

TEST_F(FrmMainTest, LoadCreatesAndUnloadReleasesTheRunner) {
  EXPECT_EQ(form_.objDOS(), nullptr);
  form_.Form_Load();
  EXPECT_NE(form_.objDOS(), nullptr);
  form_.Form_QueryUnload();
  EXPECT_EQ(form_.objDOS(), nullptr);
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(FrmMainTest, PingRunsTheHostBoxAndKeepsEveryOutput) {
  RecordingView view;
  form_.AttachView(&view);
  form_.Form_Load();
  form_.txtPaquete.SetText("1500");
  form_.txtNombreHost.SetText(Helper("nonewline"));
  form_.cmdPing_Click();
  form_.cmdPing_Click();
  const std::string once = "no line break at the end";
  EXPECT_EQ(form_.txtSalida.Text(), once + once);
  EXPECT_EQ(form_.txtSalida.SelStart(), form_.txtSalida.Text().size());
  EXPECT_EQ(form_.objDOS()->CommandLine(), Helper("nonewline"));
  EXPECT_TRUE(boxes_.shown.empty());
  // The view saw each piece appended and had a pass after every piece,
  // the closing empty ones included.
  EXPECT_EQ(view.appended_text, once + once);
  EXPECT_GE(view.passes, 4);
}

TEST_F(FrmMainTest, PingTrapsItsErrorsIntoABoxWithoutIcon) {
  form_.txtNombreHost.SetText(Helper("nonewline"));
  form_.cmdPing_Click();  // not loaded: there is no runner
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "Object variable or With block variable not set - Quorvex - 91");
  EXPECT_EQ(boxes_.shown[0].icon, MessageBoxIcon::kNone);
}

TEST_F(FrmMainTest, TraceChangesNothing) {
  form_.Form_Load();
  form_.txtNombreHost.SetText("host");
  form_.txtSalida.SetText("kept");
  form_.cmdTrace_Click();
  EXPECT_EQ(form_.txtNombreHost.Text(), "host");
  EXPECT_EQ(form_.txtSalida.Text(), "kept");
  EXPECT_EQ(form_.objDOS()->CommandLine(), "");
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(FrmMainTest, OutputBoxKeepsTheCaretAtTheEnd) {
  RecordingView view;
  form_.AttachView(&view);
  form_.txtSalida.SetText("abc");
  EXPECT_EQ(form_.txtSalida.SelStart(), 3u);
  form_.objDOS_ReceiveOutputs("defg");
  EXPECT_EQ(form_.txtSalida.Text(), "abcdefg");
  EXPECT_EQ(form_.txtSalida.SelStart(), 7u);
  form_.txtSalida.SetText("");
  EXPECT_EQ(form_.txtSalida.SelStart(), 0u);
  EXPECT_EQ(view.replaced, (std::vector<std::string>{"txtSalida=abc", "txtSalida="}));
  EXPECT_EQ(view.appended_text, "defg");
  EXPECT_EQ(view.passes, 1);
  // Other boxes keep their own caret.
  form_.txtNombreHost.SetText("host");
  EXPECT_EQ(form_.txtNombreHost.SelStart(), 0u);
}

}  // namespace
}  // namespace quorvex
