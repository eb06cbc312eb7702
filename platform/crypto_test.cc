#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace bcn::crypto {
namespace {

std::string hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::vector<std::uint8_t> bytesOf(std::string_view s) { return {s.begin(), s.end()}; }

TEST(Sha256, KnownVectors) {
  EXPECT_EQ(hex(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex(sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Text and byte inputs hash the same bytes.
  EXPECT_EQ(sha256("token"), sha256(bytesOf("token")));
}

TEST(Base64, Rfc4648Vectors) {
  const std::pair<std::string_view, std::string_view> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(base64Encode(bytesOf(plain)), encoded);
    EXPECT_EQ(base64Decode(encoded), bytesOf(plain)) << encoded;
  }
  const std::vector<std::uint8_t> high = {0xFB, 0xFF, 0xBF};
  EXPECT_EQ(base64Encode(high), "+/+/");
}

TEST(Base64, LargeInputsRoundTrip) {
  std::vector<std::uint8_t> big(3 * 16384 * 2 + 2);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  const std::string text = base64Encode(big);
  EXPECT_EQ(text.size(), 4 * ((big.size() + 2) / 3));
  EXPECT_EQ(text.find('='), text.size() - 1) << "padding only at the very end";
  EXPECT_EQ(base64Decode(text), big);
}

TEST(Base64, DecodeRefusesAnythingButTheCanonicalShape) {
  for (std::string_view bad : {"Zg", "Zg=", "Z===", "Zg==Zg==", "Zm9v\n", " Zm9v", "Zm-_", "Zm9=v==="}) {
    EXPECT_FALSE(base64Decode(bad)) << bad;
  }
}

TEST(SecureRandom, GivesTheRequestedNumberOfFreshBytes) {
  auto a = secureRandomBytes(32);
  auto b = secureRandomBytes(32);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->size(), 32u);
  EXPECT_NE(*a, *b);
  auto none = secureRandomBytes(0);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(RandomUUID, UpperCaseVersion4Form) {
  const std::regex shape("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    auto uuid = randomUUID();
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->size(), 36u);
    EXPECT_TRUE(std::regex_match(*uuid, shape)) << *uuid;
    seen.insert(*uuid);
  }
  EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
}  // namespace bcn::crypto
