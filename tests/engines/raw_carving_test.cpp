#include "engines/raw_carving.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/carving_table.h"
#include "platform/device_map.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

std::string Utf16(std::u16string_view text) {
  std::string s;
  for (char16_t c : text) s += static_cast<char>(c & 0xFF), s += static_cast<char>(c >> 8);
  return s;
}

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s += static_cast<char>(b);
  return s;
}

// Sectors of random bytes whose first byte starts no header of the table, so
// that only the placed files open candidates.
std::string Noise(size_t sectors, uint32_t seed, size_t bps = 512) {
  std::mt19937 rng(seed);
  std::string s(sectors * bps, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  for (size_t i = 0; i < sectors; ++i) s[i * bps] = static_cast<char>(0xEE);
  return s;
}

// A compound document of four 512-byte sectors: header, payload, the
// directory that names the stream of its kind, and a sector that carries
// the kind's marker.
std::string CompoundFile(std::u16string_view stream, const std::string& marker) {
  std::string s(2048, '\0');
  const std::string header = Bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
  s.replace(0, header.size(), header);
  s[0x18] = 0x3E, s[0x1A] = 0x03, s[0x1C] = static_cast<char>(0xFE), s[0x1D] = static_cast<char>(0xFF), s[0x1E] = 9;
  std::fill(s.begin() + 0x4C, s.begin() + 512, static_cast<char>(0xFF));
  const std::string text = Utf16(u"Carved text of a compound document. ");
  for (size_t at = 512; at + text.size() <= 1024; at += text.size()) s.replace(at, text.size(), text);
  auto entry = [&](size_t at, std::u16string_view name, char type) {
    const std::string n = Utf16(name) + std::string(2, '\0');
    s.replace(at, n.size(), n);
    s[at + 0x40] = static_cast<char>(n.size());
    s[at + 0x42] = type;
  };
  entry(1024, u"Root Entry", 5);
  entry(1024 + 128, stream, 2);
  std::fill(s.begin() + 1536, s.end(), ' ');
  s.replace(1536 + 100, marker.size(), marker);
  return s;
}

struct Carvable {
  std::string type;   // folder and extension
  std::string bytes;  // the original file
  std::string name;   // expected NAME/n.NAME
  uint64_t sectors;   // extent the rules give, with zeros after the file
};

// Sectors the extent spans when its end is the first footer in the file
// followed by zeros: the footer's sector and the one after it.
uint64_t ThroughFooter(const std::string& file, const std::string& footer) {
  const std::string padded = file + std::string(1024, '\0');
  const size_t at = padded.find(footer);
  return at == std::string::npos ? 0 : at / 512 + 2;
}

class CopyErrorPrompt : public test::ScriptedPrompt {
 public:
  int CopyErrorChoice(std::u16string_view) override {
    std::lock_guard l(m);
    ++copyErrors;
    return copyAnswer;
  }
  int copyAnswer = 2;
  int copyErrors = 0;
};

// Logs every progress position; can ask for a stop at the first one.
class ProgressHost : public test::RecordingHost {
 public:
  void SetProgressPos(int id, int pos) override {
    test::RecordingHost::SetProgressPos(id, pos);
    std::lock_guard l(m);
    positions.push_back(pos);
    if (stopAtFirst) job.requestStop();
  }
  std::vector<int> positions;
  bool stopAtFirst = false;
};

class RawCarvingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_AppState.rawRecoveryPage = 6;
    g_AppState.scanPage = &host;
    g_BadSectorChoice = 3;
    SetFreeBytesProbe(nullptr);
    g_RecoveryTargetFolder = dir.file("found");
    fs::create_directories(g_RecoveryTargetFolder);
  }
  void TearDown() override {
    g_AppState.scanPage = nullptr;
    SetFreeBytesProbe(nullptr);
    ::setenv("QUILLMOREN_DISKS", "", 1);
    DeviceMap::Instance().Refresh();
    g_ExtensionGroups.clear();
    ResetAppState();
  }
  // Presents the image as disk 0 and selects [first, end).
  void Present(const std::string& image, uint64_t first, uint64_t end, int32_t bps = 512) {
    ::setenv("QUILLMOREN_DISKS", image.c_str(), 1);
    DeviceMap::Instance().Refresh();
    g_SelectedDiskIndex = 0;
    g_RangeFirstSector = first;
    g_RangeEndSector = end;
    g_BytesPerSector = bps;
  }
  void Tick(std::initializer_list<const char16_t*> types) {
    std::vector<char> ticks(kCarvingRows, 0);
    for (int row = 0; row < kCarvingRows; ++row)
      for (auto t : types) ticks[row] |= std::u16string_view(kCarvingShortNames[row]) == t;
    bool b[kCarvingRows];
    for (int i = 0; i < kCarvingRows; ++i) b[i] = ticks[i];
    ASSERT_TRUE(BuildExtensionGroups(b));
  }
  void TickAll() {
    bool b[kCarvingRows];
    std::fill(std::begin(b), std::end(b), true);
    ASSERT_TRUE(BuildExtensionGroups(b));
  }
  std::set<std::string> CarvedFiles() {
    std::set<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(dir.file("found")))
      if (e.is_regular_file()) out.insert(fs::relative(e.path(), dir.file("found")).string());
    return out;
  }
  std::string Carved(const std::string& rel) { return Slurp(dir.file("found") + "/" + rel); }
  std::vector<std::u16string> messages() {
    std::lock_guard l(prompt.m);
    return prompt.messages;
  }

  test::TempDir dir;
  ProgressHost host;
  CopyErrorPrompt prompt;
  test::PromptScope scope{&prompt};
};

