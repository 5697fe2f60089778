// The latency tool of the PING-MODE in effect: found where the sweep looks
// for it, and run once as the sweep runs it, against a loopback port that
// nothing listens on, so that it prints its summary without a real target.
#include <algorithm>
#include <chrono>
#include <exception>
#include <string>
#include <string_view>

#include "configuration_check.h"
#include "job/principal.h"
#include "platform/child_process.h"
#include "platform/message_box.h"
#include "platform/tcp_connection.h"
#include "probe/dos_outputs.h"
#include "probe/tool_files.h"
#include "util/string_util.h"

namespace quorvex {
namespace {

// The runner's failure messages, kept instead of shown.
class KeptMessages final : public MessageBoxPresenter {
 public:
  void Show(std::string_view text, MessageBoxIcon) override { text_ += text; }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// The check's own run of a tool is short: a tool that answers a closed
// loopback port at all does so at once, and the check must not sit out the
// job's own limit.
constexpr std::chrono::seconds kCheckToolLimit{10};

bool Holds(const std::string& output, std::string_view marker) {
  return AsciiUpperCase(output).find(AsciiUpperCase(marker)) != std::string::npos;
}

// The first line of a tool's output, as a hint of what it printed instead.
std::string FirstLine(const std::string& output) {
  const std::string_view text = TrimBlanksAndLineBreaks(output);
  const std::string line(text.substr(0, std::min(text.find_first_of("\r\n"), std::size_t{200})));
  return line.empty() ? "nothing" : "\"" + line + "\"";
}

}  // namespace

void ConfigurationCheck::FindTool() {
  if (!report_.ping_mode_error.empty() || report_.keys.empty()) return;
  const ConnectionSettings& s = run_.Settings;
  tool_.psping = s.PingMode == 2;
  tool_.system_ping = s.PingMode != 1 && s.PingMode != 2;
  if (tool_.system_ping) {
    tool_.name = "the system ping";
    tool_.path = SystemPingPath(run_.ProgramFolder);
    if (tool_.path.empty()) {
      tool_.missing =
          SystemPingLocation(run_.ProgramFolder) + " is not there (the only ping the sweep starts)";
    }
    return;
  }
  tool_.name = tool_.psping ? "psping.exe" : "tcping.exe";
  const std::string key = tool_.psping ? "PSPING" : "TCPING";
  const std::string& setting = tool_.psping ? s.PsPingExe : s.TcPingExe;
  tool_.path =
      ToolPathFromSetting(setting, tool_.psping ? kPsPingKey : kTcPingKey, run_.ProgramFolder);
  try {
    if (tool_.path.empty()) {
      tool_.missing = key + "=" + setting + " does not name " + tool_.name;
    } else if (!IsOrdinaryFile(tool_.path)) {
      tool_.missing = tool_.path + " is not there (or is a folder, or hidden)";
    }
  } catch (const std::exception& e) {
    tool_.missing = tool_.path + ": " + e.what();
  }
  if (!tool_.missing.empty()) tool_.path.clear();
}

void ConfigurationCheck::CheckTool() {
  if (tool_.name.empty()) {
    findings_.Warn("tool", "not checked: the settings do not say which tool",
                   "Fix the settings file, then run the check again.");
    return;
  }
  const std::string mode = "PING-MODE " + std::to_string(run_.Settings.PingMode);
  if (!tool_.missing.empty()) {
    findings_.Fail("tool", tool_.missing + ", so with " + mode + " every server gets -1",
                   tool_.system_ping
                       ? "Reinstall the package, which puts the ping program there, or set "
                         "PING-MODE to 1 (tcping.exe) or 2 (psping.exe)."
                       : "Put " + tool_.name + " in the program folder, or name it in " +
                             (tool_.psping ? "PSPING" : "TCPING") +
                             " relative to the program folder.");
    return;
  }
  findings_.Ok("tool", tool_.name + " (" + mode + "): " + tool_.path);
  // A tool others could have replaced is not started here either.
  if (tool_.replaceable) return;

  KeptMessages messages;
  DOSOutputs runner(nullptr, messages, run_.ProgramFolder,
                    RunLimits{.time_limit = kCheckToolLimit, .deadline = run_.Deadline.SweepEnd()});
  std::string target = "127.0.0.1";
  std::string output;
  std::string summary;
  try {
    if (tool_.system_ping) {
      runner.CommandLine("ping " + target);
      output = runner.ExecuteProgram(tool_.path);
      summary = "Media =";
    } else {
      const std::string port = std::to_string(ClosedLoopbackPort());
      const ConnectionSettings& s = run_.Settings;
      output = runner.ExecuteCommand(
          ToolCommandLine(tool_.path, tool_.psping ? s.PsPingCommand : s.TcPingCommand,
                          ToolTarget(target, port, tool_.psping)));
      target += " port " + port + ", a closed port";
      summary = "statistics for";
    }
  } catch (const std::exception& e) {
    messages.Show(e.what(), MessageBoxIcon::kNone);
  }
  if (runner.TimedOut()) {
    findings_.Fail("tool run",
                   tool_.path + " was stopped after " + std::to_string(kCheckToolLimit.count()) +
                       " s against " + target + " without its summary (it printed " +
                       FirstLine(output) + " first); the job would wait up to " +
                       std::to_string(kToolTimeLimit.count()) + " s for it on every server",
                   "Give the tool options that make it end at once (a count of probes and a "
                   "time-out), or put the installation's " +
                       tool_.name + " back.");
  } else if (!messages.Text().empty()) {
    findings_.Fail("tool run", tool_.path + " could not be started: " + messages.Text(),
                   "Check that " + tool_.path + " is a program for this system.");
  } else if (Holds(output, summary)) {
    findings_.Ok("tool run", "started against " + target + ", and it printed its summary");
  } else if (tool_.system_ping) {
#ifdef _WIN32
    findings_.Warn("tool run",
                   "the system ping printed no \"Media =\", the Spanish summary that the sweep "
                   "reads, so every server gets -1 (it printed " +
                       FirstLine(output) + " first)",
                   "Set PING-MODE to 1 (tcping.exe) or 2 (psping.exe), or run the job where the "
                   "system's ping prints Spanish.");
#else
    findings_.Fail("tool run",
                   tool_.path + " printed no \"Media =\" summary against " + target +
                       ", so every server gets -1 (it printed " + FirstLine(output) + " first)",
                   "Install the ping program of the quorvex-server package beside the job.");
#endif
  } else {
    findings_.Fail("tool run",
                   tool_.path + " printed no summary against " + target + " (it printed " +
                       FirstLine(output) + " first), so every server gets -1",
                   "Put the " + tool_.name + " of the installation back in the program folder.");
  }
}

}  // namespace quorvex
