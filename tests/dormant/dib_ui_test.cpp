// Device-independent bitmap: layout arithmetic, palette and pixel edits, and
// the .bmp bytes checked against a hand-assembled header and two readers.
#include <QImage>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "dormant/dib.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct LayoutCase {
  int width, height, bpp;
  int lineWidth, paletteEntries;
  uint32_t sizeImage, totalSize;
};

TEST(CCeXDibTest, LayoutOfEveryDepth) {
  const LayoutCase cases[] = {
      {10, 3, 8, 12, 256, 36, 40 + 1024 + 36},
      {33, 2, 1, 8, 2, 16, 40 + 8 + 16},
      {32, 1, 1, 4, 2, 4, 40 + 8 + 4},
      {7, 5, 4, 4, 16, 20, 40 + 64 + 20},
      {3, 2, 24, 12, 0, 24, 40 + 24},
      {5, 1, 16, 12, 0, 12, 40 + 12},
      {2, 2, 32, 8, 0, 16, 40 + 16},
  };
  for (const auto& c : cases) {
    CCeXDib dib;
    ASSERT_NE(dib.BuildDib(c.width, c.height, c.bpp), nullptr) << c.width << "x" << c.bpp;
    EXPECT_EQ(dib.GetLineWidth(), c.lineWidth) << c.width << "x" << c.bpp;
    EXPECT_EQ(dib.GetPaletteEntries(), c.paletteEntries);
    EXPECT_EQ(dib.GetPaletteSize(), c.paletteEntries * 4u);
    EXPECT_EQ(dib.GetSizeImage(), c.sizeImage);
    EXPECT_EQ(dib.GetTotalSize(), c.totalSize);
    EXPECT_EQ(dib.Buffer().size(), c.totalSize);
    EXPECT_EQ(dib.GetBits(), dib.Buffer().data() + 40 + c.paletteEntries * 4);
  }
}

TEST(CCeXDibTest, RefusesSizesTheHeaderCannotHold) {
  CCeXDib dib;
  EXPECT_EQ(dib.BuildDib(0, 5, 8), nullptr);
  EXPECT_EQ(dib.BuildDib(5, -1, 8), nullptr);
  EXPECT_EQ(dib.BuildDib(5, 5, 7), nullptr);
  // 70000 x 70000 x 4 bytes does not fit the 32-bit size fields.
  EXPECT_EQ(dib.BuildDib(70000, 70000, 32), nullptr);
  EXPECT_EQ(dib.GetBits(), nullptr);
  EXPECT_EQ(dib.WriteBmpFile("/tmp/never-written.bmp"), 0);
}

TEST(CCeXDibTest, PaletteEdits) {
  CCeXDib dib;
  ASSERT_NE(dib.BuildDib(4, 4, 8), nullptr);
  dib.MakeGreyPalette();
  for (int i : {0, 1, 128, 254, 255}) {
    const RGBQUAD q = dib.GetPaletteEntry(i);
    EXPECT_EQ(q.rgbRed, i);
    EXPECT_EQ(q.rgbGreen, i);
    EXPECT_EQ(q.rgbBlue, i);
    EXPECT_EQ(q.rgbReserved, 0);
  }
  dib.PutPaletteEntry(3, 10, 20, 30);
  const uint8_t* table = dib.Buffer().data() + 40 + 3 * 4;
  EXPECT_EQ(table[0], 30);  // blue first
  EXPECT_EQ(table[1], 20);
  EXPECT_EQ(table[2], 10);
  dib.PutPaletteEntry(256, 1, 1, 1);  // past the table: ignored
  dib.PutPaletteEntry(-1, 1, 1, 1);

  // 150 percent acts as 100: every entry becomes the colour.
  dib.MixPaletteToward(RGB(200, 100, 50), 150);
  for (int i : {0, 3, 255}) {
    const RGBQUAD q = dib.GetPaletteEntry(i);
    EXPECT_EQ(q.rgbRed, 200);
    EXPECT_EQ(q.rgbGreen, 100);
    EXPECT_EQ(q.rgbBlue, 50);
  }
  dib.MakeGreyPalette();
  dib.MixPaletteToward(RGB(255, 0, 0), 50);
  const RGBQUAD q = dib.GetPaletteEntry(100);
  EXPECT_EQ(q.rgbRed, (255 * 50 + 100 * 50) / 100);
  EXPECT_EQ(q.rgbGreen, 50);
}

