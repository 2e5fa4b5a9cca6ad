#include "engines/carving_table.h"

#include <algorithm>
#include <new>

#include "state/app_state.h"
#include "platform/prompt.h"

namespace qm {

std::vector<ExtensionGroup> g_ExtensionGroups;

const std::array<const char16_t*, kCarvingRows> kCarvingShortNames = {
    u"BMP", u"DOC", u"DWG", u"JPEG", u"MDB", u"PDF", u"PNG", u"PPT", u"PSD",
    u"RAR", u"RTF", u"SAM", u"SWF",  u"TIF", u"XLS", u"XML", u"ZIP"};

const std::array<const char16_t*, kCarvingRows> kCarvingRowTexts = {
    u"BMP    -   Bitmap Image File",
    u"DOC    -   Microsoft Office Word File",
    u"DWG    -   Autocad Drawing File",
    u"JPEG   -   Image Format",
    u"MDB    -   Database File",
    u"PDF    -   Adobe File",
    u"PNG    -   Image Format",
    u"PPT    -   Microsoft Office Powerpoint File",
    u"PSD    -   Adobe Photoshop File",
    u"RAR    -   Archival File Format",
    u"RTF    -   Rich Text Format Document",
    u"SAM    -   Sam Document Files",
    u"SWF    -   Shockwave Flash File",
    u"TIF    -   Image File Format",
    u"XLS    -   Microsoft Office Excel File",
    u"XML    -   Schema Extension Element",
    u"ZIP    -   Compressed Archive File"};

namespace {

enum Row : int {
  kBmp, kDoc, kDwg, kJpeg, kMdb, kPdf, kPng, kPpt, kPsd, kRar, kRtf, kSam, kSwf, kTif, kXls, kXml, kZip
};

// Default window for finding a file's end, and the larger one of drawings.
constexpr int64_t kDefaultWindowBytes = 10485760;  // 10 MiB
constexpr int64_t kDrawingWindowBytes = 734003200;  // 700 MiB
// Size-rule bounds.
constexpr int32_t kSizeRuleMaxBytes = 52428800;  // 50 MiB (BMP, SWF)
constexpr int32_t kSamFixedBytes = 28672;
constexpr int32_t kBmpSizeFieldOffset = 2;
constexpr int32_t kSwfSizeFieldOffset = 4;
constexpr int32_t kSizeFieldWidth = 4;

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> v) {
  Bytes s;
  for (int b : v) s.push_back(static_cast<uint8_t>(b));
  return s;
}
Bytes T(std::string_view text) { return {text.begin(), text.end()}; }

void Add(std::vector<ExtensionSignature>& list, std::u16string_view name, const Bytes& bytes,
         int32_t offset, bool enabled) {
  AppendSignature(list, name, {bytes.data(), bytes.size()}, offset, static_cast<int32_t>(bytes.size()), enabled);
}

}  // namespace

void AppendSignature(std::vector<ExtensionSignature>& list, std::u16string_view name,
                     std::span<const uint8_t> bytes, int32_t offset, int32_t length, int32_t enabled) {
  ExtensionSignature s;
  s.name = name;
  const size_t n = std::min({bytes.size(), static_cast<size_t>(kSignatureBytes),
                             static_cast<size_t>(std::max<int32_t>(length, 0))});
  std::copy_n(bytes.begin(), n, s.bytes.begin());
  s.offset = offset;
  s.length = static_cast<int32_t>(n);
  s.enabled = enabled;
  list.push_back(std::move(s));
}

void AppendExtensionGroup(std::vector<ExtensionGroup>& list, std::u16string_view name, int32_t headerCount,
                          const std::vector<ExtensionSignature>& headers, int32_t sizeFieldOffset,
                          int32_t sizeFieldWidth, const std::vector<ExtensionSignature>& footers,
                          const std::vector<ExtensionSignature>& pageSearch, int32_t enabled, int32_t nextNumber,
                          int32_t maxSectors, int32_t maxBytes, int32_t compoundFile) {
  ExtensionGroup g;
  g.name = name;
  g.headerCount = headerCount;
  g.headers = headers;
  g.sizeFieldOffset = sizeFieldOffset;
  g.sizeFieldWidth = sizeFieldWidth;
  g.footers = footers;
  g.pageSearch = pageSearch;
  g.enabled = enabled;
  g.nextNumber = nextNumber;
  g.maxSectors = maxSectors;
  g.maxBytes = maxBytes;
  g.compoundFile = compoundFile;
  list.push_back(std::move(g));
}

