// The installed beaconbar-admin.service, as configured for this build: how
// tightly systemd confines the daemon, and that the confinement still lets
// it write every file it keeps.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "daemon/pairing_store.h"
#include "platform/netprefs/network_preferences.h"
#include "platform/subprocess.h"
#include "platform/testing/test_support.h"

namespace bcn {
namespace {

namespace fs = std::filesystem;

// The worst exposure systemd-analyze may rate the unit: a root daemon that
// must reach the host's links and every process cannot do much better.
constexpr double kMaxExposure = 2.5;

// Every value of each key in the [Service] section, split at spaces (the
// directory and path settings are space-separated lists).
std::map<std::string, std::vector<std::string>> serviceSettings(const fs::path& unit) {
  std::map<std::string, std::vector<std::string>> settings;
  std::istringstream text(testing::readText(unit));
  std::string line;
  bool inService = false;
  while (std::getline(text, line)) {
    if (line.starts_with("[")) inService = line == "[Service]";
    const auto equals = line.find('=');
    if (!inService || line.starts_with("#") || equals == std::string::npos) continue;
    std::istringstream values(line.substr(equals + 1));
    auto& slot = settings[line.substr(0, equals)];
    for (std::string value; values >> value;) slot.push_back(value);
  }
  return settings;
}

std::optional<std::string> findProgram(const std::string& name) {
  const char* path = ::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (::access((fs::path(dir) / name).c_str(), X_OK) == 0) return (fs::path(dir) / name).string();
  }
  return std::nullopt;
}

bool within(const fs::path& path, const fs::path& directory) {
  const auto relative = path.lexically_normal().lexically_relative(directory.lexically_normal());
  return !relative.empty() && *relative.begin() != "..";
}

// Restores the variables systemd sets, so the defaults a daemon started by
// hand would use are what the test sees.
class WithoutDirectoryEnvironment {
 public:
  WithoutDirectoryEnvironment() {
    for (const char* name : kNames) {
      if (const char* value = ::getenv(name)) saved_[name] = value;
      ::unsetenv(name);
    }
  }
  ~WithoutDirectoryEnvironment() {
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  static constexpr const char* kNames[] = {"STATE_DIRECTORY", "CONFIGURATION_DIRECTORY", "RUNTIME_DIRECTORY"};
  std::map<std::string, std::string> saved_;
};

TEST(ServiceUnit, SystemdRatesItsExposureAtMostTwoAndAHalf) {
  const auto analyze = findProgram("systemd-analyze");
  if (!analyze) GTEST_SKIP() << "systemd-analyze is not installed";
  auto result = runProcess({*analyze, "security", "--offline=true", "--no-pager", BCN_SERVICE_UNIT});
  ASSERT_TRUE(result) << result.error().description;
  if (result->standardError.find("--offline") != std::string::npos) {
    GTEST_SKIP() << "this systemd-analyze cannot rate a unit file offline: " << result->standardError;
  }
  std::smatch match;
  ASSERT_TRUE(std::regex_search(result->standardOutput, match,
                                std::regex("Overall exposure level for [^:]+: ([0-9]+\\.[0-9])")))
      << result->standardOutput << result->standardError;
  EXPECT_LE(std::stod(match[1]), kMaxExposure) << result->standardOutput;
}

TEST(ServiceUnit, EveryFileTheDaemonWritesIsWritableInsideItsSandbox) {
  const auto settings = serviceSettings(BCN_SERVICE_UNIT);
  ASSERT_TRUE(settings.contains("ProtectSystem")) << "the unit no longer confines the file system";
  ASSERT_EQ(settings.at("ProtectSystem"), std::vector<std::string>{"strict"});

  // What systemd leaves writable: the listed paths and the directories it
  // makes for the service.
  std::vector<fs::path> writable;
  const std::pair<const char*, fs::path> made[] = {
      {"StateDirectory", "/var/lib"}, {"ConfigurationDirectory", "/etc"}, {"RuntimeDirectory", "/run"}};
  for (const auto& [key, base] : made) {
    if (settings.contains(key)) {
      for (const auto& name : settings.at(key)) writable.push_back(base / name);
    }
  }
  if (settings.contains("ReadWritePaths")) {
    for (const auto& path : settings.at("ReadWritePaths"))
      writable.push_back(path.starts_with("-") ? path.substr(1) : path);
  }

  WithoutDirectoryEnvironment defaults;
  const auto preferences = netprefs::PreferencesLocation::systemDefault();
  const std::pair<const char*, fs::path> written[] = {
      {"pairing file", PairingStore::defaultDirectory() / PairingStore::kFileName},
      {"network preferences", preferences.file},
      {"preferences lock", preferences.lockFile},
  };
  for (const auto& [what, path] : written) {
    bool covered = false;
    for (const auto& directory : writable) covered = covered || within(path, directory);
    EXPECT_TRUE(covered) << "the " << what << " " << path << " is read-only inside the daemon's sandbox";
  }
}

}  // namespace
}  // namespace bcn
