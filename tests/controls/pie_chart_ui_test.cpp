#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <set>

#include "controls/pie_chart.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using pie::Piece;
using pie::Role;
using pie::SlicePiece;

QString OutputPath(const char* name) { return QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/" + name; }

// The device page's fill: white page, light-blue panel, tilted disc.
void FillLikeDevicePage(CPieChartWnd& chart, const std::vector<std::pair<QString, double>>& slices) {
  static const QRgb colours[] = {0xff3b7dd8, 0xffe0533d, 0xff43a047, 0xfff2b01e, 0xff8e44ad, 0xff00897b};
  chart.SetBackgroundColor(QColor(255, 255, 255));
  chart.SetInclination(60.0f);
  chart.SetBaseColor(0xffa3ddef);
  chart.SetLegendColor(0xffa3ddef);
  chart.RemoveAllSlices();
  int i = 0;
  for (const auto& [name, value] : slices) chart.AddSlice(name, name, value, colours[i++ % 6], 0);
  chart.SetTransparency(40.0f);
  chart.SetPieRect(QRect(30, 60, 260, 260));
  chart.SetLegendRect(QRect(330, 80, 250, 240));
  chart.SetThickness(15.0f);
}

// ------------------------------------------------------------- geometry

TEST(PieChartGeometry, ShadesMoveChannelsTowardsWhiteAndBlack) {
  struct Case {
    QRgb in;
    float factor;
    bool lighten;
    QRgb out;
  } cases[] = {
      {qRgb(163, 163, 163), 200, true, qRgb(235, 235, 235)},
      {qRgb(239, 239, 239), 10, false, qRgb(229, 229, 229)},
      {qRgba(0, 128, 255, 40), 120, true, qRgb(120, 187, 255)},  // result is opaque
      {qRgb(10, 20, 30), 400, false, qRgb(0, 0, 0)},             // never below 0
      {qRgb(250, 250, 250), -20000, true, qRgb(0, 0, 0)},         // nor outside 0..255 the other way
  };
  for (const Case& c : cases) {
    const QRgb got = c.lighten ? pie::LightenColor(c.in, c.factor) : pie::DarkenColor(c.in, c.factor);
    EXPECT_EQ(got, c.out) << std::hex << c.in << " factor " << c.factor;
  }
}

TEST(PieChartGeometry, AngleFromPointIsAClockwiseScreenAngle) {
  const ChartRect r{0, 0, 100, 100};  // centre (50, 50)
  struct Case {
    double x, y, angle;
  } cases[] = {
      {90, 50, 0}, {50, 90, 90}, {10, 50, 180}, {50, 10, 270}, {10, 10, 225}, {90, 10, 315}, {90, 90, 45},
      {50, 50, 0},  // the centre: no direction, but a finite answer
  };
  for (const Case& c : cases) EXPECT_NEAR(pie::AngleFromPoint(c.x, c.y, r), c.angle, 1e-6) << c.x << "," << c.y;
}

TEST(PieChartGeometry, DerivedAreasAreSquaredFromTheClientArea) {
  struct Case {
    ChartRect set, client;
    int legendLeft, offset;
    ChartRect pie;
  } cases[] = {
      // 600 x 400: (30,100)-(390,370) is 360 x 270, squared to 270 at the left edge.
      {{}, {0, 0, 600, 400}, 400, 0, {30, 100, 300, 370}},
      // Taller than wide: the width is raised to 150 and centred vertically.
      {{}, {0, 0, 200, 700}, 180, 0, {30, 310, 180, 460}},
      // An odd side grows by one.
      {{}, {0, 0, 500, 401}, 333, 0, {30, 100, 302, 372}},
      // The pie offset shifts sideways.
      {{}, {0, 0, 600, 400}, 400, 25, {55, 100, 325, 370}},
      // A set rectangle is used as it is, offset and all.
      {{5, 6, 77, 88}, {0, 0, 600, 400}, 400, 25, {5, 6, 77, 88}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pie::ComputeChartRect(true, c.set, c.client, c.legendLeft, c.offset), c.pie)
        << c.client.right << "x" << c.client.bottom;
}

TEST(PieChartGeometry, LegendRowsFitAndScroll) {
  const pie::LegendMetrics m = pie::ComputeLegendMetrics(250, 300);
  EXPECT_EQ(m.rowHeight, 20);
  EXPECT_EQ(m.gap, 15);
  EXPECT_EQ(m.boxWidth, 31);
  const pie::LegendExtent ten = pie::ComputeLegendExtent(10, 300, m);
  EXPECT_EQ(ten.contentHeight, 335);
  EXPECT_EQ(ten.lastFittingBottom, 300);
  EXPECT_EQ(pie::ComputeLegendExtent(0, 300, m).contentHeight, 0);
  EXPECT_EQ(pie::LastFirstRow(10, 300, m), 1);
  EXPECT_EQ(pie::LastFirstRow(3, 300, m), 0);

  // A legend too small for one row must not divide by zero.
  const pie::LegendMetrics tiny = pie::ComputeLegendMetrics(40, 10);
  EXPECT_EQ(tiny.rowHeight + tiny.gap, 0);
  EXPECT_GE(pie::LastFirstRow(5, 10, tiny), 0);
  int pos = 7;
  EXPECT_GE(pie::FirstRowFromOffset(7, false, 0, 0, 5, 10, tiny, &pos), 0);

  struct Case {
    int offset;
    bool thumb;
    int current, limit;
    int row, position;
  } cases[] = {
      {0, false, 3, 36, 0, 10},   {35, false, 0, 36, 1, 10},  {-4, false, 2, 36, 2, 10},
      {10, true, 0, 0, 0, 10},    // no scrolling: keep the row
      {20, true, 0, 36, 1, 36},   // within a row of the limit: the last page
      {5, true, 0, 36, 0, 10},
  };
  for (const Case& c : cases) {
    int position = 10;
    EXPECT_EQ(pie::FirstRowFromOffset(c.offset, c.thumb, c.current, c.limit, 10, 300, m, &position), c.row)
        << c.offset << (c.thumb ? " thumb" : "");
    EXPECT_EQ(position, c.position) << c.offset;
  }
}

TEST(PieChartGeometry, LegendPercentagesHaveTwoDecimals) {
  struct Case {
    float fraction;
    const char* legend;
    const char* label;
  } cases[] = {
      {0.0525f, "05.25%", "5.25%"},
      {0.125f, "12.50%", "12.50%"},
      {1.0f, "100.00%", "100.00%"},
      {0.0f, "00.00%", "0.00%"},
      {0.099999f, "10.00%", "10.00%"},  // rounds up: no leading zero
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pie::LegendPercentText(c.fraction), QString::fromLatin1(c.legend));
    EXPECT_EQ(pie::SlicePercentText(c.fraction), QString::fromLatin1(c.label));
  }
}

TEST(PieChartGeometry, EllipsePointsAndArcsUseScreenAngles) {
  const QRectF r(0, 0, 200, 100);  // centre (100, 50)
  struct Case {
    double angle;
    QPointF point;
  } cases[] = {{0, {200, 50}}, {90, {100, 100}}, {180, {0, 50}}, {270, {100, 0}}};
  for (const Case& c : cases) {
    const QPointF p = pie::EllipsePoint(r, c.angle);
    EXPECT_NEAR(p.x(), c.point.x(), 1e-6) << c.angle;
    EXPECT_NEAR(p.y(), c.point.y(), 1e-6) << c.angle;
  }
  // A point at 45 degrees lies on the 45-degree ray and on the ellipse.
  const QPointF p = pie::EllipsePoint(r, 45);
  EXPECT_NEAR(p.x() - 100, p.y() - 50, 1e-6);
  EXPECT_NEAR(std::pow((p.x() - 100) / 100, 2) + std::pow((p.y() - 50) / 50, 2), 1.0, 1e-9);
  // The pie figure ends where EllipsePoint says, and covers the right quadrant below centre.
  const QPainterPath wedge = pie::PieFigure(r, 0, 45);
  EXPECT_TRUE(wedge.contains(QPointF(150, 55)));
  EXPECT_FALSE(wedge.contains(QPointF(150, 45)));
  EXPECT_FALSE(wedge.contains(QPointF(120, 90)));  // beyond the 45-degree ray
}

TEST(PieChartGeometry, ProjectionOfSliceSets) {
  const ChartRect pie{0, 0, 300, 300};
  struct Case {
    const char* what;
    std::vector<float> sweeps;
    float inclination, rotation;
  } cases[] = {
      {"halves flat", {180, 180}, 0, 0},
      {"thirds tilted", {120, 120, 120}, 60, 0},
      {"uneven tilted and turned", {10, 200, 50, 100}, 45, 33},
      {"one whole", {360}, 60, 0},
      {"sliver at the wrap", {359.99986f, 0.00014f}, 89, 0},
      // Slivers whose rounded end falls a hair before their start.
      {"sliver among others", {4.23652054e-05f, 118.179771f, 24.5593357f, 51.6619377f, 46.4027939f, 119.196114f}, 85, 168},
      {"sliver beside a whole", {5.38295444e-06f, 360}, 63, 358},
      {"many", std::vector<float>(27, 360.0f / 27), 60, 80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const pie::Projection p = pie::ComputeProjection(pie, c.inclination, 0.5f, c.rotation, c.sweeps);
    ASSERT_EQ(p.projectedSweeps.size(), c.sweeps.size());
    const double total = std::accumulate(p.projectedSweeps.begin(), p.projectedSweeps.end(), 0.0);
    EXPECT_NEAR(total, 360.0, 0.05);
    for (size_t i = 0; i < c.sweeps.size(); ++i)
      if (c.sweeps[i] < 1) EXPECT_LT(p.projectedSweeps[i], 1.0f) << "slice " << i;
    for (size_t i = 0; i < c.sweeps.size(); ++i) {
      EXPECT_GE(p.projectedSweeps[i], 0.0f);
      EXPECT_LE(p.projectedSweeps[i], 360.0f);
      // Half-discs stay half-discs under the tilt.
      if (c.sweeps[i] < 180) {
        EXPECT_LE(p.projectedSweeps[i], 180.0f);
      }
      if (c.sweeps[i] > 180) {
        EXPECT_GE(p.projectedSweeps[i], 180.0f);
      }
      if (c.inclination == 0) {
        EXPECT_NEAR(p.projectedSweeps[i], c.sweeps[i], 0.01);
      }
    }
  }
  // A lone slice is a whole disc.
  EXPECT_EQ(pie::ComputeProjection(pie, 60, 0.5f, 0, {360.0f}).projectedSweeps[0], 360.0f);
  // Tilting widens what faces the viewer: a quarter centred on the front
  // grows, its neighbour at the side shrinks.
  const auto tilted = pie::ComputeProjection(pie, 60, 0.5f, 45, {90, 90, 90, 90});
  EXPECT_GT(tilted.projectedSweeps[0], 90.0f);
  EXPECT_LT(tilted.projectedSweeps[1], 90.0f);
  // Rim points sit on the top face, shared by neighbours.
  EXPECT_EQ(tilted.startPoints[1], tilted.endPoints[0]);
  EXPECT_EQ(tilted.startPoints[0], tilted.endPoints[3]);
}

TEST(PieChartGeometry, FacesAreSquashedAndSeparatedByTheDepth) {
  const pie::FaceRects flat = pie::GetFaceRects({0, 0, 180, 180}, 0, 0.5f);
  EXPECT_EQ(flat.squash, 0);
  EXPECT_EQ(flat.depth, 0);
  EXPECT_EQ(flat.top, flat.bottom);
  const pie::FaceRects tilted = pie::GetFaceRects({0, 0, 180, 180}, 60, 0.5f);
  EXPECT_EQ(tilted.squash, 60);
  EXPECT_EQ(tilted.depth, 15);
  EXPECT_EQ(tilted.middle, (ChartRect{0, 60, 180, 120}));
  EXPECT_EQ(tilted.top, (ChartRect{0, 45, 180, 105}));
  EXPECT_EQ(tilted.bottom, (ChartRect{0, 75, 180, 135}));
}

TEST(PieChartGeometry, SliceWallsFollowWhereTheSliceLies) {
  const SlicePiece bottom{Piece::kBottomFace}, top{Piece::kTopFace}, start{Piece::kStartWall},
      end{Piece::kEndWall};
  auto outer = [](double a, double b) { return SlicePiece{Piece::kOuterWall, a, b}; };
  struct Case {
    double s, sweep;
    Role role;
    std::vector<SlicePiece> walls;
  } cases[] = {
      {300, 100, Role::kBack, {outer(300, 360), end, outer(0, 40), start}},
      {300, 100, Role::kRight, {start, outer(300, 360), end, outer(0, 40)}},
      {100, 120, Role::kBack, {outer(180, 220), start, outer(100, 180), end}},
      {100, 120, Role::kLeft, {end, outer(180, 220), start, outer(100, 180)}},
      {100, 300, Role::kFront, {outer(180, 360), outer(100, 180), outer(0, 40), start, end}},
      {200, 350, Role::kLeft, {start, end, outer(200, 360), outer(180, 190), outer(0, 180)}},
      {10, 60, Role::kRight, {start, outer(10, 70), end}},
      {10, 60, Role::kLeft, {end, outer(10, 70), start}},
      {200, 40, Role::kBack, {outer(200, 240), end, start}},
      {40, 40, Role::kFront, {end, start, outer(40, 80)}},
  };
  for (const Case& c : cases) {
    std::vector<SlicePiece> expected{bottom};
    expected.insert(expected.end(), c.walls.begin(), c.walls.end());
    expected.push_back(top);
    EXPECT_EQ(pie::SlicePieces(c.s, c.sweep, c.role), expected) << c.s << "+" << c.sweep;
  }

  struct Split {
    double s, sweep;
    bool first;
    std::vector<SlicePiece> pieces;
  } splits[] = {
      {60, 290, true, {bottom, outer(180, 350), end}},
      {60, 400 - 60, true, {bottom, outer(180, 360), outer(0, 40), end}},
      {300, 350, true, {bottom, outer(180, 290), end}},
      {120, 300, true, {bottom, outer(180, 360), outer(120, 180), start}},
      {200, 260, true, {bottom, outer(200, 360), start}},
      {180, 300, true, {bottom, outer(180, 360), outer(180, 180), start}},  // exactly 180 keeps its bottom
      {270, 200, true, {bottom, outer(270, 360), start}},                   // exactly 270 too
      {60, 290, false, {start, outer(60, 180), top}},
      {300, 350, false, {start, outer(300, 360), outer(0, 180), top}},
      {120, 350, false, {end, outer(0, 110), top}},
      {100, 450 - 100 + 100, false, {end, outer(180, 190), outer(0, 180), top}},
  };
  for (const Split& c : splits)
    EXPECT_EQ(pie::SplitSlicePieces(c.s, c.sweep, c.first), c.pieces) << c.s << "+" << c.sweep << " " << c.first;
}

TEST(PieChartGeometry, SlicesArePaintedFromTheBackToTheFront) {
  struct Case {
    const char* what;
    float rotation;
    std::vector<float> sweeps;
    int front, back;
  } cases[] = {
      {"quarters", 0, {90, 90, 90, 90}, 1, 3},
      {"quarters turned", 45, {90, 90, 90, 90}, 0, 2},
      {"thirds", 10, {120, 120, 120}, 0, 2},
      {"one whole", 0, {360}, 0, 0},
      {"large slice holds front and back, starting at the back", 200, {300, 60}, 0, 0},
      {"large slice holds front and back, starting at the front", 30, {300, 60}, 0, 0},
      {"sums short of 360", 0, {89.99f, 89.99f, 89.99f, 89.99f}, 1, 3},
      {"the shortfall lies at the front", 90.01f, {89.99f, 89.99f, 89.99f, 89.99f}, 0, 2},
      {"many", 0, std::vector<float>(9, 40), 2, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const pie::DrawPlan plan = pie::Plan3D(c.rotation, c.sweeps);
    EXPECT_EQ(plan.frontIndex, c.front);
    EXPECT_EQ(plan.backIndex, c.back);
    ASSERT_FALSE(plan.steps.empty());
    EXPECT_EQ(plan.steps.front().index, c.back);
    EXPECT_EQ(plan.steps.back().index, c.front);
    // Every slice is painted once, a slice holding both front and back twice (two halves).
    std::multiset<int> seen;
    for (const auto& s : plan.steps) seen.insert(s.index);
    for (int i = 0; i < static_cast<int>(c.sweeps.size()); ++i)
      EXPECT_EQ(seen.count(i), (i == c.front && c.front == c.back) ? 2u : 1u) << "slice " << i;
    if (c.front == c.back) {
      EXPECT_EQ(plan.steps.front().half, 1);
      EXPECT_EQ(plan.steps.back().half, 2);
    }
  }
  EXPECT_TRUE(pie::Plan3D(0, {}).steps.empty());
}

// ---------------------------------------------------------------- chart

TEST(PieChart, SlicesAddUpAndBadOnesAreRefused) {
  CPieChartWnd chart;
  chart.resize(600, 400);
  ASSERT_NE(chart.AddSlice("Used Space", "Used Space", 30, 0xffff0000, 0), nullptr);
  ASSERT_NE(chart.AddSlice("Free Space", "Free Space", 70, 0xff00ff00, 0), nullptr);
  EXPECT_FLOAT_EQ(chart.GetSliceByName("Used Space")->sweep, 108.0f);
  EXPECT_FLOAT_EQ(chart.GetSliceByName("Free Space")->sweep, 252.0f);
  EXPECT_EQ(chart.AddSlice("Used Space", "again", 5, 0xff0000ff, 0), nullptr);
  EXPECT_EQ(chart.AddSlice("Zero", "Zero", 0, 0xff0000ff, 0), nullptr);
  EXPECT_EQ(chart.AddSlice("Negative", "Negative", -4, 0xff0000ff, 0), nullptr);
  EXPECT_EQ(chart.AddSlice("", "Empty", 4, 0xff0000ff, 0), nullptr);
  EXPECT_EQ(chart.AddSlice("NaN", "NaN", std::nan(""), 0xff0000ff, 0), nullptr);
  EXPECT_EQ(chart.AddSlice("Inf", "Inf", std::numeric_limits<double>::infinity(), 0xff0000ff, 0), nullptr);
  EXPECT_EQ(chart.SliceCount(), 2);
  EXPECT_DOUBLE_EQ(chart.Total(), 100.0);

  const PieChartSlice* used = chart.GetSliceByName("Used Space");
  EXPECT_EQ(used->lightColor, pie::LightenColor(0xffff0000, 120));
  EXPECT_EQ(used->darkColor, pie::DarkenColor(0xffff0000, 10));
  EXPECT_EQ(chart.GetSliceOrderByName("Free Space"), 1);
  EXPECT_EQ(chart.GetSliceOrderByName("nothing"), -1);

  // A value that is not above zero would leave sweeps that no total explains.
  PieChartSlice* free = chart.GetSliceByName("Free Space");
  EXPECT_EQ(chart.SetSliceValue(free, 0), 0);
  EXPECT_EQ(chart.SetSliceValue(free, -70), 0);
  EXPECT_EQ(chart.SetSliceValue(nullptr, 5), 0);
  EXPECT_DOUBLE_EQ(chart.Total(), 100.0);
  EXPECT_EQ(chart.SetSliceValue(free, 10), 1);
  EXPECT_DOUBLE_EQ(chart.Total(), 40.0);
  EXPECT_FLOAT_EQ(used->sweep, 270.0f);

  // Removal renumbers and recomputes.
  chart.AddSlice("Third", "Third", 60, 0xff0000ff, 0);
  EXPECT_EQ(chart.RemoveSlice("Used Space"), 1);
  EXPECT_EQ(chart.RemoveSlice("Used Space"), 0);
  EXPECT_DOUBLE_EQ(chart.Total(), 70.0);
  ASSERT_EQ(chart.SliceCount(), 2);
  EXPECT_EQ(chart.Slices()[0]->name, "Free Space");
  EXPECT_NEAR(chart.Slices()[1]->fraction, 60.0 / 70.0, 1e-6);
  EXPECT_EQ(chart.RemoveSliceByKey(5), 0);
  EXPECT_EQ(chart.RemoveSliceByKey(1), 1);
  EXPECT_EQ(chart.RemoveSliceObject(chart.GetSliceByName("Free Space")), 1);
  EXPECT_EQ(chart.SliceCount(), 0);
  EXPECT_DOUBLE_EQ(chart.Total(), 0.0);
}

TEST(PieChart, PropertiesAreClampedOrRefused) {
  CPieChartWnd chart;
  chart.resize(600, 400);
  chart.AddSlice("a", "a", 1, 0xffff0000, 0);
  chart.AddSlice("b", "b", 1, 0xff00ff00, 0);
  struct Transparency {
    float percent;
    int alpha;
  } transparencies[] = {{40, 153}, {150, 0}, {-5, 255}, {0, 255}, {100, 0}};
  for (const auto& t : transparencies) {
    EXPECT_EQ(chart.SetTransparency(t.percent), 1);
    for (const PieChartSlice* s : chart.Slices()) EXPECT_EQ(s->alpha, t.alpha) << t.percent;
  }

  struct Inclination {
    float in, stored;
  } inclinations[] = {{95, 89}, {-3, 0}, {60, 60}, {std::nanf(""), 0}};
  for (const auto& i : inclinations) {
    chart.SetInclination(i.in);
    EXPECT_EQ(chart.Inclination(), i.stored) << i.in;
  }

  struct Rotation {
    float in, stored;
  } rotations[] = {{30, 30}, {725, 5}, {-40, -40}, {1e30f, std::fmod(1e30f, 360.0f)}};
  for (const auto& r : rotations) {
    chart.SetRotation(r.in);
    EXPECT_FLOAT_EQ(chart.Rotation(), r.stored) << r.in;
  }
  chart.SetRotation(std::numeric_limits<float>::infinity());  // would never come below 360
  EXPECT_FLOAT_EQ(chart.Rotation(), std::fmod(1e30f, 360.0f));

  // Thickness: walls of the given pixels at inclination 89.
  chart.SetPieRect(QRect(0, 0, 180, 180));
  EXPECT_EQ(chart.SetThickness(-1), 0);
  EXPECT_EQ(chart.SetThickness(15), 1);
  EXPECT_FLOAT_EQ(chart.ThicknessRatio(), 15.0f / 89);
  chart.SetPieRect(QRect(0, 0, 1, 1));  // a pie too small to divide by
  EXPECT_EQ(chart.SetThickness(15), 1);
  EXPECT_TRUE(std::isfinite(chart.ThicknessRatio()));

  chart.SetPieRect(QRect(0, 0, 260, 260));
  PieChartSlice* a = chart.GetSliceByName("a");
  EXPECT_EQ(chart.SetSliceExplode(a, 10), 1);
  EXPECT_EQ(a->explode, 26);
  EXPECT_EQ(chart.SetSliceExplode(nullptr, 10), 0);

  EXPECT_EQ(chart.SetPieOffset(0), 0);
  EXPECT_EQ(chart.SetPieOffset(12), 1);
  EXPECT_EQ(chart.SetSliceColor(nullptr, 0), 0);
  EXPECT_EQ(chart.GetSliceLightenFactor(nullptr), -1);
}

TEST(PieChart, SortsKeepTheLastOfEqualValues) {
  CPieChartWnd chart;
  chart.resize(600, 400);
  const std::pair<const char*, double> values[] = {{"a", 3}, {"b", 1}, {"c", 3}, {"d", 2}};
  for (const auto& [name, v] : values) chart.AddSlice(name, name, v, 0xff808080, 0);
  auto names = [&] {
    QString s;
    for (const PieChartSlice* slice : chart.Slices()) s += slice->name;
    return s;
  };
  chart.SortSlicesByValue(1);
  EXPECT_EQ(names(), "cadb");
  chart.SortSlicesByValue(0);  // from the current order: c before a
  EXPECT_EQ(names(), "bdac");
  chart.SortSlicesByOrder();
  EXPECT_EQ(names(), "abcd");
}

TEST(PieChart, DefaultAreasAndLegendOfAChart) {
  CPieChartWnd chart;
  chart.Create("Drive Information", QRect(0, 0, 600, 400), nullptr, 1);
  EXPECT_EQ(chart.PieArea(), (ChartRect{30, 100, 300, 370}));
  EXPECT_LE(chart.PieArea().right, 400 - 10);

  chart.SetLegendRect(QRect(330, 50, 250, 300));
  for (int i = 0; i < 10; ++i) chart.AddSlice(QString("Partition %1").arg(i), QString("Partition %1").arg(i), 10, 0xff3060a0, 0);
  EXPECT_EQ(chart.Metrics().rowHeight, 20);
  EXPECT_EQ(chart.Metrics().gap, 15);
  EXPECT_EQ(chart.LegendContentHeight(), 335);
  EXPECT_EQ(chart.LastFittingBottom(), 300);
  EXPECT_FALSE(chart.LegendScrollBar()->isHidden());
  EXPECT_EQ(chart.LegendScrollBar()->pageStep(), 300);
  EXPECT_EQ(chart.ScrollLimit(), 335 - 300 + 1);

  // Line down moves one row and, on the last page, snaps to the limit.
  chart.OnLegendScroll(CPieChartWnd::kLineDown);
  EXPECT_EQ(chart.FirstVisibleRow(), 1);
  EXPECT_EQ(chart.ScrollPosition(), chart.ScrollLimit());
  chart.OnLegendScroll(CPieChartWnd::kLineDown);
  EXPECT_EQ(chart.FirstVisibleRow(), 1);
  chart.OnLegendScroll(CPieChartWnd::kLineUp);
  EXPECT_EQ(chart.FirstVisibleRow(), 0);
  EXPECT_EQ(chart.ScrollPosition(), 0);
  chart.OnLegendScroll(CPieChartWnd::kPageDown);
  EXPECT_EQ(chart.ScrollPosition(), chart.ScrollLimit());
  EXPECT_EQ(chart.FirstVisibleRow(), 1);
  chart.OnLegendScroll(CPieChartWnd::kPageUp);
  EXPECT_EQ(chart.FirstVisibleRow(), 0);
  chart.OnLegendScroll(CPieChartWnd::kThumbTrack, 30);
  EXPECT_EQ(chart.FirstVisibleRow(), 1);
  EXPECT_EQ(chart.ScrollPosition(), chart.ScrollLimit());

  // The scroll bar's own steps go through the same rules.
  chart.OnLegendScroll(CPieChartWnd::kPageUp);
  chart.LegendScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(chart.FirstVisibleRow(), 1);
  EXPECT_EQ(chart.ScrollPosition(), chart.ScrollLimit());
  chart.LegendScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(chart.FirstVisibleRow(), 0);
  EXPECT_EQ(chart.ScrollPosition(), 0);

  // Emptying the chart hides the bar again.
  chart.RemoveAllSlices();
  EXPECT_TRUE(chart.LegendScrollBar()->isHidden());
  EXPECT_EQ(chart.LegendContentHeight(), 0);
  EXPECT_EQ(chart.FirstVisibleRow(), 0);
}

// ------------------------------------------------------------- painting

QColor At(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)); }

TEST(PieChartPaint, EmptyChartPaintsThePanelAndCaption) {
  CPieChartWnd chart;
  chart.Create("Drive Information", QRect(0, 0, 600, 400), nullptr, 1);
  FillLikeDevicePage(chart, {});
  const QImage image = chart.RenderChart();
  image.save(OutputPath("pie_chart_empty.png"));
  EXPECT_EQ(chart.ControlId(), 1);
  // The panel's gradient runs from its light shade at the top-left to its dark one.
  const QColor topLeft = At(image, 40, 40), bottomRight = At(image, 560, 360);
  EXPECT_GT(topLeft.lightness(), bottomRight.lightness());
  // Some caption text near the top centre.
  bool ink = false;
  for (int x = 200; x < 400 && !ink; ++x)
    for (int y = 10; y < 40 && !ink; ++y) ink = At(image, x, y).lightness() < 80;
  EXPECT_TRUE(ink);
}

TEST(PieChartPaint, OneWholeSliceHasNoEdgeAcrossItsFace) {
  CPieChartWnd chart;
  chart.Create("Drive Information", QRect(0, 0, 600, 400), nullptr, 1);
  FillLikeDevicePage(chart, {{"Partition 1", 100}});
  chart.SetTransparency(0.0f);  // opaque: the panel's diagonal shading does not show through
  const QImage image = chart.RenderChart();
  ASSERT_TRUE(image.save(OutputPath("pie_chart_one_slice.png")));
  const ChartRect pieArea = chart.PieArea();
  const pie::FaceRects faces = pie::GetFaceRects(pieArea, chart.Inclination(), chart.ThicknessRatio());
  // The face's shading runs top to bottom only, so each row is the same left
  // and right of the centre unless a slice edge crosses one side.
  const double cx = (faces.top.left + faces.top.right) / 2.0, cy = (faces.top.top + faces.top.bottom) / 2.0;
  const double half = (faces.top.right - faces.top.left) / 2.0;
  for (double f : {0.2, 0.5, 0.8}) {
    SCOPED_TRACE(f);
    for (int dy = -1; dy <= 1; ++dy) {
      const int y = static_cast<int>(cy) + dy;
      EXPECT_EQ(At(image, static_cast<int>(cx + f * half), y), At(image, static_cast<int>(cx - f * half), y));
    }
  }
}

TEST(PieChartPaint, TiltedDiscShowsItsWallsAndItsLegend) {
  CPieChartWnd chart;
  chart.Create("Drive Information", QRect(0, 0, 600, 400), nullptr, 1);
  FillLikeDevicePage(chart, {{"Partition 1", 45}, {"Partition 2", 30}, {"Partition 3", 15}, {"Partition 4", 10}});
  const QImage image = chart.RenderChart();
  ASSERT_TRUE(image.save(OutputPath("pie_chart_3d.png")));

  const ChartRect pieArea = chart.PieArea();
  const pie::FaceRects faces = pie::GetFaceRects(pieArea, chart.Inclination(), chart.ThicknessRatio());
  ASSERT_GT(faces.depth, 0);
  const int cx = (pieArea.left + pieArea.right) / 2;
  // Above the top face and below the bottom face: panel only; between the top
  // face's bottom and the bottom face's bottom at the front: the wall.
  const QColor panel = At(image, cx, faces.top.top - 6);
  const QColor wall = At(image, cx, faces.top.bottom + faces.depth);
  const QColor below = At(image, cx, faces.bottom.bottom + 6);
  EXPECT_NE(wall, panel);
  EXPECT_NE(wall, below);
  // The legend's first colour box holds the first slice's colour.
  bool found = false;
  for (int x = 330; x < 400 && !found; ++x)
    for (int y = 82; y < 110 && !found; ++y) found = image.pixel(x, y) == 0xff3b7dd8;
  EXPECT_TRUE(found);
  EXPECT_NE(chart.FrontSliceKey(), -1);
  EXPECT_NE(chart.BackSliceKey(), -1);

  // Flat at inclination 0: no wall below the disc.
  chart.SetInclination(0);
  const QImage flat = chart.RenderChart();
  flat.save(OutputPath("pie_chart_flat_3d.png"));
  const pie::FaceRects flatFaces = pie::GetFaceRects(pieArea, 0, chart.ThicknessRatio());
  EXPECT_EQ(flatFaces.depth, 0);
  const QColor below1 = At(flat, cx, pieArea.bottom + 3), below2 = At(flat, cx, pieArea.bottom + 8);
  EXPECT_LE(std::abs(below1.red() - below2.red()) + std::abs(below1.blue() - below2.blue()), 4);

  for (int style : {0, 1}) {
    chart.SetChartStyle(style);
    chart.RenderChart().save(OutputPath(style == 0 ? "pie_chart_ring.png" : "pie_chart_bevel.png"));
  }
  // Percentage labels on the slices, when the slices ask for them, in every style.
  chart.AddSlice("Labelled", "Labelled", 20, 0xff00897b, 1);
  chart.GetSliceByName("Partition 1")->explode = 12;
  for (int style : {0, 1, 2}) {
    chart.SetChartStyle(style);
    chart.SetShowLabels(0);
    const QImage plain = chart.RenderChart();
    chart.SetShowLabels(1);
    const QImage labelled = chart.RenderChart();
    EXPECT_NE(plain, labelled) << style;
    if (style == 2) labelled.save(OutputPath("pie_chart_labels.png"));
  }
  // An unknown style paints nothing at all.
  chart.SetChartStyle(7);
  const QImage none = chart.RenderChart();
  EXPECT_EQ(qAlpha(none.pixel(300, 200)), 0);
}

TEST(PieChartPaint, SingleWholeSliceAndAUnlikelySliver) {
  CPieChartWnd chart;
  chart.Create("Drive Information", QRect(0, 0, 600, 400), nullptr, 1);
  FillLikeDevicePage(chart, {{"Used Space", 100}});
  chart.RenderChart().save(OutputPath("pie_chart_whole.png"));
  EXPECT_FLOAT_EQ(chart.Slices()[0]->projectedSweep, 360.0f);

  // A 1 MiB partition on a 2 TiB disk must stay a sliver, not become a disc
  // drawn over everything else.
  FillLikeDevicePage(chart, {{"Partition 1", 99.99999850472}, {"Partition 2", 0.0000014952652}});
  chart.SetInclination(63);
  chart.SetRotation(358);
  const QImage image = chart.RenderChart();
  image.save(OutputPath("pie_chart_sliver.png"));
  EXPECT_LT(chart.Slices()[1]->projectedSweep, 1.0f);
  const ChartRect pieArea = chart.PieArea();
  const pie::FaceRects faces = pie::GetFaceRects(pieArea, chart.Inclination(), chart.ThicknessRatio());
  const QColor top = At(image, (pieArea.left + pieArea.right) / 2, faces.top.top + 3);
  EXPECT_GT(top.blue(), top.red());  // the first slice's blue, not the sliver's red
}

TEST(PieChartPaint, ClickSelectsTheSliceUnderThePointer) {
  CPieChartWnd chart;
  chart.Create("Drive Information", QRect(0, 0, 600, 400), nullptr, 1);
  FillLikeDevicePage(chart, {{"Right", 50}, {"Left", 50}});  // from 3 o'clock: the lower half, then the upper
  chart.RenderChart();
  const ChartRect pieArea = chart.PieArea();
  const int cx = (pieArea.left + pieArea.right) / 2, cy = (pieArea.top + pieArea.bottom) / 2;
  const pie::FaceRects faces = pie::GetFaceRects(pieArea, chart.Inclination(), chart.ThicknessRatio());
  const int topCy = (faces.top.top + faces.top.bottom) / 2;
  struct Case {
    int style;
    QPoint point;
    const char* selected;  // nullptr: none
  } cases[] = {
      {2, {cx, topCy + 20}, "Right"},
      {2, {cx, topCy - 20}, "Left"},
      {2, {cx, faces.top.bottom + faces.depth}, "Right"},  // the front wall belongs to the front slice
      {2, {cx, faces.bottom.bottom + 4}, nullptr},
      {2, {5, 5}, nullptr},
      {1, {cx, cy + 60}, "Right"},
      {1, {cx, cy - 60}, "Left"},
      {0, {cx, cy + 110}, "Right"},
      {0, {cx, cy + 5}, nullptr},  // the ring's hole
      {0, {590, 390}, nullptr},
  };
  for (const Case& c : cases) {
    chart.SetChartStyle(c.style);
    QTest::mouseClick(&chart, Qt::LeftButton, Qt::NoModifier, c.point);
    const PieChartSlice* s = chart.GetSelectedSlice();
    if (c.selected) {
      ASSERT_NE(s, nullptr) << c.style << " " << c.point.x() << "," << c.point.y();
      EXPECT_EQ(s->name, c.selected) << c.style << " " << c.point.x() << "," << c.point.y();
    } else {
      EXPECT_EQ(s, nullptr) << c.style << " " << c.point.x() << "," << c.point.y();
    }
  }
  // The selection is overlaid in the highlight colour.
  chart.SetChartStyle(2);
  QTest::mouseClick(&chart, Qt::LeftButton, Qt::NoModifier, QPoint(cx, cy + 20));
  chart.RenderChart().save(OutputPath("pie_chart_selected.png"));
}

TEST(PieChartPaint, SavesThePictureByTheFileNamesExtension) {
  test::TempDir dir;
  const QString dotted = QString::fromStdString(dir.file("charts.v2"));
  ASSERT_TRUE(QDir().mkpath(dotted));
  struct Case {
    QString path;
    const char* format;  // nullptr: nothing written
  } cases[] = {
      {QString::fromStdString(dir.file("chart.png")), "png"},
      {dotted + "/chart.png", "png"},  // a full stop in a folder name does not hide the type
      {QString::fromStdString(dir.file("chart.bmp")), "bmp"},
      {QString::fromStdString(dir.file("chart.nothing")), nullptr},
  };
  CPieChartWnd chart;
  chart.Create("Drive Information", QRect(0, 0, 400, 300), nullptr, 1);
  FillLikeDevicePage(chart, {{"a", 1}, {"b", 2}});
  for (const Case& c : cases) {
    chart.SaveToFile(c.path);
    chart.grab();
    EXPECT_EQ(QFileInfo::exists(c.path), c.format != nullptr) << c.path.toStdString();
    if (c.format) {
      QImageReader reader(c.path);
      EXPECT_EQ(reader.format(), QByteArray(c.format));
      EXPECT_EQ(reader.size(), QSize(400, 300));
    }
  }
  // Saved once: the next paint writes nothing.
  QFile::remove(cases[0].path);
  chart.grab();
  EXPECT_FALSE(QFileInfo::exists(cases[0].path));
}

}  // namespace
}  // namespace qm
