#include "ui/view/main_window_view.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Text_Display.H>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ui/last_run_status.h"
#include "ui/view/fltk_message_box.h"

namespace quorvex {
namespace {

constexpr int kScrollBarWidth = 17;

int ToPixels(int twips) {
  return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

// The output box: flat scroll bars, and a caret drawn only while the box
// has the focus, as text boxes do.
class OutputBox final : public Fl_Text_Display {
 public:
  OutputBox(int x, int y, int w, int h) : Fl_Text_Display(x, y, w, h) {
    for (Fl_Scrollbar* bar : {mVScrollBar, mHScrollBar}) {
      bar->box(FL_FLAT_BOX);
      bar->slider(FL_BORDER_BOX);
      bar->color(FL_BACKGROUND_COLOR);
    }
    show_cursor(0);
    cursor_style(Fl_Text_Display::SIMPLE_CURSOR);
  }

  int handle(int event) override {
    if (event == FL_FOCUS) show_cursor(1);
    if (event == FL_UNFOCUS) show_cursor(0);
    return Fl_Text_Display::handle(event);
  }
};

// Runs for the length of one Ping click.
class RunningScope {
 public:
  explicit RunningScope(int& depth) : depth_(depth) { ++depth_; }
  ~RunningScope() { --depth_; }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;

 private:
  int& depth_;
};

std::string BufferText(const Fl_Text_Buffer& buffer) {
  std::unique_ptr<char, decltype(&std::free)> text(buffer.text(), &std::free);
  return text ? std::string(text.get()) : std::string();
}

// Text of a label as FLTK shows it ("@@" is one "@").
std::string ShownLabel(const char* label) {
  std::string shown;
  if (label == nullptr) return shown;
  for (const char* p = label; *p != '\0'; ++p) {
    shown += *p;
    if (p[0] == '@' && p[1] == '@') ++p;
  }
  return shown;
}

}  // namespace

std::string DisplayableText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    if (c != '\0' && c != '\r') shown += c;
  }
  return shown;
}

MainWindowView::MainWindowView(frmMain& form, WindowFont font) : form_(form), font_(font) {
  window_ = std::make_unique<Fl_Double_Window>(
      ToPixels(frmMain::kClientWidthTwips),
      ToPixels(frmMain::kClientHeightTwips + kStatusLineHeightTwips), frmMain::kCaption);
  window_->xclass("QuorvexServer");
  window_->color(FL_BACKGROUND2_COLOR);
  window_->labelfont(font_.face);
  window_->labelsize(font_.size);
  window_->callback(WindowCallback, this);
  icons_.ApplyTo(*window_);

  // Children are added in tab order, which is the order FLTK moves the
  // focus in.
  for (const Control* control : form_.Controls()) {
    widgets_.emplace_back(control, AddWidget(*control));
  }
  WidgetFor(form_.cmdPing)->callback(PingPressed, this);
  WidgetFor(form_.cmdTrace)->callback(TracePressed, this);
  status_ = new Fl_Box(0, ToPixels(frmMain::kClientHeightTwips),
                       ToPixels(frmMain::kClientWidthTwips), ToPixels(kStatusLineHeightTwips));
  status_->box(FL_BORDER_BOX);
  status_->color(FL_BACKGROUND_COLOR);
  status_->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  status_->labelfont(font_.face);
  status_->labelsize(font_.size);
  window_->end();

  form_.AttachView(this);
}

Fl_Widget* MainWindowView::AddWidget(const Control& control) {
  const TwipRect& r = control.Rect();
  const int x = ToPixels(r.left);
  const int y = ToPixels(r.top);
  const int w = ToPixels(r.width);
  const int h = ToPixels(r.height);
  Fl_Widget* widget = nullptr;
  switch (control.Kind()) {
    case ControlKind::kLabel: {
      auto* label = new Fl_Box(x, y, w, h);
      label->box(FL_NO_BOX);
      label->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
      label->labelcolor(FL_FOREGROUND_COLOR);
      widget = label;
      break;
    }
    case ControlKind::kTextBox: {
      auto* input = new Fl_Input(x, y, w, h);
      input->box(FL_BORDER_BOX);
      input->color(FL_BACKGROUND2_COLOR);
      input->textfont(font_.face);
      input->textsize(font_.size);
      input->value(control.Text().data(), static_cast<int>(control.Text().size()));
      widget = input;
      break;
    }
    case ControlKind::kMultiLineTextBox: {
      auto* box = new OutputBox(x, y, w, h);
      box->box(FL_BORDER_BOX);
      box->color(FL_BACKGROUND2_COLOR);
      box->textfont(font_.face);
      box->textsize(font_.size);
      box->scrollbar_width(kScrollBarWidth);
      box->scrollbar_align(FL_ALIGN_RIGHT);
      // Only a vertical scroll bar: long lines wrap at the box's edge.
      box->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
      output_buffer_.text(DisplayableText(control.Text()).c_str());
      box->buffer(&output_buffer_);
      output_ = box;
      widget = box;
      break;
    }
    case ControlKind::kCommandButton: {
      auto* button = new Fl_Button(x, y, w, h);
      button->box(FL_BORDER_BOX);
      button->down_box(FL_BORDER_BOX);
      button->color(FL_BACKGROUND_COLOR, FL_DARK2);
      widget = button;
      break;
    }
  }
  if (!control.Caption().empty()) widget->copy_label(LiteralLabel(control.Caption()).c_str());
  widget->labelfont(font_.face);
  widget->labelsize(font_.size);
  if (!control.Enabled()) widget->deactivate();
  if (!control.TakesFocus()) widget->clear_visible_focus();
  return widget;
}

