#include "platform/plist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <unordered_set>

namespace bcn {
namespace {

PlistValue everyKind() {
  return PlistDictionary{
      {"text", "Wi-Fi — café ☕"},
      {"empty text", ""},
      {"yes", true},
      {"no", false},
      {"zero", 0},
      {"minus one", -1},
      {"int64 min", std::numeric_limits<std::int64_t>::min()},
      {"int64 max", std::numeric_limits<std::int64_t>::max()},
      {"above int64", std::uint64_t{1} << 63},
      {"uint64 max", std::numeric_limits<std::uint64_t>::max()},
      {"real", -2.5e-3},
      {"date", Date{786'000'000.25}},
      {"before 2001", Date{-12.5}},
      {"data", PlistData{0, 1, 2, 0, 255}},
      {"empty data", PlistData{}},
      {"array", PlistArray{1, "two", PlistArray{}, PlistDictionary{}}},
      {"nested", PlistDictionary{{"inner", PlistArray{PlistDictionary{{"k", 3}}}}}},
  };
}

TEST(PlistRoundTrip, EveryKindSurvivesBinaryAndXml) {
  const PlistValue original = everyKind();
  auto binary = encodeBinaryPlist(original);
  ASSERT_TRUE(binary) << binary.error().description;
  auto fromBinary = decodePlist(*binary);
  ASSERT_TRUE(fromBinary) << fromBinary.error().description;
  EXPECT_EQ(*fromBinary, original);

  // XML dates carry whole seconds only.
  PlistDictionary wholeSeconds = *original.dictionary();
  wholeSeconds.set("date", Date{786'000'000});
  wholeSeconds.set("before 2001", Date{-12});
  auto xml = encodeXmlPlist(wholeSeconds);
  ASSERT_TRUE(xml) << xml.error().description;
  auto fromXml = decodePlist(*xml);
  ASSERT_TRUE(fromXml) << fromXml.error().description;
  EXPECT_EQ(*fromXml, PlistValue(wholeSeconds));
}

TEST(PlistRoundTrip, DictionaryKeepsInsertionOrderOnTheWire) {
  const PlistValue original = PlistDictionary{{"digest", PlistData{1}}, {"uid", 501}, {"created", Date{1}}};
  auto decoded = decodePlist(*encodeBinaryPlist(original));
  ASSERT_TRUE(decoded);
  std::vector<std::string> keys;
  for (const auto& [key, value] : *decoded->dictionary()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"digest", "uid", "created"}));
}