int GroupIndex(std::u16string_view name) {
  for (size_t i = 0; i < g_ExtensionGroups.size(); ++i)
    if (g_ExtensionGroups[i].name == name) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------------------
// The carving table.

TEST(CarvingTable, RowsTicksAndLimits) {
  ResetAppState();
  struct Case {
    int32_t bps;
    std::vector<int> ticked;
    std::vector<std::u16string> enabledGroups;
    int32_t defaultMax, dwgMax;
    std::vector<int> markerEnabled;  // DOC, PPT, XLS markers of the DOC group
  };
  const Case cases[] = {
      {512, {7}, {u"DOC"}, 20480, 1433600, {0, 1, 0}},          // only PPT: DOC group on, PPT marker on
      {512, {1}, {u"DOC"}, 20480, 1433600, {1, 0, 0}},          // only DOC
      {4096, {0, 14, 16}, {u"BMP", u"DOC", u"ZIP"}, 2560, 179200, {0, 0, 1}},
  };
  for (const Case& c : cases) {
    g_BytesPerSector = c.bps;
    bool ticks[kCarvingRows] = {};
    for (int r : c.ticked) ticks[r] = true;
    EXPECT_TRUE(BuildExtensionGroups(ticks));
    ASSERT_EQ(g_ExtensionGroups.size(), 17u);
    std::vector<std::u16string> enabled;
    for (int r = 0; r < kCarvingRows; ++r) {
      EXPECT_EQ(g_ExtensionGroups[r].name, kCarvingShortNames[r]);
      EXPECT_EQ(g_ExtensionGroups[r].nextNumber, 0);
      if (g_ExtensionGroups[r].enabled) enabled.push_back(g_ExtensionGroups[r].name);
    }
    EXPECT_EQ(enabled, c.enabledGroups);
    EXPECT_EQ(g_ExtensionGroups[GroupIndex(u"JPEG")].maxSectors, c.defaultMax);
    EXPECT_EQ(g_ExtensionGroups[GroupIndex(u"DWG")].maxSectors, c.dwgMax);
    const auto& doc = g_ExtensionGroups[1];
    ASSERT_EQ(doc.footers.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(doc.footers[i].enabled, c.markerEnabled[i]) << i;
    EXPECT_EQ(g_ExtensionGroups[7].headers.size(), 0u);
    EXPECT_EQ(g_ExtensionGroups[7].enabled, 0);
  }
  bool none[kCarvingRows] = {};
  EXPECT_FALSE(BuildExtensionGroups(none));
  g_ExtensionGroups.clear();
  ResetAppState();
}

// ---------------------------------------------------------------------------
// Extent rules, one table.

TEST_F(RawCarvingTest, ExtentRules) {
  struct Case {
    const char* what;
    int32_t bps;
    std::u16string group;
    std::string sector;  // bytes from the current sector on (two sectors' worth)
    uint64_t start, current;
    int result;
    uint64_t length;
    std::u16string name;
  };
  auto sector = [](size_t bps, std::initializer_list<std::pair<size_t, std::string>> puts, char fill = 0x55) {
    std::string s(2 * bps, fill);
    for (auto& [at, bytes] : puts) s.replace(at, bytes.size(), bytes);
    return s;
  };
  const Case cases[] = {
      {"BMP of 1000 bytes", 512, u"BMP", sector(512, {{0, "BM" + Le32(1000)}}), 7, 7, 0, 3, u"BMP"},
      {"BMP of 1000 bytes, 4096-byte sectors", 4096, u"BMP", sector(4096, {{0, "BM" + Le32(1000)}}), 7, 7, 0, 1, u"BMP"},
      {"BMP of size 0", 512, u"BMP", sector(512, {{0, "BM" + Le32(0)}}), 7, 7, -2, 0, u""},
      {"BMP of negative size", 512, u"BMP", sector(512, {{0, "BM" + Le32(0xFFFFFFF0)}}), 7, 7, -2, 0, u""},
      {"BMP above 50 MiB", 512, u"BMP", sector(512, {{0, "BM" + Le32(52428801)}}), 7, 7, -2, 0, u""},
      {"BMP of exactly 50 MiB", 512, u"BMP", sector(512, {{0, "BM" + Le32(52428800)}}), 7, 7, 0, 102402, u"BMP"},
      {"SWF of 600 bytes", 512, u"SWF", sector(512, {{0, "FWS\x06" + Le32(600)}}), 0, 0, 0, 3, u"SWF"},
      {"SAM is fixed", 512, u"SAM", sector(512, {{0, "regf"}}), 0, 0, 0, 58, u"SAM"},
      {"SAM is fixed, 4096-byte sectors", 4096, u"SAM", sector(4096, {{0, "regf"}}), 0, 0, 0, 8, u"SAM"},
      {"PDF end straddles into the next sector", 512, u"PDF", sector(512, {{510, "%%EOF"}}), 10, 12, 0, 4, u"PDF"},
      {"PDF end wholly in the next sector", 512, u"PDF", sector(512, {{512, "%%EOF"}}), 10, 12, -1, 0, u""},
      {"JPEG end in the header sector", 512, u"JPEG", sector(512, {{6, "JFIF"}, {300, "\xFF\xD9"}}), 5, 5, 0, 2,
       u"JPEG"},
      {"PNG end", 512, u"PNG", sector(512, {{40, Bytes({0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82})}}), 0, 3, 0, 5,
       u"PNG"},
      {"TIF: 16 zero bytes", 512, u"TIF", sector(512, {{100, std::string(16, '\0')}}), 0, 1, 0, 3, u"TIF"},
      {"TIF: 15 zero bytes", 512, u"TIF", sector(512, {{100, std::string(15, '\0')}}), 0, 1, -1, 0, u""},
      {"RTF: two zero bytes", 512, u"RTF", sector(512, {{200, std::string(2, '\0')}}), 0, 0, 0, 2, u"RTF"},
      {"RTF: one zero byte", 512, u"RTF", sector(512, {{200, std::string(1, '\0')}}), 0, 0, -1, 0, u""},
      {"XML end", 512, u"XML", sector(512, {{511, "\r\n\0\0"s}}), 0, 0, 0, 2, u"XML"},
      {"ZIP without its end", 512, u"ZIP", sector(512, {{0, "PK\x05"}}), 0, 0, -1, 0, u""},
      {"DWG end", 512, u"DWG", sector(512, {{9, Bytes({0xAC, 0xDB, 0xBF, 0xF6, 0xED, 0xC3, 0x55, 0xFE, 0, 0})}}), 0,
       2, 0, 4, u"DWG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_BytesPerSector = c.bps;
    TickAll();
    const int g = GroupIndex(c.group);
    ASSERT_GE(g, 0);
    g_ExtensionGroups[g].nextNumber = 4;
    uint64_t length = 0;
    std::u16string name;
    int32_t number = -1;
    int found = 0, enabled = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(c.sector.data());
    EXPECT_EQ(DetermineCarvedExtent({p, c.sector.size()}, g, &length, &name, &number, c.start, c.current, &found,
                                    &enabled),
              c.result);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(number, c.result == 0 ? 4 : -1);
    EXPECT_EQ(g_ExtensionGroups[g].nextNumber, c.result == 0 ? 5 : 4);
    EXPECT_EQ(found, 0);
  }
}

// Compound documents: the directory names the kind, the kind's marker ends
// the file, and the marker tells whether that kind is ticked.
TEST_F(RawCarvingTest, CompoundFileKindsAndMarkers) {
  const std::string ppt = Bytes({0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x5F, 0xC0, 0x91, 0xE3});
  const std::string xls = Bytes({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4});
  auto root = [](std::initializer_list<std::pair<size_t, std::u16string>> names) {
    std::string s(1024, ' ');
    s.replace(0, 20, Utf16(u"Root Entry"));
    for (auto& [at, n] : names) s.replace(at, n.size() * 2, Utf16(n));
    return s;
  };
  struct Case {
    const char* what;
    std::vector<const char16_t*> ticked;
    std::string directory;  // the sector RefineOleType sees
    std::string markerSector;
    std::u16string subtype;
    int result, found, enabled;
    std::u16string name;
  };
  const Case cases[] = {
      {"word", {u"DOC"}, root({{128, u"WordDocument"}}), "  Word.Document.8", u"DOC", 0, 1, 1, u"DOC"},
      {"workbook, XLS ticked", {u"XLS"}, root({{128, u"Workbook"}}), xls, u"XLS", 0, 1, 1, u"XLS"},
      {"workbook, only DOC ticked", {u"DOC"}, root({{128, u"Workbook"}}), xls, u"XLS", 0, 1, 0, u"XLS"},
      {"slides", {u"PPT"}, root({{128, u"PowerPoint Document"}}), ppt, u"PPT", 0, 1, 1, u"PPT"},
      {"word marker in a workbook does not count", {u"DOC", u"XLS"}, root({{128, u"Workbook"}}), "Word.Document",
       u"XLS", -1, 0, 0, u""},
      {"earliest name wins", {u"DOC"}, root({{300, u"WordDocument"}, {200, u"Workbook"}}), "", u"XLS", -1, 0, 0, u""},
      {"PageMaker has no marker", {u"DOC"}, root({{140, u"PageMaker"}}), "Word.Document", u"PMD", -1, 0, 0, u""},
      {"no root entry", {u"DOC"}, std::string(1024, ' ') + "", "Word.Document", u"", -1, 0, 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool b[kCarvingRows] = {};
    for (int r = 0; r < kCarvingRows; ++r)
      for (auto n : c.ticked) b[r] = b[r] || std::u16string_view(kCarvingShortNames[r]) == n;
    BuildExtensionGroups(b);
    host.SetOleSubtype(u"");
    const int g = GroupIndex(u"DOC");
    uint64_t length = 0;
    std::u16string name;
    int32_t number = -1;
    int found = 0, enabled = 0;
    auto run = [&](const std::string& bytes, uint64_t current) {
      const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
      return DetermineCarvedExtent({p, bytes.size()}, g, &length, &name, &number, 0, current, &found, &enabled);
    };
    EXPECT_EQ(run(c.directory, 2), -1);
    EXPECT_EQ(host.OleSubtype(), c.subtype);
    std::string marker(1024, ' ');
    marker.replace(50, c.markerSector.size(), c.markerSector);
    EXPECT_EQ(run(marker, 3), c.result);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(enabled, c.enabled);
    EXPECT_EQ(name, c.name);
    if (c.result == 0) {
      EXPECT_EQ(length, 5u);
    }
  }
}

// The MDB page search over a small image of 64 sectors.
TEST_F(RawCarvingTest, PageSearchFindsTheLastPageOrTheNextHeader) {
  const std::string header = Bytes({0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n'});
  struct Case {
    const char* what;
    std::vector<int> pages, headers;
    uint64_t from, end, expect;
  };
  const Case cases[] = {
      {"pages to the last one", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, {}, 1, 64, 20},
      {"a page in every block", {4, 12, 20, 28}, {}, 1, 64, 28},
      {"a block without pages ends it", {4, 20}, {}, 1, 64, 4},
      {"nothing in the first block", {30}, {}, 1, 64, 0},
      {"next file's header", {1, 2}, {6}, 1, 64, 4},
      {"header right after a page start", {9}, {10}, 9, 64, 8},
      {"start at the range end", {1, 2, 3}, {}, 64, 64, 0},
      {"the last whole block before the range end", {1, 9, 17, 25}, {}, 1, 20, 17},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string image(64 * 512, '\x77');
    for (int p : c.pages) image[p * 512 + 1] = 1;
    for (int h : c.headers) image.replace(h * 512, header.size(), header);
    Spill(dir.file("mdb.img"), image);
    Present(dir.file("mdb.img"), 0, c.end);
    EXPECT_EQ(FindFooter(c.from, {reinterpret_cast<const uint8_t*>(header.data()), header.size()}), c.expect);
  }
}

// ---------------------------------------------------------------------------
// The worker over whole images.

// Files of every carvable type, made by ImageMagick and zip or built here.
std::vector<Carvable> MakeCarvables(const test::TempDir& dir) {
  std::vector<Carvable> out;
  auto magick = [&](const std::string& ext, const std::string& extra) {
    const std::string path = dir.file("pic." + ext);
    if (test::Run("convert -size 61x37 -depth 8 gradient:red-blue " + extra + " " + path) != 0) return std::string();
    return Slurp(path);
  };
  const std::string ole = "\x00\x00\x00\x14\x00\x00\x00\x5F\xC0\x91\xE3"s;
  auto add = [&](const std::string& type, std::string bytes, uint64_t sectors, int number = 0) {
    out.push_back({type, std::move(bytes), type + "/" + std::to_string(number) + "." + type, sectors});
  };

  const std::string bmp = magick("bmp", "");
  add("BMP", bmp, bmp.size() / 512 + 2);
  add("DOC", CompoundFile(u"WordDocument", "Microsoft Word-Dokument\0\0\0\0Word.Document.8\0"s), 5, 0);
  std::string dwg = "AC1015" + std::string(1000, 'Z') + Bytes({0xAC, 0xDB, 0xBF, 0xF6, 0xED, 0xC3, 0x55, 0xFE, 0, 0});
  add("DWG", dwg, ThroughFooter(dwg, dwg.substr(1006)));
  const std::string jpeg = magick("jpg", "");
  add("JPEG", jpeg, ThroughFooter(jpeg, "\xFF\xD9"));
  std::string mdb(7 * 512, '\x33');
  mdb.replace(0, 20, "\x00\x01\x00\x00Standard Jet DB\0"s);
  for (int i = 1; i < 7; ++i) mdb[i * 512] = 1, mdb[i * 512 + 1] = 1;
  add("MDB", mdb, 8);
  std::string pdf = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n";
  while (pdf.size() < 900) pdf += "% filler line of a made-up document\n";
  pdf += "trailer << /Root 1 0 R >>\n%%EOF\n";
  add("PDF", pdf, ThroughFooter(pdf, "%%EOF"));
  const std::string png = magick("png", "");
  add("PNG", png, ThroughFooter(png, Bytes({0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82})));
  add("PPT", CompoundFile(u"PowerPoint Document", ole), 5, 1);
  const std::string psd = magick("psd", "");
  add("PSD", psd, ThroughFooter(psd, "\xFF" + std::string(15, '\0')));
  std::string rar = "Rar!\x1A\x07\x00"s + std::string(700, 'r') + Bytes({0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00});
  add("RAR", rar, ThroughFooter(rar, Bytes({0x00, 0x40, 0x07, 0x00})));
  std::string rtf = "{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Times;}}\\f0\\fs24 ";
  while (rtf.size() < 1100) rtf += "Carved rich text paragraph.\\par ";
  rtf += "}";
  add("RTF", rtf, ThroughFooter(rtf, std::string(2, '\0')));
  add("SAM", "regf" + std::string(8188, '\x22'), 58);
  std::string swf = "FWS\x06" + Le32(1500) + std::string(1492, '\x11');
  add("SWF", swf, 1500 / 512 + 2);
  const std::string tif = magick("tif", "-compress none");
  add("TIF", tif, ThroughFooter(tif, std::string(16, '\0')));
  add("XLS", CompoundFile(u"Workbook", Bytes({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4})), 5, 2);
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<items>\r\n";
  for (int i = 0; xml.size() < 1300; ++i) xml += "  <item n=\"" + std::to_string(i) + "\">carved</item>\r\n";
  xml += "</items>\r\n";
  add("XML", xml, ThroughFooter(xml, "\r\n\0\0"s));
  Spill(dir.file("one.txt"), std::string(3000, 'a') + "\n");
  Spill(dir.file("two.txt"), "second member of the archive\n");
  if (test::Run("cd " + dir.path() + " && zip -q -X arc.zip one.txt two.txt") == 0) {
    const std::string zip = Slurp(dir.file("arc.zip"));
    add("ZIP", zip, ThroughFooter(zip, "PK\x05\x06"));
  }
  return out;
}

TEST_F(RawCarvingTest, EveryTypeIsCarvedOutOfZerosAndOutOfNoise) {
  QM_REQUIRE_TOOLS("convert", "zip");
  const std::vector<Carvable> files = MakeCarvables(dir);
  ASSERT_EQ(files.size(), 17u);
  for (const auto& f : files) {
    ASSERT_FALSE(f.bytes.empty()) << f.type;
    // The footers made of zeros need zero bytes after the file in its last sector.
    if (f.type == "TIF" || f.type == "PSD" || f.type == "RTF" || f.type == "XML") {
      ASSERT_LE(f.bytes.size() % 512, 496u) << f.type;
    }
    ASSERT_GT(f.sectors, 0u) << f.type;
  }
  for (bool noisy : {false, true}) {
    SCOPED_TRACE(noisy ? "noise" : "zeros");
    fs::remove_all(dir.file("found"));
    fs::create_directories(dir.file("found"));
    prompt.messages.clear();
    host.bytesRecovered = 0;
    // Gaps of 9 sectors between files; each file starts on a sector and the
    // rest of its last sector is zero.
    std::string image = noisy ? Noise(9, 1) : std::string(9 * 512, '\0');
    uint32_t seed = 2;
    for (const auto& f : files) {
      image += f.bytes + std::string((512 - f.bytes.size() % 512) % 512, '\0');
      image += noisy ? Noise(9, seed++) : std::string(9 * 512, '\0');
    }
    const std::string path = dir.file(noisy ? "noise.img" : "zeros.img");
    Spill(path, image);
    Present(path, 0, image.size() / 512);
    TickAll();
    RawRecoveryThread();

    EXPECT_EQ(messages(), std::vector<std::u16string>{u"Raw Data Recovery Completed Successfully."});
    EXPECT_EQ(host.closePage.load(), 1);
    EXPECT_EQ(host.texts[kScanStatusLine], u"Searching Raw Data Recovery Extensions. Please Wait...");
    std::set<std::string> expected;
    uint64_t total = 0;
    for (const auto& f : files) expected.insert(f.name);
    EXPECT_EQ(CarvedFiles(), expected);
    for (const auto& f : files) {
      SCOPED_TRACE(f.name);
      const std::string carved = Carved(f.name);
      total += carved.size();
      ASSERT_GE(carved.size(), f.bytes.size());
      EXPECT_TRUE(carved.compare(0, f.bytes.size(), f.bytes) == 0);
      // Noise after an MDB file may hold page starts that lengthen it.
      if (!noisy || f.type != "MDB") {
        EXPECT_EQ(carved.size(), f.sectors * 512);
      }
    }
    EXPECT_EQ(host.bytesRecovered.load(), total);
  }
}

// A JPEG whose end is not found within its window is dropped and the scan
// goes back to the sector after its header: the PNG inside that window is
// then found.
TEST_F(RawCarvingTest, UnendedCandidateIsDroppedAndTheScanResumesAfterItsHeader) {
  QM_REQUIRE_TOOLS("convert");
  ASSERT_EQ(test::Run("convert -size 20x20 xc:green " + dir.file("g.png")), 0);
  const std::string png = Slurp(dir.file("g.png"));
  ASSERT_EQ(png.find("\xFF\xD9"), std::string::npos);
  std::string image(21000 * 512, '\0');
  image.replace(10 * 512 + 6, 4, "JFIF");
  image.replace(300 * 512, png.size(), png);
  Spill(dir.file("img"), image);
  Present(dir.file("img"), 0, 21000);
  TickAll();
  RawRecoveryThread();
  EXPECT_EQ(CarvedFiles(), std::set<std::string>{"PNG/0.PNG"});
  EXPECT_EQ(Carved("PNG/0.PNG").substr(0, png.size()), png);
}

// An end that straddles the last sector of a chunk is found as anywhere else:
// the bytes after the chunk are the next sectors, not leftovers.
TEST_F(RawCarvingTest, FooterAcrossAChunkBoundaryIsFound) {
  std::string image(1200 * 512, '\0');
  std::fill(image.begin() + 500 * 512, image.begin() + 530 * 512, 'p');
  image.replace(500 * 512, 8, "%PDF-1.4");
  image.replace(519 * 512 + 510, 5, "%%EOF");  // sector 519 is the last of the first chunk
  Spill(dir.file("img"), image);
  Present(dir.file("img"), 0, 1200);
  Tick({u"PDF"});
  RawRecoveryThread();
  EXPECT_EQ(CarvedFiles(), std::set<std::string>{"PDF/0.PDF"});
  EXPECT_EQ(Carved("PDF/0.PDF"), image.substr(500 * 512, 21 * 512));
}

// Random data that happens to begin a sector with the letters "PK" opens no
// archive: such a false archive would run on to the real archive's end and
// take the document between them with it.
TEST_F(RawCarvingTest, LettersPkInNoiseOpenNoArchive) {
  std::string image = Noise(60, 11);
  image.replace(10 * 512, 2, "PK");
  ASSERT_NE(image.substr(10 * 512, 4), "PK\x03\x04");
  std::string pdf = "%PDF-1.4\n" + std::string(700, 'd') + "\n%%EOF\n";
  pdf += std::string((512 - pdf.size() % 512) % 512, '\0');
  image.replace(20 * 512, pdf.size(), pdf);
  std::string zip = "PK\x03\x04"s + std::string(800, 'z') + "PK\x05\x06"s + std::string(18, '\0');
  zip += std::string((512 - zip.size() % 512) % 512, '\0');
  image.replace(40 * 512, zip.size(), zip);
  Spill(dir.file("img"), image);
  Present(dir.file("img"), 0, 60);
  TickAll();
  RawRecoveryThread();
  EXPECT_EQ(CarvedFiles(), (std::set<std::string>{"PDF/0.PDF", "ZIP/0.ZIP"}));
  EXPECT_TRUE(Carved("PDF/0.PDF") == image.substr(20 * 512, ThroughFooter(pdf, "%%EOF") * 512));
  EXPECT_TRUE(Carved("ZIP/0.ZIP") == image.substr(40 * 512, ThroughFooter(zip, "PK\x05\x06") * 512));
}

// With only DOC ticked, a workbook is recognised, not written, and uses up a
// number; the scan resumes after its header and finds the document behind it.
TEST_F(RawCarvingTest, CompoundFileOfAnUntickedKindIsSkippedButNumbered) {
  std::string image(40 * 512, '\0');
  const std::string xls = CompoundFile(u"Workbook", Bytes({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4}));
  const std::string doc = CompoundFile(u"WordDocument", "Word.Document.8");
  image.replace(2 * 512, xls.size(), xls);
  image.replace(20 * 512, doc.size(), doc);
  Spill(dir.file("img"), image);
  Present(dir.file("img"), 0, 40);
  Tick({u"DOC"});
  RawRecoveryThread();
  EXPECT_EQ(CarvedFiles(), std::set<std::string>{"DOC/1.DOC"});
}

TEST_F(RawCarvingTest, ProgressCountsFromSectorZeroAndStopAborts) {
  Spill(dir.file("img"), std::string(2000 * 512, '\0'));
  Present(dir.file("img"), 1000, 2000);
  TickAll();
  RawRecoveryThread();
  EXPECT_EQ(host.positions, (std::vector<int>{76, 100}));
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Raw Data Recovery Completed Successfully."});

  prompt.messages.clear();
  host.positions.clear();
  host.closePage = 0;
  host.stopAtFirst = true;
  Present(dir.file("img"), 0, 2000);
  RawRecoveryThread();
  EXPECT_EQ(host.positions, std::vector<int>{26});
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Raw Data Recovery Aborted."});
  EXPECT_EQ(host.closePage.load(), 1);
  EXPECT_EQ(host.analysisFinished.load(), 0);
}

// Not enough room in the target: No skips the file; Yes asks for another
// folder; cancelling it and answering Yes to the stop question ends the run.
TEST_F(RawCarvingTest, FullTargetAsksAndObeys) {
  std::string image(64 * 512, '\0');
  image.replace(4 * 512, 8, "FWS\x06" + Le32(700));
  Spill(dir.file("img"), image);
  Present(dir.file("img"), 0, 64);
  const std::string roomy = dir.file("roomy");
  struct Case {
    const char* what;
    std::deque<int> answers;
    std::optional<std::string> folder;
    std::vector<std::u16string> questions;
    const char16_t* message;
    bool writtenToRoomy;
  };
  const std::u16string space = u"Destination does not contain adequate space. Do you want to continue.";
  const std::u16string stop = u"Do you want to stop this process. This may give you incomplete data.";
  const Case cases[] = {
      {"no", {IDCANCEL}, std::nullopt, {space}, u"Raw Data Recovery Completed Successfully.", false},
      {"yes, cancel, stop", {IDOK, IDOK}, std::nullopt, {space, stop}, u"Raw Data Recovery Aborted.", false},
      {"yes, another folder", {IDOK}, roomy, {space}, u"Raw Data Recovery Completed Successfully.", true},
  };
  SetFreeBytesProbe([](const std::string& folder) -> uint64_t {
    return folder.find("roomy") != std::string::npos ? 1ull << 40 : 100;
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(roomy);
    fs::create_directories(roomy);  // the folder dialog offers existing folders
    g_RecoveryTargetFolder = dir.file("found");
    prompt.messages.clear();
    prompt.questions.clear();
    prompt.answers = c.answers;
    prompt.folder = c.folder;
    TickAll();
    RawRecoveryThread();
    EXPECT_EQ(prompt.questions, c.questions);
    EXPECT_EQ(messages(), std::vector<std::u16string>{c.message});
    EXPECT_TRUE(CarvedFiles().empty());
    EXPECT_EQ(fs::exists(roomy + "/SWF/0.SWF"), c.writtenToRoomy);
  }
}

// A carved file that cannot be written is reported, not counted; Abort ends the run.
TEST_F(RawCarvingTest, UnwritableTargetGoesToTheCopyErrorDialog) {
  std::string image(64 * 512, '\0');
  image.replace(4 * 512, 8, "FWS\x06" + Le32(700));
  image.replace(20 * 512, 8, "FWS\x06" + Le32(700));
  Spill(dir.file("img"), image);
  Present(dir.file("img"), 0, 64);
  Spill(dir.file("found/SWF"), "a file where the folder should be");
  for (int answer : {2, 1}) {
    SCOPED_TRACE(answer);
    prompt.messages.clear();
    prompt.copyErrors = 0;
    prompt.copyAnswer = answer;
    host.stats.clear();
    TickAll();
    RawRecoveryThread();
    EXPECT_EQ(prompt.copyErrors, 1);  // Abort ends the run; Skip All asks once
    // Files skipped after a failed write are never reported as a success.
    EXPECT_EQ(messages(), std::vector<std::u16string>{
                              answer == 2 ? u"Raw Data Recovery Aborted."
                                          : u"Raw Data Recovery not completed: 2 files could not be written."});
  }
  // No target folder at all: nothing is written, least of all at the root.
  g_RecoveryTargetFolder.clear();
  prompt.copyErrors = 0;
  prompt.copyAnswer = 2;
  TickAll();
  RawRecoveryThread();
  EXPECT_EQ(prompt.copyErrors, 1);
  EXPECT_FALSE(fs::exists("/SWF/0.SWF"));
}

// Links planted in the target: the type's folder pointing elsewhere, and a
// carved file's name pointing at a read-only file outside. Nothing outside
// changes, neither bytes nor mode, and the run does not end as a success.
TEST_F(RawCarvingTest, ALinkInTheTargetIsAFailedWriteNeverFollowed) {
  std::string image(64 * 512, '\0');
  image.replace(4 * 512, 8, "FWS\x06" + Le32(700));
  Spill(dir.file("img"), image);
  Present(dir.file("img"), 0, 64);
  enum class Plant { LinkedFolder, LinkedFile };
  for (Plant plant : {Plant::LinkedFolder, Plant::LinkedFile}) {
    SCOPED_TRACE(plant == Plant::LinkedFolder ? "target/SWF -> outside" : "target/SWF/0.SWF -> outside file");
    fs::remove_all(dir.file("found"));
    fs::create_directories(dir.file("found"));
    const std::string victim = dir.file("outside/0.SWF");
    ASSERT_TRUE(test::PlantOutsideFile(victim));
    if (plant == Plant::LinkedFolder) {
      ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("found/SWF").c_str()), 0);
    } else {
      fs::create_directories(dir.file("found/SWF"));
      ASSERT_EQ(::symlink(victim.c_str(), dir.file("found/SWF/0.SWF").c_str()), 0);
    }
    prompt.messages.clear();
    prompt.copyErrors = 0;
    prompt.copyAnswer = 0;  // Skip: the run goes on
    Tick({u"SWF"});
    RawRecoveryThread();
    EXPECT_EQ(prompt.copyErrors, 1);
    EXPECT_EQ(messages(),
              std::vector<std::u16string>{u"Raw Data Recovery not completed: 1 files could not be written."});
    EXPECT_EQ(test::OutsideFileChanges(victim), "");
  }
}

}  // namespace
}  // namespace qm
