#include "netcore/sysconfig/pin_matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace bcn {
namespace {

using Result = std::optional<InterfaceFingerprint>;
using std::nullopt;

InterfaceFingerprint fp(std::string key, std::string name, std::optional<std::string> title = nullopt,
                        std::optional<std::string> address = nullopt, bool permanent = false) {
  return {std::move(key), std::move(name), std::move(title), std::move(address), permanent};
}

std::vector<Result> resolve(const std::vector<InterfaceFingerprint>& pins,
                            const std::vector<InterfaceFingerprint>& live) {
  return PinMatcher::resolve(pins, live);
}

TEST(PinMatcherExact, TakesTheFirstLiveFingerprintWithThePinsKey) {
  const std::vector live = {fp("a", "other", "T", "1.1.1.1"), fp("a", "second"), fp("b", "en0")};
  EXPECT_EQ(resolve({fp("a", "en0", "Wi-Fi", "9.9.9.9")}, live), std::vector<Result>{live[0]});
  // Pins sharing a key share the live interface.
  EXPECT_EQ(resolve({fp("a", "x"), fp("a", "y")}, live), (std::vector<Result>{live[0], live[0]}));
  // Exact matching also reaches firm identities.
  const std::vector firm = {fp("p", "en5", nullopt, "aa", true)};
  EXPECT_EQ(resolve({fp("p", "anything")}, firm), std::vector<Result>{firm[0]});
}

TEST(PinMatcherPermanent, AFirmPinIsMatchedByItsKeyOnly) {
  const std::vector live = {fp("new", "en0", "Wi-Fi", "aa:bb")};
  EXPECT_EQ(resolve({fp("old", "en0", "Wi-Fi", "aa:bb", true)}, live), std::vector<Result>{nullopt});
}

TEST(PinMatcherPermanent, AFirmLiveInterfaceIsNeverTakenOver) {
  const std::vector live = {fp("firm", "en0", "Wi-Fi", "aa:bb", true), fp("loose", "en0")};
  EXPECT_EQ(resolve({fp("gone", "en0", nullopt, "aa:bb")}, live), std::vector<Result>{live[1]});
  EXPECT_EQ(resolve({fp("gone", "en0", "Wi-Fi")}, {live[0]}), std::vector<Result>{nullopt});
}

TEST(PinMatcherClaims, AnInterfaceSomePinNamesIsKeptForThatPin) {
  const std::vector live = {fp("b", "en0")};
  // The owning pin comes later, yet the earlier pin may not take it.
  EXPECT_EQ(resolve({fp("a", "en0"), fp("b", "whatever")}, live), (std::vector<Result>{nullopt, live[0]}));
}

TEST(PinMatcherClaims, TheEarlierPinWinsAndTheLaterTriesTheRest) {
  const std::vector live = {fp("x", "en0"), fp("y", "en0")};
  EXPECT_EQ(resolve({fp("a", "en0"), fp("b", "en0"), fp("c", "en0")}, live),
            (std::vector<Result>{live[0], live[1], nullopt}));
}

TEST(PinMatcherFallback, AddressComesFirstThenName) {
  const std::vector live = {fp("x", "en0", nullopt, "10.0.0.1"), fp("y", "en1"), fp("z", "en2", nullopt, "10.0.0.2")};
  EXPECT_EQ(resolve({fp("p", "en0", nullopt, "10.0.0.2")}, live), std::vector<Result>{live[2]});
  // No candidate shares the address and the pin has no title: its name decides.
  EXPECT_EQ(resolve({fp("p", "en1", nullopt, "10.9.9.9")}, live), std::vector<Result>{live[1]});
  EXPECT_EQ(resolve({fp("p", "en7", nullopt, "10.9.9.9")}, live), std::vector<Result>{nullopt});
  // Candidates without an address never match by address.
  EXPECT_EQ(resolve({fp("p", "en9", nullopt, "")}, {fp("y", "en1")}), std::vector<Result>{nullopt});
}

TEST(PinMatcherFallback, ATitleSharedByExactlyOneCandidateWinsWhateverItsName) {
  const std::vector live = {fp("x", "en0", "Ethernet"), fp("y", "en1", "Wi-Fi")};
  EXPECT_EQ(resolve({fp("p", "en0", "Wi-Fi")}, live), std::vector<Result>{live[1]});
}

TEST(PinMatcherFallback, ASharedTitleNeedsTheNameToo) {
  const std::vector live = {fp("x", "en0", "Dock"), fp("y", "en1", "Dock"), fp("z", "en2", "Dock")};
  EXPECT_EQ(resolve({fp("p", "en2", "Dock")}, live), std::vector<Result>{live[2]});
  EXPECT_EQ(resolve({fp("p", "en3", "Dock")}, {live[0], live[1]}), std::vector<Result>{nullopt});
}

TEST(PinMatcherFallback, AnUnsharedTitleMatchesNothingEvenByName) {
  const std::vector live = {fp("x", "en0", "Ethernet"), fp("y", "en0")};
  EXPECT_EQ(resolve({fp("p", "en0", "Wi-Fi")}, live), std::vector<Result>{nullopt});
}

TEST(PinMatcherFallback, ComparisonsAreExactAndCaseSensitive) {
  const std::vector live = {fp("x", "EN0", "wi-fi", "AA:BB")};
  EXPECT_EQ(resolve({fp("X", "en0", nullopt, "aa:bb")}, live), std::vector<Result>{nullopt});
  EXPECT_EQ(resolve({fp("X", "en0", "Wi-Fi")}, live), std::vector<Result>{nullopt});
}

TEST(PinMatcherShapes, OneResultPerPin) {
  EXPECT_TRUE(resolve({}, {fp("a", "en0")}).empty());
  EXPECT_EQ(resolve({fp("a", "en0"), fp("b", "en1", "T", "x", true)}, {}), (std::vector<Result>{nullopt, nullopt}));
}

// Small vocabularies so that keys, names, titles and addresses collide often.
InterfaceFingerprint randomFingerprint(std::mt19937& random) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto maybe = [&](const char* prefix) -> std::optional<std::string> {
    if (pick(3) == 0) return nullopt;
    return prefix + std::to_string(pick(3));
  };
  return fp("k" + std::to_string(pick(8)), "n" + std::to_string(pick(4)), maybe("t"), maybe("a"), pick(4) == 0);
}

