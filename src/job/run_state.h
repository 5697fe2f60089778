// The process-wide state of one run of the job.
//
// Main creates one RunState and hands it to everyone who needs a piece of
// it; nothing here is global, so a test builds its own run from parts.
// Field names are the names the rest of the system uses for these values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "database/database.h"
#include "eventlog/log.h"
#include "job/run_deadline.h"
#include "job/run_summary.h"

namespace quorvex {

// Title of the application: message box title, APP= of the connection
// string, and the event log's source, whose name it is (the log, a lower
// layer, cannot ask the run for it).
inline constexpr const char* kApplicationTitle = kEventSource;

// Host of the central update service used when the installation names none
// in Configuracion. The namespace of the service is derived from it.
#define QUORVEX_DEFAULT_SERVICE_HOST "central.quorvex.example"
inline constexpr char kDefaultWebServiceUrl[] =
    "http://" QUORVEX_DEFAULT_SERVICE_HOST "/update/update.asmx";
inline constexpr char ServiceNamespace[] = "http://" QUORVEX_DEFAULT_SERVICE_HOST "/";

// Values read from section CONEXION of the settings file. Filled once by
// bLoadSettings, read-only afterwards.
struct ConnectionSettings {
  std::string Server;
  std::string UserId;
  std::string Password;  // plain, after decoding
  std::string Database;
  std::int16_t PingMode = 0;
  std::string PsPingExe;
  std::string PsPingCommand;
  std::string TcPingExe;
  std::string TcPingCommand;
  std::string PingPort;
};

struct RunState {
  // Folder that holds the running executable; tools and the settings file
  // are found there.
  std::string ProgramFolder;
  // The installation's state directory (platform/state_directory.h), where
  // the usage report keeps the record of its call; empty when the run has
  // none.
  std::string StateFolder;
  // The run's one deadline; every bound of the run is cut to it.
  RunDeadline Deadline;

  ConnectionSettings Settings;
  std::unique_ptr<Connection> DbConnection;
  std::string SqlText;
  std::string WebServiceUrl;
  std::string LastErrorText;
  // What the run did, filled by each job as it goes; written at its end.
  RunSummary Summary;
};

}  // namespace quorvex
