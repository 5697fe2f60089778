// Modal message boxes, titled with the application title.
//
// The job runs without a desktop: its presenter writes the message to
// standard error and returns at once. The operator console puts a real
// modal box on screen with the same interface.
#pragma once

#include <memory>
#include <string_view>

namespace quorvex {

enum class MessageBoxIcon { kNone, kCritical };

class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  // Shows text with the given icon and an OK button; returns when the box
  // has been dismissed.
  virtual void Show(std::string_view text, MessageBoxIcon icon) = 0;
};

// Writes "Quorvex: <text>" as one line to standard error.
std::unique_ptr<MessageBoxPresenter> MakeConsoleMessageBox();

// The job's boxes on this platform. On Windows, where the job runs on a
// desktop a person can see, a modal system box titled "Quorvex" that holds
// the run until it is dismissed; without such a desktop (a service, a
// scheduled task run whether or not anybody is logged on), where nobody
// could ever dismiss it, the console presenter. Elsewhere the console
// presenter.
std::unique_ptr<MessageBoxPresenter> MakeJobMessageBox();

}  // namespace quorvex
