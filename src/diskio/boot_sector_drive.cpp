#include "diskio/boot_sector_drive.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/byte_reader.h"
#include "platform/device_map.h"

namespace qm {

namespace {

// Boot-sector fields the drive search compares.
constexpr size_t kNtfsOemOffset = 3;       // "NTFS"
constexpr size_t kFat32KindOffset = 85;    // "32" of "FAT32"
constexpr size_t kFat16KindOffset = 57;    // "16" of "FAT16"
constexpr size_t kHiddenSectorsOffset = 28;
constexpr size_t kFat16SerialOffset = 39;
constexpr size_t kFat32SerialOffset = 67;
constexpr size_t kNtfsSerialOffset = 72;
constexpr uint32_t kBootSectorBytes = 512;

bool BytesAt(const ByteReader& r, size_t offset, const char* text) {
  const size_t n = std::strlen(text);
  return r.has(offset, n) && std::memcmp(r.data() + offset, text, n) == 0;
}

size_t SerialOffset(BootKind kind) {
  switch (kind) {
    case BootKind::kFat16: return kFat16SerialOffset;
    case BootKind::kFat32: return kFat32SerialOffset;
    default: return kNtfsSerialOffset;
  }
}

// Puts the source globals that steer ReadSectors back when it goes.
class SourceScope {
 public:
  SourceScope()
      : image_(g_ImageSource), virtual_(g_VirtualDiskSource), bytesPerSector_(g_BytesPerSector) {
    g_ImageSource = 0;
    g_VirtualDiskSource = 0;
    g_BytesPerSector = static_cast<int32_t>(kBootSectorBytes);
  }
  ~SourceScope() {
    g_ImageSource = image_;
    g_VirtualDiskSource = virtual_;
    g_BytesPerSector = bytesPerSector_;
  }
  SourceScope(const SourceScope&) = delete;
  SourceScope& operator=(const SourceScope&) = delete;

 private:
  int32_t image_, virtual_, bytesPerSector_;
};

}  // namespace

BootKind BootSectorKind(const uint8_t* sector, size_t size) {
  const ByteReader r(sector, sector ? size : 0);
  // NTFS first: its own fields may hold any bytes where FAT keeps its type.
  if (BytesAt(r, kNtfsOemOffset, "NTFS")) return BootKind::kNtfs;
  if (BytesAt(r, kFat32KindOffset, "32")) return BootKind::kFat32;
  if (BytesAt(r, kFat16KindOffset, "16")) return BootKind::kFat16;
  return BootKind::kNone;
}

bool SameVolumeBootSector(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize) {
  const BootKind kind = BootSectorKind(a, aSize);
  if (kind == BootKind::kNone || BootSectorKind(b, bSize) != kind) return false;
  const ByteReader ra(a, aSize), rb(b, bSize);
  const size_t serial = SerialOffset(kind);
  if (!ra.has(serial, 4) || !rb.has(serial, 4) || !ra.has(kHiddenSectorsOffset, 4) || !rb.has(kHiddenSectorsOffset, 4))
    return false;
  return ra.u32(serial) == rb.u32(serial) && ra.u32(kHiddenSectorsOffset) == rb.u32(kHiddenSectorsOffset);
}

char FindDriveLetterForBootSector(const uint8_t* bootSector, size_t size) {
  if (BootSectorKind(bootSector, size) == BootKind::kNone) return 0;
  std::vector<char> letters;
  for (const VolumeInfo& v : DeviceMap::Instance().Volumes()) {
    const char letter = static_cast<char>(v.letter & ~0x20);  // upper case
    if (letter >= 'C' && letter <= 'Z') letters.push_back(letter);
  }
  std::sort(letters.begin(), letters.end());
  // The drives themselves, not the selected image or virtual disk.
  SourceScope source;
  std::vector<uint8_t> sector(kBootSectorBytes);
  for (char letter : letters) {
    std::fill(sector.begin(), sector.end(), 0);
    int read = 0;
    if (g_AppState.platformFamily == 'F') {
      read = Win9xAbsoluteRead(letter - 'A', 0, 1, sector.data());
    } else {
      const char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
      read = ReadSectors(path, 0, 1, sector.data());
    }
    // A drive that cannot be read is not a match, whatever its zeros say.
    if (read && SameVolumeBootSector(bootSector, size, sector.data(), sector.size())) return letter;
  }
  return 0;
}

}  // namespace qm
