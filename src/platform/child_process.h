// Child processes with their output joined into one pipe.
//
// The console runner starts each command line as a hidden child process:
// standard output and standard error both go to the write end of one pipe,
// standard input is the null device, no command interpreter is involved and
// no other descriptor of ours reaches the child. The command line is one
// text, split into arguments by the rules Windows programs apply to theirs,
// so a tool path written between double quotes works as it does there.
//
// Each child and everything it starts are held together, so that all of
// them can be ended at once when a run is cut short (see KillTree; the
// -posix and -win32 files say how).
//
// A child is reaped without ever blocking on it: when its output has ended
// it gets a short, bounded moment to exit; one that lives on after closing
// its output is handed to a ChildReaper, which collects it on a later run or
// when the reaper goes away, again without waiting.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process_info.h"

namespace quorvex {

// Splits a command line into arguments by the Windows rules:
//   - spaces and tabs outside double quotes separate arguments;
//   - a double quote starts or ends a quoted part, which may hold spaces;
//   - 2n backslashes followed by a double quote give n backslashes, and the
//     quote starts or ends a quoted part;
//   - 2n+1 backslashes followed by a double quote give n backslashes and a
//     literal double quote;
//   - backslashes not followed by a double quote are taken literally.
// The first argument, the program name, is read as process creation reads
// it: when it starts with a double quote it runs to the next double quote,
// otherwise to the first space or tab; backslashes in it are plain text.
// An empty or all-blank line gives no arguments.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// Finds the program a command line names, as process creation does.
// A backslash in program is taken as "/". A name holding "/" is returned as
// it is (relative names count from the current directory); a bare name is
// looked up in program_folder (skipped when empty), then in the current
// directory, then in each folder of PATH, and the first executable ordinary
// file found is returned. In each folder a bare name without an extension
// (no "." in it) is tried with ".exe" appended first, as Windows does, and
// then as it is, since programs here usually carry no extension: "tcping"
// finds tcping.exe, "ping" still finds the system's ping. Returns empty
// text when a bare name is found nowhere or program is empty.
// Windows process creation makes this search itself, so only the POSIX
// side has it.
#ifndef _WIN32
std::string FindProgram(std::string_view program, const std::string& program_folder);
#endif

// The file of the system's ping, which the latency sweep starts for the
// line "ping <host>": on Windows ping.exe in the system folder
// (GetSystemDirectoryW); elsewhere the stand-in "ping" beside the program,
// an executable regular file. Never one that the current folder or PATH
// would offer. Empty when there is none.
std::string SystemPingPath(const std::string& program_folder);

// Where SystemPingPath looks, for a message that says it was not found:
// "<program_folder>/ping", or on Windows "ping.exe in the system folder".
std::string SystemPingLocation(const std::string& program_folder);

// ExecutableFolder() lives in platform/process_info.h.

// The text of bytes a child wrote. On Windows console programs write in the
// ANSI code page, decoded here to UTF-8; elsewhere the bytes are the text.
std::string ChildOutputText(std::string_view bytes);

// Children whose output ended while they were still running. Each is
// collected as soon as it has exited, by ReapFinished or by the destructor;
// neither waits. A child still running when the reaper goes away is left to
// the system, which reparents it and collects it when it ends.
class ChildReaper {
 public:
  ChildReaper() = default;
  ~ChildReaper();
  ChildReaper(const ChildReaper&) = delete;
  ChildReaper& operator=(const ChildReaper&) = delete;

  // Takes over a child that has not exited yet.
  void Adopt(std::intptr_t process);
  // Collects every adopted child that has exited; never blocks.
  void ReapFinished();

 private:
  std::vector<std::intptr_t> pending_;
};

// One started child and the read end of its output pipe.
class ChildProcess {
 public:
  enum class StartStatus {
    kStarted,
    kPipeFailed,  // the pipe could not be created; error() holds the code
    kNotFound,    // no program, or the program could not be started
    // Windows: the program's path holds a character the ANSI code page
    // cannot hold (process creation takes the command line in it); error()
    // holds the code page's number.
    kNotInCodePage,
  };

  // reaper must outlive this object; it receives the child if the child is
  // still running when this object goes away.
  explicit ChildProcess(ChildReaper& reaper) : reaper_(reaper) {}
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts command_line (see SplitCommandLine and FindProgram). With
  // program given, that file is started instead of the one the line names
  // (an empty one is found nowhere); the line still reaches it unchanged.
  // On any result but kStarted nothing is left open and no child exists.
  // REQUIRES: not started before.
  StartStatus Start(std::string_view command_line, const std::string& program_folder,
                    const std::optional<std::string>& program = std::nullopt);
  // The system error code of the failed pipe creation, or the number of the
  // ANSI code page (kNotInCodePage).
  int error() const { return error_; }

  using Deadline = std::optional<std::chrono::steady_clock::time_point>;

  // Reads up to size bytes of the child's output (on Windows at most 256
  // at a time, the size of the runner's pieces), waiting for them until
  // deadline (without end when it is empty). Returns the count read; 0 at
  // the end of the output (every holder of the write end closed it), when
  // reading fails, or when the deadline has passed (TimedOut() then
  // answers true). Interrupted reads are retried.
  // REQUIRES: Start returned kStarted.
  std::size_t Read(char* buffer, std::size_t size, Deadline deadline = std::nullopt);
  // True once a Read has ended at its deadline.
  bool TimedOut() const { return timed_out_; }

  // Ends the child and everything it started, also what left its group on
  // purpose, at once and without a chance to clean up. The child itself is
  // still collected as usual when this object goes away; killed descendants
  // that have become this process's children go to the reaper.
  // REQUIRES: Start returned kStarted.
  void KillTree();

 private:
  ChildReaper& reaper_;
  int read_fd_ = -1;
  std::intptr_t process_ = -1;
#ifdef _WIN32
  std::intptr_t read_handle_ = 0;  // the pipe's read end
  std::intptr_t job_ = 0;          // the job object holding the child's tree
#endif
  int error_ = 0;
  bool timed_out_ = false;
};

}  // namespace quorvex
