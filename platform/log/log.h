// Log: the daemon's logger. Messages are plain info-level texts; callers
// render their arguments first (user ids as unsigned decimal, identifiers
// as text). SystemLog writes to the systemd journal, with the subsystem and
// category as fields, when systemd started the process with stderr
// connected to the journal ($JOURNAL_STREAM names stderr's device and
// inode); otherwise it writes one line per message to stderr, so whoever
// redirected stderr (a terminal, a test harness) reads the messages. The
// choice is made once, when the log is created.
// RecordingLog keeps the messages, for tests.
//
// Thread-safe: any thread may log at any time.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace bcn {

class Log {
 public:
  virtual ~Log() = default;
  virtual void info(std::string_view message) = 0;
};

class SystemLog final : public Log {
 public:
  // Journal fields: MESSAGE, PRIORITY=6 (info), BCN_SUBSYSTEM, BCN_CATEGORY,
  // and SYSLOG_IDENTIFIER = the subsystem.
  SystemLog(std::string subsystem, std::string category);
  void info(std::string_view message) override;

 private:
  std::string subsystem_;
  std::string category_;
  bool journal_;
};

class RecordingLog final : public Log {
 public:
  void info(std::string_view message) override {
    std::lock_guard guard(mutex_);
    messages_.emplace_back(message);
  }
  std::vector<std::string> messages() const {
    std::lock_guard guard(mutex_);
    return messages_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

}  // namespace bcn
