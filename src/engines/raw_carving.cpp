#include "engines/raw_carving.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/carving_table.h"
#include "platform/byte_reader.h"
#include "platform/file.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

namespace {

// Sectors per read of the scan (at 512 bytes), and the fallback when that
// buffer cannot be had.
constexpr int64_t kScanChunkSectors = 520;
constexpr int64_t kSmallChunkSectors = 8;
// Bytes after the chunk that footer comparisons near its last sector may
// read; they hold the sectors that follow (zeros past the range end).
constexpr int64_t kSlackBytes = 5120;
// Sectors per read while copying a carved file out.
constexpr uint64_t kCopyRunSectors = 256;
// Sectors per block of the MDB page search (at 512 bytes).
constexpr int64_t kPageSearchSectors = 8;
// Byte 1 of a sector that starts an MDB page.
constexpr size_t kPageStartByte = 1;
constexpr uint8_t kPageStartValue = 1;

constexpr char16_t kStatusText[] = u"Searching Raw Data Recovery Extensions. Please Wait...";
constexpr char16_t kAbortedText[] = u"Raw Data Recovery Aborted.";
constexpr char16_t kCompletedText[] = u"Raw Data Recovery Completed Successfully.";

// Files that could not be written were found but not recovered: never a success.
std::u16string NotCompletedText(uint64_t files) {
  return u"Raw Data Recovery not completed: " + Utf8ToUtf16(std::to_string(files)) +
         u" files could not be written.";
}
constexpr char16_t kNoSpaceQuestion[] = u"Destination does not contain adequate space. Do you want to continue.";
constexpr char16_t kStopQuestion[] = u"Do you want to stop this process. This may give you incomplete data.";
constexpr char16_t kFolderDialogTitle[] = u" Data Recovery Path Selection";

std::atomic<FreeBytesProbe> g_FreeBytesProbe{nullptr};
// Skip All of the copy-error dialog, for the current run.
std::atomic<bool> g_CarveSkipAllErrors{false};

int64_t Bps() { return g_BytesPerSector > 0 ? g_BytesPerSector : 512; }

std::vector<uint8_t> Utf16Le(std::u16string_view s) {
  std::vector<uint8_t> out;
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

bool BytesAt(const ByteReader& r, size_t offset, std::span<const uint8_t> want) {
  if (want.empty()) return false;
  auto got = r.bytes(offset, want.size());
  return got.size() == want.size() && std::memcmp(got.data(), want.data(), want.size()) == 0;
}

// First offset o in [0, starts) at which pattern begins inside data; -1 when none.
int64_t FindFrom(std::span<const uint8_t> data, std::span<const uint8_t> pattern, int64_t starts) {
  if (pattern.empty() || starts <= 0) return -1;
  const size_t window = std::min(data.size(), static_cast<size_t>(starts) - 1 + pattern.size());
  if (window < pattern.size()) return -1;
  // Footers are short and their first byte is rare in most sectors: a memchr
  // walk beats memmem's set-up cost on windows of one sector.
  const uint8_t* base = data.data();
  const size_t lastStart = window - pattern.size();
  for (size_t at = 0; at <= lastStart;) {
    const void* hit = std::memchr(base + at, pattern[0], lastStart + 1 - at);
    if (!hit) return -1;
    at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - base);
    if (std::memcmp(base + at, pattern.data(), pattern.size()) == 0) return static_cast<int64_t>(at);
    ++at;
  }
  return -1;
}

// The size field of a size rule: little-endian, at most 4 bytes; a 4-byte
// field is signed.
int64_t ReadSizeField(const ByteReader& r, int32_t offset, int32_t width) {
  if (offset < 0 || width <= 0) return 0;
  if (width >= 4) return r.i32(static_cast<size_t>(offset));
  int64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | r.u8(static_cast<size_t>(offset) + i);
  return v;
}

struct PageSearch {
  bool found = false;
  uint64_t sector = 0;
};

PageSearch SearchPages(uint64_t s, std::span<const uint8_t> header) {
  const int64_t bps = Bps();
  int64_t n = bps <= 512 ? kPageSearchSectors
              : bps < 4096 ? kPageSearchSectors / (bps / 512)
                           : (bps / 512) / kPageSearchSectors;
  n = std::max<int64_t>(n, 1);
  std::vector<uint8_t> block;
  try {
    block.resize(static_cast<size_t>(bps * n));
  } catch (const std::bad_alloc&) {
    return {};
  }
  PageSearch out;
  const uint64_t end = g_RangeEndSector;
  if (s >= end) return out;
  ScanHost& page = CurrentScanPage();
  while (s < end) {
    if (page.job.checkpoint()) break;
    std::fill(block.begin(), block.end(), 0);
    ReadSectors(SelectedDevicePath(), s, static_cast<uint32_t>(n), block.data());
    ByteReader r(block.data(), block.size());
    bool seen = false, headerHit = false;
    for (int64_t j = 0; j < n; ++j) {
      ByteReader sector = r.sub(static_cast<size_t>(j * bps), static_cast<size_t>(bps));
      if (BytesAt(sector, 0, header)) {
        // The next file begins here; this one ends two sectors before it.
        out = {true, s + static_cast<uint64_t>(j) - 2};
        headerHit = true;
        break;
      }
      if (sector.u8(kPageStartByte) == kPageStartValue) {
        out = {true, s + static_cast<uint64_t>(j)};
        seen = true;
      }
    }
    // A header ends the search: going on from just before it would meet the
    // same header again and never advance.
    if (headerHit || !seen) break;
    s = out.sector + 1;
    if (s + static_cast<uint64_t>(n) > end) break;
  }
  return out;
}

// Which first bytes, at which offsets, can begin an enabled header: most
// sectors are turned away with a lookup or two instead of a pass over the table.
class HeaderFilter {
 public:
  explicit HeaderFilter(const std::vector<ExtensionGroup>& groups) {
    for (const ExtensionGroup& g : groups) {
      if (!g.enabled || g.headerCount <= 0) continue;
      int compared = 0;
      for (const ExtensionSignature& h : g.headers) {
        if (compared++ >= g.headerCount) break;
        if (h.offset < 0 || h.length <= 0) continue;
        auto it = std::find_if(masks_.begin(), masks_.end(), [&](const Mask& m) { return m.offset == static_cast<size_t>(h.offset); });
        if (it == masks_.end()) it = masks_.insert(masks_.end(), Mask{static_cast<size_t>(h.offset), {}});
        it->bytes[h.bytes[0]] = true;
      }
    }
  }
  bool MayMatch(std::span<const uint8_t> sector) const {
    for (const Mask& m : masks_)
      if (m.offset < sector.size() && m.bytes[sector[m.offset]]) return true;
    return false;
  }

