// How the chart paints: panel, legend, the three slice styles, percentage
// labels, the 3-D hit test and writing the picture to a file.
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <cmath>

#include "controls/pie_chart.h"

namespace qm {

namespace {

constexpr int kSelectionAlpha = 100;
constexpr double kOutlineWidth3D = 0.8;
constexpr int kPanelRadius = 30;
constexpr int kPanelMinRight = CPieChartWnd::kPanelMinWidth;
constexpr int kPanelMinBottom = CPieChartWnd::kPanelMinHeight;

QColor WithAlpha(QRgb argb, int alpha) {
  QColor c = QColor::fromRgb(qRed(argb), qGreen(argb), qBlue(argb));
  c.setAlpha(std::clamp(alpha, 0, 255));
  return c;
}

QColor Argb(QRgb argb) { return QColor::fromRgba(argb); }

QLinearGradient Vertical(double top, double bottom, QColor from, QColor to) {
  QLinearGradient g(QPointF(0, top), QPointF(0, bottom));
  g.setColorAt(0, from);
  g.setColorAt(1, to);
  return g;
}

QFont StyledFont(const QString& face, int style, double points) {
  QFont font(face.isEmpty() ? QStringLiteral("Sans Serif") : face);
  font.setStyleHint(QFont::SansSerif);
  font.setBold(style & 1);
  font.setItalic(style & 2);
  font.setUnderline(style & 4);
  font.setStrikeOut(style & 8);
  font.setPointSizeF(std::max(1.0, points));
  return font;
}

QPainterPath WholeFace(const QRectF& r) {
  QPainterPath path;
  path.addEllipse(r);
  return path;
}

}  // namespace

// One filled figure of the 3-D disc, in painting order.
struct CPieChartWnd::Element {
  enum Kind { kFace, kSideWall, kOuterWall };
  int key;
  Kind kind;
  QPainterPath path;
  double gradientTop = 0, gradientBottom = 0;
};

QFont CPieChartWnd::LegendFont(double points) const { return StyledFont(legendFace_, legendStyle_, points); }

QPointF CPieChartWnd::ExplodeOffset(const PieChartSlice& s, double start, double sweep) const {
  const double mid = (start + sweep / 2) * 3.14159265 / 180.0;
  return QPointF(static_cast<int>(std::cos(mid) * s.explode), static_cast<int>(std::sin(mid) * s.explode));
}

void CPieChartWnd::DrawSelection(QPainter& p, const QPainterPath& path, const PieChartSlice& s) {
  if (!s.selected) return;
  p.setBrush(WithAlpha(highlightColor_, kSelectionAlpha));
  p.setPen(QPen(Argb(highlightColor_), 1));
  p.drawPath(path);
}

QImage CPieChartWnd::RenderChart() {
  QImage image(std::max(1, width()), std::max(1, height()), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  if (style_ != kRing && style_ != kBevelPie && style_ != k3D) return image;
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  DrawBackground(p);
  DrawLegend(p);
  if (style_ == kRing) PaintRing(p);
  else if (style_ == kBevelPie) PaintBevelPie(p);
  else Paint3D(p);
  if (showLabels_) DrawSliceLabels(p, style_ == k3D ? projectedRotation_ : rotation_);
  return image;
}

void CPieChartWnd::paintEvent(QPaintEvent*) {
  const QImage image = RenderChart();
  SaveChartImage(image);
  QPainter p(this);
  p.drawImage(QPoint(0, 0), image);
}

void CPieChartWnd::DrawBackground(QPainter& p) {
  p.fillRect(QRect(0, 0, width(), height()), QColor(backgroundColor_.rgb()));
  const QRectF panel(0, 0, std::max(width(), kPanelMinRight), std::max(height(), kPanelMinBottom));
  QPainterPath outline;
  outline.addRoundedRect(panel, kPanelRadius, kPanelRadius);
  QLinearGradient g(QPointF(0, 0), QPointF(width(), height()));
  g.setColorAt(0, Argb(lightColor_));
  g.setColorAt(1, Argb(darkColor_));
  p.fillPath(outline, g);

  if (caption_.isEmpty()) return;
  const double points = std::min(14.0, static_cast<double>(static_cast<int>(panel.height()) / 10));
  const QFont font = StyledFont(captionFace_, captionStyle_, points);
  const QFontMetricsF fm(font, p.device());
  const double w = fm.horizontalAdvance(caption_);
  const double x = static_cast<int>(panel.left() + panel.right()) / 2 - w / 2;
  p.setFont(font);
  p.setPen(Argb(textColor_));
  p.drawText(QRectF(x, panel.top() + 10, w + 2, fm.height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
             caption_);
}

QFont CPieChartWnd::LegendTextFont() const {
  double points = LegendArea().height() / 25;
  if (points > 10) points = 11;
  if (legendFontSize_ > 0) points = legendFontSize_;
  return LegendFont(points);
}

void CPieChartWnd::DrawLegend(QPainter& p) {
  const ChartRect area = LegendArea();
  const QFont font = LegendTextFont();
  const QFontMetricsF fm(font, p.device());
  const int rowHeight = metrics_.rowHeight, gap = metrics_.gap, boxWidth = metrics_.boxWidth;

  int labelWidth = 0;
  for (const auto& [key, s] : slices_)
    labelWidth = std::max(labelWidth, static_cast<int>(std::ceil(fm.horizontalAdvance(s->label))) + 1);
  const int pctWidth = static_cast<int>(std::ceil(fm.horizontalAdvance(QStringLiteral("100.00%")))) + 1;
  const int pctHeight = static_cast<int>(std::ceil(fm.height()));

  const int W = area.width();
  int firstRowY = area.top;
  if (legendRect_.allZero()) {
    // Without a set area the rows are centred on the legend's height.
    const int centre = (area.top + area.bottom) / 2;
    firstRowY = std::max(area.top, centre - (rowHeight + gap) * sliceCount_ / 2);
  }
  const int needed = pctWidth + labelWidth + boxWidth + W / 10;
  const int right = area.left + needed;

  const int columnX = right - pctWidth - W / 30;
  p.fillRect(QRect(columnX, firstRowY, pctWidth, std::min(contentHeight_, lastFittingBottom_)), Argb(legendColor_));

  p.setFont(font);
  const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine;
  int y = firstRowY + 1;
  auto it = slices_.begin();
  std::advance(it, std::min<int>(firstRow_, static_cast<int>(slices_.size())));
  for (int row = firstRow_; it != slices_.end() && y + rowHeight <= area.bottom; ++it, ++row) {
    const PieChartSlice& s = *it->second;
    p.setPen(Argb(textColor_));
    p.drawText(QRectF(right - pctWidth - W / 35, y, pctWidth, rowHeight), flags, pie::LegendPercentText(s.fraction));
    if (row != firstRow_) {
      const double ly = y - (rowHeight + gap - pctHeight) / 2;
      p.setPen(QPen(Argb(pie::LightenColor(legendColor_, 200)), 1));
      p.drawLine(QPointF(columnX, ly), QPointF(columnX + pctWidth, ly));
    }
    const int labelX = columnX - W / 30 - labelWidth;
    p.setPen(Argb(textColor_));
    p.drawText(QRectF(labelX, y, labelWidth, rowHeight), flags, s.label);
    const int boxX = labelX - boxWidth - W / 30;
    const QRectF box(boxX, y, boxWidth, rowHeight);
    p.fillRect(box, Argb(s.color));
    p.setPen(QPen(Argb(pie::LightenColor(s.color, 200)), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(box);
    y += rowHeight + gap;
  }
}

void CPieChartWnd::DrawSliceLabels(QPainter& p, float startAngle) {
  if (!labelText_) return;
  const ChartRect pieArea = PieArea();
  const double points = std::clamp(pieArea.height() / 25, 7, 11);
  const QFont font = LegendFont(points);
  const QFontMetricsF fm(font, p.device());
  p.setFont(font);
  p.setPen(Argb(textColor_));
  const pie::FaceRects faces = pie::GetFaceRects(pieArea, inclination_, thicknessRatio_);
  const QPointF centre((pieArea.left + pieArea.right) / 2, (pieArea.top + pieArea.bottom) / 2);
  double running = startAngle;
  for (const auto& [key, s] : slices_) {
    QPointF anchor;
    if (style_ == k3D) {
      QRectF top = faces.top.toRectF().translated(ExplodeOffset(*s, running, s->projectedSweep));
      top.adjust(top.width() / 10, top.height() / 10, -top.width() / 10, -top.height() / 10);
      anchor = pie::EllipsePoint(top, running + s->projectedSweep / 2);
      running += s->projectedSweep;
    } else {
      const int radius = (s->explode / 2 + pieArea.width() / 5) * 2;
      const double mid = (running + s->sweep / 2) * 3.14159265 / 180.0;
      anchor = centre + QPointF(std::cos(mid) * radius, std::sin(mid) * radius);
      running += s->sweep;
    }
    const QString text = pie::SlicePercentText(s->fraction);
    const double w = fm.horizontalAdvance(text), h = fm.height();
    p.drawText(QRectF(anchor.x() - w / 2, anchor.y() - h / 2, w + 1, h), Qt::AlignCenter | Qt::TextDontClip, text);
  }
}

void CPieChartWnd::PaintRing(QPainter& p) {
  const ChartRect pieArea = PieArea();
  const QRectF rect = pieArea.toRectF();
  QLinearGradient panel(QPointF(0, 0), QPointF(width(), height()));
  panel.setColorAt(0, Argb(lightColor_));
  panel.setColorAt(1, Argb(darkColor_));
  const int k = pieArea.height() / 15;
  double running = rotation_;
  for (const auto& [key, s] : slices_) {
    const QRectF r = rect.translated(ExplodeOffset(*s, running, s->sweep));
    const QPainterPath outer = pie::PieFigure(r, running, s->sweep);
    p.setPen(Qt::NoPen);
    p.fillPath(outer, Vertical(r.top(), r.bottom(), Argb(s->lightColor), Argb(s->darkColor)));
    const QRectF inset = r.adjusted(k, k, -k, -k);
    p.fillPath(pie::PieFigure(inset, running, s->sweep),
               Vertical(inset.top(), inset.bottom(), Argb(s->darkColor), Argb(s->lightColor)));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Argb(pie::LightenColor(s->color, 160)), 1));
    p.drawPath(outer);
    DrawSelection(p, outer, *s);
    // The centre hole shows the panel through the ring.
    const double h = 4.5 * k;
    const QPainterPath hole = pie::PieFigure(r.adjusted(h, h, -h, -h), running, s->sweep);
    p.setBrush(panel);
    p.setPen(QPen(QBrush(panel), 5));
    p.drawPath(hole);
    running += s->sweep;
  }
}

void CPieChartWnd::PaintBevelPie(QPainter& p) {
  const QRectF rect = PieArea().toRectF();
  const double k = rect.width() / 25.0;
  double running = rotation_;
  for (const auto& [key, s] : slices_) {
    const QRectF r = rect.translated(ExplodeOffset(*s, running, s->sweep));
    const QPainterPath outer = pie::PieFigure(r, running, s->sweep);
    p.fillPath(outer, Vertical(r.top(), r.bottom(), Argb(s->darkColor), Argb(s->color)));
    const QRectF inset = r.adjusted(k, k, -k, -k);
    p.fillPath(pie::PieFigure(inset, running, s->sweep),
               Vertical(inset.top(), inset.bottom(), Argb(s->color), Argb(s->lightColor)));
    DrawSelection(p, outer, *s);
    running += s->sweep;
  }
}

std::vector<CPieChartWnd::Element> CPieChartWnd::Build3DScene() {
  std::vector<Element> scene;
  const ChartRect pieArea = PieArea();
  const pie::FaceRects faces = pie::GetFaceRects(pieArea, inclination_, thicknessRatio_);
  std::vector<float> sweeps;
  std::vector<int> keys;
  for (const auto& [key, s] : slices_) {
    sweeps.push_back(s->sweep);
    keys.push_back(key);
  }
  const pie::Projection proj = pie::ComputeProjection(pieArea, inclination_, thicknessRatio_, rotation_, sweeps);
  projectedRotation_ = proj.projectedRotation;
  for (size_t i = 0; i < keys.size(); ++i) {
    PieChartSlice& s = *slices_[keys[i]];
    s.projectedSweep = proj.projectedSweeps[i];
    s.startPoint = proj.startPoints[i];
    s.endPoint = proj.endPoints[i];
  }
  const pie::DrawPlan plan = pie::Plan3D(proj.projectedRotation, proj.projectedSweeps);
  frontKey_ = plan.frontIndex >= 0 ? keys[plan.frontIndex] : -1;
  backKey_ = plan.backIndex >= 0 ? keys[plan.backIndex] : -1;

  const double depth = faces.bottom.top - faces.top.top;
  for (const pie::DrawStep& step : plan.steps) {
    const int key = keys[step.index];
    const PieChartSlice& s = *slices_[key];
    const double start = step.start, sweep = s.projectedSweep;
    const QPointF off = ExplodeOffset(s, start, sweep);
    const QRectF top = faces.top.toRectF().translated(off);
    const QRectF bottom = faces.bottom.toRectF().translated(off);
    const QPointF centre = QPointF((faces.top.left + faces.top.right) / 2, (faces.top.top + faces.top.bottom) / 2) + off;
    const QPointF down(0, depth);
    const std::vector<pie::SlicePiece> pieces =
        step.half == 0 ? pie::SlicePieces(start, sweep, step.role) : pie::SplitSlicePieces(start, sweep, step.half == 1);
    // A slice that is the whole disc has no edges: its faces are full ellipses, without walls.
    const bool whole = sweep >= 360.0;
    for (const pie::SlicePiece& piece : pieces) {
      if (whole && (piece.piece == pie::Piece::kStartWall || piece.piece == pie::Piece::kEndWall)) continue;
      Element e{key, Element::kFace, {}, 0, 0};
      switch (piece.piece) {
        case pie::Piece::kBottomFace:
          e.path = whole ? WholeFace(bottom) : pie::PieFigure(bottom, start, sweep);
          e.gradientTop = bottom.top();
          e.gradientBottom = bottom.bottom();
          break;
        case pie::Piece::kTopFace:
          e.path = whole ? WholeFace(top) : pie::PieFigure(top, start, sweep);
          e.gradientTop = top.top();
          e.gradientBottom = top.bottom();
          break;
        case pie::Piece::kStartWall:
        case pie::Piece::kEndWall: {
          const QPointF rim = pie::EllipsePoint(top, piece.piece == pie::Piece::kStartWall ? start : start + sweep);
          e.kind = Element::kSideWall;
          e.path.moveTo(rim);
          e.path.lineTo(rim + down);
          e.path.lineTo(centre + down);
          e.path.lineTo(centre);
          e.path.closeSubpath();
          break;
        }
        case pie::Piece::kOuterWall:
          e.kind = Element::kOuterWall;
          e.path.moveTo(pie::EllipsePoint(top, piece.from));
          pie::AddArc(e.path, top, piece.from, piece.to - piece.from);
          e.path.lineTo(pie::EllipsePoint(bottom, piece.to));
          pie::AddArc(e.path, bottom, piece.to, piece.from - piece.to);
          e.path.closeSubpath();
          e.gradientTop = top.top();
          e.gradientBottom = bottom.bottom();
          break;
      }
      scene.push_back(std::move(e));
    }
  }
  return scene;
}

void CPieChartWnd::DrawElement(QPainter& p, const Element& e) {
  const PieChartSlice& s = *slices_.at(e.key);
  switch (e.kind) {
    case Element::kFace:
      p.setBrush(Vertical(e.gradientTop, e.gradientBottom, WithAlpha(s.darkColor, s.alpha),
                          WithAlpha(s.lightColor, s.alpha)));
      break;
    case Element::kSideWall:
      p.setBrush(WithAlpha(pie::LightenColor(s.color, 120), s.alpha));
      break;
    case Element::kOuterWall:
      p.setBrush(Vertical(e.gradientTop, e.gradientBottom, WithAlpha(s.lightColor, s.alpha),
                          WithAlpha(s.darkColor, s.alpha)));
      break;
  }
  p.setPen(QPen(Argb(s.color), kOutlineWidth3D));
  p.drawPath(e.path);
  DrawSelection(p, e.path, s);
}

void CPieChartWnd::Paint3D(QPainter& p) {
  for (const Element& e : Build3DScene()) DrawElement(p, e);
}

bool CPieChartWnd::HitTest3D(const QPointF& point) {
  // Topmost first: the reverse of the painting order.
  const std::vector<Element> scene = Build3DScene();
  for (auto it = scene.rbegin(); it != scene.rend(); ++it) {
    if (it->path.contains(point)) {
      slices_.at(it->key)->selected = 1;
      return true;
    }
  }
  return false;
}

bool CPieChartWnd::HitTestFlat(const QPointF& point) {
  const ChartRect pieArea = PieArea();
  const QRectF rect = pieArea.toRectF();
  double running = rotation_;
  for (auto& [key, s] : slices_) {
    const QRectF r = rect.translated(ExplodeOffset(*s, running, s->sweep));
    QPainterPath figure = pie::PieFigure(r, running, s->sweep);
    if (style_ == kRing) {
      // The hole's figure, filled alternately, cuts the centre out.
      const double side = 6 * (pieArea.width() / 15);
      const QRectF hole(r.center().x() - side / 2, r.center().y() - side / 2, side, side);
      figure.addPath(pie::PieFigure(hole, running, s->sweep));
      figure.setFillRule(Qt::OddEvenFill);
    }
    if (figure.contains(point)) {
      s->selected = 1;
      return true;
    }
    running += s->sweep;
  }
  return false;
}

void CPieChartWnd::SaveChartImage(const QImage& image) {
  if (!savePending_) return;
  savePending_ = false;
  // The type is named by the file name's own extension; a full stop in a
  // folder name does not count.
  const QString mime = QStringLiteral("image/") + QFileInfo(savePath_).suffix();
  const QList<QByteArray> formats = QImageWriter::imageFormatsForMimeType(mime.toLatin1());
  if (formats.isEmpty()) return;  // no encoder for that type: nothing is written
  image.save(savePath_, formats.first().constData());
}

}  // namespace qm
