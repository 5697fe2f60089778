// Linux: the job becomes a child subreaper (prctl PR_SET_CHILD_SUBREAPER),
// so an orphan below it is handed to it rather than to init; the process
// tree is read from /proc. Processes are signalled through process
// descriptors where the kernel has them, so a process id reused by an
// unrelated process between reading and signalling is never hit.
#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "platform/descendants.h"
#include "platform/unique_fd.h"

namespace quorvex {
namespace {

struct ProcessEntry {
  int pid;
  int parent;
  char state;  // as /proc shows it: 'T' or 't' stopped, 'Z' a zombie, ...
};

// Parent and state of pid from /proc/<pid>/stat ("pid (name) S ppid ...";
// the name may hold blanks and parentheses, so it is skipped up to the last
// ')'). False when the process is gone.
bool ReadEntry(int pid, ProcessEntry& entry) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  FILE* file = std::fopen(path, "re");
  if (file == nullptr) return false;
  char text[512];
  const std::size_t size = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[size] = '\0';
  const std::string line(text);
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos || close + 4 >= line.size()) return false;
  entry.pid = pid;
  entry.state = line[close + 2];
  entry.parent = std::atoi(line.c_str() + close + 4);
  return true;
}

std::vector<ProcessEntry> ReadProcesses() {
  std::vector<ProcessEntry> entries;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return entries;
  while (const dirent* item = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(item->d_name, &end, 10);
    ProcessEntry entry;
    if (*end == '\0' && pid > 0 && ReadEntry(static_cast<int>(pid), entry))
      entries.push_back(entry);
  }
  closedir(proc);
  return entries;
}

// One process of the tree: its id and, where the kernel offers them, a
// process descriptor that stays tied to it.
class Member {
 public:
  explicit Member(int pid) : pid_(pid) {
#ifdef SYS_pidfd_open
    fd_.Reset(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    gone_ = fd_.get() < 0 && errno == ESRCH;
#endif
  }

  // False when the process was already gone.
  bool Opened() const { return !gone_; }
  void Signal(int signal) const {
#ifdef SYS_pidfd_send_signal
    if (fd_.get() >= 0) {
      syscall(SYS_pidfd_send_signal, fd_.get(), signal, nullptr, 0);
      return;
    }
#endif
    kill(pid_, signal);
  }

 private:
  int pid_;
  UniqueFd fd_;
  bool gone_ = false;
};

// Stops every process below root (and root with include_root) until a
// look at /proc finds none that is not stopped and no new one, or a
// bounded number of looks has passed; then kills them all.
std::vector<int> StopAndKill(int root, bool include_root) {
  std::map<int, Member> members;  // by process id
  if (include_root) members.try_emplace(root, root).first->second.Signal(SIGSTOP);
  constexpr int kLooks = 200;  // about 0.2 s at most, for processes slow to stop
  for (int look = 0; look < kLooks; ++look) {
    bool settled = true;
    for (const ProcessEntry& entry : ReadProcesses()) {
      const bool stopped =
          entry.state == 'T' || entry.state == 't' || entry.state == 'Z' || entry.state == 'X';
      if (members.count(entry.pid) > 0) {
        settled = settled && stopped;  // stopping takes a moment; it may fork until then
        continue;
      }
      const bool below = entry.parent == root || members.count(entry.parent) > 0;
      if (below && entry.pid != root) {
        auto member = members.try_emplace(entry.pid, entry.pid).first;
        // The descriptor refers to whatever has this id now: look again at
        // its parent, so that a reused id is left alone.
        ProcessEntry again;
        if (!member->second.Opened() || !ReadEntry(entry.pid, again) ||
            again.parent != entry.parent) {
          members.erase(member);
          continue;
        }
        member->second.Signal(SIGSTOP);
        settled = false;
      }
    }
    if (settled) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::vector<int> killed;
  for (const auto& [pid, member] : members) {
    member.Signal(SIGKILL);
    if (pid != root) killed.push_back(pid);
  }
  return killed;
}

}  // namespace

std::vector<int> KillProcessTree(int root, bool include_root) {
  try {
    return StopAndKill(root, include_root);
  } catch (...) {
    return {};  // out of memory: what was not reached is left to the keeper
  }
}

DescendantKeeper::DescendantKeeper() { keeping_ = prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0; }

DescendantKeeper::~DescendantKeeper() {
  if (!keeping_) return;
  KillProcessTree(static_cast<int>(getpid()), false);
  // Every child, the orphans handed over included, is collected; a killed
  // process ends within moments, but a bound keeps a process in an
  // uninterruptible wait from holding the job.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t pid = waitpid(-1, nullptr, WNOHANG);
    if (pid < 0 && errno != EINTR) break;  // ECHILD: nothing left
    if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
}

}  // namespace quorvex
