// The console presenter: without a desktop a box becomes one line on
// standard error, titled like a box would be, and the call returns at once
// instead of waiting for someone to press OK.
#include "platform/message_box.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace quorvex {
namespace {

class ConsoleMessageBox final : public MessageBoxPresenter {
 public:
  explicit ConsoleMessageBox(std::string_view title) : title_(title) {}

  void Show(std::string_view text, MessageBoxIcon) override {
    std::string line = title_ + ": ";
    line.append(text);
    line += '\n';
    // One write, so that the line is not split by other writers.
    std::string_view rest = line;
    while (!rest.empty()) {
      const ssize_t written = write(STDERR_FILENO, rest.data(), rest.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      rest.remove_prefix(static_cast<std::size_t>(written));
    }
  }

 private:
  std::string title_;
};

}  // namespace

std::unique_ptr<MessageBoxPresenter> MakeConsoleMessageBox(std::string_view title) {
  return std::make_unique<ConsoleMessageBox>(title);
}

}  // namespace quorvex
