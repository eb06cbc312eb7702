#include "exporter/exposition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace bcn::metrics {
namespace {

TEST(LabelEscapingTest, EscapesBackslashQuoteAndNewlineOnly) {
  EXPECT_EQ(escapeLabelValue("plain eth0"), "plain eth0");
  EXPECT_EQ(escapeLabelValue("a\\b"), "a\\\\b");
  EXPECT_EQ(escapeLabelValue("say \"hi\""), "say \\\"hi\\\"");
  EXPECT_EQ(escapeLabelValue("two\nlines"), "two\\nlines");
  // A tab and a carriage return are legal inside quotes and stay.
  EXPECT_EQ(escapeLabelValue("a\tb\rc"), "a\tb\rc");
  // Help texts keep double quotes as they are.
  EXPECT_EQ(escapeHelp("say \"hi\"\\\n"), "say \"hi\"\\\\\\n");
}

TEST(LabelEscapingTest, InvalidUtf8BecomesReplacementCharacter) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(validUtf8("caf\xC3\xA9"), "caf\xC3\xA9");              // é stays
  EXPECT_EQ(validUtf8("\xF0\x9F\x90\xA7"), "\xF0\x9F\x90\xA7");    // 4-byte penguin stays
  EXPECT_EQ(validUtf8("a\xFF" "b"), "a" + fffd + "b");
  EXPECT_EQ(validUtf8("\xC0\xAF"), fffd + fffd);                   // overlong '/'
  EXPECT_EQ(validUtf8("\xE0\x80\xAF"), fffd + fffd + fffd);        // overlong, 3 bytes
  EXPECT_EQ(validUtf8("\xED\xA0\x80"), fffd + fffd + fffd);        // UTF-16 surrogate
  EXPECT_EQ(validUtf8("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);  // above U+10FFFF
  EXPECT_EQ(validUtf8("end\xE2\x82"), "end" + fffd);               // truncated: one maximal subpart
  // An escaped character after a broken sequence is still escaped.
  EXPECT_EQ(escapeLabelValue("\xC3\"\n"), fffd + "\\\"\\n");
}

TEST(NameSanitizingTest, OnlyTheAllowedAlphabetSurvives) {
  EXPECT_EQ(sanitizeName("beaconbar_interface_up", true), "beaconbar_interface_up");
  EXPECT_EQ(sanitizeName("a:b-c d", true), "a:b_c_d");
  EXPECT_EQ(sanitizeName("a:b", false), "a_b");
  EXPECT_EQ(sanitizeName("9lives", false), "_9lives");
  EXPECT_EQ(sanitizeName("", false), "_");
  EXPECT_EQ(sanitizeName("\xC3\xA9", false), "__");
}

TEST(ValueFormattingTest, SpecialAndLargeValues) {
  EXPECT_EQ(formatValue(0), "0");
  EXPECT_EQ(formatValue(1), "1");
  EXPECT_EQ(formatValue(-3), "-3");
  EXPECT_EQ(formatValue(0.25), "0.25");
  EXPECT_EQ(formatValue(std::nan("")), "NaN");
  EXPECT_EQ(formatValue(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(formatValue(-std::numeric_limits<double>::infinity()), "-Inf");
  // A counter beyond 2^53 is written digit for digit as the double holds it.
  EXPECT_EQ(formatValue(1099511627776.0 * 1048576), "1152921504606846976");
  // Beyond int64 the shortest exact form takes over, never a wrapped integer.
  EXPECT_EQ(formatValue(1e20), "1e+20");
  EXPECT_EQ(std::stod(formatValue(0.1 + 0.2)), 0.1 + 0.2);
}

TEST(ExpositionTest, WritesHelpTypeAndSamplesInOrder) {
  std::vector<MetricFamily> families;
  families.push_back({"demo_bytes_total", "Bytes.\nSecond line", MetricType::counter,
                      {{{{"interface", "eth\"0"}, {"kind", "a\\b"}}, 42}, {{{"interface", "x\ny"}}, 1.5}}});
  families.push_back({"demo_up", "Up.", MetricType::gauge, {{{}, 1}}});
  families.push_back({"demo_empty_info", "Nothing yet.", MetricType::gauge, {}});
  EXPECT_EQ(writeExposition(families),
            "# HELP demo_bytes_total Bytes.\\nSecond line\n"
            "# TYPE demo_bytes_total counter\n"
            "demo_bytes_total{interface=\"eth\\\"0\",kind=\"a\\\\b\"} 42\n"
            "demo_bytes_total{interface=\"x\\ny\"} 1.5\n"
            "# HELP demo_up Up.\n"
            "# TYPE demo_up gauge\n"
            "demo_up 1\n"
            "# HELP demo_empty_info Nothing yet.\n"
            "# TYPE demo_empty_info gauge\n");
}

TEST(ExpositionTest, HostileBytesNeverAddALineOrEndAValueEarly) {
  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
  std::vector<MetricFamily> families;
  families.push_back({"hostile{name}\n", everyByte, MetricType::gauge, {{{{everyByte, everyByte}}, 7}}});
  const std::string out = writeExposition(families);
  // Three lines: HELP, TYPE, the sample; the raw newline never leaks.
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);
  EXPECT_EQ(validUtf8(out), out);
  EXPECT_NE(out.find("# TYPE hostile_name__ gauge\n"), std::string::npos);
  // The label value's quotes are all escaped: exactly two unescaped quotes.
  const std::string sample = out.substr(out.find("\nhostile_name__{") + 1);
  int bareQuotes = 0;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    if (sample[i] == '\\') {
      ++i;
    } else if (sample[i] == '"') {
      ++bareQuotes;
    }
  }
  EXPECT_EQ(bareQuotes, 2);
  EXPECT_TRUE(sample.ends_with("} 7\n"));
}

}  // namespace
}  // namespace bcn::metrics
