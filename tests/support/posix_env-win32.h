// setenv and unsetenv for the unit tests of the Windows build, which the
// C runtime of Windows offers as _putenv_s (an empty value removes).
#pragma once

#include <stdlib.h>

inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