TEST(PlistRoundTrip, DatesKeepMicroseconds) {
  for (double seconds : {0.0, 0.000001, 123456.789012, -0.5, -1e6 + 0.25, 2'000'000'000.999999}) {
    auto decoded = decodePlist(*encodeBinaryPlist(PlistValue(Date{seconds})));
    ASSERT_TRUE(decoded && decoded->date());
    EXPECT_NEAR(decoded->date()->secondsSince2001, seconds, 1e-6) << seconds;
  }
}

// Apple's readers take an 8-byte integer as signed and a 16-byte one as
// unsigned; files shared with them must use those widths.
TEST(PlistWireFormat, IntegerWidthsMatchTheSignedness) {
  auto negative = encodeBinaryPlist(PlistValue(-5));
  ASSERT_TRUE(negative);
  EXPECT_EQ((*negative)[8], 0x13);  // first object: 8-byte integer
  auto huge = encodeBinaryPlist(PlistValue(std::numeric_limits<std::uint64_t>::max()));
  ASSERT_TRUE(huge);
  EXPECT_EQ((*huge)[8], 0x14);  // 16-byte integer
}

TEST(PlistWireFormat, HandWrittenXmlDecodes) {
  const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<array>
  <dict>
    <key>uid</key><integer>-1</integer>
    <key>big</key><integer>18446744073709551615</integer>
    <key>when</key><date>2001-01-01T00:01:00Z</date>
    <key>blob</key><data>AAEC</data>
    <key>flag</key><true/>
  </dict>
</array>
</plist>)";
  auto decoded = decodePlist(xml);
  ASSERT_TRUE(decoded) << decoded.error().description;
  const PlistDictionary& d = *(*decoded->array())[0].dictionary();
  EXPECT_EQ(d.find("uid")->int64(), -1);
  EXPECT_FALSE(d.find("uid")->uint64());
  EXPECT_EQ(d.find("big")->uint64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_FALSE(d.find("big")->int64());
  EXPECT_EQ(d.find("when")->date(), Date{60});
  EXPECT_EQ(*d.find("blob")->data(), (PlistData{0, 1, 2}));
  EXPECT_EQ(d.find("flag")->boolean(), true);
}

TEST(PlistValueType, AccessorsRefuseOtherKinds) {
  const PlistValue text("5");
  EXPECT_EQ(text.kind(), PlistValue::Kind::text);
  EXPECT_FALSE(text.int64());
  EXPECT_FALSE(text.boolean());
  EXPECT_EQ(text.data(), nullptr);
  EXPECT_EQ(text.dictionary(), nullptr);
  const PlistValue number(5u);
  EXPECT_EQ(number.int64(), 5);
  EXPECT_EQ(number.uint64(), 5u);
  EXPECT_EQ(number.text(), nullptr);
  // An integer and a real of the same magnitude are different values.
  EXPECT_NE(PlistValue(1), PlistValue(1.0));
  // The same number built from signed and unsigned types is one value.
  EXPECT_EQ(PlistValue(7), PlistValue(std::uint64_t{7}));
}

TEST(PlistValueType, DictionaryEqualityAndHashIgnoreOrder) {
  const PlistValue a = PlistDictionary{{"x", 1}, {"y", "two"}};
  const PlistValue b = PlistDictionary{{"y", "two"}, {"x", 1}};
  const PlistValue c = PlistDictionary{{"x", 1}, {"y", "three"}};
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  std::unordered_set<PlistValue> set{a, b, c};
  EXPECT_EQ(set.size(), 2u);
}

TEST(PlistValueType, DictionarySetReplacesInPlace) {
  PlistDictionary d{{"a", 1}, {"b", 2}};
  d.set("a", 3);
  d.set("c", 4);
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d.begin()->first, "a");
  EXPECT_EQ(d.find("a")->int64(), 3);
  EXPECT_TRUE(d.erase("b"));
  EXPECT_FALSE(d.erase("b"));
  EXPECT_EQ(d.find("b"), nullptr);
}

TEST(PlistValueType, RepeatedKeyKeepsTheFirstPositionAndTheLastValue) {
  // A few keys (as in every message) and more than a few take different
  // paths; both must agree.
  for (int size : {2, 5, 16, 17, 40}) {
    std::vector<PlistDictionary::Entry> entries;
    for (int i = 0; i < size; ++i) entries.emplace_back("k" + std::to_string(i), i);
    entries.emplace_back("k1", "late");
    const PlistDictionary d = PlistDictionary::fromEntries(entries);
    ASSERT_EQ(d.size(), static_cast<std::size_t>(size)) << size;
    EXPECT_EQ(d.begin()[1].first, "k1");
    EXPECT_EQ(d.begin()[1].second, PlistValue("late"));
    EXPECT_EQ(d.begin()[size - 1].first, "k" + std::to_string(size - 1));
  }
  const PlistDictionary listed{{"a", 1}, {"b", 2}, {"a", 3}};
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed.begin()->first, "a");
  EXPECT_EQ(listed.find("a")->int64(), 3);
}

// A hostile dictionary with fifty thousand keys must cost linear time
// to decode and compare in our layer, not quadratic (minutes here).
TEST(PlistValueType, HugeDictionariesStayLinear) {
  std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>";
  std::vector<PlistDictionary::Entry> entries;
  for (int i = 0; i < 50'000; ++i) {
    xml += "<key>key" + std::to_string(i) + "</key><integer>" + std::to_string(i) + "</integer>";
    entries.emplace_back("key" + std::to_string(i), i);
  }
  xml += "</dict></plist>";
  entries.emplace_back("key7", "replaced");
  const PlistValue expected = PlistDictionary::fromEntries(entries);
  ASSERT_EQ(expected.dictionary()->size(), 50'000u);
  EXPECT_EQ(expected.dictionary()->begin()[7].second, PlistValue("replaced")) << "keeps the first position";

  auto decoded = decodePlist(xml);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->dictionary()->size(), 50'000u);
  EXPECT_NE(*decoded, expected);
  PlistDictionary fixed = *decoded->dictionary();
  fixed.set("key7", "replaced");
  EXPECT_EQ(PlistValue(fixed), expected);
}

TEST(PlistEncodeErrors, RefusesWhatTheFormatCannotHold) {
  EXPECT_FALSE(encodeBinaryPlist(PlistValue(std::string("a\0b", 3))));
  EXPECT_FALSE(encodeBinaryPlist(PlistDictionary{{std::string("k\0", 2), 1}}));
  EXPECT_FALSE(encodeBinaryPlist(PlistValue(Date{1e12})));
  EXPECT_FALSE(encodeBinaryPlist(PlistValue(Date{std::nan("")})));
  PlistValue deep = PlistArray{};
  for (std::size_t i = 0; i < PlistLimits::kMaxDepth + 1; ++i) deep = PlistArray{deep};
  auto result = encodeBinaryPlist(deep);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().domain, PlatformError::kCocoaDomain);
}

