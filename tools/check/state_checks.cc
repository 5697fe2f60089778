// The job's state directory and the files in it: the lock file of the
// single-instance guard and the usage report's record. A run that cannot
// create or write them ends at once (exit 71) or cannot keep its record,
// and a folder that others may change is one whose record nobody can
// vouch for.
#include <filesystem>
#include <string>
#include <system_error>

#include "configuration_check.h"
#include "platform/state_directory.h"
#include "platform/utf8_path.h"

namespace quorvex {
namespace {

// The files the job keeps there: its lock file, the usage report's
// records (one per database, "usage-report-<hash>.record", and the one of
// earlier versions, "usage-report.record") and the last run's summary.
bool IsStateFile(const std::string& name) {
  return name == kLockFileName || name == "last-run.json" ||
         (name.starts_with("usage-report") && name.ends_with(".record"));
}

// A folder that holds more entries than this is not the job's own.
constexpr int kMostEntries = 1000;

std::string ParentOf(const std::string& path) {
  std::string parent = Utf8FromPath(PathFromUtf8(path).parent_path());
  return parent.empty() ? "." : parent;
}

}  // namespace

void ConfigurationCheck::CheckStateDirectory() {
  const std::string folder = StateDirectoryPath();
  const std::string judged = ", judged for " + account_->Describe();
#ifdef _WIN32
  const std::string make =
      "Let the installer make it again, or set QUORVEX_STATE_DIR to a folder "
      "that only the administrators and the job's account may change.";
#else
  const std::string make =
      "Make it for the job's account: install -d -m 0750 -o quorvex -g "
      "quorvex " +
      folder + " (or set QUORVEX_STATE_DIR to such a folder).";
#endif
  std::error_code error;
  const auto status = std::filesystem::status(PathFromUtf8(folder), error);
  if (status.type() == std::filesystem::file_type::not_found) {
    const std::string parent = ParentOf(folder);
    const std::string why = account_->WhyCannotCreateIn(parent);
    if (why.empty()) {
      findings_.Ok("state directory",
                   folder + " does not exist yet; the first run creates it" + judged);
    } else {
      findings_.Fail("state directory",
                     folder + " does not exist and cannot be created: " + parent + " " + why +
                         judged + "; every run would end at once with exit status 71",
                     make);
    }
    return;
  }
  if (status.type() != std::filesystem::file_type::directory) {
    findings_.Fail("state directory",
                   folder + " is not a folder" +
                       (error ? " (" + error.message() + ")" : std::string()) +
                       "; every run would end at once with exit status 71",
                   make);
    return;
  }
  std::string faults;
  if (std::string why = account_->WhyCannotCreateIn(folder); !why.empty()) {
    faults = folder + " " + why;
  } else if (std::string unsafe = account_->WhyUnsafe(folder); !unsafe.empty()) {
    faults = folder + " " + unsafe + ", so others could change the job's lock and record";
  }
  int entries = 0;
  for (std::filesystem::directory_iterator it(PathFromUtf8(folder), error), end;
       !error && it != end && ++entries <= kMostEntries; it.increment(error)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (!IsStateFile(name)) continue;
    const std::string file = StateFilePath(folder, name);
    std::string why = account_->WhyCannotWrite(file);
    if (why.empty()) why = account_->WhyUnsafe(file);
    if (!why.empty()) faults += (faults.empty() ? "" : "; ") + file + " " + why;
  }
  if (faults.empty()) {
    findings_.Ok("state directory",
                 folder +
                     ", its lock file and its record may be written by the job's account "
                     "and changed by nobody else" +
                     judged);
  } else {
    findings_.Fail("state directory", faults + judged, make);
  }
}

}  // namespace quorvex
