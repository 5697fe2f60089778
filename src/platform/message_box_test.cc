#include "platform/message_box.h"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

TEST(ConsoleMessageBoxTest, WritesOneTitledLinePerBoxAndReturns) {
  const auto boxes = MakeConsoleMessageBox("Quorvex");
  ::testing::internal::CaptureStderr();
  boxes->Show("Command Line empty", MessageBoxIcon::kCritical);
  boxes->Show("x - Quorvex - 91", MessageBoxIcon::kNone);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Quorvex: Command Line empty\nQuorvex: x - Quorvex - 91\n");
}

}  // namespace
}  // namespace quorvex
