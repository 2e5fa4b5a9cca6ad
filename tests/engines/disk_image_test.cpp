#include "engines/disk_image.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

const std::string kTools = "PATH=/usr/sbin:/sbin:$PATH ";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Compares len bytes of two files at the given offsets, in large reads.
bool SameBytes(const std::string& a, uint64_t offA, const std::string& b, uint64_t offB, uint64_t len) {
  File fa, fb;
  if (!fa.open(a, File::Mode::Read) || !fb.open(b, File::Mode::Read)) return false;
  std::vector<char> ba(8 << 20), bb(8 << 20);
  for (uint64_t done = 0; done < len;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(ba.size(), len - done));
    if (fa.readAt(ba.data(), n, offA + done) != static_cast<int64_t>(n) ||
        fb.readAt(bb.data(), n, offB + done) != static_cast<int64_t>(n) || std::memcmp(ba.data(), bb.data(), n) != 0)
      return false;
    done += n;
  }
  return true;
}

std::string Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

// A FAT volume made by mkfs.fat with a few files copied in by mtools.
std::string MakeFatImage(const test::TempDir& dir, int kib) {
  const std::string img = dir.file("fat.img");
  Spill(dir.file("a.txt"), "first file\n");
  Spill(dir.file("b.bin"), Noise(300000, 7));
  if (test::Run(kTools + "mkfs.fat -C " + img + " " + std::to_string(kib) + " >/dev/null") != 0 ||
      test::Run("mmd -i " + img + " ::/dir && mcopy -i " + img + " " + dir.file("a.txt") + " ::/A.TXT && mcopy -i " +
                img + " " + dir.file("b.bin") + " ::/dir/B.BIN") != 0)
    return {};
  return img;
}

class CopyErrorPrompt : public test::ScriptedPrompt {
 public:
  int CopyErrorChoice(std::u16string_view) override {
    std::lock_guard l(m);
    ++copyErrors;
    if (copyAnswers.empty()) return 2;
    int a = copyAnswers.front();
    copyAnswers.pop_front();
    return a;
  }
  std::deque<int> copyAnswers;
  int copyErrors = 0;
};

// Asks the job to stop when the first chunk's progress arrives.
class StopAfterFirstChunk : public test::RecordingHost {
 public:
  void SetProgressPos(int id, int pos) override {
    test::RecordingHost::SetProgressPos(id, pos);
    job.requestStop();
  }
};

class DiskImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_AppState.diskImageMode = 1;
    g_AppState.scanPage = &host;
    g_ImageToDisk = 0;
    g_ImageTargetDisk = 0;
    g_ImageTargetText.clear();
    g_ImagePieceBytes = kImagePieceBytes;
    fs::create_directories(out());
    g_ImageTargetPath = out() + "/DiskImage.dmg";
  }
  void TearDown() override {
    g_AppState.scanPage = nullptr;
    ::setenv("QUILLMOREN_DISKS", "", 1);
    ::setenv("QUILLMOREN_VOLUMES", "", 1);
    DeviceMap::Instance().Refresh();
    g_ImagePieceBytes = kImagePieceBytes;
    std::strcpy(g_DevicePathTable[0], "\\\\.\\PhysicalDrive0");
    ResetAppState();
  }
  void Present(const std::string& disks, const std::string& volumes = "") {
    ::setenv("QUILLMOREN_DISKS", disks.c_str(), 1);
    ::setenv("QUILLMOREN_VOLUMES", volumes.c_str(), 1);
    DeviceMap::Instance().Refresh();
  }
  // Selects disk 0 and the sector range [first, end).
  void Select(uint64_t first, uint64_t end, int32_t bps = 512) {
    g_SelectedDiskIndex = 0;
    g_RangeFirstSector = first;
    g_RangeEndSector = end;
    g_BytesPerSector = bps;
  }
  // A source of seeded random sectors, presented as disk 0 and selected whole.
  void PresentNoise(uint64_t sectors, uint32_t seed) {
    const std::string src = dir.file("src.img");
    Spill(src, Noise(sectors * 512, seed));
    Present(src);
    Select(0, sectors);
  }
  std::string out() const { return dir.file("out"); }
  std::string piece(int n) const { return out() + "/DiskImage" + std::to_string(n) + ".dmg"; }
  std::vector<std::u16string> messages() {
    std::lock_guard l(prompt.m);
    return prompt.messages;
  }

  test::TempDir dir;
  test::RecordingHost host;
  CopyErrorPrompt prompt;
  test::PromptScope scope{&prompt};
};

