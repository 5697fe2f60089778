#include <clocale>

#include "platform/locale_separators.h"

namespace quorvex {

NumericSeparators CurrentNumericSeparators() {
  const std::lconv* conv = std::localeconv();
  NumericSeparators seps;
  seps.decimal = (conv && conv->decimal_point && *conv->decimal_point) ? conv->decimal_point : ".";
  seps.group = (conv && conv->thousands_sep) ? conv->thousands_sep : "";
  return seps;
}

}  // namespace quorvex
