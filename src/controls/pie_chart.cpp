#include "controls/pie_chart.h"

#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qm {

namespace pie {

namespace {

constexpr double kPi = 3.14159265;  // the precision the angle conversions were tuned with
constexpr int kMinSide = 150;       // smallest derived pie or legend side
constexpr int kAreaTop = 100;       // derived areas leave room for the caption
constexpr int kAreaLeft = 30;
constexpr int kAreaBottom = 30;
constexpr int kPieGap = 10;         // between the derived pie and the legend

int ShadeChannel(double v) { return static_cast<int>(std::clamp(v, 0.0, 255.0)); }

double Rad(double degrees) { return degrees * kPi / 180.0; }

// Parametric angle of the ellipse point that lies at a screen angle.
double ParamAngle(double angle, double rx, double ry) {
  if (rx <= 0 || ry <= 0) return angle;
  const double a = Rad(angle);
  double t = std::atan2(rx * std::sin(a), ry * std::cos(a)) * 180.0 / kPi;
  // Stay on the same turn as the screen angle: the two never differ by 90 or more.
  t += 360.0 * std::round((angle - t) / 360.0);
  return t;
}

}  // namespace

QRgb LightenColor(QRgb color, float factor) {
  auto up = [factor](int v) { return ShadeChannel(v + ((255.0f - v) / 255.0f) * factor); };
  return qRgba(up(qRed(color)), up(qGreen(color)), up(qBlue(color)), 255);
}

QRgb DarkenColor(QRgb color, float factor) {
  auto down = [factor](int v) { return ShadeChannel(v - (v / 255.0f) * factor); };
  return qRgba(down(qRed(color)), down(qGreen(color)), down(qBlue(color)), 255);
}

double AngleFromPoint(double x, double y, const ChartRect& r) {
  const double dx = x - (r.left + r.right) / 2;
  const double dy = y - (r.top + r.bottom) / 2;
  // The centre itself has no direction; 0 keeps the caller's arithmetic finite.
  if (dx == 0 && dy == 0) return 0;
  double angle = std::atan(dy / dx) * 180.0 / kPi;
  if (dx < 0) angle += 180;
  else if (dy < 0) angle += 360;
  if (angle >= 360) angle -= 360;
  return angle;
}

ChartRect ComputeChartRect(bool pie, const ChartRect& set, const ChartRect& client, int legendLeft, int pieOffset) {
  if (!set.allZero()) return set;
  ChartRect r;
  r.top = client.top + kAreaTop;
  r.bottom = client.bottom - kAreaBottom;
  if (!pie) {
    // The derived legend sits right of the pie, clear of its scroll bar.
    r.left = legendLeft;
    r.right = client.right - 20;
    r.left += pieOffset;
    r.right += pieOffset;
    return r;
  }
  r.left = client.left + kAreaLeft;
  r.right = legendLeft - kPieGap;
  int w = r.width(), h = r.height();
  if (h > w) {
    w = std::max(w, kMinSide);
    r.top = (r.top + r.bottom) / 2 - w / 2;
    r.bottom = r.top + w;
    r.right = r.left + w;
  } else {
    h = std::max(h, kMinSide);
    r.bottom = r.top + h;
    r.right = r.left + h;
  }
  if (r.width() % 2 != 0) {
    r.right += 1;
    r.bottom += 1;
  }
  r.left += pieOffset;
  r.right += pieOffset;
  return r;
}

LegendMetrics ComputeLegendMetrics(int legendWidth, int legendHeight) {
  LegendMetrics m;
  legendWidth = std::max(legendWidth, 0);
  legendHeight = std::max(legendHeight, 0);
  m.rowHeight = std::min(legendHeight / 15, 25);
  m.boxWidth = std::min(legendWidth, 375) / 8;
  m.gap = std::min(legendHeight / 20, 18);
  return m;
}

LegendExtent ComputeLegendExtent(int count, int legendHeight, const LegendMetrics& m) {
  LegendExtent e;
  int y = 0;
  for (int i = 0; i < count; ++i) {
    if (y + m.rowHeight <= legendHeight) e.lastFittingBottom = y + m.rowHeight;
    y += m.rowHeight + m.gap;
  }
  // No rows, no height (not minus one gap).
  e.contentHeight = count > 0 ? y - m.gap : 0;
  return e;
}

int LastFirstRow(int count, int legendHeight, const LegendMetrics& m) {
  // A legend too small for one row has a zero step; one pixel keeps the division sound.
  const int step = std::max(1, m.rowHeight + m.gap);
  return std::max(0, count - (legendHeight - m.rowHeight) / step - 1);
}

int FirstRowFromOffset(int offset, bool fromThumb, int currentRow, int scrollLimit, int count, int legendHeight,
                       const LegendMetrics& m, int* position) {
  const int step = std::max(1, m.rowHeight + m.gap);
  if (scrollLimit == 0 && fromThumb) return currentRow;
  if (fromThumb && scrollLimit - offset < m.rowHeight) {
    if (position) *position = scrollLimit;
    return LastFirstRow(count, legendHeight, m);
  }
  if (offset > 0) return std::min(offset / step, count);
  if (offset == 0) return 0;
  return currentRow;
}

QString SlicePercentText(float fraction) {
  return QString::asprintf("%.2f", static_cast<double>(fraction) * 100.0) + QLatin1Char('%');
}

QString LegendPercentText(float fraction) {
  QString text = SlicePercentText(fraction);
  // Decided on the rounded text, so 9.999 % reads 10.00% and not 010.00%.
  if (text.indexOf(QLatin1Char('.')) == 1) text.prepend(QLatin1Char('0'));
  return text;
}

FaceRects GetFaceRects(const ChartRect& pie, float inclination, float thicknessRatio) {
  FaceRects f;
  f.squash = static_cast<int>(pie.height() * inclination / 180.0f);
  f.middle = pie;
  f.middle.top += f.squash;
  f.middle.bottom -= f.squash;
  f.depth = static_cast<int>(f.squash * thicknessRatio * 0.5f);
  f.top = f.middle;
  f.top.top -= f.depth;
  f.top.bottom -= f.depth;
  f.bottom = f.middle;
  f.bottom.top += f.depth;
  f.bottom.bottom += f.depth;
  return f;
}

Projection ComputeProjection(const ChartRect& pie, float inclination, float thicknessRatio, float rotation,
                             const std::vector<float>& sweeps) {
  Projection p;
  const FaceRects faces = GetFaceRects(pie, inclination, thicknessRatio);
  const double halfW = pie.width() / 2.0, halfH = pie.height() / 2.0;
  const int cx = (pie.left + pie.right) / 2, cy = (pie.top + pie.bottom) / 2;
  const double c = faces.squash;
  const double rot = Rad(rotation);
  p.projectedRotation = static_cast<float>(
      AngleFromPoint(std::cos(rot) * halfW + cx, std::sin(rot) * halfH + cy - std::sin(rot) * c, faces.middle));

  double a = rotation, b = p.projectedRotation;
  const size_t n = sweeps.size();
  p.projectedSweeps.resize(n);
  p.endPoints.resize(n);
  p.startPoints.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const double sweep = sweeps[i];
    const double e = Rad(a + sweep);
    const double x = std::cos(e) * halfW + cx;
    double y = std::sin(e) * halfH + cy;
    y -= std::sin(e) * c;
    const double angle = AngleFromPoint(x, y, faces.middle);
    double projected;
    if (sweep == 360.0) {
      projected = 360.0;
    } else {
      projected = std::fmod(angle - b, 360.0);
      if (projected < 0) projected += 360.0;
      // The projection keeps half-discs half-discs, so a result on the
      // wrong side of 180 is rounding across the wrap: a sliver, not a disc
      // (or the reverse for a slice of nearly the whole disc).
      if (sweep < 180.0 && projected > 180.0) projected = 0.0;
      else if (sweep > 180.0 && projected < 180.0) projected = 360.0;
    }
    y -= faces.depth;
    p.projectedSweeps[i] = static_cast<float>(projected);
    p.endPoints[i] = QPointF(x, y);
    b += projected;
    a += sweep;
  }
  for (size_t i = 0; i < n; ++i) p.startPoints[i] = p.endPoints[i == 0 ? n - 1 : i - 1];
  return p;
}