TEST_F(DiskImageTest, UnsplitImageOfFatVolumeEqualsSourceAndListsTheSameFiles) {
  QM_REQUIRE_TOOLS("mcopy", "fls", "cmp");
  const std::string src = MakeFatImage(dir, 4100);  // 8200 sectors: the last chunk is short
  ASSERT_FALSE(src.empty());
  Present(src);
  Select(0, fs::file_size(src) / 512);
  DiskImageThread();

  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Disk Image created successfully."});
  EXPECT_EQ(host.closePage.load(), 1);
  EXPECT_EQ(host.analysisFinished.load(), 0);
  EXPECT_EQ(host.progress[kScanProgressBar], 100);
  EXPECT_FALSE(host.timers[kElapsedTimer]);
  EXPECT_EQ(test::Run("cmp -s " + src + " " + piece(0)), 0);
  EXPECT_FALSE(fs::exists(piece(1)));
  EXPECT_FALSE(fs::exists(out() + "/bps.dmg"));
  const std::string listing = test::Capture("fls -r -p " + src);
  EXPECT_NE(listing.find("dir/B.BIN"), std::string::npos);
  EXPECT_EQ(test::Capture("fls -r -p " + piece(0)), listing);
}

// Pieces must equal what `split -b` makes of the source; the piece size is
// shrunk so that a few pieces come from a small image.
TEST_F(DiskImageTest, SplitPiecesEqualSplitOfTheSource) {
  struct Case {
    int32_t bps;
    uint64_t pieceBytes;
    size_t sourceBytes;
  };
  const Case cases[] = {
      {512, 1 << 20, (5 << 20) + 512 * 7},  // 5 full pieces and a short one
      {512, 300 * 512, 1200 * 512},         // pieces end exactly at the range end; chunks straddle pieces
      {4096, 1 << 20, (3 << 20) + 4096 * 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bps) + " " + std::to_string(c.pieceBytes));
    fs::remove_all(out());
    fs::create_directories(out());
    prompt.messages.clear();
    const std::string src = dir.file("src.img");
    Spill(src, Noise(c.sourceBytes, 3));
    Present(src);
    Select(0, c.sourceBytes / c.bps, c.bps);
    g_ImageSplit = 1;
    g_ImagePieceBytes = c.pieceBytes;
    DiskImageThread();

    ASSERT_EQ(messages(), std::vector<std::u16string>{u"Disk Image created successfully."});
    const std::string ref = dir.file("ref");
    fs::remove_all(ref);
    fs::create_directories(ref);
    ASSERT_EQ(test::Run("cd " + ref + " && split -d -a 3 -b " + std::to_string(c.pieceBytes) + " " + src + " p"), 0);
    size_t pieces = 0;
    for (; fs::exists(ref + "/p" + Format("%03zu", pieces)); ++pieces)
      EXPECT_EQ(test::Run("cmp -s " + ref + "/p" + Format("%03zu", pieces) + " " + piece(static_cast<int>(pieces))), 0)
          << "piece " << pieces;
    EXPECT_EQ(pieces, (c.sourceBytes + c.pieceBytes - 1) / c.pieceBytes);
    EXPECT_FALSE(fs::exists(piece(static_cast<int>(pieces))));
    if (c.bps > 512) {
      EXPECT_EQ(Slurp(out() + "/bps.dmg"), std::string("\x00\x10\x00\x00", 4));
    } else {
      EXPECT_FALSE(fs::exists(out() + "/bps.dmg"));
    }
  }
}

// Every chunk, the first included, stays inside the range.
TEST_F(DiskImageTest, ImageHoldsExactlyTheRange) {
  const std::string src = dir.file("src.img");
  const std::string bytes = Noise(4000 * 512, 5);
  Spill(src, bytes);
  Present(src);
  const std::pair<uint64_t, uint64_t> ranges[] = {{0, 100}, {1000, 2000}, {3999, 4000}, {0, 4000}};
  for (auto [first, end] : ranges) {
    SCOPED_TRACE(std::to_string(first) + ".." + std::to_string(end));
    Select(first, end);
    DiskImageThread();
    EXPECT_EQ(Slurp(piece(0)), bytes.substr(first * 512, (end - first) * 512));
  }
}

