#pragma once
// Which logical drive a boot sector belongs to: a routine of the folder
// tree that no page calls. Each drive's sector 0 is read through
// ReadSectors and compared with the given sector.
#include <cstddef>
#include <cstdint>

namespace qm {

enum class BootKind { kNone, kFat16, kFat32, kNtfs };
// By the type texts of the boot sector: "NTFS" at 3, "32" at 85, "16" at 57.
BootKind BootSectorKind(const uint8_t* sector, size_t size);
// Same kind, same volume serial number and same hidden-sector count; a
// sector of no known kind matches nothing.
bool SameVolumeBootSector(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize);
// The first drive C to Z whose sector 0 matches; 0 when none does. Reads
// the drives themselves, whatever source is selected.
char FindDriveLetterForBootSector(const uint8_t* bootSector, size_t size);

}  // namespace qm
