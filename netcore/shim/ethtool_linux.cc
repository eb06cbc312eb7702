#include "netcore/shim/ethtool_linux.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <array>
#include <cstring>
#include <limits>
#include <algorithm>

#include "netcore/c_string.h"
#include "netcore/shim/capabilities.h"

namespace bcn::shim {
namespace {

// Upper bounds that keep a confused or hostile answer from sizing our
// buffers: 32 words (1024 link modes) and 4096 feature names.
constexpr int kMaxMaskWords = 32;
constexpr std::uint32_t kMaxFeatures = 4096;

bool request(int socket, const char* name, void* data) {
  if (socket < 0 || name == nullptr) return false;
  ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
  ifr.ifr_data = static_cast<char*>(data);
  return ioctl(socket, SIOCETHTOOL, &ifr) == 0;
}

Port portOf(std::uint8_t port) {
  switch (port) {
    case PORT_TP: return Port::kTwistedPair;
    case PORT_AUI: return Port::kAui;
    case PORT_BNC: return Port::kBnc;
    case PORT_FIBRE: return Port::kFibre;
    case PORT_DA: return Port::kDirectAttach;
    default: return Port::kOther;
  }
}

// A zeroed request of `bytes` bytes, aligned for any ethtool structure,
// seen as the structure T that heads it (the rest is its trailing array).
// The per-device requests fit the inline words; only the feature-name
// table goes to the heap.
template <typename T>
class Request {
 public:
  explicit Request(std::size_t bytes) : words_((bytes + 7) / 8) {
    if (words_ > inline_.size()) heap_.assign(words_, 0);
    clear();
  }
  T* get() { return reinterpret_cast<T*>(heap_.empty() ? inline_.data() : heap_.data()); }
  T* operator->() { return get(); }
  void clear() { std::fill_n(heap_.empty() ? inline_.data() : heap_.data(), words_, 0); }

 private:
  std::size_t words_;
  std::array<std::uint64_t, 64> inline_;  // only the first words_ are used, and cleared
  std::vector<std::uint64_t> heap_;
};

}  // namespace

std::optional<LinkSettings> ethtoolLinkSettings(int socket, const char* name, int& maskWords) {
  // The settings are followed by three link-mode masks of maskWords each.
  Request<ethtool_link_settings> req(sizeof(ethtool_link_settings) + 3 * kMaxMaskWords * sizeof(std::uint32_t));
  for (int attempt = 0; attempt < 2; ++attempt) {
    req.clear();
    req->cmd = ETHTOOL_GLINKSETTINGS;
    req->link_mode_masks_nwords = static_cast<std::int8_t>(maskWords);
    if (!request(socket, name, req.get())) return std::nullopt;
    const int answered = req->link_mode_masks_nwords;
    // A negative count is the kernel's handshake: "ask again with -n words".
    if (answered < 0) {
      if (-answered > kMaxMaskWords || maskWords == -answered) return std::nullopt;
      maskWords = -answered;
      continue;
    }
    LinkSettings out;
    const std::uint32_t speed = req->speed;
    if (speed != 0 && speed != std::numeric_limits<std::uint32_t>::max()) out.speedMbps = speed;
    if (req->duplex == DUPLEX_FULL) out.duplex = Duplex::kFull;
    if (req->duplex == DUPLEX_HALF) out.duplex = Duplex::kHalf;
    out.port = portOf(req->port);
    out.autonegotiation = req->autoneg == AUTONEG_ENABLE;
    return out;
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint32_t>> ethtoolFeatureCapabilities(int socket, const char* name) {
  // One set asked for, so one count follows the header.
  Request<ethtool_sset_info> sset(sizeof(ethtool_sset_info) + sizeof(std::uint32_t));
  sset->cmd = ETHTOOL_GSSET_INFO;
  sset->sset_mask = 1ULL << ETH_SS_FEATURES;
  if (!request(socket, name, sset.get())) return std::nullopt;
  if ((sset->sset_mask & (1ULL << ETH_SS_FEATURES)) == 0) return std::nullopt;
  const std::uint32_t count = sset->data[0];
  if (count == 0 || count > kMaxFeatures) return std::nullopt;

  Request<ethtool_gstrings> strings(sizeof(ethtool_gstrings) + std::size_t{count} * ETH_GSTRING_LEN);
  strings->cmd = ETHTOOL_GSTRINGS;
  strings->string_set = ETH_SS_FEATURES;
  strings->len = count;
  if (!request(socket, name, strings.get())) return std::nullopt;
  const std::uint32_t returned = strings->len < count ? strings->len : count;

  std::vector<std::uint32_t> capabilities(count, 0);
  const auto* names = reinterpret_cast<const char*>(strings->data);
  for (std::uint32_t i = 0; i < returned; ++i) {
    const std::string feature =
        decodeCString(std::span<const char>(names + std::size_t{i} * ETH_GSTRING_LEN, ETH_GSTRING_LEN));
    capabilities[i] = capabilityForFeature(feature);
  }
  return capabilities;
}

std::optional<std::size_t> ethtoolActiveFeatures(int socket, const char* name, std::size_t featureCount,
                                                 std::span<std::uint32_t> active) {
  if (featureCount == 0 || featureCount > kMaxFeatures) return std::nullopt;
  const std::size_t words = (featureCount + 31) / 32;
  if (active.size() < words) return std::nullopt;
  Request<ethtool_gfeatures> features(sizeof(ethtool_gfeatures) + words * sizeof(ethtool_get_features_block));
  features->cmd = ETHTOOL_GFEATURES;
  features->size = static_cast<std::uint32_t>(words);
  if (!request(socket, name, features.get())) return std::nullopt;
  const std::size_t answered = features->size < words ? features->size : words;
  for (std::size_t i = 0; i < words; ++i) active[i] = i < answered ? features->features[i].active : 0;
  return words;
}

}  // namespace bcn::shim
