// Bytes from a connected peer, as the daemon's IPC layer reads them: split
// into frames at arbitrary points, each payload decoded as a call and
// checked against both services' method tables. A call that passes the
// check must fit its method exactly, and re-encoding it must give a frame
// that decodes to the same call.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/ipc/frame.h"
#include "platform/ipc/message.h"
#include "protocol/admin_methods.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bcn;
  if (size == 0) return 0;
  // The first byte picks how the stream is cut into reads.
  const std::size_t chunk = 1 + data[0] % 64;
  ipc::FrameReader reader;
  for (std::size_t at = 1; at < size; at += chunk) {
    reader.append(std::span<const std::uint8_t>(data + at, std::min(chunk, size - at)));
    for (;;) {
      auto next = reader.next();
      if (!next || !*next) break;
      auto call = ipc::decodeCall(**next);
      if (!call) continue;
      for (const ServiceProtocol* protocol : {&adminAppProtocol(), &adminControlProtocol()}) {
        const MethodSpec* method = ipc::checkCall(*protocol, *call);
        if (method == nullptr) continue;
        for (const WireSlot& slot : method->arguments) {
          if (!slot.accepts(call->arguments.find(slot.name))) std::abort();
        }
      }
      if (auto frame = ipc::callFrame(*call)) {
        auto again = ipc::decodeCall(std::span<const std::uint8_t>(*frame).subspan(4));
        if (!again || !(*again == *call)) std::abort();
      }
    }
  }
  return 0;
}