QPointF EllipsePoint(const QRectF& r, double angle) {
  const double rx = r.width() / 2, ry = r.height() / 2;
  const double t = Rad(ParamAngle(angle, rx, ry));
  return QPointF(r.center().x() + rx * std::cos(t), r.center().y() + ry * std::sin(t));
}

void AddArc(QPainterPath& path, const QRectF& r, double start, double sweep) {
  const double rx = r.width() / 2, ry = r.height() / 2;
  const double t0 = ParamAngle(start, rx, ry);
  const double t1 = ParamAngle(start + sweep, rx, ry);
  // Screen angles grow clockwise; the path's grow counter-clockwise.
  if (path.elementCount() == 0) path.arcMoveTo(r, -t0);
  path.arcTo(r, -t0, -(t1 - t0));
}

QPainterPath PieFigure(const QRectF& r, double start, double sweep) {
  QPainterPath path;
  path.moveTo(r.center());
  AddArc(path, r, start, sweep);
  path.closeSubpath();
  return path;
}

std::vector<SlicePiece> SlicePieces(double s, double sweep, Role role) {
  const double e = s + sweep;
  using P = Piece;
  const SlicePiece bottom{P::kBottomFace}, top{P::kTopFace}, start{P::kStartWall}, end{P::kEndWall};
  auto outer = [](double a, double b) { return SlicePiece{P::kOuterWall, a, b}; };
  std::vector<SlicePiece> walls;
  if (s > 180 && s < 360 && e > 360 && e < 540) {
    if (role == Role::kBack) walls = {outer(s, 360), end, outer(0, e - 360), start};
    else walls = {start, outer(s, 360), end, outer(0, e - 360)};
  } else if (s >= 0 && s < 180 && e > 180 && e < 360) {
    if (role == Role::kBack) walls = {outer(180, e), start, outer(s, 180), end};
    else walls = {end, outer(180, e), start, outer(s, 180)};
  } else if (s > 0 && s < 180 && e >= 360) {
    walls = {outer(180, 360), outer(s, 180), outer(0, e - 360), start, end};
  } else if (s >= 180 && s < 360 && e > 540) {
    walls = {start, end, outer(s, 360), outer(180, e - 360), outer(0, 180)};
  } else {
    switch (role) {
      case Role::kRight: walls = {start, outer(s, e), end}; break;
      case Role::kLeft: walls = {end, outer(s, e), start}; break;
      case Role::kBack: walls = {outer(s, e), end, start}; break;
      case Role::kFront: walls = {end, start, outer(s, e)}; break;
    }
  }
  std::vector<SlicePiece> pieces{bottom};
  pieces.insert(pieces.end(), walls.begin(), walls.end());
  pieces.push_back(top);
  return pieces;
}

