#include "engines/deep_lists.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "diskio/sector_io.h"
#include "engines/ntfs_records.h"
#include "platform/byte_reader.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

class DeepListsTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override {
    Reset();
    ::setenv("QUILLMOREN_DISKS", "", 1);
    DeviceMap::Instance().Refresh();
  }
  static void Reset() {
    ClearNtfsLists();
    ClearFileSystemList();
    ClearCatalog();
    ResetAppState();
  }

  // A sparse image presented as disk 0, with INDX blocks written on demand.
  void MakeImage(uint64_t sizeBytes) {
    image_ = dir_.file("disk.img");
    File f;
    ASSERT_TRUE(f.open(image_, File::Mode::CreateTruncate));
    ASSERT_EQ(::ftruncate(f.fd(), static_cast<off_t>(sizeBytes)), 0);
    ::setenv("QUILLMOREN_DISKS", image_.c_str(), 1);
    DeviceMap::Instance().Refresh();
    g_SelectedDiskIndex = 0;
    g_BytesPerSector = 512;
  }
  void WriteIndx(uint64_t sector, uint32_t owner) {
    uint8_t b[512] = {};
    b[0] = 'I', b[1] = 'N', b[2] = 'D', b[3] = 'X';
    PutLe32(b + 24, 40);    // first entry, from the index header at 24
    PutLe32(b + 28, 200);   // used size
    PutLe32(b + 32, 4072);  // allocated size
    PutLe16(b + 64 + 8, 100);
    PutLe32(b + 80, owner);  // parent reference in the first entry's key
    File f;
    ASSERT_TRUE(f.open(image_, File::Mode::ReadWrite));
    ASSERT_EQ(f.writeAt(b, sizeof b, sector * 512), 512);
  }

  test::TempDir dir_;
  std::string image_;
};

// The claiming rule spelled out folder by folder, with none of the indexing:
// the reference FolderAssigner is held to. Each unassigned folder recorded in
// (first, end] whose INDX block (first + LCN x spc; its owner taken from known
// inside known's sectors, else read) names the folder goes to the next file
// system, and the first unclaimed block entry at that sector is marked,
// looking no further than the first unclaimed entry past end.
int ClaimFoldersOneByOne(IndexBlockList& blocks, uint32_t spc, uint64_t first, uint64_t end,
                         const KnownIndexBlocks& known) {
  auto ownerAt = [&](uint64_t at, uint32_t* owner) {
    if (known.first <= at && at < known.end) {
      auto it = known.owners.find(at);
      if (it == known.owners.end()) return false;
      *owner = it->second;
      return true;
    }
    std::vector<uint8_t> bytes(512, 0);
    ReadSectors(SelectedDevicePath(), at, 1, bytes.data());
    uint32_t vcn = 0;
    return std::equal(bytes.begin(), bytes.begin() + 4, "INDX") && ReadIndexBlockOwner(bytes, owner, &vcn) != 0;
  };
  const int32_t number = g_AppState.fileSystemCount + 1;
  int result = 0;
  for (NtfsFolderRecord& folder : NtfsFolders()) {
    if (folder.recordSector <= first || folder.recordSector > end) continue;
    if (folder.fileSystemNumber != 0 || folder.indexLcn == 0) continue;
    const uint64_t at = first + static_cast<uint64_t>(folder.indexLcn) * spc;
    uint32_t owner = 0;
    if (!ownerAt(at, &owner) || owner != folder.ownKey) continue;
    folder.fileSystemNumber = number;
    result = 1;
    for (IndexBlockRecord& b : blocks) {
      if (b.sector == kClaimedIndexBlock) continue;
      if (b.sector > end) break;
      if (b.sector == at) {
        b.sector = kClaimedIndexBlock;
        break;
      }
    }
  }
  return result;
}

std::vector<std::u16string> FolderNames() {
  std::vector<std::u16string> v;
  for (const NtfsFolderRecord& r : NtfsFolders()) v.push_back(r.name);
  return v;
}

