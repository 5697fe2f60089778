// The main window's layout in pixels and its two kinds of message box, on a
// real X display; what an operator does with it is console_test.sh.
// clang-format off
// GoogleTest before FLTK: the X headers that FLTK pulls in define None, a
// name GoogleTest uses.
#include <gtest/gtest.h>
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
// clang-format on

#include "ui/view/main_window_view.h"

#include <string>

#include "job/run_state.h"
#include "ui/view/fltk_message_box.h"
#include "ui/view/window_font.h"

namespace quorvex {
namespace {

// Describes the message box on screen as "title|text drawn|widgets" into
// *data and closes it, from inside the box's own event loop.
void CloseMessageBox(void* data) {
  for (Fl_Window* w = Fl::first_window(); w != nullptr; w = Fl::next_window(w)) {
    if (!w->xclass() || std::string(w->xclass()) != FltkMessageBox::kWindowClass) continue;
    std::string text;
    for (int i = 0; i < w->children(); ++i) {
      if (auto* box = dynamic_cast<Fl_Box*>(w->child(i))) text = box->label();
    }
    *static_cast<std::string*>(data) =
        std::string(w->label()) + "|" + text + "|" + std::to_string(w->children());
    w->hide();
    return;  // a hidden window has no next window to go on from
  }
}

// Each control in child order (FLTK moves the focus in child order): its
// name, caption, place and size in pixels (twips / 15) and whether it is
// usable, drawn flat in the window's font.
TEST(MainWindowViewTest, LayoutInPixelsWithCaptions) {
  RunState run;
  const WindowFont font = ResolveWindowFont();
  FltkMessageBox boxes{font};
  frmMain form{run, boxes};
  MainWindowView view{form, font};
  Fl_Double_Window& window = view.Window();  // its title and size: console_test.sh
  const Control* controls[] = {&form.Label1,     &form.txtNombreHost, &form.Label2,
                               &form.txtPaquete, &form.txtSalida,     &form.cmdPing,
                               &form.cmdTrace};
  const char* expected[] = {
      "Label1 [NOMBRE HOST:] 16,16 105x17 usable", "txtNombreHost [] 128,16 233x19 usable",
      "Label2 [PAQUETE:] 16,40 105x17 unusable",   "txtPaquete [] 128,40 65x22 unusable",
      "txtSalida [] 8,72 433x238 usable",          "cmdPing [Ping] 376,16 65x17 usable",
      "cmdTrace [Trace] 376,40 65x17 unusable"};
  ASSERT_EQ(window.children(), 8);  // the controls, then the status line
  EXPECT_EQ(window.child(7)->y(), 319);
  for (int i = 0; i < 7; ++i) {
    Fl_Widget* w = window.child(i);
    ASSERT_EQ(w, view.WidgetFor(*controls[i])) << expected[i];
    const std::string caption = w->label() != nullptr ? w->label() : "";
    EXPECT_EQ(controls[i]->Name() + " [" + caption + "] " + std::to_string(w->x()) + "," +
                  std::to_string(w->y()) + " " + std::to_string(w->w()) + "x" +
                  std::to_string(w->h()) + (w->active() ? " usable" : " unusable"),
              expected[i]);
    EXPECT_EQ(w->labelfont(), font.face);
    EXPECT_EQ(w->labelsize(), 11);
    for (Fl_Boxtype three_d : {FL_UP_BOX, FL_DOWN_BOX, FL_THIN_UP_BOX, FL_THIN_DOWN_BOX})
      EXPECT_NE(w->box(), three_d) << expected[i];
  }
}

// The widgets are the stop sign (critical only), the text and OK. "@" is
// doubled so FLTK draws it instead of reading a symbol name.
TEST(FltkMessageBoxTest, ModalBoxTitledQuorvex) {
  FltkMessageBox boxes(ResolveWindowFont());
  const struct {
    const char* text;
    MessageBoxIcon icon;
    const char* seen;
  } cases[] = {
      {"File or command not found", MessageBoxIcon::kCritical,
       "Quorvex|File or command not found|3"},
      {"mail@host - Quorvex - 91", MessageBoxIcon::kNone, "Quorvex|mail@@host - Quorvex - 91|2"},
  };
  for (const auto& c : cases) {
    std::string seen = "no box";
    Fl::add_check(CloseMessageBox, &seen);
    boxes.Show(c.text, c.icon);
    Fl::remove_check(CloseMessageBox, &seen);
    EXPECT_EQ(seen, c.seen);
  }
}

}  // namespace
}  // namespace quorvex
