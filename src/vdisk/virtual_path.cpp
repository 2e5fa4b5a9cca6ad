#include "vdisk/virtual_path.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

#include "state/app_state.h"
#include "platform/file.h"
#include "platform/text.h"
#include "vdisk/parallels_reader.h"
#include "vdisk/qcow_reader.h"
#include "vdisk/qed_reader.h"
#include "vdisk/vdi_reader.h"
#include "vdisk/vhd_reader.h"
#include "vdisk/vhdx_reader.h"
#include "vdisk/vmdk_reader.h"

namespace qm {

std::string g_VirtualDiskPath;
std::string g_VboxPath;

namespace {

constexpr uint64_t kMaxSettingsBytes = 4u << 20;
constexpr size_t kMaxLocationBytes = 4096;
constexpr char kLocation[] = "location=";

const char16_t kMsgNoPath[] = u"Please specify Virtual Path to continue further.";
const char16_t kMsgShared[] = u"This virtual file is being shared by some other Application. Please close.";
const char16_t kMsgCorrupted[] = u"This virtual file is highly corrupted. Cannot recover data.";
const char16_t kMsgParentMissing[] = u"Parent virtual file not found. Plz. keep that file in the same child path.";
const char16_t kMsgParentShared[] = u"Parent virtual file is being shared by some other Application. Please close.";
const char16_t kMsgParentCorrupted[] = u"Parent virtual file is highly corrupted. Cannot recover data.";
const char16_t kMsgSelectValid[] = u"Please select valid file.";
const char16_t kMsgChooseCorrect[] = u"Please choose correct virtual file.";

const char* const kAcceptedVmdkTypes[] = {"twoGbMaxExtentSparse", "twoGbMaxExtentFlat", "monolithicSparse",
                                          "monolithicFlat",       "vmfs",               "flat"};

bool Exists(const std::string& path) { return !path.empty() && ::access(path.c_str(), F_OK) == 0; }

std::string FolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

std::string ReadVboxDiskLocation(const std::string& settingsPath) {
  File f;
  if (!f.open(settingsPath, File::Mode::ReadFile)) return {};
  int64_t size = f.size();
  if (size <= 0) return {};
  std::string text(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), kMaxSettingsBytes)), '\0');
  int64_t got = f.readAt(text.data(), text.size(), 0);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  size_t at = text.find(kLocation);
  if (at == std::string::npos) return {};
  size_t start = at + sizeof kLocation;  // past the opening quotation mark
  if (start >= text.size()) return {};
  size_t end = text.find('"', start);
  if (end == std::string::npos || end - start > kMaxLocationBytes) return {};
  std::string value = text.substr(start, end - start);
  if (value.empty()) return {};
  std::replace(value.begin(), value.end(), '\\', '/');
  if (value.front() == '/') return value;
  return FolderOf(settingsPath) + "/" + value;
}

int ProbeVirtualDisk() {
  std::u16string info;
  int r = g_QcowReader.Open(info, g_VirtualDiskPath);
  if (r == kVdOpened || r == kVdDamaged) {
    g_AppState.virtualDiskKind = 'C';
    return r;
  }
  if (r == kVdCannotOpen) return r;
  g_QcowReader.Close();
  struct Step {
    VirtualDiskReader& reader;
    char kind;
  };
  const Step steps[] = {{g_QedReader, 'Q'}, {g_ParallelsReader, 'E'}, {g_VdiReader, 'D'},
                        {g_VhdReader, 'H'}, {g_VhdxReader, 'X'}};
  for (const Step& s : steps) {
    info.clear();
    r = s.reader.Open(info, g_VirtualDiskPath);
    if (r == kVdOpened || r == kVdDamaged) {
      g_AppState.virtualDiskKind = s.kind;
      return r;
    }
    s.reader.Close();
  }
  g_AppState.virtualDiskKind = 'N';  // left to the VMDK reader at OK
  return r;
}

int ChooseVirtualPath(const std::string& path) {
  g_VirtualDiskPath = path;
  g_VboxPath.clear();
  if (EndsWithVbox(path)) {
    g_VboxPath = path;
    std::string disk = ReadVboxDiskLocation(path);
    if (!disk.empty()) g_VirtualDiskPath = disk;
  }
  return ProbeVirtualDisk();
}

std::string ResolveVhdParent(const std::u16string& storedName, const std::string& childPath) {
  if (storedName.empty()) return {};
  std::string name = Utf16ToUtf8(storedName);
  if (Exists(name)) return name;
  size_t cut = name.find_last_of("\\/");
  std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
  if (base.empty()) return {};
  std::string local = FolderOf(childPath) + "/" + base;
  return Exists(local) ? local : std::string();
}

std::u16string CheckVirtualPathChoice(int probeResult) {
  if (g_VirtualDiskPath.empty()) return kMsgNoPath;
  if (probeResult == kVdCannotOpen) return kMsgShared;
  switch (g_AppState.virtualDiskKind) {
    case 'C':
    case 'Q':
    case 'E':
    case 'D':
    case 'X':
      return probeResult == kVdDamaged ? kMsgCorrupted : u"";
    case 'H': {
      if (probeResult == kVdDamaged) return kMsgCorrupted;
      if (g_VhdReader.diskType() != kVhdDifferencing) return u"";
      std::u16string stored = g_VhdReader.parentName();
      if (stored.empty()) return kMsgParentMissing;
      std::string parent = ResolveVhdParent(stored, g_VirtualDiskPath);
      if (parent.empty()) return kMsgParentMissing;
      std::u16string info;
      int r = g_VhdParentReader.Open(info, parent);
      if (r == kVdCannotOpen) return kMsgParentShared;
      if (r == kVdNotThisFormat) return kMsgParentCorrupted;
      if (r != kVdOpened) return u"";
      if (g_VhdParentReader.diskType() != kVhdDifferencing) return u"";
      std::u16string grandStored = g_VhdParentReader.parentName();
      std::string grand = ResolveVhdParent(grandStored, g_VirtualDiskPath);
      if (grand.empty()) return u"";
      r = g_VhdGrandparentReader.Open(info, grand);
      if (r == kVdCannotOpen) return kMsgParentShared;
      if (r == kVdNotThisFormat) return kMsgParentCorrupted;
      return u"";
    }
    default: {
      std::u16string info;
      int r = g_VmdkReader.Open(info, g_VirtualDiskPath);
      if (r == kVdCannotOpen) return kMsgShared;
      if (r == kVdDamaged) return kMsgSelectValid;
      if (r == kVdNotThisFormat) return kMsgCorrupted;
      for (const char* t : kAcceptedVmdkTypes)
        if (info == Utf8ToUtf16(t)) return u"";
      if (info == u"Damaged") return kMsgCorrupted;
      return kMsgChooseCorrect;
    }
  }
}

bool EndsWithVbox(const std::string& path) {
  return path.size() >= 5 && EqualsIgnoreCaseAscii(std::string_view(path).substr(path.size() - 5), ".vbox");
}

}  // namespace qm
