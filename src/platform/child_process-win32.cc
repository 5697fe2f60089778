// Children started with CreateProcessA: the command line goes to process
// creation as it is (no command interpreter), hidden, with standard output
// and standard error on the write end of one anonymous pipe and no
// standard input. Each child is put in a job object of its own, so that
// the child and what it starts can be ended together. While the runner
// reads the child, the job is set to end with its last handle: should this
// process end during a run (a console closed, a job killed by its
// scheduler), the system closes that handle and the child's tree ends with
// it rather than running on unread. A child whose output has ended is
// released from that limit first and, as on other systems, goes on alone.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/windows_text.h"

namespace quorvex {
namespace {

// How long a child whose output has ended may take to exit before it is
// handed to the reaper.
constexpr DWORD kExitGraceMilliseconds = 20;

// ReadFile is asked for no more than one piece of the runner's output at a
// time, so that each piece is handed on as soon as the child wrote it.
constexpr DWORD kPipeReadSize = 256;

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

bool HasExited(HANDLE process, DWORD wait_milliseconds) {
  return WaitForSingleObject(process, wait_milliseconds) != WAIT_TIMEOUT;
}

// Sets whether closing the job's last handle ends every process in it.
void SetEndWithLastHandle(HANDLE job, bool end) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = end ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

}  // namespace

std::string ChildOutputText(std::string_view bytes) { return AnsiCodePageToUtf8(bytes); }

std::string SystemPingPath(const std::string&) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return WideToUtf8(std::wstring_view(folder, length)) + "\\ping.exe";
}

std::string SystemPingLocation(const std::string&) { return "ping.exe in the system folder"; }

ChildReaper::~ChildReaper() {
  // A child still running goes on alone; only our handle to it is closed.
  for (std::intptr_t process : pending_) CloseHandle(AsHandle(process));
}

void ChildReaper::Adopt(std::intptr_t process) { pending_.push_back(process); }

void ChildReaper::ReapFinished() {
  std::erase_if(pending_, [](std::intptr_t process) {
    if (!HasExited(AsHandle(process), 0)) return false;
    CloseHandle(AsHandle(process));
    return true;
  });
}

ChildProcess::~ChildProcess() {
  if (read_handle_ != 0) CloseHandle(AsHandle(read_handle_));
  if (job_ != 0) {
    SetEndWithLastHandle(AsHandle(job_), false);
    CloseHandle(AsHandle(job_));
  }
  if (process_ != -1) {
    if (HasExited(AsHandle(process_), kExitGraceMilliseconds)) {
      CloseHandle(AsHandle(process_));
    } else {
      reaper_.Adopt(process_);
    }
  }
}

ChildProcess::StartStatus ChildProcess::Start(std::string_view command_line, const std::string&,
                                              const std::optional<std::string>& program) {
  // A program path that the code page cannot hold would reach process
  // creation with stand-ins for some characters, naming no file at all, or
  // (through a look-alike) another one.
  const std::vector<std::string> args = SplitCommandLine(command_line);
  std::string ansi_program;
  if (!args.empty() && !Utf8ToAnsiCodePageExactly(args.front(), ansi_program)) {
    error_ = static_cast<int>(GetACP());
    return StartStatus::kNotInCodePage;
  }
  // Inheritable pipe ends; the read end is then taken back, so that only
  // the write end reaches the child.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) {
    error_ = static_cast<int>(GetLastError());
    return StartStatus::kPipeFailed;
  }
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  // The child inherits the write end and nothing else this process holds,
  // whatever else is inheritable at that moment (another thread's pipe,
  // say). Its own process and thread handles are not inheritable either,
  // so no later tool holds an earlier one.
  SIZE_T list_size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
  std::vector<char> list_buffer(list_size);
  auto* handle_list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_buffer.data());
  if (list_size == 0 || !InitializeProcThreadAttributeList(handle_list, 1, 0, &list_size)) {
    error_ = static_cast<int>(GetLastError());
    CloseHandle(read_end);
    CloseHandle(write_end);
    return StartStatus::kPipeFailed;
  }
  const bool listed = UpdateProcThreadAttribute(handle_list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                &write_end, sizeof write_end, nullptr, nullptr);
  if (!listed) error_ = static_cast<int>(GetLastError());

  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = nullptr;
  startup.StartupInfo.hStdOutput = write_end;
  startup.StartupInfo.hStdError = write_end;
  startup.lpAttributeList = handle_list;
  std::string line = Utf8ToAnsiCodePage(command_line);
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back('\0');
  // A program given by name is started as that file: process creation
  // then searches no folder for the one the line names.
  const std::string application = program ? Utf8ToAnsiCodePage(*program) : std::string();
  PROCESS_INFORMATION child{};
  const bool started =
      listed && !line.empty() && (!program || !application.empty()) &&
      CreateProcessA(program ? application.c_str() : nullptr, writable.data(), nullptr, nullptr,
                     TRUE, NORMAL_PRIORITY_CLASS | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                     &startup.StartupInfo, &child);
  DeleteProcThreadAttributeList(handle_list);
  // The parent's copy of the write end goes at once: the pipe breaks when
  // the child and whatever inherited the end from it have closed theirs.
  CloseHandle(write_end);
  if (!listed) {
    CloseHandle(read_end);
    return StartStatus::kPipeFailed;
  }
  if (!started) {
    CloseHandle(read_end);
    return StartStatus::kNotFound;
  }
  CloseHandle(child.hThread);
  // What the child starts from now on stays in its job object. (The
  // creation flags are fixed, so the child is not started suspended; a
  // child that starts another within its first instants leaves that one
  // outside.)
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job != nullptr) SetEndWithLastHandle(job, true);
  if (job != nullptr && !AssignProcessToJobObject(job, child.hProcess)) {
    CloseHandle(job);
    job = nullptr;
  }
  job_ = FromHandle(job);
  process_ = FromHandle(child.hProcess);
  read_handle_ = FromHandle(read_end);
  return StartStatus::kStarted;
}

std::size_t ChildProcess::Read(char* buffer, std::size_t size, Deadline deadline) {
  HANDLE pipe = AsHandle(read_handle_);
  const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, kPipeReadSize));
  while (true) {
    if (deadline) {
      // Anonymous pipes have no overlapped reads: look at what is waiting
      // until something is, the pipe breaks or the deadline passes.
      DWORD waiting = 0;
      if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return 0;
      if (waiting == 0) {
        if (std::chrono::steady_clock::now() >= *deadline) {
          timed_out_ = true;
          return 0;
        }
        Sleep(5);
        continue;
      }
    }
    DWORD count = 0;
    if (!ReadFile(pipe, buffer, wanted, &count, nullptr)) return 0;
    // A zero-byte write of the child completes a read with nothing in it;
    // only a broken pipe ends the output.
    if (count > 0) return count;
  }
}

void ChildProcess::KillTree() {
  if (job_ != 0) TerminateJobObject(AsHandle(job_), 1);
  if (process_ != -1) TerminateProcess(AsHandle(process_), 1);
}

}  // namespace quorvex