std::vector<SlicePiece> SplitSlicePieces(double s, double sweep, bool firstHalf) {
  const double e = s + sweep, f = e - 360;
  using P = Piece;
  const SlicePiece bottom{P::kBottomFace}, top{P::kTopFace}, start{P::kStartWall}, end{P::kEndWall};
  auto outer = [](double a, double b) { return SlicePiece{P::kOuterWall, a, b}; };
  if (firstHalf) {
    if (s <= 90 || s > 270) {
      if (e <= 360) return {bottom, outer(180, e), end};
      if (e <= 630) return {bottom, outer(180, 360), outer(0, f), end};
      return {bottom, outer(180, f), end};
    }
    // Starts of exactly 180 and 270 belong to the neighbouring cases, so no
    // split slice loses its bottom face and back walls.
    if (s > 90 && s <= 180) return {bottom, outer(180, 360), outer(s, 180), start};
    if (s > 180 && s <= 270) return {bottom, outer(s, 360), start};
    return {};
  }
  if (s >= 0 && s <= 90) return {start, outer(s, 180), top};
  if (s > 90 && s < 270 && f > 90 && f < 180) return {end, outer(0, f), top};
  if (s > 90 && s < 270 && f >= 180) return {end, outer(180, f), outer(0, 180), top};
  if (s > 180 && s < 360) return {start, outer(s, 360), outer(0, 180), top};
  return {};
}

