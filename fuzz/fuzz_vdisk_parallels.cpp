// Parallels header and block table from an untrusted file, opened the ways a
// user meets it: as a plain image, as a ".hds" data file (whose disk may sit
// one sector late), and through an empty placeholder that names its folder's
// data file. The files live in a scratch folder removed when the process
// ends.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "vdisk/parallels_reader.h"
#include "vdisk_fuzz_image.h"

namespace {

std::string g_folder;
int g_dataFd = -1;  // the folder's disk.hds, rewritten in place for each input

void RemoveFolder() {
  if (g_dataFd >= 0) ::close(g_dataFd);
  std::error_code ec;
  if (!g_folder.empty()) std::filesystem::remove_all(g_folder, ec);
}

bool MakeEmpty(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  return f && std::fclose(f) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // disk.hds holds the image; disk.hdd is its empty placeholder. In empty/,
  // the placeholder's folder holds only an empty data file.
  std::string pattern = (std::filesystem::temp_directory_path() / "qm-fuzz-parallels-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 0;
  g_folder = pattern;
  std::atexit(RemoveFolder);
  std::error_code ec;
  std::filesystem::create_directory(g_folder + "/empty", ec);
  if (ec || !MakeEmpty(g_folder + "/disk.hdd") || !MakeEmpty(g_folder + "/empty/a.hdd") ||
      !MakeEmpty(g_folder + "/empty/0.hds"))
    return 0;
  g_dataFd = ::open((g_folder + "/disk.hds").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 8-sector blocks, 4 table entries, a 32-sector disk. The first data
  // block holds the boot signature in its second sector, as a data file
  // that stores the disk one sector late does.
  qm::fuzz::Image img(12288);
  img.text(0, "WithoutFreeSpace");
  img.le32(16, 2);
  img.le32(28, 8);
  img.le32(32, 4);
  img.le64(36, 32);
  img.le32(64, 8);
  img.le32(72, 16);
  img.fill(4096, 8192, 0x5a);
  img.bytes[4096 + 1022] = 0x55;
  img.bytes[4096 + 1023] = 0xAA;
  img.Mutate(data, size, {{0, 4096}, {4096 + 510, 2}, {4096 + 1022, 2}});
  qm::ParallelsReader reader;
  {
    qm::fuzz::MemoryFile file(img.bytes);
    qm::fuzz::OpenAndRead(reader, file.path());
  }
  if (g_dataFd < 0 || ::pwrite(g_dataFd, img.bytes.data(), img.bytes.size(), 0) != ssize_t(img.bytes.size()))
    return 0;
  qm::fuzz::OpenAndRead(reader, g_folder + "/disk.hds");
  qm::fuzz::OpenAndRead(reader, g_folder + "/disk.hdd");
  static bool once = [] {
    std::u16string info;
    qm::ParallelsReader r;
    r.Open(info, g_folder + "/empty/a.hdd");
    r.Close();
    return true;
  }();
  (void)once;
  return 0;
}
