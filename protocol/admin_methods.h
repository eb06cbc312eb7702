// The daemon's two services written as data (see platform/ipc/method_table.h).
// The IPC layer checks incoming calls against these tables, and clients
// build calls from them, so the daemon and every client share one
// definition. Immutable static data; thread-safe.
#pragma once

#include "platform/ipc/method_table.h"

namespace bcn {

// Served on AdminConstants::appServiceName(); peer: the menu-bar app.
const ServiceProtocol& adminAppProtocol();
// Served on AdminConstants::controlServiceName(); peer: the admin console.
const ServiceProtocol& adminControlProtocol();

}  // namespace bcn
