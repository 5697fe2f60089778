// MainWindowView: the main window frmMain on screen, drawn with the Windows
// standard controls (STATIC, EDIT, BUTTON).
//
// The view sits on the model: it creates one control per model control
// from its kind, caption, twip geometry (converted with the display's dots
// per inch, pixels = twips * dpi / 1440), tab order and enabled state, and
// mirrors the model's text changes. The model stays the owner of the
// texts; the view pushes what the operator typed into the host-name box
// into the model just before the Ping handler runs.
//
// Look: flat (single-line borders, flat buttons, no 3D), the window font
// everywhere, the system window colour behind the window and its labels.
// Controls the model disables (the Trace button, the packet-size box and
// its label) are greyed out and take no input; labels and disabled
// controls take no focus, so Tab goes txtNombreHost, txtSalida, cmdPing and
// round again. The output box is read-only for the operator (selecting and
// copying work) and has a vertical scroll bar; its caret follows the
// model's caret, the end of the text after every change.
//
// Everything runs on the thread that creates the view.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "ui/frm_main.h"

namespace quorvex {

class MainWindowView final : public WindowView {
 public:
  // Creates the window, not yet shown, and attaches itself to form. form
  // must outlive the view; the destructor detaches it again.
  explicit MainWindowView(frmMain& form);
  ~MainWindowView() override;
  MainWindowView(const MainWindowView&) = delete;
  MainWindowView& operator=(const MainWindowView&) = delete;

  // Shows the window centred on the screen and puts the focus on the first
  // control that takes it.
  void Show();
  HWND Window() const { return window_; }

  // Runs the message loop until the window is closed. When the operator
  // closes the window while a command runs (the loop turning inside the
  // Ping handler), the process ends at once, and the command's job object
  // with it.
  void RunUntilClosed();

  // True while a click on Ping is being handled.
  bool CommandRunning() const { return running_ > 0; }

  // Called about every 50 ms while the window exists, also while a message
  // box is up and between the pieces of a command's output.
  void OnTick(std::function<void()> tick) { on_tick_ = std::move(tick); }

  // WindowView.
  void ProcessPendingEvents() override;
  void TextChanged(const Control& control, std::string_view appended, bool append) override;

  // What the screen shows, in the format of ui/console_state.h; line breaks
  // of the output box as "\n", its caret and length in UTF-16 units of the
  // box's text, and "status=<the status line>". Used by the console's test
  // hook.
  std::string DescribeState() const;

  // Shows text in the status line under the client area.
  void ShowStatus(const std::string& text);

 private:
  struct GdiDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
  };
  struct IconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
  };
  using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
  using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // Handles Tab for the window's controls, else translates and dispatches.
  void Dispatch(MSG& message);
  void PingPressed();
  HWND ControlWindow(const Control& control) const;
  // Steps of the constructor: the top-level window with its icons, then
  // one child window per control.
  void CreateFrame(HINSTANCE instance);
  void AddControl(const Control& control, HINSTANCE instance);

  frmMain& form_;
  int dpi_x_ = 96;
  int dpi_y_ = 96;
  FontHandle font_;
  IconHandle big_icon_;
  IconHandle small_icon_;
  HWND window_ = nullptr;
  std::vector<std::pair<const Control*, HWND>> controls_;
  HWND output_ = nullptr;
  HWND status_ = nullptr;
  HWND last_focus_ = nullptr;
  std::function<void()> on_tick_;
  int running_ = 0;
};

}  // namespace quorvex
