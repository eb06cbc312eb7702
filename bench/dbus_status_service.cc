#include "bench/dbus_status_service.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>

extern char** environ;

namespace bcn::bench {
namespace {

int status(sd_bus_message* message, void*, sd_bus_error*) {
  const char* token = nullptr;
  if (sd_bus_message_read(message, "s", &token) < 0) return -EINVAL;
  sd_bus_message* reply = nullptr;
  if (sd_bus_message_new_method_return(message, &reply) < 0) return -ENOMEM;
  sd_bus_message_open_container(reply, 'a', "{sv}");
  sd_bus_message_append(reply, "{sv}", "version", "s", "0.1.0");
  sd_bus_message_append(reply, "{sv}", "protocol", "x", int64_t{1});
  sd_bus_message_append(reply, "{sv}", "paired", "b", 0);
  sd_bus_message_close_container(reply);
  int r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r < 0 ? r : 1;
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Status", "s", "a{sv}", status, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

sd_bus* openBus(const std::string& address) {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return nullptr;
  sd_bus_set_address(bus, address.c_str());
  sd_bus_set_bus_client(bus, 1);
  if (sd_bus_start(bus) < 0) {
    sd_bus_unref(bus);
    return nullptr;
  }
  return bus;
}

// Starts a session dbus-daemon; its pid, and its address in `address`.
pid_t startDaemon(std::string& address) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  char a0[] = "dbus-daemon", a1[] = "--session", a2[] = "--nofork", a3[] = "--print-address";
  char* argv[] = {a0, a1, a2, a3, nullptr};
  pid_t pid = -1;
  const int r = ::posix_spawnp(&pid, "dbus-daemon", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (r != 0) {
    ::close(pipeFds[0]);
    return -1;
  }
  char c;
  while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') address.push_back(c);
  ::close(pipeFds[0]);
  return pid;
}

}  // namespace

std::unique_ptr<DbusStatusService> DbusStatusService::start() {
  std::unique_ptr<DbusStatusService> service(new DbusStatusService);
  service->daemon_ = startDaemon(service->address_);
  if (service->daemon_ < 0 || service->address_.empty()) return nullptr;
  service->service_ = openBus(service->address_);
  if (service->service_ == nullptr ||
      sd_bus_add_object_vtable(service->service_, nullptr, "/bench", "com.quillbank.Bench", kVtable, nullptr) < 0 ||
      sd_bus_request_name(service->service_, "com.quillbank.Bench", 0) < 0) {
    return nullptr;
  }
  service->thread_ = std::thread([s = service.get()] {
    while (!s->stopping_) {
      if (sd_bus_process(s->service_, nullptr) == 0) sd_bus_wait(s->service_, 50'000);
    }
  });
  return service;
}

DbusStatusService::~DbusStatusService() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (service_ != nullptr) sd_bus_flush_close_unref(service_);
  if (daemon_ > 0) {
    ::kill(daemon_, SIGTERM);
    ::waitpid(daemon_, nullptr, 0);
  }
}

std::unique_ptr<DbusStatusService::Caller> DbusStatusService::caller() const {
  sd_bus* bus = openBus(address_);
  return bus ? std::make_unique<Caller>(bus) : nullptr;
}

DbusStatusService::Caller::~Caller() { sd_bus_unref(bus_); }

bool DbusStatusService::Caller::call() {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const int r = sd_bus_call_method(bus_, "com.quillbank.Bench", "/bench", "com.quillbank.Bench", "Status", &error,
                                   &reply, "s", "");
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return r >= 0;
}

}  // namespace bcn::bench
