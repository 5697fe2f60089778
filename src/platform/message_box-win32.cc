#include <windows.h>

#include <string>

#include "platform/message_box.h"
#include "platform/windows_text.h"

namespace quorvex {
namespace {

class SystemMessageBox final : public MessageBoxPresenter {
 public:
  explicit SystemMessageBox(std::string_view title) : title_(Utf8ToAnsiCodePage(title)) {}

  void Show(std::string_view text, MessageBoxIcon icon) override {
    const std::string ansi = Utf8ToAnsiCodePage(text);
    // The thread's active window (the console's, when it is in front) owns
    // the box: it takes no input while the box is up and is active again
    // afterwards. Without one, task-modal still keeps the thread's windows
    // from taking input. The job has no windows; to it both are the same.
    const UINT style = MB_OK | MB_TASKMODAL | (icon == MessageBoxIcon::kCritical ? MB_ICONSTOP : 0);
    MessageBoxA(GetActiveWindow(), ansi.c_str(), title_.c_str(), style);
  }

 private:
  std::string title_;  // in the ANSI code page
};

}  // namespace

// The process's window station is one a person sees when it is the
// interactive WinSta0.
bool HasVisibleDesktop() {
  USEROBJECTFLAGS flags{};
  return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                   nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

std::unique_ptr<MessageBoxPresenter> MakeMessageBox(std::string_view title, bool unattended) {
  if (unattended) return MakeConsoleMessageBox(title);
  return std::make_unique<SystemMessageBox>(title);
}

}  // namespace quorvex
