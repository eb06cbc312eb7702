// beaconbar-adminctl's `session` command: reads one command per line
// (pending, approve ID, deny ID, unpair-all, quit) and runs them all on one
// console model, as the console's window does. The authorization the model
// obtains for the first approval is the one polkit may keep for a while
// (auth_admin_keep), so the approvals after it do not ask the
// administrator again. A failing command prints its error line and the
// session goes on; blank lines and lines starting with '#' are skipped.
//
// parseSessionLine is pure and thread-safe. runSession runs on the thread
// of the QCoreApplication, as ModelDriver requires.
#pragma once

#include <expected>
#include <istream>
#include <string>
#include <string_view>

#include "tools/adminctl/adminctl_commands.h"
#include "tools/adminctl/model_driver.h"

namespace bcn::cli {

struct SessionCommand {
  enum class Kind { skip, pending, approve, deny, unpairAll, quit };
  Kind kind = Kind::skip;
  std::string requestID;  // approve and deny only
};

// The command on one line, or why the line is not one.
std::expected<SessionCommand, std::string> parseSessionLine(std::string_view line);

// Runs the commands read from `in` until its end or `quit`. Returns 0 when
// every command succeeded, 1 otherwise.
int runSession(ModelDriver& driver, const AdminctlOptions& options, std::istream& in);

// The session over standard input, with the terminal agent of `options`.
int runSessionOnStandardInput(const AdminctlOptions& options);

}  // namespace bcn::cli
