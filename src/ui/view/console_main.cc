// QuorvexConsole: the operator console. Opens the main window of the job on
// screen, with a live runner, so that an operator can type a command line
// into the host-name box and press Ping. It runs until the window is
// closed. It reads no arguments and touches neither the database nor the
// settings file.
//
// Test hook: when the environment variable QUORVEX_CONSOLE_STATE names a
// file, the console rewrites that file whenever what the window shows
// changes (ui/console_state.h).
#include <FL/Fl.H>

#include <clocale>
#include <cstdlib>
#include <exception>
#include <string>

#include "job/run_state.h"
#include "platform/process_info.h"
#include "ui/console_state.h"
#include "ui/frm_main.h"
#include "ui/last_run_status.h"
#include "ui/view/fltk_message_box.h"
#include "ui/view/main_window_view.h"
#include "ui/view/window_font.h"
#include "ui/view/window_icon.h"

namespace quorvex {
namespace {

// Writes the view's state to the file each time it changes, checked once
// per turn of the event loop.
class StateFile {
 public:
  StateFile(const MainWindowView& view, std::string path) : view_(view), file_(std::move(path)) {
    Fl::add_check(Check, this);
  }
  ~StateFile() { Fl::remove_check(Check, this); }
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;

 private:
  static void Check(void* data) {
    auto& self = *static_cast<StateFile*>(data);
    self.file_.Update(self.view_.DescribeState());
  }

  const MainWindowView& view_;
  ConsoleStateFile file_;
};

int RunConsole() {
  std::setlocale(LC_ALL, "");

  RunState run;
  try {
    run.ProgramFolder = ExecutableFolder();
  } catch (const std::exception&) {
    // Bare program names are then looked up in the current folder and PATH.
  }

  const WindowFont font = ResolveWindowFont();
  const WindowIcons icons;
  icons.MakeDefault();
  FltkMessageBox boxes(font);
  // No run-time limit here: the operator sees the command's output as it
  // comes and can close the window; the capture limit still applies.
  frmMain form(run, boxes);
  form.Form_Load();
  {
    MainWindowView view(form, font);
    view.OnCloseRequested([&view] {
      // A command still running holds this process inside its read loop;
      // closing the window ends the console, and the command ends at its
      // next write, having lost its reader.
      if (view.CommandRunning()) std::exit(EXIT_SUCCESS);
      view.Window().hide();
    });
    std::unique_ptr<StateFile> state;
    if (const char* path = std::getenv("QUORVEX_CONSOLE_STATE"); path != nullptr && *path) {
      state = std::make_unique<StateFile>(view, path);
    }
    view.ShowStatus(LastRunStatus());
    view.Show();
    Fl::run();
  }
  form.Form_QueryUnload();
  return EXIT_SUCCESS;
}

}  // namespace
}  // namespace quorvex

int main() { return quorvex::RunConsole(); }
