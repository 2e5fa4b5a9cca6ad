#include "dormant/markup_style_core.h"

#include <algorithm>
#include <limits>

namespace qm {

namespace {

struct NamedColor {
  const char16_t* name;
  uint32_t rgb;  // 0xRRGGBB
};

constexpr NamedColor kNamedColors[] = {
    {u"aqua", 0x00FFFF}, {u"black", 0x000000}, {u"blue", 0x0000FF}, {u"brown", 0xA52A2A},
    {u"cyan", 0x00FFFF}, {u"gold", 0xFFD700}, {u"gray", 0x808080}, {u"green", 0x008000},
    {u"magenta", 0xFF00FF}, {u"maroon", 0x800000}, {u"navy", 0x000080}, {u"olive", 0x808000},
    {u"orange", 0xFFA500}, {u"pink", 0xFFC0CB}, {u"purple", 0x800080}, {u"red", 0xFF0000},
    {u"silver", 0xC0C0C0}, {u"snow", 0xFFFAFA}, {u"violet", 0xEE82EE}, {u"white", 0xFFFFFF},
    {u"yellow", 0xFFFF00}, {u"aliceblue", 0xF0F8FF}, {u"antiquewhite", 0xFAEBD7},
    {u"aquamarine", 0x7FFFD4}, {u"azure", 0xF0FFFF}, {u"beige", 0xF5F5DC}, {u"bisque", 0xFFE4C4},
    {u"blanchedalmond", 0xFFEBCD}, {u"blueviolet", 0x8A2BE2}, {u"burlywood", 0xDEB887},
    {u"cadetblue", 0x5F9EA0}, {u"chartreuse", 0x7FFF00}, {u"chocolate", 0xD2691E},
    {u"coral", 0xFF7F50}, {u"cornflowerblue", 0x6495ED}, {u"cornsilk", 0xFFF8DC},
    {u"crimson", 0xDC143C}, {u"darkblue", 0x00008B}, {u"darkcyan", 0x008B8B},
    {u"darkgoldenrod", 0xB8860B}, {u"darkgray", 0xA9A9A9}, {u"darkgreen", 0x006400},
    {u"darkkhaki", 0xBDB76B}, {u"darkmagenta", 0x8B008B}, {u"darkolivegreen", 0x556B2F},
    {u"darkorange", 0xFF8C00}, {u"darkorchid", 0x9932CC}, {u"darkred", 0x8B0000},
    {u"darksalmon", 0xE9967A}, {u"darkseagreen", 0x8FBC8F}, {u"darkslateblue", 0x483D8B},
    {u"darkslategray", 0x2F4F4F}, {u"darkturquoise", 0x00CED1}, {u"darkviolet", 0x9400D3},
    {u"deeppink", 0xFF1493}, {u"deepskyblue", 0x00BFFF}, {u"dimgray", 0x696969},
    {u"dodgerblue", 0x1E90FF}, {u"firebrick", 0xB22222}, {u"floralwhite", 0xFFFAF0},
    {u"forestgreen", 0x228B22}, {u"fuchsia", 0xFF00FF}, {u"gainsboro", 0xDCDCDC},
    {u"ghostwhite", 0xF8F8FF}, {u"goldenrod", 0xDAA520}, {u"greenyellow", 0xADFF2F},
    {u"honeydew", 0xF0FFF0}, {u"hotpink", 0xFF69B4}, {u"indianred", 0xCD5C5C},
    {u"indigo", 0x4B0082}, {u"ivory", 0xFFFFF0}, {u"khaki", 0xF0E68C}, {u"lavender", 0xE6E6FA},
    {u"lavenderblush", 0xFFF0F5}, {u"lawngreen", 0x7CFC00}, {u"lemonchiffon", 0xFFFACD},
    {u"lightblue", 0xADD8E6}, {u"lightcoral", 0xF08080}, {u"lightcyan", 0xE0FFFF},
    {u"lightgoldenrodyellow", 0xFAFAD2}, {u"lightgreen", 0x90EE90}, {u"lightgrey", 0xD3D3D3},
    {u"lightpink", 0xFFB6C1}, {u"lightsalmon", 0xFFA07A}, {u"lightseagreen", 0x20B2AA},
    {u"lightskyblue", 0x87CEFA}, {u"lightslategray", 0x778899}, {u"lightsteelblue", 0xB0C4DE},
    {u"lightyellow", 0xFFFFE0}, {u"lime", 0x00FF00}, {u"limegreen", 0x32CD32},
    {u"linen", 0xFAF0E6}, {u"mediumaquamarine", 0x66CDAA}, {u"mediumblue", 0x0000CD},
    {u"mediumorchid", 0xBA55D3}, {u"mediumpurple", 0x9370DB}, {u"mediumseagreen", 0x3CB371},
    {u"mediumslateblue", 0x7B68EE}, {u"mediumspringgreen", 0x00FA9A},
    {u"mediumturquoise", 0x48D1CC}, {u"mediumvioletred", 0xC71585}, {u"midnightblue", 0x191970},
    {u"mintcream", 0xF5FFFA}, {u"mistyrose", 0xFFE4E1}, {u"moccasin", 0xFFE4B5},
    {u"navajowhite", 0xFFDEAD}, {u"oldlace", 0xFDF5E6}, {u"olivedrab", 0x6B8E23},
    {u"orangered", 0xFF4500}, {u"orchid", 0xDA70D6}, {u"palegoldenrod", 0xEEE8AA},
    {u"palegreen", 0x98FB98}, {u"paleturquoise", 0xAFEEEE}, {u"palevioletred", 0xDB7093},
    {u"papayawhip", 0xFFEFD5}, {u"peachpuff", 0xFFDAB9}, {u"peru", 0xCD853F}, {u"plum", 0xDDA0DD},
    {u"powderblue", 0xB0E0E6}, {u"rosybrown", 0xBC8F8F}, {u"royalblue", 0x4169E1},
    {u"saddlebrown", 0x8B4513}, {u"salmon", 0xFA8072}, {u"sandybrown", 0xF4A460},
    {u"seagreen", 0x2E8B57}, {u"seashell", 0xFFF5EE}, {u"sienna", 0xA0522D},
    {u"skyblue", 0x87CEEB}, {u"slateblue", 0x6A5ACD}, {u"slategray", 0x708090},
    {u"springgreen", 0x00FF7F}, {u"steelblue", 0x4682B4}, {u"tan", 0xD2B48C}, {u"teal", 0x008080},
    {u"thistle", 0xD8BFD8}, {u"tomato", 0xFF6347}, {u"turquoise", 0x40E0D0}, {u"wheat", 0xF5DEB3},
    {u"whitesmoke", 0xF5F5F5}, {u"yellowgreen", 0x9ACD32},
    // System colours: classic values until the widget side binds the desktop's.
    {u"activeborder", 0xD4D0C8}, {u"activecaption", 0x0A246A}, {u"appworkspace", 0x808080},
    {u"background", 0x3A6EA5}, {u"buttonface", 0xD4D0C8}, {u"buttonhighlight", 0xFFFFFF},
    {u"buttonshadow", 0x808080}, {u"buttontext", 0x000000}, {u"captiontext", 0xFFFFFF},
    {u"graytext", 0x808080}, {u"highlight", 0x0A246A}, {u"highlighttext", 0xFFFFFF},
    {u"inactiveborder", 0xD4D0C8}, {u"inactivecaption", 0x808080},
    {u"inactivecaptiontext", 0xD4D0C8}, {u"infobackground", 0xFFFFE1}, {u"infotext", 0x000000},
    {u"menu", 0xD4D0C8}, {u"menutext", 0x000000}, {u"scrollbar", 0xD4D0C8},
    {u"threeddarkshadow", 0x404040}, {u"threedface", 0xD4D0C8}, {u"threedhighlight", 0xFFFFFF},
    {u"threedlightshadow", 0xD4D0C8}, {u"threedshadow", 0x808080}, {u"window", 0xFFFFFF},
    {u"windowframe", 0x000000}, {u"windowtext", 0x000000},
};

constexpr const char16_t* kDefaultSheet[][2] = {
    {u"body", u"font-size: 10pt; color:black; font-family:Verdana"},
    {u"p", u"font-size: 10pt; color:black; font-family:Verdana; font-weight:bold"},
    {u"h1", u"font-size: 14pt; color:black; font-family:Verdana; font-weight:bold"},
    {u"h2", u"font-size: 13pt; color:#ff9900; font-family:Verdana; font-weight:bold"},
    {u"h3", u"font-size: 12pt; color:#ff9900; font-family:Arial; font-weight:bold"},
    {u"h4", u"font-size: 10pt; color:black; font-family:Verdana; font-weight:bold"},
    {u"h5", u"font-size: 9pt; color:#ff9900; font-family:Verdana; font-weight:bold"},
    {u"h6", u"font-size: 65%; color:#626262; font-family:Verdana; font-weight:normal"},
    {u"pre", u"font-size: 9pt; font-family:\"Courier\"; background-color:#fbedbb"},
    {u"code", u"color:#990000; font-family:Arial"},
    {u"a:link", u"text-decoration:none; color:blue"},
    {u"a:hover", u"text-decoration:underline; color:blue"},
    {u"sub", u"font-size:65%; vertical-align:bottom"},
    {u"sup", u"font-size:65%; vertical-align:top"},
    {u"big", u"font-size:125%"},
    {u"small", u"font-size:75%"},
    {u".cpp-comment", u"color:green; font-style:italic"},
};

constexpr unsigned long long kSaturate = 1ULL << 40;

int ClampLength(long long v) {
  return static_cast<int>(std::clamp<long long>(v, -kMaxMarkupLength, kMaxMarkupLength));
}

bool EndsWith(std::u16string_view s, std::u16string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Leading hexadecimal digits of a two-character field (strtoul of the pair).
unsigned HexPair(std::u16string_view s) {
  unsigned v = 0;
  for (char16_t c : s) {
    int d = HexDigit(c);
    if (d < 0) break;
    v = v * 16 + static_cast<unsigned>(d);
  }
  return v;
}

}  // namespace

void SetDefaultStyle(HtmlStyle& s) {
  int w = s.width, h = s.height, a = s.spare1, b = s.spare2;
  s = HtmlStyle{};
  s.width = w;
  s.height = h;
  s.spare1 = a;
  s.spare2 = b;
}

bool IsMarkupWordChar(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'.';
}

std::u16string MarkupLower(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return r;
}

std::u16string MarkupUpper(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return r;
}

long long MarkupLeadingNumber(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) neg = s[i++] == u'-';
  unsigned long long v = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) v = std::min(kSaturate, v * 10 + (s[i] - u'0'));
  return neg ? -static_cast<long long>(v) : static_cast<long long>(v);
}

