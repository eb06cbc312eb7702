#include "charts/chart_image.h"

#include <QBuffer>
#include <QChartView>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <memory>

#include "charts/chart_builder.h"

namespace bcn::charts {
namespace {

std::size_t periodIndex(ChartPeriod period) {
  for (std::size_t i = 0; i < kChartPeriods.size(); ++i) {
    if (kChartPeriods[i] == period) return i;
  }
  return 0;
}

void paintCharts(QPainter& painter, const std::vector<InterfaceCharts>& charts, ChartPeriod period, QSize size) {
  const int count = static_cast<int>(charts.size());
  for (int i = 0; i < count; ++i) {
    // Bands share the height; the last one takes what division leaves.
    const int top = size.height() * i / count;
    const int bottom = size.height() * (i + 1) / count;
    const auto& entry = charts[static_cast<std::size_t>(i)];
    QChartView view(buildChart(entry.name, entry.periods[periodIndex(period)]).release());
    view.setRenderHint(QPainter::Antialiasing);
    view.setFrameShape(QFrame::NoFrame);
    view.resize(size.width(), bottom - top);
    // The chart lays itself out on posted events; draw it laid out.
    view.show();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    view.render(&painter, QRectF(0, top, size.width(), bottom - top));
  }
}

}  // namespace

std::expected<QByteArray, std::string> renderChartImage(const std::vector<InterfaceCharts>& charts, ChartPeriod period,
                                                        QSize size, cli::ChartFormat format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (format == cli::ChartFormat::kPng) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return std::unexpected("not enough memory for a picture of that size");
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      paintCharts(painter, charts, period, size);
    }
    if (!image.save(&buffer, "PNG")) return std::unexpected("the picture could not be encoded as PNG");
    return bytes;
  }
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(size);
  generator.setViewBox(QRect(QPoint(0, 0), size));
  generator.setTitle(QStringLiteral("Traffic history"));
  {
    QPainter painter(&generator);
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    paintCharts(painter, charts, period, size);
  }
  buffer.close();
  return withPixelSize(bytes, size);
}

std::expected<QByteArray, std::string> withPixelSize(const QByteArray& svg, QSize size) {
  QByteArray out;
  QXmlStreamReader reader(svg);
  QXmlStreamWriter writer(&out);
  bool rootDone = false;
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.hasError()) break;
    if (!rootDone && reader.isStartElement()) {
      rootDone = true;
      // Declared first, so they apply to the root and keep their prefixes.
      for (const QXmlStreamNamespaceDeclaration& ns : reader.namespaceDeclarations()) {
        if (ns.prefix().isEmpty()) {
          writer.writeDefaultNamespace(ns.namespaceUri().toString());
        } else {
          writer.writeNamespace(ns.namespaceUri().toString(), ns.prefix().toString());
        }
      }
      writer.writeStartElement(reader.namespaceUri().toString(), reader.name().toString());
      for (const QXmlStreamAttribute& attribute : reader.attributes()) {
        if (attribute.namespaceUri().isEmpty() &&
            (attribute.name() == QLatin1String("width") || attribute.name() == QLatin1String("height"))) {
          continue;
        }
        writer.writeAttribute(attribute);
      }
      writer.writeAttribute(QStringLiteral("width"), QStringLiteral("%1px").arg(size.width()));
      writer.writeAttribute(QStringLiteral("height"), QStringLiteral("%1px").arg(size.height()));
      continue;
    }
    writer.writeCurrentToken(reader);
  }
  if (reader.hasError()) return std::unexpected("the SVG drawing is not well-formed: " + reader.errorString().toStdString());
  if (!rootDone) return std::unexpected("the SVG drawing has no root element");
  return out;
}

}  // namespace bcn::charts
