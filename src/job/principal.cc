#include "job/principal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "eventlog/log.h"
#include "job/connection_settings.h"
#include "job/run_records.h"
#include "job/settings_file_reader.h"
#include "platform/descendants.h"
#include "platform/message_box.h"
#include "platform/process_info.h"
#include "platform/state_directory.h"
#include "platform/utf8_path.h"
#include "platform/write_access.h"
#include "ui/frm_main.h"
#include "util/string_util.h"

namespace quorvex {
namespace {

constexpr char kConnectionTemplate[] =
    "Provider=SQLOLEDB.1;Password=*PASSWORD*;Persist Security Info=True;User ID=*USER-ID*;"
    "Initial Catalog=*DATABASE*;Data Source=*SERVER*;APP=";
constexpr char kFailureHead[] = "SE HA DETECTADO EL SIGUIENTE ERROR:";
constexpr char kFailureTail[] = "ERROR CRITICO EL PROGRAMA NO PUEDE CONTINUAR!";

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  std::size_t at = 0;
  while ((at = text.find(what, at)) != std::string::npos) {
    text.replace(at, what.size(), with);
    at += with.size();
  }
}

std::string FailureText(const std::string& description) {
  return std::string(kFailureHead) + "\r\n" + description + "\r\n" + kFailureTail;
}

// Main's own steps failed: the run ends with its reason.
int EndEarly(RunState& run, const std::string& failure) {
  const std::string reason = WithoutPassword(failure, run.Settings);
  run.Summary.reason = reason;
  return EndRunEarly(kExitSoftware, kEventError, EntryText("Main", reason));
}

// Whoever may change the job's own folders and files could make it run
// another program, or believe or lose what it records: the run does not
// start. One error entry and a line on standard error.
int RefuseUntrustedPlace(const std::string& place, const std::string& reason,
                         const std::string& harm) {
  const std::string text = "The run was not started: " + reason + ", so someone other than the " +
                           "administrators and the job's account could " + harm + " (" + place +
                           "). " + UntrustedPlaceAdvice();
  return EndRunEarly(kExitUntrustedPlace, kEventError, text);
}

// The state directory with the folders above it, and its lock file when
// there is one: the path at fault and why others may change it.
std::string WhyStateIsChangeable(const std::string& state_folder) {
  if (std::string reason = WhyFolderIsReplaceable(state_folder); !reason.empty()) return reason;
  const std::string lock_file = StateFilePath(state_folder, kLockFileName);
  std::error_code missing;
  if (!std::filesystem::exists(std::filesystem::symlink_status(PathFromUtf8(lock_file), missing))) {
    return {};
  }
  const std::string reason = WhyOthersMayChange(lock_file);
  return reason.empty() ? reason : lock_file + " " + reason;
}

// A settings file ordinary users may read gives away the password, which
// they can decode: one error entry a run, and the run goes on.
void WarnReadableSettings(const std::string& program_folder) {
  const std::string file = SettingsFileReader().SettingsFilePath(program_folder);
  std::error_code missing;
  if (!std::filesystem::is_regular_file(PathFromUtf8(file), missing)) return;
  const std::string reason = WhyOrdinaryUsersMayRead(file);
  if (reason.empty()) return;
  LogError(EntryText("Main", file + " " + reason +
                                 ", and anybody who reads PASSWORD there can decode "
                                 "it. " +
                                 PrivateSettingsAdvice()));
}

}  // namespace

int EndRunEarly(int exit_status, std::uint16_t entry_type, const std::string& entry_text) noexcept {
  if (entry_type == kEventWarning) {
    LogWarning(entry_text);
  } else {
    LogError(entry_text);
  }
  try {
    std::string line = entry_text;
    ReplaceAll(line, "\r\n", " ");
    std::fprintf(stderr, "Quorvex: the run ended early: %s\n", line.c_str());
  } catch (...) {
    // Out of memory for the copy: the text as it is.
    std::fprintf(stderr, "Quorvex: the run ended early: %s\n", entry_text.c_str());
  }
  return exit_status;
}

// The texts the connect path writes out, without the password. The
// template's order of replacement puts the password into SERVER or USER-ID
// where those hold *PASSWORD*; the driver then names it as a host, a user
// or a file, or only the part of it that its item kept: the connection
// string's own characters (; = quotes braces) and blanks cut it into
// pieces, so each piece is hidden too.
std::string WithoutPassword(std::string text, const ConnectionSettings& settings) {
  const std::string& password = settings.Password;
  if (password.empty()) return text;
  std::vector<std::string> hidden = {password};
  const bool placed_elsewhere = settings.Server.find("*PASSWORD*") != std::string::npos ||
                                settings.UserId.find("*PASSWORD*") != std::string::npos;
  for (std::size_t at = 0; placed_elsewhere && at < password.size();) {
    const std::size_t end = std::min(password.find_first_of(";=\"'{} \t", at), password.size());
    if (end - at >= 3) hidden.push_back(password.substr(at, end - at));
    at = end + 1;
  }
  for (const std::string& secret : hidden) ReplaceAll(text, secret, "*****");
  return text;
}

std::string BuildConnectionString(const ConnectionSettings& settings) {
  std::string text = std::string(kConnectionTemplate) + kApplicationTitle;
  ReplaceAll(text, "*SERVER*", settings.Server);
  ReplaceAll(text, "*USER-ID*", settings.UserId);
  ReplaceAll(text, "*PASSWORD*", settings.Password);
  ReplaceAll(text, "*DATABASE*", settings.Database);
  return text;
}