TEST(PlistEncodeErrors, RefusesTextThatIsNotUtf8) {
  for (const std::string text : {"\xff", "caf\xe9", "\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82"}) {
    EXPECT_FALSE(encodeBinaryPlist(PlistValue(text))) << text;
    EXPECT_FALSE(encodeXmlPlist(PlistDictionary{{text, 1}})) << text;
  }
  EXPECT_TRUE(encodeBinaryPlist(PlistValue("\xf0\x9f\x93\xb6 \xe2\x80\x94 \xc3\xa9")));
}

// A binary plist holding one object, for inputs our encoder refuses to make.
PlistData binaryWithOneObject(std::initializer_list<std::uint8_t> object) {
  PlistData bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  bytes.insert(bytes.end(), object);
  const auto tableOffset = static_cast<std::uint8_t>(bytes.size());
  bytes.push_back(8);                                   // offset table: the object is at 8
  bytes.insert(bytes.end(), 6, 0);                      // unused, sort version
  bytes.push_back(1);                                   // offset size
  bytes.push_back(1);                                   // reference size
  bytes.insert(bytes.end(), {0, 0, 0, 0, 0, 0, 0, 1});  // one object
  bytes.insert(bytes.end(), 8, 0);                      // the top object is object 0
  bytes.insert(bytes.end(), {0, 0, 0, 0, 0, 0, 0, tableOffset});
  return bytes;
}

// Found by fuzzing: the parsers hand such text and dates through, and the
// encoders then refused them or wrote a file that could not be read back,
// so a store that loaded such a file could never save again.
TEST(PlistDecodeErrors, RefusesWhatCouldNotBeWrittenBack) {
  ASSERT_TRUE(decodePlist(binaryWithOneObject({0x52, 'o', 'k'})));
  EXPECT_FALSE(decodePlist(binaryWithOneObject({0x52, 0x90, 'x'})));     // "ASCII" string with a high byte
  EXPECT_FALSE(decodePlist(binaryWithOneObject({0x62, 0, 'a', 0, 0})));  // UTF-16 text holding a NUL
  const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  EXPECT_FALSE(decodePlist(head + "<string>caf\xe9</string></plist>"));
  EXPECT_FALSE(decodePlist(head + "<dict><key>\x90tun3</key><true/></dict></plist>"));

  EXPECT_FALSE(decodePlist(head + "<date>1000-01-01T00:00:01Z</date></plist>"));
  EXPECT_FALSE(decodePlist(head + "<date>2100-01-01T00:00:00Z</date></plist>"));
  // 1e12 s after 2001 as a big-endian double.
  EXPECT_FALSE(decodePlist(binaryWithOneObject({0x33, 0x42, 0x6D, 0x1A, 0x94, 0xA2, 0x00, 0x00, 0x00})));
  auto inRange = decodePlist(head + "<date>1950-06-01T00:00:00Z</date></plist>");
  ASSERT_TRUE(inRange && inRange->date());
  EXPECT_TRUE(encodeBinaryPlist(*inRange));
}

