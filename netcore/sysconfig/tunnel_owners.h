// TunnelOwners: which process owns each tunnel interface, and the name a
// user would recognise it by.
//
// Stateless: every scan starts from nothing and reflects the process table
// at the moment of the call. No errors are reported: what cannot be read
// degrades to fewer owners or empty strings. Both functions may run on any
// thread, concurrently with each other.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "netcore/export.h"
#include "netcore/sysconfig/tunnel_owner.h"

namespace bcn {

class NETCORE_EXPORT TunnelOwners {
 public:
  TunnelOwners() = delete;

  // At most this many tunnel descriptors are considered per scan; findings
  // beyond them are dropped without notice.
  static constexpr std::int32_t kMaxFindings = 512;

  // Interface name -> owner, for every tunnel descriptor held by a process
  // the caller may inspect. When several processes (or several descriptors
  // of one process) hold the same tunnel, the one found last wins: the
  // later process in process-table order, or the later descriptor. An
  // owner whose executable path is unreadable is still listed, with empty
  // path and name. Empty when there are no tunnels.
  static std::map<std::string, TunnelOwner> scan();
  // The same over the process table mounted at `procRoot` (a second proc
  // mount, or a directory laid out like one).
  static std::map<std::string, TunnelOwner> scan(const std::filesystem::path& procRoot);

  // The program name to show for an executable path: the file name for
  // operating-system programs (under /System/, /usr/, /Library/Apple/,
  // /lib/, /lib64/); otherwise the display name (CFBundleDisplayName, then
  // CFBundleName) of the enclosing bundle — the outermost .app, or failing
  // that the innermost .appex, .systemextension or .xpc — and the bundle's
  // directory name without extension when its Info.plist says nothing
  // usable; the file name when no bundle encloses the path. Empty for the
  // empty path. Reads the bundle's Info.plist.
  static std::string displayName(std::string_view path);
};

}  // namespace bcn
