#include "tray-app/history_window.h"

#include <sys/stat.h>

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "charts/chart_builder.h"
#include "tools/beaconbar/history_file.h"

namespace bcn::tray {
namespace {

// The periods slide with the clock even when no new traffic is recorded.
constexpr double kRedrawAnywaySeconds = 60;

}  // namespace

HistoryWindow::HistoryWindow(std::filesystem::path historyFile, std::function<Date()> now, QWidget* parent)
    : QWidget(parent), file_(std::move(historyFile)), now_(std::move(now)) {
  setWindowTitle(tr("Traffic history"));
  interfaces_ = new QComboBox(this);
  interfaces_->setAccessibleName(tr("Interface"));
  problem_ = new QLabel(this);
  problem_->setWordWrap(true);
  problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  problem_->hide();

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(tr("Interface:"), this));
  top->addWidget(interfaces_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(problem_);
  for (QChartView*& view : views_) {
    view = new QChartView(this);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(180);
    layout->addWidget(view, 1);
  }
  resize(760, 820);

  connect(interfaces_, &QComboBox::currentIndexChanged, this, [this] { redraw(); });
  timer_.setInterval(kRefreshMilliseconds);
  connect(&timer_, &QTimer::timeout, this, [this] { refresh(); });
}

std::optional<HistoryWindow::FileStamp> HistoryWindow::stamp() const {
  struct stat st {};
  if (::stat(file_.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<std::int64_t>(st.st_size),
                   static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

void HistoryWindow::present() {
  show();
  raise();
  activateWindow();
}

void HistoryWindow::refresh(bool force) {
  const Date now = now_();
  const auto current = stamp();
  const bool changed = !lastStamp_ || current != *lastStamp_;
  if (!force && !changed && now.secondsSince2001 - lastDrawn_ < kRedrawAnywaySeconds) return;

  auto histories = cli::readHistoryFile(file_);
  if (!histories) {
    // What was drawn stays; the next change of the file is read again.
    problem_->setText(QString::fromStdString(histories.error()));
    problem_->show();
    lastStamp_ = current;
    return;
  }
  lastStamp_ = current;
  lastDrawn_ = now.secondsSince2001;
  charts_ = charts::chartData(*histories, now);
  if (charts_.empty()) {
    problem_->setText(tr("No traffic history in %1 yet. The tray records it while it runs, as do "
                         "`beaconbar record` and `beaconbar watch`.")
                          .arg(QString::fromStdString(file_.string())));
    problem_->show();
  } else {
    problem_->hide();
  }

  const QString selected = interfaces_->currentText();
  {
    const QSignalBlocker block(interfaces_);
    interfaces_->clear();
    for (const auto& entry : charts_) interfaces_->addItem(QString::fromStdString(entry.name));
    const int index = interfaces_->findText(selected);
    interfaces_->setCurrentIndex(index >= 0 ? index : (charts_.empty() ? -1 : 0));
  }
  redraw();
}

void HistoryWindow::redraw() {
  const charts::InterfaceCharts* shown = shownCharts();
  for (std::size_t i = 0; i < views_.size(); ++i) {
    QChart* old = views_[i]->chart();
    if (shown != nullptr) {
      views_[i]->setChart(charts::buildChart(shown->name, shown->periods[i]).release());
    } else {
      views_[i]->setChart(new QChart);
    }
    // The view does not own a chart it is given once another replaces it.
    delete old;
  }
}

QStringList HistoryWindow::interfaceNames() const {
  QStringList names;
  for (int i = 0; i < interfaces_->count(); ++i) names << interfaces_->itemText(i);
  return names;
}

void HistoryWindow::selectInterface(const QString& name) { interfaces_->setCurrentIndex(interfaces_->findText(name)); }

const charts::InterfaceCharts* HistoryWindow::shownCharts() const {
  const int index = interfaces_->currentIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= charts_.size()) return nullptr;
  return &charts_[static_cast<std::size_t>(index)];
}

void HistoryWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refresh(true);
  timer_.start();
}

void HistoryWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  timer_.stop();
}

}  // namespace bcn::tray
