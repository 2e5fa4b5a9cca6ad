#include "diskio/raw_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "diskio/sector_io.h"
#include "diskio_test_util.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::PatternSectors;
using test::WritePattern;

constexpr uint64_t P512 = 4194304;  // sectors per piece at 512 bytes

class RawImage : public test::ReaderStateTest {
 protected:
  void SetUp() override {
    ReaderStateTest::SetUp();
    folder_ = dir_.path() + "/";
    g_ImageFolder = folder_;
    g_ImageSource = 1;
    g_ImageSplit = 1;
  }
  std::string Piece(int n) const { return folder_ + "DiskImage" + std::to_string(n) + ".dmg"; }
  // A full-size sparse piece whose sectors carry the pattern of their image
  // sector numbers near both ends.
  void MakePiece(int n, uint64_t perPiece, uint32_t bps) {
    WritePattern(Piece(n), 0, 0, bps);
    fs::resize_file(Piece(n), perPiece * bps);
    MarkImageSectors(n, perPiece, bps, 0, 16);
    MarkImageSectors(n, perPiece, bps, perPiece - 16, 16);
  }
  void MarkImageSectors(int n, uint64_t perPiece, uint32_t bps, uint64_t within, uint32_t count) {
    auto data = PatternSectors(n * perPiece + within, count, bps);
    test::WriteBytes(Piece(n), within * bps, data);
  }

  test::TempDir dir_;
  std::string folder_;
};

TEST_F(RawImage, PieceNamesAndSectorsWithinPieces) {
  struct Row {
    int32_t bps;
    uint64_t sector;
    const char* piece;
    uint64_t within;
  };
  for (const Row& r : {Row{512, 0, "DiskImage0.dmg", 0}, Row{512, P512 - 1, "DiskImage0.dmg", P512 - 1},
                       Row{512, P512, "DiskImage1.dmg", 0}, Row{512, 10 * P512 + 7, "DiskImage10.dmg", 7},
                       Row{4096, 524288, "DiskImage1.dmg", 0}, Row{4096, 524287, "DiskImage0.dmg", 524287},
                       Row{2048, 3 * 1048576 + 5, "DiskImage3.dmg", 5}}) {
    g_BytesPerSector = r.bps;
    uint64_t s = r.sector;
    std::string name;
    ASSERT_EQ(DiskImagePieceName(&name, &s), 1);
    EXPECT_EQ(name, folder_ + r.piece) << r.bps << " " << r.sector;
    EXPECT_EQ(s, r.within);
  }
  g_ImageFolder = dir_.path();  // no trailing slash
  g_BytesPerSector = 512;
  uint64_t s = P512;
  std::string name;
  DiskImagePieceName(&name, &s);
  EXPECT_EQ(name, folder_ + "DiskImage1.dmg");
}

