#include "dormant/dib.h"

#include <algorithm>
#include <cstring>

#include "platform/file.h"

namespace qm {

namespace {

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

uint8_t* CCeXDib::BuildDib(int width, int height, int bitsPerPixel) {
  Release();
  if (width <= 0 || height <= 0) return nullptr;
  switch (bitsPerPixel) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return nullptr;
  }
  const uint64_t line = ((static_cast<uint64_t>(width) * bitsPerPixel + 31) / 32) * 4;
  const uint64_t image = line * static_cast<uint64_t>(height);
  const uint16_t entries = bitsPerPixel == 1 ? 2 : bitsPerPixel == 4 ? 16 : bitsPerPixel == 8 ? 256 : 0;
  const uint64_t total = kInfoHeaderSize + entries * 4ull + image;
  // The file header's size field must hold total + 14.
  if (line > INT32_MAX || total + kFileHeaderSize > UINT32_MAX) return nullptr;
  try {
    buffer_.assign(static_cast<size_t>(total), 0);
  } catch (const std::bad_alloc&) {
    buffer_.clear();
    return nullptr;
  }
  width_ = width;
  height_ = height;
  bitCount_ = bitsPerPixel;
  lineWidth_ = static_cast<int>(line);
  paletteEntries_ = entries;
  sizeImage_ = static_cast<uint32_t>(image);

