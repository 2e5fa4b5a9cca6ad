#include "dormant/markup_parse_core.h"

#include <algorithm>
#include <map>

namespace qm {

namespace {

constexpr size_t npos = std::u16string_view::npos;

struct TagEntry {
  const char16_t* name;
  int id;
  const char16_t* pair;
};

constexpr TagEntry kTags[] = {
    {u"b", kTagBold, u"bold"}, {u"i", kTagItalic, u"italic"}, {u"em", kTagItalic, u"italic"},
    {u"u", kTagUnderline, u"underline"}, {u"s", kTagStrikeout, u"strikeout"},
    {u"strike", kTagStrikeout, u"strikeout"}, {u"font", kTagFont, u"font"}, {u"hr", kTagHr, u""},
    {u"br", kTagBr, u""}, {u"\n", kTagBr, u""}, {u"t", kTagTab, u""}, {u"\t", kTagTab, u""},
    {u"left", kTagLeft, u"left"}, {u"center", kTagCenter, u"center"}, {u"right", kTagRight, u"right"},
    {u"justify", kTagJustify, u"justify"}, {u"baseline", kTagBaseline, u"baseline"},
    {u"top", kTagTop, u"top"}, {u"vcenter", kTagVCenter, u"vcenter"}, {u"middle", kTagVCenter, u"vcenter"},
    {u"bottom", kTagBottom, u"bottom"}, {u"bmp", kTagBmp, u""}, {u"icon", kTagIcon, u""},
    {u"ilst", kTagIlst, u""}, {u"string", kTagString, u""}, {u"body", kTagSheet, u"body"},
    {u"h1", kTagSheet, u"h1"}, {u"h2", kTagSheet, u"h2"}, {u"h3", kTagSheet, u"h3"},
    {u"h4", kTagSheet, u"h4"}, {u"h5", kTagSheet, u"h5"}, {u"h6", kTagSheet, u"h6"},
    {u"code", kTagSheet, u"code"}, {u"pre", kTagSheet, u"pre"}, {u"big", kTagSheet, u"big"},
    {u"small", kTagSheet, u"small"}, {u"sub", kTagSheet, u"sub"}, {u"sup", kTagSheet, u"sup"},
    {u"span", kTagSpan, u"span"}, {u"a", kTagLink, u"link"},
};

// Ordered by entity text, so "&amp;" runs first and its result meets the later ones.
const std::map<std::u16string, std::u16string>& Entities() {
  static const std::map<std::u16string, std::u16string> table = {
      {u"&amp;", u"&"}, {u"&bull;", u"\u2022"}, {u"&copy;", u"\u00A9"}, {u"&euro;", u"\u20AC"},
      {u"&gt;", u">"}, {u"&iquest;", u"\u00BF"}, {u"&lt;", u"<<"}, {u"&nbsp;", u" "},
      {u"&para;", u"\u00B6"}, {u"&pound;", u"\u00A3"}, {u"&quot;", u"\""}, {u"&reg;", u"\u00AE"},
      {u"&trade;", u"\u2122"},
  };
  return table;
}

const std::map<std::u16string, MarkupTag>& Tags() {
  static const std::map<std::u16string, MarkupTag> table = [] {
    std::map<std::u16string, MarkupTag> m;
    for (const auto& t : kTags) m[t.name] = MarkupTag{t.id, t.pair};
    return m;
  }();
  return table;
}

void ReplaceAll(std::u16string& s, std::u16string_view from, std::u16string_view to) {
  std::u16string out;
  size_t pos = 0;
  for (size_t hit; (hit = s.find(from, pos)) != npos; pos = hit + from.size()) {
    out.append(s, pos, hit - pos);
    out.append(to);
  }
  if (pos == 0) return;
  out.append(s, pos, npos);
  s = std::move(out);
}

// Next start of `name` at or after pos and before limit, skipping whole nested
// tables; npos when none. Each search stops at the hit it needs, so a call
// costs the distance it covers.
size_t FindOutsideTables(std::u16string_view text, std::u16string_view name, size_t pos, size_t limit) {
  limit = std::min(limit, text.size());
  while (pos < limit) {
    size_t hit = FindTag(text.substr(0, limit), name, pos);
    if (hit == npos) return npos;
    size_t table = FindTag(text.substr(0, hit), u"table", pos);
    if (table == npos) return hit;
    size_t end = FindTableEnd(text, table);
    if (end == npos) return npos;
    pos = end + 1;
  }
  return npos;
}

size_t FindEndSkippingTables(std::u16string_view text, std::u16string_view endName, size_t start) {
  size_t pos = start + 1;
  while (pos < text.size()) {
    size_t end = FindTag(text, endName, pos);
    if (end == npos) return npos;
    size_t table = FindTag(text.substr(0, end), u"table", pos);
    if (table == npos) return end;
    size_t tableEnd = FindTableEnd(text, table);
    if (tableEnd == npos) return npos;
    pos = tableEnd + 1;
  }
  return npos;
}

bool TagAt(std::u16string_view text, size_t p, std::u16string_view needle) {
  return text.substr(p).starts_with(needle) && (p == 0 || text[p - 1] != u'<');
}

}  // namespace

size_t GetNextToken(std::u16string_view text, size_t pos, std::u16string* piece, std::u16string* tag) {
  piece->clear();
  tag->clear();
  if (pos >= text.size()) return text.size();
  size_t lt = text.find(u'<', pos);
  if (lt == npos) {
    piece->assign(text.substr(pos));
    return text.size();
  }
  piece->assign(text.substr(pos, lt - pos));
  if (lt + 1 >= text.size() || text[lt + 1] == u'<') {
    piece->push_back(u'<');
    return std::min(text.size(), lt + 2);
  }
  size_t gt = text.find(u'>', lt + 1);
  if (gt == npos) return lt + 1;
  tag->assign(text.substr(lt + 1, gt - lt - 1));
  return gt + 1;
}

size_t FindTag(std::u16string_view text, std::u16string_view name, size_t from) {
  std::u16string needle = u"<";
  needle.append(name);
  size_t p = from < text.size() ? text.find(needle, from) : npos;
  while (p != npos) {
    if (p == 0 || text[p - 1] != u'<') return p;
    p = p + 2 < text.size() ? text.find(needle, p + 2) : npos;
  }
  return npos;
}

void SplitTag(std::u16string_view body, std::u16string* name, std::u16string* attributes) {
  size_t cut = body.find_first_of(u" =");
  if (cut == npos) {
    name->assign(body);
    attributes->clear();
    return;
  }
  name->assign(body.substr(0, cut));
  size_t rest = body.find_first_not_of(u' ', cut);
  attributes->assign(rest == npos ? std::u16string_view() : body.substr(rest));
}

bool GetNextAttributeName(std::u16string_view text, size_t* pos, std::u16string* name) {
  size_t i = *pos;
  while (i < text.size() && !IsMarkupWordChar(text[i])) ++i;
  if (i >= text.size()) {
    *pos = text.size();
    return false;
  }
  size_t end = text.find_first_of(u" =", i);
  if (end == npos) end = text.size();
  name->assign(text.substr(i, end - i));
  *pos = end;
  return true;
}

bool GetNextAttribute(std::u16string_view text, size_t* pos, MarkupAttribute* out) {
  out->value.clear();
  if (!GetNextAttributeName(text, pos, &out->name)) return false;
  size_t i = *pos;
  while (i < text.size() && text[i] == u' ') ++i;
  if (i >= text.size() || text[i] != u'=') {
    *pos = i;
    return true;
  }
  while (i < text.size() && (text[i] == u' ' || text[i] == u'=')) ++i;
  char16_t close = u' ';
  if (i < text.size() && (text[i] == u'\'' || text[i] == u'"')) close = text[i++];
  size_t end = text.find(close, i);
  if (end == npos) {
    out->value.assign(text.substr(std::min(i, text.size())));
    *pos = text.size();
  } else {
    out->value.assign(text.substr(i, end - i));
    *pos = end + 1;
  }
  return true;
}

bool GetNextWord(std::u16string_view text, size_t* pos, std::u16string* word) {
  size_t i = *pos;
  while (i < text.size() && text[i] == u' ') ++i;
  if (i >= text.size()) {
    *pos = text.size();
    return false;
  }
  size_t end = text.find_first_of(u" =", i);
  if (end == npos) end = text.size();
  word->assign(text.substr(i, end - i));
  *pos = end;
  return true;
}

std::vector<MarkupAttribute> ParseAttributes(std::u16string_view text) {
  std::vector<MarkupAttribute> out;
  size_t pos = 0;
  MarkupAttribute a;
  while (GetNextAttribute(text, &pos, &a)) out.push_back(a);
  return out;
}

size_t FindTableEnd(std::u16string_view text, size_t tableStart) {
  // One pass with a depth counter. The search starts right after the start
  // tag's "<", so a nested table however close to its parent's tag is counted.
  int depth = 1;
  for (size_t p = text.find(u'<', tableStart + 1); p != npos; p = text.find(u'<', p + 1)) {
    if (TagAt(text, p, u"</table")) {
      if (--depth == 0) return p;
    } else if (TagAt(text, p, u"<table")) {
      ++depth;
    }
  }
  return npos;
}

size_t FindRowEnd(std::u16string_view text, size_t rowStart) { return FindEndSkippingTables(text, u"/tr", rowStart); }
size_t FindCellEnd(std::u16string_view text, size_t cellStart) { return FindEndSkippingTables(text, u"/td", cellStart); }

size_t RowTextEnd(std::u16string_view text, size_t rowStart) {
  size_t end = FindRowEnd(text, rowStart);
  if (end != npos) return end;
  end = FindOutsideTables(text, u"tr", rowStart + 1, text.size());
  return end == npos ? text.size() : end;
}

int ReadSpan(std::u16string_view value) {
  long long n = MarkupLeadingNumber(value);
  return static_cast<int>(std::clamp<long long>(n, 1, kMaxTableColumns));
}

std::u16string TagAttributesAt(std::u16string_view text, size_t pos) {
  if (pos >= text.size() || text[pos] != u'<') return {};
  size_t gt = text.find(u'>', pos);
  std::u16string_view body = text.substr(pos + 1, gt == npos ? npos : gt - pos - 1);
  std::u16string name, attrs;
  SplitTag(body, &name, &attrs);
  return attrs;
}

TableScan::TableScan(std::u16string_view tableText) : size_(tableText.size()) {
  // Tags inside nested tables belong to those tables; a stray end tag at this
  // level is ignored, an unclosed nested table hides everything after it.
  int nested = 0;
  for (size_t p = tableText.find(u'<', 1); p != npos; p = tableText.find(u'<', p + 1)) {
    if (TagAt(tableText, p, u"<table")) {
      ++nested;
    } else if (TagAt(tableText, p, u"</table")) {
      if (nested > 0) --nested;
    } else if (nested == 0) {
      if (TagAt(tableText, p, u"<tr")) rowStarts_.push_back(p);
      else if (TagAt(tableText, p, u"</tr")) rowEnds_.push_back(p);
      else if (TagAt(tableText, p, u"<td")) cellStarts_.push_back(p);
      else if (TagAt(tableText, p, u"</td")) cellEnds_.push_back(p);
    }
  }
}

size_t TableScan::First(const std::vector<size_t>& list, size_t from, size_t limit) {
  auto it = std::lower_bound(list.begin(), list.end(), from);
  return it != list.end() && *it < limit ? *it : npos;
}

std::vector<std::pair<size_t, size_t>> TableScan::Rows() const {
  std::vector<std::pair<size_t, size_t>> rows;
  size_t pos = 1;
  while (rows.size() < static_cast<size_t>(kMaxTableRows)) {
    size_t row = First(rowStarts_, pos, size_);
    if (row == npos) break;
    // Its end tag, or without one the next row start, or the end of the text.
    size_t end = First(rowEnds_, row + 1, size_);
    if (end == npos) end = First(rowStarts_, row + 1, size_);
    if (end == npos) end = size_;
    rows.emplace_back(row, end);
    pos = std::max(end, row + 1);
  }
  return rows;
}

std::vector<std::pair<size_t, size_t>> TableScan::Cells(size_t rowStart, size_t rowEnd) const {
  std::vector<std::pair<size_t, size_t>> cells;
  size_t pos = rowStart + 1;
  while (cells.size() < static_cast<size_t>(kMaxTableColumns)) {
    size_t cell = First(cellStarts_, pos, rowEnd);
    if (cell == npos) break;
    size_t end = First(cellEnds_, cell + 1, size_);
    if (end == npos || end > rowEnd) {
      // A cell without its end tag ends where the next cell starts.
      end = First(cellStarts_, cell + 1, rowEnd);
      if (end == npos) end = rowEnd;
    }
    cells.emplace_back(cell, end);
    pos = std::max(end, cell + 1);
  }
  return cells;
}

std::vector<std::pair<size_t, size_t>> TableRows(std::u16string_view tableText) { return TableScan(tableText).Rows(); }

std::vector<std::pair<size_t, size_t>> RowCells(std::u16string_view tableText, size_t rowStart, size_t rowEnd) {
  return TableScan(tableText).Cells(rowStart, rowEnd);
}

std::pair<int, int> CountTableGrid(std::u16string_view tableText) {
  TableScan scan(tableText);
  auto rows = scan.Rows();
  int columns = 0;
  for (const auto& [row, rowEnd] : rows) {
    int sum = 0;
    for (const auto& cell : scan.Cells(row, rowEnd)) {
      int colspan = 1;
      for (const auto& a : ParseAttributes(TagAttributesAt(tableText, cell.first)))
        if (a.name == u"colspan") colspan = ReadSpan(a.value);
      sum = std::min(kMaxTableColumns, sum + colspan);
    }
    columns = std::max(columns, sum);
  }
  return {static_cast<int>(rows.size()), columns};
}

MarkupLanguage::MarkupLanguage() = default;

std::u16string MarkupLanguage::PreprocessText(std::u16string_view text) const {
  std::u16string s(text);
  for (const auto& [entity, replacement] : Entities()) ReplaceAll(s, entity, replacement);
  s.erase(std::remove(s.begin(), s.end(), u'\r'), s.end());
  if (newlineToBreak) {
    ReplaceAll(s, u"\n", u"<br>");
    ReplaceAll(s, u"\t", u"<t>");
  } else {
    s.erase(std::remove_if(s.begin(), s.end(), [](char16_t c) { return c == u'\n' || c == u'\t'; }), s.end());
  }
  return s;
}

MarkupTag MarkupLanguage::LookupTag(std::u16string_view name, bool* closing) const {
  *closing = !name.empty() && name.front() == u'/';
  if (*closing) name.remove_prefix(1);
  auto it = Tags().find(std::u16string(name));
  return it == Tags().end() ? MarkupTag{} : it->second;
}

void MarkupLanguage::ResetStyles() {
  styleStack.clear();
  SetDefaultStyle(style);
  ApplyCssRule(u"body", style);
}

bool MarkupLanguage::PushPopStyle(bool closing) {
  bool changed = false;
  if (!closing) {
    if (styleStack.size() < kMaxStyleDepth) {
      styleStack.push_back(style);
      changed = true;
    }
  } else if (!styleStack.empty() && styleStack.back().pairName == style.pairName) {
    style = std::move(styleStack.back());
    styleStack.pop_back();
    changed = true;
  }
  style.pairName.clear();
  return changed;
}

MarkupTagResult MarkupLanguage::InterpretTag(std::u16string_view body) {
  MarkupTagResult r;
  std::u16string name;
  SplitTag(body, &name, &r.attributes);
  MarkupTag tag = LookupTag(name, &r.closing);
  if (tag.id == kTagNone) return r;
  r.id = tag.id;
  style.pairName = tag.pairName;
  if (tag.pairName.empty()) {
    r.object = true;
    return r;
  }
  if (!PushPopStyle(r.closing)) return r;
  r.restyle = true;
  if (!r.closing) ApplyOpeningTag(tag.id, tag.pairName, r.attributes);
  return r;
}

void MarkupLanguage::ApplyOpeningTag(int id, std::u16string_view pairName, std::u16string_view attributes) {
  switch (id) {
    case kTagBold: style.fontWeight = std::min(900, style.fontWeight * 2); break;
    case kTagItalic: style.italic = !style.italic; break;
    case kTagUnderline: style.underline = !style.underline; break;
    case kTagStrikeout: style.strikeout = !style.strikeout; break;
    case kTagFont:
      for (const auto& a : ParseAttributes(attributes)) {
        if (a.name == u"face") style.faceName = a.value;
        else if (a.name == u"size") style.fontSize = ParseSize(a.value, style.fontSize, true);
        else if (a.name == u"color") style.textColor = MarkupColor(a.value, style.textColor);
        else if (a.name == u"style") ParseFontStyleFlags(a.value, style);
        else if (a.name == u"weight") style.fontWeight = ParseFontWeight(a.value, style.fontWeight);
        else if (a.name == u"bkgnd") {
          // An empty value counts as "transparent".
          if (a.value.empty() || a.value == u"transparent" || !colorsEnabled) {
            style.backMode = 1;
          } else {
            style.backMode = 2;
            style.backColor = ParseColor(a.value, style.backColor);
          }
        }
      }
      break;
    case kTagLeft: case kTagCenter: case kTagRight: case kTagJustify:
      style.textAlign = id - kTagLeft;
      break;
    case kTagBaseline: style.verticalAlign = 3; break;
    case kTagTop: style.verticalAlign = 0; break;
    case kTagVCenter: style.verticalAlign = 1; break;
    case kTagBottom: style.verticalAlign = 2; break;
    case kTagSheet: ApplyCssRule(pairName, style); break;
    case kTagSpan:
      for (const auto& a : ParseAttributes(attributes))
        if (a.name == u"class") ApplyCssRule(u"." + a.value, style);
      break;
    case kTagLink:
      style.linkKind = 2;
      style.linkTarget.clear();
      for (const auto& a : ParseAttributes(attributes)) {
        if (a.name == u"href") {
          style.linkKind = 1;
          style.linkTarget = a.value;
        } else if (a.name == u"msg") {
          style.linkKind = 2;
          style.linkTarget = a.value;
        }
      }
      ++linkCounter;
      ApplyCssRule(linkCounter == hoveredLink ? u"a:hover" : u"a:link", style);
      break;
    default: break;
  }
}

std::pair<int, int> MarkupLanguage::ParseTableAttributes(std::u16string_view attributes, HtmlStyle& s, bool table) const {
  int colspan = 1, rowspan = 1;
  for (const auto& a : ParseAttributes(attributes)) {
    const auto& n = a.name;
    const auto& v = a.value;
    if (table && n == u"cellpadding") s.cellPadding = ParseSize(v, s.cellPadding, false);
    else if (table && n == u"cellspacing") s.cellSpacing = ParseSize(v, s.cellSpacing, false);
    else if (table && n == u"background") s.backImage = v;
    else if (n == u"rowspan") rowspan = std::min(ReadSpan(v), kMaxTableRows);
    else if (n == u"colspan") colspan = ReadSpan(v);
    else if (n == u"border") {
      s.borderWidth = ParseSize(v, s.borderWidth, false);
      if (s.borderWidth == 0) s.borderStyle = 0;
      else if (s.borderStyle == 0) s.borderStyle = 1;
    } else if (n == u"borderstyle") {
      s.borderStyle = ParseBorderStyle(v, s.borderStyle);
      if (s.borderStyle != 0 && s.borderWidth == 0) s.borderWidth = 1;
    } else if (n == u"bordercolor") {
      s.borderLightColor = s.borderDarkColor = MarkupColor(v, s.borderLightColor);
    } else if (n == u"bordercolorlight") {
      s.borderLightColor = MarkupColor(v, s.borderLightColor);
    } else if (n == u"bordercolordark") {
      s.borderDarkColor = MarkupColor(v, s.borderDarkColor);
    } else if (n == u"bgcolor") {
      if (colorsEnabled) {
        s.backColor = ParseColor(v, s.backColor);
        if (s.backEffect < 0) s.backEffect = 0;
      }
    } else if (n == u"bgmidcolor") {
      if (colorsEnabled) s.backMidColor = ParseColor(v, s.backMidColor);
    } else if (n == u"bgendcolor") {
      if (colorsEnabled) s.backEndColor = ParseColor(v, s.backEndColor);
    } else if (n == u"bgeffect") {
      if (colorsEnabled) s.backEffect = ParseBackgroundEffect(v, s.backEffect);
    } else if (n == u"align") s.textAlign = ParseTextAlign(v, s.textAlign);
    else if (n == u"valign") s.verticalAlign = ParseVerticalAlign(v, s.verticalAlign);
    else if (n == u"width") s.width = ParseSize(v, s.width, false);
    else if (n == u"height") s.height = ParseSize(v, s.height, false);
  }
  if (s.borderStyle == 0 || s.borderWidth == 0) s.borderStyle = s.borderWidth = 0;
  if (s.borderStyle != 0 && s.borderStyle != 1) s.borderWidth = 1;
  if (!table && s.borderWidth != 0) s.borderWidth = 1;
  return {colspan, rowspan};
}

int MarkupLanguage::GetCellWidth(std::u16string_view attributes, int current, int available, bool spanning) const {
  int result = current;
  for (const auto& a : ParseAttributes(attributes)) {
    if (MarkupLower(a.name) != u"width") continue;
    if (!a.value.empty() && a.value.back() == u'%') {
      long long n = MarkupLeadingNumber(a.value);
      // A percentage of 0 (or less) would divide by zero: it asks for nothing.
      if (n <= 0) continue;
      if (spanning) result = static_cast<int>(n > 100 ? MarkupMulDiv(available, n, 100) : MarkupMulDiv(available, 100, n));
      else if (n < 100) result = static_cast<int>(MarkupMulDiv(current, n, 100));
    } else {
      result = ParseSize(a.value, current, false);
    }
  }
  return std::max(std::min<long long>(result, kMaxMarkupLength), static_cast<long long>(available));
}

}  // namespace qm
