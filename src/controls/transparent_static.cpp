#include "controls/transparent_static.h"

#include <QPainter>

#include "controls/static_text.h"

namespace qm {

CTransparentStatic::CTransparentStatic(QWidget* parent) : CTransparentStatic(QString(), parent) {}

CTransparentStatic::CTransparentStatic(const QString& text, QWidget* parent) : QLabel(text, parent) {
  // No background fill: Qt repaints the parent under the old text whenever
  // the text changes, so nothing of a longer previous text remains.
  setAutoFillBackground(false);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void CTransparentStatic::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  int flags = static_cast<int>(alignment());
  if (wordWrap()) flags |= Qt::TextWordWrap;
  painter.drawText(contentsRect(), flags, StaticDisplayText(text()));
}

}  // namespace qm
