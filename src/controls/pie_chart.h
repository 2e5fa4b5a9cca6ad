#pragma once
// The "Drive Information" chart: one slice per partition (or used and free
// space) drawn as a flat ring, a flat bevelled pie or a tilted 3-D disc on a
// titled panel, with a scrollable legend of names and percentages.
//
// Angles are screen angles in degrees: 0 at 3 o'clock, growing clockwise,
// so 90 is the front of a tilted disc and 270 its back. The geometry is
// kept in free functions so it can be checked without a window.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QRgb>
#include <QString>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

class QPainter;
class QScrollBar;

namespace qm {

// One slice. Colours are ARGB.
struct PieChartSlice {
  double value = 0;
  float fraction = 0;        // value / total
  float sweep = 0;           // fraction x 360
  float lightenFactor = 120.0f;
  float darkenFactor = 10.0f;
  QRgb lightColor = 0;
  QRgb darkColor = 0;
  QRgb color = 0;
  QString label;             // legend text
  QString name;              // unique key
  float projectedSweep = 0;  // sweep as seen on the tilted ellipse
  int alpha = 255;
  QPointF startPoint;        // rim points on the top face (3-D style)
  QPointF endPoint;
  int order = 0;             // slices before it when it was added
  int selected = 0;
  int explode = 0;           // outward offset in pixels
};

// A rectangle with exclusive right and bottom edges, as the chart's areas
// are computed; all zero means "derive it from the client area".
struct ChartRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool allZero() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  QRectF toRectF() const { return QRectF(left, top, width(), height()); }
  static ChartRect FromQRect(const QRect& r) { return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }
  bool operator==(const ChartRect&) const = default;
};

namespace pie {

// Shading: each channel moves towards white (lighten) or black (darken) by
// factor / 255 of its distance; the result is opaque.
QRgb LightenColor(QRgb color, float factor);
QRgb DarkenColor(QRgb color, float factor);

// Screen angle (0..360) of a point seen from the centre of r (integer halves).
double AngleFromPoint(double x, double y, const ChartRect& r);

// Pie (pie true) or legend area: the set rectangle, else derived from the
// client area, squared and shifted by the pie offset.
ChartRect ComputeChartRect(bool pie, const ChartRect& set, const ChartRect& client, int legendLeft, int pieOffset);

// Row height, colour-box width and row gap of a legend area.
struct LegendMetrics {
  int rowHeight = 20;
  int boxWidth = 50;
  int gap = 10;
};
LegendMetrics ComputeLegendMetrics(int legendWidth, int legendHeight);

// Height of all rows and the bottom of the last row that fits.
struct LegendExtent {
  int contentHeight = 0;
  int lastFittingBottom = 0;
};
LegendExtent ComputeLegendExtent(int count, int legendHeight, const LegendMetrics& m);

// The first row that still lets the last page of rows fill the legend.
int LastFirstRow(int count, int legendHeight, const LegendMetrics& m);

// First visible legend row for a scroll offset. fromThumb: the offset is a
// thumb position; near the limit it snaps to the last page (and *position
// becomes the limit).
int FirstRowFromOffset(int offset, bool fromThumb, int currentRow, int scrollLimit, int count, int legendHeight,
                       const LegendMetrics& m, int* position);

// "%.2f%%" of a fraction, with a leading "0" below 10 ("05.25%").
QString LegendPercentText(float fraction);
// "%.2f%%" without the leading zero, for labels on the slices.
QString SlicePercentText(float fraction);

// Faces of the tilted disc.
struct FaceRects {
  ChartRect middle, top, bottom;
  int squash = 0;  // vertical squash c
  int depth = 0;   // offset o of each face from the middle
};
FaceRects GetFaceRects(const ChartRect& pie, float inclination, float thicknessRatio);

// Projection of the slices onto the tilted ellipse.
struct Projection {
  float projectedRotation = 0;
  std::vector<float> projectedSweeps;  // per slice in key order
  std::vector<QPointF> startPoints, endPoints;
};
Projection ComputeProjection(const ChartRect& pie, float inclination, float thicknessRatio, float rotation,
                             const std::vector<float>& sweeps);

// Point of an ellipse (the rectangle's inscribed one) seen from its centre
// at a screen angle.
QPointF EllipsePoint(const QRectF& r, double angle);
// Appends an elliptical arc between screen angles to a path (lineTo its
// start first when the path is not empty).
void AddArc(QPainterPath& path, const QRectF& r, double start, double sweep);
// A pie figure: centre, arc, back to the centre.
QPainterPath PieFigure(const QRectF& r, double start, double sweep);

// What a 3-D slice is made of, in drawing order.
enum class Piece { kBottomFace, kTopFace, kStartWall, kEndWall, kOuterWall };
struct SlicePiece {
  Piece piece;
  double from = 0, to = 0;  // outer walls only: the arc from..to
  bool operator==(const SlicePiece&) const = default;
};
enum class Role { kBack, kLeft, kRight, kFront };
// Pieces of a whole slice from start s over projected sweep.
std::vector<SlicePiece> SlicePieces(double s, double sweep, Role role);
// Pieces of one half of a slice that holds both the front and the back.
std::vector<SlicePiece> SplitSlicePieces(double s, double sweep, bool firstHalf);

// Painting order of the 3-D disc: which slice, from which start angle, in
// which role; back to front.
struct DrawStep {
  int index;        // slice index in key order
  double start;
  Role role;
  int half;         // 0 whole slice, 1 or 2: halves of a split slice
};
struct DrawPlan {
  int frontIndex = -1, backIndex = -1;
  std::vector<DrawStep> steps;
};
DrawPlan Plan3D(float projectedRotation, const std::vector<float>& projectedSweeps);

}  // namespace pie

