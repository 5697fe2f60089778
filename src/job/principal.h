// Principal: the run of the job, from process start to end.
//
// One start of the process is one run: refuse to run beside another
// instance, load the settings and open the database session, find the
// address of the central web service, then run the three jobs of the main
// window one after the other (latency sweep, transaction usage report,
// operator roster report), and end.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "job/run_state.h"
#include "job/server_name_provider.h"

namespace quorvex {

// Exit status of the process, for the service manager that starts it.
enum ExitStatus : int {
  kExitRunFinished = 0,  // the run reached its end; job failures are in the event log
  kExitSoftware = 70,    // one of Main's own steps failed (one error entry, and stderr)
  // The single-instance guard could not be set up, or the job cannot trust
  // its own place: others may change its program folder (or a folder
  // above), its state directory or the lock file there. One error entry.
  kExitUntrustedPlace = 71,
  kExitAnotherInstance = 75,    // another instance was running; nothing was done (one warning)
  kExitSettingsOrDatabase = 78  // settings or database session failed (one error entry)
  // Each early end also writes its entry's text to standard error
  // (EndRunEarly).
};

// Nobody watches the job's tools: one that never ends, or leaves something
// behind that holds its output open, would hold up every later run (a second
// instance refuses to start). Two minutes is far beyond any measurement the
// tool options ask for.
inline constexpr std::chrono::seconds kToolTimeLimit{120};

inline constexpr char kSingleInstanceMessage[] =
    "Se detecto otra instancia de servicio QuorvexServer, ejecucion abortada!";
inline constexpr char kAddressQuery[] =
    "SELECT Cf_Valor FROM Configuracion WHERE Cf_Variable = 'GEN_WEBSERVICE_UPDATE_URL'";

// The whole run. Returns the exit status. Main's own steps (the address
// query, loading or unloading the window) trap nothing: the first failure
// ends the run with kExitSoftware, its reason written as an error entry
// ("Main()", CRLF, the reason) and to standard error.
int Main();

// Tells the reason of a run that ends before its jobs where a scheduled run
// shows it: one entry of entry_type (kEventError or kEventWarning) whose
// text is entry_text, and the same text as one line on standard error,
// "Quorvex: the run ended early: " and the text with its line breaks
// written as spaces. Returns exit_status; never throws. Every early end
// goes through it.
int EndRunEarly(int exit_status, std::uint16_t entry_type, const std::string& entry_text) noexcept;

// Fills run.Settings from the settings file in run.ProgramFolder, decodes
// the password and opens the database session. True when all of it
// succeeded; otherwise false after exactly one error entry.
bool bLoadSettings(RunState& run, const ServerNameProvider& names);

// Opens run.DbConnection from run.Settings, read-write. True when the
// session is open; false with run.LastErrorText describing the failure.
bool bConnectDatabase(RunState& run);

// The job's database session from settings: the backend the connection
// string selects, with the login's limits, every statement bound by
// deadline and by a command time-out of 300 s. A read-write session is
// asked for the date format the statements use (best effort); a read-only
// one runs no statement while it opens. Throws DatabaseError whose text
// holds no password (see WithoutPassword).
std::unique_ptr<Connection> OpenJobDatabase(const ConnectionSettings& settings,
                                            const std::string& program_folder,
                                            const RunDeadline& deadline, DatabaseAccess access);

// text with the password of settings, and every piece of it the connection
// string's own characters can cut out where SERVER or USER-ID holds
// *PASSWORD*, shown as "*****".
std::string WithoutPassword(std::string text, const ConnectionSettings& settings);

// Steps of Main that find the central web service: the address query on
// Configuracion, then the default address when that gave the empty text.
// Throws what the database throws (Main traps nothing), and DatabaseError
// for a NULL value.
void LocateWebService(RunState& run);

// The connection string built from the settings (template, application
// title, placeholders replaced in order).
std::string BuildConnectionString(const ConnectionSettings& settings);

}  // namespace quorvex
