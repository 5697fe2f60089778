// The window's tool operations of the latency probe: finding tcping and
// psping in the program folder, the reachability check, running a tool
// through objDOS with txtSalida as the capture buffer, and reading the
// average out of the tool's summary.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <string>

#include "eventlog/log.h"
#include "platform/connectivity.h"
#include "platform/write_access.h"
#include "probe/reply_text.h"
#include "probe/tool_files.h"
#include "text/locale_number.h"
#include "ui/frm_main.h"
#include "util/string_util.h"

namespace quorvex {
namespace {

constexpr char kAverageMarker[] = "Average =";
constexpr char kEndMarker[] = "ms";

// The reply of a tool read as a latency: empty becomes "-1", a number is
// read under the user's regional settings, anything else gives -1.
double ReadLatency(const std::string& reply_text) {
  std::string reply = reply_text.empty() ? std::string("-1") : reply_text;
  if (!IsNumeric(reply)) return -1;
  return ToDouble(reply);
}

}  // namespace

std::string frmMain::LocateTool(const std::string& setting, std::string_view key,
                                std::string_view procedure) {
  std::string result;
  try {
    result = ToolPathFromSetting(setting, key, run_.ProgramFolder);
    if (result.empty()) return result;
    if (!IsOrdinaryFile(result) || RefuseReplaceableTool(procedure, result)) result.clear();
  } catch (const std::exception& failure) {
    LogErrorOncePerRun(procedure, failure.what());
  }
  return result;
}

void frmMain::LogErrorOncePerRun(std::string_view procedure, const std::string& text) {
  const std::string entry = EntryText(procedure, text);
  if (reported_.insert(entry).second) LogError(entry);
}

bool frmMain::RefuseReplaceableTool(std::string_view procedure, const std::string& tool) {
  const std::string reason = WhyToolIsReplaceable(tool, run_.ProgramFolder);
  if (reason.empty()) return false;
  LogErrorOncePerRun(procedure,
                     tool + " was not started: " + reason +
                         ", so someone other than the administrators and the job's account "
                         "could have replaced the tool. " +
                         ReplaceableToolAdvice());
  reported_.insert("missing " + tool);  // the entry above says why it is not started
  return true;
}

void frmMain::ReportMissingTool(bool psping) {
  const std::string name = psping ? "psping.exe" : "tcping.exe";
  const std::string key = psping ? "PSPING" : "TCPING";
  const std::string& setting = psping ? run_.Settings.PsPingExe : run_.Settings.TcPingExe;
  const std::string path =
      ToolPathFromSetting(setting, psping ? kPsPingKey : kTcPingKey, run_.ProgramFolder);
  if (!reported_.insert("missing " + path).second) return;
  const std::string effect = "; no tool was started, and every server measured with PING-MODE " +
                             std::string(psping ? "2" : "1") + " gets -1 in this run";
  const std::string key_text(psping ? kPsPingKey : kTcPingKey);
  std::string text;
  if (path.empty()) {
    text = key + "=" + setting + " does not name " + name + " (the setting must hold \"" +
           key_text + "\" in any letter case)" + effect + ". Write " + key + "=" + name +
           " in the settings file, or the tool's file relative to the program folder " +
           run_.ProgramFolder;
  } else {
    text = name + " was not found: it was looked for as " + path + " (" + key + "=" + setting +
           ", relative to the program folder), and there is no such file, or it is a folder or "
           "hidden" +
           effect + ". Put the installation's " + name + " there as a visible file, or correct " +
           key + " in the settings file";
  }
  LogError(EntryText(psping ? "PsPingResp" : "TcPingResp", text));
}

std::string frmMain::bPSPING() {
  return LocateTool(run_.Settings.PsPingExe, kPsPingKey, "bPSPING");
}

std::string frmMain::bTcPing() {
  return LocateTool(run_.Settings.TcPingExe, kTcPingKey, "bTcPing");
}

bool frmMain::bCheckConnection(const std::string& url) {
  return CanConnect(
      url, std::min<std::chrono::milliseconds>(kConnectTimeout, run_.Deadline.SweepLeft()));
}

std::string frmMain::ExecCMD(const std::string& tool_path, const std::string& options,
                             const std::string& target) {
  std::string result;
  try {
    const std::string command_line = ToolCommandLine(tool_path, options, target);
    txtSalida.SetText({});
    DOSOutputs& runner = Runner();
    runner.CommandLine(command_line);
    runner.ExecuteCommand();
    result = txtSalida.Text();
  } catch (const std::exception& failure) {
    LogError(EntryText("ExecCMD", failure.what()));
  }
  return result;
}

std::string frmMain::GetTextBetween(const std::string& text, const std::string& start_marker,
                                    const std::string& end_marker) {
  return TextBetween(text, start_marker, end_marker);
}

double frmMain::MeasureWithTool(const std::string& host, bool psping) {
  double value = -1;
  try {
    const std::string tool_path = psping ? bPSPING() : bTcPing();
    if (TrimSpaces(tool_path).empty()) {
      ReportMissingTool(psping);
      return value;
    }
    const ConnectionSettings& settings = run_.Settings;
    const std::string output =
        ExecCMD(tool_path, psping ? settings.PsPingCommand : settings.TcPingCommand,
                ToolTarget(host, settings.PingPort, psping));
    value = ReadLatency(TrimSpaces(GetTextBetween(output, kAverageMarker, kEndMarker)));
  } catch (const std::exception& failure) {
    LogError(EntryText(psping ? "PsPingResp" : "TcPingResp", failure.what()));
  }
  return value;
}

double frmMain::PsPingResp(const std::string& host) { return MeasureWithTool(host, true); }

double frmMain::TcPingResp(const std::string& host) { return MeasureWithTool(host, false); }

}  // namespace quorvex
