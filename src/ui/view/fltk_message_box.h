// Modal message boxes on screen, for the operator console.
//
// Each box is a small window titled with the application title, the
// message, and one OK button; MessageBoxIcon::kCritical adds a stop sign on
// its left. Show runs FLTK's event loop until the box is dismissed (OK,
// Return, Space on the button, Escape, or the window's close button), so
// the caller continues only afterwards, as with any modal box.
#pragma once

#include <string_view>

#include "platform/message_box.h"
#include "ui/view/window_font.h"

namespace quorvex {

class FltkMessageBox final : public MessageBoxPresenter {
 public:
  // Opens no display until the first box is shown.
  explicit FltkMessageBox(WindowFont font) : font_(font) {}

  void Show(std::string_view text, MessageBoxIcon icon) override;

  // Window class of the boxes (WM_CLASS), so tests and window managers can
  // tell them from the main window.
  static constexpr char kWindowClass[] = "QuorvexMessage";

 private:
  WindowFont font_;
};

// FLTK reads "@" in a label as the start of a symbol; doubling it shows
// the character itself.
std::string LiteralLabel(std::string_view text);

}  // namespace quorvex
