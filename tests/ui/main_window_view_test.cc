// The main window's view on a real X display (run under xvfb-run): its
// layout from the model, the output box fed by a real runner, and the
// message boxes.
// clang-format off
// GoogleTest before FLTK: the X headers that Fl_Text_Display.H pulls in
// define None, a name GoogleTest uses.
#include <gtest/gtest.h>
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Text_Display.H>
// clang-format on

#include "ui/view/main_window_view.h"

#include <string>
#include <vector>

#include "job/run_state.h"
#include "ui/view/fltk_message_box.h"
#include "ui/view/window_font.h"
#include "ui/view/window_icon.h"

namespace quorvex {
namespace {

// Collects what a message box showed and closes it, from inside the box's
// own event loop.
struct BoxSeen {
  bool seen = false;
  std::string title;
  std::string xclass;
  std::string message;
  int children = 0;
};

void CloseMessageBox(void* data) {
  auto& seen = *static_cast<BoxSeen*>(data);
  for (Fl_Window* w = Fl::first_window(); w != nullptr; w = Fl::next_window(w)) {
    if (w->xclass() == nullptr || std::string(w->xclass()) != FltkMessageBox::kWindowClass) {
      continue;
    }
    seen.seen = true;
    seen.title = w->label();
    seen.xclass = w->xclass();
    seen.children = w->children();
    for (int i = 0; i < w->children(); ++i) {
      if (auto* box = dynamic_cast<Fl_Box*>(w->child(i))) seen.message = box->label();
    }
    w->hide();
    return;  // a hidden window has no next window to go on from
  }
}

class MainWindowViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.ProgramFolder = QUORVEX_BINARY_DIR;
    form_.Form_Load();
  }
  void TearDown() override { form_.Form_QueryUnload(); }

  Fl_Text_Display& Output() {
    return *static_cast<Fl_Text_Display*>(view_.WidgetFor(form_.txtSalida));
  }
  std::string OutputText() {
    char* text = Output().buffer()->text();
    std::string copy(text);
    free(text);
    return copy;
  }
  // Runs a command line as the Ping button does, typed into the host box.
  void PressPing(const std::string& command) {
    auto* host = static_cast<Fl_Input*>(view_.WidgetFor(form_.txtNombreHost));
    host->value(command.c_str());
    view_.WidgetFor(form_.cmdPing)->do_callback();
  }

  RunState run_;
  WindowFont font_ = ResolveWindowFont();
  FltkMessageBox boxes_{font_};
  frmMain form_{run_, boxes_};
  MainWindowView view_{form_, font_};
};

TEST_F(MainWindowViewTest, LayoutFollowsTheModelInPixels) {
  struct Expected {
    const Control* control;
    int x, y, w, h;
    bool active;
  };
  const std::vector<Expected> expected = {
      {&form_.Label1, 16, 16, 105, 17, true},    {&form_.txtNombreHost, 128, 16, 233, 19, true},
      {&form_.Label2, 16, 40, 105, 17, false},   {&form_.txtPaquete, 128, 40, 65, 22, false},
      {&form_.txtSalida, 8, 72, 433, 238, true}, {&form_.cmdPing, 376, 16, 65, 17, true},
      {&form_.cmdTrace, 376, 40, 65, 17, false},
  };
  Fl_Double_Window& window = view_.Window();
  std::string labels;
  EXPECT_STREQ(window.label(), "Quorvex Server");
  EXPECT_EQ(window.w(), 452);
  EXPECT_EQ(window.h(), 319);
  ASSERT_EQ(window.children(), static_cast<int>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Expected& e = expected[i];
    SCOPED_TRACE(e.control->Name());
    Fl_Widget* widget = view_.WidgetFor(*e.control);
    ASSERT_NE(widget, nullptr);
    // Children in tab order: FLTK moves the focus in child order.
    EXPECT_EQ(window.child(static_cast<int>(i)), widget);
    EXPECT_EQ(widget->x(), e.x);
    EXPECT_EQ(widget->y(), e.y);
    EXPECT_EQ(widget->w(), e.w);
    EXPECT_EQ(widget->h(), e.h);
    EXPECT_EQ(widget->active() != 0, e.active);
    EXPECT_EQ(widget->labelfont(), font_.face);
    EXPECT_EQ(widget->labelsize(), 11);
    // Flat: no raised or sunken frames anywhere.
    for (Fl_Boxtype three_d : {FL_UP_BOX, FL_DOWN_BOX, FL_THIN_UP_BOX, FL_THIN_DOWN_BOX}) {
      EXPECT_NE(widget->box(), three_d);
    }
  }
  for (const Control* c : {&form_.Label1, &form_.Label2, &form_.cmdPing, &form_.cmdTrace}) {
    labels += std::string(view_.WidgetFor(*c)->label()) + "|";
  }
  EXPECT_EQ(labels, "NOMBRE HOST:|PAQUETE:|Ping|Trace|");
}

