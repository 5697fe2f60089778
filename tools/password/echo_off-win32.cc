#include <windows.h>

#include "echo_off.h"

EchoOff::EchoOff(bool wanted) {
  DWORD mode = 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // GetConsoleMode fails where standard input is not a console.
  if (!wanted || !GetConsoleMode(input, &mode)) return;
  saved_ = mode;
  active_ = SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

EchoOff::~EchoOff() {
  if (active_) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), static_cast<DWORD>(saved_));
}
