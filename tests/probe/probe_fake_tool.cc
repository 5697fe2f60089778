// A stand-in for a ping tool in the probe's tests: records how it was
// called and prints a prepared reply.
//
// Installed under a tool's name (for example tcping.exe) in a test's
// program folder (found through /proc/self/exe, since argv[0] may be a bare
// name), it appends one line per call to <itself>.args, its
// arguments joined by "|", and prints the content of <itself>.reply when
// that file exists. It never touches the network, so a reply is exactly
// what the test prepared.
#include <unistd.h>

#include <climits>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return 2;
  const std::string self(path, static_cast<std::size_t>(length));
  {
    std::string line;
    for (int i = 1; i < argc; ++i) line += (i > 1 ? "|" : "") + std::string(argv[i]);
    std::ofstream(self + ".args", std::ios::app) << line << '\n';
  }
  std::ifstream reply(self + ".reply", std::ios::binary);
  if (reply) std::cout << std::string(std::istreambuf_iterator<char>(reply), {});
  return 0;
}
