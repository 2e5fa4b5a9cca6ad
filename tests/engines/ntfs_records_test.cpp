#include "engines/ntfs_records.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "engines/ntfs_record_builder.h"
#include "engines/ntfs_runs.h"
#include "engines/ntfs_volume_util.h"
#include "platform/byte_reader.h"
#include "platform/text.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::Capture;
using test::ShellQuote;

using test::FileNameValue;
using test::RecordBuilder;
using test::StandardInfo;

// An index entry whose key is a $FILE_NAME with the given parent; flags 2 is the end entry.
std::vector<uint8_t> IndexEntry(uint32_t parent, std::u16string_view name, uint32_t flags = 0) {
  std::vector<uint8_t> key = FileNameValue(parent, name, kNamespaceWin32);
  size_t len = (16 + key.size() + 7) & ~size_t{7};
  std::vector<uint8_t> e(len, 0);
  PutLe64(&e[0], 70);
  PutLe16(&e[8], uint16_t(len));
  PutLe16(&e[10], uint16_t(key.size()));
  PutLe32(&e[12], flags);
  std::copy(key.begin(), key.end(), e.begin() + 16);
  return e;
}

std::vector<uint8_t> EndEntry() {
  std::vector<uint8_t> e(16, 0);
  PutLe16(&e[8], 16);
  PutLe32(&e[12], 2);
  return e;
}

std::vector<uint8_t> IndexRootValue(const std::vector<std::vector<uint8_t>>& entries) {
  std::vector<uint8_t> v(32, 0);
  PutLe32(&v[0], kAttrFileName);
  PutLe32(&v[8], 4096);
  PutLe32(&v[16], 16);  // first entry, from the index header
  for (auto& e : entries) v.insert(v.end(), e.begin(), e.end());
  PutLe32(&v[20], uint32_t(v.size() - 16));
  PutLe32(&v[24], uint32_t(v.size() - 16));
  return v;
}

// A plain file record: times, a Win32 name under folder 40, an unnamed
// non-resident $DATA of 5000 bytes.
RecordBuilder PlainFile() {
  RecordBuilder r;
  r.Resident(kAttrStandardInformation, StandardInfo(111, 222, 333));
  r.Resident(kAttrFileName, FileNameValue(40, u"report.doc", kNamespaceWin32));
  r.NonResident(kAttrData, {0x11, 0x02, 0x30}, 5000);
  return r;
}

class NtfsRecordsTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_BytesPerSector = 512;
    g_AppState.scanGeometry.sectorsPerMftRecord = 2;
  }
  void TearDown() override {
    ClearMftRuns();
    g_BytesPerSector = 512;
  }
};

TEST_F(NtfsRecordsTest, FixupsRestoreEveryStrideOfRecordsAndBlocks) {
  RecordBuilder plain = PlainFile();
  plain.bytes()[1022] = 0xAB;  // true bytes at the end of the second stride
  plain.bytes()[1023] = 0xCD;
  std::vector<uint8_t> rec = plain.Protected();
  EXPECT_EQ(ApplyFixups(rec), 2);
  std::vector<uint8_t> want = plain.bytes();
  std::copy(rec.begin() + 48, rec.begin() + 54, want.begin() + 48);  // the array itself
  EXPECT_EQ(rec, want);
  EXPECT_EQ(rec[1022], 0xAB);
  EXPECT_EQ(rec[1023], 0xCD);

  // A 4096-byte INDX block with a count of 9: strides 0 to 7.
  std::vector<uint8_t> indx(4096, 0);
  indx[0] = 'I', indx[1] = 'N', indx[2] = 'D', indx[3] = 'X';
  PutLe16(&indx[4], 40);
  PutLe16(&indx[6], 9);
  for (int i = 0; i < 8; ++i) {
    PutLe16(&indx[42 + 2 * i], uint16_t(0x1000 + i));
    PutLe16(&indx[512 * i + 510], 0x0101);
  }
  EXPECT_EQ(ApplyFixups(indx), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ByteReader(indx).u16(512 * i + 510), 0x1000 + i) << "stride " << i;
}