DrawPlan Plan3D(float projectedRotation, const std::vector<float>& projectedSweeps) {
  DrawPlan plan;
  const int n = static_cast<int>(projectedSweeps.size());
  if (n == 0) return plan;
  std::vector<double> starts(n);
  double running = projectedRotation;
  if (running >= 360) running -= 360;
  for (int i = 0; i < n; ++i) {
    starts[i] = running;
    running += projectedSweeps[i];
    if (running >= 360) running -= 360;
  }
  auto contains = [&](int i, double x) {
    const double o = starts[i], s = projectedSweeps[i];
    return (o <= x && x < o + s) || (o >= x && o + s - 360 > x);
  };
  // Sweeps that add up to a hair under 360 leave a sliver that no slice
  // holds; the slice nearest to the angle then takes it.
  auto distance = [&](int i, double x) {
    if (contains(i, x)) return 0.0;
    auto around = [](double d) {
      d = std::fmod(std::fabs(d), 360.0);
      return std::min(d, 360.0 - d);
    };
    return std::min(around(x - starts[i]), around(x - (starts[i] + projectedSweeps[i])));
  };
  auto find = [&](double x) {
    int found = -1;
    for (int i = 0; i < n; ++i)
      if (contains(i, x)) found = i;
    if (found >= 0) return found;
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < n; ++i)
      if (distance(i, x) < best) {
        best = distance(i, x);
        found = i;
      }
    return found;
  };
  const int front = find(90), back = find(270);
  plan.frontIndex = front;
  plan.backIndex = back;

  const double backStart = starts[back];
  double backEnd = backStart + projectedSweeps[back];
  if (backEnd >= 360) backEnd -= 360;
  bool left = true, right = true;
  if (front == back) {
    left = backStart > 90 && backStart <= 270;
    right = !left;
  }

  plan.steps.push_back({back, backStart, Role::kBack, front == back ? 1 : 0});
  if (left) {
    double prev = backStart;
    for (int k = (back - 1 + n) % n, guard = 0; k != front && guard < n; k = (k - 1 + n) % n, ++guard) {
      prev -= projectedSweeps[k];
      plan.steps.push_back({k, prev, Role::kLeft, 0});
    }
  }
  double run = backEnd;
  if (right) {
    for (int k = (back + 1) % n, guard = 0; k != front && guard < n; k = (k + 1) % n, ++guard) {
      plan.steps.push_back({k, run, Role::kRight, 0});
      run += projectedSweeps[k];
      if (run >= 360) run -= 360;
    }
  }
  if (front != back) plan.steps.push_back({front, run, Role::kFront, 0});
  else plan.steps.push_back({front, backStart, Role::kFront, 2});
  return plan;
}

}  // namespace pie

// ------------------------------------------------------------------ chart

namespace {

constexpr int kScrollBarId = 1;

}  // namespace

CPieChartWnd::CPieChartWnd(QWidget* parent) : QWidget(parent) {
  scrollBar_ = new QScrollBar(Qt::Vertical, this);
  scrollBar_->setObjectName(QStringLiteral("legendScrollBar%1").arg(kScrollBarId));
  scrollBar_->hide();
  scrollBar_->setGeometry(width() - 40, 10, 20, std::max(0, height() - 20));
  scrollBar_->setRange(0, 0);
  connect(scrollBar_, &QScrollBar::actionTriggered, this, [this](int action) {
    switch (action) {
      case QAbstractSlider::SliderSingleStepSub: OnLegendScroll(kLineUp); break;
      case QAbstractSlider::SliderSingleStepAdd: OnLegendScroll(kLineDown); break;
      case QAbstractSlider::SliderPageStepSub: OnLegendScroll(kPageUp); break;
      case QAbstractSlider::SliderPageStepAdd: OnLegendScroll(kPageDown); break;
      case QAbstractSlider::SliderMove: OnLegendScroll(kThumbTrack, scrollBar_->sliderPosition()); break;
      default: break;
    }
  });
}

