// Where the latency sweep finds the tools it starts: the file a tool
// setting names, and whether that file counts as present. The job's
// lookup (frmMain::bTcPing, bPSPING) and the configuration test
// (quorvex-check) both go through these, so that the test finds what a run
// would start.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// The text a tool setting must hold (in any letter case) for the sweep to
// take it as that tool.
inline constexpr std::string_view kTcPingKey = "TCPING.EXE";
inline constexpr std::string_view kPsPingKey = "PSPING";

// The file the tool setting names, relative to program_folder, a backslash
// in it taken as "/"; empty when the setting does not hold key or there is
// no program folder.
std::string ToolPathFromSetting(const std::string& setting, std::string_view key,
                                const std::string& program_folder);

// True for an existing ordinary file: a regular file (after links) that
// the system does not hide (platform/hidden_file.h). Missing files and
// folders give false; a path the file system rejects (too long, looping
// links, an embedded NUL) throws RunTimeError 52.
bool IsOrdinaryFile(const std::string& path);

// The target the sweep gives a tool for host: the host and the port
// setting, "host port" for tcping and "host:port" for psping, or the host
// alone when the port is not a number; trimmed of spaces.
std::string ToolTarget(const std::string& host, const std::string& port, bool psping);

// The command line the sweep starts a tool with: its path between double
// quotes, then the options and the target, each trimmed of spaces.
std::string ToolCommandLine(const std::string& tool_path, const std::string& options,
                            const std::string& target);

}  // namespace quorvex
