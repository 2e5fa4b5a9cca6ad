#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "dormant/markup_parse_core.h"

namespace qm {
namespace {

struct SizeCase {
  const char16_t* value;
  int current;
  bool scale;
  int expected;
};

TEST(MarkupValues, ParseSizeUnitsAndScale) {
  MarkupStyles s;  // 96 pixels per inch, x height 8, font height 16
  const SizeCase cases[] = {
      {u"", 7, false, 7},          {u"10pt", 0, true, 13},      {u"3", 0, true, 12},
      {u"+1", 0, true, 8},         {u"-11pt", 0, false, 14},    {u"8", 0, true, 8},
      {u"7", 0, false, 7},         {u"50%", 30, false, 15},     {u"65%", 13, false, 8},
      {u"2em", 0, false, 32},      {u"3ex", 0, false, 24},      {u"1in", 0, false, 96},
      {u"1cm", 0, false, 37},      {u"10mm", 0, false, 37},     {u"1pc", 0, false, 16},
      {u"12px", 0, false, 12},     {u"0x10", 0, false, 16},     {u"010", 0, false, 8},
      {u"abc", 5, false, 0},       // an unknown unit reads the whole value as a number
      {u"99999999999999999999pt", 0, false, kMaxMarkupLength},
      {u"99999999999999%", 1000, false, kMaxMarkupLength},
  };
  for (const auto& c : cases)
    EXPECT_EQ(s.ParseSize(c.value, c.current, c.scale), c.expected) << std::string(c.value, c.value + std::char_traits<char16_t>::length(c.value));
}

TEST(MarkupValues, ParseColorForms) {
  MarkupStyles s;
  const ColorRef keep = 0x123456;
  struct Case { const char16_t* value; ColorRef expected; } cases[] = {
      {u"", keep},
      {u"#ff9900", MakeColorRef(0xFF, 0x99, 0x00)},
      {u"#f90", keep},            // seven characters are required
      {u"#ff99001", keep},
      {u"255", 0x0000FF},         // a number is a COLORREF: red in the low byte
      {u"0xFF0000", 0xFF0000},    // ... so this is blue
      {u"4294967295", keep},      // beyond 24 bits: refused
      {u"red", 0x0000FF},
      {u"lightgrey", MakeColorRef(0xD3, 0xD3, 0xD3)},
      {u"lightgray", keep},
      {u"Red", keep},             // names are exact
      {u"windowtext", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(s.ParseColor(c.value, keep), c.expected);
  EXPECT_EQ(s.ColorCount(), 168u);
}

TEST(MarkupValues, DisabledColoursReplaceEveryNamedColour) {
  MarkupStyles s;
  s.colorsEnabled = 0;
  s.disabledColor = 0x808080;
  for (const char16_t* v : {u"red", u"#00ff00", u"255"}) EXPECT_EQ(s.MarkupColor(v, 1), 0x808080u);
  HtmlStyle st;
  s.ParseCssDeclarations(u"color: red; background-color: white", st);
  EXPECT_EQ(st.textColor, 0x808080u);
  EXPECT_EQ(st.backMode, 1);
}

TEST(MarkupValues, KeywordParsers) {
  MarkupStyles s;
  EXPECT_EQ(s.ParseFontWeight(u"bolder", 400), 900);
  EXPECT_EQ(s.ParseFontWeight(u"600x", 400), 600);
  EXPECT_EQ(s.ParseFontWeight(u"heavy", 400), 0);
  EXPECT_EQ(ParseVerticalAlign(u"middle", 0), 1);
  EXPECT_EQ(ParseVerticalAlign(u"", 0), 3);
  EXPECT_EQ(ParseTextAlign(u"justify", 2), 2);
  EXPECT_EQ(ParseBorderStyle(u"double", 0), 6);
  EXPECT_EQ(s.ParseBorderWidth(u"thin", 4), 3);
  EXPECT_EQ(s.ParseBorderWidth(u"thick", 4), 5);
  EXPECT_EQ(s.ParseBackgroundEffect(u"3vgradient", -1), 6);
  EXPECT_EQ(s.ParseBackgroundEffect(u"transparent", 3), -1);
  HtmlStyle st;
  st.strikeout = 1;
  ParseTextDecoration(u"underline, overline", st);
  EXPECT_EQ(st.underline + st.overline + st.strikeout, 3);
  ParseTextDecoration(u"", st);
  EXPECT_EQ(st.underline + st.overline + st.strikeout, 0);
  ParseFontStyleFlags(u"b-iu+s", st);
  EXPECT_EQ(st.fontWeight, 700);
  EXPECT_EQ(st.italic, 0);
  EXPECT_EQ(st.underline, 1);  // the flag is on again after each letter
  EXPECT_EQ(st.strikeout, 1);
}

TEST(MarkupSheet, DefaultSheetAndDeclarations) {
  MarkupStyles s;
  HtmlStyle st;
  s.ApplyCssRule(u"BODY", st);
  EXPECT_EQ(st.fontSize, 13);
  EXPECT_EQ(st.faceName, u"verdana");
  st = HtmlStyle{};
  s.ApplyCssRule(u"pre", st);
  EXPECT_EQ(st.faceName, u"courier");
  EXPECT_EQ(st.backMode, 2);
  EXPECT_EQ(st.backColor, MakeColorRef(0xFB, 0xED, 0xBB));
  st = HtmlStyle{};
  s.ApplyCssRule(u"h6", st);
  EXPECT_EQ(st.fontSize, 10);  // 65 % of 16
  // Upper-case sheets work; a trailing space keeps the colour unchanged.
  s.SetCssStyles(u"TD {COLOR:Red; Font-Size:20PX} x {} broken { color: red ; margin:4; padding:3");
  st = HtmlStyle{};
  s.ApplyCssRule(u"td", st);
  EXPECT_EQ(st.textColor, 0x0000FFu);
  EXPECT_EQ(st.fontSize, 20);
  EXPECT_EQ(s.GetCssRule(u"x"), nullptr);
  EXPECT_EQ(s.GetCssRule(u"broken"), nullptr);
  EXPECT_EQ(s.GetCssRule(u"body"), nullptr);
  st = HtmlStyle{};
  s.ParseCssDeclarations(u"color: red ; margin:4; padding:3; border-style:dashed", st);
  EXPECT_EQ(st.textColor, 0u);
  EXPECT_EQ(st.cellPadding, 4);
  EXPECT_EQ(st.cellSpacing, 3);
  EXPECT_EQ(st.borderStyle, 2);
  EXPECT_EQ(st.borderWidth, 1);
  s.SetCssStyles(nullptr);
  EXPECT_NE(s.GetCssRule(u".cpp-comment"), nullptr);
  s.RemoveCssRule(u".CPP-comment");
  EXPECT_EQ(s.GetCssRule(u".cpp-comment"), nullptr);
}

TEST(MarkupLanguageText, PreprocessAndTokens) {
  MarkupLanguage m;
  EXPECT_EQ(m.PreprocessText(u"&lt;b&gt;"), u"<<b>");
  EXPECT_EQ(m.PreprocessText(u"&amp;lt;"), u"<<");
  EXPECT_EQ(m.PreprocessText(u"a\r\nb\tc&euro;"), u"a<br>b<t>c\u20AC");
  m.newlineToBreak = 0;
  EXPECT_EQ(m.PreprocessText(u"a\r\nb\tc"), u"abc");

  struct Tok { std::u16string piece, tag; };
  auto tokens = [](std::u16string_view t) {
    std::vector<Tok> out;
    for (size_t pos = 0; pos < t.size() && out.size() < 100;) {
      Tok k;
      pos = GetNextToken(t, pos, &k.piece, &k.tag);
      out.push_back(k);
    }
    return out;
  };
  auto t = tokens(u"<<b>x<i");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].piece, u"<");
  EXPECT_EQ(t[1].piece, u"b>x");
  EXPECT_EQ(t[1].tag, u"");  // "<" without ">": empty tag
  EXPECT_EQ(t[2].piece, u"i");
  t = tokens(u"a<");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].piece, u"a<");
  t = tokens(u"x<font color=red>y");
  EXPECT_EQ(t[0].tag, u"font color=red");

