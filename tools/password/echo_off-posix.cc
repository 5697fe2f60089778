#include <termios.h>
#include <unistd.h>

#include "echo_off.h"

EchoOff::EchoOff(bool wanted) {
  termios mode{};
  if (!wanted || !isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &mode) != 0) return;
  saved_ = mode.c_lflag;
  mode.c_lflag &= static_cast<tcflag_t>(~ECHO);
  active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) == 0;
}

EchoOff::~EchoOff() {
  termios mode{};
  if (!active_ || tcgetattr(STDIN_FILENO, &mode) != 0) return;
  mode.c_lflag = static_cast<tcflag_t>(saved_);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode);
}