TEST(PinMatcherProperties, HoldForRandomPinsAndInterfaces) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 5000; ++round) {
    std::vector<InterfaceFingerprint> pins(random() % 7), live(random() % 7);
    for (auto& pin : pins) pin = randomFingerprint(random);
    for (auto& fingerprint : live) fingerprint = randomFingerprint(random);
    const std::vector<Result> results = resolve(pins, live);
    ASSERT_EQ(results.size(), pins.size());

    std::set<std::string> pinKeys;
    for (const auto& pin : pins) pinKeys.insert(pin.key);
    std::set<std::string> fallbackKeys;
    for (std::size_t i = 0; i < pins.size(); ++i) {
      const InterfaceFingerprint& pin = pins[i];
      const Result& result = results[i];
      const auto exact = std::ranges::find(live, pin.key, &InterfaceFingerprint::key);
      if (exact != live.end()) {
        EXPECT_EQ(result, *exact);
        continue;
      }
      if (pin.permanentAddress) {
        EXPECT_EQ(result, nullopt);
      }
      if (!result) continue;
      EXPECT_NE(std::ranges::find(live, *result), live.end());
      EXPECT_FALSE(result->permanentAddress) << "a firm live interface went to another pin";
      EXPECT_FALSE(pinKeys.contains(result->key)) << "an interface some pin names went to another";
      EXPECT_TRUE(fallbackKeys.insert(result->key).second) << "one interface went to two pins";
      EXPECT_TRUE((pin.address && result->address == pin.address) || result->name == pin.name ||
                  (pin.title && result->title == pin.title))
          << "matched without shared evidence";
    }
  }
}

}  // namespace
}  // namespace bcn
