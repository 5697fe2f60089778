// The system's log on POSIX systems: the systemd journal, or syslog(3)
// where no journal runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>
#define SD_JOURNAL_SUPPRESS_LOCATION  // entries carry no source location
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/event_sink.h"
#include "platform/unique_fd.h"

namespace quorvex {
namespace {

int PriorityOf(std::uint16_t type) {
  switch (type) {
    case 1:
      return LOG_ERR;
    case 2:
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

}  // namespace

bool AppendEventLine(const char* path, const std::string& line) {
  // Opened without blocking and then looked at: a named pipe nobody reads
  // would otherwise hold the job at the open or the write for good.
  const UniqueFd file(
      ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0640));
  const int fd = file.get();
  struct stat info;
  // A file that cannot be opened (no such folder, no right to it, a pipe
  // without a reader) takes no entry.
  if (fd < 0) return false;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  // One write per entry: appends of concurrent processes do not interleave.
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // Nothing written (a full disk, a quota): the entry is not there. A part
  // of it is, and goes to the system's log again whole.
  return done == line.size();
}

namespace {

bool SendToJournal(const EventEntry& entry) {
  const std::string message = "MESSAGE=" + std::string(entry.message);
  const std::string priority = "PRIORITY=" + std::to_string(PriorityOf(entry.type));
  const std::string identifier = "SYSLOG_IDENTIFIER=" + std::string(entry.source);
  const std::string type = "QUORVEX_EVENT_TYPE=" + std::to_string(entry.type);
  const std::string id = "QUORVEX_EVENT_ID=" + std::to_string(entry.id);
  const std::string* fields[] = {&message, &priority, &identifier, &type, &id};
  iovec vector[5];
  for (int k = 0; k < 5; ++k) {
    vector[k].iov_base = const_cast<char*>(fields[k]->data());
    vector[k].iov_len = fields[k]->size();
  }
  return sd_journal_sendv(vector, 5) >= 0;
}

void SendToSyslog(const EventEntry& entry) {
  const std::string ident(entry.source);
  const std::string message(entry.message);
  openlog(ident.c_str(), LOG_PID, LOG_USER);
  syslog(PriorityOf(entry.type), "%s", message.c_str());
  closelog();
}

}  // namespace

void ReportToSystemLog(const EventEntry& entry) {
  if (!SendToJournal(entry)) SendToSyslog(entry);
}

}  // namespace quorvex
