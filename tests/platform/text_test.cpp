#include "platform/text.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(Text, Utf16Utf8RoundTrip) {
  const std::u16string cases[] = {u"", u"plain.txt", u"caf\u00e9.txt", u"\u65e5\u672c\u8a9e", u"\U0001F600 smile"};
  for (const auto& s : cases) EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
  EXPECT_EQ(Utf16ToUtf8(u"caf\u00e9"), "caf\xc3\xa9");
}

TEST(Text, MalformedInputBecomesReplacementCharacter) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");          // truncated sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong '/'
}

TEST(Text, Cp1252) {
  EXPECT_EQ(Cp1252ToUtf16("\x80\xE9\x41"), u"\u20AC\u00E9A");
  EXPECT_EQ(Utf16ToCp1252(u"\u20AC\u00E9A\u65e5"), "\x80\xE9\x41?");
}

TEST(Text, SizeTexts) {
  struct Case {
    uint64_t bytes;
    const char16_t* three;
    const char16_t* one;
  };
  const Case cases[] = {
      {0, u"0.000 MB", u"0"},
      {1536, u"0.001 MB", u"1.5 KB"},
      {1ull << 20, u"1.000 MB", u"1.0 MB"},
      {1ull << 30, u"1024.000 MB", u"1.0 GB"},  // "above" for the 3-digit form, ">=" for the page form
      {(1ull << 30) + (1ull << 29), u"1.500 GB", u"1.5 GB"},
      {1ull << 40, u"1024.000 GB", u"1.0 TB"},
      {3ull << 40, u"3.000 TB", u"3.0 TB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SizeText3(c.bytes), c.three) << c.bytes;
    EXPECT_EQ(SizeText1(c.bytes), c.one) << c.bytes;
  }
  EXPECT_EQ(SizeText3(5ull << 30, " size in"), u"5.000 GB size in");
  // The one-decimal text takes sectors times sector size as a double: past
  // 2^64 it still reads in TB, and nothing below one byte reads "0".
  EXPECT_EQ(SizeText1(double(1ull << 63) * 4), u"33554432.0 TB");
  EXPECT_EQ(SizeText1(512.0), u"0.5 KB");
  EXPECT_EQ(SizeText1(-1.0), u"0");
}

TEST(Text, FileTimeAndFatTimes) {
  // 2020-02-29 12:34:56 UTC
  const int64_t unix = 1582979696;
  const uint64_t ft = UnixToFileTime(unix);
  EXPECT_EQ(FileTimeToUnix(ft), unix);
  CivilTime t = FileTimeToCivil(ft);
  EXPECT_EQ(t.year, 2020);
  EXPECT_EQ(t.month, 2);
  EXPECT_EQ(t.day, 29);
  EXPECT_EQ(t.hour, 12);
  EXPECT_EQ(t.minute, 34);
  EXPECT_EQ(t.second, 56);
  EXPECT_EQ(CivilToFileTime(t), ft);

  const uint16_t date = CivilToFatDate(t), time = CivilToFatTime(t);
  CivilTime back = FatDateTimeToCivil(date, time);
  EXPECT_EQ(back.year, 2020);
  EXPECT_EQ(back.day, 29);
  EXPECT_EQ(back.second, 56);

  // Invalid fields clamp: month 0 -> 1, day 31 of February -> 29, hour 31 -> 23.
  CivilTime bad = FatDateTimeToCivil(static_cast<uint16_t>((40 << 9) | (0 << 5) | 31), static_cast<uint16_t>(31 << 11));
  EXPECT_EQ(bad.month, 1);
  EXPECT_EQ(bad.day, 31);
  bad = FatDateTimeToCivil(static_cast<uint16_t>((40 << 9) | (2 << 5) | 31), 0);
  EXPECT_EQ(bad.day, 29);
}

}  // namespace
}  // namespace qm