CPieChartWnd::~CPieChartWnd() = default;

bool CPieChartWnd::Create(const QString& caption, const QRect& rect, QWidget* parent, int id) {
  caption_ = caption;
  id_ = id;
  if (parent != parentWidget()) setParent(parent);
  setGeometry(rect);
  LayoutLegend();
  show();
  return true;
}

ChartRect CPieChartWnd::Client() const { return ChartRect{0, 0, width(), height()}; }

ChartRect CPieChartWnd::PieArea() const {
  return pie::ComputeChartRect(true, pieRect_, Client(), legendLeft_, pieOffset_);
}

ChartRect CPieChartWnd::LegendArea() const {
  return pie::ComputeChartRect(false, legendRect_, Client(), legendLeft_, pieOffset_);
}

std::vector<const PieChartSlice*> CPieChartWnd::Slices() const {
  std::vector<const PieChartSlice*> out;
  for (const auto& [key, slice] : slices_) out.push_back(slice.get());
  return out;
}

int CPieChartWnd::ScrollPosition() const { return scrollBar_->value(); }
int CPieChartWnd::ScrollLimit() const { return scrollBar_->maximum(); }

void CPieChartWnd::SetScrollPosition(int position) {
  scrollBar_->setValue(std::clamp(position, 0, ScrollLimit()));
}

// ----------------------------------------------------------- properties

void CPieChartWnd::SetBackgroundColor(QColor color) {
  backgroundColor_ = color;
  update();
}

void CPieChartWnd::SetInclination(float degrees) {
  inclination_ = std::isnan(degrees) ? 0.0f : std::clamp(degrees, 0.0f, 89.0f);
  update();
}

int CPieChartWnd::SetThickness(float pixels) {
  if (!(pixels >= 0) || std::isinf(pixels)) return 0;
  // A pie a pixel or two high would divide by zero.
  const int divisor = std::max(1, PieArea().height() * 89 / 180);
  thicknessRatio_ = pixels / divisor;
  update();
  return 1;
}

void CPieChartWnd::SetBaseColor(QRgb argb) {
  baseColor_ = argb;
  darkColor_ = pie::DarkenColor(argb, darkenFactor_);
  lightColor_ = pie::LightenColor(argb, lightenFactor_);
  update();
}

void CPieChartWnd::SetLegendColor(QRgb argb) {
  legendColor_ = argb;
  update();
}

int CPieChartWnd::SetTransparency(float percent) {
  if (std::isnan(percent)) percent = 0;
  const double p = std::clamp(static_cast<double>(percent), 0.0, 100.0);
  const int alpha = static_cast<int>((1.0 - p / 100.0) * 255.0);
  for (auto& [key, slice] : slices_) slice->alpha = alpha;
  update();
  return 1;
}

void CPieChartWnd::SetPieRect(const QRect& rect) {
  pieRect_ = ChartRect::FromQRect(rect);
  update();
}

void CPieChartWnd::SetLegendRect(const QRect& rect) {
  legendRect_ = ChartRect::FromQRect(rect);
  LayoutLegend();
  update();
}

void CPieChartWnd::SetChartStyle(int style) {
  style_ = style;
  update();
}

void CPieChartWnd::SetRotation(float degrees) {
  if (!std::isfinite(degrees)) return;
  if (degrees >= 360.0f) degrees = std::fmod(degrees, 360.0f);
  rotation_ = projectedRotation_ = degrees;
  update();
}

void CPieChartWnd::SetTextColor(QRgb argb) {
  textColor_ = argb;
  update();
}

void CPieChartWnd::SetHighlightColor(QRgb argb) {
  highlightColor_ = argb;
  update();
}

void CPieChartWnd::SetShowLabels(int on) {
  showLabels_ = on;
  update();
}

void CPieChartWnd::SetLegendFontSize(int points) {
  legendFontSize_ = points;
  update();
}