TEST_F(DeepListsTest, AppendsKeepOrderTailAndCounts) {
  g_AppState.fileCount = 7;
  AppendNtfsFolder(u"a", 'n', 5, 30, 100, {1, 2, 3, 4, 5, 6}, 9, 0);
  AppendNtfsFolderNoCount(u"b", 'y', 5, 31, 101, {}, 0, 2);
  AppendNtfsFolder(u"c", 'n', 30, 32, 1ULL << 40, {}, 0, 0);
  AppendNtfsFile(u"f", 'n', 1ULL << 35, 30, 40, 5000, {});
  AppendNtfsFile(u"g", 'y', 3, 30, 41, 5001, {});

  EXPECT_EQ(FolderNames(), (std::vector<std::u16string>{u"a", u"b", u"c"}));
  EXPECT_EQ(g_AppState.ntfsFolderCount, 2);
  EXPECT_EQ(g_AppState.ntfsFolderTail->name, u"c");
  EXPECT_EQ(g_AppState.ntfsFolderTail->recordSector, 1ULL << 40);
  EXPECT_EQ(g_AppState.ntfsFolderList->times[5], 6u);
  EXPECT_EQ(g_AppState.ntfsFolderList->indexLcn, 9u);
  EXPECT_EQ(g_AppState.ntfsFileCount, 2);
  EXPECT_EQ(g_AppState.ntfsFileList->size, 1ULL << 35);
  for (const NtfsFileRecord& r : NtfsFiles()) EXPECT_EQ(r.stamp, 7);

  // A caller starts a new list by dropping the head.
  g_AppState.ntfsFolderList = nullptr;
  AppendNtfsFolder(u"new", 'n', 5, 50, 1, {}, 0, 0);
  EXPECT_EQ(FolderNames(), (std::vector<std::u16string>{u"new"}));
  EXPECT_EQ(g_AppState.ntfsFolderTail, g_AppState.ntfsFolderList);
  EXPECT_EQ(NtfsFolderAt(1), nullptr);

  NtfsBootList boots;
  FatBootList fats;
  IndexBlockList blocks;
  AppendNtfsBoot(boots, 63, 8, 8, 2, 1000000, 4, 500000);
  AppendFatBoot(fats, 2048, 100, 4, 32, 1, 2249, 2273, 2049, 2149, 90000, u"FAT16");
  AppendFatBoot(fats, 4096, 100, 4, 0, 32, 2, 4120, 4128, 4228, 90000, u"a-name-longer-than-ten");
  AppendIndexBlock(blocks, 7, 30, 0, -1);
  EXPECT_EQ(g_AppState.bootSectorCount, 3);
  EXPECT_EQ(g_AppState.indexBlockCount, 1);
  EXPECT_EQ(boots.head()->mftMirrorCluster, 500000u);
  EXPECT_EQ(std::u16string(fats.head()->name), u"FAT16");
  EXPECT_EQ(std::u16string(fats.tail()->name), u"a-name-lo");  // cut to fit, terminated
  EXPECT_EQ(fats.head()->next, fats.tail());

  AppendFileSystem(1ULL << 33, (1ULL << 33) + 5000, 8, u"NTFS", 0, 0, 0, 0, 0, 0, 0, 2, 8);
  AppendFileSystem(63, 1000, 4, u"FAT32", 100, 0, 2, 32, 287, 95, 195, 0, 0);
  ASSERT_NE(g_AppState.fileSystemList, nullptr);
  EXPECT_EQ(g_AppState.fileSystemList->firstSector, 1ULL << 33);
  EXPECT_EQ(std::u16string(g_AppState.fileSystemList->next->name), u"FAT32");
  EXPECT_EQ(g_AppState.fileSystemCount, 0);  // the callers keep it
}

