// ProcessIdentity: a process named so that pid reuse cannot be mistaken for
// it — pid, start time (clock ticks after boot, field 22 of
// /proc/<pid>/stat) and real user id. polkit identifies a subject process
// by the same triple.
//
// Plain value. The readers are thread-safe and never throw; anything
// unreadable or malformed gives nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/pidfd.h"

namespace bcn {

struct ProcessIdentity {
  std::int32_t pid = 0;
  std::uint64_t startTime = 0;
  std::uint32_t uid = 0;

  bool operator==(const ProcessIdentity&) const = default;
  auto operator<=>(const ProcessIdentity&) const = default;

  // The live process `pid`, read through a pidfd so that both files are
  // known to describe the same process: nothing when it does not exist,
  // exits while being read, or /proc refuses.
  static std::optional<ProcessIdentity> of(std::int32_t pid);
  static std::optional<ProcessIdentity> ofSelf();
};

// Field 22 of a /proc/<pid>/stat text. The command name (field 2) may hold
// spaces and parentheses, so fields are counted after its last ')'.
std::optional<std::uint64_t> parseStatStartTime(std::string_view stat);

// The real user id from the "Uid:" line of a /proc/<pid>/status text.
std::optional<std::uint32_t> parseStatusRealUID(std::string_view status);

}  // namespace bcn

template <>
struct std::hash<bcn::ProcessIdentity> {
  std::size_t operator()(const bcn::ProcessIdentity& p) const noexcept;
};