TEST_F(NtfsRecordsTest, FixupsNeverWritePastTheBuffer) {
  struct {
    const char* what;
    uint16_t usaOffset, count;
    size_t size;
    int restored;
  } cases[] = {
      {"array past the buffer", 0xFFF0, 3, 1024, 0},
      {"count larger than the buffer's strides", 48, 200, 1024, 2},
      {"count 0", 48, 0, 1024, 0},
      {"short buffer", 48, 3, 600, 1},
  };
  for (auto& c : cases) {
    std::vector<uint8_t> b(c.size, 0x55);
    PutLe16(&b[4], c.usaOffset);
    PutLe16(&b[6], c.count);
    EXPECT_EQ(ApplyFixups(b), c.restored) << c.what;
  }
}

TEST_F(NtfsRecordsTest, NamesFollowTheNamespaceOrder) {
  struct {
    const char* what;
    std::vector<std::pair<std::u16string, int>> names;
    std::u16string want;
  } cases[] = {
      {"DOS and Win32: Win32", {{u"REPORT~1.DOC", kNamespaceDos}, {u"report long.doc", kNamespaceWin32}},
       u"report long.doc"},
      {"POSIX and Win32: POSIX", {{u"win.txt", kNamespaceWin32}, {u"posix.txt", kNamespacePosix}}, u"posix.txt"},
      {"Win32+DOS before DOS", {{u"A~1", kNamespaceDos}, {u"a.txt", kNamespaceWin32AndDos}}, u"a.txt"},
      {"DOS alone", {{u"ONLY~1.TXT", kNamespaceDos}}, u"ONLY~1.TXT"},
      {"non-ASCII kept", {{u"café.txt", kNamespaceWin32}}, u"café.txt"},
  };
  for (auto& c : cases) {
    RecordBuilder r;
    r.Resident(kAttrStandardInformation, StandardInfo(1, 2, 3));
    for (auto& [n, ns] : c.names) r.Resident(kAttrFileName, FileNameValue(77, n, ns));
    std::vector<uint8_t> rec = r.Protected();
    std::u16string name;
    uint32_t parent = 0;
    NtfsTimes t;
    EXPECT_EQ(ReadMftRecordName(rec, &name, &parent, &t), 1) << c.what;
    EXPECT_EQ(name, c.want) << c.what;
    EXPECT_EQ(parent, 77u) << c.what;
    EXPECT_EQ(t.created, 1u);
    EXPECT_EQ(t.modified, 2u);
    EXPECT_EQ(t.accessed, 3u);
  }
  RecordBuilder root;
  root.Resident(kAttrFileName, FileNameValue(5, u".", kNamespaceWin32AndDos));
  std::vector<uint8_t> rec = root.Protected();
  std::u16string name;
  uint32_t parent = 0;
  EXPECT_EQ(ReadMftRecordName(rec, &name, &parent, nullptr), 0);
}

TEST_F(NtfsRecordsTest, NameInTheSecondSectorSurvivesFixups) {
  // Attributes that cross the first stride: the name sits around byte 1022.
  RecordBuilder r(2048);
  r.Resident(kAttrStandardInformation, StandardInfo(1, 2, 3));
  r.Resident(0x40, std::vector<uint8_t>(690, 0));
  std::u16string longName(60, u'x');
  longName[42] = u'Q';  // at bytes 1022-1023, the end of the second stride
  r.Resident(kAttrFileName, FileNameValue(9, longName, kNamespaceWin32));
  std::vector<uint8_t> rec = r.Protected();
  std::u16string name;
  uint32_t parent = 0;
  ReadMftRecordName(rec, &name, &parent, nullptr);
  EXPECT_EQ(name, longName);
}

TEST_F(NtfsRecordsTest, DataSizeSkipsNamedStreams) {
  RecordBuilder r;
  r.Resident(kAttrFileName, FileNameValue(5, u"a", kNamespaceWin32));
  r.Resident(kAttrData, std::vector<uint8_t>(26, 1), u"Zone.Identifier");
  size_t unnamed = r.NonResident(kAttrData, {0x11, 0x02, 0x30}, 0x123456789ULL);
  std::vector<uint8_t> rec = r.bytes();
  int64_t size = 0;
  EXPECT_EQ(GetDataAttributeSize(rec, &size), 1);
  EXPECT_EQ(size, 0x123456789LL);
  size_t off = 0;
  EXPECT_EQ(FindDataAttribute(rec, &off), kDataNonResident);
  EXPECT_EQ(off, unnamed);

  RecordBuilder small;
  small.Resident(kAttrData, std::vector<uint8_t>(100, 7));
  rec = small.bytes();
  EXPECT_EQ(GetDataAttributeSize(rec, &size, RecordBound::kHeader), 1);
  EXPECT_EQ(size, 100);
  EXPECT_EQ(FindDataAttribute(rec, &off), kDataResident);
}

