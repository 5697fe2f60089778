#include "platform/message_box.h"

namespace quorvex {

// The job needs no display on Linux: its boxes are lines on standard error.
std::unique_ptr<MessageBoxPresenter> MakeJobMessageBox() { return MakeConsoleMessageBox(); }

}  // namespace quorvex