unsigned long long MarkupUnsigned(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  if (i < s.size() && s[i] == u'+') ++i;
  unsigned base = 10;
  if (i < s.size() && s[i] == u'0') {
    base = 8;
    if (i + 2 < s.size() + 0 && (s[i + 1] == u'x' || s[i + 1] == u'X') && HexDigit(s[i + 2]) >= 0) {
      base = 16;
      i += 2;
    }
  }
  unsigned long long v = 0;
  for (; i < s.size(); ++i) {
    int d = HexDigit(s[i]);
    if (d < 0 || static_cast<unsigned>(d) >= base) break;
    v = std::min(kSaturate, v * base + static_cast<unsigned>(d));
  }
  return v;
}

long long MarkupMulDiv(long long a, long long b, long long c) {
  if (c == 0) return -1;
  long double q = static_cast<long double>(a) * b / c;
  long long r = static_cast<long long>(q < 0 ? q - 0.5L : q + 0.5L);
  return r;
}

int ParseFontStyle(std::u16string_view v, int current) {
  if (v.empty() || v == u"normal") return 0;
  if (v == u"italic" || v == u"oblique") return 1;
  return current;
}

int ParseTextAlign(std::u16string_view v, int current) {
  if (v.empty() || v == u"left") return 0;
  if (v == u"center") return 1;
  if (v == u"right") return 2;
  return current;
}

