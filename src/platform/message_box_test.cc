#include "platform/message_box.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace quorvex {
namespace {

// Catches what is written to standard error while alive.
class StandardErrorCapture {
 public:
  StandardErrorCapture() {
    if (pipe(ends_) != 0) return;
    saved_ = dup(STDERR_FILENO);
    dup2(ends_[1], STDERR_FILENO);
  }
  ~StandardErrorCapture() {
    if (saved_ >= 0) Finish();
  }
  std::string Finish() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
    close(ends_[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(ends_[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(ends_[0]);
    return text;
  }

 private:
  int ends_[2] = {-1, -1};
  int saved_ = -1;
};

TEST(ConsoleMessageBoxTest, WritesOneTitledLinePerBoxAndReturns) {
  const auto boxes = MakeConsoleMessageBox();
  StandardErrorCapture capture;
  boxes->Show("Command Line empty", MessageBoxIcon::kCritical);
  boxes->Show("x - Quorvex - 91", MessageBoxIcon::kNone);
  EXPECT_EQ(capture.Finish(), "Quorvex: Command Line empty\nQuorvex: x - Quorvex - 91\n");
}

}  // namespace
}  // namespace quorvex
