// quorvex-check whole, in a throw-away installation that the reference
// central service serves. Each row breaks one thing and names every line
// that must then say WARN or FAIL; all other lines must say OK. Whatever
// the row, the check changes nothing: the program folder (the embedded
// database in it) stays byte for byte as it was, the PostgreSQL tables keep
// their rows, and the service receives no POST.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <set>

#include "job/password_cipher.h"
#include "reporting/central_service_fixture.h"
#include "support/installation.h"
#include "support/loopback.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::Installation;

struct Line {
  std::string verdict, check, found, fix;
};

std::string Unescaped(const std::string& json_text) {
  return std::regex_replace(json_text, std::regex(R"(\\(["\\]))"), "$1");
}

// The findings of the --json document, whose shape is checked on the way:
// {"result":<worst>,"checks":[{"check","result","found"[,"fix"]},...]}.
std::vector<Line> FromJson(const std::string& json, std::string& worst) {
  const std::string text = R"j("((?:[^"\\]|\\.)*)")j";
  const std::regex item(R"j(\{"check":)j" + text + R"j(,"result":"(OK|WARN|FAIL)","found":)j" +
                        text + R"j((?:,"fix":)j" + text + R"j()?\},?)j");
  const std::regex whole(R"j(\{"result":"(OK|WARN|FAIL)","checks":\[(.*)\]\}\n)j");
  std::smatch m;
  EXPECT_TRUE(std::regex_match(json, m, whole)) << json;
  const std::string items = m[2];
  worst = m[1];
  std::vector<Line> lines;
  std::string rest;
  for (auto i = std::sregex_iterator(items.begin(), items.end(), item); i != std::sregex_iterator();
       ++i) {
    const std::smatch& c = *i;
    lines.push_back({c[2], Unescaped(c[1]), Unescaped(c[3]), Unescaped(c[4])});
    EXPECT_EQ(c[4].matched, c[2] != "OK") << c[0];
    rest += c[0];
  }
  EXPECT_EQ(rest, items);  // every item has the shape
  return lines;
}

// Every file under folder, by path, with its bytes (a folder with none).
std::map<std::string, std::string> Files(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().string()] =
        entry.is_directory() ? "" : std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

// Every row of the job's tables.
std::string Rows(Connection& db) {
  std::string all;
  for (const char* table :
       {"Configuracion", "Servidor_Timbrado", "Transaccion_Uso", "Operadores"}) {
    for (RowSet rows = db.Execute(std::string("SELECT * FROM ") + table); !rows.Eof();
         rows.MoveNext()) {
      for (const std::string& column : rows.Columns())
        all += rows.Field(column).value_or("-") + "|";
    }
  }
  return all;
}

std::string PgSettings(const std::string& password) {
  PasswordCipher cipher;
  cipher.SetKey(InstallationPasswordKey());
  return "[CONEXION]\nSERVERDB=odbc:QuorvexPgTest\nUSER-ID=quorvex\nPASSWORD=" +
         cipher.Encode(password) + "\nDATABASE=quorvex_test\n";
}

// The settings file, readable by its owner and group only.
void WriteIni(Installation& install, const std::string& text) {
  install.WriteSettings(text);
  fs::permissions(install.Folder() / "QuorvexServer.ini", fs::perms::others_read,
                  fs::perm_options::remove);
}

using Break = std::function<void(Installation&, Connection& db)>;

struct Row {
  const char* name;
  bool postgres;
  Break breaks;
  const char* flagged;    // every line that is not OK, verdict and check, ", " between
  const char* says = "";  // words the output must hold (a fix, a reason)
  const char* user = "";  // the account to judge for (--user), if not the caller
};

// Breaks: statements on the database; settings of the embedded database's
// installation with these lines; a file of the program folder removed, or
// given more permissions; one break after another.
template <class... S>
Break Sql(S... sql) {
  return [=](Installation&, Connection& db) { (db.Execute(sql), ...); };
}
Break Ini(const char* lines) {
  return [=](Installation& i, Connection&) { WriteIni(i, Installation::SqliteSettings(lines)); };
}
Break Remove(const char* file) {
  return [=](Installation& i, Connection&) { fs::remove(i.Folder() / file); };
}
Break Allow(const char* file, fs::perms perms) {
  return [=](Installation& i, Connection&) {
    fs::permissions(i.Folder() / file, perms, fs::perm_options::add);
  };
}
Break Then(Break first, Break second) {
  return [=](Installation& i, Connection& db) { first(i, db), second(i, db); };
}

const std::string kSecret = "Zx4vPj9m";  // never to be shown

// The summary a run left, with its exit status and its time of the last
// accepted usage report.
Break LastRun(const char* status, const char* accepted) {
  return [=](Installation& install, Connection&) {
    fs::create_directories(install.StateFolder());
    std::ofstream(install.StateFolder() / "last-run.json")
        << "{\"exit_status\": " << status << ", \"reason\": \"SE HA DETECTADO\", "
        << "\"last_accepted_usage_report\": " << accepted << "}";
  };
}

const Row kRows[] = {
    {"healthy", false, Sql(), ""},
    {"the last run ended early", false, LastRun("78", "null"), "WARN last run"},
    {"usage waiting a day after the last acceptance", false,
     Then(LastRun("0", "\"2026-01-02T03:04:05Z\""),
          Sql("INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha) VALUES "
              "('TIMBRADO', 'S', '2026-01-05 10:00:00')")),
     "WARN usage report"},
    {"healthy on PostgreSQL", true, Sql(), ""},
    {"no settings file", false, Remove("QuorvexServer.ini"),
     "FAIL settings file, WARN database, WARN central service"},
    {"a folder as settings file", false,
     Then(Remove("QuorvexServer.ini"),
          [](Installation& i, Connection&) {
            fs::create_directory(i.Folder() / "QuorvexServer.ini");
          }),
     "FAIL settings file, WARN database, WARN central service, WARN tool"},
    {"settings readable by everyone", false, Allow("QuorvexServer.ini", fs::perms::others_read),
     "WARN settings file permissions"},
    {"a typo key", false, Ini("PING_MODE=2\n"), "WARN unknown key PING_MODE",
     "the nearest key it reads is PING-MODE"},
    {"a key like none", false, Ini("COLOR=blue\n"), "WARN unknown key COLOR",
     "the job reads no key COLOR. Fix: Remove it"},
    {"judged for an account that may not read or write", false, Sql(),
     "FAIL settings file, FAIL state directory, FAIL database writable", "cannot be read by nobody",
     "nobody"},
    {"the state directory is a file", false,
     [](Installation& i, Connection&) { std::ofstream(i.StateFolder()).put('x'); },
     "FAIL state directory", "is not a folder; every run would end at once with exit status 71"},
    {"no database file", false,
     [](Installation& i, Connection&) { i.CloseDb(), fs::remove(i.DatabasePath()); },
     "FAIL database login, WARN central service",
     "database.sqlite3 does not exist. Fix: Make it from the schema script"},
    {"two service addresses", false,
     Sql("INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', 'http://x/')"),
     "FAIL service address rows"},
    {"an address that is no web address", false, Sql("UPDATE Configuracion SET Cf_Valor = 'x'"),
     "FAIL service address",
     "Fix: Correct the installation's service address in Configuracion: UPDATE Configuracion"},
    {"a port in St_Url", false,
     Sql("UPDATE Servidor_Timbrado SET St_Url = 'https://stamp.test:8443/ws'"),
     "FAIL server addresses"},
    {"no active server", false, Sql("UPDATE Servidor_Timbrado SET Es_Cve_Estado = 'BA'"),
     "WARN active servers"},
    {"no key on St_ID", false, Sql("DROP INDEX UX_Servidor_Timbrado_St_ID"), "WARN key on St_ID",
     "CREATE UNIQUE INDEX UX_Servidor_Timbrado_St_ID ON Servidor_Timbrado (St_ID)"},
    {"a login that may not update", true, Sql("REVOKE UPDATE ON Transaccion_Uso FROM quorvex"),
     "FAIL database writable", "may not update Transaccion_Uso"},
    {"neither table the reports look up", false,
     Sql("DROP TABLE Operadores", "DROP TABLE Transaccion_Uso"),
     "FAIL table Operadores, FAIL table Transaccion_Uso, WARN sysobjects"},
    {"a tool that never ends", false,
     Then(
         [](Installation& i, Connection&) {
           std::ofstream(i.Folder() / "stuck-tcping.exe") << "#!/bin/sh\nexec sleep 60\n";
           fs::permissions(i.Folder() / "stuck-tcping.exe", fs::perms::owner_all);
         },
         Ini("TCPING=stuck-tcping.exe\n")),
     "FAIL tool run", "was stopped after 10 s"},
    {"the stand-in ping missing", false, Then(Remove("ping"), Ini("PING-MODE=3\n")), "FAIL tool",
     "/ping is not there"},
    {"PING-MODE a word", false, Ini("PING-MODE=tcping\n"), "FAIL setting PING-MODE, WARN tool"},
    {"a wrong password", true,
     [](Installation& i, Connection&) { i.WriteSettings(PgSettings(kSecret)); },
     "FAIL database login, WARN central service"},
    {"no table Operadores", false, Sql("DROP TABLE Operadores"), "FAIL table Operadores"},
    {"no column St_Ping", false, Sql("ALTER TABLE Servidor_Timbrado DROP COLUMN St_Ping"),
     "FAIL table Servidor_Timbrado"},
    {"St_Ping as text", false,
     Sql("ALTER TABLE Servidor_Timbrado DROP COLUMN St_Ping",
         "ALTER TABLE Servidor_Timbrado ADD COLUMN St_Ping TEXT"),
     "FAIL table Servidor_Timbrado"},
    {"a usage record the document cannot carry", false,
     Sql("INSERT INTO Transaccion_Uso (Transaccion, Server_Id, Fecha) VALUES "
         "('A\"B', 'S-1', '2020-01-01 00:00:00')"),
     "FAIL usage values"},
    {"the service behind a closed port", false,
     [](Installation&, Connection& db) {
       db.Execute("UPDATE Configuracion SET Cf_Valor = 'http://127.0.0.1:" +
                  std::to_string(testing::ClosedLoopbackPort()) + "/update/update.asmx'");
     },
     "FAIL service connection"},
    {"the default address", false, Sql("DELETE FROM Configuracion"), "FAIL service address"},
    {"no tcping.exe", false, Remove("tcping.exe"), "FAIL tool"},
    {"tcping.exe writable by everyone", false, Allow("tcping.exe", fs::perms::others_write),
     "FAIL tool permissions"},
};

TEST(CheckProgramTest, NamesWhatIsBrokenAndChangesNothing) {
  const bool pg = std::getenv("ODBCINI") != nullptr;  // the fixture of tests/postgres
  // Where systemd runs, the timer of a test installation is not installed.
  const bool systemd = fs::is_directory("/run/systemd/system");
  testing::CentralService service;
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    if (row.postgres && !pg) continue;
    Installation install;
    WriteIni(install, row.postgres ? PgSettings("quorvex") : Installation::SqliteSettings(""));
    std::unique_ptr<Connection> pg_db;
    if (row.postgres)
      pg_db =
          OpenConnection("Password=quorvex;User ID=quorvex;Data Source=odbc:QuorvexPgTest", "/");
    Connection& db = row.postgres ? *pg_db : install.Db();
    Then(Sql("DELETE FROM Configuracion", "DELETE FROM Servidor_Timbrado",
             "INSERT INTO Configuracion VALUES ('GEN_WEBSERVICE_UPDATE_URL', '" + service.Url() +
                 "')",
             "INSERT INTO Servidor_Timbrado VALUES ('1', 'https://stamp.test/ws', 'AC', 0), "
             "('2', 'http://[::1]/ws', 'AC', 0)"),
         row.breaks)(install, db);
    // Out of the write-ahead mode a session that may write would put it in:
    // such a session would change the file's header.
    if (!row.postgres && fs::exists(install.DatabasePath())) {
      install.Db().Execute("PRAGMA journal_mode=DELETE");
    }
    install.CloseDb();
    const std::string rows_before = row.postgres ? Rows(*pg_db) : "";
    const auto files_before = Files(install.Folder().parent_path());
    const int requests_before = service.Received();

    const auto run = [&](const char* mode) {
      const auto args = *row.user ? std::vector<std::string>{"--user", row.user, mode}
                                  : std::vector<std::string>{mode};
      return testing::RunProgram((install.Folder() / "quorvex-check").string(), args,
                                 {{"QUORVEX_STATE_DIR", install.StateFolder().string()}});
    };
    const auto json = run("--json"), strict = run("--strict"), text = run("--quiet");

    std::string json_worst;
    const std::vector<Line> lines = FromJson(json.output, json_worst);
    std::set<std::string> flagged;
    std::string rendered;  // as --quiet prints them
    std::map<std::string, int> count;
    for (const Line& l : lines) {
      ++count[l.verdict];
      if (l.verdict != "OK" && !(systemd && l.check == "schedule"))
        flagged.insert(l.verdict + " " + l.check);
      if (l.verdict != "OK") {
        rendered += (l.verdict + "   ").substr(0, 5) + l.check + ": " + l.found +
                    (l.fix.empty() ? "" : ". Fix: " + l.fix) + "\n";
      }
    }
    const std::string worst = count["FAIL"] ? "FAIL" : count["WARN"] ? "WARN" : "OK";
    EXPECT_EQ(json_worst, worst);
    rendered += "Result: " + worst + " (" + std::to_string(count["FAIL"]) + " failed, " +
                std::to_string(count["WARN"]) +
                (count["WARN"] == 1 ? " warning, " : " warnings, ") + std::to_string(count["OK"]) +
                " OK)\n";
    const std::string listed = row.flagged;
    const std::regex comma(", ");
    std::set<std::string> expected(
        std::sregex_token_iterator(listed.begin(), listed.end(), comma, -1), {});
    expected.erase("");
    EXPECT_EQ(flagged, expected) << strict.output;
    EXPECT_NE(strict.output.find(row.says), std::string::npos) << strict.output;
    EXPECT_EQ(strict.exit_code, count["FAIL"] + count["WARN"] > 0 ? 1 : 0);
    // The two runs differ only in numbers: the closed port, the clock.
    const std::regex digits("[0-9]+");
    EXPECT_EQ(std::regex_replace(text.output, digits, "#"),
              std::regex_replace(rendered, digits, "#"));
    EXPECT_EQ(json.exit_code, count["FAIL"] > 0 ? 1 : 0);
    EXPECT_EQ(text.exit_code, json.exit_code);
    EXPECT_EQ(strict.output.find(kSecret), std::string::npos);

    EXPECT_TRUE(Files(install.Folder().parent_path()) == files_before);
    if (row.postgres) {
      EXPECT_EQ(Rows(*pg_db), rows_before);
      Sql("DELETE FROM Configuracion", "GRANT UPDATE ON Transaccion_Uso TO quorvex")(install, db);
    }
    const bool answered = strict.output.find("OK   service answer") != std::string::npos;
    EXPECT_EQ(service.Received() - requests_before, answered ? 3 : 0);
    for (int n = requests_before + 1; n <= service.Received(); ++n)
      EXPECT_TRUE(service.Record(n, ".headers").starts_with("GET "))
          << service.Record(n, ".headers");
  }
}

// The command line: each row, the arguments, the exit status and the start
// of what is printed.
TEST(CheckProgramTest, AnswersHelpVersionAndAWrongArgument) {
  const Installation install(/*with_database=*/false);
  const struct {
    std::vector<std::string> args;
    int exit_code;
    const char* starts;
  } rows[] = {
      {{"--version"}, 0, "quorvex-check 1.0.0\n"},
      {{"--help"}, 0, "usage: quorvex-check [--quiet] [--strict] [--json] [--user NAME]\n"},
      {{"--quiet", "--verbose"}, 2, "quorvex-check: unknown argument --verbose\nusage:"},
      {{"--user", "no-such-account-q"}, 1, "quorvex-check: there is no account no-such-account-q"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.back());
    const auto result =
        testing::RunProgram((install.Folder() / "quorvex-check").string(), row.args);
    EXPECT_EQ(result.exit_code, row.exit_code);
    EXPECT_TRUE(result.output.starts_with(row.starts)) << result.output;
  }
}

}  // namespace
}  // namespace quorvex
