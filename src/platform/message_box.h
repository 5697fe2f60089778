// Modal message boxes, titled with the title their maker is given.
//
// Where nobody could see a box, the console presenter writes the message to
// standard error and returns at once. On a desktop a real modal box takes
// its place behind the same interface.
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

// Writes "<title>: <text>" as one line to standard error.
std::unique_ptr<MessageBoxPresenter> MakeConsoleMessageBox(std::string_view title);

// True when this process runs on a desktop a person can see, where a system
// box could be dismissed. On Windows: its window station is the visible,
// interactive one (services, and scheduled tasks run whether or not anybody
// is logged on, get an invisible one). Elsewhere false: there is no system
// box, and a program with a window brings a box of its own.
bool HasVisibleDesktop();

// A program's boxes, titled title. When unattended, so that nobody could
// ever dismiss a box, the console presenter. Otherwise the system's modal
// box, which holds the caller until it is dismissed, where the platform has
// one (Windows), and the console presenter elsewhere.
std::unique_ptr<MessageBoxPresenter> MakeMessageBox(std::string_view title, bool unattended);

}  // namespace quorvex
