#include "netcore/publicip/address_extraction.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace bcn::PublicIPService {
namespace {

std::optional<std::string> extract(std::string_view body,
                                   std::optional<std::string_view> keyPath = std::nullopt) {
  return extractAddress(
      std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()), keyPath);
}

TEST(IsIPAddress, AcceptsDottedQuadsAndIPv6Texts) {
  for (const char* good : {"192.0.2.1", "0.0.0.0", "255.255.255.255", "::1", "::", "2001:db8::6",
                           "2001:DB8:0:0:0:0:0:1", "::ffff:192.0.2.1", "fe80::1:2:3:4"}) {
    EXPECT_TRUE(isIPAddress(good)) << good;
  }
}

TEST(IsIPAddress, RejectsEverythingElseWithoutTrimming) {
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "01.2.3.4", "1.2.3.4 ", " ::1",
                          "::1\n", "[::1]", "fe80::1%eth0", "192.0.2.1:80", "localhost",
                          "2001:db8::g", "1:2:3:4:5:6:7:8:9", "0x7f.0.0.1"}) {
    EXPECT_FALSE(isIPAddress(bad)) << bad;
  }
  EXPECT_FALSE(isIPAddress(std::string_view("1.2.3.4\0junk", 12)));  // no C-string cut-off
  EXPECT_FALSE(isIPAddress(std::string(100000, '1')));
}

TEST(ExtractAddress, PlainTextIsTrimmedOfWhiteSpaceAndLineBreaks) {
  EXPECT_EQ(extract("192.0.2.1\n"), "192.0.2.1");
  EXPECT_EQ(extract("  \t2001:db8::6\r\n\r\n"), "2001:db8::6");
  // Unicode white space counts too: NO-BREAK SPACE, LINE SEPARATOR, IDEOGRAPHIC SPACE, NEL.
  EXPECT_EQ(extract("\xC2\xA0" "192.0.2.1\xE2\x80\xA8\xE3\x80\x80\xC2\x85"), "192.0.2.1");
  // The key path plays no part for a plain answer.
  EXPECT_EQ(extract("192.0.2.1\n", "data.ip"), "192.0.2.1");
  EXPECT_EQ(extract("192.0.2.1 extra"), std::nullopt);
  EXPECT_EQ(extract("192.0.2.1\n\xFF"), std::nullopt);  // an invalid byte is not white space
  EXPECT_EQ(extract("\xE2\x80" "192.0.2.1"), std::nullopt);
  EXPECT_EQ(extract(""), std::nullopt);
  EXPECT_EQ(extract(std::string_view("192.0.2.1\0", 10)), std::nullopt);
}

TEST(ExtractAddress, JSONCandidateKeysAreTriedInOrder) {
  EXPECT_EQ(extract(R"({"ip":"192.0.2.1"})"), "192.0.2.1");
  EXPECT_EQ(extract(R"({"ip":"not an address","origin":"192.0.2.9"})"), "192.0.2.9");
  EXPECT_EQ(extract(R"({"ipAddress":"2001:db8::6"})"), "2001:db8::6");
  EXPECT_EQ(extract(R"({"origin":"192.0.2.9","query":"192.0.2.4","address":"192.0.2.3"})"),
            "192.0.2.3");
  EXPECT_EQ(extract(R"({"ip":7,"ip_addr":"192.0.2.2"})"), "192.0.2.2");
  EXPECT_EQ(extract(R"({"ip":["192.0.2.1"],"ip_addr":{"v":"192.0.2.2"}})"), std::nullopt);
}

TEST(ExtractAddress, JSONWithoutAKnownKeyHasNoAddressUnlessTheKeyPathNamesIt) {
  const std::string body = R"({"yourAddress":"192.0.2.5","data":{"client":{"ip":"2001:db8::5"}}})";
  EXPECT_EQ(extract(body), std::nullopt);
  EXPECT_EQ(extract(body, ""), std::nullopt);  // an empty key path is no key path
  EXPECT_EQ(extract(body, "yourAddress"), "192.0.2.5");
  EXPECT_EQ(extract(body, "data.client.ip"), "2001:db8::5");
  EXPECT_EQ(extract(body, ".data..client.ip."), "2001:db8::5");  // empty pieces change nothing
  EXPECT_EQ(extract(body, "data.client"), std::nullopt);
  EXPECT_EQ(extract(body, "data.missing.ip"), std::nullopt);
  EXPECT_EQ(extract(body, "yourAddress.more"), std::nullopt);
  EXPECT_EQ(extract(body, "..."), std::nullopt);
  // With a key path the candidate keys are not tried.
  EXPECT_EQ(extract(R"({"ip":"192.0.2.1"})", "elsewhere"), std::nullopt);
}

TEST(ExtractAddress, ArraysAreNeverIndexed) {
  EXPECT_EQ(extract(R"({"list":["192.0.2.1"]})", "list.0"), std::nullopt);
  EXPECT_EQ(extract(R"(["192.0.2.1"])", "0"), std::nullopt);
  EXPECT_EQ(extract(R"([{"ip":"192.0.2.1"}])"), std::nullopt);
}

TEST(ExtractAddress, JSONValuesAreNotTrimmed) {
  EXPECT_EQ(extract(R"({"ip":" 192.0.2.1 "})"), std::nullopt);
  EXPECT_EQ(extract(R"({"a":{"b":"192.0.2.1\n"}})", "a.b"), std::nullopt);
  EXPECT_EQ(extract(" 192.0.2.1 "), "192.0.2.1");
}

TEST(ExtractAddress, UnreadableOrHostileBodiesHaveNoAddress) {
  EXPECT_EQ(extract(R"({"ip":"192.0.2.1")"), std::nullopt);        // truncated
  EXPECT_EQ(extract(R"("192.0.2.1")"), std::nullopt);              // a bare JSON string
  EXPECT_EQ(extract(R"("192.0.2.1")", "."), std::nullopt);
  EXPECT_EQ(extract("{\"ip\":\"192.0.2.1\xFF\"}"), std::nullopt);  // not UTF-8
  EXPECT_EQ(extract("<html>192.0.2.1</html>"), std::nullopt);
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  EXPECT_EQ(extract(deep), std::nullopt);
  std::string deepObject;
  std::string deepPath;
  for (int i = 0; i < 20000; ++i) deepObject += R"({"a":)", deepPath += "a.";
  deepObject += R"("192.0.2.7")" + std::string(20000, '}');
  EXPECT_EQ(extract(deepObject, "a.a.a"), std::nullopt);
  EXPECT_EQ(extract(deepObject, deepPath), "192.0.2.7");
  std::string wide = "{";
  for (int i = 0; i < 50000; ++i) wide += "\"k" + std::to_string(i) + "\":\"x\",";
  wide += R"("origin":"192.0.2.8"})";
  EXPECT_EQ(extract(wide), "192.0.2.8");
}

}  // namespace
}  // namespace bcn::PublicIPService
