#pragma once
// A stateless toolbox of drawing effects for the mark-up renderer: colour
// arithmetic, gradient and texture fills, styled lines and two-coloured
// borders, transparent drawing of bitmaps, icons and strip frames with colour
// effects, and hard or blurred drop shadows.
//
// The drawing context is a QImage (RGB32 or ARGB32): effects that read what
// is already drawn (blending, shadows, masks) work on its pixels. Colours are
// COLORREF (0x00BBGGRR); a pixel is 0xAARRGGBB (QRgb order). A bitmap without
// an alpha channel counts as having top bytes of 0; an icon is an image whose
// zero-alpha pixels are transparent.
#include <QImage>
#include <QRect>
#include <QRgb>
#include <QSize>

#include <cstdint>
#include <random>
#include <vector>

#include "dormant/dib.h"

namespace qm {

class CPPDrawManager {
 public:
  // Picture effect flags.
  static constexpr uint32_t kEffectGray = 0x1;
  static constexpr uint32_t kEffectDarken = 0x2;
  static constexpr uint32_t kEffectLighten = 0x4;
  static constexpr uint32_t kEffectReplace = 0x8;
  static constexpr uint32_t kEffectHardShadow = 0x100;
  static constexpr uint32_t kEffectSoftShadow = 0x200;
  static constexpr uint32_t kEffectInvert = 0x8000;

  // Pen types.
  enum PenType { kPenNone = 0, kPenSolid, kPenDash, kPenDot, kPenDashDot, kPenDashDotDot, kPenDouble };

  // Fill effects.
  enum FillEffectKind {
    kFillSolid = 0, kFillHGradient, kFillVGradient, kFillHCenterGradient, kFillVCenterGradient,
    kFillH3Gradient, kFillV3Gradient, kFillNoise, kFillDiagShade, kFillHShade, kFillVShade,
    kFillHBump, kFillVBump, kFillSoftBump, kFillHardBump, kFillMetal
  };

  CPPDrawManager() = default;
  virtual ~CPPDrawManager() = default;

  static COLORREF GrayColor(COLORREF color);
  static QRgb GrayPixel(QRgb pixel);
  static uint32_t InvertColor(uint32_t color);
  static uint32_t DarkenColor(uint32_t color, double factor);
  static uint32_t LightenColor(uint32_t color, double factor);
  static uint32_t MixColors(uint32_t color1, double factor1, uint32_t color2, double factor2);
  // The colour as a pixel: red and blue swapped, top byte 0.
  static QRgb ColorToPixel(COLORREF color);

  static QSize GetIconSize(const QImage& icon);
  static QSize GetBitmapSize(const QImage& bitmap);
  static QImage StretchIcon(const QImage& icon, int width, int height);

  void FillEffect(QImage& dc, int effect, const QRect& rect, COLORREF first, COLORREF middle,
                  COLORREF last, int granularity = 5, int tint = 0);
  void Gradient(QImage& dc, const QRect& rect, COLORREF from, COLORREF to, bool horizontal);
  void Texture(QImage& dc, const QRect& rect, int effect, int granularity, int tint, COLORREF first,
               COLORREF middle, COLORREF last);
  void DrawLine(QImage& dc, int x1, int y1, int x2, int y2, COLORREF color, int penType = kPenSolid,
                int width = 1);
  void DrawRectangle(QImage& dc, const QRect& rect, COLORREF topLeft, COLORREF bottomRight,
                     int penType = kPenSolid, int width = 1);
  // right and bottom as a Windows RECT has them (one past the last pixel).
  void DrawRectangle(QImage& dc, int left, int top, int right, int bottom, COLORREF topLeft,
                     COLORREF bottomRight, int penType = kPenSolid, int width = 1);
  void TileBitmap(QImage& dc, int left, int top, int width, int height, const QImage& source,
                  int sourceX, int sourceY, int tileWidth, int tileHeight);

  void DrawBitmap(QImage& dc, int x, int y, int width, int height, const QImage& bitmap,
                  bool useMask, COLORREF maskColor, uint32_t flags = 0, bool shadowRoom = false,
                  int shadowDx = 0, int shadowDy = 0, int blurWidth = 0, int blurHeight = 0,
                  COLORREF replacement = 0);
  void DrawIcon(QImage& dc, int x, int y, int width, int height, const QImage& icon,
                uint32_t flags = 0, bool shadowRoom = false, int shadowDx = 0, int shadowDy = 0,
                int blurWidth = 0, int blurHeight = 0, COLORREF replacement = 0);
  void DrawImageListFrame(QImage& dc, int x, int y, int width, int height, const QImage& strip,
                          int index, int frameWidth, int frameHeight, bool useMask,
                          COLORREF maskColor, uint32_t flags = 0, bool shadowRoom = false,
                          int shadowDx = 0, int shadowDy = 0, int blurWidth = 0,
                          int blurHeight = 0, COLORREF replacement = 0);

  void AlphaBlit(QImage& dc, int x, int y, int width, int height, const QImage& source,
                 int sourceX, int sourceY, int percent);
  void AlphaBlitPerPixel(QImage& dc, int x, int y, int width, int height, const QImage& source,
                         int sourceX, int sourceY);
  // factors: width x height values, row by row from the top.
  void DarkenRegion(QImage& dc, int x, int y, int width, int height,
                    const std::vector<double>& factors);

  // A width x height ARGB32 image holding the raw effect pixels (top byte
  // taken over from the source).
  QImage MakeEffectBitmap(const QImage& bitmap, int width, int height, uint32_t flags,
                          bool useMask, COLORREF maskColor, COLORREF replacement);
  void DrawShadow(QImage& dc, int x, int y, int width, int height, const QImage& shape,
                  bool blur, int blurWidth, int blurHeight);
  // width x height factors, row by row from the top; 1 leaves a pixel as it is.
  std::vector<double> MakeShadowFactors(int width, int height, const QImage& shape, bool blur,
                                        int blurWidth, int blurHeight);

  bool HasAlpha() const { return hasAlpha != 0; }
  // Seeds the texture noise (tests want repeatable textures).
  void SeedRandom(uint32_t seed) { random_.seed(seed); }
  // Makes the next textures of this manager those `other` would draw.
  void CopyRandomState(const CPPDrawManager& other) { random_ = other.random_; }

 private:
  int Rand();  // 0 to 32767, as the C library's rand()
  void DrawTransparent(QImage& dc, int x, int y, const QImage& mask, const QImage& image);

  CCeXDib dib;
  int hasAlpha = 0;
  std::minstd_rand random_{1};
};

}  // namespace qm
