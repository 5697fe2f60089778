// Nothing the run starts outlives it.
//
// A tool may start processes of its own, and some of those may try to stay:
// a process that leaves its process group (setsid), or whose parent ends
// before it does. While a DescendantKeeper lives, every process started
// below this one stays within its reach however it was started; when the
// keeper goes away, whatever is still running below this process is ended
// and collected. The job holds one for its whole run; the operator console
// holds none, so a command it starts may outlive it on purpose.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvex {

class DescendantKeeper {
 public:
  // Starts keeping. Where the system refuses, the keeper keeps nothing and
  // the run goes on as without one.
  DescendantKeeper();
  // Ends and collects every process still running below this one.
  ~DescendantKeeper();
  DescendantKeeper(const DescendantKeeper&) = delete;
  DescendantKeeper& operator=(const DescendantKeeper&) = delete;

 private:
  std::intptr_t job_ = 0;  // the job object this process is in, where there is one
  bool keeping_ = false;
};

#ifndef _WIN32
// Kills root (when include_root) and every process descended from it, also
// those that left root's process group, and returns the process ids of the
// descendants killed. The tree is stopped (SIGSTOP) first, from the root
// down, until no process in it can start another; then every process in it
// gets SIGKILL. Processes whose parent ended before they were reached are
// no longer descendants of root and are not found (a DescendantKeeper
// receives them). Never throws.
std::vector<int> KillProcessTree(int root, bool include_root);
#endif

}  // namespace quorvex