// Damaged records: every routine stays inside the buffer (ASan watches) and
// finds nothing where the damage is.
TEST_F(NtfsRecordsTest, DamagedRecordsAreReadWithinBounds) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    size_t keep;  // bytes of the buffer kept (0: all)
    bool nameFound, sizeFound;
  };
  // PlainFile layout: SI at 56 (72 bytes), FN at 128, DATA after it.
  const Case cases[] = {
      {"intact", [](auto&) {}, 0, true, true},
      {"first attribute length 0", [](auto& b) { PutLe32(&b[56 + 4], 0); }, 0, false, false},
      {"first attribute longer than the record", [](auto& b) { PutLe32(&b[56 + 4], 5000); }, 0, false, false},
      {"first attribute offset negative", [](auto& b) { PutLe16(&b[20], 0x8000); }, 0, false, false},
      {"first attribute offset past the record", [](auto& b) { PutLe16(&b[20], 0x7FF0); }, 0, false, false},
      {"name value offset past its attribute", [](auto& b) { PutLe16(&b[128 + 20], 0xFFF0); }, 0, false, true},
      {"name length past its value", [](auto& b) { b[128 + 24 + 64] = 255; }, 0, false, true},
      {"value length past its attribute", [](auto& b) { PutLe32(&b[128 + 16], 0x10000); }, 0, false, true},
      {"buffer cut inside the name", [](auto&) {}, 150, false, false},
      {"buffer cut before the data", [](auto&) {}, 260, true, false},
      {"allocated size nonsense", [](auto& b) { PutLe16(&b[28], 0x7FFF); }, 0, true, true},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> full = PlainFile().bytes();
    c.damage(full);
    std::vector<uint8_t> rec(full.begin(), full.begin() + (c.keep ? c.keep : full.size()));
    std::u16string name;
    uint32_t parent = 0;
    NtfsTimes t;
    EXPECT_EQ(GetFileNameInNamespace(rec, kNamespaceWin32, &name, &parent, &t, RecordBound::kHeader),
              c.nameFound ? 1 : 0)
        << c.what;
    if (c.nameFound) EXPECT_EQ(name, u"report.doc") << c.what;
    int64_t size = 0;
    EXPECT_EQ(GetDataAttributeSize(rec, &size, RecordBound::kHeader), c.sizeFound ? 1 : 0) << c.what;
    if (c.sizeFound) EXPECT_EQ(size, 5000) << c.what;
    size_t off = 0;
    FindDataAttribute(rec, &off);
    EXPECT_EQ(GetIndexRootOwner(rec), 0u) << c.what;
    EXPECT_EQ(GetIndexAllocationLcn(rec.size(), rec), 0u) << c.what;
    CollectDataExtentRecords(rec);
    std::vector<uint8_t> copy = rec;
    ReadMftRecordName(copy, &name, &parent, &t);
  }
}

