#include "diskio/sector_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <set>
#include <signal.h>
#include <sys/resource.h>
#include <thread>

#include "diskio_test_util.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::DisksScope;
using test::PatternSectors;
using test::WritePattern;

constexpr uint32_t kBps = 512;
constexpr const char* kDrive0 = "\\\\.\\PhysicalDrive0";
constexpr const char* kDrive1 = "\\\\.\\PhysicalDrive1";

// Device reads that fail where a disk has bad spots: "weak" sectors fail
// only inside a multi-sector read, "dead" ones every time. A failing read
// scribbles over the buffer first, as a real failed transfer may.
struct FaultSource {
  std::set<uint64_t> weak, dead;
  std::atomic<int> reads{0};

  DeviceReadHook Hook() {
    return [this](File& f, void* buf, size_t n, uint64_t off) -> int64_t {
      ++reads;
      for (uint64_t s = off / kBps; s < (off + n) / kBps; ++s) {
        if (dead.count(s) || (n > kBps && weak.count(s))) {
          std::memset(buf, 0xEE, n);
          return -1;
        }
      }
      return f.readAt(buf, n, off);
    };
  }
};

struct ChunkCase {
  const char* name;
  uint32_t count;
  std::set<uint64_t> weak, dead;
  int standing;  // g_BadSectorChoice before the read
  int answer;    // what the user picks when asked
  int result;
  int dialogs;
  std::set<uint64_t> zeroed;  // sectors expected to be zero afterwards
};

std::set<uint64_t> Range(uint64_t a, uint64_t b) {
  std::set<uint64_t> s;
  for (uint64_t i = a; i < b; ++i) s.insert(i);
  return s;
}

class SectorIo : public test::ReaderStateTest {};

void PrintTo(const ChunkCase& c, std::ostream* os) { *os << c.name; }

class ReadSectorsChunks : public test::ReaderStateTest, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(ReadSectorsChunks, FailedChunksFollowTheChoice) {
  const ChunkCase& c = GetParam();
  test::TempDir dir;
  const std::string disk = dir.file("disk.img");
  WritePattern(disk, 0, 200);
  DisksScope disks(disk);
  FaultSource faults;
  faults.weak = c.weak;
  faults.dead = c.dead;
  SetDeviceReadHook(faults.Hook());
  test::ScriptedPrompt prompt;
  prompt.defaultBadSectorChoice = c.answer;
  test::PromptScope scope(&prompt);
  g_BadSectorChoice = c.standing;

  std::vector<uint8_t> buf(size_t{c.count} * kBps, 0xCC);
  EXPECT_EQ(ReadSectors(kDrive0, 0, c.count, buf.data()), c.result);
  EXPECT_EQ(prompt.badSectorDialogs, c.dialogs);
  const auto want = PatternSectors(0, c.count, kBps);
  for (uint32_t s = 0; s < c.count; ++s) {
    const bool zero = c.zeroed.count(s) > 0;
    const uint8_t* got = buf.data() + size_t{s} * kBps;
    if (zero)
      EXPECT_TRUE(std::all_of(got, got + kBps, [](uint8_t b) { return b == 0; })) << "sector " << s;
    else
      EXPECT_EQ(0, std::memcmp(got, want.data() + size_t{s} * kBps, kBps)) << "sector " << s;
  }
  if (c.dialogs > 0) {
    EXPECT_EQ(g_BadSectorChoice, c.answer);
  }
}

