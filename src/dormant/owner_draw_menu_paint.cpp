// Owner-drawn menu: measuring and painting of items, marks, embossed
// disabled images and the image variants of the flat look.
#include <QActionGroup>
#include <QApplication>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

#include <algorithm>
#include <cmath>

#include "dormant/owner_draw_menu.h"

namespace qm {

namespace {

constexpr int kSpacing = 4;
constexpr int kWideSpacing = 7;
constexpr double kCheckedImageLighten = 0.6;
constexpr double kFadeFactor = 0.3;
constexpr double kGrayTextLighten = 0.4;
constexpr double kShadowLighten = 0.49;
constexpr double kHighlightFillFlat = 0.7;
constexpr double kHighlightFillClassic = 0.85;
constexpr double kColumnLighten = 0.25;
constexpr int kFlatCheckBox = 16;

QColor Lighten(QColor c, double f) { return QColor::fromRgb(BlendTowardWhite(c.rgb(), f)); }

}  // namespace

// Qt sizes menu rows through the style; for owner-drawn items the row takes
// the size the menu measures, so the painting fits the row it is given.
class MeasuredMenuStyle : public QProxyStyle {
 public:
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override {
    const QSize base = QProxyStyle::sizeFromContents(type, option, size, widget);
    const auto* menu = dynamic_cast<const BCMenu*>(widget);
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type != CT_MenuItem || !menu || !item) return base;
    const BCMenuData* d = menu->RecordForRow(*item);
    if (!d) return base;
    // A row of no width is not laid out at all; a separator's width is the menu's.
    const QSize measured = menu->MeasureItem(*d);
    return {std::max(measured.width(), 1), measured.height()};
  }
};

const BCMenuData* BCMenu::RecordForRow(const QStyleOptionMenuItem& option) const {
  // The option names no action: rows are matched by kind and text, and two
  // rows of the same text measure alike.
  const bool separator = option.menuItemType == QStyleOptionMenuItem::Separator;
  for (QAction* a : actions()) {
    const auto* d = static_cast<const BCMenuData*>(a->data().value<void*>());
    if (!d || !(d->flags & MF_OWNERDRAW) || a->isSeparator() != separator) continue;
    if (separator) return d;
    QString text = a->text();
    if (!a->shortcut().isEmpty()) text += u'\t' + a->shortcut().toString(QKeySequence::NativeText);
    if (text == option.text) return d;
  }
  return nullptr;
}

void BCMenu::UseMeasuredRows() {
  auto* style = new MeasuredMenuStyle;
  style->setParent(this);
  setStyle(style);
}

