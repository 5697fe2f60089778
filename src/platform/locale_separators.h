// The separators numbers are read and written with under the user's
// regional settings. The job reads the averages the ping tools print, so
// both take their separators from here and always agree.
#pragma once

#include <string>

namespace quorvex {

struct NumericSeparators {
  std::string decimal;  // never empty
  std::string group;    // may be empty
};

// POSIX: those of the current LC_NUMERIC locale, read afresh so that a
// change of locale during the process is honoured. Windows: a full stop and
// no group separator while the C runtime is in the "C" locale (as every
// program starts); otherwise those of the user's regional settings, the
// user's own changes to them included.
NumericSeparators CurrentNumericSeparators();

}  // namespace quorvex
