// The vocabulary shared by the daemon and its clients: constants and
// service names, errors, dictionary keys, digest comparison and the two
// method tables. Include this one header to speak the admin protocol.
#pragma once

#include "protocol/admin_constants.h"
#include "protocol/admin_error.h"
#include "protocol/admin_keys.h"
#include "protocol/admin_methods.h"
#include "protocol/admin_selectors.h"
#include "protocol/token_digest.h"
