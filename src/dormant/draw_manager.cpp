#include "dormant/draw_manager.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace qm {

namespace {

int Clamp8(double v) { return std::clamp(static_cast<int>(v), 0, 255); }

// The bitmap's pixels as raw 32-bit values: the top byte is the alpha of an
// image that has an alpha channel and 0 otherwise.
QImage RawPixels(const QImage& src) {
  QImage out = src.convertToFormat(QImage::Format_ARGB32);
  if (!src.hasAlphaChannel()) {
    for (int y = 0; y < out.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
      for (int x = 0; x < out.width(); ++x) row[x] &= 0x00FFFFFF;
    }
  }
  return out;
}

QRgb* Row(QImage& img, int y) { return reinterpret_cast<QRgb*>(img.scanLine(y)); }
const QRgb* Row(const QImage& img, int y) { return reinterpret_cast<const QRgb*>(img.constScanLine(y)); }

// Replaces the colour channels of a drawing-context pixel, keeping its top byte.
QRgb Keep(QRgb old, uint32_t rgb) { return (old & 0xFF000000) | (rgb & 0x00FFFFFF); }

bool UsableContext(const QImage& dc) {
  return dc.format() == QImage::Format_RGB32 || dc.format() == QImage::Format_ARGB32;
}

Qt::PenStyle StyleOf(int penType) {
  switch (penType) {
    case CPPDrawManager::kPenDash: return Qt::DashLine;
    case CPPDrawManager::kPenDot: return Qt::DotLine;
    case CPPDrawManager::kPenDashDot: return Qt::DashDotLine;
    case CPPDrawManager::kPenDashDotDot: return Qt::DashDotDotLine;
    default: return Qt::SolidLine;
  }
}

QColor ColorOf(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

// The transparent pixels of an icon are those with no alpha; its colour
// bitmap is black there, its mask bitmap white.
QImage IconColorBitmap(const QImage& icon) {
  QImage src = icon.convertToFormat(QImage::Format_ARGB32);
  bool partialAlpha = false;
  for (int y = 0; y < src.height() && !partialAlpha; ++y)
    for (int x = 0; x < src.width(); ++x) {
      const int a = qAlpha(Row(src, y)[x]);
      if (a != 0 && a != 255) { partialAlpha = true; break; }
    }
  for (int y = 0; y < src.height(); ++y) {
    QRgb* row = Row(src, y);
    for (int x = 0; x < src.width(); ++x) {
      const QRgb p = row[x];
      if (qAlpha(p) == 0) row[x] = 0;
      else if (!partialAlpha) row[x] = p & 0x00FFFFFF;
    }
  }
  return src;
}

QImage IconMaskBitmap(const QImage& icon) {
  QImage src = icon.convertToFormat(QImage::Format_ARGB32);
  QImage mask(src.size(), QImage::Format_ARGB32);
  for (int y = 0; y < src.height(); ++y)
    for (int x = 0; x < src.width(); ++x)
      Row(mask, y)[x] = qAlpha(Row(src, y)[x]) == 0 ? 0x00FFFFFF : 0;
  return mask;
}

}  // namespace

int CPPDrawManager::Rand() { return static_cast<int>(random_() % 32768u); }

COLORREF CPPDrawManager::GrayColor(COLORREF color) {
  const int g = static_cast<int>(0.299 * GetRValue(color) + 0.587 * GetGValue(color) +
                                 0.114 * GetBValue(color)) & 0xFF;
  return static_cast<COLORREF>(g) * 0x010101u;
}

QRgb CPPDrawManager::GrayPixel(QRgb pixel) {
  const int g = static_cast<int>(0.299 * qRed(pixel) + 0.587 * qGreen(pixel) +
                                 0.114 * qBlue(pixel)) & 0xFF;
  return static_cast<QRgb>(g) * 0x010101u;
}

uint32_t CPPDrawManager::InvertColor(uint32_t color) {
  return (color & 0xFF000000) | (~color & 0x00FFFFFF);
}

uint32_t CPPDrawManager::DarkenColor(uint32_t color, double factor) {
  if (!(factor >= 0.0 && factor < 1.0)) return color;
  const uint32_t c0 = static_cast<uint32_t>((color & 0xFF) * factor);
  const uint32_t c1 = static_cast<uint32_t>(((color >> 8) & 0xFF) * factor);
  const uint32_t c2 = static_cast<uint32_t>(((color >> 16) & 0xFF) * factor);
  return c0 | (c1 << 8) | (c2 << 16);
}

uint32_t CPPDrawManager::LightenColor(uint32_t color, double factor) {
  if (!(factor > 0.0 && factor <= 1.0)) return color;
  const auto up = [factor](uint32_t c) {
    return std::min<uint32_t>(255, static_cast<uint32_t>(c * (1.0 + factor)));
  };
  return up(color & 0xFF) | (up((color >> 8) & 0xFF) << 8) | (up((color >> 16) & 0xFF) << 16);
}

uint32_t CPPDrawManager::MixColors(uint32_t color1, double factor1, uint32_t color2,
                                   double factor2) {
  // Factors that add up to more than 1 would carry one channel into the
  // next; each channel is held to 0..255 instead.
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const double v = ((color1 >> shift) & 0xFF) * factor1 + ((color2 >> shift) & 0xFF) * factor2;
    out |= static_cast<uint32_t>(Clamp8(v)) << shift;
  }
  return out;
}

