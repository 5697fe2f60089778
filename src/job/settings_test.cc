#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "job/password_cipher.h"
#include "job/principal.h"
#include "job/settings_file_reader.h"

namespace quorvex {
namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quorvex-ini-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& content) {
    const std::string path = reader_.SettingsFilePath(dir_.string());
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::filesystem::path dir_;
  SettingsFileReader reader_;
};

TEST_F(SettingsFileTest, ReadsKeysCaseInsensitivelyAndTrimsLikeAnIniFile) {
  const std::string path = Write(
      "; comment\r\n"
      "[other]\nSERVERDB=wrong\n"
      "[ Conexion ]\r\n"
      "serverdb =\"  db1  \"\r\n"
      "User-Id=  operator\t\r\n"
      "PSPING-COMMAND=\r\n"
      "TCPING=\"tools\\tcping.exe\"\n"
      "PING-MODE=2\n"
      "ping-mode=3\n"
      "# trailing comment\n");
  auto read = [&](const char* key, const char* fallback) {
    return reader_.ReadSetting(path, "CONEXION", key, fallback);
  };
  EXPECT_EQ(read("SERVERDB", ""), "  db1  ");
  EXPECT_EQ(read("USER-ID", "sa"), "operator");
  EXPECT_EQ(read("PSPING-COMMAND", "-n 4 -i 0 -w 0"), "");  // present but empty stays empty
  EXPECT_EQ(read("TCPING", "tcping.exe"), "tools\\tcping.exe");
  EXPECT_EQ(read("PING-MODE", "1"), "2");  // the first of two wins
  EXPECT_EQ(read("DATABASE", "EMPRESAS"), "EMPRESAS");
  EXPECT_EQ(reader_.ReadSetting(path, "MISSING", "SERVERDB", "d"), "d");
}

TEST_F(SettingsFileTest, MissingFileGivesDefaultsBrokenFileGivesAClearError) {
  EXPECT_EQ(reader_.ReadSetting((dir_ / "none.ini").string(), "CONEXION", "USER-ID", "sa"), "sa");

  SettingsFileReader binary;
  std::string path = Write(std::string("[CONEXION]\nSERVER=a\0b\n", 22));
  try {
    binary.ReadSetting(path, "CONEXION", "SERVER", "");
    FAIL() << "a NUL byte must be refused";
  } catch (const SettingsFileError& e) {
    EXPECT_NE(std::string(e.what()).find("not a text file"), std::string::npos) << e.what();
  }

  SettingsFileReader latin1;
  path = Write("[CONEXION]\nSERVER=Espa\xF1" "a\n");
  EXPECT_THROW(latin1.ReadSetting(path, "CONEXION", "SERVER", ""), SettingsFileError);

  SettingsFileReader huge;
  path = Write("[CONEXION]\n" + std::string(kMaxSettingsFileBytes + 1, ';'));
  EXPECT_THROW(huge.ReadSetting(path, "CONEXION", "SERVER", ""), SettingsFileError);
}

TEST(PasswordCipherTest, RoundTripsAndRefusesTextItDidNotMake) {
  PasswordCipher cipher;
  EXPECT_THROW(cipher.Decode("x"), PasswordCipherError);  // no key yet
  EXPECT_THROW(cipher.SetKey("short"), PasswordCipherError);
  cipher.SetKey(InstallationPasswordKey());
  const std::string plains[] = {"s3cret", "with;semicolon and \"quotes\"",
                                "\xC3\xB1" "and" "\xC3\xBA", std::string(200, 'a')};
  for (const std::string& plain : plains) {
    const std::string stored = cipher.Encode(plain);
    EXPECT_EQ(stored.find(plain), std::string::npos) << "the plain text must not show";
    EXPECT_EQ(cipher.Decode(stored), plain);
  }
  EXPECT_EQ(cipher.Decode(""), "");
  std::string tampered = cipher.Encode("s3cret");
  tampered[6] = tampered[6] == '0' ? '1' : '0';
  const std::string bad_texts[] = {"s3cret", "QX1:", "QX1:ZZ00", tampered};
  for (const std::string& bad : bad_texts) {
    try {
      cipher.Decode(bad);
      FAIL() << "accepted " << bad;
    } catch (const PasswordCipherError& e) {
      EXPECT_NE(std::string(e.what()).find("quorvex-password"), std::string::npos);
    }
  }
}

TEST(ConnectionStringTest, TemplateTitleAndPlaceholderOrder) {
  ConnectionSettings s;
  s.Server = "db1";
  s.UserId = "sa";
  s.Database = "EMPRESAS";
  EXPECT_EQ(BuildConnectionString(s),
            "Provider=SQLOLEDB.1;Password=;Persist Security Info=True;User ID=sa;"
            "Initial Catalog=EMPRESAS;Data Source=db1;APP=Quorvex");
  // A value holding a later placeholder has it replaced by the later step;
  // an earlier one stays as written.
  s.Server = "x*DATABASE*y";
  s.Password = "p*SERVER*w";
  s.Database = "D";
  EXPECT_EQ(BuildConnectionString(s),
            "Provider=SQLOLEDB.1;Password=p*SERVER*w;Persist Security Info=True;User ID=sa;"
            "Initial Catalog=D;Data Source=xDy;APP=Quorvex");
}

}  // namespace
}  // namespace quorvex
