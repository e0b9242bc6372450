// The About box: one picture with the program's version, an OK button, and the whole dialog
// can be dragged by the picture.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QPoint>

namespace quillon {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 440;
  static constexpr int kHeight = 400;

  explicit AboutDialog(QWidget* parent = nullptr);

  // "Version: " and the version the program was built with.
  static QString VersionText();
  // The About picture without the version line.
  static QPixmap Picture();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QPixmap picture_;
  bool dragging_ = false;
  QPoint grabOffset_;
};

}  // namespace quillon