QRgb CPPDrawManager::ColorToPixel(COLORREF color) {
  return qRgb(GetRValue(color), GetGValue(color), GetBValue(color)) & 0x00FFFFFF;
}

QSize CPPDrawManager::GetIconSize(const QImage& icon) {
  return icon.isNull() ? QSize(0, 0) : icon.size();
}

QSize CPPDrawManager::GetBitmapSize(const QImage& bitmap) {
  return bitmap.isNull() ? QSize(0, 0) : bitmap.size();
}

QImage CPPDrawManager::StretchIcon(const QImage& icon, int width, int height) {
  if (icon.isNull() || width <= 0 || height <= 0) return {};
  return icon.convertToFormat(QImage::Format_ARGB32)
      .scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void CPPDrawManager::FillEffect(QImage& dc, int effect, const QRect& rect, COLORREF first,
                                COLORREF middle, COLORREF last, int granularity, int tint) {
  if (dc.isNull() || rect.isEmpty()) return;
  const int l = rect.left(), t = rect.top(), w = rect.width(), h = rect.height();
  switch (effect) {
    case kFillHGradient: Gradient(dc, rect, first, last, true); break;
    case kFillVGradient: Gradient(dc, rect, first, last, false); break;
    case kFillHCenterGradient:
      Gradient(dc, QRect(l, t, w / 2, h), first, last, true);
      Gradient(dc, QRect(l + w / 2, t, w - w / 2, h), last, first, true);
      break;
    case kFillVCenterGradient:
      Gradient(dc, QRect(l, t, w, h / 2), first, last, false);
      Gradient(dc, QRect(l, t + h / 2, w, h - h / 2), last, first, false);
      break;
    case kFillH3Gradient:
      Gradient(dc, QRect(l, t, w / 2, h), first, middle, true);
      Gradient(dc, QRect(l + w / 2, t, w - w / 2, h), middle, last, true);
      break;
    case kFillV3Gradient:
      Gradient(dc, QRect(l, t, w, h / 2), first, middle, false);
      Gradient(dc, QRect(l, t + h / 2, w, h - h / 2), middle, last, false);
      break;
    default:
      if (effect >= kFillNoise && effect <= kFillMetal) {
        Texture(dc, rect, effect, granularity, tint, first, middle, last);
      } else {
        QPainter p(&dc);
        p.fillRect(rect, ColorOf(first));
      }
      break;
  }
}

void CPPDrawManager::Gradient(QImage& dc, const QRect& rect, COLORREF from, COLORREF to,
                              bool horizontal) {
  if (dc.isNull() || rect.isEmpty()) return;
  constexpr int kBands = 64;
  QPainter p(&dc);
  const int length = horizontal ? rect.width() : rect.height();
  const int origin = horizontal ? rect.left() : rect.top();
  for (int k = 0; k < kBands; ++k) {
    const int start = origin + ((k * length) >> 6);
    const int end = origin + (((k + 1) * length) >> 6);
    if (end <= start) continue;
    const auto mix = [k](int a, int b) { return (a * (kBands - k) + b * k) >> 6; };
    const QColor c(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
                   mix(GetBValue(from), GetBValue(to)));
    if (horizontal) p.fillRect(QRect(start, rect.top(), end - start, rect.height()), c);
    else p.fillRect(QRect(rect.left(), start, rect.width(), end - start), c);
  }
}

void CPPDrawManager::Texture(QImage& dc, const QRect& rect, int effect, int granularity,
                             int tint, COLORREF first, COLORREF middle, COLORREF last) {
  const int w = rect.width(), h = rect.height();
  if (dc.isNull() || w <= 0 || h <= 0) return;
  if (!dib.BuildDib(w, h, 8)) return;

  for (int i = 0; i < 128; ++i) {
    const auto mix = [i](int a, int b) { return (a * (128 - i) + b * i) / 128; };
    dib.PutPaletteEntry(i, mix(GetRValue(last), GetRValue(middle)),
                        mix(GetGValue(last), GetGValue(middle)), mix(GetBValue(last), GetBValue(middle)));
  }
  for (int j = 1; j <= 128; ++j) {
    const auto mix = [j](int a, int b) { return (a * (128 - j) + b * j) / 128; };
    dib.PutPaletteEntry(127 + j, mix(GetRValue(middle), GetRValue(first)),
                        mix(GetGValue(middle), GetGValue(first)), mix(GetBValue(middle), GetBValue(first)));
  }
  dib.MixPaletteToward(first, tint);

  const int A = granularity & 0xFF;
  const int R = A > 0 ? 2 * A : 1;
  const int S = 255 - 2 * A;
  // rand() / (32767 / n) spreads 0..32767 over 0..n; hold the divisor at 1
  // so that pictures wider than 32767 do not divide by zero.
  const auto spread = [this](int n) { return Rand() / std::max(1, 32767 / std::max(1, n)); };
  const auto noise = [&] { return spread(R) - A; };
  uint8_t* bits = dib.GetBits();
  const int line = dib.GetLineWidth();
  // Row 0 is the bottom line of the picture.
  const auto at = [&](int x, int y) -> uint8_t& { return bits[static_cast<size_t>(y) * line + x]; };
  const auto put = [&](int x, int y, int64_t v) { at(x, y) = static_cast<uint8_t>(v & 0xFF); };
  // a * n / d without overflow on tall or wide pictures.
  const auto scale = [](int a, int n, int d) { return static_cast<int>(int64_t{a} * n / d); };

  switch (effect) {
    case kFillNoise:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) put(x, y, 128 + noise());
      break;
    case kFillDiagShade: {
      const int s2 = S / 2;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) put(x, y, scale(s2, y, h) + scale(s2, w - x, w) + A + noise());
      break;
    }
    case kFillHShade:
      for (int y = 0; y < h; ++y) {
        const int v = A + scale(S, y, h);
        for (int x = 0; x < w; ++x) put(x, y, v + noise());
      }
      break;
    case kFillVShade:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) put(x, y, A + scale(S, w - x, w) + noise());
      break;
    case kFillHBump:
      for (int y = 0; y < h; ++y) {
        const int u = scale(255, y, h) - 127;
        const int v = 128 + (u * u * u / 16384 * (128 - A)) / 128;
        for (int x = 0; x < w; ++x) put(x, y, v + noise());
      }
      break;
    case kFillVBump:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int u = scale(255, w - x, w) - 127;
          put(x, y, 128 + (u * u * u / 16384 * (128 - A)) / 128 + noise());
        }
      break;
    case kFillSoftBump:
      for (int y = 0; y < h; ++y) {
        const int u = scale(255, y, h) - 127;
        for (int x = 0; x < w; ++x) {
          const int v = scale(255, w - x, w) - 127;
          int value = 128 + ((u * u * u / 16384 + v * v * v / 16384) * (128 - A)) / 128;
          if (value < A) value = A;
          if (value > S) value = 255 - A;
          put(x, y, value + noise());
        }
      }
      break;
    case kFillHardBump: {
      const int b = std::min(w / 6, 16);
      // A one-line picture would divide by zero here.
      const int64_t quarter = std::max<int64_t>(1, int64_t{h} * h / 4);
      for (int y = 0; y < h; ++y) {
        const int u = scale(255, y, h) - 127;
        const int rowValue = 128 + u * u * u / 16384 * (64 - A) * 2 / 128;
        const int G = y - h / 2;
        const int I = static_cast<int>(int64_t{b} * G * G / quarter);
        for (int x = 0; x < w; ++x) {
          int value = rowValue + noise();
          if (x < b - I) value = 255 - A - 128 * x / b;
          else if (x > I + w - b) value = A + 128 * (w - x) / b;
          put(x, y, value + noise());
        }
      }
      break;
    }
    case kFillMetal: {
      dib.FillBits(0);
      for (int n = 0; n < 200; ++n) {
        const int X = spread(w);
        const int Y = spread(h);
        const int Q = spread(std::min(w, h));
        const uint8_t index = static_cast<uint8_t>(Rand() / 819);
        for (int k = 0; k < Q / 2; ++k) {
          if (X - k > 0 && Y + k < h) dib.PutPixelIndex(X - k, Y + k, index);
          if (X + k < w && Y - k > 0) dib.PutPixelIndex(w + k - X, Y - k, index);
        }
      }
      const int s3 = (S - 40) / 2;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) put(x, y, at(x, y) + scale(s3, y, h) + scale(s3, w - x, w) + spread(R));
      break;
    }
    default: break;
  }

  QPainter p(&dc);
  dib.BlitToDC(p, rect.left(), rect.top());
}

