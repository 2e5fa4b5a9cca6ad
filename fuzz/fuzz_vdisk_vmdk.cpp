// VMDK sparse header, embedded descriptor, grain directory and grain tables
// from an untrusted file; and descriptor text naming extent files.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "vdisk/vmdk_reader.h"
#include "vdisk_fuzz_image.h"

namespace {

// A folder with one flat extent, for the descriptor half.
const std::string& Folder() {
  static const std::string folder = [] {
    std::string f = (std::filesystem::temp_directory_path() / ("vmdk-fuzz-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(f);
    std::ofstream(f + "/e.vmdk", std::ios::binary) << std::string(8192, 'z');
    return f;
  }();
  // Registered after folder is made, so it runs before folder is destroyed.
  static const bool cleanup = std::atexit([] { std::filesystem::remove_all(folder); }) == 0;
  (void)cleanup;
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::VmdkReader reader;
  if (size > 0 && data[0] == '#') {
    std::string path = Folder() + "/d.vmdk";
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);
    qm::fuzz::OpenAndRead(reader, path);
    return 0;
  }
  // 128 sectors in 8-sector grains, 16 entries per table: one directory
  // entry; grain 0 allocated, grain 1 zeroed, the rest unallocated.
  qm::fuzz::Image img(24 * 512);
  img.le32(0, 0x564D444B);
  img.le32(4, 1);
  img.le32(8, 3);
  img.le64(12, 128);
  img.le64(20, 8);
  img.le64(28, 1);
  img.le64(36, 2);
  img.le32(44, 16);
  img.le64(56, 4);
  img.text(512, "# Disk DescriptorFile\ncreateType=\"monolithicSparse\"\nRW 128 SPARSE \"x.vmdk\"\n");
  img.le32(4 * 512, 6);
  img.le32(6 * 512, 8);
  img.le32(6 * 512 + 4, 1);
  img.fill(8 * 512, 8 * 512, 0x5a);
  img.Mutate(data, size, {{0, 4096}});
  qm::fuzz::MemoryFile file(img.bytes);
  qm::fuzz::OpenAndRead(reader, file.path());
  return 0;
}
