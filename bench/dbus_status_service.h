// DbusStatusService: the anchor of the IPC benchmark, the status answer a
// Linux service would give over D-Bus: a private dbus-daemon started by this
// program, a single-threaded sd-bus service on it answering "Status" with
// the same three values as a{sv}, and callers with their own connections.
//
// The service runs on a thread of its own until the object is destroyed,
// which also stops the bus. Each Caller is used by one thread at a time.
#pragma once

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace bcn::bench {

class DbusStatusService {
 public:
  // Nothing when dbus-daemon cannot be started or the service not set up.
  static std::unique_ptr<DbusStatusService> start();
  ~DbusStatusService();
  DbusStatusService(const DbusStatusService&) = delete;
  DbusStatusService& operator=(const DbusStatusService&) = delete;

  class Caller {
   public:
    explicit Caller(sd_bus* bus) : bus_(bus) {}
    ~Caller();
    Caller(const Caller&) = delete;
    Caller& operator=(const Caller&) = delete;
    // One Status round trip; false when it failed.
    bool call();

   private:
    sd_bus* bus_;
  };
  // A new connection to the bus; nothing when it cannot connect.
  std::unique_ptr<Caller> caller() const;

 private:
  DbusStatusService() = default;
  pid_t daemon_ = -1;
  std::string address_;
  sd_bus* service_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace bcn::bench
