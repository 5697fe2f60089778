// QuorvexConsole.exe: the operator console on Windows. Opens the main window
// of the job on screen, with a live runner, so that an operator can type a
// command line into the host-name box and press Ping. It runs until the
// window is closed. It reads no arguments and touches neither the database
// nor the settings file. Its message boxes are the system's modal boxes
// titled "Quorvex".
//
// Test hook: when the environment variable QUORVEX_CONSOLE_STATE names a
// file, the console rewrites that file whenever what the window shows
// changes (ui/console_state.h), looked at every 50 ms.
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "job/run_state.h"
#include "platform/message_box.h"
#include "platform/process_info.h"
#include "platform/windows_text.h"
#include "ui/console_state.h"
#include "ui/frm_main.h"
#include "ui/last_run_status.h"
#include "ui/view-win32/main_window_view.h"

namespace quorvex {
namespace {

int RunConsole() {
  std::setlocale(LC_ALL, "");
  // The layout is converted with the display's real dots per inch, so the
  // system need not stretch the window's bitmap.
  SetProcessDPIAware();

  RunState run;
  try {
    run.ProgramFolder = ExecutableFolder();
    // A typed line that names a program without a folder is looked up in
    // the program folder, then in the current folder, then in the system's
    // folders: working in the program folder keeps out whatever lies in the
    // folder the console was started from (a download folder, a share).
    SetCurrentDirectoryW(Utf8ToWide(run.ProgramFolder).c_str());
  } catch (const std::exception&) {
    // Bare program names are then looked up in the current folder and PATH.
  }
  // An operator opened the console: its boxes are the system's.
  const std::unique_ptr<MessageBoxPresenter> boxes =
      MakeMessageBox(kApplicationTitle, /*unattended=*/false);
  // No run-time limit here: the operator sees the command's output as it
  // comes and can close the window; the capture limit still applies.
  frmMain form(run, *boxes);
  form.Form_Load();
  try {
    MainWindowView view(form);
    std::optional<ConsoleStateFile> state;
    if (const char* path = std::getenv("QUORVEX_CONSOLE_STATE"); path != nullptr && *path) {
      state.emplace(path);
      view.OnTick([&state, &view] { state->Update(view.DescribeState()); });
    }
    view.ShowStatus(LastRunStatus());
    view.Show();
    view.RunUntilClosed();
  } catch (const std::exception& failure) {
    boxes->Show(failure.what(), MessageBoxIcon::kCritical);
    return EXIT_FAILURE;
  }
  form.Form_QueryUnload();
  return EXIT_SUCCESS;
}

}  // namespace
}  // namespace quorvex

int main() { return quorvex::RunConsole(); }
