#pragma once
// The virtual-disk chooser's logic without its dialog: resolving a ".vbox"
// settings file, probing the readers for the format, and the decision of
// OK, which opens a differencing VHD's parent and grandparent.
#include <string>

namespace qm {

// The image file chosen (UTF-8 path); the readers are opened with it.
extern std::string g_VirtualDiskPath;
// The ".vbox" file the user picked, shown again by the next chooser.
extern std::string g_VboxPath;

// The disk image a ".vbox" settings file names in its first location="..."
// attribute: absolute locations as they are, relative ones in the settings
// file's folder, backslashes read as slashes. Empty when there is none.
// A settings file of a virtual machine rather than a disk image.
bool EndsWithVbox(const std::string& path);
std::string ReadVboxDiskLocation(const std::string& settingsPath);

// After the user picked path: sets g_VirtualDiskPath (the disk a ".vbox"
// names, else path) and g_VboxPath, then probes the readers in order QCOW,
// QED, Parallels, VDI, VHD, VHDX and sets g_AppState.virtualDiskKind ('N'
// when none claims the file; a QCOW probe that cannot open the file stops
// the probe and keeps the kind). Returns the last Open result (probeResult).
int ChooseVirtualPath(const std::string& path);
// The probe alone, on g_VirtualDiskPath.
int ProbeVirtualDisk();

// What OK decides: an empty text closes the chooser with OK; otherwise the
// message to show, and the chooser stays. Opens the VMDK reader and a
// differencing VHD's parent chain as it goes.
std::u16string CheckVirtualPathChoice(int probeResult);

// The file a differencing VHD's stored parent name refers to: the name as
// stored when that file exists, else its last component in the folder of
// childPath; empty when neither exists.
std::string ResolveVhdParent(const std::u16string& storedName, const std::string& childPath);

}  // namespace qm
