#pragma once
// The virtual-disk branch of the sector reader: dispatches a request to the
// reader object of AppState.virtualDiskKind, with 512-byte sectors.
#include <cstdint>

namespace qm {

// Reads count 512-byte sectors at firstSector from the open virtual disk of
// the given kind ('C' QCOW, 'Q' QED, 'E' Parallels, 'D' VDI, 'H' VHD, 'X'
// VHDX, anything else VMDK). Nonzero on success; the buffer is always fully
// written (zeros where nothing could be read).
int ReadVirtualSectors(char kind, uint64_t firstSector, uint32_t count, uint8_t* buffer);

}  // namespace qm