int ParseVerticalAlign(std::u16string_view v, int current) {
  if (v.empty() || v == u"baseline") return 3;
  if (v == u"middle" || v == u"vcenter") return 1;
  if (v == u"top") return 0;
  if (v == u"bottom") return 2;
  return current;
}

int ParseTextTransform(std::u16string_view v, int current) {
  if (v.empty() || v == u"none") return 0;
  if (v == u"uppercase") return 1;
  if (v == u"lowercase") return 2;
  if (v == u"capitalize") return 3;
  return current;
}

int ParseBorderStyle(std::u16string_view v, int current) {
  if (v.empty() || v == u"none") return 0;
  if (v == u"solid") return 1;
  if (v == u"dashed") return 2;
  if (v == u"dotted") return 3;
  if (v == u"double") return 6;
  return current;
}

void ParseTextDecoration(std::u16string_view v, HtmlStyle& style) {
  std::u16string_view text = v.empty() ? std::u16string_view(u"none") : v;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && !IsMarkupWordChar(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != u' ' && text[i] != u',') ++i;
    std::u16string_view word = text.substr(start, i - start);
    if (word == u"none") {
      style.underline = style.strikeout = style.overline = 0;
    } else if (word == u"underline") {
      style.underline = 1;
    } else if (word == u"line-through") {
      style.strikeout = 1;
    } else if (word == u"overline") {
      style.overline = 1;
    }
  }
}