  EXPECT_EQ(FindTag(u"<<table><table>", u"table", 0), 8u);
  EXPECT_EQ(FindTag(u"abc", u"table", 10), std::u16string::npos);
}

TEST(MarkupLanguageText, SplitAndAttributes) {
  std::u16string name, attrs;
  SplitTag(u"br=3", &name, &attrs);
  EXPECT_EQ(name, u"br");
  EXPECT_EQ(attrs, u"=3");
  SplitTag(u"br   3", &name, &attrs);
  EXPECT_EQ(attrs, u"3");
  SplitTag(u" b", &name, &attrs);
  EXPECT_EQ(name, u"");
  auto a = ParseAttributes(u"face='Courier New' size = 3 color=\"red\" bold mask=0xFF00FF cx=16, cy=8 tail='open");
  ASSERT_EQ(a.size(), 8u);
  EXPECT_EQ(a[0].value, u"Courier New");
  EXPECT_EQ(a[1].name, u"size");
  EXPECT_EQ(a[1].value, u"3");
  EXPECT_EQ(a[2].value, u"red");
  EXPECT_EQ(a[3].name, u"bold");
  EXPECT_EQ(a[3].value, u"");
  EXPECT_EQ(a[5].value, u"16,");
  EXPECT_EQ(a[7].value, u"open");
}

