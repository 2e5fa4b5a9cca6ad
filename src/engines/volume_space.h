#pragma once
// Capacity and free space of a FAT or NTFS volume read from its own bytes,
// for a logical drive that no file system of this machine has mounted (an
// image file named in QUILLMOREN_VOLUMES): the boot sector gives the size,
// the FAT's free entries or the NTFS $Bitmap's clear bits the free space.
#include <cstdint>
#include <string>

namespace qm {

struct VolumeSpace {
  bool known = false;      // the boot sector was recognised and read whole
  uint64_t capacity = 0;   // bytes of the file system
  uint64_t freeBytes = 0;  // bytes of its free clusters
  uint64_t used() const { return capacity > freeBytes ? capacity - freeBytes : 0; }
};

// Reads the volume at path (an image file or a block device). A volume
// whose allocation map cannot be read is not known: no guessed figures.
VolumeSpace ReadVolumeSpace(const std::string& path);

}  // namespace qm
