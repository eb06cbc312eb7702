// The /proc texts read about other processes, which those processes partly
// control (a command name may hold any bytes but NUL and '/'): the "iff:"
// line of an fdinfo file, a tunnel's interface name, and the start time
// and real uid from stat and status. Each parser sees the same input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "netcore/shim/proc_fdinfo.h"
#include "platform/authorization/process_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (const auto name = bcn::tunInterfaceFromFdinfo(text)) {
    // A view into the input of a name the kernel could have given.
    if (name->data() < text.data() || name->data() + name->size() > text.data() + text.size()) std::abort();
    if (name->empty() || name->size() > bcn::kMaxInterfaceNameLength) std::abort();
    if (name->find_first_of(std::string_view("/: \t\n\v\f\r\0", 10)) != std::string_view::npos) std::abort();
  }

  // A unit maps back to exactly the name it came from.
  if (const std::uint32_t unit = bcn::tunnelUnitFromName(text); unit != 0) {
    if ("utun" + std::to_string(unit - 1) != text) std::abort();
  }

  (void)bcn::parseStatStartTime(text);
  (void)bcn::parseStatusRealUID(text);
  return 0;
}
