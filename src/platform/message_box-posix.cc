#include "platform/message_box.h"

namespace quorvex {

bool HasVisibleDesktop() { return false; }

// Without a system box of its own, a box here is a line on standard error.
std::unique_ptr<MessageBoxPresenter> MakeMessageBox(std::string_view title, bool) {
  return MakeConsoleMessageBox(title);
}

}  // namespace quorvex