void CPieChartWnd::SetLightenFactor(float factor) {
  lightenFactor_ = factor;
  lightColor_ = pie::LightenColor(baseColor_, factor);
  update();
}

void CPieChartWnd::SetDarkenFactor(float factor) {
  darkenFactor_ = factor;
  darkColor_ = pie::DarkenColor(baseColor_, factor);
  update();
}

int CPieChartWnd::SetPieOffset(int offset) {
  if (offset == pieOffset_) return 0;
  pieOffset_ = offset;
  update();
  return 1;
}

void CPieChartWnd::SetCaption(const QString& caption) {
  caption_ = caption;
  update();
}

namespace {

int StyleBits(const QFont& font) {
  return (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0) | (font.strikeOut() ? 8 : 0);
}

}  // namespace

void CPieChartWnd::SetLegendFont(const QFont& font) {
  legendFace_ = font.family();
  legendStyle_ = StyleBits(font);
  update();
}

void CPieChartWnd::SetCaptionFont(const QFont& font) {
  captionFace_ = font.family();
  captionStyle_ = StyleBits(font);
  update();
}

// --------------------------------------------------------------- slices

PieChartSlice* CPieChartWnd::AddSlice(const QString& name, const QString& label, double value, QRgb color,
                                      int labelText) {
  labelText_ = labelText;
  if (name.isEmpty() || FindSliceByName(name) || !(value > 0) || !std::isfinite(value)) return nullptr;
  auto slice = std::make_unique<PieChartSlice>();
  slice->value = value;
  slice->color = color;
  slice->lightColor = pie::LightenColor(color, slice->lightenFactor);
  slice->darkColor = pie::DarkenColor(color, slice->darkenFactor);
  slice->label = label;
  slice->name = name;
  slice->order = sliceCount_;
  PieChartSlice* raw = slice.get();
  slices_[sliceCount_] = std::move(slice);
  ++sliceCount_;
  total_ += value;
  RecalcPercentages();
  UpdateLegendExtent();
  update();
  return raw;
}

void CPieChartWnd::RecalcPercentages() {
  if (!(total_ > 0)) return;
  for (auto& [key, slice] : slices_) {
    slice->fraction = static_cast<float>(slice->value / total_);
    slice->sweep = slice->fraction * 360.0f;
    slice->projectedSweep = slice->sweep;
  }
}

int CPieChartWnd::RemoveAllSlices() {
  slices_.clear();
  total_ = 0;
  sliceCount_ = 0;
  AfterRemoval();
  return 1;
}

void CPieChartWnd::AfterRemoval() {
  UpdateLegendExtent();
  firstRow_ = pie::FirstRowFromOffset(ScrollPosition(), false, firstRow_, ScrollLimit(), sliceCount_,
                                      LegendArea().height(), metrics_, nullptr);
  update();
}

int CPieChartWnd::KeyOf(const PieChartSlice* slice) const {
  for (const auto& [key, s] : slices_)
    if (s.get() == slice) return key;
  return -1;
}

int CPieChartWnd::RemoveKey(int key) {
  auto it = slices_.find(key);
  if (it == slices_.end()) return 0;
  total_ -= it->second->value;
  slices_.erase(it);
  --sliceCount_;
  if (sliceCount_ == 0) total_ = 0;  // no rounding residue once empty
  RenumberSlices();
  RecalcPercentages();
  AfterRemoval();
  return 1;
}

int CPieChartWnd::RemoveSlice(const QString& name) {
  for (const auto& [key, s] : slices_)
    if (s->name == name) return RemoveKey(key);
  return 0;
}

int CPieChartWnd::RemoveSliceByKey(int key) { return RemoveKey(key); }

int CPieChartWnd::RemoveSliceObject(PieChartSlice* slice) { return slice ? RemoveSlice(slice->name) : 0; }

void CPieChartWnd::RenumberSlices() {
  SliceMap renumbered;
  int key = 0;
  for (auto& [old, slice] : slices_) renumbered[key++] = std::move(slice);
  slices_ = std::move(renumbered);
}

