// The NTFS copier over data that is not stored as plain clusters, on the
// volume of the committed ntfsdata disk (ntfs-3g compression, ntfsfallocate,
// an encrypted flag): compressed units decompressed, units stored whole,
// sparse units, bytes past the initialised size as zeros, encrypted data
// copied as stored and named incomplete, and a damaged unit named
// incomplete. sleuthkit's icat is the oracle; the copy-out (normal copy) and
// the preview (silent copy) go the same way.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "copy_test_util.h"
#include "engines/copy_out.h"
#include "engines/file_copiers.h"
#include "engines/ntfs_records.h"
#include "engines/ntfs_runs.h"

namespace qm {
namespace {

constexpr uint64_t kVolumeStart = 2048;  // of the fixture disk's partition
constexpr uint64_t kUnitBytes = 65536;   // 16 clusters of 4 KiB

class NtfsDataCopyTest : public testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    ASSERT_TRUE(test::HaveTools({"icat", "dd", "gzip"})) << "sleuthkit, dd and gzip are needed";
    auto set = test::UnpackNtfs(dir_, "ntfsdata");
    ASSERT_TRUE(set.ok()) << set.skipReason;
    volume_ = dir_.file("volume.img");
    ASSERT_EQ(test::Run("dd if=" + set.path("ntfsdata.img") + " of=" + volume_ + " bs=512 skip=" +
                        std::to_string(kVolumeStart) + " status=none"),
              0);
    for (const test::FlsEntry& e : test::ParseFls(test::ReadText(test::NtfsFixtureDir() + "/ntfsdata.fls.txt")))
      records_[e.path] = static_cast<uint32_t>(std::stoul(e.inode));
    for (const test::ManifestEntry& m : test::ReadManifest(test::NtfsFixtureDir() + "/ntfsdata-files.txt"))
      sizes_[m.path] = m.size;
    Open();
  }
  void TearDown() override { test::FreshState(); }

  void Open() {
    present_.reset();
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{volume_});
    v_ = test::OpenNtfsImage(volume_);
    ASSERT_TRUE(v_.ok);
    g_PartitionGeometry = g_AppState.scanGeometry;
  }

  // Copies path of the volume to out, as the copy-out (normalCopy 1) or the
  // preview (0) does.
  std::string Copy(const std::string& path, const std::string& out, int normalCopy) {
    const uint32_t record = records_.at(path);
    CopyNtfsFile(out, Utf8ToUtf16(test::Leaf(out)), sizes_.at(path), MftRecordToSector(record), 5, record,
                 normalCopy, 0, 0, 0);
    return test::FileBytes(out);
  }
  std::string Icat(const std::string& path, const std::string& image) {
    return test::Capture("icat " + test::ShellQuote(image) + " " + std::to_string(records_.at(path)));
  }

  test::TempDir dir_;
  std::string volume_;
  test::NtfsVolume v_;
  std::unique_ptr<test::PresentImages> present_;
  std::map<std::string, uint32_t> records_;
  std::map<std::string, uint64_t> sizes_;
};

// Every kind of data comes back as icat gives it, in the copy-out and in the
// preview; only the encrypted file, copied as it lies, is named incomplete.
TEST_F(NtfsDataCopyTest, FilesEqualIcatAndOnlyTheEncryptedOneIsIncomplete) {
  struct Case {
    const char* path;
    const char* what;
  };
  const Case cases[] = {
      {"comp/mixed.bin", "compressed, stored, sparse and repeated-byte units"},
      {"comp/holes.bin", "sparse units inside a compressed attribute"},
      {"prealloc.bin", "stale clusters past the initialised size"},
      {"plain/crypt.bin", "encrypted, copied as stored"},
  };
  for (int normalCopy : {1, 0}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.path) + ": " + c.what + (normalCopy ? " (copy-out)" : " (preview)"));
      const std::string want = Icat(c.path, volume_);
      ASSERT_EQ(want.size(), sizes_.at(c.path));
      const std::string out = dir_.file(std::to_string(normalCopy) + "-" + test::Leaf(c.path));
      EXPECT_TRUE(test::SameBytes(Copy(c.path, out, normalCopy), want));
    }
  }
  // The encrypted file's bytes are the clusters as written.
  EXPECT_EQ(test::FileBytes(dir_.file("1-crypt.bin")), test::FixtureContent("crypt", 9000));
  EXPECT_EQ(IncompleteCopiedFiles(), std::vector<std::string>{dir_.file("1-crypt.bin")});
  EXPECT_TRUE(UnreadableCopiedFiles().empty());
  EXPECT_EQ(g_CopiedBytes.load(), sizes_.at("comp/mixed.bin") + sizes_.at("comp/holes.bin") +
                                      sizes_.at("prealloc.bin") + sizes_.at("plain/crypt.bin"));
}

