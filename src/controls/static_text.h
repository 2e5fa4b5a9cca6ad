#pragma once
// How a static text shows its window text: the mnemonic prefix rule, so
// "&&" shows as "&" and a single '&' before a letter is dropped.
#include <QString>

namespace qm {

QString StaticDisplayText(const QString& text);

}  // namespace qm
