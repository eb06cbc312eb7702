#include "platform/authorization/authorization.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace bcn {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic{'B', 'C', 'N', 'A'};

template <typename T>
void putLE(std::uint8_t* at, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i)
    at[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
}

template <typename T>
T getLE(const std::uint8_t* at) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
  return static_cast<T>(value);
}

}  // namespace

Authorization::Authorization(ProcessIdentity subject, AuthorizationNonce nonce, int pidfd)
    : subject_(subject), nonce_(nonce), pidfd_(pidfd) {}

Authorization::~Authorization() {
  if (pidfd_ >= 0) ::close(pidfd_);
}

bool Authorization::subjectExited() const { return pidfd_ >= 0 && pidfdExited(pidfd_); }

AuthorizationExternalForm encodeAuthorizationExternalForm(const ProcessIdentity& subject,
                                                          const AuthorizationNonce& nonce) {
  AuthorizationExternalForm form{};
  std::copy(kMagic.begin(), kMagic.end(), form.begin());
  putLE<std::int32_t>(&form[4], subject.pid);
  putLE<std::uint64_t>(&form[8], subject.startTime);
  putLE<std::uint32_t>(&form[16], subject.uid);
  std::copy(nonce.begin(), nonce.end(), form.begin() + 20);
  return form;
}

std::optional<DecodedExternalForm> decodeAuthorizationExternalForm(const AuthorizationExternalForm& form) {
  if (!std::equal(kMagic.begin(), kMagic.end(), form.begin())) return std::nullopt;
  DecodedExternalForm decoded;
  decoded.subject.pid = getLE<std::int32_t>(&form[4]);
  decoded.subject.startTime = getLE<std::uint64_t>(&form[8]);
  decoded.subject.uid = getLE<std::uint32_t>(&form[16]);
  std::copy(form.begin() + 20, form.end(), decoded.nonce.begin());
  if (decoded.subject.pid <= 0) return std::nullopt;
  return decoded;
}

}  // namespace bcn
