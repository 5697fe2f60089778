// quorvex-password: prints the text to put under PASSWORD in section
// CONEXION of QuorvexServer.ini for a plain database password.
//
//   quorvex-password            reads the password from standard input
//                               (one line; no echo when it is a terminal)
//   quorvex-password --decode   reads an encoded text and prints the plain
//                               password, to check a settings file
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "echo_off.h"
#include "job/password_cipher.h"

namespace {

constexpr char kUsage[] =
    "usage: quorvex-password [--decode]\n"
    "       quorvex-password --help | --version\n"
    "Reads a plain password from standard input and prints the text to put\n"
    "under PASSWORD in section CONEXION of QuorvexServer.ini.\n"
    "With --decode, reads such a text and prints the plain password.\n";

std::string ReadLine(bool hide) {
  std::string line;
  {
    EchoOff echo_off(hide);
    if (echo_off.active()) std::fprintf(stderr, "Password: ");
    std::getline(std::cin, line);
    if (echo_off.active()) std::fprintf(stderr, "\n");
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  bool decode = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--decode") == 0) {
      decode = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("quorvex-password (Quorvex Server) %s\n", QUORVEX_VERSION);
      return 0;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  try {
    quorvex::PasswordCipher cipher;
    cipher.SetKey(quorvex::InstallationPasswordKey());
    const std::string input = ReadLine(!decode);
    std::cout << (decode ? cipher.Decode(input) : cipher.Encode(input)) << '\n';
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvex-password: %s\n", e.what());
    return 1;
  }
}
