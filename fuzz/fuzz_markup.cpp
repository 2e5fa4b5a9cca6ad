// Mark-up text and style sheets come from whoever fills the control: every
// scanner, the style stack and the table finders must stay bounded.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dormant/markup_parse_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i + 1 < size; i += 2) text[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  std::u16string narrow(data, data + size);  // the same bytes as ASCII-range text

  for (const std::u16string* input : {&text, &narrow}) {
    qm::MarkupLanguage m;
    m.SetCssStyles(*input);
    qm::HtmlStyle st;
    m.ParseCssDeclarations(*input, st);
    (void)m.ParseSize(*input, 10, true);
    (void)m.ParseColor(*input, 0);
    (void)m.GetCellWidth(*input, 10, 20, true);
    m.ParseTableAttributes(*input, st, true);

    m.SetDefaultCssStyles();
    std::u16string prepared = m.PreprocessText(*input);
    m.ResetStyles();
    std::u16string piece, tag;
    for (size_t pos = 0; pos < prepared.size();) {
      size_t next = qm::GetNextToken(prepared, pos, &piece, &tag);
      if (next <= pos) __builtin_trap();  // the tokenizer must always move on
      pos = next;
      if (!tag.empty()) m.InterpretTag(tag);
    }
    // Top-level tables only, as the renderer walks them: the walk stays
    // linear, so a time-out on a large input is the finders' own.
    for (size_t t = qm::FindTag(prepared, u"table", 0); t != std::u16string::npos;) {
      size_t end = qm::FindTableEnd(prepared, t);
      std::u16string_view table = std::u16string_view(prepared).substr(t, end == std::u16string::npos ? std::u16string::npos : end - t);
      auto grid = qm::CountTableGrid(table);
      if (grid.first > qm::kMaxTableRows || grid.second > qm::kMaxTableColumns) __builtin_trap();
      size_t row = qm::FindTag(table, u"tr", 0);
      if (row != std::u16string::npos) (void)qm::RowTextEnd(table, row);
      qm::TableScan scan(table);
      for (const auto& [rowStart, rowEnd] : scan.Rows()) (void)scan.Cells(rowStart, rowEnd);
      if (end == std::u16string::npos) break;
      t = qm::FindTag(prepared, u"table", end);
    }
  }
  return 0;
}