MainWindowView::~MainWindowView() {
  form_.AttachView(nullptr);
  // The window (and the output box in it) goes before the buffer it shows.
  window_.reset();
}

void MainWindowView::Show() {
  if (!placed_) {
    window_->position((Fl::w() - window_->w()) / 2, (Fl::h() - window_->h()) / 2);
    placed_ = true;
  }
  window_->show();
  const std::vector<const Control*> order = form_.FocusOrder();
  if (!order.empty()) WidgetFor(*order.front())->take_focus();
}

bool MainWindowView::Shown() const { return window_->shown() != 0; }

Fl_Widget* MainWindowView::WidgetFor(const Control& control) const {
  for (const auto& [model, widget] : widgets_) {
    if (model == &control) return widget;
  }
  return nullptr;
}

void MainWindowView::ProcessPendingEvents() {
  // Once the window is gone there is nothing left to repaint or to take
  // input from.
  if (Shown()) Fl::check();
}

void MainWindowView::TextChanged(const Control& control, std::string_view appended, bool append) {
  Fl_Widget* widget = WidgetFor(control);
  if (widget == nullptr) return;
  if (widget == output_) {
    if (append) {
      const std::string piece = DisplayableText(appended);
      if (!piece.empty()) output_buffer_.append(piece.c_str());
    } else {
      output_buffer_.text(DisplayableText(control.Text()).c_str());
    }
    // The caret goes where the model put it: after every change that is the
    // end of the text, which then scrolls into view.
    const int length = output_buffer_.length();
    int caret = length;
    if (control.SelStart() < control.Text().size()) {
      caret = static_cast<int>(std::min<std::size_t>(control.SelStart(), length));
    }
    output_->insert_position(caret);
    output_->show_insert_position();
    return;
  }
  if (control.Kind() == ControlKind::kTextBox) {
    auto* input = static_cast<Fl_Input*>(widget);
    const std::string& text = control.Text();
    if (std::string_view(input->value(), input->size()) != text) {
      input->value(text.data(), static_cast<int>(text.size()));
    }
  }
}

void MainWindowView::ShowStatus(const std::string& text) {
  // "@" starts a symbol in an FLTK label; "@@" shows one.
  std::string label;
  for (char c : text) label += c == '@' ? std::string("@@") : std::string(1, c);
  status_->copy_label(label.c_str());
}

std::string MainWindowView::DescribeState() const {
  std::string state;
  Fl_Widget* focus = Fl::focus();
  std::string focus_name = focus == nullptr ? "none" : "other";
  for (const auto& [control, widget] : widgets_) {
    if (focus != nullptr && widget->contains(focus)) focus_name = control->Name();
    if (control->Kind() == ControlKind::kTextBox) {
      const auto* input = static_cast<const Fl_Input*>(widget);
      state += control->Name() +
               ".text=" + EscapeForState(std::string_view(input->value(), input->size())) + "\n";
    }
  }
  state += "txtSalida.text=" + EscapeForState(BufferText(output_buffer_)) + "\n";
  state += "txtSalida.insert=" + std::to_string(output_->insert_position()) + "\n";
  state += "txtSalida.length=" + std::to_string(output_buffer_.length()) + "\n";
  state += "focus=" + focus_name + "\n";
  state += std::string("command_running=") + (CommandRunning() ? "1" : "0") + "\n";
  state += "status=" + EscapeForState(ShownLabel(status_->label())) + "\n";
  for (Fl_Window* other = Fl::first_window(); other != nullptr; other = Fl::next_window(other)) {
    if (other == window_.get()) continue;
    std::string message;
    for (int i = 0; i < other->children(); ++i) {
      if (auto* box = dynamic_cast<Fl_Box*>(other->child(i)); box != nullptr) {
        message += ShownLabel(box->label());
      }
    }
    state += "window=" + EscapeForState(ShownLabel(other->label())) + "|" +
             EscapeForState(message) + "\n";
  }
  return state;
}

void MainWindowView::PingPressed(Fl_Widget*, void* data) {
  auto& view = *static_cast<MainWindowView*>(data);
  frmMain& form = view.form_;
  // The model learns what the operator typed before the handler reads it.
  const auto* host = static_cast<const Fl_Input*>(view.WidgetFor(form.txtNombreHost));
  const std::string typed(host->value(), host->size());
  if (typed != form.txtNombreHost.Text()) form.txtNombreHost.SetText(typed);
  RunningScope running(view.running_);
  form.cmdPing_Click();
}

void MainWindowView::TracePressed(Fl_Widget*, void* data) {
  static_cast<MainWindowView*>(data)->form_.cmdTrace_Click();
}

void MainWindowView::WindowCallback(Fl_Widget*, void* data) {
  auto& view = *static_cast<MainWindowView*>(data);
  // FLTK closes a window on Escape; this window closes only on request.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  if (view.on_close_) {
    view.on_close_();
  } else {
    view.window_->hide();
  }
}

}  // namespace quorvex
