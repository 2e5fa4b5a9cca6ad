// Drawing effects: colour arithmetic tables, gradients and textures, lines
// and borders, effect bitmaps, transparent and blended drawing, shadows.
// Checked by probing pixels of an image context.
#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dormant/draw_manager.h"

namespace qm {
namespace {

using DM = CPPDrawManager;

QImage Canvas(int w, int h, QRgb fill = 0xFFFFFFFF) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(fill);
  return img;
}

uint32_t Rgb(const QImage& img, int x, int y) { return img.pixel(x, y) & 0x00FFFFFF; }

TEST(DrawManagerColours, ArithmeticTable) {
  struct Case {
    const char* what;
    uint32_t got, want;
  };
  const Case cases[] = {
      {"grey of red", DM::GrayColor(RGB(255, 0, 0)), 76u * 0x010101u},
      {"grey of white", DM::GrayColor(RGB(255, 255, 255)), 255u * 0x010101u},
      {"grey of green", DM::GrayColor(RGB(0, 255, 0)), 149u * 0x010101u},
      {"grey pixel of blue", DM::GrayPixel(qRgb(0, 0, 255)), 29u * 0x010101u},
      {"invert", DM::InvertColor(RGB(0, 128, 255)), RGB(255, 127, 0)},
      {"darken 0.5", DM::DarkenColor(RGB(200, 101, 3), 0.5), RGB(100, 50, 1)},
      {"darken 0", DM::DarkenColor(RGB(200, 101, 3), 0.0), 0u},
      {"darken 1 unchanged", DM::DarkenColor(RGB(200, 101, 3), 1.0), RGB(200, 101, 3)},
      {"darken 1.5 unchanged", DM::DarkenColor(RGB(200, 101, 3), 1.5), RGB(200, 101, 3)},
      {"darken negative unchanged", DM::DarkenColor(RGB(200, 101, 3), -0.2), RGB(200, 101, 3)},
      {"lighten 0 unchanged", DM::LightenColor(RGB(100, 200, 10), 0.0), RGB(100, 200, 10)},
      {"lighten 1 doubles, capped", DM::LightenColor(RGB(100, 200, 10), 1.0), RGB(200, 255, 20)},
      {"lighten 0.25", DM::LightenColor(RGB(100, 250, 4), 0.25), RGB(125, 255, 5)},
      {"lighten 1.5 unchanged", DM::LightenColor(RGB(100, 200, 10), 1.5), RGB(100, 200, 10)},
      {"mix halves", DM::MixColors(RGB(200, 0, 100), 0.5, RGB(0, 200, 100), 0.5), RGB(100, 100, 100)},
      // Factors above 1 in sum must not carry into the next channel.
      {"mix overflow held", DM::MixColors(RGB(200, 200, 200), 1.0, RGB(200, 10, 0), 1.0),
       RGB(255, 210, 200)},
      {"mix negative held", DM::MixColors(RGB(10, 10, 10), -1.0, 0, 0.0), 0u},
      {"colour to pixel", DM::ColorToPixel(RGB(1, 2, 3)), 0x00010203u},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(DrawManagerFill, HorizontalGradientOf64Bands) {
  DM dm;
  QImage dc = Canvas(64, 4);
  dm.FillEffect(dc, DM::kFillHGradient, QRect(0, 0, 64, 4), RGB(0, 0, 0), 0, RGB(255, 255, 255));
  for (int k = 0; k < 64; ++k) {
    const uint32_t g = (255 * k) >> 6;
    EXPECT_EQ(Rgb(dc, k, 2), g * 0x010101u) << k;
  }
  EXPECT_EQ(Rgb(dc, 63, 0), 251u * 0x010101u);
}

TEST(DrawManagerFill, GradientVariantsAndNarrowBands) {
  DM dm;
  // Vertical, 10 pixels: bands that round to nothing are skipped.
  QImage dc = Canvas(3, 10);
  dm.FillEffect(dc, DM::kFillVGradient, QRect(0, 0, 3, 10), RGB(0, 0, 0), 0, RGB(0, 0, 255));
  for (int y = 0; y < 10; ++y) {
    const int k = (y * 64 + 63) / 10;  // the last band that starts on this line
    EXPECT_EQ(Rgb(dc, 1, y), static_cast<uint32_t>((255 * k) >> 6)) << y;
  }
  // Centre gradient: F at both ends, L in the middle.
  QImage c = Canvas(128, 2);
  dm.FillEffect(c, DM::kFillHCenterGradient, QRect(0, 0, 128, 2), RGB(255, 0, 0), 0, RGB(0, 0, 255));
  EXPECT_EQ(Rgb(c, 0, 0), 0xFF0000u);
  EXPECT_EQ(Rgb(c, 64, 0), 0x0000FFu);
  EXPECT_EQ(qBlue(c.pixel(127, 0)), 255 >> 6);  // the last band: 1/64 of L left
  // Three colours: F, M at the split, L approached at the end.
  QImage t = Canvas(2, 128);
  dm.FillEffect(t, DM::kFillV3Gradient, QRect(0, 0, 2, 128), RGB(255, 0, 0), RGB(0, 255, 0),
                RGB(0, 0, 255));
  EXPECT_EQ(Rgb(t, 0, 0), 0xFF0000u);
  EXPECT_EQ(Rgb(t, 0, 64), 0x00FF00u);
  EXPECT_EQ(qBlue(t.pixel(0, 127)), 251);
  // Unknown effects and 0 fill solid; the rectangle bounds the fill.
  QImage s = Canvas(6, 6);
  dm.FillEffect(s, 99, QRect(1, 1, 4, 4), RGB(9, 8, 7), 0, 0);
  EXPECT_EQ(Rgb(s, 1, 1), 0x090807u);
  EXPECT_EQ(Rgb(s, 5, 5), 0xFFFFFFu);
}

// Average brightness of a line of a picture.
double LineLevel(const QImage& img, int y) {
  double sum = 0;
  for (int x = 0; x < img.width(); ++x) sum += qGray(img.pixel(x, y));
  return sum / img.width();
}
double ColumnLevel(const QImage& img, int x) {
  double sum = 0;
  for (int y = 0; y < img.height(); ++y) sum += qGray(img.pixel(x, y));
  return sum / img.height();
}

TEST(DrawManagerFill, TexturesShadeTheWayTheyShould) {
  DM dm;
  dm.SeedRandom(7);
  const COLORREF white = RGB(255, 255, 255), grey = RGB(128, 128, 128), black = RGB(0, 0, 0);
  const QRect r(0, 0, 60, 40);
  // Horizontal shade: index grows from the bottom line up, so the top is bright.
  QImage h = Canvas(60, 40, 0xFF00FF00);
  dm.FillEffect(h, DM::kFillHShade, r, white, grey, black, 0);
  EXPECT_GT(LineLevel(h, 0), 240);
  EXPECT_LT(LineLevel(h, 39), 10);
  EXPECT_EQ(Rgb(h, 0, 20), Rgb(h, 59, 20));  // constant along a row without noise
  // Vertical shade: bright at the left.
  QImage v = Canvas(60, 40);
  dm.FillEffect(v, DM::kFillVShade, r, white, grey, black, 0);
  EXPECT_GT(ColumnLevel(v, 0), 240);
  EXPECT_LT(ColumnLevel(v, 59), 10);
  // Noise: around the middle entry, within the granularity.
  QImage n = Canvas(60, 40);
  dm.FillEffect(n, DM::kFillNoise, r, white, grey, black, 10);
  for (int y = 0; y < 40; y += 7)
    for (int x = 0; x < 60; x += 9) EXPECT_NEAR(qGray(n.pixel(x, y)), 128, 12) << x << "," << y;
  // Horizontal bump: top and bottom lines far from the middle line.
  QImage b = Canvas(60, 40);
  dm.FillEffect(b, DM::kFillHBump, r, white, grey, black, 0);
  EXPECT_GT(LineLevel(b, 0), LineLevel(b, 20) + 50);
  EXPECT_LT(LineLevel(b, 39), LineLevel(b, 20) - 50);
  // The tint pulls the whole palette toward the first colour.
  QImage tinted = Canvas(60, 40);
  dm.FillEffect(tinted, DM::kFillHShade, r, white, grey, black, 0, 100);
  EXPECT_EQ(Rgb(tinted, 10, 39), 0xFFFFFFu);
  // Hard bump: the bevels at the middle line are bright on the left, dark on the right.
  QImage hb = Canvas(60, 40);
  dm.FillEffect(hb, DM::kFillHardBump, r, white, grey, black, 0);
  EXPECT_GT(qGray(hb.pixel(0, 20)), 200);
  EXPECT_LT(qGray(hb.pixel(59, 20)), 60);
}

TEST(DrawManagerFill, TexturesOfAwkwardSizesStayInBounds) {
  DM dm;
  // One line (the bevel divides by the height), one column, and wider than
  // the random range (the streak placement divides by it).
  const QSize sizes[] = {{30, 1}, {1, 30}, {1, 1}, {40000, 2}};
  for (const QSize& s : sizes) {
    for (int effect = DM::kFillNoise; effect <= DM::kFillMetal; ++effect) {
      QImage dc = Canvas(s.width() + 2, s.height() + 2, 0xFF123456);
      dm.FillEffect(dc, effect, QRect(1, 1, s.width(), s.height()), RGB(255, 0, 0),
                    RGB(0, 255, 0), RGB(0, 0, 255), 300, 20);
      EXPECT_EQ(Rgb(dc, 0, 0), 0x123456u) << effect;
      EXPECT_EQ(Rgb(dc, s.width() + 1, s.height() + 1), 0x123456u) << effect;
    }
  }
}

TEST(DrawManagerLines, PenTypes) {
  DM dm;
  struct Case {
    int type, width;
    int drawn;  // pixels along y = 5 from x = 0 to 19 that are red
  };
  const Case cases[] = {{1, 1, 20}, {7, 1, 20}, {-3, 1, 20}, {0, 1, 0}, {1, 0, 0}, {1, -2, 0}};
  for (const auto& c : cases) {
    QImage dc = Canvas(30, 20);
    dm.DrawLine(dc, 0, 5, 19, 5, RGB(255, 0, 0), c.type, c.width);
    int red = 0;
    for (int x = 0; x < 20; ++x) red += Rgb(dc, x, 5) == 0xFF0000u;
    EXPECT_EQ(red, c.drawn) << "type " << c.type << " width " << c.width;
  }
  // Dashes leave gaps.
  QImage dash = Canvas(60, 10);
  dm.DrawLine(dash, 0, 5, 59, 5, RGB(255, 0, 0), DM::kPenDash, 1);
  int red = 0;
  for (int x = 0; x < 60; ++x) red += Rgb(dash, x, 5) == 0xFF0000u;
  EXPECT_GT(red, 10);
  EXPECT_LT(red, 55);
  // Double: a second line 2 x width below a horizontal one, right of a vertical one.
  QImage dbl = Canvas(30, 30);
  dm.DrawLine(dbl, 2, 5, 20, 5, RGB(0, 0, 255), DM::kPenDouble, 1);
  dm.DrawLine(dbl, 25, 10, 25, 25, RGB(0, 0, 255), DM::kPenDouble, 1);
  EXPECT_EQ(Rgb(dbl, 10, 5), 0x0000FFu);
  EXPECT_EQ(Rgb(dbl, 10, 6), 0xFFFFFFu);
  EXPECT_EQ(Rgb(dbl, 10, 7), 0x0000FFu);
  EXPECT_EQ(Rgb(dbl, 27, 15), 0x0000FFu);
  EXPECT_EQ(Rgb(dbl, 26, 15), 0xFFFFFFu);
}

TEST(DrawManagerLines, TwoColouredAndDoubleRectangles) {
  DM dm;
  QImage dc = Canvas(30, 30);
  dm.DrawRectangle(dc, 5, 5, 20, 20, RGB(255, 0, 0), RGB(0, 0, 255), DM::kPenSolid, 1);
  EXPECT_EQ(Rgb(dc, 5, 12), 0xFF0000u);   // left edge
  EXPECT_EQ(Rgb(dc, 12, 5), 0xFF0000u);   // top edge
  EXPECT_EQ(Rgb(dc, 20, 12), 0x0000FFu);  // right edge
  EXPECT_EQ(Rgb(dc, 12, 20), 0x0000FFu);  // bottom edge
  EXPECT_EQ(Rgb(dc, 12, 12), 0xFFFFFFu);

  QImage d = Canvas(30, 30);
  dm.DrawRectangle(d, QRect(5, 5, 16, 16), RGB(0, 0, 0), RGB(0, 0, 0), DM::kPenDouble, 1);
  EXPECT_EQ(Rgb(d, 5, 12), 0u);
  EXPECT_EQ(Rgb(d, 6, 12), 0xFFFFFFu);
  EXPECT_EQ(Rgb(d, 7, 12), 0u);  // the second frame, 2 pixels inside
  EXPECT_EQ(Rgb(d, 19, 12), 0u);
  EXPECT_EQ(Rgb(d, 12, 19), 0u);
  EXPECT_EQ(Rgb(d, 12, 12), 0xFFFFFFu);

  QImage none = Canvas(30, 30);
  dm.DrawRectangle(none, 5, 5, 20, 20, 0, 0, DM::kPenNone, 1);
  dm.DrawRectangle(none, 5, 5, 20, 20, 0, 0, DM::kPenSolid, 0);
  EXPECT_EQ(none, Canvas(30, 30));
}

TEST(DrawManagerBlits, TilesAreCutAtTheEdges) {
  DM dm;
  QImage tile(3, 2, QImage::Format_RGB32);
  tile.fill(Qt::black);
  tile.setPixel(0, 0, qRgb(255, 0, 0));
  QImage dc = Canvas(12, 12);
  dm.TileBitmap(dc, 1, 1, 7, 5, tile, 0, 0, 3, 2);
  EXPECT_EQ(Rgb(dc, 1, 1), 0xFF0000u);
  EXPECT_EQ(Rgb(dc, 4, 3), 0xFF0000u);
  EXPECT_EQ(Rgb(dc, 7, 5), 0xFF0000u);  // last, cut tile
  EXPECT_EQ(Rgb(dc, 8, 5), 0xFFFFFFu);  // outside the area
  EXPECT_EQ(Rgb(dc, 7, 6), 0xFFFFFFu);
  QImage untouched = Canvas(12, 12);
  dm.TileBitmap(untouched, 0, 0, 5, 5, tile, 0, 0, 0, 2);  // no size: no endless loop
  EXPECT_EQ(untouched, Canvas(12, 12));
}

TEST(DrawManagerBlits, AlphaBlitAndDarkenRegion) {
  DM dm;
  QImage src(4, 4, QImage::Format_RGB32);
  src.fill(qRgb(0, 0, 0));
  QImage dc = Canvas(4, 4);
  dm.AlphaBlit(dc, 0, 0, 2, 2, src, 0, 0, 25);
  EXPECT_EQ(Rgb(dc, 0, 0), 191u * 0x010101u);
  EXPECT_EQ(Rgb(dc, 3, 3), 0xFFFFFFu);
  dm.AlphaBlit(dc, 2, 2, 2, 2, src, 0, 0, 100);
  EXPECT_EQ(Rgb(dc, 3, 3), 0u);

  QImage alpha(2, 1, QImage::Format_ARGB32);
  alpha.setPixel(0, 0, qRgba(255, 0, 0, 255));
  alpha.setPixel(1, 0, qRgba(255, 0, 0, 0));
  QImage p = Canvas(2, 1);
  dm.AlphaBlitPerPixel(p, 0, 0, 2, 1, alpha, 0, 0);
  EXPECT_EQ(Rgb(p, 0, 0), 0xFF0000u);
  EXPECT_EQ(Rgb(p, 1, 0), 0xFFFFFFu);

  // A factor list shorter than the region leaves the rest alone.
  QImage r = Canvas(3, 2);
  dm.DarkenRegion(r, 0, 0, 3, 2, {0.5, 1.0, 0.0});
  EXPECT_EQ(Rgb(r, 0, 0), 127u * 0x010101u);
  EXPECT_EQ(Rgb(r, 1, 0), 0xFFFFFFu);
  EXPECT_EQ(Rgb(r, 2, 0), 0u);
  EXPECT_EQ(Rgb(r, 0, 1), 0xFFFFFFu);
}

TEST(DrawManagerEffects, EffectBitmapPixels) {
  DM dm;
  struct Case {
    const char* what;
    QRgb source;  // as a pixel of an RGB32 picture
    uint32_t flags;
    bool useMask;
    COLORREF mask, replacement;
    QRgb want;
  };
  const Case cases[] = {
      {"plain", qRgb(10, 20, 30), 0, false, 0, 0, 0x000A141Eu},
      {"masked", qRgb(255, 0, 255), 0, true, RGB(255, 0, 255), 0, 0u},
      {"mask flag off", qRgb(255, 0, 255), 0, false, RGB(255, 0, 255), 0, 0x00FF00FFu},
      {"grey", qRgb(255, 0, 0), DM::kEffectGray, false, 0, 0, 76u * 0x010101u},
      {"darken", qRgb(200, 100, 4), DM::kEffectDarken, false, 0, 0, 0x00964B03u},
      {"lighten", qRgb(100, 240, 4), DM::kEffectLighten, false, 0, 0, 0x007DFF05u},
      {"replace", qRgb(1, 2, 3), DM::kEffectReplace, false, 0, RGB(9, 8, 7), 0x00090807u},
      {"invert last", qRgb(1, 2, 3), DM::kEffectReplace | DM::kEffectInvert, false, 0,
       RGB(255, 255, 255), 0u},
      {"masked then inverted", qRgb(0, 0, 0), DM::kEffectInvert, true, RGB(0, 0, 0), 0, 0x00FFFFFFu},
  };
  for (const auto& c : cases) {
    QImage src(1, 1, QImage::Format_RGB32);
    src.setPixel(0, 0, c.source);
    const QImage out = dm.MakeEffectBitmap(src, 1, 1, c.flags, c.useMask, c.mask, c.replacement);
    EXPECT_EQ(out.pixel(0, 0), c.want) << c.what;
    EXPECT_FALSE(dm.HasAlpha()) << c.what;
  }
  // An alpha byte keeps the pixel from matching the mask colour and is kept.
  QImage a(1, 1, QImage::Format_ARGB32);
  a.setPixel(0, 0, qRgba(255, 0, 255, 0x80));
  const QImage out = dm.MakeEffectBitmap(a, 1, 1, 0, true, RGB(255, 0, 255), 0);
  EXPECT_EQ(out.pixel(0, 0), 0x80FF00FFu);
  EXPECT_TRUE(dm.HasAlpha());
}

QImage RedSquareOnMagenta(int size, int border) {
  QImage img(size, size, QImage::Format_RGB32);
  img.fill(qRgb(255, 0, 255));
  for (int y = border; y < size - border; ++y)
    for (int x = border; x < size - border; ++x) img.setPixel(x, y, qRgb(255, 0, 0));
  return img;
}

TEST(DrawManagerPictures, TransparentBitmapWithEffectsAndHardShadow) {
  DM dm;
  const QImage pic = RedSquareOnMagenta(8, 1);
  QImage dc = Canvas(20, 20, qRgb(0, 200, 0));
  dm.DrawBitmap(dc, 2, 2, 8, 8, pic, true, RGB(255, 0, 255));
  EXPECT_EQ(Rgb(dc, 2, 2), 0x00C800u);   // the magenta frame is see-through
  EXPECT_EQ(Rgb(dc, 5, 5), 0xFF0000u);
  EXPECT_FALSE(dm.HasAlpha());

  QImage g = Canvas(20, 20);
  dm.DrawBitmap(g, 0, 0, 8, 8, pic, true, RGB(255, 0, 255), DM::kEffectGray);
  EXPECT_EQ(Rgb(g, 4, 4), 76u * 0x010101u);

  // Stretched to twice the size.
  QImage s = Canvas(20, 20);
  dm.DrawBitmap(s, 0, 0, 16, 16, pic, true, RGB(255, 0, 255));
  EXPECT_EQ(Rgb(s, 1, 1), 0xFFFFFFu);
  EXPECT_EQ(Rgb(s, 13, 13), 0xFF0000u);
  EXPECT_EQ(Rgb(s, 14, 14), 0xFFFFFFu);

  // A hard shadow in the replacement colour, offset by (3, 3), under the picture.
  QImage sh = Canvas(20, 20);
  dm.DrawBitmap(sh, 2, 2, 8, 8, pic, true, RGB(255, 0, 255), DM::kEffectHardShadow, true, 3, 3,
                0, 0, RGB(128, 128, 128));
  EXPECT_EQ(Rgb(sh, 11, 11), 128u * 0x010101u);  // shadow alone
  EXPECT_EQ(Rgb(sh, 5, 5), 0xFF0000u);           // picture over it
  EXPECT_EQ(Rgb(sh, 12, 12), 0xFFFFFFu);         // the shadow's see-through frame
  EXPECT_EQ(Rgb(sh, 1, 1), 0xFFFFFFu);

  // Shadow room without a shadow: the picture takes the shadow's place.
  QImage moved = Canvas(20, 20);
  dm.DrawBitmap(moved, 2, 2, 8, 8, pic, true, RGB(255, 0, 255), 0, true, 3, 3);
  EXPECT_EQ(Rgb(moved, 4, 4), 0xFFFFFFu);
  EXPECT_EQ(Rgb(moved, 6, 6), 0xFF0000u);
}

TEST(DrawManagerPictures, AlphaBitmapBlendsAndIgnoresTheMask) {
  DM dm;
  QImage pic(2, 1, QImage::Format_ARGB32);
  pic.setPixel(0, 0, qRgba(255, 0, 255, 255));  // the mask colour, but opaque alpha
  pic.setPixel(1, 0, qRgba(0, 0, 0, 128));
  QImage dc = Canvas(2, 1);
  dm.DrawBitmap(dc, 0, 0, 2, 1, pic, true, RGB(255, 0, 255));
  EXPECT_TRUE(dm.HasAlpha());
  EXPECT_EQ(Rgb(dc, 0, 0), 0xFF00FFu);
  EXPECT_EQ(Rgb(dc, 1, 0), 127u * 0x010101u);
}

TEST(DrawManagerPictures, ImageStripFrames) {
  DM dm;
  // 4 x 2 frames of 3 x 3, each filled with its own grey level.
  QImage strip(12, 6, QImage::Format_RGB32);
  for (int i = 0; i < 8; ++i)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x) strip.setPixel((i % 4) * 3 + x, (i / 4) * 3 + y, qRgb(i * 10, 0, 0));
  QImage dc = Canvas(5, 5);
  dm.DrawImageListFrame(dc, 1, 1, 3, 3, strip, 5, 3, 3, false, 0);
  EXPECT_EQ(Rgb(dc, 2, 2), 0x320000u);  // column 1 of the second row
  for (int index : {8, -1}) {
    QImage none = Canvas(5, 5);
    dm.DrawImageListFrame(none, 1, 1, 3, 3, strip, index, 3, 3, false, 0);
    EXPECT_EQ(none, Canvas(5, 5)) << index;
  }
  QImage zero = Canvas(5, 5);
  dm.DrawImageListFrame(zero, 1, 1, 3, 3, strip, 0, 0, 3, false, 0);  // no divide by zero
  EXPECT_EQ(zero, Canvas(5, 5));
}

TEST(DrawManagerPictures, IconsKeepTheirBlackPixels) {
  DM dm;
  QImage icon(4, 4, QImage::Format_ARGB32);
  icon.fill(qRgba(0, 0, 255, 255));
  icon.setPixel(0, 0, qRgba(0, 0, 0, 0));      // transparent
  icon.setPixel(1, 1, qRgba(0, 0, 0, 255));    // opaque black
  QImage dc = Canvas(6, 6, qRgb(0, 200, 0));
  dm.DrawIcon(dc, 1, 1, 4, 4, icon);
  EXPECT_EQ(Rgb(dc, 1, 1), 0x00C800u);
  EXPECT_EQ(Rgb(dc, 2, 2), 0u);
  EXPECT_EQ(Rgb(dc, 3, 3), 0x0000FFu);
  // Replacement: every opaque pixel takes the colour.
  QImage r = Canvas(6, 6, qRgb(0, 200, 0));
  dm.DrawIcon(r, 1, 1, 4, 4, icon, DM::kEffectReplace, false, 0, 0, 0, 0, RGB(255, 255, 0));
  EXPECT_EQ(Rgb(r, 1, 1), 0x00C800u);
  EXPECT_EQ(Rgb(r, 2, 2), 0xFFFF00u);
  EXPECT_EQ(Rgb(r, 4, 4), 0xFFFF00u);
  // Stretched icons keep their shape.
  QImage s = Canvas(10, 10, qRgb(0, 200, 0));
  dm.DrawIcon(s, 0, 0, 8, 8, icon);
  EXPECT_EQ(Rgb(s, 1, 1), 0x00C800u);
  EXPECT_EQ(Rgb(s, 7, 7), 0x0000FFu);
  EXPECT_EQ(DM::GetIconSize(icon), QSize(4, 4));
  EXPECT_EQ(DM::GetIconSize(QImage()), QSize(0, 0));
}

TEST(DrawManagerShadow, BoxBlurFactors) {
  DM dm;
  // A black 7 x 7 shape, blur 3: inset by one pixel on white.
  QImage shape(7, 7, QImage::Format_RGB32);
  shape.fill(Qt::black);
  for (int blur : {3, 2}) {  // an even blur grows to the next odd one
    const std::vector<double> f = dm.MakeShadowFactors(7, 7, shape, true, blur, blur);
    ASSERT_EQ(f.size(), 49u);
    EXPECT_DOUBLE_EQ(f[3 * 7 + 3], 0.0) << blur;
    EXPECT_NEAR(f[0], 8.0 / 9.0, 1e-9) << blur;
    EXPECT_NEAR(f[1 * 7 + 1], 5.0 / 9.0, 1e-9) << blur;
    EXPECT_NEAR(f[3 * 7 + 0], 6.0 / 9.0, 1e-9) << blur;
  }
  // Hard: blue byte / 255.
  QImage grey(2, 1, QImage::Format_RGB32);
  grey.setPixel(0, 0, qRgb(0, 0, 51));
  grey.setPixel(1, 0, qRgb(255, 255, 255));
  const std::vector<double> hard = dm.MakeShadowFactors(2, 1, grey, false, 0, 0);
  EXPECT_DOUBLE_EQ(hard[0], 0.2);
  EXPECT_DOUBLE_EQ(hard[1], 1.0);
}

TEST(DrawManagerShadow, SoftShadowFadesAndOversizedBlurIsHarmless) {
  DM dm;
  QImage shape(20, 20, QImage::Format_RGB32);
  shape.fill(Qt::black);
  QImage dc = Canvas(30, 30);
  dm.DrawShadow(dc, 5, 5, 20, 20, shape, true, 5, 5);
  EXPECT_EQ(Rgb(dc, 15, 15), 0u);
  EXPECT_EQ(Rgb(dc, 2, 2), 0xFFFFFFu);
  // Darker toward the middle along a row through the edge.
  int last = 256;
  for (int x = 5; x <= 10; ++x) {
    const int level = qBlue(dc.pixel(x, 15));
    EXPECT_LE(level, last) << x;
    last = level;
  }
  EXPECT_GT(qBlue(dc.pixel(5, 15)), 0);
  EXPECT_LT(qBlue(dc.pixel(5, 15)), 255);

  // A blur as wide as the picture leaves no room for the shape: no shadow.
  QImage big = Canvas(10, 10);
  dm.DrawShadow(big, 0, 0, 10, 10, shape, true, 40, 40);
  dm.DrawShadow(big, 0, 0, 10, 10, shape, true, 1 << 30, 1 << 30);  // no giant padding grid
  EXPECT_EQ(big, Canvas(10, 10));
  // Blur size 0 counts as 1.
  QImage one = Canvas(10, 10);
  dm.DrawShadow(one, 0, 0, 10, 10, shape, true, 0, 0);
  EXPECT_EQ(Rgb(one, 5, 5), 0u);
}

// A sheet of every fill effect, two shadowed pictures and two pen styles:
// each shows as itself.
TEST(DrawManagerSheet, GrabEveryEffect) {
  DM dm;
  dm.SeedRandom(3);
  const QRgb back = qRgb(240, 240, 240);
  QImage sheet = Canvas(4 * 90 + 10, 4 * 60 + 10 + 70, back);
  std::vector<QRect> cells;
  for (int e = 0; e <= DM::kFillMetal; ++e) {
    const QRect r(10 + (e % 4) * 90, 10 + (e / 4) * 60, 80, 50);
    dm.FillEffect(sheet, e, r, RGB(30, 60, 200), RGB(250, 250, 250), RGB(200, 40, 30), 8, 0);
    dm.DrawRectangle(sheet, r, RGB(255, 255, 255), RGB(0, 0, 0), DM::kPenSolid, 1);
    cells.push_back(r);
  }
  const QImage pic = RedSquareOnMagenta(40, 4);
  dm.DrawBitmap(sheet, 20, 255, 40, 40, pic, true, RGB(255, 0, 255), DM::kEffectSoftShadow, true, 6,
                6, 7, 7, RGB(60, 60, 60));
  dm.DrawBitmap(sheet, 100, 255, 40, 40, pic, true, RGB(255, 0, 255),
                DM::kEffectHardShadow | DM::kEffectLighten, true, 4, 4, 0, 0, RGB(90, 90, 90));
  dm.DrawLine(sheet, 180, 260, 340, 260, RGB(0, 0, 0), DM::kPenDashDot, 1);
  dm.DrawLine(sheet, 180, 275, 340, 275, RGB(0, 0, 128), DM::kPenDouble, 2);
  const QString out = QStringLiteral(QM_TEST_OUTPUT_DIR) + "/draw_manager_effects.png";
  QDir().mkpath(QStringLiteral(QM_TEST_OUTPUT_DIR));
  ASSERT_TRUE(sheet.save(out));

  // Every effect fills its cell its own way, inside a frame white at the top
  // left and black just past the bottom right (a frame as wide as its
  // rectangle's right and bottom, one past the last pixel).
  for (size_t e = 0; e < cells.size(); ++e) {
    const QRect& r = cells[e];
    EXPECT_EQ(Rgb(sheet, r.left(), r.center().y()), 0xFFFFFFu) << e;
    EXPECT_EQ(Rgb(sheet, r.center().x(), r.top()), 0xFFFFFFu) << e;
    EXPECT_EQ(Rgb(sheet, r.right() + 1, r.center().y()), 0u) << e;
    EXPECT_EQ(Rgb(sheet, r.center().x(), r.bottom() + 1), 0u) << e;
    const QImage inside = sheet.copy(r.adjusted(1, 1, -1, -1));
    EXPECT_NE(inside, Canvas(inside.width(), inside.height(), back)) << e;
    for (size_t other = 0; other < e; ++other)
      EXPECT_NE(inside, sheet.copy(cells[other].adjusted(1, 1, -1, -1))) << e << " looks like " << other;
  }
  // The pictures: red inside, the magenta frame see-through, and a shadow
  // below and to the right, darker than the sheet.
  for (int y = 0; y < sheet.height(); ++y)
    for (int x = 0; x < sheet.width(); ++x) ASSERT_NE(Rgb(sheet, x, y), 0xFF00FFu) << x << "," << y;
  EXPECT_EQ(Rgb(sheet, 40, 275), 0xFF0000u);
  EXPECT_EQ(Rgb(sheet, 21, 256), back & 0xFFFFFF);
  EXPECT_LT(qGray(sheet.pixel(20 + 40 + 1, 255 + 30)), qGray(back));
  EXPECT_EQ(Rgb(sheet, 110, 290), 0xFF0000u);
  EXPECT_EQ(Rgb(sheet, 105, 257), back & 0xFFFFFF);
  EXPECT_LT(qGray(sheet.pixel(139, 290)), qGray(back));  // the hard shadow, 4 pixels across and down
  // The dash-dot line is broken, the double line two lines with a gap.
  int black = 0;
  for (int x = 180; x < 340; ++x) black += Rgb(sheet, x, 260) == 0u;
  EXPECT_GT(black, 40);
  EXPECT_LT(black, 150);
  std::vector<int> navyRows;
  for (int y = 268; y <= 282; ++y)
    if (Rgb(sheet, 260, y) == 0x000080u) navyRows.push_back(y);
  ASSERT_GE(navyRows.size(), 2u);
  EXPECT_GT(navyRows.back() - navyRows.front(), static_cast<int>(navyRows.size()) - 1);
}

}  // namespace
}  // namespace qm
