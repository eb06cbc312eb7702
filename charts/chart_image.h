// The history charts as one picture: one chart band per interface,
// stacked top to bottom, drawn without a display into PNG or SVG bytes
// of exactly the requested size in pixels (the SVG's width and height are
// given in px, its view box matching).
//
// REQUIRES: a QApplication exists (the offscreen platform will do); called
// on its thread.
#pragma once

#include <QByteArray>
#include <QSize>
#include <expected>
#include <string>
#include <vector>

#include "charts/chart_data.h"
#include "tools/beaconbar/chart_request.h"

namespace bcn::charts {

// REQUIRES: !charts.empty(); size.height() / charts.size() >= 1.
std::expected<QByteArray, std::string> renderChartImage(const std::vector<InterfaceCharts>& charts, ChartPeriod period,
                                                        QSize size, cli::ChartFormat format);

// `svg` with its root element's width and height replaced by `size` in px.
// Fails when `svg` is not well-formed XML.
std::expected<QByteArray, std::string> withPixelSize(const QByteArray& svg, QSize size);

}  // namespace bcn::charts
