// What the console on screen (tests/ui) cannot reach: the runner's life, and
// Ping's trapped error: a box without icon, description - source - number.
#include "ui/frm_main.h"

#include <gtest/gtest.h>

#include "probe_test_support.h"

namespace quorvex {
namespace {

TEST(FrmMainTest, RunnerLivesFromLoadToUnloadAndPingTrapsItsErrors) {
  RunState run;
  testing::RecordingBoxes boxes;
  frmMain form(run, boxes);
  EXPECT_EQ(form.objDOS(), nullptr);
  form.Form_Load();
  EXPECT_NE(form.objDOS(), nullptr);
  form.Form_QueryUnload();
  EXPECT_EQ(form.objDOS(), nullptr);
  form.txtNombreHost.SetText("/bin/echo x");
  form.cmdPing_Click();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Object variable or With block variable not set - Quorvex - 91");
  EXPECT_EQ(boxes.shown[0].icon, MessageBoxIcon::kNone);
}

}  // namespace
}  // namespace quorvex
