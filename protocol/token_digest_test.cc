#include "protocol/token_digest.h"

#include <gtest/gtest.h>

#include <vector>

namespace bcn {
namespace {

std::vector<std::uint8_t> digestOf(std::uint8_t fill) { return std::vector<std::uint8_t>(32, fill); }

TEST(TokenDigest, EqualityOfDigests) {
  EXPECT_TRUE(TokenDigest::equal({}, {}));
  EXPECT_TRUE(TokenDigest::equal(digestOf(7), digestOf(7)));
  EXPECT_FALSE(TokenDigest::equal(digestOf(7), std::vector<std::uint8_t>(31, 7)));
  auto lastDiffers = digestOf(7);
  lastDiffers.back() = 8;
  EXPECT_FALSE(TokenDigest::equal(digestOf(7), lastDiffers));
  auto firstDiffers = digestOf(7);
  firstDiffers.front() = 0;
  EXPECT_FALSE(TokenDigest::equal(digestOf(7), firstDiffers));
}

// A byte range that counts how often each side is read.
struct CountingBytes {
  std::vector<std::uint8_t> bytes;
  mutable std::size_t reads = 0;
  std::size_t size() const { return bytes.size(); }
  std::uint8_t operator[](std::size_t i) const {
    ++reads;
    return bytes[i];
  }
};

TEST(TokenDigest, VisitsEveryByteWhereverTheDigestsDiffer) {
  for (std::size_t differing : {std::size_t{0}, std::size_t{15}, std::size_t{31}}) {
    CountingBytes a{digestOf(1)};
    CountingBytes b{digestOf(1)};
    b.bytes[differing] = 2;
    EXPECT_FALSE(TokenDigest::equalBytes(a, b));
    EXPECT_EQ(a.reads, 32u) << "difference at " << differing;
    EXPECT_EQ(b.reads, 32u) << "difference at " << differing;
  }
}

TEST(TokenDigest, DifferentLengthsReadNothing) {
  CountingBytes a{digestOf(1)};
  CountingBytes b{std::vector<std::uint8_t>(31, 1)};
  EXPECT_FALSE(TokenDigest::equalBytes(a, b));
  EXPECT_EQ(a.reads + b.reads, 0u);
}

}  // namespace
}  // namespace bcn
