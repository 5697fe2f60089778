#include "job/connection_settings.h"

#include "job/password_cipher.h"
#include "text/locale_number.h"
#include "util/string_util.h"

namespace quorvex {

void ReadConnectionSettings(const std::string& program_folder, const ServerNameProvider& names,
                            ConnectionSettings& s, SettingsReport* report) {
  SettingsFileReader reader;
  const std::string file = reader.SettingsFilePath(program_folder);
  auto read = [&](const char* key, const std::string& fallback, bool used = true) {
    const std::optional<std::string> found = reader.FindSetting(file, kSettingsSection, key);
    const std::string value = found.value_or(fallback);
    if (report) report->keys.push_back({key, value, !found, used});
    return value;
  };
  if (report) report->file = file;

  s.Server = read("SERVERDB", "");
  // SERVER counts only when SERVERDB is blank; its default, the host name,
  // is asked for only then.
  const bool server_used = TrimSpaces(s.Server).empty();
  const std::string server = read("SERVER", server_used ? names.GetServerName() : "", server_used);
  if (server_used) s.Server = server;
  s.UserId = read("USER-ID", "sa");
  const std::string stored_password = read("PASSWORD", "");
  if (report) {
    report->keys.back().value.clear();
    report->password_set = !stored_password.empty();
  }
  s.Database = read("DATABASE", "EMPRESAS");
  const std::string ping_mode = read("PING-MODE", "1");
  try {
    s.PingMode = ToInteger16(ping_mode);
  } catch (const NumberConversionError& e) {
    const NumberConversionError described(std::string(e.what()) + " (key PING-MODE of section " +
                                          kSettingsSection + " in " + file + ")");
    if (!report) throw described;
    report->ping_mode_error = described.what();
  }
  s.PsPingExe = read("PSPING", "psping.exe");
  s.PsPingCommand = read("PSPING-COMMAND", "-n 4 -i 0 -w 0");
  s.TcPingExe = read("TCPING", "tcping.exe");
  s.TcPingCommand = read("TCPING-COMMAND", "-i 0");
  s.PingPort = read("PING-PORT", "80");
  if (s.PingPort.empty()) {
    s.PingPort = "80";
    if (report) report->keys.back() = {"PING-PORT", s.PingPort, true, true};
  }
  try {
    PasswordCipher cipher;
    cipher.SetKey(InstallationPasswordKey());
    s.Password = cipher.Decode(stored_password);
  } catch (const PasswordCipherError& e) {
    if (!report) throw;
    report->password_error = e.what();
  }
  if (report) report->written = reader.WrittenSections(file);
}

}  // namespace quorvex
