#pragma once
// A small reader of RTF documents for the preview pane: text with its
// paragraphs, bold, italic, underline, size, colour and font. Everything
// else (pictures, objects, style sheets, unknown control words) is skipped.
// The bytes come from files found on a scanned disk, so nesting and output
// are bounded and a truncated or unbalanced document gives what was read.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qm {

// Groups nested deeper than this are read as text-less.
constexpr int kRtfMaxDepth = 100;
// Characters produced at most; the rest of the document is dropped.
constexpr size_t kRtfMaxChars = 4u << 20;
// Sizes are in half points; the default size of a document.
constexpr int kRtfDefaultHalfPoints = 24;

struct RtfRun {
  std::u16string text;  // paragraph breaks are '\n'
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int halfPoints = kRtfDefaultHalfPoints;
  bool hasColor = false;  // false: the default text colour
  uint32_t rgb = 0;       // 0xRRGGBB
  std::string font;       // the font table's name, CP1252; empty: default
};

// The document's text as runs of one style each, in order; adjacent runs
// differ in style. Nothing when the bytes do not begin with "{\rtf".
std::vector<RtfRun> ReadRtf(std::span<const uint8_t> bytes);

}  // namespace qm