TEST(CCeXDibTest, PixelIndexCountsRowsFromTheTop) {
  CCeXDib dib;
  ASSERT_NE(dib.BuildDib(3, 4, 8), nullptr);  // line width 4
  dib.PutPixelIndex(0, 0, 7);
  dib.PutPixelIndex(2, 3, 9);
  const uint8_t* bits = dib.GetBits();
  EXPECT_EQ(bits[3 * 4 + 0], 7);  // top line is the last row in the buffer
  EXPECT_EQ(bits[2], 9);          // bottom line is the first
  // Outside the picture nothing is written.
  dib.PutPixelIndex(3, 0, 1);
  dib.PutPixelIndex(0, 4, 1);
  dib.PutPixelIndex(-1, 0, 1);
  int nonZero = 0;
  for (uint32_t i = 0; i < dib.GetSizeImage(); ++i) nonZero += bits[i] != 0;
  EXPECT_EQ(nonZero, 2);
}

TEST(CCeXDibTest, TrueColourAndNarrowDepthsIgnorePaletteEdits) {
  CCeXDib rgb;
  ASSERT_NE(rgb.BuildDib(4, 2, 24), nullptr);
  const std::vector<uint8_t> before = rgb.Buffer();
  rgb.MakeGreyPalette();
  rgb.PutPaletteEntry(0, 1, 2, 3);
  rgb.PutPixelIndex(0, 0, 5);
  EXPECT_EQ(rgb.Buffer(), before);

  // One byte per pixel would overrun the rows of a 1-bit picture.
  CCeXDib mono;
  ASSERT_NE(mono.BuildDib(8, 2, 1), nullptr);
  mono.PutPixelIndex(7, 0, 0xFF);
  EXPECT_EQ(mono.GetBits()[7], 0);
}

TEST(CCeXDibTest, CopyAndRelease) {
  CCeXDib a;
  ASSERT_NE(a.BuildDib(5, 2, 8), nullptr);
  a.MakeGreyPalette();
  a.FillBits(0x42);
  CCeXDib b;
  b.CopyFromDib(a);
  EXPECT_EQ(b.Buffer(), a.Buffer());
  EXPECT_EQ(b.GetWidth(), 5);
  a.Release();
  EXPECT_EQ(a.GetBits(), nullptr);
  EXPECT_EQ(a.GetWidth(), 0);
  EXPECT_EQ(a.GetPaletteEntries(), 0);
  EXPECT_EQ(a.GetTotalSize(), 40u);
  const RGBQUAD q = CCeXDib::ColorToRgbQuad(RGB(1, 2, 3));
  EXPECT_EQ(q.rgbRed, 1);
  EXPECT_EQ(q.rgbGreen, 2);
  EXPECT_EQ(q.rgbBlue, 3);
  EXPECT_EQ(q.rgbReserved, 0);
}

