#include "controls/static_text.h"

namespace qm {

QString StaticDisplayText(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == u'&' && i + 1 < text.size()) {
      // "&&" is a literal ampersand; "&x" marks a mnemonic and shows "x".
      out += text[++i];
      continue;
    }
    if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
    out += c;
  }
  return out;
}

}  // namespace qm