bool BuildExtensionGroups(std::span<const bool> ticked) {
  const int64_t bps = g_BytesPerSector > 0 ? g_BytesPerSector : 512;
  auto tick = [&](int row) { return static_cast<size_t>(row) < ticked.size() && ticked[row]; };
  bool any = false;
  try {
    std::vector<ExtensionGroup> groups;
    for (int row = 0; row < kCarvingRows; ++row) {
      const bool on = tick(row);
      any = any || on;
      const std::u16string name = kCarvingShortNames[row];
      int32_t sizeOffset = -1, sizeWidth = -1, maxBytes = 0, compound = 0;
      int32_t maxSectors = static_cast<int32_t>(kDefaultWindowBytes / bps);
      bool enabled = on;
      std::vector<ExtensionSignature> headers, footers, pages;
      switch (row) {
        case kBmp:
          Add(headers, name, T("BM"), 0, on);
          sizeOffset = kBmpSizeFieldOffset, sizeWidth = kSizeFieldWidth, maxBytes = kSizeRuleMaxBytes;
          break;
        case kDoc:
          Add(headers, name, B({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}), 0, on);
          Add(footers, u"DOC", T("Word.Document"), kAnyOffset, tick(kDoc));
          Add(footers, u"PPT", B({0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x5F, 0xC0, 0x91, 0xE3}), kAnyOffset,
              tick(kPpt));
          Add(footers, u"XLS", B({0x01, 0, 0, 0, 0x02, 0, 0, 0, 0x03, 0, 0, 0, 0x04}), kAnyOffset, tick(kXls));
          compound = 1;
          enabled = tick(kDoc) || tick(kPpt) || tick(kXls);
          break;
        case kDwg:
          Add(headers, name, T("AC1015"), 0, on);
          Add(footers, name, B({0xAC, 0xDB, 0xBF, 0xF6, 0xED, 0xC3, 0x55, 0xFE, 0x00, 0x00}), kAnyOffset, on);
          maxSectors = static_cast<int32_t>(kDrawingWindowBytes / bps);
          break;
        case kJpeg:
          Add(headers, name, T("JFIF"), 6, on);
          Add(footers, name, B({0xFF, 0xD9}), kAnyOffset, on);
          break;
        case kMdb:
          Add(headers, name, B({0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n'}), 0, on);
          Add(pages, name, B({0x01}), 0, on);
          break;
        case kPdf:
          Add(headers, name, T("%PDF"), 0, on);
          Add(footers, name, T("%%EOF"), kAnyOffset, on);
          break;
        case kPng:
          Add(headers, name, B({0x89, 0x50, 0x4E, 0x47}), 0, on);
          Add(footers, name, B({0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82}), kAnyOffset, on);
          break;
        case kPpt:
        case kXls:
          enabled = false;  // their ticks enable the markers of the DOC group
          break;
        case kPsd:
          Add(headers, name, T("8BPS"), 0, on);
          Add(footers, name, B({0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), kAnyOffset, on);
          break;
        case kRar:
          Add(headers, name, T("Rar!"), 0, on);
          Add(footers, name, B({0x00, 0x40, 0x07, 0x00}), kAnyOffset, on);
          break;
        case kRtf:
          Add(headers, name, T("{\\rtf1"), 0, on);
          Add(footers, name, B({0x00, 0x00}), kAnyOffset, on);
          break;
        case kSam:
          Add(headers, name, T("reg"), 0, on);
          sizeOffset = 0, sizeWidth = 0, maxBytes = kSamFixedBytes;
          break;
        case kSwf:
          Add(headers, name, T("FWS"), 0, on);
          sizeOffset = kSwfSizeFieldOffset, sizeWidth = kSizeFieldWidth, maxBytes = kSizeRuleMaxBytes;
          break;
        case kTif:
          Add(headers, name, B({0x49, 0x49, 0x2A, 0x00}), 0, on);
          Add(footers, name, Bytes(16, 0), kAnyOffset, on);
          break;
        case kXml:
          Add(headers, name, T("<?xml"), 0, on);
          Add(footers, name, B({0x0D, 0x0A, 0x00, 0x00}), kAnyOffset, on);
          break;
        case kZip:
          // The whole local-file-header signature: the two letters alone
          // begin one random sector in 65,536, and such a false archive
          // runs on to the next real archive's end and swallows every file
          // between.
          Add(headers, name, B({0x50, 0x4B, 0x03, 0x04}), 0, on);
          Add(footers, name, B({0x50, 0x4B, 0x05, 0x06}), kAnyOffset, on);
          break;
      }
      AppendExtensionGroup(groups, name, 1, headers, sizeOffset, sizeWidth, footers, pages, enabled, 0, maxSectors,
                           maxBytes, compound);
    }
    g_ExtensionGroups = std::move(groups);
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
  return any;
}

}  // namespace qm
