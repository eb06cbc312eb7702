#include "tools/adminctl/adminctl_session.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <vector>

#include "platform/authorization/polkit_authorization.h"
#include "tools/beaconbar/cli_output.h"

namespace bcn::cli {
namespace {

// Longer lines are no command anyone typed; refusing them keeps an
// error message from echoing a megabyte back.
constexpr std::size_t kMaxLine = 1024;

std::vector<std::string> wordsOf(std::string_view line) {
  std::istringstream stream{std::string(line)};
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(std::move(word));
  return words;
}

}  // namespace

std::expected<SessionCommand, std::string> parseSessionLine(std::string_view line) {
  using Kind = SessionCommand::Kind;
  if (line.size() > kMaxLine) return std::unexpected("line longer than " + std::to_string(kMaxLine) + " bytes");
  const auto words = wordsOf(line);
  if (words.empty() || words[0].starts_with('#')) return SessionCommand{};
  const std::string& verb = words[0];
  const auto takes = [&](std::size_t arguments) -> std::expected<void, std::string> {
    if (words.size() == arguments + 1) return {};
    return std::unexpected(verb + (arguments ? " takes a request id" : " takes no arguments"));
  };
  if (verb == "pending" || verb == "unpair-all" || verb == "quit") {
    if (auto ok = takes(0); !ok) return std::unexpected(ok.error());
    return SessionCommand{verb == "pending" ? Kind::pending : verb == "quit" ? Kind::quit : Kind::unpairAll, {}};
  }
  if (verb == "approve" || verb == "deny") {
    if (auto ok = takes(1); !ok) return std::unexpected(ok.error());
    return SessionCommand{verb == "approve" ? Kind::approve : Kind::deny, words[1]};
  }
  return std::unexpected("unknown command '" + verb + "' (pending, approve ID, deny ID, unpair-all, quit)");
}

int runSession(ModelDriver& driver, const AdminctlOptions& options, std::istream& in) {
  using Kind = SessionCommand::Kind;
  int status = 0;
  for (std::string line; std::getline(in, line);) {
    const auto command = parseSessionLine(line);
    if (!command) {
      status = failAs("beaconbar-adminctl", command.error(), kExitFailure);
      continue;
    }
    int result = 0;
    switch (command->kind) {
      case Kind::skip: continue;
      case Kind::quit: return status;
      case Kind::pending: result = pendingWith(driver, options); break;
      case Kind::approve: result = approveWith(driver, options, command->requestID); break;
      case Kind::deny: result = denyWith(driver, options, command->requestID); break;
      case Kind::unpairAll: result = unpairAllWith(driver, options); break;
    }
    if (result != 0) status = kExitFailure;
    // Whoever feeds the session through a pipe waits for each answer.
    std::fflush(stdout);
  }
  return status;
}

int runSessionOnStandardInput(const AdminctlOptions& options) {
  const auto agent = terminalAgentFor(options);
  PolkitAuthorizationServices authorization;
  ModelDriver driver(authorization);
  if (::isatty(STDIN_FILENO)) {
    std::cerr << "One command per line: pending, approve ID, deny ID, unpair-all, quit.\n";
  }
  return runSession(driver, options, std::cin);
}

}  // namespace bcn::cli
