#pragma once
// The mark-up language: text preparation, tokenizer, tags and attributes,
// the style stack, and the finders that cut tables into rows and cells.
// Pure C++ over untrusted text: every scan is bounded by the text, nesting
// is limited, and table grids have a fixed ceiling.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dormant/markup_style_core.h"

namespace qm {

enum MarkupTagId {
  kTagNone = 0,
  kTagBold = 1,
  kTagItalic = 2,
  kTagUnderline = 3,
  kTagStrikeout = 4,
  kTagFont = 5,
  kTagHr = 6,
  kTagBr = 7,
  kTagTab = 8,
  kTagLeft = 9,
  kTagCenter = 10,
  kTagRight = 11,
  kTagJustify = 12,
  kTagBaseline = 13,
  kTagTop = 14,
  kTagVCenter = 15,
  kTagBottom = 16,
  kTagBmp = 17,
  kTagIcon = 18,
  kTagIlst = 19,
  kTagString = 20,
  kTagSheet = 21,
  kTagSpan = 22,
  kTagLink = 23,
};

// Deeper nesting than this is refused: the opener is dropped.
constexpr size_t kMaxStyleDepth = 256;
// Ceilings of one table's grid; further rows and columns are dropped.
constexpr int kMaxTableRows = 512;
constexpr int kMaxTableColumns = 64;
// Tables nested deeper than this are not laid out.
constexpr int kMaxTableNesting = 8;

struct MarkupTag {
  int id = 0;
  std::u16string pairName;
};

// What the interpreter did with one tag body.
struct MarkupTagResult {
  int id = kTagNone;       // 0: unknown, dropped
  bool closing = false;
  bool object = false;     // drawn or measured by the layout
  bool restyle = false;    // the font must be rebuilt
  std::u16string attributes;
};

struct MarkupAttribute {
  std::u16string name;
  std::u16string value;
};

// Tokenizer and scanners; positions are indexes into the text.
size_t GetNextToken(std::u16string_view text, size_t pos, std::u16string* piece, std::u16string* tag);
size_t FindTag(std::u16string_view text, std::u16string_view name, size_t from);
void SplitTag(std::u16string_view body, std::u16string* name, std::u16string* attributes);
bool GetNextAttribute(std::u16string_view text, size_t* pos, MarkupAttribute* out);
bool GetNextAttributeName(std::u16string_view text, size_t* pos, std::u16string* name);
bool GetNextWord(std::u16string_view text, size_t* pos, std::u16string* word);
std::vector<MarkupAttribute> ParseAttributes(std::u16string_view text);

// Tables. End positions are those of the end tag's "<"; npos when missing.
size_t FindTableEnd(std::u16string_view text, size_t tableStart);
size_t FindRowEnd(std::u16string_view text, size_t rowStart);
size_t FindCellEnd(std::u16string_view text, size_t cellStart);
// Where a row's text ends: its end tag, or, without one, the next row start
// (outside nested tables) or the end of the text.
size_t RowTextEnd(std::u16string_view text, size_t rowStart);
// Rows of a table text as [start, end) of their text, and cells of a row
// likewise; both skip nested tables and stop at the grid ceilings.
std::vector<std::pair<size_t, size_t>> TableRows(std::u16string_view tableText);
std::vector<std::pair<size_t, size_t>> RowCells(std::u16string_view tableText, size_t rowStart, size_t rowEnd);
// The rows and cells of one table text, found in one pass, so a table of any
// size is laid out in time linear in its text.
class TableScan {
 public:
  explicit TableScan(std::u16string_view tableText);
  std::vector<std::pair<size_t, size_t>> Rows() const;
  std::vector<std::pair<size_t, size_t>> Cells(size_t rowStart, size_t rowEnd) const;

 private:
  static size_t First(const std::vector<size_t>& list, size_t from, size_t limit);
  size_t size_;
  std::vector<size_t> rowStarts_, rowEnds_, cellStarts_, cellEnds_;
};
// Span value of a cell tag (colspan/rowspan), clamped to the grid ceiling.
int ReadSpan(std::u16string_view value);
// Rows and columns of the table whose text starts with its own tag.
std::pair<int, int> CountTableGrid(std::u16string_view tableText);
// Attribute text of the tag that starts at pos ("<td ..."); empty when none.
std::u16string TagAttributesAt(std::u16string_view text, size_t pos);

class MarkupLanguage : public MarkupStyles {
 public:
  MarkupLanguage();

  std::u16string PreprocessText(std::u16string_view text) const;
  MarkupTag LookupTag(std::u16string_view name, bool* closing) const;

  // Runs one tag body against the current style.
  MarkupTagResult InterpretTag(std::u16string_view body);
  // Pushes for an opener, pops when a closer matches the top; returns
  // whether the style changed (an ignored closer or refused opener: false).
  bool PushPopStyle(bool closing);
  // Start of an output pass: empty stack, default style, "body" rule.
  void ResetStyles();

  // `table`, `tr` and `td` attributes; returns {colspan, rowspan}.
  std::pair<int, int> ParseTableAttributes(std::u16string_view attributes, HtmlStyle& style, bool table) const;
  int GetCellWidth(std::u16string_view attributes, int current, int available, bool spanning) const;

  HtmlStyle style;
  std::vector<HtmlStyle> styleStack;
  int newlineToBreak = 1;
  int linkCounter = -1;
  int hoveredLink = -2;

 private:
  void ApplyOpeningTag(int id, std::u16string_view name, std::u16string_view attributes);
};

}  // namespace qm