// The one attribute walk every reader of records uses: a length it cannot
// step by ends it; an attribute whose name or resident value leaves the
// record is passed over and the walk goes on by its length.
TEST_F(NtfsRecordsTest, AttributeWalkStopsOrPassesOverMalformedHeaders) {
  // PlainFile layout: SI at 56 (72 bytes), FN at 128 (112 bytes), DATA at 240.
  constexpr size_t kSi = 56, kFn = 128;
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    size_t bound;
    std::vector<uint32_t> want;  // types handed over, in order
  };
  const std::vector<uint32_t> all = {kAttrStandardInformation, kAttrFileName, kAttrData};
  const Case cases[] = {
      {"intact", [](auto&) {}, 1024, all},
      {"length 0", [](auto& b) { PutLe32(&b[kSi + 4], 0); }, 1024, {}},
      {"length below a header", [](auto& b) { PutLe32(&b[kFn + 4], 8); }, 1024, {kAttrStandardInformation}},
      {"length past the record", [](auto& b) { PutLe32(&b[kFn + 4], 5000); }, 1024, {kAttrStandardInformation}},
      {"length past the header's record size", [](auto& b) { PutLe16(&b[28], 512); PutLe32(&b[kFn + 4], 600); },
       1024, {kAttrStandardInformation}},
      {"length past the walk's bound", [](auto&) {}, 200, {kAttrStandardInformation}},
      {"name past the record",
       [](auto& b) {
         b[kFn + 9] = 4;
         PutLe16(&b[kFn + 10], 0xFFF0);
       },
       1024, {kAttrStandardInformation, kAttrData}},
      {"name past its attribute",
       [](auto& b) {
         b[kFn + 9] = 4;
         PutLe16(&b[kFn + 10], 106);
       },
       1024, {kAttrStandardInformation, kAttrData}},
      {"resident value past the record", [](auto& b) { PutLe32(&b[kSi + 16], 0x10000); }, 1024,
       {kAttrFileName, kAttrData}},
      {"resident value offset past the record", [](auto& b) { PutLe16(&b[kSi + 20], 0xFFF0); }, 1024,
       {kAttrFileName, kAttrData}},
      {"end marker", [](auto& b) { PutLe32(&b[kFn], kAttrEnd); }, 1024, {kAttrStandardInformation}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> rec = PlainFile().bytes();
    c.damage(rec);
    std::vector<uint32_t> types;
    std::vector<size_t> offsets;
    WalkAttributes(rec, c.bound, [&](const NtfsAttribute& a) {
      types.push_back(a.type());
      offsets.push_back(a.offset);
      EXPECT_LE(a.offset + a.bytes.size(), c.bound) << c.what;
      return false;
    });
    EXPECT_EQ(types, c.want) << c.what;
    // A visitor that answers true ends the walk there.
    size_t visits = 0;
    EXPECT_EQ(WalkAttributes(rec, c.bound, [&](const NtfsAttribute&) { return ++visits == 1; }), !c.want.empty())
        << c.what;
  }
}

TEST_F(NtfsRecordsTest, IndexRootOwnerIsTheFirstChildsParent) {
  struct {
    const char* what;
    std::vector<std::vector<uint8_t>> entries;
    const char16_t* attrName;
    uint32_t want;
  } cases[] = {
      {"one child", {IndexEntry(42, u"child.txt"), EndEntry()}, u"$I30", 42},
      {"only the end entry", {EndEntry()}, u"$I30", 0},
      {"parent all ones", {IndexEntry(0xFFFFFFFF, u"x"), EndEntry()}, u"$I30", 0},
      {"other index name", {IndexEntry(42, u"child.txt"), EndEntry()}, u"$SDH", 0},
  };
  for (auto& c : cases) {
    RecordBuilder r;
    r.Resident(kAttrFileName, FileNameValue(5, u"dir", kNamespaceWin32));
    r.Resident(kAttrIndexRoot, IndexRootValue(c.entries), c.attrName);
    EXPECT_EQ(GetIndexRootOwner(r.bytes()), c.want) << c.what;
  }
  // An index header whose first entry lies past the value.
  RecordBuilder r;
  size_t at = r.Resident(kAttrIndexRoot, IndexRootValue({IndexEntry(42, u"child.txt"), EndEntry()}), u"$I30");
  PutLe32(&r.bytes()[at + 32 + 16], 0x7000);
  EXPECT_EQ(GetIndexRootOwner(r.bytes()), 0u);
}

TEST_F(NtfsRecordsTest, IndexAllocationLcnIsTheFirstRunsCluster) {
  RecordBuilder r;
  r.Resident(kAttrIndexRoot, IndexRootValue({EndEntry()}), u"$I30");
  r.NonResident(kAttrIndexAllocation, {0x31, 0x01, 0x56, 0x34, 0x12}, 4096, u"$I30");
  EXPECT_EQ(GetIndexAllocationLcn(1024, r.bytes()), 0x123456u);
  EXPECT_EQ(GetIndexAllocationLcn(100, r.bytes()), 0u);  // attribute beyond the bound
  RecordBuilder other;
  other.NonResident(kAttrIndexAllocation, {0x31, 0x01, 0x56, 0x34, 0x12}, 4096, u"$SII");
  EXPECT_EQ(GetIndexAllocationLcn(1024, other.bytes()), 0u);
}