TEST_F(DeepListsTest, FindUnassignedFolderPositions) {
  for (int32_t fs : {1, 0, -1, 0, 2}) AppendNtfsFolder(u"x", 'n', 5, 6, 7, {}, 0, fs);
  const struct {
    int32_t n, expected;
  } cases[] = {{0, 1}, {1, 1}, {2, 3}, {3, 3}, {4, -1}, {5, -1}, {99, -1}, {-1, -1}};
  for (const auto& c : cases) EXPECT_EQ(FindUnassignedFolder(c.n), c.expected) << "n=" << c.n;
  ClearNtfsLists();
  EXPECT_EQ(FindUnassignedFolder(0), -1);
}

TEST_F(DeepListsTest, AssignFoldersClaimsByIndexBlockOwner) {
  MakeImage(1 << 20);
  const uint64_t first = 100, end = 1000;
  const uint32_t spc = 4;
  WriteIndx(first + 10 * spc, 30);
  WriteIndx(first + 20 * spc, 31);
  WriteIndx(first + 30 * spc, 99);
  WriteIndx(first + 40 * spc, 33);
  WriteIndx(first + 60 * spc, 36);
  struct {
    const char16_t* name;
    uint64_t sector;
    uint32_t lcn, own;
    int32_t fs;
    int32_t expected;
  } folders[] = {
      {u"at first sector", first, 10, 30, 0, 0},
      {u"at end sector", end, 20, 31, 0, 3},
      {u"other owner", 500, 30, 32, 0, 0},
      {u"rejected", 500, 40, 33, -1, -1},
      {u"no index", 500, 0, 34, 0, 0},
      {u"nothing there", 500, 50, 35, 0, 0},
      {u"past end", end + 1, 60, 36, 0, 0},
      {u"inside", 600, 60, 36, 0, 3},
  };
  for (const auto& f : folders) AppendNtfsFolder(f.name, 'n', 5, f.own, f.sector, {}, f.lcn, f.fs);
  g_AppState.fileSystemCount = 2;

  IndexBlockList blocks;
  AppendIndexBlock(blocks, first + 10 * spc, 30, 0, -1);
  AppendIndexBlock(blocks, first + 20 * spc, 31, 0, -1);
  AppendIndexBlock(blocks, 2000, 77, 0, -1);  // past the end: the search stops here
  AppendIndexBlock(blocks, first + 60 * spc, 36, 0, -1);

  test::RecordingHost host;
  g_AppState.scanPage = &host;
  EXPECT_EQ(AssignFoldersToFileSystem(blocks, spc, first, end), 1);
  size_t i = 0;
  for (const NtfsFolderRecord& r : NtfsFolders()) {
    EXPECT_EQ(r.fileSystemNumber, folders[i].expected) << Utf16ToUtf8(r.name);
    ++i;
  }
  std::vector<uint64_t> sectors;
  for (const IndexBlockRecord& b : blocks) sectors.push_back(b.sector);
  EXPECT_EQ(sectors, (std::vector<uint64_t>{first + 40, kClaimedIndexBlock, 2000, first + 240}));
  EXPECT_EQ(host.progress[kScanProgressBar], 100);
  EXPECT_EQ(host.texts[kScanSectorLine], u"Assigning File system : 8/8");

  // Nothing left to claim.
  EXPECT_EQ(AssignFoldersToFileSystem(blocks, spc, first, end), 0);
  g_AppState.scanPage = nullptr;
}