void ParseFontStyleFlags(std::u16string_view v, HtmlStyle& style) {
  bool on = true;
  for (char16_t c : v) {
    switch (c) {
      case u'-': on = false; continue;
      case u'+': on = true; continue;
      case u'b': style.fontWeight = on ? 700 : 400; break;
      case u'i': style.italic = on; break;
      case u'u': style.underline = on; break;
      case u's': style.strikeout = on; break;
      case u'o': style.overline = on; break;
      default: continue;
    }
    on = true;
  }
}

MarkupStyles::MarkupStyles() {
  for (const auto& c : kNamedColors)
    colors_[c.name] = MakeColorRef(c.rgb >> 16, c.rgb >> 8, c.rgb);
  SetDefaultCssStyles();
}

int MarkupStyles::ParseSize(std::u16string_view v, int current, bool fontScale) const {
  if (v.empty()) return current;
  if (v.back() == u'%')
    return ClampLength(MarkupMulDiv(current, MarkupLeadingNumber(v.substr(0, v.size() - 1)), 100));
  if (v.front() == u'+' || v.front() == u'-') v.remove_prefix(1);
  long long n = MarkupLeadingNumber(v);
  long long ppi = metrics.pixelsPerInch;
  long long r;
  if (EndsWith(v, u"px")) r = n;
  else if (EndsWith(v, u"ex")) r = n * metrics.xHeight;
  else if (EndsWith(v, u"em")) r = n * metrics.fontHeight;
  else if (EndsWith(v, u"in")) r = n * ppi;
  else if (EndsWith(v, u"cm")) r = static_cast<long long>(n * ppi / 2.54);
  else if (EndsWith(v, u"mm")) r = static_cast<long long>(n * ppi / 25.4);
  else if (EndsWith(v, u"pt")) r = n * ppi / 72;
  else if (EndsWith(v, u"pc")) r = n * ppi / 6;
  else {
    unsigned long long u = MarkupUnsigned(v);
    static constexpr int kScale[] = {8, 10, 12, 14, 18, 24, 36};
    if (fontScale && u >= 1 && u <= 7) return kScale[u - 1];
    r = static_cast<long long>(std::min<unsigned long long>(u, kSaturate));
  }
  return ClampLength(r);
}

