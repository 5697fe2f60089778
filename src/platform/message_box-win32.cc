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
    const UINT style = MB_OK | (icon == MessageBoxIcon::kCritical ? MB_ICONSTOP : 0);
    MessageBoxA(nullptr, ansi.c_str(), kApplicationTitle, style);
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