// Runs every tag of a text and reports the style at the end.
HtmlStyle RunTags(MarkupLanguage& m, std::u16string_view text) {
  m.ResetStyles();
  std::u16string piece, tag;
  for (size_t pos = 0; pos < text.size();) {
    pos = GetNextToken(text, pos, &piece, &tag);
    if (!tag.empty()) m.InterpretTag(tag);
  }
  return m.style;
}

TEST(MarkupLanguageTags, StyleStack) {
  MarkupLanguage m;
  struct Case { const char16_t* text; int weight, italic, underline; } cases[] = {
      {u"<b>", 800, 0, 0},
      {u"<b><b>", 900, 0, 0},
      {u"<b><b></b>", 800, 0, 0},
      {u"<i>x</em>", 400, 0, 0},     // same pair name closes
      {u"<b><u></i>", 800, 0, 1},    // closer without matching top is ignored
      {u"<b></i></b>", 400, 0, 0},
      {u"<B>", 400, 0, 0},           // names are exact
      {u"<i><i>", 400, 0, 0},        // toggles
      {u"<font style=bi-u>", 700, 1, 0},
      {u"</b>", 400, 0, 0},
  };
  for (const auto& c : cases) {
    HtmlStyle s = RunTags(m, c.text);
    EXPECT_EQ(s.fontWeight, c.weight) << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    EXPECT_EQ(s.italic, c.italic);
    EXPECT_EQ(s.underline, c.underline);
  }
  EXPECT_TRUE(m.InterpretTag(u"/br").object);
  EXPECT_EQ(m.InterpretTag(u"\n").id, kTagBr);
  EXPECT_EQ(m.InterpretTag(u"table").id, kTagNone);
}

TEST(MarkupLanguageTags, FontLinksAndSheetTags) {
  MarkupLanguage m;
  HtmlStyle s = RunTags(m, u"<font face=Arial size=3 color=#00ff00 weight=bold bkgnd=yellow>");
  EXPECT_EQ(s.faceName, u"Arial");
  EXPECT_EQ(s.fontSize, 12);
  EXPECT_EQ(s.textColor, 0x00FF00u);
  EXPECT_EQ(s.fontWeight, 700);
  EXPECT_EQ(s.backMode, 2);
  EXPECT_EQ(s.backColor, 0x00FFFFu);
  s = RunTags(m, u"<font bkgnd=yellow><font bkgnd=>");
  EXPECT_EQ(s.backMode, 1);
  s = RunTags(m, u"<h1>");
  EXPECT_EQ(s.fontSize, 18);
  EXPECT_EQ(s.fontWeight, 700);
  m.SetCssRule(u".warn", u"color:red");
  s = RunTags(m, u"<span class=warn>");
  EXPECT_EQ(s.textColor, 0x0000FFu);
  s = RunTags(m, u"<a href=\"http://x\" msg=hello>");
  EXPECT_EQ(s.linkKind, 2);
  EXPECT_EQ(s.linkTarget, u"hello");
  EXPECT_EQ(s.underline, 0);
  m.hoveredLink = 1;
  m.linkCounter = -1;  // each output pass restarts the count
  s = RunTags(m, u"<a href=x>a</a><a href=y>");  // the second link is hovered
  EXPECT_EQ(m.linkCounter, 1);
  EXPECT_EQ(s.underline, 1);
  EXPECT_EQ(s.linkKind, 1);
  EXPECT_EQ(RunTags(m, u"<right>").textAlign, 2);
  EXPECT_EQ(RunTags(m, u"<justify>").textAlign, 3);
  EXPECT_EQ(RunTags(m, u"<middle>").verticalAlign, 1);
}

