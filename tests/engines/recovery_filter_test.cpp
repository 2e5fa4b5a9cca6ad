// The recovery filter: date ranges (inclusive, by calendar day), the
// deleted-data option, the extension list and the tick scope.
#include "engines/recovery_filter.h"

#include <gtest/gtest.h>

#include <cstring>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "platform/text.h"

namespace qm {
namespace {

void SetRange(int32_t range[6], std::initializer_list<int32_t> v) { std::copy(v.begin(), v.end(), range); }

uint32_t FatDate(int y, int m, int d) { return static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d); }

struct DateCase {
  const char* name;
  std::initializer_list<int32_t> range;  // from d, m, y, to d, m, y
  int y, m, d;
  bool passes;
};

TEST(RecoveryFilter, FatDatesAgainstRanges) {
  const DateCase cases[] = {
      {"inside", {1, 3, 2021, 31, 3, 2021}, 2021, 3, 15, true},
      {"other month", {1, 4, 2021, 30, 4, 2021}, 2021, 3, 15, false},
      {"first day", {15, 3, 2021, 31, 3, 2021}, 2021, 3, 15, true},
      {"last day", {1, 3, 2021, 15, 3, 2021}, 2021, 3, 15, true},
      // The 1st of the next month is not the 31st of this one.
      {"day after the 31st", {1, 3, 2021, 31, 3, 2021}, 2021, 4, 1, false},
      {"31st inside", {1, 4, 2021, 30, 4, 2021}, 2021, 3, 31, false},
      {"year above", {1, 1, 2020, 31, 12, 2020}, 2021, 1, 1, false},
      {"no to-year: no filter", {1, 1, 2020, 0, 0, 0}, 1999, 1, 1, true},
      {"to-year below from-year: no filter", {1, 1, 2022, 31, 12, 2021}, 1999, 1, 1, true},
      {"from after to in one year: nothing passes", {20, 3, 2021, 10, 3, 2021}, 2021, 3, 15, false},
  };
  for (const DateCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAppState();
    SetRange(g_AppState.modifiedDateRange, c.range);
    FileRecord f;
    f.modifiedTime[0] = FatDate(c.y, c.m, c.d);
    EXPECT_EQ(PassesDateFilter(f, u"FAT16"), c.passes);
    // The same range on the other slots filters by those slots only.
    ResetAppState();
    SetRange(g_AppState.accessedDateRange, c.range);
    f.accessedTime[0] = f.modifiedTime[0];
    EXPECT_EQ(PassesDateFilter(f, u"FAT32"), c.passes);
  }
}

TEST(RecoveryFilter, NtfsDatesAreUtcDaysAndOtherSystemsAreNotFiltered) {
  ResetAppState();
  SetRange(g_AppState.createdDateRange, {1, 3, 2021, 31, 3, 2021});
  FileRecord f;
  const uint64_t lateOn31st = CivilToFileTime({2021, 3, 31, 23, 59, 59});
  f.createdTime[0] = static_cast<uint32_t>(lateOn31st);
  f.createdTime[1] = static_cast<uint32_t>(lateOn31st >> 32);
  EXPECT_TRUE(PassesDateFilter(f, u"NTFS"));
  const uint64_t nextDay = lateOn31st + 10'000'000ull;  // one second later
  f.createdTime[0] = static_cast<uint32_t>(nextDay);
  f.createdTime[1] = static_cast<uint32_t>(nextDay >> 32);
  EXPECT_FALSE(PassesDateFilter(f, u"NTFS"));
  EXPECT_TRUE(PassesDateFilter(f, u"UNKNOWN"));
}

TEST(RecoveryFilter, DeletedOptionAndScope) {
  ResetAppState();
  const struct {
    int option;
    bool live, deleted;
  } options[] = {{0, true, true}, {1, true, false}, {2, false, true}};
  for (const auto& o : options) {
    g_AppState.deletedFilter = o.option;
    EXPECT_EQ(PassesDeletedOption(false), o.live) << o.option;
    EXPECT_EQ(PassesDeletedOption(true), o.deleted) << o.option;
  }
  const struct {
    int scope;
    bool ticked, unticked;
  } scopes[] = {{0, true, false}, {1, true, true}, {2, false, true}};
  for (const auto& s : scopes) {
    g_AppState.checkScope = s.scope;
    EXPECT_EQ(TakenByCheckScope('y'), s.ticked) << s.scope;
    EXPECT_EQ(TakenByCheckScope('n'), s.unticked) << s.scope;
  }
}

TEST(RecoveryFilter, ExtensionList) {
  ResetAppState();
  EXPECT_TRUE(PassesExtensionList(u"anything.xyz"));  // no list, no filter
  const char16_t* entries[] = {u"jpg", u"gz", u"README", u"abcd"};
  for (const char16_t* e : entries) {
    std::char_traits<char16_t>::copy(g_AppState.extensionFilter[g_AppState.extensionCount++], e,
                                     std::char_traits<char16_t>::length(e));
  }
  const struct {
    const char16_t* name;
    bool passes;
  } cases[] = {
      {u"PHOTO.JPG", true},        {u"archive.tar.gz", true},  {u"archive.tar", false},
      {u"readme", true},           {u"clip.abcdefgh", false},  {u"clip.abcd", true},
      {u"noextension", false},     {u"trailing.", false},
  };
  for (const auto& c : cases) EXPECT_EQ(PassesExtensionList(c.name), c.passes) << Utf16ToUtf8(c.name);
  EXPECT_EQ(FilterExtension(u"clip.abcdefgh"), u"abcdefg");
}

}  // namespace
}  // namespace qm