TEST_F(DeepListsTest, AssignFoldersWithoutBlocksOrCountsAndFarSectors) {
  // The volume starts beyond sector 2^32: the INDX sector needs 64 bits.
  const uint64_t first = (1ULL << 32) + 16;
  MakeImage((first + 4096) * 512);
  WriteIndx(first + 8 * 3, 40);
  WriteIndx((first + 8 * 3) & 0xFFFFFFFFu, 41);  // where a 32-bit sum would land
  AppendNtfsFolderNoCount(u"far", 'n', 5, 40, first + 1, {}, 3, 0);  // count stays 0
  IndexBlockList none;
  test::RecordingHost host;
  g_AppState.scanPage = &host;
  EXPECT_EQ(AssignFoldersToFileSystem(none, 8, first, first + 4000), 1);
  EXPECT_EQ(g_AppState.ntfsFolderList->fileSystemNumber, 1);
  EXPECT_EQ(host.progress[kScanProgressBar], 100);
  g_AppState.scanPage = nullptr;

  ClearNtfsLists();
  EXPECT_EQ(AssignFoldersToFileSystem(none, 8, first, first + 4000), 0);
}

TEST_F(DeepListsTest, AssignFoldersStopsWhenTheJobIsStopped) {
  MakeImage(1 << 20);
  WriteIndx(100 + 4, 30);
  WriteIndx(100 + 8, 31);
  AppendNtfsFolder(u"first", 'n', 5, 30, 200, {}, 1, 0);
  AppendNtfsFolder(u"second", 'n', 5, 31, 200, {}, 2, 0);
  IndexBlockList blocks;
  test::RecordingHost host;
  host.job.requestStop();
  g_AppState.scanPage = &host;
  EXPECT_EQ(AssignFoldersToFileSystem(blocks, 4, 100, 1000), 1);
  EXPECT_EQ(g_AppState.ntfsFolderList->fileSystemNumber, 1);
  EXPECT_EQ(g_AppState.ntfsFolderTail->fileSystemNumber, 0);
  g_AppState.scanPage = nullptr;
}