int MarkupStyles::ParseFontWeight(std::u16string_view v, int current) const {
  if (v.empty() || v == u"normal") return 400;
  if (v == u"bold") return 700;
  if (v == u"bolder") return 900;
  if (v == u"lighter") return 100;
  return static_cast<int>(std::clamp<long long>(MarkupLeadingNumber(v), 0, 1000));
}

int MarkupStyles::ParseBorderWidth(std::u16string_view v, int current) const {
  if (v == u"thin") return static_cast<int>(MarkupMulDiv(current, 75, 100));
  if (v == u"thick") return static_cast<int>(MarkupMulDiv(current, 125, 100));
  if (v == u"medium") return current;
  return ParseSize(v, current, false);
}

int MarkupStyles::ParseBackgroundEffect(std::u16string_view v, int current) const {
  static constexpr const char16_t* kNames[] = {
      u"solid", u"hgradient", u"vgradient", u"hcgradient", u"vcgradient", u"3hgradient",
      u"3vgradient", u"noise", u"diagshade", u"hshade", u"vshade", u"hbump", u"vbump",
      u"softbump", u"hardbump", u"metal"};
  if (v == u"transparent") return -1;
  for (int i = 0; i < 16; ++i)
    if (v == kNames[i]) return i;
  return ParseSize(v, current, false);
}

ColorRef MarkupStyles::ParseColor(std::u16string_view v, ColorRef current) const {
  if (v.empty()) return current;
  if (v.front() == u'#') {
    if (v.size() != 7) return current;
    return MakeColorRef(HexPair(v.substr(1, 2)), HexPair(v.substr(3, 2)), HexPair(v.substr(5, 2)));
  }
  if (v.front() >= u'0' && v.front() <= u'9') {
    // A COLORREF has no colour above 24 bits; such a number is refused.
    unsigned long long n = MarkupUnsigned(v);
    return n > 0xFFFFFF ? current : static_cast<ColorRef>(n);
  }
  return GetColorByName(v, current);
}

ColorRef MarkupStyles::GetColorByName(std::u16string_view name, ColorRef current) const {
  if (!colorsEnabled) return disabledColor;
  auto it = colors_.find(std::u16string(name));
  return it == colors_.end() ? current : it->second;
}

void MarkupStyles::SetDefaultCssStyles() {
  std::u16string text;
  for (const auto& r : kDefaultSheet) {
    text += r[0];
    text += u" {";
    text += r[1];
    text += u"}\r\n";
  }
  SetCssStyles(&text);
}

void MarkupStyles::SetCssStyles(const std::u16string* text) {
  if (!text) {
    SetDefaultCssStyles();
    return;
  }
  sheet_.clear();
  sheetText_ = *text;
  std::u16string s = MarkupLower(*text);
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && !IsMarkupWordChar(s[i])) ++i;
    if (i >= s.size()) break;
    size_t start = i;
    while (i < s.size() && s[i] != u' ' && s[i] != u'{') ++i;
    std::u16string selector = s.substr(start, i - start);
    size_t open = s.find(u'{', i);
    if (open == std::u16string::npos) break;
    size_t close = s.find(u'}', open + 1);
    if (close == std::u16string::npos) break;
    std::u16string decl = s.substr(open + 1, close - open - 1);
    i = close + 1;
    if (selector.empty() || decl.empty()) continue;
    SetCssRule(selector, decl);
  }
}

