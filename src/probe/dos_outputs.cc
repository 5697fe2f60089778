#include "probe/dos_outputs.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quorvex {
namespace {

// Output is handed on in pieces of at most 256 bytes. The pipe itself may
// be read in larger blocks (ChildProcess::Read says how much a platform
// reads at once): a read returns only what the child has already written,
// and every piece of it goes to the listener before the pipe is read again,
// so the listener sees exactly the pieces that 256-byte reads could have
// given, at a fraction of the system calls (256-byte reads alone cap a
// capture at tens of MB/s).
constexpr std::size_t kPieceSize = 256;
constexpr std::size_t kPipeReadSize = 64 * 1024;

}  // namespace

DOSOutputs::DOSOutputs(DOSOutputsListener* listener, MessageBoxPresenter& boxes,
                       std::string program_folder, RunLimits limits)
    : listener_(listener),
      boxes_(boxes),
      program_folder_(std::move(program_folder)),
      limits_(limits) {
  if (program_folder_.empty()) program_folder_ = ExecutableFolder();
}

const std::string& DOSOutputs::ExecuteCommand(std::string_view CommandLine) {
  if (!CommandLine.empty()) command_line_ = std::string(CommandLine);
  return Execute(std::nullopt);
}

const std::string& DOSOutputs::ExecuteProgram(const std::string& program) {
  return Execute(program);
}

const std::string& DOSOutputs::Execute(const std::optional<std::string>& program) {
  static const std::string kNoOutput;
  if (command_line_.empty()) {
    boxes_.Show("Command Line empty", MessageBoxIcon::kCritical);
    return kNoOutput;
  }
  reaper_.ReapFinished();

  ChildProcess child(reaper_);
  ChildProcess::Deadline deadline;
  if (limits_.time_limit) deadline = std::chrono::steady_clock::now() + *limits_.time_limit;
  if (limits_.deadline)
    deadline = std::min(deadline.value_or(*limits_.deadline), *limits_.deadline);
  switch (child.Start(command_line_, program_folder_, program)) {
    case ChildProcess::StartStatus::kStarted:
      break;
    case ChildProcess::StartStatus::kPipeFailed:
      boxes_.Show("CreatePipe failed. Error: " + std::to_string(child.error()),
                  MessageBoxIcon::kCritical);
      return kNoOutput;
    case ChildProcess::StartStatus::kNotFound:
      boxes_.Show("File or command not found", MessageBoxIcon::kCritical);
      return kNoOutput;
    case ChildProcess::StartStatus::kNotInCodePage:
      throw std::runtime_error("The program " + SplitCommandLine(command_line_).front() +
                               " cannot be started: its path holds characters that the system's "
                               "ANSI code page (" +
                               std::to_string(child.error()) +
                               ") cannot represent. Folder and program names must be written "
                               "with characters of that code page.");
  }

  outputs_.clear();
  timed_out_ = false;
  std::vector<char> buffer(kPipeReadSize);
  while (true) {
    const std::size_t count = child.Read(buffer.data(), buffer.size(), deadline);
    if (count == 0) break;
    // Past the capture limit the pipe is still drained, and the rest
    // dropped.
    const std::size_t room =
        limits_.capture_limit - std::min(limits_.capture_limit, outputs_.size());
    const std::size_t kept = std::min(count, room);
    for (std::size_t offset = 0; offset < kept; offset += kPieceSize) {
      const std::string chunk = ChildOutputText(
          std::string_view(buffer.data() + offset, std::min(kPieceSize, kept - offset)));
      outputs_.append(chunk);
      if (listener_ != nullptr) listener_->ReceiveOutputs(chunk);
    }
  }
  if (child.TimedOut()) {
    // The tool and whatever it started go together; anything it had not
    // yet written is lost with it.
    child.KillTree();
    timed_out_ = true;
  }
  // The end of the output (or a failed read) is announced with an empty
  // piece.
  if (listener_ != nullptr) listener_->ReceiveOutputs({});
  return outputs_;
}

}  // namespace quorvex
