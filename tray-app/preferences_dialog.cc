#include "tray-app/preferences_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "netcore/publicip/public_ip_provider.h"

namespace bcn::tray {
namespace {

QString pinLabel(const InterfaceFingerprint& f) { return QString::fromStdString(f.name + "  (" + f.key + ")"); }

}  // namespace

PreferencesDialog::PreferencesDialog(TrayPreferences& preferences, std::vector<InterfaceFingerprint> live,
                                     QWidget* parent)
    : QDialog(parent),
      preferences_(preferences),
      live_(std::move(live)),
      pins_(new QListWidget(this)),
      unpinned_(new QComboBox(this)),
      unit_(new QComboBox(this)),
      provider_(new QComboBox(this)),
      startAtLogin_(new QCheckBox(QStringLiteral("Start at login"), this)),
      problem_(new QLabel(this)),
      replace_(new QPushButton(QStringLiteral("Replace the damaged file"), this)) {
  setWindowTitle(QStringLiteral("Beaconbar Preferences"));
  auto* up = new QPushButton(QStringLiteral("Move up"), this);
  auto* down = new QPushButton(QStringLiteral("Move down"), this);
  auto* unpin = new QPushButton(QStringLiteral("Unpin"), this);
  auto* pin = new QPushButton(QStringLiteral("Pin"), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);

  auto* order = new QHBoxLayout;
  order->addWidget(up);
  order->addWidget(down);
  order->addWidget(unpin);
  order->addStretch();
  auto* add = new QHBoxLayout;
  add->addWidget(unpinned_, 1);
  add->addWidget(pin);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Rates in"), unit_);
  form->addRow(QStringLiteral("Public addresses from"), provider_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Pinned interfaces, in menu order:"), this));
  layout->addWidget(pins_);
  layout->addLayout(order);
  layout->addLayout(add);
  layout->addLayout(form);
  layout->addWidget(startAtLogin_);
  layout->addWidget(problem_);
  layout->addWidget(replace_);
  layout->addWidget(buttons);
  problem_->setWordWrap(true);
  problem_->setStyleSheet(QStringLiteral("color: #b00020"));

  unit_->addItem(QStringLiteral("Bytes per second"));
  unit_->addItem(QStringLiteral("Bits per second"));
  unit_->setCurrentIndex(preferences_.settings().unit == RateUnit::bits ? 1 : 0);
  for (const PublicIPProvider& p : PublicIPProvider::allCases) {
    if (!p.url()) continue;
    provider_->addItem(QString::fromUtf8(p.title().data(), static_cast<qsizetype>(p.title().size())),
                       QString::fromUtf8(p.rawValue().data(), static_cast<qsizetype>(p.rawValue().size())));
  }
  provider_->setCurrentIndex(
      std::max(0, provider_->findData(QString::fromStdString(preferences_.settings().provider))));
  startAtLogin_->setChecked(preferences_.startAtLogin());

  const auto selected = [this] { return static_cast<std::size_t>(pins_->currentRow()); };
  connect(up, &QPushButton::clicked, this, [this, selected] {
    if (pins_->currentRow() < 0) return;
    preferences_.moveUp(selected());
    refill(std::max(0, pins_->currentRow() - 1));
  });
  connect(down, &QPushButton::clicked, this, [this, selected] {
    if (pins_->currentRow() < 0) return;
    preferences_.moveDown(selected());
    refill(std::min(pins_->count() - 1, pins_->currentRow() + 1));
  });
  connect(unpin, &QPushButton::clicked, this, [this, selected] {
    if (pins_->currentRow() < 0) return;
    preferences_.unpin(selected());
    refill(std::min(pins_->currentRow(), pins_->count() - 2));
  });
  connect(pin, &QPushButton::clicked, this, [this] {
    const auto candidates = preferences_.unpinned(live_);
    const int index = unpinned_->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= candidates.size()) return;
    preferences_.pin(candidates[static_cast<std::size_t>(index)]);
    refill(static_cast<int>(preferences_.pins().size()) - 1);
  });
  connect(replace_, &QPushButton::clicked, this, [this] {
    preferences_.replaceDamagedFiles();
    replace_->hide();
    showProblem("The damaged file will be kept beside the new one under another name when you save.");
  });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (save()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  refill(preferences_.pins().empty() ? -1 : 0);
  const std::string damaged =
      !preferences_.pinsProblem().empty() ? preferences_.pinsProblem() : preferences_.settingsProblem();
  showProblem(damaged);
  replace_->setVisible(!damaged.empty());
}

void PreferencesDialog::refill(int selectedPin) {
  pins_->clear();
  for (const InterfaceFingerprint& pin : preferences_.pins()) {
    pins_->addItem(pinLabel(pin));
  }
  pins_->setCurrentRow(selectedPin);
  unpinned_->clear();
  for (const InterfaceFingerprint& candidate : preferences_.unpinned(live_)) unpinned_->addItem(pinLabel(candidate));
}

void PreferencesDialog::showProblem(const std::string& text) {
  problem_->setText(QString::fromStdString(text));
  problem_->setVisible(!text.empty());
}

bool PreferencesDialog::save() {
  preferences_.setRateUnit(unit_->currentIndex() == 1 ? RateUnit::bits : RateUnit::bytes);
  if (auto chosen = preferences_.setProvider(provider_->currentData().toString().toStdString()); !chosen) {
    showProblem(chosen.error());
    return false;
  }
  preferences_.setStartAtLogin(startAtLogin_->isChecked());
  if (auto written = preferences_.save(); !written) {
    showProblem(written.error());
    return false;
  }
  showProblem("");
  emit saved();
  return true;
}

}  // namespace bcn::tray
