// PlatformError: the one error value that crosses every boundary of the
// system, and later the IPC wire: a domain, an integer code and a localized
// description. AdminError, file-system errors and library failures are all
// turned into this shape before they leave the module that produced them.
//
// Plain value; safe to copy between threads.
#pragma once

#include <cstdint>
#include <string>

#include "netcore/export.h"

namespace bcn {

struct NETCORE_EXPORT PlatformError {
  std::string domain;
  std::int64_t code = 0;
  std::string description;

  bool operator==(const PlatformError&) const = default;

  // Domains used by the platform layer itself.
  static constexpr const char* kPosixDomain = "NSPOSIXErrorDomain";
  static constexpr const char* kCocoaDomain = "NSCocoaErrorDomain";

  // A failed system call: domain NSPOSIXErrorDomain, code = errno, and a
  // description naming what was attempted ("open /x/y: Permission denied").
  static PlatformError fromErrno(int error, const std::string& what);

  // The generic "could not save" error (Cocoa domain, code 512), reported
  // when no more specific cause exists, e.g. the random generator failed.
  static PlatformError fileWriteUnknown();

  // A malformed input that some decoder refused (Cocoa domain, code 3840,
  // the property-list reading error), with a description of the fault.
  static PlatformError corruptData(const std::string& what);
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::PlatformError> {
  std::size_t operator()(const bcn::PlatformError& e) const noexcept;
};
