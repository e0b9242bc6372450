#include "app/NarrowingDialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include <tuple>
#include <utility>

namespace quillon {

namespace {

// Log texts are single-byte: what is typed is taken byte for byte as Latin-1.
std::string ToLogText(const QString& text) { return text.toLatin1().toStdString(); }
QString FromLogText(const std::string& text) { return QString::fromLatin1(text); }

QDialogButtonBox* OkCancel(QDialog& dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

FiltersDialog::FiltersDialog(const FilterCriteria& criteria, QWidget* parent)
    : QDialog(parent),
      ip_(new QCheckBox(QStringLiteral("IP"))),
      cookie_(new QCheckBox(QStringLiteral("Cookie"))),
      spi_(new QCheckBox(QStringLiteral("SPI"))),
      userName_(new QCheckBox(QStringLiteral("User name"))),
      failedPeers_(new QCheckBox(QStringLiteral("Peers containing failed negotiations"))),
      filterOutDpd_(new QCheckBox(QStringLiteral("Filter out DPD"))),
      ipText_(new QLineEdit),
      cookieText_(new QLineEdit),
      spiText_(new QLineEdit),
      userNameText_(new QLineEdit) {
  setWindowTitle(QStringLiteral("Filters"));
  auto* grid = new QGridLayout;
  int row = 0;
  for (auto [box, edit, on, text] :
       {std::tuple{ip_, ipText_, criteria.ipOn, &criteria.ipText},
        std::tuple{cookie_, cookieText_, criteria.cookieOn, &criteria.cookieText},
        std::tuple{spi_, spiText_, criteria.spiOn, &criteria.spiText},
        std::tuple{userName_, userNameText_, criteria.userNameOn, &criteria.userNameText}}) {
    box->setChecked(on);
    edit->setText(FromLogText(*text));
    edit->setMinimumWidth(220);
    grid->addWidget(box, row, 0);
    grid->addWidget(edit, row, 1);
    connect(box, &QCheckBox::clicked, this, &FiltersDialog::UpdateEdits);
    ++row;
  }
  failedPeers_->setChecked(criteria.failedPeersOn);
  filterOutDpd_->setChecked(criteria.filterOutDpdOn);
  grid->addWidget(failedPeers_, row++, 0, 1, 2);
  grid->addWidget(filterOutDpd_, row++, 0, 1, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(OkCancel(*this));
  UpdateEdits();
}

void FiltersDialog::UpdateEdits() {
  ipText_->setEnabled(ip_->isChecked());
  cookieText_->setEnabled(cookie_->isChecked());
  spiText_->setEnabled(spi_->isChecked());
  userNameText_->setEnabled(userName_->isChecked());
}

FilterCriteria FiltersDialog::Criteria() const {
  FilterCriteria c;
  c.ipOn = ip_->isChecked();
  c.cookieOn = cookie_->isChecked();
  c.spiOn = spi_->isChecked();
  c.userNameOn = userName_->isChecked();
  c.failedPeersOn = failedPeers_->isChecked();
  c.filterOutDpdOn = filterOutDpd_->isChecked();
  c.ipText = ToLogText(ipText_->text());
  c.cookieText = ToLogText(cookieText_->text());
  c.spiText = ToLogText(spiText_->text());
  c.userNameText = ToLogText(userNameText_->text());
  return c;
}

VerifyDialog::VerifyDialog(const VerifyCriteria& criteria, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Verify"));
  auto* layout = new QVBoxLayout(this);
  const std::array<std::pair<const char*, bool>, 5> boxes = {{
      {"Failed negotiations", criteria.failedNegotiations},
      {"Error informational", criteria.errorInformational},
      {"Successive identical negotiations", criteria.successiveIdentical},
      {"Immediate Delete after successful negotiation", criteria.immediateDelete},
      {"Repeated Delete for same negotiation", criteria.repeatedDelete},
  }};
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    boxes_[i] = new QCheckBox(QString::fromLatin1(boxes[i].first));
    boxes_[i]->setChecked(boxes[i].second);
    layout->addWidget(boxes_[i]);
  }
  layout->addWidget(OkCancel(*this));
}

VerifyCriteria VerifyDialog::Criteria() const {
  return VerifyCriteria{boxes_[0]->isChecked(), boxes_[1]->isChecked(), boxes_[2]->isChecked(),
                        boxes_[3]->isChecked(), boxes_[4]->isChecked()};
}

}  // namespace quillon