class CPieChartWnd : public QWidget {
  Q_OBJECT

 public:
  enum Style { kRing = 0, kBevelPie = 1, k3D = 2 };
  // Legend scroll-bar requests (the classic scroll codes).
  enum ScrollCode { kLineUp = 0, kLineDown = 1, kPageUp = 2, kPageDown = 3, kThumbPosition = 4, kThumbTrack = 5 };

  // The panel is drawn at least this large: a chart placed smaller is cut.
  static constexpr int kPanelMinWidth = 300;
  static constexpr int kPanelMinHeight = 150;

  explicit CPieChartWnd(QWidget* parent = nullptr);
  ~CPieChartWnd() override;

  // Keeps the caption and shows the chart as a child of parent at rect.
  virtual bool Create(const QString& caption, const QRect& rect, QWidget* parent, int id);
  int ControlId() const { return id_; }

  void SetBackgroundColor(QColor color);
  void SetInclination(float degrees);
  int SetThickness(float pixels);
  void SetBaseColor(QRgb argb);
  void SetLegendColor(QRgb argb);
  int RemoveAllSlices();
  PieChartSlice* AddSlice(const QString& name, const QString& label, double value, QRgb color, int labelText);
  int SetTransparency(float percent);
  void SetPieRect(const QRect& rect);
  void SetLegendRect(const QRect& rect);

  void SetChartStyle(int style);
  void SetRotation(float degrees);
  void SetTextColor(QRgb argb);
  void SetHighlightColor(QRgb argb);
  void SetShowLabels(int on);
  void SetLegendFontSize(int points);
  void SetLightenFactor(float factor);
  void SetDarkenFactor(float factor);
  int SetPieOffset(int offset);
  void SetCaption(const QString& caption);
  void SetLegendFont(const QFont& font);
  void SetCaptionFont(const QFont& font);

  int SetSliceColor(PieChartSlice* slice, QRgb argb);
  int SetSliceLightenFactor(PieChartSlice* slice, float factor);
  int SetSliceDarkenFactor(PieChartSlice* slice, float factor);
  int SetSliceLabel(PieChartSlice* slice, const QString& label);
  int SetSliceExplode(PieChartSlice* slice, int percent);
  int SetSliceTransparency(PieChartSlice* slice, float percent);
  int SetSliceValue(PieChartSlice* slice, double value);
  void SetExplodeAll(int percent);
  void SetAllLightenFactors(float factor);
  void SetAllDarkenFactors(float factor);

  int FindSliceByName(const QString& name) const;
  PieChartSlice* GetSliceByName(const QString& name) const;
  int GetSliceOrderByName(const QString& name) const;
  PieChartSlice* GetSelectedSlice() const;
  float GetLightenFactor() const { return lightenFactor_; }
  float GetDarkenFactor() const { return darkenFactor_; }
  float GetSliceLightenFactor(const PieChartSlice* slice) const { return slice ? slice->lightenFactor : -1; }
  float GetSliceDarkenFactor(const PieChartSlice* slice) const { return slice ? slice->darkenFactor : -1; }

