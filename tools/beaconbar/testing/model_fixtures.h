// Fixed model values for the formatting tests: interfaces, tunnel owners,
// samples and histories as the library would produce them, independent of
// the machine the tests run on. Test-only code.
#pragma once

#include "netcore/history/rate_history.h"
#include "netcore/interfaces/interface_snapshot.h"
#include "netcore/sysconfig/network_metadata.h"

namespace bcn::cli::testing {

// en0: up, broadcast, running, multicast, Ethernet at 1 Gbps with full
// duplex, options, one IPv4 and two IPv6 addresses (link-local with its
// own scope, a global autoconf secured one), ND6 flags, counters.
InterfaceSnapshot ethernet();
// lo: loopback with an all-zero hardware address, 127.0.0.1/8 and ::1.
InterfaceSnapshot loopback();
// utun3: point-to-point tunnel with a peer address and no hardware address.
InterfaceSnapshot tunnel();
// en5: administratively down, media inactive, no addresses.
InterfaceSnapshot downInterface();

// Three services as the reader orders them: Ethernet on en0 (enabled,
// primary for IPv4 and IPv6), Wi-Fi on en1 (disabled), and a hidden VPN on
// utun3 last; the primary interfaces are en0 and en0.
NetworkMetadata configuration();

// A history with one 10-second sample of 5000 bytes in and 1000 out ending
// at `end`, with the tool's retention.
RateHistory historyWithSample(double end);

}  // namespace bcn::cli::testing