void CPPDrawManager::DrawLine(QImage& dc, int x1, int y1, int x2, int y2, COLORREF color,
                              int penType, int width) {
  if (dc.isNull() || penType == kPenNone || width <= 0) return;
  QPainter p(&dc);
  QPen pen(ColorOf(color), width, StyleOf(penType), Qt::FlatCap, Qt::MiterJoin);
  if (width == 1) pen.setCapStyle(Qt::SquareCap);
  p.setPen(pen);
  p.drawLine(x1, y1, x2, y2);
  if (penType == kPenDouble) {
    const int d = 2 * width;
    const int dx = (y1 == y2) ? 0 : d;  // a vertical or slanted line moves right
    const int dy = (x1 == x2) ? 0 : d;  // a horizontal or slanted line moves down
    p.drawLine(x1 + dx, y1 + dy, x2 + dx, y2 + dy);
  }
}

void CPPDrawManager::DrawRectangle(QImage& dc, const QRect& rect, COLORREF topLeft,
                                   COLORREF bottomRight, int penType, int width) {
  DrawRectangle(dc, rect.left(), rect.top(), rect.left() + rect.width(),
                rect.top() + rect.height(), topLeft, bottomRight, penType, width);
}

void CPPDrawManager::DrawRectangle(QImage& dc, int left, int top, int right, int bottom,
                                   COLORREF topLeft, COLORREF bottomRight, int penType,
                                   int width) {
  if (dc.isNull() || penType == kPenNone || width <= 0) return;
  QPainter p(&dc);
  const Qt::PenStyle style = StyleOf(penType);
  const int h = width / 2;
  const int passes = penType == kPenDouble ? 2 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int in = pass * 2 * width;
    const int l = left + h + in, t = top + h + in, r = right - h - in, b = bottom - h - in;
    QPen pen(ColorOf(topLeft), width, style, width == 1 ? Qt::SquareCap : Qt::FlatCap,
             Qt::MiterJoin);
    p.setPen(pen);
    const QPoint tl[] = {QPoint(l, b), QPoint(l, t), QPoint(r, t)};
    p.drawPolyline(tl, 3);
    pen.setColor(ColorOf(bottomRight));
    p.setPen(pen);
    const QPoint br[] = {QPoint(r, t), QPoint(r, b), QPoint(l, b)};
    p.drawPolyline(br, 3);
  }
}

