// ServiceClient: an IPC client bound to one method table, the common part
// of the typed clients. It checks each reply against the method's reply
// slots (a reply of the wrong shape becomes replyInvalid()) and hands it to
// a decoder that makes the typed result.
//
// Thread-safety and completion rules are those of ipc::Client: completions
// run once each, on the client's I/O thread; synchronous calls must not be
// made from a completion.
#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/ipc/client.h"
#include "protocol/admin_methods.h"

namespace bcn {

inline constexpr std::chrono::milliseconds kDefaultCallTimeout{10'000};

template <typename T>
using Completion = std::function<void(std::expected<T, PlatformError>)>;

class ServiceClient {
 public:
  ServiceClient(std::unique_ptr<ipc::Client> client, const ServiceProtocol& protocol)
      : client_(std::move(client)), protocol_(&protocol) {}

  template <typename T>
  using Decoder = std::expected<T, PlatformError> (*)(const ipc::Client::Result&);

  template <typename T>
  void call(std::string_view selector, PlistDictionary arguments, Decoder<T> decode, Completion<T> done) {
    const MethodSpec* method = protocol_->find(selector);
    client_->call(selector, std::move(arguments), [method, decode, done = std::move(done)](ipc::Client::Result r) {
      if (done) done(decode(checked(method, std::move(r))));
    });
  }

  template <typename T>
  std::expected<T, PlatformError> callSync(std::string_view selector, PlistDictionary arguments, Decoder<T> decode,
                                           std::chrono::milliseconds timeout) {
    return decode(checked(protocol_->find(selector), client_->callSync(selector, std::move(arguments), timeout)));
  }

  ipc::Client& connection() { return *client_; }

 private:
  static ipc::Client::Result checked(const MethodSpec* method, ipc::Client::Result result) {
    if (result && (method == nullptr || !ipc::replyFits(*method, *result))) {
      return std::unexpected(ipc::replyInvalid());
    }
    return result;
  }

  std::unique_ptr<ipc::Client> client_;
  const ServiceProtocol* protocol_;
};

}  // namespace bcn
