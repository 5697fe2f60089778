// MainWindowView: the main window frmMain on screen, drawn with FLTK.
//
// The view sits on the model: it builds one widget per control from the
// control's kind, caption, twip geometry (15 twips a pixel), tab order and
// enabled state, and mirrors the model's text changes. The model stays the
// owner of the texts; the view pushes what the operator typed into the
// host-name box into the model just before the Ping handler runs.
//
// Look: flat (single-line borders, no 3D), the window font everywhere,
// labels on the window colour. Controls the model disables (the Trace
// button, the packet-size box and its label) are shown greyed out and take
// no input; labels and disabled controls take no focus, so Tab goes
// txtNombreHost, txtSalida, cmdPing and round again. The output box is
// read-only for the operator (selecting and copying work) and has a
// vertical scroll bar; its caret follows the model's caret, the end of the
// text after every change.
//
// No display is opened until Show.
#pragma once

#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Text_Buffer.H>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/console_state.h"
#include "ui/frm_main.h"
#include "ui/view/window_font.h"
#include "ui/view/window_icon.h"

class Fl_Box;
class Fl_Widget;
class Fl_Text_Display;

namespace quorvex {

class MainWindowView final : public WindowView {
 public:
  // Builds the window and attaches itself to form. form must outlive the
  // view; the destructor detaches it again.
  MainWindowView(frmMain& form, WindowFont font);
  ~MainWindowView() override;
  MainWindowView(const MainWindowView&) = delete;
  MainWindowView& operator=(const MainWindowView&) = delete;

  // Shows the window (centred on the screen the first time) and puts the
  // focus on the first control that takes it.
  void Show();
  bool Shown() const;
  Fl_Double_Window& Window() { return *window_; }

  // What happens when the operator asks to close the window (its close
  // button). The default hides the window, which ends Fl::run. Escape does
  // not close the window.
  void OnCloseRequested(std::function<void()> handler) { on_close_ = std::move(handler); }

  // True while a click on Ping is being handled (a command may be running,
  // with the event loop turning inside it).
  bool CommandRunning() const { return running_ > 0; }

  // The widget that shows the control.
  Fl_Widget* WidgetFor(const Control& control) const;

  // WindowView.
  void ProcessPendingEvents() override;
  void TextChanged(const Control& control, std::string_view appended, bool append) override;

  // Shows text in the status line under the client area.
  void ShowStatus(const std::string& text);

  // What the screen shows, in the format of ui/console_state.h, and
  // "status=<the status line>". Used by the console's test hook.
  std::string DescribeState() const;

 private:
  static void PingPressed(Fl_Widget* widget, void* view);
  static void TracePressed(Fl_Widget* widget, void* view);
  static void WindowCallback(Fl_Widget* widget, void* view);
  // Adds the widget that shows control to the window being built.
  Fl_Widget* AddWidget(const Control& control);

  frmMain& form_;
  WindowFont font_;
  WindowIcons icons_;
  // Declared before the window: the output box uses it until it is gone.
  Fl_Text_Buffer output_buffer_;
  std::unique_ptr<Fl_Double_Window> window_;
  std::vector<std::pair<const Control*, Fl_Widget*>> widgets_;
  Fl_Text_Display* output_ = nullptr;
  Fl_Box* status_ = nullptr;
  std::function<void()> on_close_;
  int running_ = 0;
  bool placed_ = false;
};

// Text as the output box can show it: NUL bytes, which would end the text
// early, and carriage returns, which would draw as stray glyphs before each
// line feed, are left out.
std::string DisplayableText(std::string_view text);

}  // namespace quorvex
