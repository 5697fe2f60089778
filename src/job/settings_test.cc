// The settings loader on a real settings file in a throw-away program folder
// beside an empty SQLite database file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "job/password_cipher.h"
#include "job/principal.h"
#include "job/settings_file_reader.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

std::string Fields(const ConnectionSettings& s) {
  std::ostringstream out;
  out << s.Server << "|" << s.UserId << "|" << s.Password << "|" << s.Database << "|" << s.PingMode
      << "|" << s.PsPingExe << "|" << s.PsPingCommand << "|" << s.TcPingExe << "|"
      << s.TcPingCommand << "|" << s.PingPort;
  return out.str();
}

TEST(LoadSettingsTest, ReadsEveryKeyWithItsDefaultAndOpensTheDatabase) {
  const fs::path dir = fs::temp_directory_path() / ("quorvex-settings-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "inst.db").flush();  // an empty file is an empty database
  // No ODBC driver: a server that is not sqlite: fails without a network try.
  setenv("ODBCSYSINI", dir.string().c_str(), 1);
  setenv("QUORVEX_EVENT_LOG", (dir / "events.jsonl").string().c_str(), 1);
  PasswordCipher cipher;
  cipher.SetKey(InstallationPasswordKey());
  const std::string host = ServerNameProvider().GetServerName();

  const std::string every_key =
      "SERVERDB=sqlite:inst.db\nUSER-ID=op\nPASSWORD=" + cipher.Encode("s3cret") +
      "\nDATABASE=D2\nPING-MODE=2\nPSPING=ps64.exe\nPSPING-COMMAND=\nTCPING=t\\tcping.exe\n"
      "TCPING-COMMAND=-p 1\nPING-PORT=\n";
  const struct {
    const char* name;
    std::string keys;  // lines of [CONEXION]
    bool opens;
    std::string fields;
    const char* line_end = "\n";  // written in place of every "\n", the section's too
  } cases[] = {
      {"nothing set", "", false,
       host + "|sa||EMPRESAS|1|psping.exe|-n 4 -i 0 -w 0|tcping.exe|-i 0|80"},
      {"blank SERVERDB, SERVER read", "SERVERDB=\"   \"\nSERVER=sqlite:inst.db\n", true,
       "sqlite:inst.db|sa||EMPRESAS|1|psping.exe|-n 4 -i 0 -w 0|tcping.exe|-i 0|80"},
      {"SERVERDB keeps its blanks, SERVER unread", "SERVERDB=\" db1 \"\nSERVER=sqlite:inst.db\n",
       false, " db1 |sa||EMPRESAS|1|psping.exe|-n 4 -i 0 -w 0|tcping.exe|-i 0|80"},
      {"a tab is no blank: SERVER unread", "SERVERDB=\" \t \"\nSERVER=sqlite:inst.db\n", false,
       " \t |sa||EMPRESAS|1|psping.exe|-n 4 -i 0 -w 0|tcping.exe|-i 0|80"},
      {"every key, empty PING-PORT and PSPING-COMMAND", every_key, true,
       "sqlite:inst.db|op|s3cret|D2|2|ps64.exe||t\\tcping.exe|-p 1|80"},
      {"every key, CR line ends", every_key, true,
       "sqlite:inst.db|op|s3cret|D2|2|ps64.exe||t\\tcping.exe|-p 1|80", "\r"},
      {"every key, CRLF line ends", every_key, true,
       "sqlite:inst.db|op|s3cret|D2|2|ps64.exe||t\\tcping.exe|-p 1|80", "\r\n"},
      {"PING-MODE a word, the rest unread", "SERVERDB=sqlite:inst.db\nPING-MODE=uno\n", false,
       "sqlite:inst.db|sa||EMPRESAS|0|||||"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = "[CONEXION]\n" + c.keys;
    const std::string line_end = c.line_end;
    for (std::size_t at = 0; (at = file.find('\n', at)) != std::string::npos; at += line_end.size())
      file.replace(at, 1, line_end);
    std::ofstream(SettingsFileReader().SettingsFilePath(dir.string()), std::ios::binary) << file;
    fs::remove(dir / "events.jsonl");
    RunState run;
    run.ProgramFolder = dir.string();
    EXPECT_EQ(bLoadSettings(run, ServerNameProvider()), c.opens);
    EXPECT_EQ(Fields(run.Settings), c.fields);
    EXPECT_EQ(run.DbConnection != nullptr, c.opens);
    std::ifstream events(dir / "events.jsonl");
    EXPECT_EQ(std::count(std::istreambuf_iterator<char>(events), {}, '\n'), c.opens ? 0 : 1);
  }
  unsetenv("ODBCSYSINI");
  unsetenv("QUORVEX_EVENT_LOG");
  fs::remove_all(dir);
}

// Each row: the bytes of a settings file as an editor saves it, and what
// DATABASE reads, or the words of the failure. Windows reads Notepad's
// ANSI (code page 1252 here) and UTF-16 files as its profile functions do;
// elsewhere only UTF-8 is text.
TEST(SettingsFileReaderTest, ReadsTheEncodingsOfThePlatform) {
#ifdef _WIN32
  const bool windows = true;
#else
  const bool windows = false;
#endif
  const std::string utf16le(
      "\xFF\xFE[\0C\0O\0N\0E\0X\0I\0O\0N\0]\0\n\0D\0A\0T\0A\0B\0A\0S\0E\0="
      "\0\xF1\0\n\0",
      46);
  std::string utf16be = utf16le;
  for (std::size_t at = 0; at + 1 < utf16be.size(); at += 2)
    std::swap(utf16be[at], utf16be[at + 1]);
  const struct {
    const char* name;
    std::string bytes;
    const char* read;  // DATABASE, or the words of the failure
  } rows[] = {
      {"ANSI", "; configuraci\xF3n\n[CONEXION]\nDATABASE=\xF1\n",
       windows ? "\xC3\xB1" : "is not UTF-8 text (an invalid byte at offset 13)"},
      {"UTF-16 little endian", utf16le, windows ? "\xC3\xB1" : "is UTF-16 text"},
      {"UTF-16 big endian", utf16be, windows ? "\xC3\xB1" : "is UTF-16 text"},
  };
  const fs::path file =
      fs::temp_directory_path() / ("quorvex-encoding-" + std::to_string(getpid()));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::ofstream(file, std::ios::binary) << row.bytes;
    std::string read;
    try {
      read = SettingsFileReader().FindSetting(file.string(), "CONEXION", "DATABASE").value_or("-");
    } catch (const SettingsFileError& e) {
      read = e.what();
    }
    EXPECT_NE(read.find(row.read), std::string::npos) << read;
  }
  fs::remove(file);
}

TEST(ConnectionStringTest, TemplateTitleAndPlaceholderOrder) {
  EXPECT_EQ(BuildConnectionString(
                {"x*DATABASE*y", "sa", "p*SERVER*w", "EMPRESAS", 0, "", "", "", "", ""}),
            "Provider=SQLOLEDB.1;Password=p*SERVER*w;Persist Security Info=True;User ID=sa;"
            "Initial Catalog=EMPRESAS;Data Source=xEMPRESASy;APP=Quorvex");
}

// A password that SERVER or USER-ID takes in reaches the driver cut at the
// connection string's characters and blanks: each piece of three characters
// or more is hidden wherever it shows; a password in its own item only
// whole. Each row's password holds one separator twice.
TEST(WithoutPasswordTest, HidesEveryPieceOfAPasswordPlacedElsewhere) {
  for (const char separator : std::string(";=\"'{} \t")) {
    const std::string password = std::string("Kq7w") + separator + "Zx4v" + separator + "ab";
    SCOPED_TRACE(password);
    ConnectionSettings s{"*PASSWORD*", "sa", password, "EMPRESAS", 0, "", "", "", "", ""};
    const std::string text = "host Kq7w; user Zx4v ab; whole " + password;
    EXPECT_EQ(WithoutPassword(text, s), "host *****; user ***** ab; whole *****");
    s.Server = "db", s.UserId = "u*PASSWORD*";
    EXPECT_EQ(WithoutPassword(text, s), "host *****; user ***** ab; whole *****");
    s.UserId = "sa";
    EXPECT_EQ(WithoutPassword(text, s), "host Kq7w; user Zx4v ab; whole *****");
  }
}

}  // namespace
}  // namespace quorvex
