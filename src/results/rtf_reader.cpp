#include "results/rtf_reader.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "platform/byte_reader.h"
#include "platform/text.h"

namespace qm {
namespace {

// What a group's text goes to.
enum class Dest { kText, kSkip, kFontTable, kColorTable };

struct Style {
  bool bold = false, italic = false, underline = false;
  int halfPoints = kRtfDefaultHalfPoints;
  int color = 0;  // index into the colour table; 0 is "auto"
  int font = -1;
};

struct State {
  Style style;
  Dest dest = Dest::kText;
  int unicodeSkip = 1;  // \ucN: fallback characters after each \u
};

bool IsLetter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
int HexValue(uint8_t c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Destinations whose contents are never text.
bool IsSkippedDestination(std::string_view word) {
  static constexpr std::string_view kSkipped[] = {
      "stylesheet", "info",    "pict",    "object", "header",    "headerl", "headerr", "headerf",
      "footer",     "footerl", "footerr", "footerf", "fldinst",  "themedata", "colorschememapping",
      "datastore",  "latentstyles", "listtable", "listoverridetable", "rsidtbl", "generator", "xmlnstbl",
      "filetbl",    "revtbl",  "bkmkstart", "bkmkend", "footnote", "nonshppict", "shppict", "mmathPr"};
  for (std::string_view s : kSkipped)
    if (s == word) return true;
  return false;
}

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : in_(bytes) {}

  std::vector<RtfRun> Run() {
    stack_.push_back(State{});
    while (pos_ < in_.size() && produced_ < kRtfMaxChars) {
      const uint8_t c = in_.u8(pos_++);
      if (c == '{') {
        OpenGroup();
      } else if (c == '}') {
        CloseGroup();
        if (depth_ == 0) break;  // the document's own group has ended
      } else if (c == '\\') {
        ControlWord();
      } else if (c == '\r' || c == '\n') {
        // line breaks of the file are not text
      } else {
        Byte(c);
      }
    }
    return std::move(runs_);
  }

 private:
  State& Top() { return stack_.back(); }

  void OpenGroup() {
    ++depth_;
    ignorableNext_ = false;
    // Beyond the limit, groups are only counted so that their braces still
    // pair up; their contents are dropped.
    if (depth_ > kRtfMaxDepth) return;
    stack_.push_back(Top());
    groupStart_ = true;
  }

  void CloseGroup() {
    if (depth_ == 0) return;
    if (depth_ <= kRtfMaxDepth && stack_.size() > 1) {
      if (Top().dest == Dest::kFontTable) EndFontName();
      stack_.pop_back();
    }
    --depth_;
    groupStart_ = false;
  }

  bool Deep() const { return depth_ > kRtfMaxDepth; }

  void ControlWord() {
    if (pos_ >= in_.size()) return;
    const uint8_t c = in_.u8(pos_);
    if (!IsLetter(c)) {
      ++pos_;
      ControlSymbol(c);
      return;
    }
    std::string word;
    while (pos_ < in_.size() && IsLetter(in_.u8(pos_)) && word.size() < 32) word.push_back(static_cast<char>(in_.u8(pos_++)));
    // A word longer than any real one: the rest of its letters go too.
    while (pos_ < in_.size() && IsLetter(in_.u8(pos_))) ++pos_;
    bool hasParam = false;
    bool negative = false;
    int64_t param = 0;
    if (pos_ < in_.size() && in_.u8(pos_) == '-' && pos_ + 1 < in_.size() && IsDigit(in_.u8(pos_ + 1))) {
      negative = true;
      ++pos_;
    }
    int digits = 0;
    while (pos_ < in_.size() && IsDigit(in_.u8(pos_))) {
      if (digits < 10) param = param * 10 + (in_.u8(pos_) - '0');
      ++digits;
      ++pos_;
      hasParam = true;
    }
    if (negative) param = -param;
    if (pos_ < in_.size() && in_.u8(pos_) == ' ') ++pos_;  // the delimiter belongs to the word
    if (word == "bin" && hasParam && param > 0) {
      // Raw bytes that may hold braces: never read as syntax.
      pos_ += static_cast<size_t>(std::min<int64_t>(param, static_cast<int64_t>(in_.size() - pos_)));
      return;
    }
    if (Deep()) return;
    const bool atStart = groupStart_;
    groupStart_ = false;
    const bool ignorable = ignorableNext_;
    ignorableNext_ = false;
    Word(word, hasParam, param, atStart, ignorable);
  }

  void ControlSymbol(uint8_t c) {
    if (c == '\'') {
      // Two hex digits; a malformed escape drops the digits it has.
      int value = 0, digits = 0;
      while (digits < 2 && pos_ < in_.size() && HexValue(in_.u8(pos_)) >= 0) {
        value = value * 16 + HexValue(in_.u8(pos_++));
        ++digits;
      }
      if (digits == 2 && !Deep()) Byte(static_cast<uint8_t>(value));
      return;
    }
    if (Deep()) return;
    if (c == '*') {
      ignorableNext_ = true;  // the group's start is still ahead of its word
      return;
    }
    groupStart_ = false;
    switch (c) {
      case '\\':
      case '{':
      case '}':
        Byte(c);
        break;
      case '~':
        Char(u'\u00A0');
        break;
      case '_':
        Char(u'-');
        break;
      case '\r':
      case '\n':
        Char(u'\n');
        break;
      default:  // \- (optional hyphen), \: and unknown symbols
        break;
    }
  }

  void Word(const std::string& w, bool hasParam, int64_t param, bool atStart, bool ignorable) {
    State& s = Top();
    const bool on = !hasParam || param != 0;
    const int value = param > 0x7FFFFFFF ? 0x7FFFFFFF : (param < -0x7FFFFFFF ? -0x7FFFFFFF : static_cast<int>(param));
    if (w == "fonttbl") {
      s.dest = Dest::kFontTable;
    } else if (w == "colortbl") {
      s.dest = Dest::kColorTable;
      colors_.clear();
      pendingColor_ = 0;
    } else if (ignorable && atStart) {
      // {\*\word ...}: a destination this reader does not know.
      s.dest = Dest::kSkip;
    } else if (IsSkippedDestination(w)) {
      s.dest = Dest::kSkip;
    } else if (s.dest == Dest::kColorTable) {
      if (w == "red") pendingColor_ = (pendingColor_ & 0x00FFFF) | (static_cast<uint32_t>(value & 0xFF) << 16);
      if (w == "green") pendingColor_ = (pendingColor_ & 0xFF00FF) | (static_cast<uint32_t>(value & 0xFF) << 8);
      if (w == "blue") pendingColor_ = (pendingColor_ & 0xFFFF00) | static_cast<uint32_t>(value & 0xFF);
    } else if (s.dest == Dest::kFontTable) {
      if (w == "f" && hasParam) {
        EndFontName();
        fontNumber_ = value;
        fontName_.clear();
      }
    } else if (w == "b") {
      s.style.bold = on;
    } else if (w == "i") {
      s.style.italic = on;
    } else if (w == "ul") {
      s.style.underline = on;
    } else if (w == "ulnone") {
      s.style.underline = false;
    } else if (w == "fs") {
      // Sizes outside what a word processor offers keep the last one.
      if (hasParam && value >= 2 && value <= 3276) s.style.halfPoints = value;
    } else if (w == "cf") {
      s.style.color = hasParam ? value : 0;
    } else if (w == "f") {
      if (hasParam) s.style.font = value;
    } else if (w == "plain") {
      const int font = s.style.font;
      s.style = Style{};
      s.style.font = font;
    } else if (w == "par" || w == "line" || w == "row") {
      Char(u'\n');
    } else if (w == "tab" || w == "cell") {
      Char(u'\t');
    } else if (w == "emdash") {
      Char(u'\u2014');
    } else if (w == "endash") {
      Char(u'\u2013');
    } else if (w == "bullet") {
      Char(u'\u2022');
    } else if (w == "lquote") {
      Char(u'\u2018');
    } else if (w == "rquote") {
      Char(u'\u2019');
    } else if (w == "ldblquote") {
      Char(u'\u201C');
    } else if (w == "rdblquote") {
      Char(u'\u201D');
    } else if (w == "uc") {
      if (hasParam && value >= 0 && value <= 16) s.unicodeSkip = value;
    } else if (w == "u" && hasParam) {
      if (value >= -32768 && value <= 65535) Char(static_cast<char16_t>(value < 0 ? value + 65536 : value));
      skipFallback_ = s.unicodeSkip;
    }
    // Any other word changes nothing the preview shows.
  }

  // One byte of text (CP1252) in the current destination.
  void Byte(uint8_t c) {
    if (Deep()) return;
    groupStart_ = false;
    State& s = Top();
    if (skipFallback_ > 0) {
      --skipFallback_;
      return;
    }
    switch (s.dest) {
      case Dest::kSkip:
        return;
      case Dest::kFontTable:
        if (c == ';') {
          EndFontName();
        } else if (fontName_.size() < 64) {
          fontName_.push_back(static_cast<char>(c));
        }
        return;
      case Dest::kColorTable:
        if (c == ';') {
          // The first entry is usually empty: "auto", the default colour.
          if (colors_.size() < 4096) colors_.push_back(pendingColor_);
          pendingColor_ = 0;
        }
        return;
      case Dest::kText:
        break;
    }
    const char ch = static_cast<char>(c);
    const std::u16string wide = Cp1252ToUtf16(std::string_view(&ch, 1));
    for (char16_t w : wide) Char(w);
  }

  void EndFontName() {
    if (fontNumber_ >= 0 && !fontName_.empty() && fonts_.size() < 4096) fonts_[fontNumber_] = fontName_;
    fontNumber_ = -1;
    fontName_.clear();
  }

  void Char(char16_t ch) {
    if (Deep() || produced_ >= kRtfMaxChars) return;
    const State& s = Top();
    if (s.dest != Dest::kText) return;
    RtfRun style;
    style.bold = s.style.bold;
    style.italic = s.style.italic;
    style.underline = s.style.underline;
    style.halfPoints = s.style.halfPoints;
    if (s.style.color > 0 && static_cast<size_t>(s.style.color) < colors_.size()) {
      style.hasColor = true;
      style.rgb = colors_[s.style.color];
    }
    if (auto it = fonts_.find(s.style.font); it != fonts_.end()) style.font = it->second;
    if (runs_.empty() || !SameStyle(runs_.back(), style)) runs_.push_back(std::move(style));
    runs_.back().text.push_back(ch);
    ++produced_;
  }

  static bool SameStyle(const RtfRun& a, const RtfRun& b) {
    return a.bold == b.bold && a.italic == b.italic && a.underline == b.underline && a.halfPoints == b.halfPoints &&
           a.hasColor == b.hasColor && a.rgb == b.rgb && a.font == b.font;
  }

  ByteReader in_;
  size_t pos_ = 0;
  int depth_ = 0;
  bool groupStart_ = false;
  bool ignorableNext_ = false;
  int skipFallback_ = 0;
  std::vector<State> stack_;
  std::vector<uint32_t> colors_;
  uint32_t pendingColor_ = 0;
  std::map<int, std::string> fonts_;
  int fontNumber_ = -1;
  std::string fontName_;
  size_t produced_ = 0;
  std::vector<RtfRun> runs_;
};

}  // namespace

std::vector<RtfRun> ReadRtf(std::span<const uint8_t> bytes) {
  static constexpr std::string_view kMagic = "{\\rtf";
  if (bytes.size() < kMagic.size() || std::string_view(reinterpret_cast<const char*>(bytes.data()), kMagic.size()) != kMagic)
    return {};
  return Reader(bytes).Run();
}

}  // namespace qm
