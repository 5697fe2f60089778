#include <windows.h>

#include <string>

#include "job/run_state.h"
#include "platform/message_box.h"
#include "platform/windows_text.h"

namespace quorvex {
namespace {

class SystemMessageBox final : public MessageBoxPresenter {
 public:
  void Show(std::string_view text, MessageBoxIcon icon) override {
    const std::string ansi = Utf8ToAnsiCodePage(text);
    // The thread's active window (the console's, when it is in front) owns
    // the box: it takes no input while the box is up and is active again
    // afterwards. Without one, task-modal still keeps the thread's windows
    // from taking input. The job has no windows; to it both are the same.
    const UINT style = MB_OK | MB_TASKMODAL | (icon == MessageBoxIcon::kCritical ? MB_ICONSTOP : 0);
    MessageBoxA(GetActiveWindow(), ansi.c_str(), kApplicationTitle, style);
  }
};

// True when the process's window station is one a person sees (the
// interactive WinSta0); services and tasks run without a logged-on user
// get an invisible one.
bool HasVisibleDesktop() {
  USEROBJECTFLAGS flags{};
  return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                   nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

std::unique_ptr<MessageBoxPresenter> MakeJobMessageBox() {
  if (HasVisibleDesktop()) return std::make_unique<SystemMessageBox>();
  return MakeConsoleMessageBox();
}

}  // namespace quorvex