TEST_F(MainWindowViewTest, FontIsTheDesignedOneOrACloseSansSerif) {
  EXPECT_EQ(PointsToPixels(frmMain::kFontPoints), 11);
  EXPECT_EQ(font_.size, 11);
  if (FontFamilyInstalled(frmMain::kFontName)) {
    EXPECT_EQ(font_.family, frmMain::kFontName);
  } else if (FontFamilyInstalled("DejaVu Sans")) {
    EXPECT_EQ(font_.family, "DejaVu Sans");
  } else {
    EXPECT_EQ(font_.face, FL_HELVETICA);
  }
  EXPECT_FALSE(FontFamilyInstalled("No Such Family Quorvex"));
}

TEST_F(MainWindowViewTest, OutputOfARealRunLandsInTheBoxWithTheCaretAtTheEnd) {
  view_.Show();
  // Carriage returns and NUL bytes stay in the model's text but are not
  // drawn.
  PressPing("/usr/bin/printf one\\r\\ntwo\\0003\\n");
  EXPECT_EQ(form_.txtNombreHost.Text(), "/usr/bin/printf one\\r\\ntwo\\0003\\n");
  EXPECT_EQ(form_.txtSalida.Text(), std::string("one\r\ntwo\0"
                                                "3\n",
                                                11));
  EXPECT_EQ(OutputText(), "one\ntwo3\n");
  EXPECT_EQ(Output().insert_position(), Output().buffer()->length());

  // Many pieces: the box keeps everything, in order, and shows the end.
  PressPing("/usr/bin/seq 1 2000");
  std::string expected = "one\ntwo3\n";
  for (int i = 1; i <= 2000; ++i) expected += std::to_string(i) + "\n";
  EXPECT_EQ(OutputText(), expected);
  EXPECT_EQ(Output().insert_position(), static_cast<int>(expected.size()));
  Fl::flush();
  int x = 0;
  int y = 0;
  EXPECT_NE(Output().position_to_xy(Output().insert_position(), &x, &y), 0) << "end not in view";
  EXPECT_EQ(Output().position_to_xy(0, &x, &y), 0) << "start still in view";

  // A caller clearing the box clears the screen too.
  form_.txtSalida.SetText("");
  EXPECT_EQ(OutputText(), "");
  EXPECT_EQ(Output().insert_position(), 0);
}

TEST_F(MainWindowViewTest, ModelTextReachesTheHostBox) {
  form_.txtNombreHost.SetText("ping -n 1 127.0.0.1");
  EXPECT_STREQ(static_cast<Fl_Input*>(view_.WidgetFor(form_.txtNombreHost))->value(),
               "ping -n 1 127.0.0.1");
}

TEST_F(MainWindowViewTest, RunnerFailuresShowAModalBoxTitledQuorvex) {
  view_.Show();
  BoxSeen seen;
  Fl::add_check(CloseMessageBox, &seen);
  PressPing("");
  Fl::remove_check(CloseMessageBox, &seen);
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, "Quorvex");
  EXPECT_EQ(seen.message, "Command Line empty");
  EXPECT_EQ(seen.children, 3) << "stop sign, text and OK";
  EXPECT_EQ(OutputText(), "");
}

TEST(FltkMessageBoxTest, PlainBoxShowsTheTextLiterallyWithoutIcon) {
  FltkMessageBox boxes(ResolveWindowFont());
  BoxSeen seen;
  Fl::add_check(CloseMessageBox, &seen);
  boxes.Show("mail@host - Quorvex - 91", MessageBoxIcon::kNone);
  Fl::remove_check(CloseMessageBox, &seen);
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, "Quorvex");
  // "@" is doubled so FLTK draws it instead of reading a symbol name.
  EXPECT_EQ(seen.message, "mail@@host - Quorvex - 91");
  EXPECT_EQ(seen.children, 2) << "text and OK only";
}

TEST(WindowIconTest, FiveSizesOfOnePicture) {
  const WindowIcons icons;
  ASSERT_EQ(icons.Images().size(), kIconSizes.size());
  for (std::size_t i = 0; i < kIconSizes.size(); ++i) {
    const int size = kIconSizes[i];
    SCOPED_TRACE(size);
    const Fl_RGB_Image& image = *icons.Images()[i];
    EXPECT_EQ(image.w(), size);
    EXPECT_EQ(image.h(), size);
    EXPECT_EQ(image.d(), 3);
    // The corner lies (nearly) outside the rounded tile; the middle is the
    // pulse.
    const std::vector<unsigned char> pixels = DrawIconPixels(size);
    const std::size_t middle = (static_cast<std::size_t>(size / 2) * size + size / 2) * 3;
    EXPECT_LT(pixels[0] + pixels[1] + pixels[2], 60);
    EXPECT_GT(pixels[middle + 1], pixels[middle]);
    EXPECT_GT(pixels[middle + 1], pixels[middle + 2]);
  }
}

}  // namespace
}  // namespace quorvex
