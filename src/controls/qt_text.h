#pragma once
// The one conversion from the engines' UTF-16 texts to what Qt shows.
#include <QString>

#include <string_view>

namespace qm {

inline QString Q(std::u16string_view s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace qm
