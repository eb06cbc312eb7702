#include "tools/beaconbar/chart_request.h"

#include <gtest/gtest.h>

namespace bcn::cli {
namespace {

TEST(ChartRequest, GoesToTheRendererAndComesBackUnchanged) {
  const auto request = makeChartRequest("/tmp/Out.SVG", "month", "1024x300", std::string("/h/history.plist"),
                                        {"eth0", "--size"});
  ASSERT_TRUE(request) << request.error();
  EXPECT_EQ(request->format, ChartFormat::kSvg);
  EXPECT_EQ(request->width, 1024);
  EXPECT_EQ(request->height, 300);

  const auto back = parseChartProgramArguments(chartProgramArguments(*request));
  ASSERT_TRUE(back) << back.error();
  EXPECT_EQ(back->output, "/tmp/Out.SVG");
  EXPECT_EQ(back->format, ChartFormat::kSvg);
  EXPECT_EQ(back->period, "month");
  EXPECT_EQ(back->width, 1024);
  EXPECT_EQ(back->height, 300);
  EXPECT_EQ(back->historyFile, "/h/history.plist");
  // A name that looks like an option stays a name.
  EXPECT_EQ(back->names, (std::vector<std::string>{"eth0", "--size"}));

  const auto defaults = parseChartProgramArguments(chartProgramArguments(*makeChartRequest("a.png", "day", "", {}, {})));
  ASSERT_TRUE(defaults) << defaults.error();
  EXPECT_EQ(defaults->format, ChartFormat::kPng);
  EXPECT_FALSE(defaults->historyFile);
  EXPECT_EQ(defaults->width, 800);
  EXPECT_EQ(defaults->height, 500);
}

TEST(ChartRequest, BadWordsAreRefusedWithTheReason) {
  struct Case {
    const char* output;
    const char* period;
    const char* size;
    const char* error;
  };
  for (const Case& c : {Case{"chart.jpg", "day", "", "must end in .png or .svg"},
                        Case{".png", "day", "", "must end in .png or .svg"},
                        Case{"chart.png", "week", "", "--period takes hour, day or month"},
                        Case{"chart.png", "day", "800", "--size takes WIDTHxHEIGHT"},
                        Case{"chart.png", "day", "800x", "--size takes WIDTHxHEIGHT"},
                        Case{"chart.png", "day", "-800x600", "--size takes WIDTHxHEIGHT"},
                        Case{"chart.png", "day", "800x600x2", "--size takes WIDTHxHEIGHT"},
                        Case{"chart.png", "day", "99x600", "out of range"},
                        Case{"chart.png", "day", "800x8193", "out of range"},
                        Case{"chart.png", "day", "99999999999x600", "--size takes WIDTHxHEIGHT"}}) {
    const auto request = makeChartRequest(c.output, c.period, c.size, {}, {});
    ASSERT_FALSE(request) << c.output << " " << c.period << " " << c.size;
    EXPECT_NE(request.error().find(c.error), std::string::npos) << request.error();
  }
  EXPECT_FALSE(makeChartRequest("a.png", "day", "", {}, {""}));
}

TEST(ChartRequest, TheRendererRefusesArgumentsItWasNeverGiven) {
  EXPECT_NE(parseChartProgramArguments({}).error().find("no chart file"), std::string::npos);
  EXPECT_NE(parseChartProgramArguments({"--period"}).error().find("needs a value"), std::string::npos);
  EXPECT_NE(parseChartProgramArguments({"--colour", "red", "--", "a.png"}).error().find("unknown argument"),
            std::string::npos);
  EXPECT_NE(parseChartProgramArguments({"--period", "year", "--", "a.png"}).error().find("--period"), std::string::npos);
}

TEST(ChartRequest, TheEnvironmentChoosesTheRendererWhenSet) {
  EXPECT_EQ(chartProgramPath("/build/charts/beaconbar-chart"), "/build/charts/beaconbar-chart");
  EXPECT_TRUE(chartProgramPath(nullptr).ends_with("/beaconbar/beaconbar-chart"));
  EXPECT_EQ(chartProgramPath(""), chartProgramPath(nullptr));
}

}  // namespace
}  // namespace bcn::cli
