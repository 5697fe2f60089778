// Turns off the echo of a terminal's typed input while the object lives,
// so that a password typed at a prompt is not shown.
#pragma once

class EchoOff {
 public:
  // Turns the echo of standard input off when asked to and standard input
  // is a terminal; otherwise does nothing.
  explicit EchoOff(bool wanted);
  // Restores the echo as it was.
  ~EchoOff();
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

  // True when the echo was turned off (so the caller shows a prompt).
  bool active() const { return active_; }

 private:
  bool active_ = false;
  unsigned long saved_ = 0;  // the terminal's former mode flags
};