void CPPDrawManager::TileBitmap(QImage& dc, int left, int top, int width, int height,
                                const QImage& source, int sourceX, int sourceY, int tileWidth,
                                int tileHeight) {
  // A tile of no size would never advance.
  if (dc.isNull() || source.isNull() || tileWidth <= 0 || tileHeight <= 0) return;
  QPainter p(&dc);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  for (int y = 0; y < height; y += tileHeight)
    for (int x = 0; x < width; x += tileWidth) {
      const int cw = std::min(tileWidth, width - x), ch = std::min(tileHeight, height - y);
      p.drawImage(QPoint(left + x, top + y), source, QRect(sourceX, sourceY, cw, ch));
    }
}

QImage CPPDrawManager::MakeEffectBitmap(const QImage& bitmap, int width, int height,
                                        uint32_t flags, bool useMask, COLORREF maskColor,
                                        COLORREF replacement) {
  if (bitmap.isNull() || width <= 0 || height <= 0) return {};
  const QImage src = RawPixels(bitmap);
  QImage out(width, height, QImage::Format_ARGB32);
  out.fill(0);
  const QRgb maskPixel = ColorToPixel(maskColor);
  const QRgb replacementPixel = ColorToPixel(replacement);
  const int cw = std::min(width, src.width()), ch = std::min(height, src.height());
  for (int y = 0; y < ch; ++y) {
    const QRgb* in = Row(src, y);
    QRgb* o = Row(out, y);
    for (int x = 0; x < cw; ++x) {
      const QRgb c = in[x];
      if (c & 0xFF000000) hasAlpha = 1;
      QRgb d;
      if (useMask && c == maskPixel) {
        d = 0;
      } else {
        d = (flags & kEffectGray) ? GrayPixel(c) : c;
        if (flags & kEffectDarken) d = DarkenColor(d, 0.75);
        if (flags & kEffectLighten) d = LightenColor(d, 0.25);
        if (flags & kEffectReplace) d = replacementPixel;
      }
      if (flags & kEffectInvert) d = InvertColor(d);
      o[x] = (c & 0xFF000000) | (d & 0x00FFFFFF);
    }
  }
  return out;
}

