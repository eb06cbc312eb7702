#include "daemon/e2e/daemon_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/ipc/service_socket.h"
#include "platform/plist.h"
#include "protocol/admin_constants.h"

extern char** environ;

namespace bcn::testing {
namespace {

using namespace std::chrono_literals;

const char* roleFile(DaemonHarness::Role role) {
  switch (role) {
    case DaemonHarness::Role::app:
      return "app-client";
    case DaemonHarness::Role::console:
      return "console-client";
    case DaemonHarness::Role::stranger:
      return "stranger-client";
    case DaemonHarness::Role::impostor:
      return "impostor-client";
  }
  return "";
}

pid_t spawn(const std::vector<std::string>& argv, const std::filesystem::path& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : 0;
}

}  // namespace

DaemonHarness::DaemonHarness() {
  // Clients run as other users: they must reach their copies and sockets.
  ::chmod(dir_.path().c_str(), 0755);
  std::filesystem::create_directory(dir_ / "run");
  std::filesystem::create_directory(dir_ / "conf");
  ::setenv("STATE_DIRECTORY", stateDirectory().c_str(), 1);
  ::setenv("RUNTIME_DIRECTORY", (dir_ / "run").c_str(), 1);
  ::setenv("CONFIGURATION_DIRECTORY", configurationDirectory().c_str(), 1);
  for (Role role : {Role::app, Role::console, Role::stranger, Role::impostor}) {
    std::filesystem::copy_file(BCN_E2E_CLIENT, clientPath(role));
    ::chmod(clientPath(role).c_str(), 0755);
  }
  record(clientPath(Role::app), AdminConstants::appBundleID);
  record(clientPath(Role::console), AdminConstants::adminAppBundleID);
  record(clientPath(Role::impostor), "com.example.Impostor");
  writeRegistry();
}

DaemonHarness::~DaemonHarness() {
  // A daemon that crashed, or a sanitizer report in its log, fails the test
  // even when every client got its answer.
  const bool wasRunning = running();
  if (!stop() && wasRunning) ADD_FAILURE() << "the daemon did not end cleanly on SIGTERM:\n" << log();
  const std::string text = log();
  if (text.find("Sanitizer") != std::string::npos || text.find("runtime error") != std::string::npos) {
    ADD_FAILURE() << "sanitizer report from the daemon:\n" << text;
  }
}

std::filesystem::path DaemonHarness::clientPath(Role role) const { return dir_ / roleFile(role); }

void DaemonHarness::record(const std::filesystem::path& program, std::string_view identifier) {
  const std::string team = std::string(BCN_DAEMON_TEAM_ID).empty() ? std::string(AdminConstants::fallbackTeamID)
                                                                   : std::string(BCN_DAEMON_TEAM_ID);
  auto bytes = files::readFile(program, 512u << 20).value();
  registry_.record({program.string(), crypto::sha256(bytes),
                    CodeIdentity{std::string(identifier), team, CertificateKind::developerID}});
}

void DaemonHarness::writeRegistry() {
  files::writeFileAtomically(configurationDirectory() / CodeIdentityRegistry::kFileName,
                             encodeRegistry(registry_).value(), 0644)
      .value();
}

std::filesystem::path DaemonHarness::addProgram(const std::filesystem::path& program, std::string_view identifier) {
  const auto directory = dir_ / "programs";
  std::filesystem::create_directories(directory);
  ::chmod(directory.c_str(), 0755);
  const auto copy = directory / program.filename();
  std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing);
  ::chmod(copy.c_str(), 0755);
  record(copy, identifier);
  writeRegistry();
  return copy;
}

