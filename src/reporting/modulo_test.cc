#include "reporting/modulo.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "reporting/report_frame.h"

namespace quorvex {
namespace {

TEST(FormatoFechaTest, WritesEveryFieldZeroPaddedOnThe24HourClock) {
  struct Case {
    FechaHora fecha;
    const char* text;
  } cases[] = {
      {{2026, 12, 4, 7, 5, 9}, "2026-12-04 07:05:09"},
      {{2026, 1, 1, 0, 0, 0}, "2026-01-01 00:00:00"},
      {{2026, 6, 30, 13, 15, 0}, "2026-06-30 13:15:00"},
      {{1999, 12, 31, 23, 59, 59}, "1999-12-31 23:59:59"},
      {{987, 3, 2, 1, 2, 3}, "0987-03-02 01:02:03"},
  };
  for (const Case& c : cases) EXPECT_EQ(Formato_Fecha(c.fecha), c.text);
}

TEST(ParseFechaHoraTest, ReadsTheSessionsDateTexts) {
  FechaHora f;
  ASSERT_TRUE(ParseFechaHora("2026-12-04 07:05:09", f));
  EXPECT_EQ(f, (FechaHora{2026, 12, 4, 7, 5, 9}));
  ASSERT_TRUE(ParseFechaHora("2024-02-29 23:59:59.997", f));
  EXPECT_EQ(f, (FechaHora{2024, 2, 29, 23, 59, 59}));  // fraction dropped, not rounded up
  ASSERT_TRUE(ParseFechaHora("2026-12-04", f));
  EXPECT_EQ(f, (FechaHora{2026, 12, 4, 0, 0, 0}));
  ASSERT_TRUE(ParseFechaHora("2026-12-04T10:00:00", f));
  EXPECT_EQ(f.hour, 10);

  for (const char* bad :
       {"", "2026-12-04 07:05", "2026-13-01 00:00:00", "2025-02-29 00:00:00", "2026-12-04 24:00:00",
        "2026-12-04 07:05:09.", "2026/12/04 07:05:09", "2026-12-04 07:05:09 ", "hoy"}) {
    EXPECT_FALSE(ParseFechaHora(bad, f)) << bad;
  }
}

FechaHora TodayAtMidnight() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, 0, 0, 0};
}

TEST(GetFechaServidorTest, FallsBackToTodayAtMidnightWithoutAServerDate) {
  RunState run;  // no session: the statement cannot run
  run.SqlText = "sin tocar";
  FechaHora before = TodayAtMidnight();
  FechaHora fecha = Get_FechaServidor(run);
  FechaHora after = TodayAtMidnight();
  EXPECT_TRUE(fecha == before || fecha == after);
  EXPECT_EQ(run.SqlText, "sin tocar");
}

TEST(GetFechaServidorTest, ReadsTheDatabaseServersClock) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorvex-fecha-" + std::to_string(getpid()) + ".db");
  sqlite3* created = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &created), SQLITE_OK);
  sqlite3_close(created);
  RunState run;
  run.DbConnection = OpenConnection("Data Source=sqlite:" + path.string() + ";APP=Quorvex", "/");
  const std::time_t before = std::time(nullptr);
  FechaHora fecha = Get_FechaServidor(run);
  const std::time_t after = std::time(nullptr);
  run.DbConnection.reset();
  std::filesystem::remove(path);
  std::tm tm{};
  tm.tm_year = fecha.year - 1900;
  tm.tm_mon = fecha.month - 1;
  tm.tm_mday = fecha.day;
  tm.tm_hour = fecha.hour;
  tm.tm_min = fecha.minute;
  tm.tm_sec = fecha.second;
  tm.tm_isdst = -1;
  const std::time_t read = std::mktime(&tm);
  EXPECT_GE(read, before);
  EXPECT_LE(read, after);
}

TEST(ToInt32Test, ConvertsCountsAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(ToInt32(std::string("0")), 0);
  EXPECT_EQ(ToInt32(std::string("120")), 120);
  EXPECT_EQ(ToInt32(std::string(" 2147483647 ")), 2147483647);
  EXPECT_EQ(ToInt32(std::string("-2147483648")), INT32_MIN);
  EXPECT_THROW(ToInt32(std::string("2147483648")), std::overflow_error);
  EXPECT_THROW(ToInt32(std::string("4294967297")), std::overflow_error);
  EXPECT_THROW(ToInt32(std::string("-2147483649")), std::overflow_error);
  EXPECT_THROW(ToInt32(std::string("99999999999999999999999")), std::overflow_error);
  EXPECT_THROW(ToInt32(std::nullopt), std::invalid_argument);
  EXPECT_THROW(ToInt32(std::string("12a")), std::invalid_argument);
  EXPECT_THROW(ToInt32(std::string("")), std::invalid_argument);
  EXPECT_THROW(ToInt32(std::string("-")), std::invalid_argument);
}

}  // namespace
}  // namespace quorvex
