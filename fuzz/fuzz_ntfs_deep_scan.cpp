// The deep scan reads every sector of a damaged or formatted disk: whatever
// it meets must end in findings or nothing, never a crash, a hang or a read
// outside the bytes it was given. The input is a run of sectors (512 or
// 4096 bytes, chosen by its first byte); records that run past its end come
// back as zeros. What was found then goes through the numbering and the dump.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/deep_scan_dump.h"
#include "engines/ntfs_deep_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  const uint32_t bps = (data[0] & 1) ? 4096 : 512;
  std::span<const uint8_t> disk(data, size);
  std::span<const uint8_t> whole = disk.first(size - size % bps);

  qm::NtfsSectorExaminer examiner(bps, [&](uint64_t at, size_t n) {
    std::vector<uint8_t> out(n, 0);
    for (size_t i = 0; i < n && at + i < size; ++i) out[i] = data[at + i];
    return out;
  });
  examiner.Examine(whole, 0);

  std::vector<qm::NtfsFolderRecord*> unnumbered;
  std::vector<uint32_t*> folderKeys, fileKeys;
  for (qm::NtfsFolderRecord& f : qm::NtfsFolders()) {
    if (f.ownKey == 0) unnumbered.push_back(&f);
    folderKeys.push_back(&f.ownKey);
  }
  for (qm::NtfsFileRecord& f : qm::NtfsFiles()) fileKeys.push_back(&f.ownKey);
  qm::FolderNumberMatcher matcher(unnumbered);
  for (const auto& block : examiner.blockEntries())
    for (const qm::IndexDirectoryEntry& e : block) matcher.Offer(e);
  qm::NumberRecordsByPosition(examiner.folderPositions(), folderKeys, examiner.filePositions(), fileKeys, {});
  qm::DumpSelectedFileSystem(0);

  // The entry walk over the raw input as a block of its own.
  std::vector<qm::IndexDirectoryEntry> entries;
  qm::ReadIndexDirectoryEntries(disk, entries);
  qm::IndexBlockSpan(disk);
  qm::AcceptedMftRecordSize(disk);
  qm::ReadNtfsBootValues(disk, bps, nullptr);

  qm::ClearCatalog();
  qm::ClearNtfsLists();
  qm::ClearFileSystemList();
  qm::ResetAppState();
  return 0;
}
