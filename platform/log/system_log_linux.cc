#include <sys/stat.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/log/log.h"

namespace bcn {
namespace {

// systemd sets $JOURNAL_STREAM to "<device>:<inode>" of the stream it
// connected to stderr. Only when stderr is still that very stream does the
// journal read what we write; a journal socket on the machine, or the
// variable inherited by a child whose stderr was redirected, proves nothing.
bool stderrIsTheJournal() {
  const char* value = std::getenv("JOURNAL_STREAM");
  if (value == nullptr) return false;
  const std::string_view text(value);
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  unsigned long long device = 0, inode = 0;
  const char* deviceEnd = text.data() + colon;
  const char* inodeEnd = text.data() + text.size();
  const auto parsedDevice = std::from_chars(text.data(), deviceEnd, device);
  const auto parsedInode = std::from_chars(deviceEnd + 1, inodeEnd, inode);
  if (parsedDevice.ec != std::errc{} || parsedDevice.ptr != deviceEnd || parsedInode.ec != std::errc{} ||
      parsedInode.ptr != inodeEnd || colon == 0 || colon + 1 == text.size()) {
    return false;
  }
  struct stat st {};
  if (::fstat(STDERR_FILENO, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == device && static_cast<unsigned long long>(st.st_ino) == inode;
}

}  // namespace

SystemLog::SystemLog(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)), journal_(stderrIsTheJournal()) {}

void SystemLog::info(std::string_view message) {
  std::string text(message);
  if (journal_ &&
      sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=6", "BCN_SUBSYSTEM=%s", subsystem_.c_str(),
                      "BCN_CATEGORY=%s", category_.c_str(), "SYSLOG_IDENTIFIER=%s", subsystem_.c_str(), nullptr) >= 0) {
    return;
  }
  // Not under systemd (a terminal, a test harness, a container without
  // journald), or the journal refused: one line per message on stderr,
  // written with one call so lines from several threads do not interleave.
  std::string line = subsystem_ + "[" + category_ + "] " + text + "\n";
  [[maybe_unused]] auto written = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace bcn
