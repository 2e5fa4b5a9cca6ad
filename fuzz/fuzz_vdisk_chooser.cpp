// The virtual-disk chooser decides from a file's bytes what it is: a ".vbox"
// settings file naming a disk, one of the six formats the probe tries in
// turn, a differencing VHD whose parent (and grandparent) it looks up beside
// the child, or a VMDK at OK. Then the chosen disk is read as a scan would.
// Input: one byte picks the chosen file's name, two little-endian bytes the
// length of its bytes, which follow; the rest is "parent.vhd" in the same
// folder (what a ".vbox" or a differencing VHD of the seeds names).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "scratch_dir.h"
#include "vdisk/parallels_reader.h"
#include "vdisk/qcow_reader.h"
#include "vdisk/qed_reader.h"
#include "vdisk/vdi_reader.h"
#include "vdisk/vhd_reader.h"
#include "vdisk/vhdx_reader.h"
#include "vdisk/virtual_disk.h"
#include "vdisk/virtual_path.h"
#include "vdisk/vmdk_reader.h"

namespace {

void CloseAll() {
  for (qm::VirtualDiskReader* r :
       std::initializer_list<qm::VirtualDiskReader*>{&qm::g_QcowReader, &qm::g_QedReader, &qm::g_ParallelsReader,
                                                     &qm::g_VdiReader, &qm::g_VhdReader, &qm::g_VhdParentReader,
                                                     &qm::g_VhdGrandparentReader, &qm::g_VhdxReader,
                                                     &qm::g_VmdkReader})
    r->Close();
}

// Names a damaged file might give that lead out of the scratch folder to
// files that never end or block (devices, the process's own descriptors).
bool NamesSpecialFiles(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i)
    if (data[i] != 0) text.push_back(static_cast<char>(data[i] == '\\' ? '/' : data[i]));
  for (const char* bad : {"/dev", "/proc", "/sys", "/run", "/tmp"})
    if (text.find(bad) != std::string::npos) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || NamesSpecialFiles(data, size)) return 0;
  static const char* const kNames[] = {"disk.img", "machine.vbox", "child.vhd", "disk.vmdk"};
  const std::string& dir = qm::fuzz::ScratchDir("vdisk-chooser");
  const std::string chosen = dir + "/" + kNames[data[0] & 3];
  const size_t first = std::min<size_t>(data[1] | size_t{data[2]} << 8, size - 3);
  if (!qm::fuzz::WriteWholeFile(chosen, data + 3, first) ||
      !qm::fuzz::WriteWholeFile(dir + "/parent.vhd", data + 3 + first, size - 3 - first))
    return 0;

  qm::ResetAppState();
  const int probe = qm::ChooseVirtualPath(chosen);
  if (qm::CheckVirtualPathChoice(probe).empty()) {
    // Accepted: the scan reads the disk through the reader of its kind.
    std::vector<uint8_t> buf(64 * 512);
    const char kind = qm::g_AppState.virtualDiskKind;
    for (uint64_t s = 0; s < 256; s += 37) (void)qm::ReadVirtualSectors(kind, s, 37, buf.data());
    for (uint64_t s : {uint64_t{1} << 11, uint64_t{1} << 21, uint64_t{1} << 31})
      (void)qm::ReadVirtualSectors(kind, s, 8, buf.data());
  }
  CloseAll();
  ::unlink(chosen.c_str());
  return 0;
}
