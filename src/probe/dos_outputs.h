// DOSOutputs: runs one command line as a hidden child process and streams
// its joined standard output and standard error to a listener.
//
// The child gets the write end of one pipe as fds 1 and 2 and /dev/null as
// fd 0; no shell is involved. Output is handed to the listener in pieces of
// at most 256 bytes, each before the pipe is read again; the run
// ends when every holder of the write end has closed it, and the listener
// then receives one last, empty piece.
//
// Two limits, handed in by the creator (RunLimits), keep a misbehaving tool
// from holding up or swamping its caller:
//   - a run-time limit and a deadline, none by default: when the first of
//     them passes, the child and everything it started are killed
//     (ChildProcess::KillTree) and the run ends as if the output had ended;
//     what was captured until then is the run's output;
//   - a capture limit, 16 MiB by default: output past it is still read, so
//     that the child never blocks on a full pipe, but is dropped: it is
//     neither accumulated nor handed to the listener.
//
// A program named without a folder is looked up in the program folder, then
// in the current directory, then along PATH (see FindProgram). A child that
// closed its output but keeps running does not hold up the run: it is
// collected later, without waiting, by this object's reaper.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/child_process.h"
#include "platform/message_box.h"

namespace quorvex {

class DOSOutputsListener {
 public:
  virtual ~DOSOutputsListener() = default;
  // One piece of output as read (possibly empty: the end of a run).
  virtual void ReceiveOutputs(std::string_view CommandOutputs) = 0;
};

// How long one run may last and how much of its output is kept.
struct RunLimits {
  static constexpr std::size_t kDefaultCaptureLimit = 16 * 1024 * 1024;

  // Measured from the start of the child; none: the run lasts as long as
  // some process keeps the output open.
  std::optional<std::chrono::milliseconds> time_limit;
  // A point in time no run may last past, whatever its time limit (the
  // job's deadline for its tools); none: only time_limit applies.
  std::optional<std::chrono::steady_clock::time_point> deadline{};
  // Bytes of output kept (accumulated and handed to the listener) per run.
  std::size_t capture_limit = kDefaultCaptureLimit;
};

class DOSOutputs {
 public:
  // Neither listener nor boxes is owned; both must outlive this object.
  // listener may be null (output is still accumulated). program_folder is
  // where bare program names are looked up first; empty means the folder of
  // the running executable. limits apply to every run of this object.
  DOSOutputs(DOSOutputsListener* listener, MessageBoxPresenter& boxes,
             std::string program_folder = {}, RunLimits limits = {});
  DOSOutputs(const DOSOutputs&) = delete;
  DOSOutputs& operator=(const DOSOutputs&) = delete;

  const std::string& CommandLine() const { return command_line_; }
  void CommandLine(std::string DOSCommand) { command_line_ = std::move(DOSCommand); }

  // The accumulated output of the last run that started a child.
  std::string Outputs() const { return outputs_; }

  // Runs CommandLine (replaced first by the argument when that is not
  // empty). Returns the run's whole output, or empty text after showing one
  // of the three failure messages ("Command Line empty", "CreatePipe failed.
  // Error: <n>", "File or command not found"). The result is a view of the
  // accumulated output (no copy of a possibly large text); it stays valid
  // until the next call.
  // The failures raise no event and leave Outputs as it was. On Windows a
  // program whose path the ANSI code page cannot hold is not started
  // either: that throws std::runtime_error naming the program and the code
  // page, so that the job's caller writes it to the event log. An exception
  // thrown by the listener passes to the caller; the child is then still
  // released and collected as on a normal end.
  const std::string& ExecuteCommand(std::string_view CommandLine = {});
  // Runs CommandLine as ExecuteCommand does, except that the file started
  // is program (a full path), whatever program the line names; the line
  // still reaches that program as it is. An empty program is one found
  // nowhere: "File or command not found".
  const std::string& ExecuteProgram(const std::string& program);

  // True when the last run that started a child was ended by the run-time
  // limit.
  bool TimedOut() const { return timed_out_; }

 private:
  // Both Execute calls; program as ExecuteProgram takes it, or none to
  // find the one the line names.
  const std::string& Execute(const std::optional<std::string>& program);

  DOSOutputsListener* listener_;
  MessageBoxPresenter& boxes_;
  std::string program_folder_;
  RunLimits limits_;
  std::string command_line_;
  bool timed_out_ = false;
  std::string outputs_;
  ChildReaper reaper_;
};

}  // namespace quorvex
