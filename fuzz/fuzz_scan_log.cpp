// A scan log is chosen by the user and may be anything: the header reader and
// the record reader must end every input with a result, never a crash, a hang
// or an allocation the input's size does not justify. A header that reads as
// sound is applied as the loader applies it, and one file of the log is then
// copied as a preview would copy it, so that geometry which passes the checks
// but sizes the copiers' buffers absurdly is found too.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/deep_lists.h"
#include "engines/fat_directory.h"
#include "engines/file_copiers.h"
#include "engines/recovery_filter.h"
#include "engines/scan_log.h"
#include "platform/device_map.h"

namespace {

// The copies read a small image of their own, never a disk of the machine.
const std::string& Scratch() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/qm-fuzz-scan-log-XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    std::string d = pattern;
    std::vector<char> image(1 << 20);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 131 + (i >> 9));
    std::ofstream(d + "/disk.img", std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    ::setenv("QUILLMOREN_DISKS", (d + "/disk.img").c_str(), 1);
    ::setenv("QUILLMOREN_VOLUMES", (d + "/disk.img").c_str(), 1);
    qm::DeviceMap::Instance().Refresh();
    return d;
  }();
  // Registered after dir is made, so it runs before dir is destroyed: the
  // folder goes when the process ends.
  static const bool cleanup = std::atexit([] { std::filesystem::remove_all(dir); }) == 0;
  (void)cleanup;
  return dir;
}

// The first file of the catalogue, copied the way the preview copies it;
// its size is capped so that an input cannot fill the disk.
void CopyOneFile() {
  qm::FileRange files = qm::AllFiles();
  if (files.empty()) return;
  const qm::FileRecord& f = *files.begin();
  const std::string out = Scratch() + "/copy";
  const uint64_t size = std::min<uint64_t>(f.size(), 1 << 16);
  qm::ResetCopyFlags();
  if (qm::IsFatName(qm::g_AppState.scanFileSystem)) {
    qm::CopyFatFile(out, u"copy", static_cast<uint32_t>(size), f.dataKey, 0, 0,
                    static_cast<uint16_t>(f.modifiedTime[1]), static_cast<uint16_t>(f.modifiedTime[0]));
  } else if (qm::g_AppState.scanFileSystem == u"NTFS") {
    const qm::NtfsRecordPlace place = qm::NtfsFileRecordPlace(f);
    qm::CopyNtfsFile(out, u"copy", size, place.sector, f.parentKey, f.dataKey, 0, 0, f.modifiedTime[1],
                     f.modifiedTime[0], place.offset);
  }
  std::remove(out.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Scratch();
  std::span<const uint8_t> bytes(data, size);
  qm::ScanLogHeader header;
  if (qm::ReadScanLogHeader(bytes, header) == qm::ScanLogHeaderStatus::Ok) {
    qm::ApplyScanLogHeader(header);
    // Both record layouts from where the header ends, as the loader would.
    qm::LoadScanLogRecords(bytes, header.recordsOffset, true, nullptr);
    qm::LoadScanLogRecords(bytes, header.recordsOffset, false, nullptr);
    CopyOneFile();
  }
  // Records from the very start too, so short inputs reach the list readers.
  qm::LoadScanLogRecords(bytes, 0, false, nullptr);
  qm::LoadScanLogRecords(bytes, 0, true, nullptr);
  qm::ClearCatalog();
  qm::ClearNtfsLists();
  qm::ClearFileSystemList();
  qm::ResetAppState();
  return 0;
}