TEST_F(DiskImageTest, StopAfterFirstChunkReportsAbortedAndKeepsOneChunk) {
  StopAfterFirstChunk stopping;
  g_AppState.scanPage = &stopping;
  PresentNoise(2000, 9);
  DiskImageThread();
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Disk Image creation aborted."});
  EXPECT_EQ(fs::file_size(piece(0)), 400u * 512);
  EXPECT_EQ(stopping.closePage.load(), 1);
  EXPECT_EQ(stopping.analysisFinished.load(), 0);
}

// A reader takes a folder with DiskImage1.dmg as a split image and reads
// "bps.dmg" as the sector size: leftovers of an earlier image must go.
TEST_F(DiskImageTest, LeftoversOfAnEarlierImageAreRemoved) {
  PresentNoise(1000, 11);
  Spill(piece(1), "stale piece");
  Spill(piece(2), "older stale piece");
  Spill(out() + "/bps.dmg", std::string("\x00\x10\x00\x00", 4));
  ::chmod(piece(1).c_str(), 0444);
  DiskImageThread();
  EXPECT_EQ(fs::file_size(piece(0)), 1000u * 512);
  EXPECT_FALSE(fs::exists(piece(1)));
  EXPECT_FALSE(fs::exists(out() + "/bps.dmg"));

  // Split run of two pieces: the stale third one goes.
  g_ImageSplit = 1;
  g_ImagePieceBytes = 600 * 512;
  Spill(piece(2), "stale piece");
  DiskImageThread();
  EXPECT_EQ(fs::file_size(piece(1)), 400u * 512);
  EXPECT_FALSE(fs::exists(piece(2)));
}

// Writes that fail go to the copy-error dialog: Abort ends the run, Skip
// asks again at the next failure, Skip All asks no more.
TEST_F(DiskImageTest, FailedWritesAskTheCopyErrorDialog) {
  PresentNoise(2000, 13);
  struct Case {
    std::deque<int> answers;
    int asked;
    const char16_t* message;
  };
  const Case cases[] = {
      {{2}, 1, u"Disk Image creation aborted."},
      // Skipped chunks are holes in the image: never a success.
      {{0, 0, 1}, 3, u"Disk Image creation not completed: 2000 sectors could not be written."},
  };
  // A file-size limit of 0 makes every write fail, as a full disk would (a
  // device such as /dev/full in the piece's place would not do: the writers
  // never write into anything but a regular file). The limit is lifted when
  // the last chunk has been tried, so that the piece can be given its length.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  class LiftLimitAtTheEnd : public test::RecordingHost {
   public:
    explicit LiftLimitAtTheEnd(const struct rlimit& l) : limit(l) {}
    void SetProgressPos(int id, int pos) override {
      test::RecordingHost::SetProgressPos(id, pos);
      if (pos == 100) ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    struct rlimit limit;
  };
  for (const Case& c : cases) {
    prompt.messages.clear();
    prompt.copyErrors = 0;
    prompt.copyAnswers = c.answers;
    fs::remove(piece(0));
    LiftLimitAtTheEnd full(old);
    g_AppState.scanPage = &full;
    struct rlimit none = old;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
    DiskImageThread();
    ::setrlimit(RLIMIT_FSIZE, &old);
    g_AppState.scanPage = &host;
    EXPECT_EQ(prompt.copyErrors, c.asked);
    EXPECT_EQ(messages(), std::vector<std::u16string>{c.message});
    EXPECT_EQ(full.closePage.load(), 1);
  }
  ::signal(SIGXFSZ, oldHandler);
}