std::unique_ptr<Connection> OpenJobDatabase(const ConnectionSettings& settings,
                                            const std::string& program_folder,
                                            const RunDeadline& deadline, DatabaseAccess access) {
  std::unique_ptr<Connection> session;
  try {
    session = BoundByDeadline(
        OpenConnection(BuildConnectionString(settings), program_folder, access), deadline.End());
  } catch (const std::exception& e) {
    // The backend could not be chosen, the server could not be reached or
    // the login was refused: an operator needs the backend's own words.
    throw DatabaseError(WithoutPassword(e.what(), settings));
  }
  // Both settings are best effort: a server that refuses them still serves
  // the run. A session that may only read runs no statement here.
  if (access == DatabaseAccess::kReadWrite) {
    try {
      session->Execute("SET DATEFORMAT YMD");
    } catch (const std::exception&) {
    }
  }
  try {
    session->SetCommandTimeout(RunDeadline::kStatementTime);
  } catch (const std::exception&) {
  }
  return session;
}

bool bConnectDatabase(RunState& run) {
  try {
    run.DbConnection =
        OpenJobDatabase(run.Settings, run.ProgramFolder, run.Deadline, DatabaseAccess::kReadWrite);
  } catch (const std::exception& e) {
    run.DbConnection.reset();
    run.LastErrorText = FailureText(e.what());
    return false;
  }
  return true;
}

bool bLoadSettings(RunState& run, const ServerNameProvider& names) {
  try {
    ReadConnectionSettings(run.ProgramFolder, names, run.Settings);
    if (bConnectDatabase(run)) return true;
    run.Summary.reason = WithoutPassword(run.LastErrorText, run.Settings);
    EndRunEarly(kExitSettingsOrDatabase, kEventError, run.LastErrorText);
    return false;
  } catch (const std::exception& e) {
    run.Summary.reason = WithoutPassword(e.what(), run.Settings);
    EndRunEarly(kExitSettingsOrDatabase, kEventError, e.what());
    return false;
  }
}

void LocateWebService(RunState& run) {
  run.SqlText = kAddressQuery;
  RowSet address = run.DbConnection->Execute(run.SqlText);
  if (!address.Eof()) {
    const FieldValue& value = address.Field("Cf_Valor");
    if (!value) throw DatabaseError("Invalid use of Null: Configuracion.Cf_Valor");
    run.WebServiceUrl = *value;
  }
  if (run.WebServiceUrl.empty()) run.WebServiceUrl = kDefaultWebServiceUrl;
}

// Steps 2 to 10 of the run, once the guard is held: the exit status.
int RunGuarded(RunState& run) {
  const ServerNameProvider names;
  // The job never appears in a task list: on Linux a batch job has no
  // desktop entry, and on Windows it is a GUI-subsystem program that shows
  // no window (so a run started by Task Scheduler flashes no console
  // either). There is nothing to remove it from.
  WarnReadableSettings(run.ProgramFolder);
  if (!bLoadSettings(run, names)) return kExitSettingsOrDatabase;

  // Main's own steps trap nothing: the first failure ends the run.
  try {
    LocateWebService(run);

    // Where nobody could dismiss a box (a service, a task run whether or not
    // anybody is logged on), the job's boxes are lines on standard error.
    const std::unique_ptr<MessageBoxPresenter> boxes =
        MakeMessageBox(kApplicationTitle, /*unattended=*/!HasVisibleDesktop());
    frmMain form(run, *boxes,
                 RunLimits{.time_limit = kToolTimeLimit, .deadline = run.Deadline.SweepEnd()});
    form.Form_Load();
    form.GetPingTimbrado();
    form.Get_Transaccion_Uso();
    form.Get_Operadores_Info();
    form.Form_QueryUnload();
  } catch (const std::exception& e) {
    return EndEarly(run, e.what());
  } catch (...) {
    return EndEarly(run, "an unknown failure");
  }
  return kExitRunFinished;
}

int Main() {
  // Whatever a tool leaves running, in its process group or out of it, ends
  // with the run at the latest.
  const DescendantKeeper descendants;
  const RunDeadline deadline = RunDeadline::FromEnvironment();
  std::string program_folder;
  std::string state_folder;
  std::unique_ptr<SingleInstanceGuard> guard;
  try {
    program_folder = ExecutableFolder();
    if (const std::string reason = WhyFolderIsReplaceable(program_folder); !reason.empty()) {
      return RefuseUntrustedPlace("the program folder " + program_folder, reason,
                                  "put another program in the job's place");
    }
    state_folder = StateDirectoryPath();
    MakeStateDirectory(state_folder);
    if (const std::string reason = WhyStateIsChangeable(state_folder); !reason.empty()) {
      return RefuseUntrustedPlace("the state directory " + state_folder, reason,
                                  "change what the job keeps there or hold its runs back");
    }
    guard = SingleInstanceGuard::TryAcquire(state_folder);
  } catch (const std::exception& e) {
    // Never run unguarded: an overlapping run would report twice.
    return EndRunEarly(
        kExitUntrustedPlace, kEventError,
        std::string("The single-instance guard cannot be set up: ") + e.what() +
            ". The run was not started, so that two runs can never overlap; the account that "
            "runs the job must be able to create and open its state directory " +
            state_folder);
  }
  // Without the guard no summary is written either (exit 71 and 75): the
  // summary belongs to the run that holds it.
  if (!guard) return EndRunEarly(kExitAnotherInstance, kEventWarning, kSingleInstanceMessage);

  RunState run;
  run.ProgramFolder = program_folder;
  run.StateFolder = state_folder;
  run.Deadline = deadline;
  const auto started = std::chrono::steady_clock::now();
  BeginRunSummary(run);
  const int status = RunGuarded(run);
  run.Summary.duration_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  WriteRunRecords(run, status, EnvironmentPath("QUORVEX_METRICS_DIR"));
  return status;
}

}  // namespace quorvex