  uint8_t* h = buffer_.data();
  PutLe32(h + 0, kInfoHeaderSize);
  PutLe32(h + 4, static_cast<uint32_t>(width));
  PutLe32(h + 8, static_cast<uint32_t>(height));  // positive: rows bottom-up
  PutLe16(h + 12, 1);                               // planes
  PutLe16(h + 14, static_cast<uint16_t>(bitsPerPixel));
  PutLe32(h + 16, kBiRgb);
  PutLe32(h + 20, sizeImage_);
  // X/Y pixels per metre, colours used, colours important: 0.
  return buffer_.data();
}

void CCeXDib::CopyFromDib(const CCeXDib& other) {
  if (&other == this) return;
  if (other.buffer_.empty()) {
    Release();
    return;
  }
  if (BuildDib(other.width_, other.height_, other.bitCount_))
    std::memcpy(buffer_.data(), other.buffer_.data(), buffer_.size());
}

uint8_t* CCeXDib::GetBits() {
  return buffer_.empty() ? nullptr : buffer_.data() + kInfoHeaderSize + GetPaletteSize();
}
const uint8_t* CCeXDib::GetBits() const {
  return buffer_.empty() ? nullptr : buffer_.data() + kInfoHeaderSize + GetPaletteSize();
}

uint8_t* CCeXDib::PaletteAt(int index) { return buffer_.data() + kInfoHeaderSize + index * 4; }
const uint8_t* CCeXDib::PaletteAt(int index) const {
  return buffer_.data() + kInfoHeaderSize + index * 4;
}

void CCeXDib::MakeGreyPalette() {
  if (buffer_.empty() || paletteEntries_ == 0) return;
  for (int i = 0; i < paletteEntries_; ++i) PutPaletteEntry(i, i & 255, i & 255, i & 255);
  PutPaletteEntry(0, 0, 0, 0);
  PutPaletteEntry(paletteEntries_ - 1, 255, 255, 255);
}

void CCeXDib::PutPaletteEntry(int index, int red, int green, int blue) {
  if (buffer_.empty() || index < 0 || index >= paletteEntries_) return;
  uint8_t* p = PaletteAt(index);
  p[0] = static_cast<uint8_t>(blue);
  p[1] = static_cast<uint8_t>(green);
  p[2] = static_cast<uint8_t>(red);
  p[3] = 0;
}

RGBQUAD CCeXDib::GetPaletteEntry(int index) const {
  RGBQUAD q;
  if (buffer_.empty() || index < 0 || index >= paletteEntries_) return q;
  const uint8_t* p = PaletteAt(index);
  q.rgbBlue = p[0];
  q.rgbGreen = p[1];
  q.rgbRed = p[2];
  q.rgbReserved = p[3];
  return q;
}

void CCeXDib::MixPaletteToward(COLORREF color, int percent) {
  if (buffer_.empty() || paletteEntries_ == 0) return;
  const int p = std::clamp(percent, 0, 100);
  const int cb = GetBValue(color), cg = GetGValue(color), cr = GetRValue(color);
  for (int i = 0; i < paletteEntries_; ++i) {
    uint8_t* e = PaletteAt(i);
    e[0] = static_cast<uint8_t>((cb * p + e[0] * (100 - p)) / 100);
    e[1] = static_cast<uint8_t>((cg * p + e[1] * (100 - p)) / 100);
    e[2] = static_cast<uint8_t>((cr * p + e[2] * (100 - p)) / 100);
  }
}

void CCeXDib::FillBits(uint8_t value) {
  if (uint8_t* bits = GetBits()) std::memset(bits, value, sizeImage_);
}

void CCeXDib::PutPixelIndex(int x, int y, uint8_t index) {
  // One byte per pixel: only an 8-bit table bitmap has room for it; on 1- and
  // 4-bit bitmaps the byte offset would run past the row.
  if (buffer_.empty() || bitCount_ != 8) return;
  if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
  GetBits()[static_cast<size_t>(x) + static_cast<size_t>(height_ - y - 1) * lineWidth_] = index;
}

QImage CCeXDib::ToImage() const {
  if (buffer_.empty()) return {};
  QImage img(width_, height_, QImage::Format_RGB32);
  const uint8_t* bits = GetBits();
  for (int y = 0; y < height_; ++y) {
    const uint8_t* row = bits + static_cast<size_t>(height_ - 1 - y) * lineWidth_;
    auto* out = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < width_; ++x) {
      QRgb px = 0;
      if (paletteEntries_ != 0) {
        int index = 0;
        if (bitCount_ == 8) index = row[x];
        else if (bitCount_ == 4) index = (row[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F;
        else index = (row[x / 8] >> (7 - (x & 7))) & 1;
        const uint8_t* e = PaletteAt(index);
        px = qRgb(e[2], e[1], e[0]);
      } else if (bitCount_ == 16) {
        const int v = row[2 * x] | (row[2 * x + 1] << 8);  // 5-5-5
        px = qRgb(((v >> 10) & 31) * 255 / 31, ((v >> 5) & 31) * 255 / 31, (v & 31) * 255 / 31);
      } else {
        const int step = bitCount_ / 8;
        const uint8_t* p = row + static_cast<size_t>(x) * step;
        px = qRgb(p[2], p[1], p[0]);
      }
      out[x] = px;
    }
  }
  return img;
}

void CCeXDib::BlitToDC(QPainter& dc, int x, int y) {
  if (buffer_.empty()) return;
  section_ = ToImage();
  if (section_.isNull()) return;
  dc.save();
  dc.setCompositionMode(QPainter::CompositionMode_Source);
  dc.drawImage(x, y, section_);
  dc.restore();
}

void CCeXDib::GrabFromDC(const QImage& dc, int x, int y) {
  if (buffer_.empty()) return;
  section_ = dc.copy(x, y, width_, height_).convertToFormat(QImage::Format_RGB32);
}

int CCeXDib::WriteBmpFile(const std::string& path) const {
  if (path.empty() || buffer_.empty()) return 0;
  uint8_t header[kFileHeaderSize] = {};
  PutLe16(header + 0, kBmpMagic);
  PutLe32(header + 2, GetTotalSize() + kFileHeaderSize);  // bfSize
  // bfReserved1, bfReserved2: 0.
  PutLe32(header + 10, kFileHeaderSize + kInfoHeaderSize + GetPaletteSize());  // bfOffBits
  File f;
  if (!f.open(path, File::Mode::CreateTruncate)) return 0;
  bool ok = f.writeAt(header, sizeof header, 0) == static_cast<int64_t>(sizeof header);
  ok = ok && f.writeAt(buffer_.data(), buffer_.size(), kFileHeaderSize) ==
                 static_cast<int64_t>(buffer_.size());
  ok = f.closeChecked() && ok;
  return ok ? 1 : 0;
}

RGBQUAD CCeXDib::ColorToRgbQuad(COLORREF color) {
  RGBQUAD q;
  q.rgbBlue = static_cast<uint8_t>(GetBValue(color));
  q.rgbGreen = static_cast<uint8_t>(GetGValue(color));
  q.rgbRed = static_cast<uint8_t>(GetRValue(color));
  return q;
}

void CCeXDib::Release() {
  section_ = QImage();
  buffer_.clear();
  buffer_.shrink_to_fit();
  width_ = height_ = bitCount_ = lineWidth_ = 0;
  paletteEntries_ = 0;
  sizeImage_ = 0;
}

}  // namespace qm