// Found by fuzzing: a binary date with a sub-microsecond fraction decoded
// exactly but was written back rounded, so a decoded call re-encoded to a
// different call. Decoding now rounds to what the encoder can hold.
TEST(PlistRoundTrip, DecodedDatesReencodeToThemselves) {
  // About 3.4e-8 s after 2001 as a big-endian double.
  auto decoded = decodePlist(binaryWithOneObject({0x33, 0x3e, 0x62, 0x63, 0x5f, 0x10, 0x16, 0x73, 0x74}));
  ASSERT_TRUE(decoded && decoded->date());
  EXPECT_EQ(decoded->date()->secondsSince2001, 0.0);
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> seconds(-2e9, 2e9);
  for (int i = 0; i < 10'000; ++i) {
    const double s = i % 2 ? seconds(random) : seconds(random) * 1e-9;
    auto once = decodePlist(*encodeBinaryPlist(PlistValue(Date{s})));
    ASSERT_TRUE(once);
    auto twice = decodePlist(*encodeBinaryPlist(*once));
    ASSERT_TRUE(twice);
    ASSERT_EQ(*once, *twice) << s;
  }
}

TEST(PlistDecodeErrors, NonPlistInputIsAnError) {
  for (std::string_view input : {"", "bplist00", "hello", "<plist><dict><key>a</key></plist>",
                                 "<plist><dict><key>a&#0;b</key><true/></dict></plist>"}) {
    EXPECT_FALSE(decodePlist(input)) << input;
  }
}

TEST(PlistDecodeErrors, DeepXmlNestingIsRefusedNotACrash) {
  std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 200'000; ++i) xml += "<array>";
  for (int i = 0; i < 200'000; ++i) xml += "</array>";
  xml += "</plist>";
  auto result = decodePlist(xml);
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().description.find("nested too deeply"), std::string::npos);
}

TEST(PlistDecodeErrors, XmlBeyondTheElementLimitIsRefused) {
  std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>";
  for (std::size_t i = 0; i < PlistLimits::kMaxXmlElements; ++i) {
    xml += "<key>k" + std::to_string(i) + "</key><true/>";
  }
  xml += "</dict></plist>";
  auto result = decodePlist(xml);
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().description.find("too many"), std::string::npos);
}

TEST(PlistDecodeErrors, NestingWithinTheLimitDecodes) {
  PlistValue deep = PlistArray{};
  for (std::size_t i = 1; i < PlistLimits::kMaxDepth; ++i) deep = PlistArray{deep};
  auto bytes = encodeBinaryPlist(deep);
  ASSERT_TRUE(bytes);
  auto decoded = decodePlist(*bytes);
  ASSERT_TRUE(decoded) << decoded.error().description;
  EXPECT_EQ(*decoded, deep);
}

TEST(PlistDecodeErrors, TruncationAtEveryOffsetNeverCrashes) {
  auto bytes = encodeBinaryPlist(everyKind());
  ASSERT_TRUE(bytes);
  for (std::size_t n = 0; n < bytes->size(); ++n) {
    auto result = decodePlist(std::span(bytes->data(), n));
    EXPECT_FALSE(result && *result == everyKind()) << "prefix of " << n << " bytes";
  }
  // XML cut anywhere before the closing tags of the root dictionary is
  // refused; only the last few bytes ("</plist>") are optional to libplist.
  const std::string xml = *encodeXmlPlist(everyKind());
  const std::size_t rootClosed = xml.rfind("</dict>");
  for (std::size_t n = 0; n < rootClosed; ++n) {
    EXPECT_FALSE(decodePlist(std::string_view(xml).substr(0, n))) << "XML prefix of " << n << " bytes";
  }
}

// Random byte flips of valid files: the decoder must return a value or an
// error, never crash or hang (the sanitizer build checks memory safety).
TEST(PlistDecodeErrors, MutatedFilesNeverCrash) {
  std::mt19937 random(20261208);
  const PlistData binary = *encodeBinaryPlist(everyKind());
  const std::string xml = *encodeXmlPlist(everyKind());
  int decoded = 0;
  for (int round = 0; round < 3000; ++round) {
    PlistData b = binary;
    std::string x = xml;
    for (int flips = 1 + round % 4; flips > 0; --flips) {
      b[random() % b.size()] = static_cast<std::uint8_t>(random());
      x[random() % x.size()] = static_cast<char>(random());
    }
    decoded += decodePlist(b).has_value();
    decoded += decodePlist(x).has_value();
  }
  // Most single flips hit data bytes and still decode: the test really
  // exercised the parsers, not only their first sanity check.
  EXPECT_GT(decoded, 100);
}

}  // namespace
}  // namespace bcn
