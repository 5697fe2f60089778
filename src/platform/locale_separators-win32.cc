// The C runtime's locale data holds a locale's defaults only; the user may
// have changed the decimal symbol or the digit grouping symbol in the
// regional settings, and GetLocaleInfoEx reports those changes.
#include <windows.h>

#include <clocale>
#include <cstring>

#include "platform/locale_separators.h"
#include "platform/windows_text.h"

namespace quorvex {
namespace {

std::string UserLocaleText(LCTYPE type) {
  wchar_t text[16] = {};  // the separators are at most four characters
  const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text, 16);
  return n > 1 ? WideToUtf8(std::wstring_view(text, n - 1)) : std::string();
}

}  // namespace

NumericSeparators CurrentNumericSeparators() {
  const char* runtime = std::setlocale(LC_NUMERIC, nullptr);
  if (runtime == nullptr || std::strcmp(runtime, "C") == 0) return {".", ""};
  NumericSeparators seps;
  seps.decimal = UserLocaleText(LOCALE_SDECIMAL);
  seps.group = UserLocaleText(LOCALE_STHOUSAND);
  if (seps.decimal.empty()) seps.decimal.push_back('.');
  return seps;
}

}  // namespace quorvex
