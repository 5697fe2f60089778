// Reading the settings file into the run's ConnectionSettings: which keys
// are read, in which order, their defaults and the decoding of the
// password. The job and the configuration test (quorvex-check) both read
// the settings through ReadConnectionSettings, so that the test shows
// exactly what a run would use.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job/run_state.h"
#include "job/server_name_provider.h"
#include "job/settings_file_reader.h"

namespace quorvex {

// The section of the settings file that holds the job's keys.
inline constexpr char kSettingsSection[] = "CONEXION";

// One key as it was read.
struct SettingRead {
  std::string key;    // as the job names it
  std::string value;  // the value in effect; always empty for PASSWORD
  bool defaulted;     // the file gives no value: the default is in effect
  bool used;          // false for SERVER when SERVERDB names the server
};

// What a reading found beyond the values, for the configuration test. It
// never holds the password or its encoded text.
struct SettingsReport {
  std::string file;               // the settings file's path
  std::vector<SettingRead> keys;  // every key the job reads, in its order
  bool password_set = false;      // PASSWORD is not empty
  std::string password_error;     // why PASSWORD does not decode; empty when it does
  std::string ping_mode_error;    // why PING-MODE is not a number; empty when it is
  // The file's sections and keys as written; std::nullopt when there is no
  // file.
  std::optional<std::vector<SettingsFileReader::WrittenSection>> written;
};

// Reads section CONEXION of the settings file in program_folder into
// settings, every key the file does not give taking its default, and
// decodes the password. names gives SERVER's default.
//
// Without a report (the job): throws at the first failure, with settings
// filled up to the key that failed: SettingsFileError for a file that
// cannot be read, NumberConversionError for a PING-MODE that is not a
// number (naming the key and the file), PasswordCipherError for a PASSWORD
// that does not decode. With a report (the configuration test): only a file
// that cannot be read throws; the other two failures are written into the
// report, every key is still read, and the failed value keeps what settings
// held.
void ReadConnectionSettings(const std::string& program_folder, const ServerNameProvider& names,
                            ConnectionSettings& settings, SettingsReport* report = nullptr);

}  // namespace quorvex
