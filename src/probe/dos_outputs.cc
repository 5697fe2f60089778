#include "probe/dos_outputs.h"

#include <string>
#include <utility>

namespace quorvex {
namespace {

constexpr std::size_t kReadSize = 256;

}  // namespace

DOSOutputs::DOSOutputs(DOSOutputsListener* listener, MessageBoxPresenter& boxes,
                       std::string program_folder)
    : listener_(listener), boxes_(boxes), program_folder_(std::move(program_folder)) {
  if (program_folder_.empty()) program_folder_ = ExecutableFolder();
}

std::string DOSOutputs::ExecuteCommand(std::string_view CommandLine) {
  if (!CommandLine.empty()) command_line_ = std::string(CommandLine);
  if (command_line_.empty()) {
    boxes_.Show("Command Line empty", MessageBoxIcon::kCritical);
    return {};
  }
  reaper_.ReapFinished();

  ChildProcess child(reaper_);
  switch (child.Start(command_line_, program_folder_)) {
    case ChildProcess::StartStatus::kStarted:
      break;
    case ChildProcess::StartStatus::kPipeFailed:
      boxes_.Show("CreatePipe failed. Error: " + std::to_string(child.error()),
                  MessageBoxIcon::kCritical);
      return {};
    case ChildProcess::StartStatus::kNotFound:
      boxes_.Show("File or command not found", MessageBoxIcon::kCritical);
      return {};
  }

  outputs_.clear();
  char buffer[kReadSize];
  while (true) {
    const std::size_t count = child.Read(buffer, sizeof buffer);
    const std::string_view chunk(buffer, count);
    outputs_.append(chunk);
    if (listener_ != nullptr) listener_->ReceiveOutputs(chunk);
    if (count == 0) break;
  }
  return outputs_;
}

}  // namespace quorvex