// The fixture holds what the cases above are about: mixed.bin's first unit
// is compressed into 3 clusters, its second stored in all 16, its third has
// none; prealloc.bin's clusters past its initialised size hold the deleted
// junk.bin's text.
TEST_F(NtfsDataCopyTest, TheFixtureHoldsEachKindOfUnit) {
  RunTable runs;
  DataAttributeHeader h;
  LoadFileRuns(0, volume_.c_str(), MftRecordToSector(records_.at("comp/mixed.bin")), runs, v_.sectorsPerCluster, 0,
               &h);
  ASSERT_TRUE(h.found);
  EXPECT_EQ(h.flags & kAttrFlagCompressed, kAttrFlagCompressed);
  EXPECT_EQ(h.compressionUnit, 4);
  ASSERT_GE(runs.count(), 4u);
  EXPECT_FALSE(runs.sparse(0));
  EXPECT_EQ(runs.lengths[0], 3 * 8);  // unit 0: 3 clusters of data ...
  EXPECT_TRUE(runs.sparse(1));        // ... and 13 not stored
  EXPECT_EQ(runs.lengths[1], 13 * 8);
  EXPECT_FALSE(runs.sparse(2));  // units 1 (all 16 clusters) and 3 (in part) lie together
  EXPECT_GE(runs.lengths[2], 16 * 8);

  LoadFileRuns(0, volume_.c_str(), MftRecordToSector(records_.at("prealloc.bin")), runs, v_.sectorsPerCluster, 0,
               &h);
  EXPECT_EQ(h.initializedSize, 5600u);
  EXPECT_EQ(h.dataSize, 100000u);
  const std::string raw = test::ReadThroughRuns(v_, runs, h.dataSize);
  EXPECT_NE(raw.find("staleJUNK"), std::string::npos);

  LoadFileRuns(0, volume_.c_str(), MftRecordToSector(records_.at("plain/crypt.bin")), runs, v_.sectorsPerCluster, 0,
               &h);
  EXPECT_EQ(h.flags & kAttrFlagEncrypted, kAttrFlagEncrypted);
}

// A unit whose compressed data is damaged does not decompress: the file is
// named incomplete while its other units still come back whole; the
// preview writes what it can without a word.
TEST_F(NtfsDataCopyTest, ADamagedUnitMakesTheFileIncomplete) {
  const std::string want = Icat("comp/mixed.bin", volume_);
  RunTable runs;
  LoadFileRuns(0, volume_.c_str(), MftRecordToSector(records_.at("comp/mixed.bin")), runs, v_.sectorsPerCluster);
  ASSERT_GT(runs.count(), 0u);
  {
    // The first cluster of unit 0, where its first chunk header lies.
    std::fstream img(volume_, std::ios::in | std::ios::out | std::ios::binary);
    img.seekp(static_cast<std::streamoff>(runs.starts[0] * v_.bytesPerSector));
    const std::string junk(4096, '\xFF');
    img.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  Open();
  const std::string out = dir_.file("mixed.bin");
  const std::string got = Copy("comp/mixed.bin", out, 1);
  ASSERT_EQ(got.size(), want.size());
  EXPECT_TRUE(test::SameBytes(got.substr(kUnitBytes), want.substr(kUnitBytes)));
  EXPECT_NE(got.substr(0, kUnitBytes), want.substr(0, kUnitBytes));
  EXPECT_EQ(IncompleteCopiedFiles(), std::vector<std::string>{out});

  ResetCopyTotals();
  const std::string preview = dir_.file("preview-mixed.bin");
  EXPECT_EQ(Copy("comp/mixed.bin", preview, 0).size(), want.size());
  EXPECT_TRUE(IncompleteCopiedFiles().empty());
}

// A compression unit of a size no writer makes (none, or 2^12 clusters) is
// not buffered: the file is copied as its clusters hold it and named
// incomplete.
TEST_F(NtfsDataCopyTest, AnUnusableCompressionUnitIsCopiedAsStoredAndIncomplete) {
  const uint32_t record = records_.at("comp/mixed.bin");
  const uint64_t size = sizes_.at("comp/mixed.bin");
  std::vector<uint8_t> rec = test::ReadRecord(v_, record);
  ApplyFixups(rec);
  size_t attr = 0;
  ASSERT_EQ(FindDataAttribute(rec, &attr), kDataNonResident);
  constexpr size_t kCompressionUnitField = 0x22;
  ASSERT_LT(attr + kCompressionUnitField, 510u);  // clear of the fix-up bytes
  RunTable runs;
  LoadFileRuns(0, volume_.c_str(), MftRecordToSector(record), runs, v_.sectorsPerCluster);
  const std::string stored = test::ReadThroughRuns(v_, runs, size);
  for (const uint8_t shift : {uint8_t{0}, uint8_t{12}}) {
    SCOPED_TRACE(static_cast<int>(shift));
    ResetCopyTotals();
    {
      std::fstream img(volume_, std::ios::in | std::ios::out | std::ios::binary);
      img.seekp(static_cast<std::streamoff>(MftRecordToSector(record) * v_.bytesPerSector + attr +
                                            kCompressionUnitField));
      img.write(reinterpret_cast<const char*>(&shift), 1);
    }
    const std::string out = dir_.file("unit" + std::to_string(shift) + ".bin");
    EXPECT_TRUE(test::SameBytes(Copy("comp/mixed.bin", out, 1), stored));
    EXPECT_EQ(IncompleteCopiedFiles(), std::vector<std::string>{out});
  }
}

}  // namespace
}  // namespace qm
