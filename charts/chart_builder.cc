#include "charts/chart_builder.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <cmath>

#include "tools/beaconbar/units.h"

namespace bcn::charts {
namespace {

const QColor kInColor(0x1f, 0x77, 0xb4);
const QColor kOutColor(0xe6, 0x6a, 0x0a);

QString text(const std::string& s) { return QString::fromStdString(s); }

QString rangeText(double average, double min, double max, std::uint64_t total) {
  return QStringLiteral("%1, avg %2, min %3, max %4")
      .arg(text(cli::formatBytes(static_cast<double>(total))), text(cli::formatRate(average)),
           text(cli::formatRate(min)), text(cli::formatRate(max)));
}

// Binary rate units, so the axis reads as the figures in the title do.
struct RateUnit {
  double divisor;
  const char* label;
};

RateUnit unitFor(double maxRate) {
  static constexpr std::array<RateUnit, 4> kUnits{
      {{1, "B/s"}, {1024, "KiB/s"}, {1024.0 * 1024, "MiB/s"}, {1024.0 * 1024 * 1024, "GiB/s"}}};
  std::size_t i = 0;
  while (i + 1 < kUnits.size() && maxRate >= kUnits[i + 1].divisor) ++i;
  return kUnits[i];
}

qint64 msecsSinceUnixEpoch(double secondsSince2001) {
  return static_cast<qint64>(std::llround(Date{secondsSince2001}.unixSeconds() * 1000));
}

// One line per unbroken run of intervals; only the first of a direction
// shows in the legend. A lone interval shows as a dot, since a line of
// one point draws nothing.
void addLines(QChart& chart, const ChartSeries& series, bool in, RateUnit unit, QAbstractAxis* x, QAbstractAxis* y) {
  const QString name = in ? QStringLiteral("in") : QStringLiteral("out");
  const QColor color = in ? kInColor : kOutColor;
  std::vector<QLineSeries*> runs;
  double previousStart = 0;
  for (const ChartPoint& point : series.points) {
    if (runs.empty() || point.start - previousStart > series.resolution) runs.push_back(new QLineSeries(&chart));
    previousStart = point.start;
    const double rate = in ? point.traffic.averageIn() : point.traffic.averageOut();
    const double middle = point.start + series.resolution / 2;
    runs.back()->append(static_cast<double>(msecsSinceUnixEpoch(middle)), rate / unit.divisor);
  }
  if (runs.empty()) runs.push_back(new QLineSeries(&chart));
  for (QLineSeries* run : runs) {
    run->setName(name);
    run->setPen(QPen(color, 1.6));
    run->setColor(color);
    run->setPointsVisible(run->count() == 1);
    chart.addSeries(run);
    run->attachAxis(x);
    run->attachAxis(y);
    if (run != runs.front()) {
      for (QLegendMarker* marker : chart.legend()->markers(run)) marker->setVisible(false);
    }
  }
}

}  // namespace

QString summaryLine(const RateAggregate& total) {
  if (total.isEmpty()) return QStringLiteral("no traffic recorded");
  return QStringLiteral("in %1 · out %2")
      .arg(rangeText(total.averageIn(), total.minIn, total.maxIn, total.bytesIn),
           rangeText(total.averageOut(), total.minOut, total.maxOut, total.bytesOut));
}

std::unique_ptr<QChart> buildChart(const std::string& name, const ChartSeries& series) {
  auto chart = std::make_unique<QChart>();
  const ChartPeriodInfo info = periodInfo(series.period);
  chart->setTitle(QStringLiteral("<b>%1 — %2</b><br><small>%3</small>")
                      .arg(text(name).toHtmlEscaped(), text(std::string(info.title)),
                           summaryLine(series.total).toHtmlEscaped()));
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setMargins(QMargins(4, 4, 4, 4));

  double maxRate = 0;
  double lastEnd = series.to;
  for (const ChartPoint& p : series.points) {
    maxRate = std::max({maxRate, p.traffic.averageIn(), p.traffic.averageOut()});
    lastEnd = std::max(lastEnd, p.start + series.resolution);
  }
  const RateUnit unit = unitFor(maxRate);

  auto* x = new QDateTimeAxis(chart.get());
  x->setFormat(series.period == ChartPeriod::kMonth ? QStringLiteral("dd MMM") : QStringLiteral("HH:mm"));
  x->setTickCount(7);
  x->setRange(QDateTime::fromMSecsSinceEpoch(msecsSinceUnixEpoch(series.from)),
              QDateTime::fromMSecsSinceEpoch(msecsSinceUnixEpoch(lastEnd)));
  auto* y = new QValueAxis(chart.get());
  y->setTitleText(QString::fromLatin1(unit.label));
  y->setRange(0, maxRate > 0 ? maxRate / unit.divisor * 1.1 : 1);
  y->applyNiceNumbers();
  y->setLabelFormat(QStringLiteral("%.3g"));
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);

  addLines(*chart, series, true, unit, x, y);
  addLines(*chart, series, false, unit, x, y);
  return chart;
}

}  // namespace bcn::charts
