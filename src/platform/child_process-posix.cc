// Children started with posix_spawn: no shell, no inherited descriptors
// beyond 0, 1 and 2, default signal handling and an empty signal mask, as a
// freshly created process would have. Each child leads a process group of
// its own; KillTree ends it with SIGKILL, together with every descendant
// that left it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/child_process.h"
#include "platform/descendants.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace quorvex {
namespace {

// How long a child whose output has ended may take to exit before it is
// handed to the reaper. A tool that ends normally closes its output while
// exiting and is collected within microseconds.
constexpr long kExitGraceNanoseconds = 20'000'000;

class SpawnFileActions {
 public:
  SpawnFileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnFileActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = posix_spawnattr_init(&attributes_) == 0; }
  ~SpawnAttributes() {
    if (ok_) posix_spawnattr_destroy(&attributes_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  bool ok() const { return ok_; }
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
  bool ok_ = false;
};

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  buffer.resize(buffer.find('\0'));
  return buffer;
}

// Keeps a pipe end off 0, 1 and 2, so that the child's redirections can
// never clobber it (possible when the job itself runs with a closed stdio).
int AboveStandardDescriptors(UniqueFd& fd) {
  if (fd.get() > 2) return 0;
  const int moved = fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return errno;
  fd.Reset(moved);
  return 0;
}

// True when the child has been collected (or is not ours to collect).
bool TryReap(pid_t pid) {
  while (true) {
    int status = 0;
    const pid_t result = waitpid(pid, &status, WNOHANG);
    if (result == pid) return true;
    if (result == 0) return false;
    if (errno != EINTR) return true;  // ECHILD: nothing left to collect
  }
}

// Gives a child whose output has ended a bounded moment to exit. A process
// descriptor wakes us the moment it exits; where the kernel offers none we
// look again after growing pauses.
bool ReapWithinGrace(pid_t pid) {
  if (TryReap(pid)) return true;
#ifdef SYS_pidfd_open
  const int process_fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (process_fd >= 0) {
    UniqueFd owned(process_fd);
    pollfd exited{process_fd, POLLIN, 0};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::nanoseconds(kExitGraceNanoseconds);
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      const int ready = poll(&exited, 1, static_cast<int>(std::max<long>(left.count(), 0)));
      if (ready < 0 && errno == EINTR) continue;
      return TryReap(pid);
    }
  }
#endif
  long waited = 0;
  long step = 10'000;
  while (!TryReap(pid)) {
    if (waited >= kExitGraceNanoseconds) return false;
    timespec pause{0, step};
    nanosleep(&pause, nullptr);
    waited += step;
    step = std::min(step * 2, 2'000'000L);
  }
  return true;
}

}  // namespace

std::string FindProgram(std::string_view program, const std::string& program_folder) {
  std::string name(program);
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return name;

  // A name without an extension gets ".exe", as process creation on
  // Windows gives it; the name as typed is tried next in the same folder.
  std::vector<std::string> names;
  if (name.find('.') == std::string::npos) names.push_back(name + ".exe");
  names.push_back(name);
  auto find_in = [&names](const std::string& folder) -> std::string {
    for (const std::string& candidate_name : names) {
      std::string candidate = JoinPath(folder, candidate_name);
      if (IsExecutableFile(candidate)) return candidate;
    }
    return {};
  };

  if (!program_folder.empty()) {
    if (std::string found = find_in(program_folder); !found.empty()) return found;
  }
  const std::string current = CurrentDirectory();
  if (!current.empty()) {
    if (std::string found = find_in(current); !found.empty()) return found;
  }
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "";
  while (!folders.empty()) {
    const std::size_t colon = folders.find(':');
    std::string folder(folders.substr(0, colon));
    folders = colon == std::string_view::npos ? std::string_view{} : folders.substr(colon + 1);
    if (folder.empty()) continue;  // the current directory, already tried
    if (std::string found = find_in(folder); !found.empty()) return found;
  }
  return {};
}

std::string ChildOutputText(std::string_view bytes) { return std::string(bytes); }

ChildReaper::~ChildReaper() { ReapFinished(); }

void ChildReaper::Adopt(std::intptr_t process) { pending_.push_back(process); }