void CPieChartWnd::SortSlicesByValue(int descending) {
  std::vector<std::unique_ptr<PieChartSlice>> rest;
  for (auto& [key, slice] : slices_) rest.push_back(std::move(slice));
  slices_.clear();
  int key = 0;
  while (!rest.empty()) {
    size_t pick = 0;
    for (size_t i = 1; i < rest.size(); ++i) {
      // Among equal values the last one met wins.
      const bool better = descending ? rest[i]->value >= rest[pick]->value : rest[i]->value <= rest[pick]->value;
      if (better) pick = i;
    }
    slices_[key++] = std::move(rest[pick]);
    rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(pick));
  }
  update();
}

void CPieChartWnd::SortSlicesByOrder() {
  std::vector<std::unique_ptr<PieChartSlice>> all;
  for (auto& [key, slice] : slices_) all.push_back(std::move(slice));
  std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a->order < b->order; });
  slices_.clear();
  int key = 0;
  for (auto& s : all) slices_[key++] = std::move(s);
  update();
}

int CPieChartWnd::SetSliceColor(PieChartSlice* slice, QRgb argb) {
  if (!slice) return 0;
  slice->color = argb;
  slice->lightColor = pie::LightenColor(argb, slice->lightenFactor);
  slice->darkColor = pie::DarkenColor(argb, slice->darkenFactor);
  update();
  return 1;
}

int CPieChartWnd::SetSliceLightenFactor(PieChartSlice* slice, float factor) {
  if (!slice) return 0;
  slice->lightenFactor = factor;
  slice->lightColor = pie::LightenColor(slice->color, factor);
  update();
  return 1;
}

int CPieChartWnd::SetSliceDarkenFactor(PieChartSlice* slice, float factor) {
  if (!slice) return 0;
  slice->darkenFactor = factor;
  slice->darkColor = pie::DarkenColor(slice->color, factor);
  update();
  return 1;
}

int CPieChartWnd::SetSliceLabel(PieChartSlice* slice, const QString& label) {
  if (!slice) return 0;
  slice->label = label;
  update();
  return 1;
}

int CPieChartWnd::SetSliceExplode(PieChartSlice* slice, int percent) {
  if (!slice) return 0;
  const long long px = static_cast<long long>(percent) * PieArea().width() / 100;
  slice->explode = static_cast<int>(std::clamp<long long>(px, -100000, 100000));
  update();
  return 1;
}

int CPieChartWnd::SetSliceTransparency(PieChartSlice* slice, float percent) {
  if (!slice) return 0;
  if (std::isnan(percent)) percent = 0;
  const double p = std::clamp(static_cast<double>(percent), 0.0, 100.0);
  slice->alpha = static_cast<int>((1.0 - p / 100.0) * 255.0);
  update();
  return 1;
}

int CPieChartWnd::SetSliceValue(PieChartSlice* slice, double value) {
  // Zero, negative or endless values would leave a total that cannot be
  // divided by, with stale or negative sweeps.
  if (!slice || !(value > 0) || !std::isfinite(value)) return 0;
  total_ += value - slice->value;
  slice->value = value;
  RecalcPercentages();
  update();
  return 1;
}

void CPieChartWnd::SetExplodeAll(int percent) {
  for (auto& [key, slice] : slices_) SetSliceExplode(slice.get(), percent);
}

void CPieChartWnd::SetAllLightenFactors(float factor) {
  for (auto& [key, slice] : slices_) slice->lightColor = pie::LightenColor(slice->color, factor);
  update();
}

void CPieChartWnd::SetAllDarkenFactors(float factor) {
  for (auto& [key, slice] : slices_) SetSliceDarkenFactor(slice.get(), factor);
}

int CPieChartWnd::FindSliceByName(const QString& name) const { return GetSliceByName(name) ? 1 : 0; }

PieChartSlice* CPieChartWnd::GetSliceByName(const QString& name) const {
  for (const auto& [key, s] : slices_)
    if (s->name == name) return s.get();
  return nullptr;
}

int CPieChartWnd::GetSliceOrderByName(const QString& name) const {
  const PieChartSlice* s = GetSliceByName(name);
  return s ? s->order : -1;
}