TEST_F(NtfsRecordsTest, IndexBlockOwnerTable) {
  auto block = [](uint32_t parent, uint32_t first, uint32_t allocated, uint32_t flags, size_t size) {
    std::vector<uint8_t> b(4096, 0);
    b[0] = 'I', b[1] = 'N', b[2] = 'D', b[3] = 'X';
    PutLe32(&b[16], 7);
    PutLe32(&b[24], first);
    PutLe32(&b[32], allocated);
    std::vector<uint8_t> e = IndexEntry(parent, u"name.txt", flags);
    if (24 + size_t{first} + e.size() <= b.size()) std::copy(e.begin(), e.end(), b.begin() + 24 + first);
    b.resize(size);
    return b;
  };
  struct {
    const char* what;
    std::vector<uint8_t> b;
    int want;
    uint32_t owner;
  } cases[] = {
      {"owner 40", block(40, 40, 4072, 0, 4096), 1, 40},
      {"owner 5", block(5, 40, 4072, 0, 4096), 1, 5},
      {"owner 3 refused", block(3, 40, 4072, 0, 4096), 0, 3},
      {"owner all ones refused", block(0xFFFFFFFF, 40, 4072, 0, 4096), 0, 0xFFFFFFFF},
      {"allocated past 64 KiB", block(40, 40, 65520, 0, 4096), 0, 0},
      {"first entry past the allocation", block(40, 4060, 4072, 0, 4096), 0, 0},
      {"end entry first", block(40, 40, 4072, 2, 4096), 0, 0},
      {"block shorter than it says", block(40, 40, 4072, 0, 80), 0, 0},
      {"header only", block(40, 40, 4072, 0, 30), 0, 0},
  };
  for (auto& c : cases) {
    uint32_t owner = 0, vcn = 0;
    EXPECT_EQ(ReadIndexBlockOwner(c.b, &owner, &vcn), c.want) << c.what;
    if (c.want || c.owner) EXPECT_EQ(owner, c.owner) << c.what;
  }
}

TEST_F(NtfsRecordsTest, ResidentAttributeListKeepsTheFirstHundredRecords) {
  g_AppState.scanGeometry.sectorsPerMftRecord = 8;
  RecordBuilder r(4096);
  std::vector<uint8_t> list;
  for (uint32_t i = 0; i < 120; ++i) {
    std::vector<uint8_t> e(32, 0);
    PutLe32(&e[0], i == 0 ? kAttrStandardInformation : kAttrFileName);
    PutLe16(&e[4], 32);
    PutLe64(&e[16], 1000 + i);
    list.insert(list.end(), e.begin(), e.end());
  }
  r.Resident(kAttrAttributeList, list);
  g_AppState.mftRecordNumbers[0] = 999;
  g_AppState.mftRecordCount = 1;
  CollectDataExtentRecords(r.bytes());
  ASSERT_EQ(g_AppState.mftRecordCount, 100);
  EXPECT_EQ(g_AppState.mftRecordNumbers[1], 1000);
  EXPECT_EQ(g_AppState.mftRecordNumbers[99], 1098);

  // An entry shorter than its header ends the list.
  PutLe16(&list[3 * 32 + 4], 8);
  RecordBuilder cut(4096);
  cut.Resident(kAttrAttributeList, list);
  g_AppState.mftRecordCount = 1;
  CollectDataExtentRecords(cut.bytes());
  EXPECT_EQ(g_AppState.mftRecordCount, 4);
}