void ChildReaper::ReapFinished() {
  std::erase_if(pending_, [](std::intptr_t pid) { return TryReap(static_cast<pid_t>(pid)); });
}

ChildProcess::~ChildProcess() {
  if (read_fd_ >= 0) close(read_fd_);
  if (process_ > 0 && !ReapWithinGrace(static_cast<pid_t>(process_))) reaper_.Adopt(process_);
}

std::string SystemPingPath(const std::string& program_folder) {
  // Only the stand-in of the installation: the system's own ping, which
  // the current folder or PATH would offer, prints no "Media =" summary
  // and, asked for no count, pings for as long as it is let.
  const std::string path = SystemPingLocation(program_folder);
  return !program_folder.empty() && IsExecutableFile(path) ? path : std::string();
}

std::string SystemPingLocation(const std::string& program_folder) {
  return JoinPath(program_folder, "ping");
}

ChildProcess::StartStatus ChildProcess::Start(std::string_view command_line,
                                              const std::string& program_folder,
                                              const std::optional<std::string>& program_file) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    error_ = errno;
    return StartStatus::kPipeFailed;
  }
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);
  if (int error = AboveStandardDescriptors(read_end); error != 0) {
    error_ = error;
    return StartStatus::kPipeFailed;
  }
  if (int error = AboveStandardDescriptors(write_end); error != 0) {
    error_ = error;
    return StartStatus::kPipeFailed;
  }

  std::vector<std::string> args = SplitCommandLine(command_line);
  if (args.empty()) return StartStatus::kNotFound;
  const std::string program =
      program_file ? *program_file : FindProgram(args.front(), program_folder);
  if (program.empty()) return StartStatus::kNotFound;

  SpawnFileActions actions;
  SpawnAttributes attributes;
  if (!actions.ok() || !attributes.ok()) return StartStatus::kNotFound;
  // Descriptors 0, 1 and 2 for the child; every other one is closed, so
  // nothing of ours (the read end included) stays open in it.
  if (posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
      posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), 1) != 0 ||
      posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), 2) != 0 ||
      posix_spawn_file_actions_addclosefrom_np(actions.get(), 3) != 0) {
    return StartStatus::kNotFound;
  }
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(attributes.get(), &signals);
  sigfillset(&signals);
  sigdelset(&signals, SIGKILL);
  sigdelset(&signals, SIGSTOP);
  posix_spawnattr_setsigdefault(attributes.get(), &signals);
  // A process group of its own, led by the child (group id 0: the child's
  // process id), so that KillTree reaches whatever the child starts.
  posix_spawnattr_setpgroup(attributes.get(), 0);
  posix_spawnattr_setflags(attributes.get(),
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ) !=
      0) {
    return StartStatus::kNotFound;
  }
  process_ = pid;
  read_fd_ = read_end.release();
  // write_end closes here: the pipe breaks once the child and whatever it
  // started have closed their copies.
  return StartStatus::kStarted;
}

std::size_t ChildProcess::Read(char* buffer, std::size_t size, Deadline deadline) {
  while (true) {
    if (deadline) {
      const auto left = *deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) {
        timed_out_ = true;
        return 0;
      }
      // Rounded up, so that a wait never ends just short of the deadline
      // and spins; capped to what poll takes.
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      pollfd readable{read_fd_, POLLIN, 0};
      const int ready = poll(&readable, 1, static_cast<int>(std::min<long long>(wait, INT_MAX)));
      if (ready < 0 && errno != EINTR) return 0;
      if (ready <= 0) continue;  // interrupted or not yet: look at the clock again
    }
    const ssize_t count = read(read_fd_, buffer, size);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR) return 0;
  }
}

void ChildProcess::KillTree() {
  // The child is not collected before this object goes away, so its
  // process id (and with it the group id) cannot have been reused. The
  // tree goes first: killing the group first would orphan what left it
  // before it could be found.
  if (process_ <= 0) return;
  const int pid = static_cast<int>(process_);
  for (int descendant : KillProcessTree(pid, true)) reaper_.Adopt(descendant);
  kill(-static_cast<pid_t>(pid), SIGKILL);
}

}  // namespace quorvex
