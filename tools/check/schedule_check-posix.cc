// The schedule on Linux: the systemd timer that starts the job. Only
// looked at: whether it is installed and enabled, and when it fires next.
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "configuration_check.h"
#include "platform/child_process.h"
#include "platform/message_box.h"
#include "probe/dos_outputs.h"
#include "util/string_util.h"

namespace quorvex {
namespace {

constexpr char kTimer[] = "quorvex-server.timer";
constexpr std::chrono::seconds kSystemctlTimeLimit{10};

class NoMessages final : public MessageBoxPresenter {
 public:
  void Show(std::string_view, MessageBoxIcon) override {}
};

}  // namespace

void ConfigurationCheck::CheckSchedule() {
  std::error_code ignored;
  const std::string systemctl = FindProgram("systemctl", {});
  if (!std::filesystem::is_directory("/run/systemd/system", ignored) || systemctl.empty()) {
    findings_.Ok("schedule", std::string("systemd does not run on this machine, so there is no ") +
                                 kTimer +
                                 " to ask; whatever starts the job is the "
                                 "administrator's to check");
    return;
  }
  NoMessages messages;
  DOSOutputs runner(nullptr, messages, {},
                    RunLimits{.time_limit = kSystemctlTimeLimit, .deadline = run_.Deadline.End()});
  runner.CommandLine(
      "systemctl show --property=LoadState,UnitFileState,ActiveState,NextElapseUSecRealtime " +
      std::string(kTimer));
  const std::string output = runner.ExecuteProgram(systemctl);
  std::map<std::string, std::string> property;
  for (std::size_t at = 0; at < output.size();) {
    const std::size_t end = std::min(output.find('\n', at), output.size());
    const std::string line = output.substr(at, end - at);
    if (const std::size_t equals = line.find('='); equals != std::string::npos) {
      property[line.substr(0, equals)] =
          std::string(TrimBlanksAndLineBreaks(line.substr(equals + 1)));
    }
    at = end + 1;
  }
  const std::string enable = std::string("sudo systemctl enable --now ") + kTimer;
  if (property["LoadState"] != "loaded") {
    findings_.Warn(
        "schedule", std::string(kTimer) + " is not installed, so no run starts on its own",
        "Install the quorvex-server package, which brings the timer, then " + enable + ".");
  } else if (property["UnitFileState"] != "enabled" || property["ActiveState"] != "active") {
    findings_.Warn("schedule",
                   std::string(kTimer) + " is " + property["UnitFileState"] + " and " +
                       property["ActiveState"] + ", so no run starts on its own",
                   "Run " + enable + ".");
  } else {
    const std::string& next = property["NextElapseUSecRealtime"];
    findings_.Ok("schedule", std::string(kTimer) + " is enabled and active; it fires next " +
                                 (next.empty() ? "when its calendar says" : "at " + next));
  }
}

}  // namespace quorvex
