// SystemConfigurationReader: one picture of the machine's network
// configuration — interfaces with their names, types and hardware
// addresses; the current set's services in the user's order (hidden ones
// last), then the transient services only the dynamic store knows; tunnel
// names for services without an interface of their own; and the primary
// IPv4 and IPv6 interfaces.
//
// Stateless; read() may run on any thread, also concurrently, and blocks
// while the kernel and the preferences file are read. It never fails:
// missing or malformed pieces are left out or fall back to defaults.
#pragma once

#include "netcore/export.h"
#include "netcore/sysconfig/network_metadata.h"
#include "netcore/sysconfig/system_configuration_source.h"

namespace bcn {

class NETCORE_EXPORT SystemConfigurationReader {
 public:
  SystemConfigurationReader() = delete;

  // The client name the reader opens its preferences and store under.
  static constexpr std::string_view kClientName = "Beaconbar";

  // Over the machine's configuration at the default preferences location.
  static NetworkMetadata read();
  static NetworkMetadata read(SystemConfigurationSource& source);
};

}  // namespace bcn