void MarkupStyles::SetCssRule(std::u16string_view selector, std::u16string_view declarations) {
  sheet_[MarkupLower(selector)] = std::u16string(declarations);
}

void MarkupStyles::RemoveCssRule(std::u16string_view selector) { sheet_.erase(MarkupLower(selector)); }

const std::u16string* MarkupStyles::GetCssRule(std::u16string_view selector) const {
  auto it = sheet_.find(MarkupLower(selector));
  return it == sheet_.end() ? nullptr : &it->second;
}

void MarkupStyles::ApplyCssRule(std::u16string_view selector, HtmlStyle& style) const {
  if (const std::u16string* decl = GetCssRule(selector)) ParseCssDeclarations(*decl, style);
}

void MarkupStyles::ParseCssDeclarations(std::u16string_view text, HtmlStyle& style) const {
  std::u16string s = MarkupLower(text);
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    while (i < n && !IsMarkupWordChar(s[i])) ++i;
    size_t start = i;
    size_t end = s.find_first_of(u" :", i);
    if (i >= n || end == std::u16string::npos) break;
    std::u16string prop = s.substr(start, end - start);
    i = end;
    while (i < n && s[i] == u' ') ++i;
    std::u16string value;
    if (i < n && s[i] == u':') {
      ++i;
      while (i < n && (s[i] == u' ' || s[i] == u';')) ++i;
      if (i < n && s[i] == u'"') {
        size_t q = s.find(u'"', i + 1);
        if (q != std::u16string::npos) {
          value = s.substr(i + 1, q - i - 1);
          i = q + 1;
        } else {
          i = n;
        }
      } else {
        size_t semi = s.find(u';', i);
        if (semi == std::u16string::npos) semi = n;
        value = s.substr(i, semi - i);
        i = semi;
      }
    }
    if (prop == u"font-size") {
      style.fontSize = ParseSize(value, style.fontSize, true);
    } else if (prop == u"font-family") {
      if (!value.empty()) style.faceName = value;
    } else if (prop == u"font-style") {
      style.italic = ParseFontStyle(value, style.italic);
    } else if (prop == u"font-weight") {
      style.fontWeight = ParseFontWeight(value, style.fontWeight);
    } else if (prop == u"text-align") {
      style.textAlign = ParseTextAlign(value, style.textAlign);
    } else if (prop == u"text-transform") {
      style.textTransform = ParseTextTransform(value, style.textTransform);
    } else if (prop == u"color") {
      style.textColor = MarkupColor(value, style.textColor);
    } else if (prop == u"background-color") {
      // An empty value counts as "transparent", like empty values elsewhere.
      if (value.empty() || value == u"transparent" || !colorsEnabled) {
        style.backMode = 1;
      } else {
        style.backMode = 2;
        style.backColor = ParseColor(value, style.backColor);
      }
    } else if (prop == u"text-decoration") {
      ParseTextDecoration(value, style);
    } else if (prop == u"vertical-align") {
      style.verticalAlign = ParseVerticalAlign(value, style.verticalAlign);
    } else if (prop == u"border-color") {
      style.borderLightColor = style.borderDarkColor = MarkupColor(value, style.borderLightColor);
    } else if (prop == u"border-width" || prop == u"size") {
      style.borderWidth = ParseBorderWidth(value, style.borderWidth);
      if (style.borderWidth == 0) style.borderStyle = 0;
      else if (style.borderStyle == 0) style.borderStyle = 1;
    } else if (prop == u"border-style") {
      style.borderStyle = ParseBorderStyle(value, style.borderStyle);
      if (style.borderStyle != 0 && style.borderWidth == 0) style.borderWidth = 1;
    } else if (prop == u"margin") {
      style.cellPadding = ParseSize(value, style.cellPadding, false);
    } else if (prop == u"padding") {
      style.cellSpacing = ParseSize(value, style.cellSpacing, false);
    }
  }
}

}  // namespace qm
