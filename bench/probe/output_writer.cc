// Writes the given number of megabytes to standard output in 64 KiB writes.
#include <unistd.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const long long total = (argc > 1 ? std::atoll(argv[1]) : 100) * 1024 * 1024;
  const std::string block(64 * 1024, 'x');
  for (long long sent = 0; sent < total;) {
    const ssize_t written = write(1, block.data(), std::min<long long>(block.size(), total - sent));
    if (written <= 0) return 1;
    sent += written;
  }
  return 0;
}