namespace {

QFont MenuFont() { return QApplication::font("QMenu"); }

int SystemMenuHeight() { return QFontMetrics(MenuFont()).height() + 6; }

// Label before the first TAB, accelerator after the last one.
void SplitText(const QString& text, QString* label, QString* accel) {
  const int first = text.indexOf(QLatin1Char('\t'));
  if (first < 0) {
    *label = text;
    accel->clear();
    return;
  }
  *label = text.left(first);
  *accel = text.mid(text.lastIndexOf(QLatin1Char('\t')) + 1);
}

void DrawText2(QPainter& p, QRect r, const QString& label, const QString& accel, int iconX, QColor colour) {
  p.setPen(colour);
  QRect lr = r;
  if (!accel.isEmpty()) lr.setRight(lr.right() - iconX);
  // "&" marks the mnemonic, shown underlined as menus do.
  constexpr int kLine = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
  p.drawText(lr, Qt::AlignLeft | kLine, label);
  if (!accel.isEmpty()) p.drawText(lr, Qt::AlignRight | kLine, accel);
}

void Frame3d(QPainter& p, QRect r, QColor topLeft, QColor bottomRight) {
  p.setPen(topLeft);
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(bottomRight);
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

void EtchedLine(QPainter& p, int x1, int x2, int y) {
  p.setPen(SystemColour(SysColour::BtnShadow));
  p.drawLine(x1, y, x2, y);
  p.setPen(SystemColour(SysColour::BtnHighlight));
  p.drawLine(x1, y + 1, x2, y + 1);
}

// Mask of the image's drawn pixels and its rendering in one colour.
QImage MaskInColour(const QImage& mask, QColor colour) {
  QImage out(mask.size(), QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  for (int y = 0; y < mask.height(); ++y)
    for (int x = 0; x < mask.width(); ++x)
      if (mask.pixelIndex(x, y) == 1) out.setPixel(x, y, colour.rgb());
  return out;
}

void DrawMask(QPainter& p, int x, int y, int w, int h, const QImage& mask, QColor bg) {
  p.fillRect(QRect(x, y, w, h), bg);
  p.drawImage(x + 1, y + 1, MaskInColour(mask, SystemColour(SysColour::BtnHighlight)));
  p.drawImage(x, y, MaskInColour(mask, SystemColour(SysColour::BtnShadow)));
}

}  // namespace

QColor SystemColour(SysColour which) {
  const QPalette pal = QApplication::palette();
  switch (which) {
    case SysColour::BtnFace: return pal.color(QPalette::Button);
    case SysColour::Menu: return pal.color(QPalette::Window);
    case SysColour::Highlight: return pal.color(QPalette::Highlight);
    case SysColour::HighlightText: return pal.color(QPalette::HighlightedText);
    case SysColour::MenuText: return pal.color(QPalette::WindowText);
    case SysColour::GrayText: return pal.color(QPalette::Disabled, QPalette::Text);
    case SysColour::BtnHighlight: return pal.color(QPalette::Light);
    case SysColour::BtnShadow: return pal.color(QPalette::Dark);
    case SysColour::Window: return pal.color(QPalette::Base);
  }
  return {};
}

QSize MeasureMenuItem(bool separator, int textWidth, int iconX, int iconY, bool flatMode, bool wideSpacing,
                      int systemMenuHeight) {
  const int spacing = flatMode && wideSpacing ? kWideSpacing : kSpacing;
  if (separator) return {0, std::max((iconY + spacing) / 2, systemMenuHeight / 2)};
  const int extra = flatMode ? iconX + spacing + 8 : 2 * iconX + 1;
  return {textWidth + extra, std::max(iconY + spacing, systemMenuHeight)};
}

QSize BCMenu::MeasureItem(const BCMenuData& d) const {
  int textWidth = 0;
  if (!(d.flags & MF_SEPARATOR) && g_WindowsVersionCode != 0) {
    // Without a known version the text is measured in the default font.
    const QFont font = VersionCodeAbove1() ? MenuFont() : QApplication::font();
    textWidth = QFontMetrics(font).horizontalAdvance(d.text);
  }
  return MeasureMenuItem((d.flags & MF_SEPARATOR) != 0, textWidth, iconX, iconY, IsFlatDrawMode(), g_WideSpacing,
                         SystemMenuHeight());
}

void BCMenu::DrawItem(QPainter& p, QRect rect, const BCMenuData& d, uint32_t state, bool radio) const {
  const bool palette = p.device() && p.device()->depth() <= 8;
  if (palette || DrawModeInEffect() != 1)
    PaintItemClassic(p, rect, d, state, radio);
  else
    PaintItemFlat(p, rect, d, state, radio);
}

// The image an item shows: its own list, else the shared list.
static const QImage* ItemImage(const BCMenuData& d, int* sharedIndex) {
  *sharedIndex = -1;
  if (d.images && d.imageOffset >= 0 && d.imageOffset < d.images->Count()) return &d.images->images[d.imageOffset];
  if (d.globalImage >= 0 && d.globalImage < g_MenuImages.Count()) {
    *sharedIndex = d.globalImage;
    return &g_MenuImages.images[d.globalImage];
  }
  return nullptr;
}

void BCMenu::PaintItemClassic(QPainter& p, QRect r, const BCMenuData& d, uint32_t state, bool radio) const {
  p.save();
  p.setFont(VersionCodeAbove1() ? MenuFont() : QApplication::font());
  const QColor bg = SystemColour(UseFlatMenuStyle() ? SysColour::BtnFace : SysColour::Menu);
  if ((state & ODS_GRAYED) && (state & ODS_SELECTED) && g_ClassicSelectDisabled == 0) state &= ~ODS_SELECTED;
  const bool selected = state & ODS_SELECTED, grayed = state & ODS_GRAYED, checked = state & ODS_CHECKED;

  if (d.flags & MF_SEPARATOR) {
    p.fillRect(r, bg);
    EtchedLine(p, r.left(), r.right(), r.top() + r.height() / 2);
    p.restore();
    return;
  }
  int shared = -1;
  const QImage* image = ItemImage(d, &shared);
  const bool customCheck = !image && checked && checkImages && checkImages->Count() >= 2 &&
                           ((selected && checkedSelectedImageId > 0) || checkedImageId > 0);
  QColor textColour = SystemColour(SysColour::MenuText);
  if (selected) {
    QRect hr = r;
    if (image || checked) hr.setLeft(r.left() + iconX + 5);
    p.fillRect(r, bg);
    p.fillRect(hr, SystemColour(SysColour::Highlight));
    textColour = SystemColour(SysColour::HighlightText);
  } else {
    p.fillRect(r, bg);
  }
  const int f = std::max(0, (r.height() - iconY - 4) / 2);
  const QRect box(r.left(), r.top() + f, iconX + 4, iconY + 4);
  const QPoint at(r.left() + 2, r.top() + f + 2);
  if (customCheck) {
    p.fillRect(box, bg);
    p.drawImage(at, checkImages->images[selected ? 1 : 0]);
  } else if (image) {
    if (grayed && !selected) {
      MenuImageList tmp{QSize(iconX, iconY), {*image}};
      const QImage flat = ImageToBitmap(tmp, 0, iconX, iconY);
      if (embossWithDib)
        DrawEmbossedWithDib(p, at.x(), at.y(), iconX, iconY, flat, 0, 0, bg);
      else
        DrawEmbossed(p, at.x(), at.y(), iconX, iconY, flat, 0, 0, bg);
    } else {
      if (checked) {
        p.fillRect(box, selected ? bg : Lighten(bg, kCheckedImageLighten));
        if (VersionCodeAbove1())
          Frame3d(p, box.adjusted(0, 0, -1, -1), SystemColour(SysColour::BtnShadow),
                  SystemColour(SysColour::BtnHighlight));
      } else {
        p.fillRect(box, bg);
        if (selected && !grayed && VersionCodeAbove1())
          Frame3d(p, box.adjusted(0, 0, -1, -1), SystemColour(SysColour::BtnHighlight),
                  SystemColour(SysColour::BtnShadow));
      }
      p.drawImage(at, *image);
    }
  } else if (checked) {
    DrawClassicCheckBox(p, QRect(QPoint(r.left() + 1, r.top() + f + 2), QPoint(r.left() + iconX, r.top() + f + iconY + 1)),
                        selected, radio);
  }
  QString label, accel;
  SplitText(d.text, &label, &accel);
  const QRect tr(QPoint(r.left() + iconX + 9, r.top() - 1), QPoint(r.right(), r.bottom() - 1));
  if (grayed && !selected) {
    DrawText2(p, tr.translated(1, 1), label, accel, iconX, SystemColour(SysColour::BtnHighlight));
    DrawText2(p, tr, label, accel, iconX, SystemColour(SysColour::GrayText));
  } else if (grayed) {
    DrawText2(p, tr, label, accel, iconX, bg);
  } else {
    DrawText2(p, tr, label, accel, iconX, textColour);
  }
  p.restore();
}

void BCMenu::PaintItemFlat(QPainter& target, QRect r, const BCMenuData& d, uint32_t state, bool radio) const {
  const int spacing = Spacing();
  const QColor column =
      UseFlatMenuStyle() ? SystemColour(SysColour::BtnFace) : Lighten(SystemColour(SysColour::BtnFace), kColumnLighten);
  const QColor itemColour = SystemColour(SysColour::Window);
  const QColor highlight = SystemColour(SysColour::Highlight);
  const QColor highlightFill = Lighten(highlight, UseFlatMenuStyle() ? kHighlightFillFlat : kHighlightFillClassic);
  const int columnWidth = iconX + spacing;

  std::unique_ptr<BCMenuMemDC> offscreen;
  QPainter* pp = &target;
  if ((state & ODS_GRAYED) && g_FlatSelectDisabled == 0) {
    state &= ~ODS_SELECTED;
    offscreen = std::make_unique<BCMenuMemDC>(&target, r);
    pp = &offscreen->painter();
  }
  QPainter& p = *pp;
  p.save();
  p.setFont(MenuFont());
  const bool selected = state & ODS_SELECTED, grayed = state & ODS_GRAYED, checked = state & ODS_CHECKED;
  const QRect col(r.left(), r.top(), columnWidth, r.height());

  if (d.flags & MF_SEPARATOR) {
    p.fillRect(r, itemColour);
    p.fillRect(col, column);
    EtchedLine(p, col.right() + 1 + spacing, r.right(), r.top() + r.height() / 2);
    p.restore();
    return;
  }
  if (selected) {
    p.fillRect(r, highlightFill);
    p.setPen(highlight);
    p.drawRect(r.adjusted(0, 0, -1, -1));
  } else {
    p.fillRect(r, itemColour);
    p.fillRect(col, column);
  }
  int shared = -1;
  const QImage* image = ItemImage(d, &shared);
  const bool variants = d.images ? d.images->Count() > 2 : HasVariants(shared);
  const QImage* faded = nullptr;
  const QImage* shadow = nullptr;
  if (variants) {
    const MenuImageList& l = d.images ? *d.images : g_MenuImages;
    const int base = d.images ? d.imageOffset : shared;
    if (base + 2 < l.Count()) {
      faded = &l.images[base + 1];
      shadow = &l.images[base + 2];
    }
  }
  const int dx = static_cast<int>(std::lround(std::max(0.0, (columnWidth - iconX) / 2.0)));
  const int dy = static_cast<int>(std::lround(std::max(0.0, (r.height() - iconY) / 2.0)));
  const QPoint at(r.left() + dx, r.top() + dy);
  const QRect box(QPoint(r.left() + 1, r.top() + 1), QPoint(r.left() + columnWidth - 2, r.bottom() - 1));
  const bool customCheck = !image && checked && checkImages && checkImages->Count() >= 2 &&
                           ((selected && checkedSelectedImageId > 0) || checkedImageId > 0);
  if (customCheck) {
    p.fillRect(box, column);
    p.drawImage(at, checkImages->images[selected ? 1 : 0]);
  } else if (image) {
    if (grayed) {
      MenuImageList tmp{QSize(iconX, iconY), {*image}};
      const QImage flat = ImageToBitmap(tmp, 0, iconX, iconY);
      const QColor bg = selected ? highlightFill : column;
      if (embossWithDib)
        DrawEmbossedWithDib(p, at.x(), at.y(), iconX, iconY, flat, 0, 0, bg);
      else
        DrawEmbossed(p, at.x(), at.y(), iconX, iconY, flat, 0, 0, bg);
      if (selected) {
        p.setPen(highlight);
        p.drawRect(box);
      }
    } else if (selected) {
      p.fillRect(box, highlightFill);
      if (checked) {
        p.setPen(highlight);
        p.drawRect(box);
        p.drawImage(at - QPoint(1, 1), *image);
      } else if (shadow) {
        p.drawImage(at + QPoint(1, 1), *shadow);
        p.drawImage(at - QPoint(1, 1), *image);
      } else {
        p.drawImage(at, *image);
      }
    } else if (checked) {
      p.fillRect(box, Lighten(highlight, kHighlightFillClassic));
      p.setPen(highlight);
      p.drawRect(box);
      p.drawImage(at - QPoint(1, 1), *image);
    } else {
      p.fillRect(box, column);
      p.drawImage(at, faded ? *faded : *image);
    }
  } else if (checked) {
    const int bx = r.left() + static_cast<int>(std::lround((columnWidth - kFlatCheckBox) / 2.0));
    const int by = r.top() + static_cast<int>(std::lround((r.height() - kFlatCheckBox) / 2.0));
    DrawFlatCheckBox(p, QRect(bx, by, kFlatCheckBox, kFlatCheckBox), radio, highlight);
  }
  QColor textColour = SystemColour(SysColour::MenuText);
  if (grayed)
    textColour = UseFlatMenuStyle() || selected ? SystemColour(SysColour::GrayText)
                                                : Lighten(SystemColour(SysColour::GrayText), kGrayTextLighten);
  QString label, accel;
  SplitText(d.text, &label, &accel);
  DrawText2(p, QRect(QPoint(r.left() + columnWidth + 8, r.top() - 1), QPoint(r.right(), r.bottom() - 1)), label,
            accel, iconX, textColour);
  p.restore();
}

void BCMenu::paintEvent(QPaintEvent* event) {
  QMenu::paintEvent(event);
  QPainter p(this);
  const auto acts = actions();
  for (int i = 0; i < acts.size(); ++i) {
    QAction* a = acts[i];
    auto* d = static_cast<BCMenuData*>(a->data().value<void*>());
    if (!d || !(d->flags & MF_OWNERDRAW) || !a->isVisible()) continue;
    uint32_t state = 0;
    if (a == activeAction()) state |= ODS_SELECTED;
    if (!a->isEnabled()) state |= ODS_GRAYED;
    if (a->isChecked()) state |= ODS_CHECKED;
    const bool radio = a->actionGroup() && a->actionGroup()->isExclusive();
    DrawItem(p, actionGeometry(a), *d, state, radio);
  }
}

// ---- Marks ----

void DrawRadioDot(QPainter& p, int x, int y, QColor colour) {
  p.save();
  p.setPen(colour);
  p.setBrush(colour);
  p.drawEllipse(QRect(x, y, 5, 5));  // 6 x 6 pixels with the outline
  p.restore();
}

void DrawCheckTick(QPainter& p, int x, int y, QColor colour) {
  static constexpr int kStart[7] = {2, 3, 4, 3, 2, 1, 0};
  p.save();
  p.setPen(QPen(colour, 1));
  for (int i = 0; i < 7; ++i) p.drawLine(x + i, y + kStart[i], x + i, y + kStart[i] + 2);
  p.restore();
}

void DrawClassicCheckBox(QPainter& p, QRect r, bool selected, bool radio) {
  QColor bg = SystemColour(UseFlatMenuStyle() ? SysColour::BtnFace : SysColour::Menu);
  if (!selected) bg = Lighten(bg, kCheckedImageLighten);
  p.fillRect(r, bg);
  if (VersionCodeAbove1())
    Frame3d(p, r, SystemColour(SysColour::BtnShadow), SystemColour(SysColour::BtnHighlight));
  if (radio)
    DrawRadioDot(p, r.left() + 5, r.top() + 4, SystemColour(SysColour::MenuText));
  else
    DrawCheckTick(p, r.left() + 4, r.top() + 4, SystemColour(SysColour::MenuText));
}

void DrawFlatCheckBox(QPainter& p, QRect r, bool radio, QColor highlight) {
  p.fillRect(r, Lighten(highlight, kHighlightFillClassic));
  p.save();
  p.setPen(highlight);
  p.setBrush(Qt::NoBrush);
  p.drawRect(r.adjusted(0, 0, -1, -1));
  p.restore();
  if (radio)
    DrawRadioDot(p, r.left() + 5, r.top() + 4, SystemColour(SysColour::MenuText));
  else
    DrawCheckTick(p, r.left() + 5, r.top() + 4, SystemColour(SysColour::MenuText));
}

// ---- Disabled images ----

void DrawEmbossedWithDib(QPainter& p, int x, int y, int w, int h, const QImage& src, int sx, int sy, QColor bg) {
  // One bit per pixel: dark pixels of the source are the shape.
  QImage mono = src.copy(sx, sy, w, h).convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
  QImage mask(mono.size(), QImage::Format_Mono);
  mask.setColorCount(2);
  mask.setColor(0, qRgb(255, 255, 255));
  mask.setColor(1, qRgb(0, 0, 0));
  for (int yy = 0; yy < mono.height(); ++yy)
    for (int xx = 0; xx < mono.width(); ++xx) mask.setPixel(xx, yy, qGray(mono.pixel(xx, yy)) < 128 ? 1 : 0);
  DrawMask(p, x, y, w, h, mask, bg);
}

void DrawEmbossed(QPainter& p, int x, int y, int w, int h, const QImage& src, int sx, int sy, QColor bg) {
  // The shape: pixels that are neither the face colour nor the highlight colour.
  const QImage area = src.copy(sx, sy, w, h).convertToFormat(QImage::Format_ARGB32);
  const QRgb face = SystemColour(SysColour::BtnFace).rgb() & 0xFFFFFF;
  const QRgb light = SystemColour(SysColour::BtnHighlight).rgb() & 0xFFFFFF;
  QImage mask(area.size(), QImage::Format_Mono);
  mask.setColorCount(2);
  mask.setColor(0, qRgb(255, 255, 255));
  mask.setColor(1, qRgb(0, 0, 0));
  for (int yy = 0; yy < area.height(); ++yy)
    for (int xx = 0; xx < area.width(); ++xx) {
      const QRgb px = area.pixel(xx, yy);
      const bool shape = qAlpha(px) != 0 && (px & 0xFFFFFF) != face && (px & 0xFFFFFF) != light;
      mask.setPixel(xx, yy, shape ? 1 : 0);
    }
  DrawMask(p, x, y, w, h, mask, bg);
}

// ---- Variants ----

void MakeFadedVariant(QImage& image) {
  image = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb face = SystemColour(SysColour::BtnFace).rgb() & 0xFFFFFF;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb px = image.pixel(x, y);
      if ((px & 0xFFFFFF) != face) image.setPixel(x, y, BlendTowardWhite(px, kFadeFactor));
    }
}

void MakeShadowVariant(QImage& image) {
  image = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb face = SystemColour(SysColour::BtnFace).rgb() & 0xFFFFFF;
  QRgb shadow = SystemColour(SysColour::BtnShadow).rgb();
  if (!UseFlatMenuStyle()) shadow = BlendTowardWhite(shadow, kShadowLighten);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) != face) image.setPixel(x, y, shadow);
}

