#pragma once
// A static text without a background of its own: its text lies directly on
// the page's painted background or picture.
#include <QLabel>

namespace qm {

class CTransparentStatic : public QLabel {
  Q_OBJECT

 public:
  explicit CTransparentStatic(QWidget* parent = nullptr);
  explicit CTransparentStatic(const QString& text, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace qm
