// Windows: the job puts itself in a job object of its own. Every process
// created from then on, by the job or by anything it started, belongs to
// that object from the moment it is created, before it could start anything
// itself; a tool's own job object, assigned once the tool has started,
// nests inside it. At the end every process in it but the job is
// terminated. Should the job be ended without reaching that point (a
// scheduler's time limit), closing the object's last handle, which the
// system does as the process ends, terminates the rest.
#include <windows.h>

#include <vector>

#include "platform/descendants.h"

namespace quorvex {
namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

void SetEndWithLastHandle(HANDLE job, bool end) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = end ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// The ids of the processes in job; empty when the system does not say.
std::vector<ULONG_PTR> ProcessesIn(HANDLE job) {
  std::vector<char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 64 * sizeof(ULONG_PTR));
  while (true) {
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    const BOOL listed = QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                                  static_cast<DWORD>(buffer.size()), nullptr);
    if (listed || GetLastError() == ERROR_MORE_DATA) {
      if (list->NumberOfProcessIdsInList >= list->NumberOfAssignedProcesses) {
        return std::vector<ULONG_PTR>(list->ProcessIdList,
                                      list->ProcessIdList + list->NumberOfProcessIdsInList);
      }
      buffer.resize(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) +
                    (list->NumberOfAssignedProcesses + 64) * sizeof(ULONG_PTR));
      continue;
    }
    return {};
  }
}

}  // namespace

DescendantKeeper::DescendantKeeper() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return;
  SetEndWithLastHandle(job, true);
  if (!AssignProcessToJobObject(job, GetCurrentProcess())) {
    CloseHandle(job);  // holds no process: closing it ends nothing
    return;
  }
  job_ = reinterpret_cast<std::intptr_t>(job);
  keeping_ = true;
}

DescendantKeeper::~DescendantKeeper() {
  if (!keeping_) return;
  HANDLE job = AsHandle(job_);
  for (ULONG_PTR id : ProcessesIn(job)) {
    if (id == GetCurrentProcessId()) continue;
    // IsProcessInJob asks for query rights; wine's server takes only the
    // full PROCESS_QUERY_INFORMATION for it, which Windows accepts too.
    HANDLE process =
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) continue;
    // The id was listed a moment ago: the process may have ended since and
    // its id gone to another, unrelated one. Only the handle tells.
    BOOL in_job = FALSE;
    if (IsProcessInJob(process, job, &in_job) && in_job) TerminateProcess(process, 1);
    CloseHandle(process);
  }
  // This process stays in the object: closing it must not end it.
  SetEndWithLastHandle(job, false);
  CloseHandle(job);
}

}  // namespace quorvex