QImage ImageToBitmap(const MenuImageList& list, int index, int iconX, int iconY) {
  QImage out(std::max(1, iconX), std::max(1, iconY), QImage::Format_RGB32);
  out.fill(SystemColour(SysColour::BtnFace));
  if (index >= 0 && index < list.Count()) {
    QPainter p(&out);
    p.drawImage(0, 0, list.images[index]);
  }
  return out;
}

QImage MakeSwatchBitmap(QSize swatch, QSize bitmap, QColor fill, QColor border, int hatchStyle) {
  QImage out(bitmap.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  out.fill(SystemColour(UseFlatMenuStyle() ? SysColour::BtnFace : SysColour::Menu));
  QPainter p(&out);
  p.setPen(QPen(border, 1));
  // Hatch styles 0..5: horizontal, vertical, forward and backward diagonal, cross, diagonal cross.
  static constexpr Qt::BrushStyle kHatch[6] = {Qt::HorPattern,   Qt::VerPattern,   Qt::BDiagPattern,
                                               Qt::FDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
  p.setBrush(hatchStyle >= 0 && hatchStyle < 6 ? QBrush(fill, kHatch[hatchStyle]) : QBrush(fill));
  const QSize s = swatch.boundedTo(out.size());
  const int x = (out.width() - s.width()) / 2;
  const int y = (out.height() - s.height()) / 2;
  p.drawRect(x, y, s.width() - 1, s.height() - 1);
  return out;
}

// ---- Off-screen surface ----

BCMenuMemDC::BCMenuMemDC(QPainter* target, QRect rect) : target_(target), rect_(rect) {
  image_ = QImage(rect.size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
  image_.fill(Qt::transparent);
  painter_ = std::make_unique<QPainter>(&image_);
  painter_->setWindow(QRect(rect.topLeft(), image_.size()));
  painter_->setViewport(QRect(QPoint(0, 0), image_.size()));
}

BCMenuMemDC::~BCMenuMemDC() {
  painter_->end();
  if (target_) target_->drawImage(rect_.topLeft(), image_);
}

}  // namespace qm