// The pieces land inside a folder named as the target, like a browsed one,
// and a name of the user's own keeps every character.
TEST_F(DiskImageTest, PiecesLandWhereTheTargetNamesThem) {
  const std::string src = dir.file("src.img");
  const std::string bytes = Noise(1000 * 512, 37);
  Spill(src, bytes);
  Present(src);
  Select(0, 500, 1024);  // sectors of 1024 bytes, so "bps.dmg" is written too
  struct Case {
    std::string target, piece0, bps;
  };
  fs::create_directories(dir.file("typed/diskimage"));
  const Case cases[] = {
      {dir.file("typed/diskimage"), dir.file("typed/diskimage/DiskImage0.dmg"), dir.file("typed/diskimage/bps.dmg")},
      {dir.file("typed/diskimage/"), dir.file("typed/diskimage/DiskImage0.dmg"), dir.file("typed/diskimage/bps.dmg")},
      {dir.file("typed/mine.dmg"), dir.file("typed/mine0.dmg"), dir.file("typed/bps.dmg")},
      {dir.file("typed/mine.img"), dir.file("typed/mine.img0.dmg"), dir.file("typed/bps.dmg")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    prompt.messages.clear();
    g_ImageTargetPath = c.target;
    DiskImageThread();
    EXPECT_EQ(messages(), std::vector<std::u16string>{u"Disk Image created successfully."});
    EXPECT_TRUE(Slurp(c.piece0) == bytes);
    EXPECT_TRUE(fs::exists(c.bps));
    fs::remove(c.piece0);
    fs::remove(c.bps);
  }
  // Nothing landed beside the chosen folder.
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.file("typed"))) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"diskimage"});
}

TEST_F(DiskImageTest, PieceThatCannotBeCreatedEndsWithAbortedAndClosesThePage) {
  PresentNoise(100, 1);
  g_ImageTargetPath = dir.file("missing/folder/DiskImage.dmg");
  DiskImageThread();
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Disk Image creation aborted."});
  EXPECT_EQ(host.closePage.load(), 1);
}

TEST_F(DiskImageTest, DiskToDiskCopiesTheRangeToSectorZeroOfTheTarget) {
  const std::string src = dir.file("src.img"), tgt = dir.file("tgt.img");
  const std::string bytes = Noise(1500 * 512, 17), old = Noise(2000 * 512, 19);
  Spill(src, bytes);
  Spill(tgt, old);
  Present(src + ":" + tgt);
  Select(100, 1500);
  g_ImageToDisk = 1;
  g_ImageTargetDisk = 1;
  g_ImageTargetText = u"Disk1 - ";
  g_ImageTargetPath = dir.file("never/DiskImage.dmg");
  DiskImageThread();
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Disk Image created successfully."});
  const std::string now = Slurp(tgt);
  EXPECT_EQ(now.substr(0, 1400 * 512), bytes.substr(100 * 512));
  EXPECT_EQ(now.substr(1400 * 512), old.substr(1400 * 512));
  EXPECT_EQ(Slurp(src), bytes);
  EXPECT_FALSE(fs::exists(dir.file("never")));
  // The job let go of the target disk when it ended.
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    EXPECT_NE(fs::read_symlink(e.path(), ec), fs::canonical(tgt));
  }
}

// The target disk is found by its number even while entry 0 of the device
// table names a logical drive.
TEST_F(DiskImageTest, TargetDiskZeroIsNotTheRewrittenDeviceTableEntry) {
  const std::string disk0 = dir.file("disk0.img"), vol = dir.file("vol.img");
  const std::string volume = Noise(300 * 512, 23), old = Noise(400 * 512, 29);
  Spill(disk0, old);
  Spill(vol, volume);
  Present(disk0, vol);
  std::strcpy(g_DevicePathTable[0], "\\\\.\\C:");
  Select(0, 300);
  g_ImageToDisk = 1;
  g_ImageTargetDisk = 0;
  DiskImageThread();
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Disk Image created successfully."});
  EXPECT_EQ(Slurp(disk0).substr(0, 300 * 512), volume);
  EXPECT_EQ(Slurp(vol), volume);
}

