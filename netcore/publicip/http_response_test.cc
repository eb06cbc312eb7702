#include "netcore/publicip/http_response.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string_view>

namespace bcn {
namespace {

std::span<const std::uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The body as text, or the error's description prefixed with "error: ".
std::string parsed(std::string_view response) {
  const auto body = parseHTTP(bytes(response));
  return body ? text(*body) : "error: " + body.error().description();
}

std::string dechunked(std::string_view body) {
  const auto decoded = dechunk(bytes(body));
  return decoded ? text(*decoded) : "error: " + decoded.error().description();
}

const std::string kMalformed = "error: The server's response couldn't be read";

TEST(ParseHTTP, ReturnsTheBodyOfA2xxResponseAndIgnoresContentLength) {
  EXPECT_EQ(parsed("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n192.0.2.1\n"), "192.0.2.1\n");
  EXPECT_EQ(parsed("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n192.0.2.1"), "192.0.2.1");
  EXPECT_EQ(parsed("HTTP/1.0 299 Whatever\r\n\r\nx"), "x");
  // Only the first blank line separates; later ones belong to the body.
  EXPECT_EQ(parsed("HTTP/1.1 200 OK\r\n\r\na\r\n\r\nb"), "a\r\n\r\nb");
}

TEST(ParseHTTP, EmptyBodyOf2xxIsNotAnError) {
  EXPECT_EQ(parsed("HTTP/1.1 204 No Content\r\n\r\n"), "");
  EXPECT_EQ(parsed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"), "");
}

TEST(ParseHTTP, StatusOutside2xxIsAnHTTPError) {
  EXPECT_EQ(parseHTTP(bytes("HTTP/1.1 301 Moved\r\nLocation: x\r\n\r\n")).error(), PublicIPError::http(301));
  EXPECT_EQ(parseHTTP(bytes("HTTP/1.1 199 Odd\r\n\r\nbody")).error(), PublicIPError::http(199));
  EXPECT_EQ(parseHTTP(bytes("HTTP/1.1 300 x\r\n\r\n")).error(), PublicIPError::http(300));
  EXPECT_EQ(parseHTTP(bytes("HTTP/1.1 503 Unavailable\r\n\r\n")).error(), PublicIPError::http(503));
  EXPECT_EQ(parseHTTP(bytes("HTTP/1.1 -200 x\r\n\r\n")).error(), PublicIPError::http(-200));
  // Any status that fits 64 bits is reported as sent.
  EXPECT_EQ(parseHTTP(bytes("HTTP/1.1 3000000000 x\r\n\r\n")).error(), PublicIPError::http(3'000'000'000));
  EXPECT_EQ(parseHTTP(bytes("HTTP/1.1 9223372036854775807 x\r\n\r\n")).error(), PublicIPError::http(INT64_MAX));
  EXPECT_EQ(parseHTTP(bytes("HTTP/1.1 -9223372036854775808 x\r\n\r\n")).error(), PublicIPError::http(INT64_MIN));
  EXPECT_EQ(PublicIPError::http(3'000'000'000).description(), "The server answered HTTP 3000000000");
}

TEST(ParseHTTP, UnreadableStatusLineIsStatusZero) {
  for (std::string_view response : {
           std::string_view("HTTP/1.1\r\n\r\nbody"),     // no second piece
           std::string_view("HTTP/1.1 OK 200\r\n\r\n"),  // not a number
           std::string_view("HTTP/1.1 2OO OK\r\n\r\n"),
           std::string_view("HTTP/1.1 200.0 OK\r\n\r\n"),
           std::string_view("HTTP/1.1 0x200 OK\r\n\r\n"),
           std::string_view("HTTP/1.1 99999999999999999999 OK\r\n\r\n"),
           std::string_view("HTTP/1.1 9223372036854775808 OK\r\n\r\n"),  // one past 64 bits
           std::string_view("HTTP/1.1 -9223372036854775809 OK\r\n\r\n"),
           std::string_view("\r\n\r\n"),                   // no head at all
           std::string_view("HTTP/1.1\t200\tOK\r\n\r\n"),  // only spaces separate
           std::string_view("HTTP/1.1 20\xC3\xA9 OK\r\n\r\n"),
       }) {
    const auto body = parseHTTP(bytes(response));
    ASSERT_FALSE(body.has_value()) << ::testing::PrintToString(std::string(response));
    EXPECT_EQ(body.error(), PublicIPError::http(0)) << ::testing::PrintToString(std::string(response));
  }
  // Runs of spaces are one separator; the version piece is not checked.
  EXPECT_EQ(parsed("GARBAGE    200   OK\r\n\r\nok"), "ok");
  EXPECT_EQ(parsed("  HTTP/1.1 +200 OK\r\n\r\nok"), "ok");
}

TEST(ParseHTTP, ResponseWithoutBlankLineIsMalformed) {
  EXPECT_EQ(parsed("HTTP/1.1 200 OK\r\n"), kMalformed);
  EXPECT_EQ(parsed("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\n192.0.2.1"), kMalformed);
  EXPECT_EQ(parsed(""), kMalformed);
  EXPECT_EQ(parsed("HTTP/1.1 500 Oops\r\n\r"), kMalformed);  // malformed wins over the status
}

TEST(ParseHTTP, ChunkedWhenAnyTransferEncodingLineMentionsChunked) {
  const std::string chunkedBody = "5\r\nhello\r\n0\r\n\r\n";
  for (std::string_view header : {
           "Transfer-Encoding: chunked",
           "TRANSFER-ENCODING: CHUNKED",
           "transfer-encoding:gzip, chunked",
           "Transfer-Encoding: x-notchunked-really",
       }) {
    const std::string response =
        "HTTP/1.1 200 OK\r\nServer: x\r\n" + std::string(header) + "\r\n\r\n" + chunkedBody;
    EXPECT_EQ(parsed(response), "hello") << header;
  }
  // Not a Transfer-Encoding line: the body is taken as it is.
  for (std::string_view header : {"X-Transfer-Encoding: chunked", " Transfer-Encoding: chunked",
                                  "Transfer-Encoding : chunked", "Transfer-Encoding: identity",
                                  "Content-Type: chunked"}) {
    const std::string response = "HTTP/1.1 200 OK\r\n" + std::string(header) + "\r\n\r\n" + chunkedBody;
    EXPECT_EQ(parsed(response), chunkedBody) << header;
  }
  // A broken chunked body is malformed, not an empty answer.
  EXPECT_EQ(parsed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc"), kMalformed);
}

TEST(Dechunk, DecodesChunksAndIgnoresExtensionsAndTrailers) {
  EXPECT_EQ(dechunked("5\r\nhello\r\n0\r\n\r\n"), "hello");
  EXPECT_EQ(dechunked("5;name=value\r\nhello\r\n0\r\n\r\n"), "hello");
  EXPECT_EQ(dechunked(";;5;x\r\nhello\r\n0\r\n"), "hello");  // empty pieces are dropped
  EXPECT_EQ(dechunked("3\r\n192\r\n2\r\n.0\r\nA\r\n.2.1234567\r\n0\r\nTrailer: x\r\n\r\n"),
            "192.0.2.1234567");
  EXPECT_EQ(dechunked("a\r\n0123456789\r\n0\r\n"), "0123456789");  // hexadecimal sizes
  EXPECT_EQ(dechunked("0\r\n\r\n"), "");
  EXPECT_EQ(dechunked("0\r\n5\r\nhello\r\n"), "");  // nothing after the zero-size chunk counts
  // The two bytes after the data are skipped without being checked.
  EXPECT_EQ(dechunked("5\r\nhelloXY2\r\nab\r\n0\r\n"), "helloab");
}

TEST(Dechunk, MissingEndIsNotAnError) {
  EXPECT_EQ(dechunked("5\r\nhello"), "hello");
  EXPECT_EQ(dechunked("5\r\nhello\r\n"), "hello");
  EXPECT_EQ(dechunked("5\r\nhello\r"), "hello");  // a lone byte after the data is skipped
  EXPECT_EQ(dechunked(""), "");
  EXPECT_EQ(dechunked("5"), "");  // a size line without its CR LF is never read
}

TEST(Dechunk, BrokenSizeLinesAndShortChunksAreMalformed) {
  for (std::string_view body : {
           std::string_view("5\r\nhel"),                // announces 5, has 3
           std::string_view("zz\r\nhello\r\n0\r\n"),   // not hexadecimal
           std::string_view("\r\nhello\r\n"),          // empty size line
           std::string_view(";\r\nhello\r\n"),
           std::string_view(" 5\r\nhello\r\n"),        // no surrounding spaces
           std::string_view("5 \r\nhello\r\n"),
           std::string_view("0x5\r\nhello\r\n"),
           std::string_view("-5\r\nhello\r\n"),        // negative
           std::string_view("7fffffffffffffff\r\nx\r\n"),
           std::string_view("10000000000000000\r\nx\r\n"),  // beyond 64 bits
           std::string_view("5\r\nhello\r\nq\r\n"),   // a good chunk, then a bad size
       }) {
    EXPECT_EQ(dechunked(body), kMalformed) << ::testing::PrintToString(std::string(body));
  }
}

TEST(ParseHTTP, SurvivesHostileBytesWithoutGrowingThem) {
  std::mt19937 random(8);
  const std::string alphabet = "0123456789abcdefHTP/. ;\r\n:ckhnudTransfer-Encoding\x80\xff";
  for (int round = 0; round < 3000; ++round) {
    std::string input = round % 2 == 0 ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" : "";
    const int length = static_cast<int>(random() % 200);
    for (int i = 0; i < length; ++i) input += alphabet[random() % alphabet.size()];
    const auto body = parseHTTP(bytes(input));
    if (body) {
      EXPECT_LE(body->size(), input.size());
    }
    const auto decoded = dechunk(bytes(input));
    if (decoded) {
      EXPECT_LE(decoded->size(), input.size());
    }
  }
}

}  // namespace
}  // namespace bcn
