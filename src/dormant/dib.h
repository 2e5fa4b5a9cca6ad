#pragma once
// An in-memory device-independent bitmap kept in one buffer: the 40-byte
// information header, the colour table, then the pixel rows (bottom-up, each
// padded to 4 bytes). The drawing manager paints its palette textures on one.
// Drawing converts the buffer to a QImage; WriteBmpFile writes the buffer
// behind a 14-byte file header, byte for byte.
#include <QImage>
#include <QPainter>
#include <QRgb>

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// A COLORREF: 0x00BBGGRR.
using COLORREF = uint32_t;
constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<uint32_t>(r & 0xFF) | (static_cast<uint32_t>(g & 0xFF) << 8) |
         (static_cast<uint32_t>(b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF c) { return c & 0xFF; }
constexpr int GetGValue(COLORREF c) { return (c >> 8) & 0xFF; }
constexpr int GetBValue(COLORREF c) { return (c >> 16) & 0xFF; }

struct RGBQUAD {
  uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
};

class CCeXDib {
 public:
  static constexpr uint32_t kInfoHeaderSize = 40;
  static constexpr uint32_t kFileHeaderSize = 14;
  static constexpr uint16_t kBmpMagic = 0x4D42;  // "BM"
  static constexpr uint32_t kBiRgb = 0;

  CCeXDib() = default;
  virtual ~CCeXDib() = default;
  CCeXDib(const CCeXDib&) = delete;
  CCeXDib& operator=(const CCeXDib&) = delete;

  // Frees everything and makes a zeroed bitmap. Null when the size is not
  // positive, the bit depth is not 1, 4, 8, 16, 24 or 32, or the image would
  // not fit the header's 32-bit size fields.
  uint8_t* BuildDib(int width, int height, int bitsPerPixel);
  void CopyFromDib(const CCeXDib& other);

  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  int GetBitsPerPixel() const { return bitCount_; }
  int GetLineWidth() const { return lineWidth_; }
  uint16_t GetPaletteEntries() const { return paletteEntries_; }
  uint32_t GetPaletteSize() const { return paletteEntries_ * 4u; }
  uint32_t GetSizeImage() const { return sizeImage_; }
  uint32_t GetTotalSize() const { return kInfoHeaderSize + GetPaletteSize() + sizeImage_; }
  uint8_t* GetBits();
  const uint8_t* GetBits() const;
  const std::vector<uint8_t>& Buffer() const { return buffer_; }

  void MakeGreyPalette();
  void PutPaletteEntry(int index, int red, int green, int blue);
  RGBQUAD GetPaletteEntry(int index) const;
  void MixPaletteToward(COLORREF color, int percent);
  void FillBits(uint8_t value);
  // y counts from the top line of the picture.
  void PutPixelIndex(int x, int y, uint8_t index);

  // The bitmap as a 32-bit image (what a blit shows); null without a buffer.
  QImage ToImage() const;
  void BlitToDC(QPainter& dc, int x, int y);
  // Copies width x height from the image at (x, y) into the drawing surface;
  // the buffer is not updated.
  void GrabFromDC(const QImage& dc, int x, int y);
  const QImage& Section() const { return section_; }

  // 1 written and closed without error; 0 otherwise (empty path, no
  // buffer, cannot create, short write).
  int WriteBmpFile(const std::string& path) const;

  static RGBQUAD ColorToRgbQuad(COLORREF color);
  void Release();

 private:
  uint8_t* PaletteAt(int index);
  const uint8_t* PaletteAt(int index) const;

  std::vector<uint8_t> buffer_;
  int width_ = 0;
  int height_ = 0;
  int bitCount_ = 0;
  int lineWidth_ = 0;
  uint16_t paletteEntries_ = 0;
  uint32_t sizeImage_ = 0;
  QImage section_;
};

}  // namespace qm
