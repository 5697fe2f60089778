#include "ui/view/fltk_message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <string>

#include "job/run_state.h"

namespace quorvex {
namespace {

constexpr int kMargin = 12;
constexpr int kIconSide = 32;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kMaxTextWidth = 420;
constexpr int kLabelInset = 3;

// The critical icon: a red disc with a white cross.
class StopSign final : public Fl_Widget {
 public:
  StopSign(int x, int y) : Fl_Widget(x, y, kIconSide, kIconSide) {}

 protected:
  void draw() override {
    fl_color(fl_rgb_color(200, 30, 30));
    fl_pie(x(), y(), w(), h(), 0, 360);
    fl_color(FL_WHITE);
    fl_line_style(FL_SOLID | FL_CAP_ROUND, 3);
    const int inset = w() / 3;
    fl_line(x() + inset, y() + inset, x() + w() - inset, y() + h() - inset);
    fl_line(x() + w() - inset, y() + inset, x() + inset, y() + h() - inset);
    fl_line_style(0);
  }
};

void HideWindowOf(Fl_Widget* widget, void*) { widget->window()->hide(); }

}  // namespace

std::string LiteralLabel(std::string_view text) {
  std::string label;
  label.reserve(text.size());
  for (char c : text) {
    if (c == '@') label += '@';
    label += c;
  }
  return label;
}

void FltkMessageBox::Show(std::string_view text, MessageBoxIcon icon) {
  const std::string label = LiteralLabel(text);

  // Measure the text in the box's font, wrapping long messages.
  fl_font(font_.face, font_.size);
  int text_w = 0;
  int text_h = 0;
  fl_measure(label.c_str(), text_w, text_h, 1);
  if (text_w > kMaxTextWidth) {
    text_w = kMaxTextWidth;
    text_h = 0;
    fl_measure(label.c_str(), text_w, text_h, 1);
  }

  // The label is drawn 3 pixels in from each side.
  text_w += 2 * kLabelInset;

  const bool critical = icon == MessageBoxIcon::kCritical;
  const int text_x = critical ? kMargin + kIconSide + kMargin : kMargin;
  const int body_h = std::max(text_h, critical ? kIconSide : 0);
  const int width = std::max(text_x + text_w + kMargin, kButtonWidth + 2 * kMargin);
  const int height = kMargin + body_h + kMargin + kButtonHeight + kMargin;

  Fl_Window box(width, height, kApplicationTitle);
  box.xclass(kWindowClass);
  box.color(FL_BACKGROUND2_COLOR);
  if (critical) new StopSign(kMargin, kMargin);
  auto* message = new Fl_Box(text_x, kMargin, text_w, body_h);
  message->box(FL_NO_BOX);
  message->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  message->labelfont(font_.face);
  message->labelsize(font_.size);
  message->copy_label(label.c_str());
  auto* ok = new Fl_Button((width - kButtonWidth) / 2, height - kMargin - kButtonHeight,
                           kButtonWidth, kButtonHeight, "OK");
  ok->box(FL_BORDER_BOX);
  ok->down_box(FL_BORDER_BOX);
  ok->labelfont(font_.face);
  ok->labelsize(font_.size);
  ok->shortcut(FL_Enter);
  ok->callback(HideWindowOf);
  box.end();
  box.set_modal();

  // Centre the box over the window that was in front, else on the screen.
  int area_x = 0;
  int area_y = 0;
  int area_w = Fl::w();
  int area_h = Fl::h();
  if (Fl_Window* front = Fl::first_window(); front != nullptr && front->shown()) {
    area_x = front->x();
    area_y = front->y();
    area_w = front->w();
    area_h = front->h();
  }
  box.position(area_x + (area_w - width) / 2, area_y + (area_h - height) / 2);

  box.show();
  ok->take_focus();
  while (box.shown()) Fl::wait();
}

}  // namespace quorvex