PieChartSlice* CPieChartWnd::GetSelectedSlice() const {
  for (const auto& [key, s] : slices_)
    if (s->selected) return s.get();
  return nullptr;
}

int CPieChartWnd::SaveToFile(const QString& path) {
  savePath_ = path;
  savePending_ = true;
  update();
  return 1;
}

// --------------------------------------------------------------- legend

void CPieChartWnd::LayoutLegend() {
  legendLeft_ = std::max(width() * 2 / 3, 180);
  const ChartRect area = LegendArea();
  metrics_ = pie::ComputeLegendMetrics(area.width(), area.height());
  scrollBar_->setGeometry(width() - scrollBarWidth_, area.top, scrollBarWidth_, std::max(0, area.height()));
  UpdateLegendExtent();
  firstRow_ = pie::FirstRowFromOffset(ScrollPosition(), false, firstRow_, ScrollLimit(), sliceCount_, area.height(),
                                      metrics_, nullptr);
}

void CPieChartWnd::UpdateLegendExtent() {
  const ChartRect area = LegendArea();
  const int legendHeight = std::max(0, area.height());
  const pie::LegendExtent extent = pie::ComputeLegendExtent(sliceCount_, legendHeight, metrics_);
  contentHeight_ = extent.contentHeight;
  lastFittingBottom_ = extent.lastFittingBottom;
  // The classic scroll range runs 0..content with a page of the legend
  // height; the furthest position is content - page + 1.
  const int limit = contentHeight_ > legendHeight ? contentHeight_ - legendHeight + 1 : 0;
  scrollBar_->setRange(0, limit);
  scrollBar_->setPageStep(std::max(1, legendHeight));
  scrollBar_->setSingleStep(std::max(1, metrics_.rowHeight + metrics_.gap));
  scrollBar_->setVisible(legendHeight < contentHeight_);
}

void CPieChartWnd::OnLegendScroll(int code, int trackPosition) {
  const ChartRect area = LegendArea();
  const int legendHeight = area.height();
  const int step = std::max(1, metrics_.rowHeight + metrics_.gap);
  const int limit = ScrollLimit();
  int offset = ScrollPosition();
  switch (code) {
    case kLineUp:
      offset -= step;
      if (firstRow_ > 0) {
        --firstRow_;
        if (firstRow_ == 0) offset = 0;
      }
      break;
    case kLineDown: {
      if (firstRow_ >= sliceCount_) break;
      offset += step;
      const int last = pie::LastFirstRow(sliceCount_, legendHeight, metrics_);
      if (firstRow_ >= last) break;
      ++firstRow_;
      if (firstRow_ == last) offset = limit;
      break;
    }
    case kPageUp:
      offset = std::max(0, offset - legendHeight);
      firstRow_ = pie::FirstRowFromOffset(offset, false, firstRow_, limit, sliceCount_, legendHeight, metrics_, nullptr);
      break;
    case kPageDown:
      offset = offset + legendHeight >= limit ? limit : offset + legendHeight;
      firstRow_ = pie::FirstRowFromOffset(offset, false, firstRow_, limit, sliceCount_, legendHeight, metrics_, nullptr);
      break;
    case kThumbPosition:
    case kThumbTrack:
      offset = trackPosition;
      firstRow_ = pie::FirstRowFromOffset(offset, true, firstRow_, limit, sliceCount_, legendHeight, metrics_, &offset);
      break;
    default:
      break;
  }
  firstRow_ = std::clamp(firstRow_, 0, std::max(0, sliceCount_));
  update();
  SetScrollPosition(offset);
}

// ---------------------------------------------------------------- events

void CPieChartWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutLegend();
}

void CPieChartWnd::SelectAt(const QPoint& point) {
  for (auto& [key, slice] : slices_) slice->selected = 0;
  if (style_ == k3D) HitTest3D(QPointF(point));
  else HitTestFlat(QPointF(point));
  update();
}

void CPieChartWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) SelectAt(event->position().toPoint());
  QWidget::mousePressEvent(event);
}

}  // namespace qm