TEST(NtfsByteHelpers, ComposeValues) {
  EXPECT_EQ(MakeDword(0x78, 0x56, 0x34, 0x12), 0x12345678u);
  EXPECT_EQ(MakeDword(0xFF, 0xFF, 0xFF, 0xFF), 0xFFFFFFFFu);
  EXPECT_EQ(SignExtendByte(0xF0), -16);
  EXPECT_EQ(ComposeSignedWord(int8_t(0xFF), 0), 255);
  EXPECT_EQ(ComposeSignedWord(int8_t(0xFF), int8_t(0xFF)), -1);
  EXPECT_EQ(ComposeSignedTriple(int8_t(0xFF), int8_t(0xFF), 0), 0xFFFF);
  EXPECT_EQ(ComposeSignedTriple(0, int8_t(0x80), 0), 0x8000);
  EXPECT_EQ(ComposeOffsetDword(1, 0, 0, 0), 1u + 256u + 65536u + 16777216u);
}

// --- The committed images against sleuthkit ---

std::string FileTimeText(uint64_t ft) {
  CivilTime c = FileTimeToCivil(ft);
  return Format("%04d-%02d-%02d %02d:%02d:%02d.%09llu", c.year, c.month, c.day, c.hour, c.minute, c.second,
                static_cast<unsigned long long>(ft % 10000000 * 100));
}

// The value of "label\t..." in the $STANDARD_INFORMATION block of istat.
std::string IstatTime(const std::string& istat, const std::string& label) {
  size_t si = istat.find("$STANDARD_INFORMATION Attribute Values:");
  size_t at = istat.find(label, si);
  if (si == std::string::npos || at == std::string::npos) return "";
  size_t start = istat.find_first_not_of("\t ", at + label.size());
  return istat.substr(start, istat.find(" (", start) - start);
}

class NtfsImageRecordsTest : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ResetAppState();
    QM_REQUIRE_TOOLS("istat", "fls");
  }
  void TearDown() override {
    ClearMftRuns();
    g_BytesPerSector = 512;
  }
};

TEST_P(NtfsImageRecordsTest, NamesParentsAndTimesMatchSleuthkit) {
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, GetParam());
  QM_REQUIRE_FIXTURE(set);
  auto v = test::OpenNtfsImage(set.path(std::string(GetParam()) + ".img"));
  ASSERT_TRUE(v.ok);
  std::map<uint64_t, std::set<std::string>> flsPaths;
  for (const auto& e : test::ParseFls(Capture("fls -r -p " + ShellQuote(v.image))))
    if (e.path.find(':') == std::string::npos) flsPaths[std::strtoull(e.inode.c_str(), nullptr, 10)].insert(e.path);

  struct Entry {
    std::u16string name;
    uint32_t parent;
  };
  std::map<uint64_t, Entry> records;
  uint64_t slots = test::MftRecordSlots(v);
  for (uint64_t n = 0; n < slots; ++n) {
    std::vector<uint8_t> rec = test::ReadRecord(v, n);
    if (rec[0] != 'F') continue;
    Entry e;
    NtfsTimes t;
    int r = ReadMftRecordName(rec, &e.name, &e.parent, &t);
    EXPECT_EQ(r == 0, n == kRootRecord) << "record " << n;
    if (!e.name.empty()) records[n] = e;
  }
  int matched = 0;
  for (auto& [n, e] : records) {
    if (n < 16 || !flsPaths.count(n)) continue;
    std::string path = Utf16ToUtf8(e.name);
    for (uint32_t p = e.parent, hops = 0; p != kRootRecord && hops < 64; p = records[p].parent, ++hops)
      path = Utf16ToUtf8(records[p].name) + "/" + path;
    EXPECT_TRUE(flsPaths[n].count(path)) << "record " << n << ": " << path << " (fls: " << *flsPaths[n].begin()
                                         << ")";
    ++matched;
  }
  EXPECT_GE(matched, 25);

  for (const char* name : {"tiny.txt", "links/target.txt", "frag/interleaved one.bin", "deleted.txt"}) {
    std::string inode = Capture("ifind -n " + ShellQuote(name) + " " + ShellQuote(v.image));
    uint64_t n = std::strtoull(inode.c_str(), nullptr, 10);
    if (n == 0) continue;  // a deleted name ifind cannot see
    std::string istat = Capture("istat " + ShellQuote(v.image) + " " + std::to_string(n));
    std::vector<uint8_t> rec = test::ReadRecord(v, n);
    std::u16string got;
    uint32_t parent = 0;
    NtfsTimes t;
    ReadMftRecordName(rec, &got, &parent, &t);
    EXPECT_EQ(FileTimeText(t.created), IstatTime(istat, "Created:")) << name;
    EXPECT_EQ(FileTimeText(t.modified), IstatTime(istat, "File Modified:")) << name;
    EXPECT_EQ(FileTimeText(t.accessed), IstatTime(istat, "Accessed:")) << name;
  }
}

