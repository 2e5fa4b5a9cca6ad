#include "controls/qt_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

// Every UTF-16 unit reaches Qt as it is: no stop at a NUL, pairs kept whole.
TEST(QtText, KeepsEveryUtf16Unit) {
  const std::u16string cases[] = {u"", u"plain.txt", u"caf\u00e9", u"\U0001F600 smile", std::u16string(u"a\0b", 3)};
  for (const std::u16string& s : cases) {
    const QString q = Q(s);
    ASSERT_EQ(q.size(), static_cast<qsizetype>(s.size()));
    EXPECT_EQ(q.toStdU16String(), s);
  }
  EXPECT_EQ(Q(std::u16string_view(u"abc").substr(1, 1)), QStringLiteral("b"));
}

}  // namespace
}  // namespace qm
