// The dialogs of Filter and Verify: "Filters" and "Verify" (Find has its bar under the tree).
#pragma once

#include <array>

#include <QDialog>
#include <QString>

#include "model/Narrowing.h"

class QCheckBox;
class QLineEdit;

namespace quillon {

// Six check boxes, the first four with an edit for their text. An edit is enabled exactly
// while its check box is on.
class FiltersDialog : public QDialog {
  Q_OBJECT

 public:
  explicit FiltersDialog(const FilterCriteria& criteria, QWidget* parent = nullptr);

  FilterCriteria Criteria() const;

  QCheckBox* IpBox() const { return ip_; }
  QCheckBox* CookieBox() const { return cookie_; }
  QCheckBox* SpiBox() const { return spi_; }
  QCheckBox* UserNameBox() const { return userName_; }
  QCheckBox* FailedPeersBox() const { return failedPeers_; }
  QCheckBox* FilterOutDpdBox() const { return filterOutDpd_; }
  QLineEdit* IpEdit() const { return ipText_; }
  QLineEdit* CookieEdit() const { return cookieText_; }
  QLineEdit* SpiEdit() const { return spiText_; }
  QLineEdit* UserNameEdit() const { return userNameText_; }

 private:
  void UpdateEdits();

  QCheckBox* ip_;
  QCheckBox* cookie_;
  QCheckBox* spi_;
  QCheckBox* userName_;
  QCheckBox* failedPeers_;
  QCheckBox* filterOutDpd_;
  QLineEdit* ipText_;
  QLineEdit* cookieText_;
  QLineEdit* spiText_;
  QLineEdit* userNameText_;
};

// The five problem categories, in the order of VerifyCriteria.
class VerifyDialog : public QDialog {
  Q_OBJECT

 public:
  explicit VerifyDialog(const VerifyCriteria& criteria, QWidget* parent = nullptr);

  VerifyCriteria Criteria() const;
  const std::array<QCheckBox*, 5>& Boxes() const { return boxes_; }

 private:
  std::array<QCheckBox*, 5> boxes_{};
};

}  // namespace quillon
