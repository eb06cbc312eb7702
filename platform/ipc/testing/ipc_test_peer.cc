// A peer process for the IPC tests: connects to the socket named by its
// first argument and acts as told by the second.
//   status   call statusWithToken:reply: without a token; print "paired=<0|1>"
//   hold     send awaitPairingWithRequestID:reply: and wait to be killed
//            (prints "held" once the call is on its way)
// Exit status: 0 on success, 2 when the connection or call failed (the
// error is printed), 64 for bad usage.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/ipc/client.h"

int main(int argc, char** argv) {
  if (argc != 3) return 64;
  const std::string mode = argv[2];
  auto client = bcn::ipc::Client::connect(argv[1]);
  if (!client) {
    std::printf("error: %s\n", client.error().description.c_str());
    return 2;
  }
  if (mode == "status") {
    auto reply = (*client)->callSync("statusWithToken:reply:", {}, std::chrono::seconds(10));
    if (!reply || reply->error) {
      std::printf("error: %s\n", reply ? reply->error->description.c_str() : reply.error().description.c_str());
      return 2;
    }
    const bcn::PlistValue* status = reply->values.find("status");
    const bcn::PlistValue* paired = status && status->dictionary() ? status->dictionary()->find("paired") : nullptr;
    std::printf("paired=%d\n", paired && paired->boolean().value_or(false) ? 1 : 0);
    return 0;
  }
  if (mode == "hold") {
    (*client)->call("awaitPairingWithRequestID:reply:", {{"requestID", "R"}}, [](auto) {});
    std::printf("held\n");
    std::fflush(stdout);
    for (;;) ::pause();
  }
  return 64;
}
