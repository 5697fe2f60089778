#include "job/principal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "eventlog/log.h"
#include "job/connection_settings.h"
#include "platform/descendants.h"
#include "platform/message_box.h"
#include "platform/process_info.h"
#include "platform/state_directory.h"
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

// Main's own steps failed: the run ends, and the reason is both an error
// entry and a line on standard error (which a scheduled run may not have).
int EndEarly(const RunState& run, const std::string& failure) {
  const std::string reason = WithoutPassword(failure, run.Settings);
  LogError(EntryText("Main", reason));
  std::fprintf(stderr, "Quorvex: the run ended early: %s\n", reason.c_str());
  return kExitSoftware;
}

}  // namespace

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
    LogError(run.LastErrorText);
    return false;
  } catch (const std::exception& e) {
    LogError(e.what());
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
    state_folder = StateDirectoryPath();
    MakeStateDirectory(state_folder);
    guard = SingleInstanceGuard::TryAcquire(state_folder);
  } catch (const std::exception& e) {
    // Never run unguarded: an overlapping run would report twice.
    LogError(std::string("The single-instance guard cannot be set up: ") + e.what() +
             ". The run was not started, so that two runs can never overlap; the account that "
             "runs the job must be able to create and open its state directory " +
             state_folder);
    return kExitNoInstanceGuard;
  }
  if (!guard) {
    LogWarning(kSingleInstanceMessage);
    return kExitAnotherInstance;
  }

  const ServerNameProvider names;
  // The job never appears in a task list: on Linux a batch job has no
  // desktop entry, and on Windows it is a GUI-subsystem program that shows
  // no window (so a run started by Task Scheduler flashes no console
  // either). There is nothing to remove it from.

  RunState run;
  run.ProgramFolder = program_folder;
  run.StateFolder = state_folder;
  run.Deadline = deadline;
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

}  // namespace quorvex
