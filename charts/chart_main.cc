// beaconbar-chart: draws the traffic history charts into a PNG or SVG file
// without a display, for `beaconbar history --chart` (see
// tools/beaconbar/chart_request.h for the arguments). Writes the file
// atomically, or nothing at all when anything fails.
#include <QApplication>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "charts/chart_data.h"
#include "charts/chart_image.h"
#include "platform/files.h"
#include "tools/beaconbar/commands.h"
#include "tools/beaconbar/history_file.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "beaconbar-chart: %s\n", message.c_str());
  return 1;
}

// Qt's own chatter (fonts, the offscreen platform) is not ours to show.
void quietQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) std::fprintf(stderr, "beaconbar-chart: %s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
  // Drawn offscreen whether or not there is a display, so it runs the same
  // from a script, a timer or a web server.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(quietQt);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  auto request = bcn::cli::parseChartProgramArguments(arguments);
  if (!request) return fail(request.error());

  const auto path = bcn::cli::historyPath(request->historyFile);
  if (!path) return fail(path.error());
  auto histories = bcn::cli::readHistoryFile(*path);
  if (!histories) return fail(histories.error());
  auto selected = bcn::cli::selectHistories(std::move(*histories), request->names, *path);
  if (!selected) return fail(selected.error());
  if (selected->empty()) return fail("no traffic history in " + path->string() + " yet, so nothing to draw");
  const int bands = static_cast<int>(selected->size());
  if (request->height / bands < bcn::cli::kMinBandHeight) {
    return fail("a picture " + std::to_string(request->height) + " pixels high has no room for " +
                std::to_string(bands) + " charts; give --size a height of at least " +
                std::to_string(bands * bcn::cli::kMinBandHeight) + " or name fewer interfaces");
  }

  QApplication app(argc, argv);
  const auto period = bcn::charts::parseChartPeriod(request->period);
  if (!period) return fail("--period takes hour, day or month");
  const auto charts = bcn::charts::chartData(*selected, bcn::Date::now());
  const auto image =
      bcn::charts::renderChartImage(charts, *period, QSize(request->width, request->height), request->format);
  if (!image) return fail(image.error());
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(image->constData()), static_cast<std::size_t>(image->size()));
  if (auto written = bcn::files::writeFileAtomically(request->output, bytes, 0644); !written) {
    return fail("cannot write " + request->output + ": " + written.error().description);
  }
  return 0;
}