  int RemoveSlice(const QString& name);
  int RemoveSliceByKey(int key);
  int RemoveSliceObject(PieChartSlice* slice);
  void RenumberSlices();
  void SortSlicesByValue(int descending);
  void SortSlicesByOrder();

  // The next paint writes the rendered chart to path.
  int SaveToFile(const QString& path);

  // Legend scrolling as the scroll bar requests it; trackPosition is the
  // thumb's position for the thumb codes.
  void OnLegendScroll(int code, int trackPosition = 0);
  // Clears the selection and selects the slice under the point, if any.
  void SelectAt(const QPoint& point);

  // The whole chart as the next paint draws it.
  QImage RenderChart();

  // State readers.
  int SliceCount() const { return sliceCount_; }
  const ChartRect& PieRect() const { return pieRect_; }
  const ChartRect& LegendRect() const { return legendRect_; }
  int LabelText() const { return labelText_; }
  double Total() const { return total_; }
  float Inclination() const { return inclination_; }
  float ThicknessRatio() const { return thicknessRatio_; }
  float Rotation() const { return rotation_; }
  int Style() const { return style_; }
  std::vector<const PieChartSlice*> Slices() const;
  ChartRect PieArea() const;
  ChartRect LegendArea() const;
  // The font the legend is drawn in: points from the legend's height, or
  // the legend font size when one is set.
  QFont LegendTextFont() const;
  const pie::LegendMetrics& Metrics() const { return metrics_; }
  int LegendContentHeight() const { return contentHeight_; }
  int LastFittingBottom() const { return lastFittingBottom_; }
  int FirstVisibleRow() const { return firstRow_; }
  int ScrollPosition() const;
  int ScrollLimit() const;
  QScrollBar* LegendScrollBar() const { return scrollBar_; }
  int FrontSliceKey() const { return frontKey_; }
  int BackSliceKey() const { return backKey_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  struct Element;  // one filled figure of the 3-D disc
  using SliceMap = std::map<int, std::unique_ptr<PieChartSlice>>;

  ChartRect Client() const;
  void RecalcPercentages();
  void LayoutLegend();
  void UpdateLegendExtent();
  void SetScrollPosition(int position);
  int KeyOf(const PieChartSlice* slice) const;
  int RemoveKey(int key);
  void AfterRemoval();
  QFont LegendFont(double points) const;

  void DrawBackground(QPainter& p);
  void DrawLegend(QPainter& p);
  void DrawSliceLabels(QPainter& p, float startAngle);
  void PaintRing(QPainter& p);
  void PaintBevelPie(QPainter& p);
  void Paint3D(QPainter& p);
  std::vector<Element> Build3DScene();
  void DrawElement(QPainter& p, const Element& e);
  void DrawSelection(QPainter& p, const QPainterPath& path, const PieChartSlice& s);
  QPointF ExplodeOffset(const PieChartSlice& s, double start, double sweep) const;
  bool HitTestFlat(const QPointF& point);
  bool HitTest3D(const QPointF& point);
  void SaveChartImage(const QImage& image);

  QScrollBar* scrollBar_ = nullptr;
  int id_ = 0;
  int sliceCount_ = 0;
  float rotation_ = 0;
  float projectedRotation_ = 0;
  float inclination_ = 0;
  float thicknessRatio_ = 0.5f;
  double total_ = 0;
  QColor backgroundColor_{0, 0, 0};
  pie::LegendMetrics metrics_;
  int legendLeft_ = 200;
  int scrollBarWidth_ = 20;
  QString legendFace_;
  int legendStyle_ = 0;
  int legendFontSize_ = -1;
  int contentHeight_ = 0;
  int firstRow_ = 0;
  int lastFittingBottom_ = 1000;
  QRgb textColor_ = 0xff000000;
  QRgb legendColor_ = 0xffffffff;
  QRgb baseColor_ = 0xffffffff;
  QRgb lightColor_ = 0xffffffff;
  QRgb darkColor_ = 0xffffffff;
  float lightenFactor_ = 200.0f;
  float darkenFactor_ = 10.0f;
  QString caption_;
  QString captionFace_;
  int captionStyle_ = 0;
  int pieOffset_ = 0;
  int frontKey_ = -1;
  int backKey_ = -1;
  QRgb highlightColor_ = 0xff6be6ff;
  QString savePath_;
  bool savePending_ = false;
  int showLabels_ = 1;
  SliceMap slices_;
  int style_ = k3D;
  ChartRect pieRect_;
  ChartRect legendRect_;
  int labelText_ = 1;
};

}  // namespace qm