// 0 Retry, 1 Skip, 2 Retry All, 3 Skip All.
INSTANTIATE_TEST_SUITE_P(
    Table, ReadSectorsChunks,
    ::testing::Values(
        ChunkCase{"Clean40", 40, {}, {}, 0, 0, 1, 0, {}},
        ChunkCase{"Clean41", 41, {}, {}, 0, 0, 1, 0, {}},
        ChunkCase{"Clean80", 80, {}, {}, 0, 0, 1, 0, {}},
        ChunkCase{"One40Retry", 40, {5}, {7}, 0, 0, 0, 1, {7}},
        ChunkCase{"One40Skip", 40, {5}, {7}, 0, 1, 0, 1, Range(0, 40)},
        ChunkCase{"One40RetryAll", 40, {5}, {7}, 0, 2, 0, 1, {7}},
        ChunkCase{"One40SkipAll", 40, {5}, {7}, 0, 3, 0, 1, Range(0, 40)},
        ChunkCase{"Rest41Retry", 41, {}, {40}, 0, 0, 0, 1, {40}},
        ChunkCase{"Rest41Skip", 41, {}, {40}, 0, 1, 0, 1, {40}},
        ChunkCase{"Rest41WeakOnlyReadsAlone", 41, {40}, {}, 0, 1, 1, 0, {}},
        // The first chunk failing fails the request even though the last one is fine.
        ChunkCase{"First80RetryAllRecovered", 80, {3}, {}, 0, 0, 0, 1, {}},
        ChunkCase{"First80Skip", 80, {3}, {4}, 0, 1, 0, 1, Range(0, 40)},
        ChunkCase{"Last80SkipAll", 80, {45}, {}, 0, 3, 0, 1, Range(40, 80)},
        ChunkCase{"Both80RetryAsksTwice", 80, {}, {3, 45}, 0, 0, 0, 2, {3, 45}},
        ChunkCase{"Both80SkipAsksTwice", 80, {}, {3, 45}, 0, 1, 0, 2, Range(0, 80)},
        ChunkCase{"Both80RetryAllAsksOnce", 80, {}, {3, 45}, 0, 2, 0, 1, {3, 45}},
        ChunkCase{"Both80SkipAllAsksOnce", 80, {}, {3, 45}, 0, 3, 0, 1, Range(0, 80)},
        ChunkCase{"StandingSkipAllNeverAsks", 80, {}, {3, 45}, 3, 0, 0, 0, Range(0, 80)},
        ChunkCase{"StandingRetryAllNeverAsks", 41, {}, {2, 40}, 2, 1, 0, 0, {2, 40}},
        // A Skip given before asks again at the next failure.
        ChunkCase{"StandingSkipStillAsks", 40, {}, {1}, 1, 0, 0, 1, {1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SectorIo, ReadLimitTestsOnlyTheFirstSector) {
  test::TempDir dir;
  const std::string disk = dir.file("disk.img");
  WritePattern(disk, 0, 100);
  DisksScope disks(disk);
  FaultSource counter;
  SetDeviceReadHook(counter.Hook());
  struct Row {
    uint64_t limit, first;
    uint32_t count;
    int result;
    bool read;
  };
  const uint64_t L = 50;
  for (const Row& r : {Row{L, L - 1, 10, 1, true}, Row{L, L, 1, 1, true}, Row{L, L + 1, 3, 0, false},
                       Row{0, 90, 10, 1, true}, Row{~uint64_t{0}, 90, 10, 1, true}}) {
    SCOPED_TRACE(testing::Message() << "limit " << r.limit << " first " << r.first);
    g_RangeEndSector = r.limit;
    counter.reads = 0;
    std::vector<uint8_t> buf(size_t{r.count} * kBps, 0xCC);
    EXPECT_EQ(ReadSectors(kDrive0, r.first, r.count, buf.data()), r.result);
    EXPECT_EQ(counter.reads > 0, r.read);
    EXPECT_EQ(buf, r.read ? PatternSectors(r.first, r.count, kBps) : std::vector<uint8_t>(buf.size(), 0));
  }
}

TEST_F(SectorIo, CleanRequestIsOneTransferAndAFailedOneIsReadInChunks) {
  test::TempDir dir;
  const std::string disk = dir.file("disk.img");
  WritePattern(disk, 0, 600);
  DisksScope disks(disk);
  FaultSource faults;
  SetDeviceReadHook(faults.Hook());
  test::ScriptedPrompt prompt;
  prompt.defaultBadSectorChoice = 0;
  test::PromptScope scope(&prompt);

  std::vector<uint8_t> buf(520 * kBps, 0xCC);
  EXPECT_EQ(ReadSectors(kDrive0, 10, 520, buf.data()), 1);
  EXPECT_EQ(faults.reads, 1);
  EXPECT_EQ(buf, PatternSectors(10, 520, kBps));

  // A bad sector: the request is read again in chunks, one question for
  // the chunk that holds it, and Retry reads that chunk sector by sector.
  faults.dead = {300};
  faults.reads = 0;
  std::fill(buf.begin(), buf.end(), 0xCC);
  EXPECT_EQ(ReadSectors(kDrive0, 10, 520, buf.data()), 0);
  EXPECT_EQ(faults.reads, 1 + 13 + 40);
  EXPECT_EQ(prompt.badSectorDialogs, 1);
  auto want = PatternSectors(10, 520, kBps);
  std::fill_n(want.begin() + (300 - 10) * kBps, kBps, 0);
  EXPECT_EQ(buf, want);
}

TEST_F(SectorIo, EndOfDeviceZeroFillsAndFailsWithoutAsking) {
  test::TempDir dir;
  const std::string disk = dir.file("disk.img");
  WritePattern(disk, 0, 100);
  DisksScope disks(disk);
  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  std::vector<uint8_t> buf(50 * kBps, 0xCC);
  EXPECT_EQ(ReadSectors(kDrive0, 70, 50, buf.data()), 0);
  auto want = PatternSectors(70, 30, kBps);
  want.resize(buf.size(), 0);
  EXPECT_EQ(buf, want);
  std::vector<uint8_t> past(4 * kBps, 0xCC);
  EXPECT_EQ(ReadSectors(kDrive0, 1000, 4, past.data()), 0);
  EXPECT_EQ(past, std::vector<uint8_t>(past.size(), 0));
  EXPECT_EQ(prompt.badSectorDialogs, 0);
  EXPECT_EQ(ReadSectors(kDrive0, 99, 0, nullptr), 1);  // nothing asked, nothing moved
}

TEST_F(SectorIo, PathsInTurnReopenAndAFailedOpenStaysCached) {
  test::TempDir dir;
  const std::string a = dir.file("a.img"), b = dir.file("b.img");
  WritePattern(a, 0, 20, kBps, 1);
  DisksScope disks(a + ":" + b);  // b does not exist yet
  std::vector<uint8_t> buf(4 * kBps, 0xCC);

  EXPECT_EQ(ReadSectors(kDrive1, 0, 4, buf.data()), 0);
  EXPECT_EQ(buf, std::vector<uint8_t>(buf.size(), 0));
  WritePattern(b, 0, 20, kBps, 2);
  EXPECT_EQ(ReadSectors(kDrive1, 0, 4, buf.data()), 0) << "the failed open is remembered";
  EXPECT_EQ(ReadSectors(kDrive0, 4, 4, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(4, 4, kBps, 1));
  EXPECT_EQ(ReadSectors(kDrive1, 4, 4, buf.data()), 1) << "another path replaced the failure";
  EXPECT_EQ(buf, PatternSectors(4, 4, kBps, 2));
  EXPECT_EQ(ReadSectors(kDrive0, 8, 4, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(8, 4, kBps, 1));
  EXPECT_EQ(ReadSectors("\\\\.\\PhysicalDrive7", 0, 4, buf.data()), 0);  // nothing stands there
}

TEST_F(SectorIo, AnImageReplacedAtItsPathIsReadAnewOnceTheDisksAreListedAgain) {
  test::TempDir dir;
  const std::string a = dir.file("a.img");
  WritePattern(a, 0, 20, kBps, 1);
  DisksScope disks(a);
  std::vector<uint8_t> buf(4 * kBps, 0xCC);
  ASSERT_EQ(ReadSectors(kDrive0, 0, 4, buf.data()), 1);
  ASSERT_EQ(buf, PatternSectors(0, 4, kBps, 1));

  // Another image now stands at the same path, as when one is made again.
  ASSERT_EQ(std::remove(a.c_str()), 0);
  WritePattern(a, 0, 20, kBps, 2);
  DeviceMap::Instance().Refresh();
  EXPECT_EQ(ReadSectors(kDrive0, 0, 4, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(0, 4, kBps, 2)) << "read through the removed file's handle";
}

TEST_F(SectorIo, ThreadsSwitchingPathsEachGetTheirOwnDisk) {
  test::TempDir dir;
  const std::string a = dir.file("a.img"), b = dir.file("b.img");
  WritePattern(a, 0, 64, kBps, 1);
  WritePattern(b, 0, 64, kBps, 2);
  DisksScope disks(a + ":" + b);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const char* path = t % 2 ? kDrive1 : kDrive0;
      const uint8_t tag = t % 2 ? 2 : 1;
      std::vector<uint8_t> buf(8 * kBps);
      for (int i = 0; i < 400; ++i) {
        const uint64_t first = static_cast<uint64_t>((i * 7 + t) % 56);
        if (ReadSectors(path, first, 8, buf.data()) != 1 || buf != PatternSectors(first, 8, kBps, tag)) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(SectorIo, ReadLimitZeroFillUsesVirtualSectorSize) {
  // Virtual disks are read in 512-byte sectors whatever the source's size says.
  g_VirtualDiskSource = 1;
  g_BytesPerSector = 4096;
  g_RangeEndSector = 10;
  std::vector<uint8_t> buf(4 * 512, 0xCC);
  buf.resize(buf.size() + 64, 0xAB);  // canary
  EXPECT_EQ(ReadSectors(kDrive0, 11, 4, buf.data()), 0);
  EXPECT_TRUE(std::all_of(buf.begin(), buf.begin() + 4 * 512, [](uint8_t v) { return v == 0; }));
  EXPECT_TRUE(std::all_of(buf.begin() + 4 * 512, buf.end(), [](uint8_t v) { return v == 0xAB; }));
}

TEST_F(SectorIo, WriteSectorsWritesChunksAndRest) {
  test::TempDir dir;
  const std::string target = dir.file("target.img");
  test::WriteBytes(target, 0, {});
  DisksScope disks(target + ":" + dir.file("missing.img"));
  const auto data = PatternSectors(3, 81, kBps, 5);
  EXPECT_EQ(WriteSectors(kDrive0, 3, 81, data.data()), 1);
  std::vector<uint8_t> back(81 * kBps);
  EXPECT_EQ(ReadSectors(kDrive0, 3, 81, back.data()), 1);
  EXPECT_EQ(back, data);
  EXPECT_EQ(WriteSectors(kDrive1, 0, 1, data.data()), 0);
  EXPECT_EQ(WriteSectors("\\\\.\\PhysicalDrive5", 0, 1, data.data()), 0);
}

// How many of this process's open descriptors name path.
int OpenHandlesOf(const std::string& path) {
  const auto want = std::filesystem::canonical(path);
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(e.path(), ec) == want) ++n;
  }
  return n;
}

// A job's writes go through one handle that stays open between calls and is
// synced and closed once, when the job ends its writing.
TEST_F(SectorIo, WriteSectorsKeepsOneHandleUntilTheJobEnds) {
  test::TempDir dir;
  const std::string a = dir.file("a.img"), b = dir.file("b.img");
  test::WriteBytes(a, 0, {});
  test::WriteBytes(b, 0, {});
  DisksScope disks(a + ":" + b);
  const auto data = PatternSectors(0, 120, kBps, 3);
  for (uint32_t at = 0; at < 120; at += 40) {
    EXPECT_EQ(WriteSectors(kDrive0, at, 40, data.data() + size_t{at} * kBps), 1);
    EXPECT_EQ(OpenHandlesOf(a), 1);
  }
  EXPECT_TRUE(SyncSectorWriter());
  EXPECT_EQ(OpenHandlesOf(a), 1);
  // Another target ends the first one.
  EXPECT_EQ(WriteSectors(kDrive1, 0, 1, data.data()), 1);
  EXPECT_EQ(OpenHandlesOf(a), 0);
  EXPECT_EQ(OpenHandlesOf(b), 1);
  EXPECT_TRUE(EndSectorWriting());
  EXPECT_EQ(OpenHandlesOf(b), 0);
  EXPECT_TRUE(EndSectorWriting());  // nothing open: nothing to fail
  std::vector<uint8_t> back(120 * kBps);
  EXPECT_EQ(ReadSectors(kDrive0, 0, 120, back.data()), 1);
  EXPECT_EQ(back, data);
  // A target that cannot be opened fails each call and holds nothing.
  std::filesystem::remove(b);
  EXPECT_EQ(WriteSectors(kDrive1, 0, 1, data.data()), 0);
  EXPECT_EQ(WriteSectors(kDrive1, 0, 1, data.data()), 0);
  test::WriteBytes(b, 0, {});
  EXPECT_EQ(WriteSectors(kDrive1, 0, 1, data.data()), 1);
  EXPECT_TRUE(EndSectorWriting());
}

TEST_F(SectorIo, WriteSectorsReportsAFailedChunkAndWritesWhatFits) {
  test::TempDir dir;
  const std::string target = dir.file("target.img");
  test::WriteBytes(target, 0, {});
  DisksScope disks(target);
  // A file-size limit makes every write past sector 50 fail.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 50 * kBps;
  ::setrlimit(RLIMIT_FSIZE, &small);
  const auto data = PatternSectors(0, 80, kBps, 9);
  const int result = WriteSectors(kDrive0, 0, 80, data.data());
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &old, nullptr);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(std::filesystem::file_size(target), 50u * kBps);
  std::vector<uint8_t> back(50 * kBps);
  EXPECT_EQ(ReadSectors(kDrive0, 0, 50, back.data()), 1);
  EXPECT_EQ(0, std::memcmp(back.data(), data.data(), back.size()));
}

// Entry 0 names a logical drive or the first disk, and nothing of an older,
// longer name stays behind its end.
TEST(DevicePath0, LetterOrFirstDiskWithZerosToTheEnd) {
  char saved[sizeof g_DevicePathTable[0]];
  std::memcpy(saved, g_DevicePathTable[0], sizeof saved);
  struct Case {
    char letter;
    const char* path;
  };
  for (const Case& c : {Case{'E', "\\\\.\\E:"}, Case{0, kDrive0}, Case{'c', "\\\\.\\c:"}}) {
    std::memset(g_DevicePathTable[0], 'x', sizeof g_DevicePathTable[0]);
    SetDevicePath0(c.letter);
    char want[sizeof g_DevicePathTable[0]] = {};
    std::strcpy(want, c.path);
    EXPECT_EQ(std::memcmp(g_DevicePathTable[0], want, sizeof want), 0) << c.path;
  }
  std::memcpy(g_DevicePathTable[0], saved, sizeof saved);
}

TEST_F(SectorIo, SeekFile64MovesByMethod) {
  test::TempDir dir;
  WritePattern(dir.file("f"), 0, 4);
  File f;
  ASSERT_TRUE(f.open(dir.file("f"), File::Mode::Read));
  EXPECT_EQ(SeekFile64(f, 1000, FILE_BEGIN), 1000);
  EXPECT_EQ(SeekFile64(f, 24, FILE_CURRENT), 1024);
  EXPECT_EQ(SeekFile64(f, -48, FILE_END), 4 * 512 - 48);
  EXPECT_EQ(SeekFile64(f, -1, FILE_BEGIN), -1);
  File closed;
  EXPECT_EQ(SeekFile64(closed, 0, FILE_BEGIN), -1);
}

}  // namespace
}  // namespace qm
