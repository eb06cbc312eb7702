#include "platform/ipc/frame.h"

#include <gtest/gtest.h>

#include <random>

namespace bcn::ipc {
namespace {

std::vector<std::uint8_t> header(std::uint32_t n) {
  return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
          static_cast<std::uint8_t>(n)};
}

TEST(FrameReader, ReassemblesFramesWhateverTheChunking) {
  std::vector<std::vector<std::uint8_t>> payloads = {{1}, {2, 3, 4}, std::vector<std::uint8_t>(70000, 9), {5}};
  std::vector<std::uint8_t> stream;
  for (const auto& p : payloads) {
    auto f = encodeFrame(p);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{4096}, stream.size()}) {
    FrameReader reader;
    std::vector<std::vector<std::uint8_t>> got;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      reader.append(std::span(stream).subspan(at, std::min(chunk, stream.size() - at)));
      while (auto next = reader.next()) {
        ASSERT_TRUE(next.has_value());
        if (!*next) break;
        got.push_back(std::move(**next));
      }
    }
    EXPECT_EQ(got, payloads) << "chunk " << chunk;
    EXPECT_EQ(reader.buffered(), 0u);
  }
}

TEST(FrameReader, RefusesAnOversizedFrameFromItsHeaderAlone) {
  FrameReader reader;
  reader.append(header(kMaxFrameBytes + 1));
  auto next = reader.next();
  ASSERT_FALSE(next.has_value());
  EXPECT_EQ(next.error(), FrameError::tooLarge);
  // The stream stays unusable, whatever follows.
  reader.append(encodeFrame(std::vector<std::uint8_t>{1}));
  EXPECT_FALSE(reader.next().has_value());
  EXPECT_EQ(reader.buffered(), 0u);
}

TEST(FrameReader, AcceptsTheLargestFrameAndRefusesEmptyOnes) {
  FrameReader large;
  large.append(encodeFrame(std::vector<std::uint8_t>(kMaxFrameBytes, 7)));
  auto next = large.next();
  ASSERT_TRUE(next && *next);
  EXPECT_EQ((*next)->size(), kMaxFrameBytes);

  FrameReader empty;
  empty.append(header(0));
  auto refused = empty.next();
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), FrameError::empty);
}

TEST(FrameReader, RandomBytesNeverYieldMoreThanTheLimit) {
  std::mt19937 random(42);
  for (int round = 0; round < 200; ++round) {
    FrameReader reader;
    std::vector<std::uint8_t> bytes(2 + random() % 64);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    // Small lengths, so that some frames complete.
    if (round % 2) bytes[0] = bytes[1] = 0;
    reader.append(bytes);
    for (;;) {
      auto next = reader.next();
      if (!next || !*next) break;
      EXPECT_LE((*next)->size(), kMaxFrameBytes);
      EXPECT_FALSE((*next)->empty());
    }
  }
}

}  // namespace
}  // namespace bcn::ipc