void CPPDrawManager::DrawTransparent(QImage& dc, int x, int y, const QImage& mask,
                                     const QImage& image) {
  for (int j = 0; j < image.height(); ++j) {
    const int dy = y + j;
    if (dy < 0 || dy >= dc.height()) continue;
    QRgb* d = Row(dc, dy);
    const QRgb* m = Row(mask, j);
    const QRgb* s = Row(image, j);
    for (int i = 0; i < image.width(); ++i) {
      const int dx = x + i;
      if (dx < 0 || dx >= dc.width()) continue;
      d[dx] = Keep(d[dx], (d[dx] & m[i]) | s[i]);  // SRCAND, then SRCPAINT
    }
  }
}

void CPPDrawManager::DrawBitmap(QImage& dc, int x, int y, int width, int height,
                                const QImage& bitmap, bool useMask, COLORREF maskColor,
                                uint32_t flags, bool shadowRoom, int shadowDx, int shadowDy,
                                int blurWidth, int blurHeight, COLORREF replacement) {
  hasAlpha = 0;
  if (bitmap.isNull() || width <= 0 || height <= 0 || !UsableContext(dc)) return;
  // Scale before reading the raw top bytes: scaling an image with alpha 0
  // would drop its colours.
  const QImage copy = RawPixels(
      bitmap.size() == QSize(width, height)
          ? bitmap
          : bitmap.scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation));

  const QImage mask = MakeEffectBitmap(copy, width, height, kEffectInvert | kEffectReplace,
                                       useMask, maskColor, RGB(255, 255, 255));
  const QImage image = MakeEffectBitmap(copy, width, height, flags, useMask, maskColor, replacement);

  if (shadowRoom) {
    if (flags & (kEffectHardShadow | kEffectSoftShadow)) {
      const QImage shape = MakeEffectBitmap(copy, width, height, kEffectInvert | kEffectReplace,
                                            useMask, maskColor, InvertColor(replacement));
      DrawShadow(dc, x + shadowDx, y + shadowDy, width, height, shape,
                 (flags & kEffectSoftShadow) != 0, blurWidth, blurHeight);
    } else {
      x += shadowDx;
      y += shadowDy;
    }
  }

  if (hasAlpha) AlphaBlitPerPixel(dc, x, y, width, height, image, 0, 0);
  else DrawTransparent(dc, x, y, mask, image);
}