bool DaemonHarness::start(bool activated) {
  std::vector<std::string> argv;
  const auto appSocket = ipc::servicePath(AdminConstants::appServiceName());
  const auto controlSocket = ipc::servicePath(AdminConstants::controlServiceName());
  if (activated) {
    argv = {"systemd-socket-activate",
            "-l",
            appSocket.string(),
            "-l",
            controlSocket.string(),
            "--fdname=" + AdminConstants::appServiceName() + ":" + AdminConstants::controlServiceName(),
            "-E",
            "STATE_DIRECTORY",
            "-E",
            "RUNTIME_DIRECTORY",
            "-E",
            "CONFIGURATION_DIRECTORY"};
  }
  argv.push_back(BCN_ADMIND);
  // A stopped daemon leaves its socket files behind; without removing them
  // a restart would look ready before the new daemon listens. Only sockets:
  // a link a test planted there is the daemon's to refuse.
  for (const auto& path : {appSocket, controlSocket}) {
    std::error_code ignored;
    if (std::filesystem::symlink_status(path, ignored).type() == std::filesystem::file_type::socket) {
      std::filesystem::remove(path, ignored);
    }
  }
  pid_ = spawn(argv, logFile());
  if (pid_ <= 0) return false;
  for (int i = 0; i < 200; ++i) {
    if (std::filesystem::exists(appSocket) && std::filesystem::exists(controlSocket)) return true;
    std::this_thread::sleep_for(25ms);
  }
  return false;
}

bool DaemonHarness::stop() {
  if (pid_ <= 0) return true;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::this_thread::sleep_for(25ms);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = 0;
  return false;
}

std::filesystem::path DaemonHarness::install(const std::filesystem::path& program, Role role, const std::string& name) {
  const auto copy = dir_ / name;
  std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing);
  ::chmod(copy.c_str(), 0755);
  if (role != Role::stranger) {
    record(copy, role == Role::app       ? AdminConstants::appBundleID
                 : role == Role::console ? AdminConstants::adminAppBundleID
                                         : std::string_view("com.example.Impostor"));
    writeRegistry();
  }
  return copy;
}

ProcessResult DaemonHarness::runProgram(const std::filesystem::path& program, const std::string& user,
                                        const std::vector<std::string>& args,
                                        const std::vector<std::string>& environment,
                                        std::chrono::milliseconds timeout) const {
  return runProcess(commandAs(user, program, args, environment), {.timeout = timeout}).value_or(ProcessResult{});
}

std::vector<std::string> DaemonHarness::commandAs(const std::string& user, const std::filesystem::path& program,
                                                  const std::vector<std::string>& args,
                                                  const std::vector<std::string>& environment) {
  std::vector<std::string> argv;
  if (user != "root") {
    const passwd* account = ::getpwnam(user.c_str());
    const std::string gid = account ? std::to_string(account->pw_gid) : user;
    argv = {"setpriv", "--reuid=" + user, "--regid=" + gid, "--clear-groups"};
  }
  if (!environment.empty()) {
    argv.push_back("env");
    argv.insert(argv.end(), environment.begin(), environment.end());
  }
  argv.push_back(program.string());
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

ProcessResult DaemonHarness::run(Role role, const std::string& user, const std::vector<std::string>& args,
                                 std::chrono::milliseconds timeout) const {
  return runProgram(clientPath(role), user, args, {}, timeout);
}

void DaemonHarness::writeServicePreferences(const std::string& serviceID, const std::string& name,
                                            const std::string& device) const {
  const PlistDictionary entity{{"DeviceName", device}, {"Type", "Ethernet"}};
  const PlistDictionary link{{"__LINK__", "/NetworkServices/" + serviceID}};
  const PlistDictionary set{{"Network", PlistDictionary{{"Service", PlistDictionary{{serviceID, link}}}}}};
  const PlistDictionary document{
      {"CurrentSet", "/Sets/S"},
      {"Sets", PlistDictionary{{"S", set}}},
      {"NetworkServices",
       PlistDictionary{{serviceID, PlistDictionary{{"UserDefinedName", name}, {"Interface", entity}}}}}};
  writeText(configurationDirectory() / "network-preferences.plist", encodeXmlPlist(document).value());
}

std::string DaemonHarness::field(const ProcessResult& result, const std::string& key) {
  const std::string text = "\n" + result.standardOutput;
  auto at = text.find("\n" + key + "=");
  if (at == std::string::npos) return "";
  at += key.size() + 2;
  return text.substr(at, text.find('\n', at) - at);
}

std::string DaemonHarness::log() const {
  return std::filesystem::exists(logFile()) ? readText(logFile()) : std::string();
}

}  // namespace bcn::testing