// The assigner, on its own and behind AssignFoldersToFileSystem, must reach
// exactly what the folder-by-folder rule reaches candidate by candidate: same
// returns, same folder numbers, same blocks marked, whether the owner comes
// from the known blocks or from a read outside them (and, without known
// blocks, from reads alone).
TEST_F(DeepListsTest, FolderAssignerMatchesTheWalkPerCandidate) {
  constexpr uint64_t kSectors = 4096;
  MakeImage(kSectors * 512);
  std::ptrdiff_t marksSorted = 0, marksShuffled = 0;
  int knownDiffersFromDisk = 0;
  for (uint32_t seed = 1; seed <= 16; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&](uint64_t n) { return static_cast<uint64_t>(rng() % n); };
    struct Boot {
      uint64_t first, end;
      uint32_t spc;
    };
    struct Folder {
      uint64_t sector;
      uint32_t own, lcn;
      int32_t fs;
    };
    std::vector<Boot> boots;
    for (int i = 0; i < 25; ++i) {
      const uint64_t first = pick(3000);
      boots.push_back({first, first + pick(seed % 2 ? 3000 : 600), 1u << pick(4)});
    }
    boots.push_back(boots[3]);  // the same candidate twice
    KnownIndexBlocks known;
    known.first = 64;
    known.end = 3000;
    std::vector<uint64_t> blockSectors;
    std::vector<Folder> folders;
    for (int i = 0; i < 60; ++i) {
      const Boot& b = boots[pick(boots.size())];
      const uint32_t own = 30 + static_cast<uint32_t>(pick(4));
      const uint32_t lcn = 1 + static_cast<uint32_t>(pick(seed % 3 ? 60 : 400));
      const uint64_t at = b.first + static_cast<uint64_t>(lcn) * b.spc;
      if (at < kSectors && pick(4) != 0) {
        WriteIndx(at, own);
        if (known.first <= at && at < known.end) known.owners[at] = own;
        blockSectors.push_back(at);
        if (pick(3) == 0) blockSectors.push_back(at);
      }
      const uint64_t sector = pick(3) == 0 ? b.first + pick(4) : b.first + 1 + pick(b.end - b.first + 2);
      const int32_t fs = pick(8) == 0 ? -1 : 0;
      folders.push_back({sector, own, pick(10) == 0 ? 0 : lcn, fs});
      if (pick(3) == 0) folders.push_back({sector + pick(50), own, lcn, 0});  // same key elsewhere
    }
    for (int i = 0; i < 10; ++i) {  // what no folder names
      const uint64_t at = pick(kSectors);
      WriteIndx(at, 30 + static_cast<uint32_t>(pick(4)));
      blockSectors.push_back(at);
    }
    const bool sorted = seed % 4 != 0;
    if (sorted)
      std::sort(blockSectors.begin(), blockSectors.end());
    else
      std::shuffle(blockSectors.begin(), blockSectors.end(), rng);

    struct Outcome {
      std::vector<int> returns;
      std::vector<int32_t> numbers;
      std::vector<uint64_t> blocks;
      bool operator==(const Outcome&) const = default;
    };
    enum class By { Rule, RuleReadingAll, Assigner, Wrapper, WrapperWithoutKnown };
    const KnownIndexBlocks nothingKnown;
    auto run = [&](By by) {
      ClearNtfsLists();
      ClearFileSystemList();
      for (const Folder& f : folders) AppendNtfsFolder(u"d", 'n', 5, f.own, f.sector, {}, f.lcn, f.fs);
      IndexBlockList blocks;
      for (uint64_t s : blockSectors) AppendIndexBlock(blocks, s, 0, 0, -1);
      Outcome out;
      FolderAssigner assigner(blocks, known);
      for (const Boot& b : boots) {
        int r = 0;
        switch (by) {
          case By::Rule: r = ClaimFoldersOneByOne(blocks, b.spc, b.first, b.end, known); break;
          case By::RuleReadingAll: r = ClaimFoldersOneByOne(blocks, b.spc, b.first, b.end, nothingKnown); break;
          case By::Assigner: r = assigner.Assign(b.spc, b.first, b.end); break;
          case By::Wrapper: r = AssignFoldersToFileSystem(blocks, b.spc, b.first, b.end, &known); break;
          case By::WrapperWithoutKnown: r = AssignFoldersToFileSystem(blocks, b.spc, b.first, b.end); break;
        }
        if (r) ++g_AppState.fileSystemCount;
        out.returns.push_back(r);
      }
      for (const NtfsFolderRecord& f : NtfsFolders()) out.numbers.push_back(f.fileSystemNumber);
      for (const IndexBlockRecord& b : blocks) out.blocks.push_back(b.sector);
      return out;
    };
    const Outcome walk = run(By::Rule);
    const Outcome readingAll = run(By::RuleReadingAll);
    const struct {
      const char* what;
      Outcome got;
      const Outcome& want;
    } pairs[] = {
        {"assigner", run(By::Assigner), walk},
        {"wrapper", run(By::Wrapper), walk},
        {"wrapper without known blocks", run(By::WrapperWithoutKnown), readingAll},
    };
    for (const auto& p : pairs) {
      const std::string where = "seed " + std::to_string(seed) + ", " + p.what;
      EXPECT_EQ(p.got.returns, p.want.returns) << where;
      EXPECT_EQ(p.got.numbers, p.want.numbers) << where;
      EXPECT_EQ(p.got.blocks, p.want.blocks) << where << (sorted ? " sorted" : " shuffled");
    }
    // The cases must reach claims and marks, or they prove nothing.
    EXPECT_GT(std::count(walk.returns.begin(), walk.returns.end(), 1), 2) << "seed " << seed;
    (sorted ? marksSorted : marksShuffled) += std::count(walk.blocks.begin(), walk.blocks.end(), kClaimedIndexBlock);
    knownDiffersFromDisk += readingAll == walk ? 0 : 1;
  }
  EXPECT_GT(marksSorted, 0);
  EXPECT_GT(marksShuffled, 0);
  // Else going without known blocks would be indistinguishable from using them.
  EXPECT_GT(knownDiffersFromDisk, 0);
}

}  // namespace
}  // namespace qm