TEST_F(DiskImageTest, TargetThatHoldsTheSourceIsRefused) {
  const std::string src = dir.file("src.img"), other = dir.file("other.img"), link = dir.file("link.img");
  const std::string bytes = Noise(200 * 512, 31);
  Spill(src, bytes);
  Spill(other, Noise(200 * 512, 37));
  ASSERT_EQ(::link(src.c_str(), link.c_str()), 0);
  struct Case {
    const char* name;
    std::string disks, volumes;
    const char* entry0;
    int target;
    const char16_t* message;
  };
  const std::u16string holds = u"The target disk holds the source of the image. Please choose another target disk.";
  const Case cases[] = {
      {"source disk itself", src + ":" + other, "", "\\\\.\\PhysicalDrive0", 0, holds.c_str()},
      {"same file by another name", src + ":" + link, "", "\\\\.\\PhysicalDrive0", 1, holds.c_str()},
      {"disk holding the source volume", other + ":" + src, src, "\\\\.\\C:", 1, holds.c_str()},
      {"no such disk", src, "", "\\\\.\\PhysicalDrive0", 4, u"Please choose target disk."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompt.messages.clear();
    host.closePage = 0;
    Present(c.disks, c.volumes);
    std::strcpy(g_DevicePathTable[0], c.entry0);
    Select(0, 200);
    g_ImageToDisk = 1;
    g_ImageTargetDisk = c.target;
    DiskImageThread();
    EXPECT_EQ(messages(), std::vector<std::u16string>{c.message});
    EXPECT_EQ(host.closePage.load(), 1);
    EXPECT_EQ(Slurp(src), bytes);
  }
}

// The real piece size: 524,288 sectors of 4096 bytes in piece 0, the rest
// in piece 1. The source is sparse, so are the pieces.
TEST_F(DiskImageTest, RealPieceSizeWithSparseSource) {
  const std::string src = dir.file("big.img");
  const uint64_t size = kImagePieceBytes + 3 * 4096;
  {
    std::ofstream f(src, std::ios::binary);
    f.seekp(0);
    f << "head";
    f.seekp(static_cast<std::streamoff>(kImagePieceBytes - 4096));
    f << "last sector of piece 0";
    f.seekp(static_cast<std::streamoff>(kImagePieceBytes));
    f << "first sector of piece 1";
    f.seekp(static_cast<std::streamoff>(size - 1));
    f.put('!');
  }
  Present(src);
  Select(0, size / 4096, 4096);
  g_ImageSplit = 1;
  DiskImageThread();
  ASSERT_EQ(messages(), std::vector<std::u16string>{u"Disk Image created successfully."});
  EXPECT_EQ(Slurp(out() + "/bps.dmg"), std::string("\x00\x10\x00\x00", 4));
  EXPECT_EQ(fs::file_size(piece(0)), 524288ull * 4096);
  EXPECT_EQ(fs::file_size(piece(1)), 3u * 4096);
  // Reading 2 GiB of holes again costs seconds: the marked ends are compared.
  EXPECT_TRUE(SameBytes(src, 0, piece(0), 0, 1 << 16));
  EXPECT_TRUE(SameBytes(src, kImagePieceBytes - (1 << 16), piece(0), kImagePieceBytes - (1 << 16), 1 << 16));
  EXPECT_TRUE(SameBytes(src, kImagePieceBytes, piece(1), 0, 3 * 4096));
}

// Links planted where the image files go: a piece (the first, or a later one
// of a split image) pointing at a read-only file outside, and the proposed
// "DiskImage.dmg" pointing at a folder outside. Nothing outside changes,
// neither bytes nor mode, and the run ends as aborted.
TEST_F(DiskImageTest, ALinkWhereTheImageGoesFailsTheRunAndChangesNothingOutside) {
  PresentNoise(1200, 5);
  struct Case {
    const char* name;
    std::string link;  // below the target folder
    bool toFolder;     // else to the read-only file
    bool split;
  };
  const Case cases[] = {
      {"first piece", "DiskImage0.dmg", false, false},
      {"second piece of a split image", "DiskImage1.dmg", false, true},
      {"the image path names a folder outside", "DiskImage.dmg", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(out());
    fs::create_directories(out());
    const std::string victim = dir.file("outside/victim");
    ASSERT_TRUE(test::PlantOutsideFile(victim));
    ASSERT_EQ(::symlink((c.toFolder ? dir.file("outside") : victim).c_str(), (out() + "/" + c.link).c_str()), 0);
    prompt.messages.clear();
    g_ImageTargetPath = out() + "/DiskImage.dmg";
    g_ImageSplit = c.split ? 1 : 0;
    g_ImagePieceBytes = 500 * 512;
    DiskImageThread();
    EXPECT_EQ(messages(), std::vector<std::u16string>{u"Disk Image creation aborted."});
    EXPECT_EQ(test::OutsideFileChanges(victim), "");
  }
}

}  // namespace
}  // namespace qm