TEST(MarkupLanguageTags, NestingIsBounded) {
  MarkupLanguage m;
  std::u16string deep;
  for (int i = 0; i < 5000; ++i) deep += u"<u>";
  RunTags(m, deep);
  EXPECT_EQ(m.styleStack.size(), kMaxStyleDepth);
  EXPECT_EQ(m.style.underline, static_cast<int>(kMaxStyleDepth % 2));
}

TEST(MarkupTables, FindersAndGrid) {
  std::u16string t = u"<table><tr><td colspan=2>a</td></tr><tr><td>b<table><tr><td>x</td><td>y</td><td>z</td></tr></table></td><td>c</td><td>d</td></tr></table>";
  EXPECT_EQ(FindTableEnd(t, 0), t.size() - 8);
  size_t row2 = FindTag(t, u"tr", 5 + t.find(u"</tr>"));
  size_t end2 = FindRowEnd(t, row2);
  EXPECT_EQ(t.substr(end2, 5), u"</tr>");
  EXPECT_GT(end2, t.find(u"</table>"));  // the nested table's row is skipped
  size_t cell = FindTag(t, u"td", row2);
  EXPECT_EQ(t.substr(FindCellEnd(t, cell) - 8, 8), u"</table>");
  auto grid = CountTableGrid(std::u16string_view(t).substr(0, FindTableEnd(t, 0)));
  EXPECT_EQ(grid, std::make_pair(2, 3));
  EXPECT_EQ(FindTableEnd(u"<table><table></table>", 0), std::u16string::npos);
  // Nested tables that start right at their parent's tag are still counted.
  EXPECT_EQ(FindTableEnd(u"<table><table></table></table>", 0), 22u);

  // Rows and cells without end tags end where the next one starts.
  EXPECT_EQ(CountTableGrid(u"<table><tr><td>a<td>b<td>c<tr><td>d"), std::make_pair(2, 3));
  std::u16string huge = u"<table><tr><td colspan=999999>";
  for (int i = 0; i < 2000; ++i) huge += u"<tr><td>";
  auto g = CountTableGrid(huge);
  EXPECT_EQ(g.first, kMaxTableRows);
  EXPECT_EQ(g.second, kMaxTableColumns);
}

// The rows and cells as the tag-by-tag finders see them: the reference the
// one-pass table scan must agree with.
std::vector<std::pair<size_t, size_t>> ReferenceRows(std::u16string_view t) {
  std::vector<std::pair<size_t, size_t>> rows;
  for (size_t pos = 1; rows.size() < static_cast<size_t>(kMaxTableRows);) {
    size_t row = std::u16string::npos;
    for (size_t p = pos; p < t.size(); p = FindTableEnd(t, p) + 1) {
      size_t hit = FindTag(t, u"tr", p), table = FindTag(t, u"table", p);
      if (hit == std::u16string::npos) break;
      if (table == std::u16string::npos || table > hit) { row = hit; break; }
      if (FindTableEnd(t, table) == std::u16string::npos) break;
      p = table;
    }
    if (row == std::u16string::npos) break;
    size_t end = RowTextEnd(t, row);
    rows.emplace_back(row, end);
    pos = std::max(end, row + 1);
  }
  return rows;
}