 private:
  struct Mask {
    size_t offset;
    std::array<bool, 256> bytes;
  };
  std::vector<Mask> masks_;
};

// The copy-error dialog for a carved file, with the system's reason when
// known; Abort stops the run.
int CarveWriteFailed(const std::string& path, int cause = 0) {
  if (g_CarveSkipAllErrors.load()) return kCarveFailed;
  const int choice = CurrentPrompt().CopyErrorChoiceFor(Utf8ToUtf16(path), cause);
  if (choice == 1) g_CarveSkipAllErrors.store(true);
  return choice == 2 ? kCarveStopRun : kCarveFailed;
}

}  // namespace

uint64_t TargetFreeBytes(const std::string& folder) {
  std::filesystem::path p = folder.empty() ? std::filesystem::path(".") : std::filesystem::path(folder);
  std::error_code ec;
  while (!p.empty() && !std::filesystem::exists(p, ec)) {
    auto parent = p.parent_path();
    if (parent == p) break;
    p = parent;
  }
  struct statvfs st {};
  if (::statvfs(p.empty() ? "." : p.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
}

void SetFreeBytesProbe(FreeBytesProbe probe) { g_FreeBytesProbe.store(probe); }

int MatchHeaderSignature(std::span<const uint8_t> sector, int32_t* maxSectors) {
  // A header stands inside its sector.
  const size_t size = std::min(sector.size(), static_cast<size_t>(Bps()));
  ByteReader r(sector.data(), size);
  for (size_t i = 0; i < g_ExtensionGroups.size(); ++i) {
    const ExtensionGroup& g = g_ExtensionGroups[i];
    if (!g.enabled || g.headerCount <= 0) continue;
    int compared = 0;
    for (const ExtensionSignature& h : g.headers) {
      if (compared++ >= g.headerCount) break;
      if (h.offset < 0 || h.length <= 0) continue;
      // Every sector meets every header: reject on the first byte before comparing.
      if (static_cast<size_t>(h.offset) >= size || sector[h.offset] != h.bytes[0]) continue;
      if (BytesAt(r, static_cast<size_t>(h.offset), h.view())) {
        if (maxSectors) *maxSectors = g.maxSectors;
        return static_cast<int>(i);
      }
    }
  }
  return -1;
}

void RefineOleType(std::span<const uint8_t> sector) {
  static const std::vector<uint8_t> kRoot = Utf16Le(u"Root Entry");
  struct Kind {
    std::vector<uint8_t> text;
    const char16_t* subtype;
  };
  static const std::vector<Kind> kKinds = [] {
    std::vector<Kind> k = {{Utf16Le(u"WordDocument"), u"DOC"},
                           {Utf16Le(u"Workbook"), u"XLS"},
                           {Utf16Le(u"PowerPoint Document"), u"PPT"},
                           {Utf16Le(u"PageMaker"), u"PMD"}};
    k[3].text.resize(17);  // the name's last zero byte is not compared
    return k;
  }();
  ByteReader r(sector.data(), sector.size());
  if (!BytesAt(r, 0, kRoot)) return;
  int64_t best = -1;
  const char16_t* kind = nullptr;
  for (const Kind& k : kKinds) {
    int64_t at = FindFrom(sector, k.text, Bps());
    if (at >= 0 && (best < 0 || at < best)) best = at, kind = k.subtype;
  }
  if (kind) CurrentScanPage().SetOleSubtype(kind);
}

int DetermineCarvedExtent(std::span<const uint8_t> sector, int group, uint64_t* length, std::u16string* name,
                          int32_t* number, uint64_t candidateStart, uint64_t current, int* markerFound,
                          int* markerEnabled) {
  if (group < 0 || static_cast<size_t>(group) >= g_ExtensionGroups.size() || current < candidateStart)
    return kExtentDrop;
  ExtensionGroup& g = g_ExtensionGroups[static_cast<size_t>(group)];
  const int64_t bps = Bps();
  auto decide = [&](uint64_t n, std::u16string_view as) {
    if (length) *length = n;
    if (name) *name = as;
    if (number) *number = g.nextNumber;
    ++g.nextNumber;
    return kExtentDecided;
  };
  ByteReader r(sector.data(), sector.size());

  if (g.sizeFieldOffset != -1) {
    int64_t size;
    if (g.name == u"SAM") {
      size = g.maxBytes;
    } else {
      size = ReadSizeField(r, g.sizeFieldOffset, g.sizeFieldWidth);
      if (g.name == u"BMP" || g.name == u"SWF") {
        if (size <= 0 || size > g.maxBytes) return kExtentDrop;
      } else {
        if (size <= 0) return kExtentNotYet;
        if (size > g.maxBytes) size = g.maxBytes;
      }
    }
    if (size <= 0) return kExtentDrop;
    return decide(static_cast<uint64_t>(size / bps + (bps <= 512 ? 2 : 1)), g.name);
  }

  const uint64_t throughNext = current - candidateStart + 2;
  const bool isDoc = g.name == u"DOC";
  for (const ExtensionSignature& f : g.footers) {
    if (f.length <= 0) continue;
    if (f.offset != kAnyOffset) {
      if (f.offset >= 0 && BytesAt(r, static_cast<size_t>(f.offset), f.view())) return decide(throughNext, g.name);
      continue;
    }
    if (isDoc) {
      if (CurrentScanPage().OleSubtype().empty()) RefineOleType(sector);
      // A compound file's marker counts only for the kind its directory names.
      const std::u16string subtype = CurrentScanPage().OleSubtype();
      if (subtype.empty() || subtype != f.name) continue;
    }
    if (FindFrom(sector, f.view(), bps) < 0) continue;
    if (g.compoundFile == 1) {
      if (markerFound) *markerFound = 1;
      if (f.enabled && markerEnabled) *markerEnabled = 1;
    }
    return decide(throughNext, f.name);
  }

  if (!g.pageSearch.empty() && g.pageSearch.front().name == u"MDB" && !g.headers.empty()) {
    PageSearch e = SearchPages(current + 1, g.headers.front().view());
    // Nothing found, or an end before the file's start: no extent to write.
    const uint64_t n = e.sector + 2 - candidateStart;
    if (!e.found || static_cast<int64_t>(n) <= 0) return kExtentDrop;
    return decide(n, g.name);
  }
  return kExtentNotYet;
}

uint64_t FindFooter(uint64_t s, std::span<const uint8_t> header) {
  PageSearch e = SearchPages(s, header);
  return e.found ? e.sector : 0;
}

int WriteCarvedFile(uint64_t first, uint64_t end, std::u16string_view name, int32_t number,
                    std::u16string* shownName) {
  ScanHost& page = CurrentScanPage();
  const uint64_t bps = static_cast<uint64_t>(Bps());
  const uint64_t needed = (end - first) * bps;
  // Without a target folder the path would start at the root.
  if (g_RecoveryTargetFolder.empty()) return CarveWriteFailed(Utf16ToUtf8(name));
  for (;;) {
    FreeBytesProbe probe = g_FreeBytesProbe.load();
    const uint64_t free = probe ? probe(g_RecoveryTargetFolder) : TargetFreeBytes(g_RecoveryTargetFolder);
    if (free > needed) break;
    if (AskQuestion(kNoSpaceQuestion) != IDOK) return kCarveNotWritten;
    g_RecoveryTargetFolder.clear();
    while (g_RecoveryTargetFolder.empty()) {
      if (auto folder = CurrentPrompt().ChooseFolder(kFolderDialogTitle); folder && !folder->empty()) {
        g_RecoveryTargetFolder = *folder;
      } else if (AskQuestion(kStopQuestion) == IDOK) {
        return kCarveStopRun;
      }
    }
  }

  const std::string type = Utf16ToUtf8(name);
  const std::string& root = g_RecoveryTargetFolder;
  const std::string folder = (root.back() == '/' ? root : root + '/') + type;
  const std::string path = folder + "/" + std::to_string(number) + "." + type;
  const std::u16string path16 = Utf8ToUtf16(path);
  page.SetControlText(kScanNameValue, path16);
  if (shownName) *shownName = path16;

  // Through the target's creating path: a link planted below the target is
  // a failed write, and an earlier file's mode is left as it is.
  if (const int cause = CreateFoldersBelow(root, folder)) return CarveWriteFailed(path, cause);
  File out;
  if (!out.create(root, path, Create::Replace)) return CarveWriteFailed(path, out.lastError());
  std::vector<uint8_t> run;
  try {
    run.resize(static_cast<size_t>(kCopyRunSectors * bps));
  } catch (const std::bad_alloc&) {
    return CarveWriteFailed(path);
  }
  int result = kCarveNotWritten;
  for (uint64_t s = first; s < end;) {
    if (page.job.checkpoint()) return kCarveStopRun;
    // Runs never cross the range end, so every sector is read as a
    // one-sector read would read it.
    uint64_t n = std::min(kCopyRunSectors, end - s);
    if (s < g_RangeEndSector) n = std::min(n, g_RangeEndSector - s);
    else n = 1;
    const size_t bytes = static_cast<size_t>(n * bps);
    std::fill_n(run.begin(), bytes, 0);
    ReadSectors(SelectedDevicePath(), s, static_cast<uint32_t>(n), run.data());
    if (out.writeAt(run.data(), bytes, (s - first) * bps) != static_cast<int64_t>(bytes)) {
      const int cause = out.lastError();
      out.close();
      return CarveWriteFailed(path, cause);
    }
    result = kCarveWritten;
    page.bytesRecovered += bytes;
    page.SetControlText(kScanSecondValue, SizeText3(page.bytesRecovered.load()));
    s += n;
  }
  // Data still in the system's buffers can fail at the close.
  if (!out.closeChecked()) return CarveWriteFailed(path, out.lastError());
  return result;
}

void RawRecoveryThread() {
  ScanHost& page = CurrentScanPage();
  page.SetControlText(kScanStatusLine, kStatusText);
  g_CarveSkipAllErrors.store(false);
  const int64_t bps = Bps();
  const int64_t perSector = bps <= 512 ? 1 : bps / 512;
  const int64_t slackBytes = std::max(kSlackBytes, bps);
  const uint64_t lookahead = static_cast<uint64_t>(slackBytes / bps);

  uint64_t failed = 0;  // carved files whose write failed and was skipped
  auto finish = [&](bool stopped) {
    page.analysisFinished.store(0);
    page.KillTimer(kMarqueeTimer);
    page.KillTimer(kElapsedTimer);
    ShowMessage(stopped ? std::u16string(kAbortedText) : failed ? NotCompletedText(failed) : std::u16string(kCompletedText));
    page.Complete(page.closePage);
  };

  std::vector<uint8_t> buffer;
  uint64_t chunk = 0;
  for (int64_t sectors : {kScanChunkSectors, kSmallChunkSectors}) {
    chunk = static_cast<uint64_t>(std::max<int64_t>(sectors / perSector, 1));
    try {
      buffer.resize(static_cast<size_t>(chunk * bps + slackBytes));
      break;
    } catch (const std::bad_alloc&) {
      buffer.clear();
    }
  }
  if (buffer.empty()) return finish(true);

  const uint64_t first = g_RangeFirstSector;
  const uint64_t end = g_RangeEndSector;
  uint64_t bufStart = first, bufCount = 0;
  // Reads the chunk at s and, behind it, the sectors that the slack covers.
  auto fill = [&](uint64_t s) {
    bufStart = s;
    bufCount = std::min(chunk, end - s);
    const uint64_t ahead = std::min(lookahead, end - s - bufCount);
    const size_t used = static_cast<size_t>((bufCount + ahead) * bps);
    ReadSectors(SelectedDevicePath(), s, static_cast<uint32_t>(bufCount + ahead), buffer.data());
    std::fill(buffer.begin() + static_cast<ptrdiff_t>(used), buffer.end(), 0);
  };
  auto progress = [&](uint64_t at) {
    if (end == 0) return;
    page.SetProgressPos(kScanProgressBar, static_cast<int>(std::min<uint64_t>(at * 100 / end, 100)));
  };

  int candidate = -1;
  int32_t limit = 0, number = 0, counter = 0;
  int64_t steps = 0;
  uint64_t candidateStart = 0, length = 0;
  // The first sector after the open candidate's header that holds a header
  // itself (0: none yet). Going back after a dropped candidate only has to
  // look from there: sectors without a header just pass.
  uint64_t nextHeader = 0;
  int markerFound = 0, markerEnabled = 0;
  uint32_t carved = 0;
  std::u16string shownName, carvedName;
  bool stopped = false;

  const HeaderFilter headers(g_ExtensionGroups);
  auto matchHeader = [&](std::span<const uint8_t> sector, int32_t* maxSectors) {
    return headers.MayMatch(sector) ? MatchHeaderSignature(sector, maxSectors) : -1;
  };

  uint64_t c = first;
  if (c < end) fill(c);
  while (c < end) {
    if (c >= bufStart + bufCount) {
      progress(bufStart + bufCount);
      if (page.job.checkpoint()) {
        stopped = true;
        break;
      }
      fill(c);
    }
    const std::span<const uint8_t> sector(buffer.data() + (c - bufStart) * bps,
                                          buffer.size() - static_cast<size_t>((c - bufStart) * bps));
    if (candidate < 0) {
      candidate = matchHeader(sector, &limit);
      if (candidate < 0) {
        page.UpdateScanStatistics(c, static_cast<uint32_t>(g_AppState.ntfsFolderCount), carved, shownName,
                                  &counter, 'e');
        ++c;
        continue;
      }
      candidateStart = c;
      nextHeader = 0;
      steps = 0;
      markerFound = markerEnabled = 0;
      page.SetOleSubtype(u"");
    }
    if (c > candidateStart && nextHeader == 0 && matchHeader(sector, nullptr) >= 0) nextHeader = c;
    const int r = DetermineCarvedExtent(sector, candidate, &length, &carvedName, &number, candidateStart, c,
                                        &markerFound, &markerEnabled);
    bool restart = false;
    if (r == kExtentDecided && markerFound == 1 && markerEnabled == 0) {
      restart = true;  // a compound file of a kind that is not ticked
    } else {
      if (r == kExtentDecided) {
        const int w = WriteCarvedFile(candidateStart, candidateStart + length, carvedName, number, &shownName);
        if (w == kCarveStopRun) {
          page.job.requestStop();
          progress(bufStart + bufCount);
          stopped = true;
          break;
        }
        if (w == kCarveWritten) ++carved;
        if (w == kCarveFailed) ++failed;
        candidate = -1;
      }
      ++steps;
      restart = steps >= limit || r == kExtentDrop;
    }
    if (restart) {
      // Back to the sector after the header: the scan resumes at the first
      // header met since, or after this sector when there was none. What is
      // still in memory is not read again.
      candidate = -1;
      const uint64_t s = nextHeader ? nextHeader : c + 1;
      if (s < bufStart && s < end) fill(s);
      c = s;
      continue;
    }
    page.UpdateScanStatistics(c, static_cast<uint32_t>(g_AppState.ntfsFolderCount), carved, shownName, &counter,
                              'e');
    ++c;
  }
  if (!stopped && bufCount > 0) {
    progress(bufStart + bufCount);
    stopped = page.job.checkpoint();
  }
  buffer = {};
  finish(stopped);
}

}  // namespace qm
