#pragma once
// Test images: FAT images and partitioned disks made at test time by the
// scripts in tests/fixtures/, and the committed NTFS images unpacked into a
// test's own folder. What each image holds is listed in
// tests/fixtures/README.md.
//
//   TempDir dir;
//   auto fat = MakeFatImages(dir, {"fat16"});
//   QM_REQUIRE_FIXTURE(fat);                    // skips when a tool is missing
//   std::string img = fat.path("fat16.img");
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qm::test {

// A folder of fixture files, or why it could not be made.
struct FixtureSet {
  std::string dir;
  std::string skipReason;  // empty when ready
  bool ok() const { return skipReason.empty(); }
  std::string path(const std::string& name) const { return dir + "/" + name; }
};

// Fails the running test (with the reason) when the set could not be made:
// a missing maker tool is no reason for a test to pass.
#define QM_REQUIRE_FIXTURE(set)                                   \
  do {                                                            \
    if (!(set).ok()) GTEST_FAIL() << (set).skipReason;            \
  } while (0)

// fatNN.img (+ .fls.txt, .fsstat.txt), fat-files/ and fat-files.txt in dir;
// kinds from "fat12", "fat16", "fat32" (none: all three).
FixtureSet MakeFatImages(const TempDir& dir, std::initializer_list<const char*> kinds = {});
// mbr.img / gpt.img with D.parts.txt, D.mmls.txt, D.pN.fls.txt, D-files/pN/
// and D.pN.files.txt; disks from "mbr", "gpt" (none: both).
FixtureSet MakeDisks(const TempDir& dir, std::initializer_list<const char*> disks = {});
// The committed NTFS image "ntfs" (512-byte sectors) or "ntfs4k" (4096)
// unpacked to dir/<name>.img; its listings stay in NtfsFixtureDir().
FixtureSet UnpackNtfs(const TempDir& dir, const std::string& name = "ntfs");
// Folder of the committed NTFS images and their listings.
std::string NtfsFixtureDir();

// The bytes the scripts write for a file made from tag and size: 22-byte
// lines "%-12.12s %08d\n" numbered from 0, cut at size.
std::string FixtureContent(const std::string& tag, uint64_t size);

// One line of `fls -r -p`: "r/r * 83-128-2:\tpath".
struct FlsEntry {
  std::string type;   // "r/r", "d/d", "-/r", "v/v", ...
  bool deleted = false;
  std::string inode;  // "83-128-2" on NTFS, "13" on FAT
  std::string path;
};
std::vector<FlsEntry> ParseFls(const std::string& text);

// One line of a D.parts.txt.
struct FixturePartition {
  int number = 0;
  uint64_t start = 0, sectors = 0;
  std::string fs, label;
};
std::vector<FixturePartition> ReadPartitions(const std::string& partsFile);

// One line of a manifest: "size sha256 path".
struct ManifestEntry {
  uint64_t size = 0;
  std::string sha256, path;
};
std::vector<ManifestEntry> ReadManifest(const std::string& manifestFile);

std::string ReadText(const std::string& path);
std::string ShellQuote(const std::string& s);
// Hex SHA-256 of a file's bytes via sha256sum; "" when it cannot.
std::string Sha256OfFile(const std::string& path);

// Presents image files as the machine's disks and volumes for a scope
// (QUILLMOREN_DISKS / QUILLMOREN_VOLUMES + a device-map refresh), then puts
// the previous lists back.
class PresentImages {
 public:
  PresentImages(const std::vector<std::string>& disks, const std::vector<std::string>& volumes = {});
  ~PresentImages();
  PresentImages(const PresentImages&) = delete;
  PresentImages& operator=(const PresentImages&) = delete;

 private:
  std::string oldDisks_, oldVolumes_;
  bool hadDisks_ = false, hadVolumes_ = false;
};

}  // namespace qm::test
