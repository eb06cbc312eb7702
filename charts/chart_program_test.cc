// `beaconbar history --chart` as a user runs it: the tool, the renderer it
// starts, and the file they leave behind (or do not).
#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <QXmlStreamReader>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "netcore/history/history_store.h"
#include "platform/subprocess.h"
#include "platform/testing/test_support.h"
#include "tools/beaconbar/history_file.h"

namespace bcn {
namespace {

namespace fs = std::filesystem;

class HistoryChart : public ::testing::Test {
 protected:
  void SetUp() override {
    const double now = Date::now().secondsSince2001;
    HistoryMap histories;
    for (const char* name : {"eth0", "wlan0"}) {
      RateHistory history(cli::kHistoryRetention);
      for (double end = now - 2 * 86400; end < now; end += 97) history.add({Date{end}, 97, 120'000, 30'000});
      histories[name] = std::move(history);
    }
    auto bytes = encodeHistoryFile(histories);
    ASSERT_TRUE(bytes);
    write(history_, std::string(bytes->begin(), bytes->end()));
  }

  static void write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  ProcessResult run(std::vector<std::string> arguments, const char* renderer = BEACONBAR_CHART_EXECUTABLE) {
    std::vector<std::string> argv{"/usr/bin/env", std::string("BEACONBAR_CHART_PROGRAM=") + renderer, BEACONBAR_EXECUTABLE,
                                  "history", "--history-file", history_.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto result = runProcess(argv, {.timeout = std::chrono::milliseconds(60'000)});
    EXPECT_TRUE(result) << result.error().description;
    return result ? *result : ProcessResult{};
  }

  // The tool failed with one message on standard error containing `text`
  // and left `output` as it was.
  void expectRefused(const ProcessResult& r, const std::string& text, const fs::path& output, const std::string& before) {
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.standardError.find(text), std::string::npos) << r.standardError;
    if (before.empty()) {
      EXPECT_FALSE(fs::exists(output));
    } else {
      EXPECT_EQ(read(output), before);
    }
    // Nothing half-written beside it either.
    for (const auto& entry : fs::directory_iterator(output.parent_path())) {
      EXPECT_TRUE(entry.path() == output || entry.path() == history_) << entry.path();
    }
  }

  testing::TempDir dir_;
  fs::path history_ = dir_ / "history.plist";
};

TEST_F(HistoryChart, DrawsAPngOfTheRequestedSize) {
  const fs::path png = dir_ / "traffic.png";
  const ProcessResult r = run({"--chart", png.string(), "eth0", "wlan0", "--period", "hour", "--size", "640x420"});
  ASSERT_EQ(r.exitCode, 0) << r.standardError;
  const std::string bytes = read(png);
  QImage image;
  ASSERT_TRUE(image.loadFromData(QByteArray::fromStdString(bytes), "PNG"));
  EXPECT_EQ(image.width(), 640);
  EXPECT_EQ(image.height(), 420);
  // Something was drawn in the chart colours, not a blank page.
  int coloured = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.saturation() > 120 && c.value() > 80) ++coloured;
    }
  }
  EXPECT_GT(coloured, 200);
}

TEST_F(HistoryChart, DrawsAnSvgOfTheRequestedSize) {
  const fs::path svg = dir_ / "traffic.svg";
  const ProcessResult r = run({"--chart", svg.string(), "--period", "month", "--size", "900x700"});
  ASSERT_EQ(r.exitCode, 0) << r.standardError;
  QXmlStreamReader xml(QByteArray::fromStdString(read(svg)));
  bool sawRoot = false;
  int paths = 0;
  QStringList texts;
  while (!xml.atEnd()) {
    xml.readNext();
    if (!xml.isStartElement()) continue;
    if (!sawRoot) {
      sawRoot = true;
      EXPECT_EQ(xml.name(), QLatin1String("svg"));
      EXPECT_EQ(xml.attributes().value("width"), QLatin1String("900px"));
      EXPECT_EQ(xml.attributes().value("height"), QLatin1String("700px"));
      EXPECT_EQ(xml.attributes().value("viewBox"), QLatin1String("0 0 900 700"));
    }
    if (xml.name() == QLatin1String("path") || xml.name() == QLatin1String("polyline")) ++paths;
    if (xml.name() == QLatin1String("text")) texts << xml.readElementText();
  }
  ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_TRUE(sawRoot);
  EXPECT_GT(paths, 4);
  // Both interfaces' charts are there, titled with the period.
  const QString all = texts.join(' ');
  EXPECT_TRUE(all.contains("eth0")) << all.toStdString();
  EXPECT_TRUE(all.contains("wlan0")) << all.toStdString();
  EXPECT_TRUE(all.contains("last 30 days")) << all.toStdString();
}

TEST_F(HistoryChart, BadRequestsAndDamagedHistoriesWriteNothing) {
  const fs::path png = dir_ / "traffic.png";
  expectRefused(run({"--chart", (dir_ / "traffic.gif").string()}), "must end in .png or .svg", dir_ / "traffic.gif", "");
  expectRefused(run({"--chart", png.string(), "--size", "10x10"}), "out of range", png, "");
  expectRefused(run({"--chart", png.string(), "--period", "year"}), "hour, day or month", png, "");
  expectRefused(run({"--chart", png.string(), "ppp9"}), "no traffic history for ppp9", png, "");
  expectRefused(run({"--chart", png.string(), "--size", "800x150"}), "no room for 2 charts", png, "");

  // A picture already there stays as it was when the history is damaged.
  write(png, "the old picture");
  std::string damaged = read(history_);
  damaged.resize(damaged.size() / 2);
  write(history_, damaged);
  expectRefused(run({"--chart", png.string()}), "is damaged", png, "the old picture");
}

TEST_F(HistoryChart, AMissingRendererIsNamedWithItsPackage) {
  const fs::path png = dir_ / "traffic.png";
  const std::string missing = (dir_ / "no-such-renderer").string();
  const ProcessResult r = run({"--chart", png.string()}, missing.c_str());
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.standardError.find(missing + " is not installed"), std::string::npos) << r.standardError;
  EXPECT_NE(r.standardError.find("beaconbar-tray package"), std::string::npos) << r.standardError;
  EXPECT_FALSE(fs::exists(png));
}

}  // namespace
}  // namespace bcn