TEST_P(NtfsImageRecordsTest, DirectoriesNameTheirIndexes) {
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, GetParam());
  QM_REQUIRE_FIXTURE(set);
  auto v = test::OpenNtfsImage(set.path(std::string(GetParam()) + ".img"));
  ASSERT_TRUE(v.ok);
  std::set<uint64_t> dirs{kRootRecord};
  for (const auto& e : test::ParseFls(Capture("fls -r -p " + ShellQuote(v.image))))
    if (e.type == "d/d" && !e.deleted) dirs.insert(std::strtoull(e.inode.c_str(), nullptr, 10));
  int blocks = 0, roots = 0;
  for (uint64_t n : dirs) {
    std::vector<uint8_t> rec = test::ReadRecord(v, n);
    ApplyFixups(rec);
    std::string istat = Capture("istat " + ShellQuote(v.image) + " " + std::to_string(n));
    std::vector<int64_t> alloc = test::IstatClusters(istat, "Type: $INDEX_ALLOCATION");
    uint32_t owner = GetIndexRootOwner(rec);
    uint64_t lcn = GetIndexAllocationLcn(RecordHeaderSize(rec), rec);
    if (alloc.empty()) {
      EXPECT_EQ(lcn, 0u) << n;
      if (owner) EXPECT_EQ(owner, n) << "record " << n;
      roots += owner == n;
      continue;
    }
    EXPECT_TRUE(owner == 0 || owner == n) << "record " << n;
    ASSERT_EQ(lcn, uint64_t(alloc[0])) << "record " << n;
    std::vector<uint8_t> block(4096, 0);
    ReadSectors(v.image.c_str(), lcn * v.sectorsPerCluster, 4096 / v.bytesPerSector, block.data());
    ASSERT_EQ(block[0], 'I');
    ApplyFixups(block);
    uint32_t got = 0, vcn = 99;
    EXPECT_EQ(ReadIndexBlockOwner(block, &got, &vcn), 1) << "record " << n;
    EXPECT_EQ(got, n);
    EXPECT_EQ(vcn, 0u);
    ++blocks;
  }
  EXPECT_GE(blocks, 2);  // the root and the folder of hard links
  EXPECT_GE(roots, 5);
}

TEST_P(NtfsImageRecordsTest, NonResidentAttributeListNamesTheExtensionRecords) {
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, GetParam());
  QM_REQUIRE_FIXTURE(set);
  auto v = test::OpenNtfsImage(set.path(std::string(GetParam()) + ".img"));
  ASSERT_TRUE(v.ok);
  std::string inode = Capture("ifind -n links/target.txt " + ShellQuote(v.image));
  uint64_t n = std::strtoull(inode.c_str(), nullptr, 10);
  std::string istat = Capture("istat " + ShellQuote(v.image) + " " + std::to_string(n));
  std::set<int32_t> want;
  for (size_t at = istat.find("\tMFT Entry: "); at != std::string::npos; at = istat.find("\tMFT Entry: ", at + 1))
    want.insert(std::atoi(istat.c_str() + at + 12));
  ASSERT_GT(want.size(), 2u);

  test::PresentImages present({v.image});
  g_SelectedDiskIndex = 0;
  std::vector<uint8_t> rec = test::ReadRecord(v, n);
  ApplyFixups(rec);
  std::vector<uint8_t> before = rec;
  g_AppState.mftRecordNumbers[0] = int32_t(n);
  g_AppState.mftRecordCount = 1;
  CollectDataExtentRecords(rec);
  EXPECT_EQ(rec, before);  // the caller's record is left alone
  std::set<int32_t> got(g_AppState.mftRecordNumbers, g_AppState.mftRecordNumbers + g_AppState.mftRecordCount);
  EXPECT_EQ(got, want);
  EXPECT_EQ(g_AppState.mftRecordCount, want.size());  // each record once
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsImageRecordsTest, testing::Values("ntfs", "ntfs4k"));

}  // namespace
}  // namespace qm
