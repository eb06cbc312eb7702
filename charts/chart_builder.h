// The picture of one interface's traffic over one period, as a Qt Charts
// chart: in and out as two lines of average rate per interval, broken
// where nothing was recorded, and the period's average, minimum, maximum
// and total in the title. Shared by the tray's history window and
// beaconbar-chart so both draw the same chart.
//
// REQUIRES: a QApplication exists; called on its thread (charts are
// graphics widgets).
#pragma once

#include <QChart>
#include <QString>
#include <memory>
#include <string>

#include "charts/chart_data.h"

namespace bcn::charts {

// The period's figures in one line: "in 1.21 MiB, avg 12 KiB/s, min ...,
// max ... · out ..."; "no traffic recorded" for an empty period.
QString summaryLine(const RateAggregate& total);

// A chart titled "<name> — <period title>" with the summary line under it.
std::unique_ptr<QChart> buildChart(const std::string& name, const ChartSeries& series);

}  // namespace bcn::charts