void CPPDrawManager::DrawIcon(QImage& dc, int x, int y, int width, int height, const QImage& icon,
                              uint32_t flags, bool shadowRoom, int shadowDx, int shadowDy,
                              int blurWidth, int blurHeight, COLORREF replacement) {
  hasAlpha = 0;
  if (icon.isNull() || width <= 0 || height <= 0 || !UsableContext(dc)) return;
  const QImage copy = GetIconSize(icon) == QSize(width, height)
                          ? icon.convertToFormat(QImage::Format_ARGB32)
                          : StretchIcon(icon, width, height);
  const QImage maskBitmap = IconMaskBitmap(copy);
  const QImage colorBitmap = IconColorBitmap(copy);
  const COLORREF white = RGB(255, 255, 255);

  // The mask comes from the icon's own mask bitmap, so opaque black pixels
  // of the picture stay opaque.
  const QImage mask = MakeEffectBitmap(maskBitmap, width, height, kEffectInvert | kEffectReplace,
                                       true, white, white);
  const QImage image = (flags & kEffectReplace)
                           ? MakeEffectBitmap(maskBitmap, width, height, flags, true, white, replacement)
                           : MakeEffectBitmap(colorBitmap, width, height, flags, true, RGB(0, 0, 0),
                                              replacement);
  if (shadowRoom) {
    if (flags & (kEffectHardShadow | kEffectSoftShadow)) {
      const QImage shape = MakeEffectBitmap(maskBitmap, width, height,
                                            kEffectInvert | kEffectReplace, true, 0xFFFFFFFFu,
                                            InvertColor(replacement));
      DrawShadow(dc, x + shadowDx, y + shadowDy, width, height, shape,
                 (flags & kEffectSoftShadow) != 0, blurWidth, blurHeight);
    } else {
      x += shadowDx;
      y += shadowDy;
    }
  }
  if (hasAlpha) AlphaBlitPerPixel(dc, x, y, width, height, image, 0, 0);
  else DrawTransparent(dc, x, y, mask, image);
}

void CPPDrawManager::DrawImageListFrame(QImage& dc, int x, int y, int width, int height,
                                        const QImage& strip, int index, int frameWidth,
                                        int frameHeight, bool useMask, COLORREF maskColor,
                                        uint32_t flags, bool shadowRoom, int shadowDx,
                                        int shadowDy, int blurWidth, int blurHeight,
                                        COLORREF replacement) {
  // Frames of no size would divide by zero.
  if (strip.isNull() || frameWidth <= 0 || frameHeight <= 0 || index < 0) return;
  const int columns = strip.width() / frameWidth;
  const int rows = strip.height() / frameHeight;
  if (index >= columns * rows) return;
  const QImage frame = strip.copy((index % columns) * frameWidth, (index / columns) * frameHeight,
                                  frameWidth, frameHeight);
  DrawBitmap(dc, x, y, width, height, frame, useMask, maskColor, flags, shadowRoom, shadowDx,
             shadowDy, blurWidth, blurHeight, replacement);
}

void CPPDrawManager::AlphaBlit(QImage& dc, int x, int y, int width, int height,
                               const QImage& source, int sourceX, int sourceY, int percent) {
  if (!UsableContext(dc) || source.isNull()) return;
  const QImage src = RawPixels(source);
  const double p = std::clamp(percent, 0, 100) / 100.0;
  for (int j = 0; j < height; ++j) {
    const int dy = y + j, sy = sourceY + j;
    if (dy < 0 || dy >= dc.height() || sy < 0 || sy >= src.height()) continue;
    for (int i = 0; i < width; ++i) {
      const int dx = x + i, sx = sourceX + i;
      if (dx < 0 || dx >= dc.width() || sx < 0 || sx >= src.width()) continue;
      QRgb& d = Row(dc, dy)[dx];
      const QRgb s = Row(src, sy)[sx];
      d = Keep(d, percent >= 100 ? s : MixColors(s, p, d, 1.0 - p));
    }
  }
}

