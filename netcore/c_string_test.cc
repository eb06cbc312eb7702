#include "netcore/c_string.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <array>
#include <random>
#include <string_view>

namespace bcn {
namespace {

std::string decode(std::string_view bytes) { return decodeCString(std::span(bytes.data(), bytes.size())); }

TEST(DecodeCString, StopsAtTheFirstZeroByte) {
  std::array<char, 16> buffer{};
  std::string_view name = "utun3";
  std::copy(name.begin(), name.end(), buffer.begin());
  EXPECT_EQ(decodeCString(buffer), "utun3");
  EXPECT_EQ(decode(std::string_view("en0\0garbage", 11)), "en0");
  EXPECT_EQ(decode(std::string_view("\0abc", 4)), "");
  EXPECT_EQ(decode(""), "");
}

TEST(DecodeCString, TakesTheWholeBufferWithoutATerminator) {
  EXPECT_EQ(decode("bridge100"), "bridge100");
}

TEST(DecodeCString, KeepsWellFormedUtf8) {
  EXPECT_EQ(decode("/Applications/Café ☕ 𝄞.app"), "/Applications/Café ☕ 𝄞.app");
}

// Expected outputs follow the Unicode standard's recommended practice
// (U+FFFD for each maximal subpart of an ill-formed sequence).
TEST(DecodeCString, ReplacesEachMaximalIllFormedSubpart) {
  const std::string r = "\xEF\xBF\xBD";
  const std::pair<std::string_view, std::string> cases[] = {
      {"a\x80z", "a" + r + "z"},                      // lone continuation byte
      {"\xC0\xAF", r + r},                            // overlong lead, never valid
      {"\xE0\x80\x80", r + r + r},                    // overlong three-byte form
      {"\xED\xA0\x80", r + r + r},                    // UTF-16 surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},            // above U+10FFFF
      {"\xE2\x98", r},                                // truncated at the end
      {"\xE2\x98x", r + "x"},                         // truncated before ASCII
      {"\xF0\x9D\x84", r},                            // truncated four-byte form
      {"\xF0\x9D\x84\x9E\xFF", "\xF0\x9D\x84\x9E" + r},  // good then invalid byte
      {"\xF8\x88\x80\x80\x80", r + r + r + r + r},    // five-byte form
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(decode(input), expected) << testing::PrintToString(std::string(input));
  }
}

// An independent judge: glibc's converter refuses ill-formed UTF-8.
bool isValidUtf8(const std::string& s) {
  iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  std::string in = s;
  std::string out(s.size() * 4 + 4, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  std::size_t inLeft = in.size();
  std::size_t outLeft = out.size();
  const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  return rc != static_cast<std::size_t>(-1) && inLeft == 0;
}

TEST(DecodeCString, OutputIsAlwaysValidUtf8) {
  ASSERT_FALSE(isValidUtf8("\xED\xA0\x80")) << "the judge must know surrogates are ill-formed";
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(1 + random() % 24, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 2 ? 0x80 + random() % 0x80 : random() % 0x100);
    const std::string text = decode(bytes);
    ASSERT_TRUE(isValidUtf8(text)) << testing::PrintToString(bytes);
    ASSERT_EQ(decode(text), text) << "decoding valid text changes nothing";
    ASSERT_EQ(text.find('\0'), std::string::npos);
  }
}

}  // namespace
}  // namespace bcn
