#include "admin-app/helper_uninstaller.h"

#include <string_view>

#include "platform/subprocess.h"

#ifndef BCN_UNINSTALL_SCRIPT
#define BCN_UNINSTALL_SCRIPT "/usr/libexec/beaconbar-admin/uninstall.sh"
#endif

namespace bcn {
namespace {

std::string trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(kSpace) - first + 1));
}

}  // namespace

const char* uninstallScriptPath() { return BCN_UNINSTALL_SCRIPT; }

UninstallCommand defaultUninstallCommand() { return {{"pkexec", "/bin/sh", uninstallScriptPath()}}; }

std::expected<void, std::string> runUninstall(const UninstallCommand& command) {
  // Enough for any message a person would read in the window.
  constexpr std::size_t kMaxErrorText = 4096;
  auto result = runProcess(command.argv, {.timeout = command.timeout, .maxOutputBytes = kMaxErrorText});
  if (!result) return std::unexpected(result.error().description);
  if (result->exited() && result->exitCode == 0) return {};
  return std::unexpected(trimmed(result->standardError));
}

}  // namespace bcn
