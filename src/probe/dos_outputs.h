// DOSOutputs: runs one command line as a hidden child process and streams
// its joined standard output and standard error to a listener.
//
// The child gets the write end of one pipe as fds 1 and 2 and /dev/null as
// fd 0; no shell is involved. Output is read in pieces of at most 256 bytes
// and each piece is handed to the listener before the next read; the run
// ends when every holder of the write end has closed it, and the listener
// then receives one last, empty piece. There is no time limit.
#pragma once

#include <string>
#include <string_view>

#include "platform/message_box.h"

namespace quorvex {

class DOSOutputsListener {
 public:
  virtual ~DOSOutputsListener() = default;
  // One piece of output as read (possibly empty: the end of a run).
  virtual void ReceiveOutputs(std::string_view CommandOutputs) = 0;
};

class DOSOutputs {
 public:
  // Neither listener nor boxes is owned; both must outlive this object.
  // listener may be null (output is still accumulated).
  DOSOutputs(DOSOutputsListener* listener, MessageBoxPresenter& boxes);
  DOSOutputs(const DOSOutputs&) = delete;
  DOSOutputs& operator=(const DOSOutputs&) = delete;

  const std::string& CommandLine() const { return command_line_; }
  void CommandLine(std::string DOSCommand) { command_line_ = std::move(DOSCommand); }

  // The accumulated output of the last run that started a child.
  std::string Outputs() const { return outputs_; }

  // Runs CommandLine (replaced first by the argument when that is not
  // empty). Returns the run's whole output, or empty text after showing one
  // of the three failure messages ("Command Line empty", "CreatePipe failed.
  // Error: <n>", "File or command not found").
  std::string ExecuteCommand(std::string_view CommandLine = {});

 private:
  DOSOutputsListener* listener_;
  MessageBoxPresenter& boxes_;
  std::string command_line_;
  std::string outputs_;
};

}  // namespace quorvex
