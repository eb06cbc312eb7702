#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/log/log.h"

namespace bcn {

SystemLog::SystemLog(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

void SystemLog::info(std::string_view message) {
  std::string text(message);
  // sd_journal_send reports success when no journal listens (it drops the
  // message silently), so look for the journal's socket first.
  const bool journal = ::access("/run/systemd/journal/socket", W_OK) == 0;
  int sent = -1;
  if (journal)
    sent = sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=6", "BCN_SUBSYSTEM=%s", subsystem_.c_str(),
                           "BCN_CATEGORY=%s", category_.c_str(), "SYSLOG_IDENTIFIER=%s", subsystem_.c_str(), nullptr);
  if (sent >= 0) return;
  // No journal (a container, a test run): one line per message on stderr,
  // written with one call so lines from several threads do not interleave.
  std::string line = subsystem_ + "[" + category_ + "] " + text + "\n";
  [[maybe_unused]] auto written = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace bcn
