// A child for the runner's tests: does one thing chosen by its first
// argument, with plain write(2) calls so the order of its output is exact.
//
//   interleave        writes to stdout and stderr by turns
//   nonewline         writes a text that does not end with a line break
//   bytes N           writes N bytes of a known pattern in uneven writes
//   silent            writes nothing
//   fds               lists its open descriptors, one per line
//   stdin             reports what reading standard input gives
//   args ...          writes each argument after its own on a line of its own
//   grandchild        starts a grandchild that keeps the output open a while
//                     and writes last; the child itself ends at once
//   linger            writes its pid, closes its output and sleeps
//   hang              writes its pid and never ends
//   orphan            starts a grandchild that writes its pid and never ends,
//                     holding the output; the child writes its pid and ends
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

void Write(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) std::exit(3);
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

char PatternByte(std::size_t index) { return static_cast<char>('a' + index * 7 % 26); }

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (mode == "interleave") {
    for (int i = 0; i < 5; ++i) {
      Write(1, "out" + std::to_string(i) + "\n");
      Write(2, "err" + std::to_string(i) + "\n");
    }
  } else if (mode == "nonewline") {
    Write(1, "no line break at the end");
  } else if (mode == "bytes" && argc > 2) {
    const std::size_t total = std::strtoull(argv[2], nullptr, 10);
    std::string block;
    std::size_t sent = 0;
    std::size_t step = 1;
    while (sent < total) {
      const std::size_t size = std::min(total - sent, step);
      block.resize(size);
      for (std::size_t i = 0; i < size; ++i) block[i] = PatternByte(sent + i);
      Write(1, block);
      sent += size;
      step = step * 3 % 70001 + 1;  // uneven sizes, up to about 70 kB
    }
  } else if (mode == "silent") {
  } else if (mode == "fds") {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return 2;
    std::string list;
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      if (std::atoi(entry->d_name) == dirfd(dir)) continue;
      list += entry->d_name;
      list += '\n';
    }
    closedir(dir);
    Write(1, list);
  } else if (mode == "stdin") {
    char buffer[16];
    const ssize_t count = read(0, buffer, sizeof buffer);
    Write(1, count == 0 ? "eof" : count < 0 ? "error" : "data");
  } else if (mode == "args") {
    for (int i = 2; i < argc; ++i) {
      Write(1, std::string("[") + argv[i] + "]\n");
    }
  } else if (mode == "grandchild") {
    const pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
      usleep(300'000);
      Write(1, "grandchild done\n");
      _exit(0);
    }
    Write(1, "child done\n");
  } else if (mode == "linger") {
    Write(1, std::to_string(getpid()));
    close(1);
    close(2);
    sleep(60);
  } else if (mode == "hang" || mode == "orphan") {
    if (mode == "orphan") {
      const pid_t pid = fork();
      if (pid < 0) return 2;
      if (pid > 0) {
        Write(1, std::to_string(getpid()) + "\n");
        return 0;
      }
    }
    Write(1, std::to_string(getpid()) + "\n");
    while (true) pause();
  } else {
    Write(2, "unknown mode\n");
    return 2;
  }
  return 0;
}
