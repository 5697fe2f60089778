// The operator console's test hook, shared by its views: what the window
// shows, as "key=value" lines, written to the file that the environment
// variable QUORVEX_CONSOLE_STATE names. Tests drive the window with real
// input and read the outcome from there.
//
// The lines, in this order: "<name>.text=" for each single-line text box in
// tab order, "txtSalida.text=" (line breaks as "\n"), the output box's caret
// and length in the box's own units "txtSalida.insert=", "txtSalida.length=", "focus=<control
// name>" (or "none"/"other"), "command_running=0|1", and one
// "window=<title>|<message>" line for every other window on screen (the
// message boxes). Texts are escaped with EscapeForState.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace quorvex {

// Escapes \, line feed, carriage return and tab as \\, \n, \r and \t.
std::string EscapeForState(std::string_view text);

// The state file: rewritten through a temporary file and a rename, so a
// reader never sees half of it.
class ConsoleStateFile {
 public:
  explicit ConsoleStateFile(std::string path) : path_(std::move(path)) {}

  // Writes state unless it is what the file already holds. A failed write
  // is tried again at the next call.
  void Update(std::string state);

 private:
  std::string path_;
  std::string last_;
};

}  // namespace quorvex
