#pragma once
// Style record, style sheet and value parsers of the mark-up renderer.
// Pure C++: the texts come from callers and may be anything, so every scan is
// bounded by the text and every number is clamped to a sane pixel range.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace qm {

// 0x00BBGGRR: red in the low byte.
using ColorRef = uint32_t;
constexpr ColorRef MakeColorRef(unsigned r, unsigned g, unsigned b) {
  return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}

// Lengths larger than this are no use on any screen; clamping keeps the
// layout sums far away from integer overflow.
constexpr int kMaxMarkupLength = 100000;

struct HtmlStyle {
  std::u16string pairName;
  int fontSize = 16;
  int fontWeight = 400;
  int italic = 0;
  int underline = 0;
  int strikeout = 0;
  int overline = 0;
  std::u16string faceName = u"Verdana";
  ColorRef textColor = 0;
  ColorRef backColor = 0xFFFFFF;
  ColorRef borderLightColor = 0;
  ColorRef borderDarkColor = 0;
  ColorRef backMidColor = 0xFFFFFF;
  ColorRef backEndColor = 0xFFFFFF;
  int backMode = 1;    // 1 transparent, 2 opaque
  int backEffect = -1;
  std::u16string backImage;
  int textAlign = 0;      // 0 left, 1 centre, 2 right, 3 justify
  int verticalAlign = 3;  // 0 top, 1 middle, 2 bottom, 3 baseline
  int borderStyle = 0;    // 0 none, 1 solid, 2 dashed, 3 dotted, 6 double
  int borderWidth = 0;
  int width = 0;
  int height = 0;
  int spare1 = 0;
  int spare2 = 0;
  int textTransform = 0;  // 0 none, 1 upper, 2 lower, 3 capitalise
  int cellPadding = 2;
  int cellSpacing = 0;
  int linkKind = 0;  // 0 none, 1 address, 2 message
  std::u16string linkTarget;
};

// Resets everything but width, height and the two spare fields.
void SetDefaultStyle(HtmlStyle& style);

// Font and device figures that the unit conversions need.
struct MarkupMetrics {
  int xHeight = 8;
  int fontHeight = 16;
  int pixelsPerInch = 96;
};

// Small helpers shared by the parsers.
bool IsMarkupWordChar(char16_t c);  // digit, ASCII letter or '.'
std::u16string MarkupLower(std::u16string_view s);
std::u16string MarkupUpper(std::u16string_view s);
// Leading decimal number (optional sign), saturating.
long long MarkupLeadingNumber(std::u16string_view s);
// Whole value as an unsigned number with C base rules (0x.. hex, 0.. octal), saturating.
unsigned long long MarkupUnsigned(std::u16string_view s);
// a * b / c rounded half away from zero; c == 0 gives -1.
long long MarkupMulDiv(long long a, long long b, long long c);

// Keyword parsers: the current value for anything not recognised.
int ParseFontStyle(std::u16string_view v, int current);
int ParseTextAlign(std::u16string_view v, int current);
int ParseVerticalAlign(std::u16string_view v, int current);
int ParseTextTransform(std::u16string_view v, int current);
int ParseBorderStyle(std::u16string_view v, int current);
void ParseTextDecoration(std::u16string_view v, HtmlStyle& style);
void ParseFontStyleFlags(std::u16string_view v, HtmlStyle& style);

class MarkupStyles {
 public:
  MarkupStyles();
  virtual ~MarkupStyles() = default;

  // Value parsers that need the device, the font or the colour table.
  int ParseSize(std::u16string_view v, int current, bool fontScale) const;
  int ParseFontWeight(std::u16string_view v, int current) const;
  int ParseBorderWidth(std::u16string_view v, int current) const;
  int ParseBackgroundEffect(std::u16string_view v, int current) const;
  ColorRef ParseColor(std::u16string_view v, ColorRef current) const;
  ColorRef GetColorByName(std::u16string_view name, ColorRef current) const;
  // A colour that the mark-up names: the disabled colour while colours are off.
  ColorRef MarkupColor(std::u16string_view v, ColorRef current) const {
    return colorsEnabled ? ParseColor(v, current) : disabledColor;
  }
  // System colour names are bound to classic values; the widget side rebinds them.
  void SetSystemColor(const std::u16string& name, ColorRef c) { colors_[name] = c; }
  size_t ColorCount() const { return colors_.size(); }

  // Style sheet. A null text loads the default sheet.
  void SetCssStyles(const std::u16string* text);
  void SetCssStyles(std::u16string_view text) {
    std::u16string t(text);
    SetCssStyles(&t);
  }
  void SetDefaultCssStyles();
  const std::u16string& GetCssStyles() const { return sheetText_; }
  void SetCssRule(std::u16string_view selector, std::u16string_view declarations);
  void RemoveCssRule(std::u16string_view selector);
  const std::u16string* GetCssRule(std::u16string_view selector) const;
  void ApplyCssRule(std::u16string_view selector, HtmlStyle& style) const;
  void ParseCssDeclarations(std::u16string_view text, HtmlStyle& style) const;

  int colorsEnabled = 1;
  ColorRef disabledColor = MakeColorRef(128, 128, 128);
  MarkupMetrics metrics;

 private:
  std::map<std::u16string, ColorRef> colors_;
  std::map<std::u16string, std::u16string> sheet_;
  std::u16string sheetText_;
};

}  // namespace qm