TEST(MarkupTables, OnePassScanAgreesWithTheFinders) {
  const char16_t* pieces[] = {u"<table>", u"</table>", u"<tr>", u"</tr>", u"<td>", u"</td>",
                              u"x", u"<<", u"<td colspan=2>", u"<b>"};
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::u16string t = u"<table>";
    int n = static_cast<int>(rng() % 24);
    for (int i = 0; i < n; ++i) t += pieces[rng() % std::size(pieces)];
    auto rows = TableRows(t);
    ASSERT_EQ(rows, ReferenceRows(t)) << round;
    for (const auto& [start, end] : rows) {
      std::vector<std::pair<size_t, size_t>> cells;
      for (size_t pos = start + 1;;) {
        size_t cell = FindTag(std::u16string_view(t).substr(0, end), u"td", pos);
        // Only cells outside nested tables count.
        size_t table = FindTag(std::u16string_view(t).substr(0, end), u"table", pos);
        if (table != std::u16string::npos && (cell == std::u16string::npos || table < cell)) {
          size_t te = FindTableEnd(t, table);
          if (te == std::u16string::npos) break;
          pos = te + 1;
          continue;
        }
        if (cell == std::u16string::npos) break;
        size_t ce = FindCellEnd(t, cell);
        if (ce == std::u16string::npos || ce > end) {
          size_t next = cell + 1;
          ce = end;
          for (size_t p = next; p < end;) {
            size_t c2 = FindTag(std::u16string_view(t).substr(0, end), u"td", p);
            size_t t2 = FindTag(std::u16string_view(t).substr(0, end), u"table", p);
            if (c2 == std::u16string::npos) break;
            if (t2 == std::u16string::npos || t2 > c2) { ce = c2; break; }
            size_t te = FindTableEnd(t, t2);
            if (te == std::u16string::npos) break;
            p = te + 1;
          }
        }
        cells.emplace_back(cell, ce);
        pos = std::max(ce, cell + 1);
      }
      ASSERT_EQ(RowCells(t, start, end), cells) << round;
    }
  }
}

TEST(MarkupTables, LargeTablesAreScannedInLinearTime) {
  // A megabyte of rows and cells without end tags, and the same inside one
  // nested table: looking for each missing end tag to the end of the text
  // made these take minutes.
  std::u16string flat = u"<table>";
  while (flat.size() < 1'000'000) flat += u"<tr><td>cell<td>x";
  std::u16string nested = u"<table><tr><td><table>" + flat.substr(7) + u"</table></td></tr>";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CountTableGrid(flat), std::make_pair(kMaxTableRows, 2));
  EXPECT_EQ(CountTableGrid(nested), std::make_pair(1, 1));
  EXPECT_EQ(FindTableEnd(nested + u"</table>", 0), nested.size());
  // Deep nesting: every end tag once looked for a start tag to the end.
  std::u16string deep;
  for (int i = 0; i < 80000; ++i) deep += u"<table>";
  for (int i = 0; i < 80000; ++i) deep += u"</table>";
  EXPECT_EQ(FindTableEnd(deep, 0), deep.size() - 8);
  EXPECT_EQ(FindTableEnd(deep, 7), deep.size() - 16);
  // A hang guard, not a speed figure.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(MarkupTables, TableAttributes) {
  MarkupLanguage m;
  struct Case { const char16_t* attrs; bool table; int style, width; } cases[] = {
      {u"border=3 borderstyle=dotted", true, 3, 1},
      {u"border=3", true, 1, 3},
      {u"borderstyle=solid", true, 1, 1},
      {u"border=3", false, 1, 1},
      {u"border=0 borderstyle=double", true, 6, 1},
      {u"borderstyle=double border=0", true, 0, 0},
  };
  for (const auto& c : cases) {
    HtmlStyle s;
    m.ParseTableAttributes(c.attrs, s, c.table);
    EXPECT_EQ(s.borderStyle, c.style);
    EXPECT_EQ(s.borderWidth, c.width);
  }
  HtmlStyle s;
  auto spans = m.ParseTableAttributes(u"colspan=3 rowspan=0 bgcolor=red width=50% cellpadding=7", s, false);
  EXPECT_EQ(spans, std::make_pair(3, 1));
  EXPECT_EQ(s.backEffect, 0);
  EXPECT_EQ(s.width, 0);
  EXPECT_EQ(s.cellPadding, 2);  // tables only
  m.colorsEnabled = 0;
  HtmlStyle d;
  m.ParseTableAttributes(u"bgcolor=red bgeffect=hgradient", d, true);
  EXPECT_EQ(d.backEffect, -1);
  m.colorsEnabled = 1;
  EXPECT_EQ(m.GetCellWidth(u"WIDTH=0%", 10, 50, true), 50);
  EXPECT_EQ(m.GetCellWidth(u"width=50%", 300, 100, true), 200);
  EXPECT_EQ(m.GetCellWidth(u"width=200%", 300, 100, true), 200);
}

}  // namespace
}  // namespace qm