void CPPDrawManager::AlphaBlitPerPixel(QImage& dc, int x, int y, int width, int height,
                                       const QImage& source, int sourceX, int sourceY) {
  if (!UsableContext(dc) || source.isNull()) return;
  const QImage src = RawPixels(source);
  for (int j = 0; j < height; ++j) {
    const int dy = y + j, sy = sourceY + j;
    if (dy < 0 || dy >= dc.height() || sy < 0 || sy >= src.height()) continue;
    for (int i = 0; i < width; ++i) {
      const int dx = x + i, sx = sourceX + i;
      if (dx < 0 || dx >= dc.width() || sx < 0 || sx >= src.width()) continue;
      QRgb& d = Row(dc, dy)[dx];
      const QRgb s = Row(src, sy)[sx];
      const double a = qAlpha(s) / 255.0;
      d = Keep(d, MixColors(s, a, d, 1.0 - a));
    }
  }
}

void CPPDrawManager::DarkenRegion(QImage& dc, int x, int y, int width, int height,
                                  const std::vector<double>& factors) {
  if (!UsableContext(dc) || width <= 0 || height <= 0) return;
  for (int j = 0; j < height; ++j) {
    const int dy = y + j;
    if (dy < 0 || dy >= dc.height()) continue;
    for (int i = 0; i < width; ++i) {
      const int dx = x + i;
      const size_t k = static_cast<size_t>(j) * width + i;
      // Pixels without a factor stay as they are.
      if (dx < 0 || dx >= dc.width() || k >= factors.size()) continue;
      QRgb& d = Row(dc, dy)[dx];
      d = Keep(d, DarkenColor(d & 0x00FFFFFF, factors[k]));
    }
  }
}

std::vector<double> CPPDrawManager::MakeShadowFactors(int width, int height, const QImage& shape,
                                                      bool blur, int blurWidth, int blurHeight) {
  if (width <= 0 || height <= 0) return {};
  // The shape on white: where no shape lies, nothing darkens.
  QImage s(width, height, QImage::Format_ARGB32);
  s.fill(0xFFFFFFFFu);
  int kw = 1, kh = 1;
  if (blur) {
    kw = std::max(1, blurWidth);
    kh = std::max(1, blurHeight);
    if (kw % 2 == 0) ++kw;
    if (kh % 2 == 0) ++kh;
  }
  std::vector<double> factors(static_cast<size_t>(width) * height, 1.0);
  // A blur as wide as the picture leaves no room for the shape: no shadow.
  if (blur && (width - kw <= 0 || height - kh <= 0)) return factors;
  if (!shape.isNull()) {
    const QImage src = RawPixels(shape);
    QPainter p(&s);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    if (blur) {
      p.drawImage(QRect(kw / 2, kh / 2, width - kw, height - kh), src);
    } else {
      p.drawImage(QPoint(0, 0), src);
    }
  }
  if (!blur) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        factors[static_cast<size_t>(y) * width + x] = qBlue(Row(s, y)[x]) / 255.0;
    return factors;
  }
  // Box blur: padded grid, row sums of kw values, then column sums of kh.
  const int pw = width + kw - 1, ph = height + kh - 1;
  std::vector<double> padded(static_cast<size_t>(pw) * ph, 255.0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      padded[static_cast<size_t>(y + kh / 2) * pw + (x + kw / 2)] = qBlue(Row(s, y)[x]);
  std::vector<double> rowSums(static_cast<size_t>(width) * ph, 0.0);
  for (int y = 0; y < ph; ++y)
    for (int x = 0; x < width; ++x) {
      double sum = 0;
      for (int k = 0; k < kw; ++k) sum += padded[static_cast<size_t>(y) * pw + x + k];
      rowSums[static_cast<size_t>(y) * width + x] = sum;
    }
  const double divisor = static_cast<double>(kw) * kh * 255.0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double sum = 0;
      for (int k = 0; k < kh; ++k) sum += rowSums[static_cast<size_t>(y + k) * width + x];
      factors[static_cast<size_t>(y) * width + x] = sum / divisor;
    }
  return factors;
}

void CPPDrawManager::DrawShadow(QImage& dc, int x, int y, int width, int height,
                                const QImage& shape, bool blur, int blurWidth, int blurHeight) {
  if (!UsableContext(dc) || width <= 0 || height <= 0) return;
  DarkenRegion(dc, x, y, width, height,
               MakeShadowFactors(width, height, shape, blur, blurWidth, blurHeight));
}

}  // namespace qm
