#include "results/rtf_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

std::vector<RtfRun> Read(const std::string& s) {
  return ReadRtf(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
}

std::u16string AllText(const std::vector<RtfRun>& runs) {
  std::u16string t;
  for (const RtfRun& r : runs) t += r.text;
  return t;
}

// The run holding text, or null.
const RtfRun* RunWith(const std::vector<RtfRun>& runs, const std::u16string& text) {
  for (const RtfRun& r : runs)
    if (r.text.find(text) != std::u16string::npos) return &r;
  return nullptr;
}

struct TextCase {
  const char* name;
  std::string rtf;
  std::u16string text;
};

class RtfTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(RtfTextTest, GivesTheDocumentsText) { EXPECT_EQ(AllText(Read(GetParam().rtf)), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Cases, RtfTextTest,
    testing::Values(
        TextCase{"plain", "{\\rtf1\\ansi Hello world}", u"Hello world"},
        TextCase{"paragraphs", "{\\rtf1 one\\par two\\line three}", u"one\ntwo\nthree"},
        TextCase{"escapes", "{\\rtf1 a\\{b\\}c\\\\d}", u"a{b}c\\d"},
        TextCase{"hex_cp1252", "{\\rtf1 caf\\'e9 \\'80}", u"caf\u00e9 \u20ac"},
        TextCase{"unicode_skips_fallback", "{\\rtf1 \\u8364?x\\uc2\\u-3913??y}", u"\u20acx\uf0b7y"},
        TextCase{"unknown_words_skipped", "{\\rtf1\\zzfoo12 \\qqq a\\frobnicate-5 b}", u"ab"},
        TextCase{"ignorable_destination", "{\\rtf1{\\*\\unknowndest hidden {nested}}shown}", u"shown"},
        TextCase{"tables_and_info_hidden",
                 "{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red1\\green2\\blue3;}{\\stylesheet{x;}}"
                 "{\\info{\\title T}}body}",
                 u"body"},
        TextCase{"bin_bytes_not_syntax", "{\\rtf1{\\pict\\bin4 }}{{}after}", u"after"},
        TextCase{"not_rtf", "Hello {\\b x}", u""},
        TextCase{"truncated_in_word", "{\\rtf1 abc\\b", u"abc"},
        TextCase{"truncated_in_hex", "{\\rtf1 abc\\'4", u"abc"},
        TextCase{"unbalanced_close", "{\\rtf1 a}}}} b", u"a"},
        TextCase{"unbalanced_open", "{\\rtf1 a{b{c", u"abc"},
        TextCase{"huge_parameter", "{\\rtf1\\fs99999999999999999999 x\\u99999999999 y}", u"x"}),
    [](const testing::TestParamInfo<TextCase>& i) { return std::string(i.param.name); });

TEST(RtfReader, CharacterFormattingFollowsGroupsAndToggles) {
  const auto runs = Read(
      "{\\rtf1 n{\\b B{\\i BI}}{\\ul U\\ul0 x\\ul y\\ulnone z}\\b on\\b0 off\\i1 it\\plain p}");
  struct Expect {
    const char16_t* text;
    bool bold, italic, underline;
  } const expected[] = {{u"n", false, false, false}, {u"B", true, false, false}, {u"BI", true, true, false},
                        {u"U", false, false, true},  {u"x", false, false, false}, {u"y", false, false, true},
                        {u"z", false, false, false}, {u"on", true, false, false}, {u"off", false, false, false},
                        {u"it", false, true, false}, {u"p", false, false, false}};
  ASSERT_EQ(runs.size(), std::size(expected));
  for (size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(runs[i].text, expected[i].text);
    EXPECT_EQ(runs[i].bold, expected[i].bold);
    EXPECT_EQ(runs[i].italic, expected[i].italic);
    EXPECT_EQ(runs[i].underline, expected[i].underline);
  }
}

TEST(RtfReader, SizesColoursAndFontsComeFromTheTables) {
  const auto runs = Read(
      "{\\rtf1{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\froman Times New Roman;}}"
      "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green128\\blue255;}"
      "\\f0 d {\\fs40\\cf1 big red}{\\f1\\cf2 blue times}{\\cf9 nocolour}{\\fs0 zero}{\\f7 nofont}}");
  const RtfRun* d = RunWith(runs, u"d ");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->halfPoints, kRtfDefaultHalfPoints);
  EXPECT_EQ(d->font, "Arial");
  EXPECT_FALSE(d->hasColor);
  const RtfRun* big = RunWith(runs, u"big red");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->halfPoints, 40);
  EXPECT_TRUE(big->hasColor);
  EXPECT_EQ(big->rgb, 0xFF0000u);
  const RtfRun* blue = RunWith(runs, u"blue times");
  ASSERT_NE(blue, nullptr);
  EXPECT_EQ(blue->rgb, 0x0080FFu);
  EXPECT_EQ(blue->font, "Times New Roman");
  EXPECT_EQ(blue->halfPoints, kRtfDefaultHalfPoints);
  // A colour or font index beyond its table, and a zero size, fall back.
  EXPECT_FALSE(RunWith(runs, u"nocolour")->hasColor);
  EXPECT_EQ(RunWith(runs, u"zero")->halfPoints, kRtfDefaultHalfPoints);
  EXPECT_EQ(RunWith(runs, u"nofont")->font, "");
}

TEST(RtfReader, DeepNestingIsBoundedAndBracesStillPairUp) {
  const int deep = 100000;
  std::string rtf = "{\\rtf1 a";
  rtf += std::string(deep, '{') + "\\b hidden" + std::string(deep, '}');
  rtf += "b}";
  const auto runs = Read(rtf);
  EXPECT_EQ(AllText(runs), u"ab");
  for (const RtfRun& r : runs) EXPECT_FALSE(r.bold);

  // Up to the limit, nested groups are read normally.
  std::string ok = "{\\rtf1" + std::string(kRtfMaxDepth - 1, '{') + "\\i x" + std::string(kRtfMaxDepth - 1, '}') + "}";
  const auto okRuns = Read(ok);
  ASSERT_EQ(okRuns.size(), 1u);
  EXPECT_EQ(okRuns[0].text, u"x");
  EXPECT_TRUE(okRuns[0].italic);
}

TEST(RtfReader, OutputIsBounded) {
  std::string rtf = "{\\rtf1 " + std::string(kRtfMaxChars + 1000, 'x') + "}";
  EXPECT_EQ(AllText(Read(rtf)).size(), kRtfMaxChars);
}

}  // namespace
}  // namespace qm
