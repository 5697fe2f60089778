// The date helpers of the transaction usage report and its count
// conversion; the report itself runs end to end in tests/reporting.
#include "reporting/modulo.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "reporting/report_frame.h"

namespace quorvex {
namespace {

// Every field zero-padded on the 24-hour clock. The cut-off is the second
// before the server's clock: every field rolls back, leap years included.
TEST(FormatoFechaTest, WritesTheSecondBeforeZeroPaddedOnThe24HourClock) {
  EXPECT_EQ(Formato_Fecha({987, 3, 2, 23, 59, 59}), "0987-03-02 23:59:59");
  EXPECT_EQ(Formato_Fecha(SecondBefore({2026, 12, 4, 7, 5, 9})), "2026-12-04 07:05:08");
  EXPECT_EQ(Formato_Fecha(SecondBefore({2026, 1, 1, 0, 0, 0})), "2025-12-31 23:59:59");
  EXPECT_EQ(Formato_Fecha(SecondBefore({2024, 3, 1, 0, 0, 0})), "2024-02-29 23:59:59");
  EXPECT_EQ(Formato_Fecha(SecondBefore({2026, 6, 30, 14, 0, 0})), "2026-06-30 13:59:59");
}

std::string LocalClock(std::time_t at, const char* format) {
  std::tm local{};
  localtime_r(&at, &local);
  char text[32];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

// With no session, or one whose statement fails (the engine refuses every
// allocation), the cut-off is today at 00:00:00 on the local clock.
TEST(GetFechaServidorTest, ServerClockOrTodayAtMidnight) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorvex-fecha-" + std::to_string(getpid()) + ".db");
  sqlite3* created = nullptr;
  ASSERT_EQ(sqlite3_open(path.string().c_str(), &created), SQLITE_OK);
  sqlite3_close(created);
  for (const char* session : {"none", "failing", "answering"}) {
    SCOPED_TRACE(session);
    RunState run;
    run.SqlText = "sin tocar";
    if (session != std::string("none")) {
      run.DbConnection = OpenConnection("Data Source=sqlite:" + path.string(), "/");
    }
    if (session == std::string("failing")) sqlite3_hard_heap_limit64(1);
    const std::time_t before = std::time(nullptr);
    const std::string fecha = Formato_Fecha(Get_FechaServidor(run));
    const std::time_t after = std::time(nullptr);
    sqlite3_hard_heap_limit64(0);
    const char* format =
        session == std::string("answering") ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d 00:00:00";
    EXPECT_TRUE(fecha == LocalClock(before, format) || fecha == LocalClock(after, format)) << fecha;
    EXPECT_EQ(run.SqlText, "sin tocar");
  }
  std::filesystem::remove(path);
}

TEST(ToInt32Test, ConvertsCountsAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(ToInt32(std::string(" 2147483647 ")), 2147483647);
  EXPECT_EQ(ToInt32(std::string("-2147483648")), INT32_MIN);
  for (const char* too_big : {"2147483648", "4294967297", "-2147483649"}) {
    EXPECT_THROW(ToInt32(std::string(too_big)), std::overflow_error) << too_big;
  }
  EXPECT_THROW(ToInt32(std::nullopt), std::invalid_argument);
  EXPECT_THROW(ToInt32(std::string("12a")), std::invalid_argument);
}

}  // namespace
}  // namespace quorvex
