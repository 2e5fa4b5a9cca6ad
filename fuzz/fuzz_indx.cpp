// INDX blocks found anywhere on a disk by the deep scan. The input's first
// byte picks the block's size (1 to 8 strides of 512 bytes); the rest are the
// block's directory entries as they read once the fix-ups are applied. The
// target wraps them in a valid block header and update sequence array, as a
// disk holds them, so the entry walk sees the fuzzed entries instead of the
// header checks rejecting nearly every input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engines/deep_lists.h"
#include "engines/ntfs_deep_scan.h"
#include "engines/ntfs_records.h"
#include "platform/byte_reader.h"

namespace {

constexpr size_t kStride = 512;
constexpr size_t kIndexHeader = 0x18;  // first entry, bytes in use, allocated
constexpr size_t kUsa = 0x28;
constexpr size_t kEntries = 0x40;  // the first entry, after an array for 8 strides
constexpr uint16_t kUsn = 0x0102;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t strides = 1 + data[0] % 8;
  std::vector<uint8_t> block(strides * kStride, 0);
  std::memcpy(block.data(), "INDX", 4);
  qm::PutLe16(&block[4], kUsa);
  qm::PutLe16(&block[6], uint16_t(strides + 1));
  qm::PutLe64(&block[16], 0);  // VCN
  qm::PutLe32(&block[kIndexHeader], kEntries - kIndexHeader);
  const size_t entries = std::min(size - 1, block.size() - kEntries);
  std::memcpy(&block[kEntries], data + 1, entries);
  qm::PutLe32(&block[kIndexHeader + 4], uint32_t(kEntries - kIndexHeader + entries));
  qm::PutLe32(&block[kIndexHeader + 8], uint32_t(block.size() - kIndexHeader));
  // Fix-ups as written: each stride's last two bytes move into the array.
  qm::PutLe16(&block[kUsa], kUsn);
  for (size_t i = 0; i < strides; ++i) {
    const size_t end = (i + 1) * kStride - 2;
    std::memcpy(&block[kUsa + 2 + 2 * i], &block[end], 2);
    qm::PutLe16(&block[end], kUsn);
  }
  const std::vector<uint8_t> written = block;

  uint32_t owner = 0, vcn = 0;
  qm::ReadIndexBlockOwner(block, &owner, &vcn);
  bool intact = false;
  qm::ApplyFixups(block, &intact);
  qm::ReadIndexBlockOwner(block, &owner, &vcn);
  qm::IndexBlockSpan(block);
  std::vector<qm::IndexDirectoryEntry> found;
  qm::ReadIndexDirectoryEntries(block, found);
  // The folders the entries name, numbered from the same entries.
  std::vector<qm::NtfsFolderRecord> folders(found.size());
  std::vector<qm::NtfsFolderRecord*> unnumbered;
  for (size_t i = 0; i < found.size(); ++i) {
    folders[i].name = found[i].name;
    folders[i].parentKey = found[i].parent;
    folders[i].times[2] = found[i].created[0];
    folders[i].times[3] = found[i].created[1];
    unnumbered.push_back(&folders[i]);
  }
  qm::FolderNumberMatcher matcher(unnumbered);
  for (const qm::IndexDirectoryEntry& e : found) matcher.Offer(e);

  // The block as the deep scan meets it on a disk: whole, from the bytes
  // as written.
  qm::NtfsSectorExaminer examiner(kStride, [&](uint64_t at, size_t n) {
    std::vector<uint8_t> out(n, 0);
    for (size_t i = 0; i < n && at + i < written.size(); ++i) out[i] = written[at + i];
    return out;
  });
  examiner.Examine(written, 0);
  qm::ClearNtfsLists();
  return 0;
}
