#include "netcore/version.h"

namespace bcn {

const char* netcoreVersion() noexcept { return NETCORE_VERSION_STRING; }

}  // namespace bcn