TEST_F(RawImage, ReadsAcrossPieceBoundaries) {
  MakePiece(0, P512, 512);
  MakePiece(1, P512, 512);
  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  std::vector<uint8_t> buf(8 * 512, 0xCC);
  EXPECT_EQ(ReadSectors(nullptr, P512 - 3, 8, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(P512 - 3, 8, 512));
  // Ending exactly at the end of a piece needs nothing of the next one.
  fs::remove(Piece(1));
  std::vector<uint8_t> tail(3 * 512);
  EXPECT_EQ(ReadSectors(nullptr, P512 - 3, 3, tail.data()), 1);
  EXPECT_EQ(tail, PatternSectors(P512 - 3, 3, 512));
  EXPECT_EQ(prompt.badSectorDialogs, 0);
}

TEST_F(RawImage, MissingOrShortNextPieceZeroFillsItsPart) {
  MakePiece(0, P512, 512);
  struct Row {
    const char* name;
    int standing, answer;
    uint32_t secondPieceSectors;  // 0: missing
    uint32_t dataSectors;         // sectors of the request that carry data
    int dialogs;
  };
  for (const Row& r : {Row{"missing, Retry All standing", 2, 0, 0, 3, 0},
                       Row{"missing, Skip All standing", 3, 0, 0, 3, 0},
                       Row{"missing, Retry asks again after the retry", 0, 0, 0, 3, 2},
                       Row{"missing, Skip", 0, 1, 0, 3, 1},
                       Row{"short: two of five sectors", 0, 0, 2, 5, 0}}) {
    SCOPED_TRACE(r.name);
    fs::remove(Piece(1));
    if (r.secondPieceSectors) WritePattern(Piece(1), 0, 0), MarkImageSectors(1, P512, 512, 0, r.secondPieceSectors);
    g_BadSectorChoice = r.standing;
    test::ScriptedPrompt prompt;
    prompt.defaultBadSectorChoice = r.answer;
    test::PromptScope scope(&prompt);
    std::vector<uint8_t> buf(8 * 512, 0xCC);
    EXPECT_EQ(ReadSectors(nullptr, P512 - 3, 8, buf.data()), 0);
    auto want = PatternSectors(P512 - 3, r.dataSectors, 512);
    want.resize(buf.size(), 0);
    EXPECT_EQ(buf, want);
    EXPECT_EQ(prompt.badSectorDialogs, r.dialogs);
  }
}

// Answers Retry once the piece has been put back, as a user who reconnects
// the drive holding it would.
class RestoringPrompt : public Prompt {
 public:
  explicit RestoringPrompt(std::function<void()> restore) : restore_(std::move(restore)) {}
  int BadSectorChoice() override {
    ++asked;
    restore_();
    return 0;
  }
  int asked = 0;

 private:
  std::function<void()> restore_;
};

TEST_F(RawImage, RetryFindsAPieceThatCameBack) {
  g_ImageSplit = 0;
  RestoringPrompt prompt([&] { WritePattern(Piece(0), 0, 10); });
  test::PromptScope scope(&prompt);
  std::vector<uint8_t> buf(4 * 512);
  EXPECT_EQ(ReadSectors(nullptr, 2, 4, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(2, 4, 512));
  EXPECT_EQ(prompt.asked, 1);
}

// The reader keeps a piece open between requests; a piece replaced or
// removed in between must be read as it is now.
TEST_F(RawImage, PieceReplacedOrRemovedBetweenReadsIsReadAsItIsNow) {
  g_ImageSplit = 0;
  WritePattern(Piece(0), 0, 10, 512, 1);
  test::ScriptedPrompt prompt;
  prompt.defaultBadSectorChoice = 1;
  test::PromptScope scope(&prompt);
  std::vector<uint8_t> buf(4 * 512);
  ASSERT_EQ(ReadSectors(nullptr, 2, 4, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(2, 4, 512, 1));

  fs::remove(Piece(0));
  WritePattern(Piece(0), 0, 10, 512, 2);
  ASSERT_EQ(ReadSectors(nullptr, 2, 4, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(2, 4, 512, 2));

  // Written over in place: the open handle sees the new bytes as well.
  WritePattern(Piece(0), 0, 10, 512, 3);
  ASSERT_EQ(ReadSectors(nullptr, 2, 4, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(2, 4, 512, 3));

  fs::remove(Piece(0));
  EXPECT_EQ(ReadSectors(nullptr, 2, 4, buf.data()), 0);
  EXPECT_EQ(buf, std::vector<uint8_t>(buf.size(), 0));
  EXPECT_EQ(prompt.badSectorDialogs, 1);
}

TEST_F(RawImage, UnsplitImageAndStartsAtOrPastItsEnd) {
  g_ImageSplit = 0;
  WritePattern(Piece(0), 0, 10);
  test::ScriptedPrompt prompt;
  prompt.defaultBadSectorChoice = 1;
  test::PromptScope scope(&prompt);
  std::vector<uint8_t> buf(4 * 512, 0xCC);
  EXPECT_EQ(ReadSectors(nullptr, 4, 4, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(4, 4, 512));

  // Running past the end reads what is there and zeros the rest.
  EXPECT_EQ(ReadSectors(nullptr, 8, 4, buf.data()), 0);
  auto want = PatternSectors(8, 2, 512);
  want.resize(buf.size(), 0);
  EXPECT_EQ(buf, want);
  EXPECT_EQ(prompt.badSectorDialogs, 0);

  for (uint64_t start : {uint64_t{10}, uint64_t{11}}) {
    std::fill(buf.begin(), buf.end(), 0xCC);
    EXPECT_EQ(ReadSectors(nullptr, start, 4, buf.data()), 0);
    EXPECT_EQ(buf, std::vector<uint8_t>(buf.size(), 0));
  }
  EXPECT_EQ(prompt.badSectorDialogs, 2);
}

TEST_F(RawImage, SectorSizeFileAndPiecesOf4096ByteSectors) {
  struct Row {
    std::vector<uint8_t> bytes;
    int32_t size;
  };
  EXPECT_EQ(ReadImageSectorSize(dir_.path()), 512);  // absent
  for (const Row& r : {Row{{0x00, 0x10, 0, 0}, 4096}, Row{{0x00, 0x02, 0, 0}, 512}, Row{{0x00, 0x00, 1, 0}, 65536},
                       Row{{0x00, 0x01, 0, 0}, 0}, Row{{0xE8, 0x03, 0, 0}, 0}, Row{{0x00, 0x00, 2, 0}, 0},
                       Row{{0x00, 0x10, 0, 0x80}, 0}, Row{{0x00, 0x10, 0}, 0}, Row{{0x00, 0x10, 0, 0, 0}, 0}}) {
    fs::remove(folder_ + "bps.dmg");
    test::WriteBytes(folder_ + "bps.dmg", 0, r.bytes);
    EXPECT_EQ(ReadImageSectorSize(dir_.path()), r.size);
  }

  g_BytesPerSector = 4096;
  const uint64_t per = 524288;
  MakePiece(0, per, 4096);
  MakePiece(1, per, 4096);
  std::vector<uint8_t> buf(4 * 4096);
  EXPECT_EQ(ReadSectors(nullptr, per - 2, 4, buf.data()), 1);
  EXPECT_EQ(buf, PatternSectors(per - 2, 4, 4096));
}

}  // namespace
}  // namespace qm