// The 10 x 3, 8-bit file, byte by byte.
TEST(CCeXDibTest, WritesTheExactFileLayout) {
  test::TempDir dir;
  CCeXDib dib;
  ASSERT_NE(dib.BuildDib(10, 3, 8), nullptr);
  dib.MakeGreyPalette();
  dib.PutPaletteEntry(1, 255, 0, 0);
  dib.FillBits(0);
  dib.PutPixelIndex(0, 0, 1);     // top-left red
  dib.PutPixelIndex(9, 2, 255);   // bottom-right white
  const std::string path = dir.file("pic.bmp");
  ASSERT_EQ(dib.WriteBmpFile(path), 1);

  const std::vector<uint8_t> file = ReadAll(path);
  ASSERT_EQ(file.size(), 1114u);
  const uint8_t header[54] = {
      'B', 'M', 0x5A, 0x04, 0, 0,    // bfType, bfSize 1114
      0, 0, 0, 0,                    // reserved
      0x36, 0x04, 0, 0,              // bfOffBits 1078
      40, 0, 0, 0,                   // biSize
      10, 0, 0, 0, 3, 0, 0, 0,       // biWidth, biHeight
      1, 0, 8, 0,                    // biPlanes, biBitCount
      0, 0, 0, 0,                    // BI_RGB
      36, 0, 0, 0,                   // biSizeImage
      0, 0, 0, 0, 0, 0, 0, 0,        // resolution
      0, 0, 0, 0, 0, 0, 0, 0,        // colours used, important
  };
  for (size_t i = 0; i < sizeof header; ++i) EXPECT_EQ(file[i], header[i]) << "offset " << i;
  const uint8_t red[4] = {0, 0, 255, 0};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(file[54 + 4 + i], red[i]);
  EXPECT_EQ(file[54 + 255 * 4], 255);
  EXPECT_EQ(file[1078 + 2 * 12], 1);  // top line stored last
  EXPECT_EQ(file[1078 + 9], 255);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 14, file.end()), dib.Buffer());

  // Qt and ImageMagick read it back as the same picture.
  QImage back(QString::fromStdString(path));
  ASSERT_FALSE(back.isNull());
  EXPECT_EQ(back.size(), QSize(10, 3));
  EXPECT_EQ(back.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(back.pixel(9, 2) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(back.pixel(5, 1) & 0xFFFFFF, 0u);
  EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), dib.ToImage());
  QM_REQUIRE_TOOLS("identify", "convert");
  EXPECT_EQ(test::Capture("identify -format '%w %h' " + path), "10 3");
  EXPECT_EQ(test::Capture("convert " + path + "[1x1+0+0] -depth 8 txt:- | tail -1 | grep -o '#[0-9A-F]*'"),
            "#FF0000\n");
}

TEST(CCeXDibTest, WritesEveryDepthReadably) {
  test::TempDir dir;
  for (int bpp : {1, 4, 24, 32}) {
    CCeXDib dib;
    ASSERT_NE(dib.BuildDib(13, 5, bpp), nullptr);
    dib.MakeGreyPalette();
    dib.FillBits(0xFF);
    const std::string path = dir.file("d" + std::to_string(bpp) + ".bmp");
    ASSERT_EQ(dib.WriteBmpFile(path), 1);
    EXPECT_EQ(ReadAll(path).size(), dib.GetTotalSize() + 14u);
    QImage back(QString::fromStdString(path));
    ASSERT_FALSE(back.isNull()) << bpp;
    EXPECT_EQ(back.size(), QSize(13, 5));
    EXPECT_EQ(back.pixel(12, 4) & 0xFFFFFF, 0xFFFFFFu) << bpp;
  }
}

TEST(CCeXDibTest, WriteFailuresAreReported) {
  CCeXDib dib;
  ASSERT_NE(dib.BuildDib(2, 2, 8), nullptr);
  EXPECT_EQ(dib.WriteBmpFile(""), 0);
  EXPECT_EQ(dib.WriteBmpFile("/nonexistent-folder/x.bmp"), 0);
  // A full device: the short write is a failure, not a success.
  if (std::ifstream("/dev/full").good()) {
    EXPECT_EQ(dib.WriteBmpFile("/dev/full"), 0);
  }
}

TEST(CCeXDibTest, BlitAndGrab) {
  CCeXDib dib;
  ASSERT_NE(dib.BuildDib(4, 2, 8), nullptr);
  dib.PutPaletteEntry(1, 0, 255, 0);
  dib.FillBits(0);
  dib.PutPixelIndex(3, 1, 1);
  QImage target(10, 10, QImage::Format_RGB32);
  target.fill(Qt::white);
  {
    QPainter p(&target);
    dib.BlitToDC(p, 5, 5);
  }
  EXPECT_EQ(target.pixel(8, 6), qRgb(0, 255, 0));
  EXPECT_EQ(target.pixel(5, 5), qRgb(0, 0, 0));
  EXPECT_EQ(target.pixel(4, 5), qRgb(255, 255, 255));
  dib.GrabFromDC(target, 4, 5);
  EXPECT_EQ(dib.Section().pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(dib.Section().pixel(1, 0), qRgb(0, 0, 0));
  EXPECT_EQ(dib.GetBits()[3], 1);  // the grab leaves the buffer alone
}

}  // namespace
}  // namespace qm
