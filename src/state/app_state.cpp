#include "state/app_state.h"

namespace qm {

AppState g_AppState;

std::u16string g_SelectedItemText;
std::u16string g_SelectedVolumeText;
std::u16string g_SelectedFileSystem;
int16_t g_SelectedDiskIndex = 0;
char g_SelectedDriveLetter = 0;
int16_t g_PartitionDiskIndex = 0;
int16_t g_SelectedPartitionIndex = 0;
uint64_t g_RangeFirstSector = 0;
uint64_t g_RangeEndSector = 0;
int32_t g_BytesPerSector = 512;
int32_t g_ImageSource = 0;
std::string g_ImageFolder;
int32_t g_ImageSplit = 0;
int32_t g_VirtualDiskSource = 0;
std::u16string g_SelectedDiskModel;
std::string g_SelectedImagePath;
double g_VolumeCapacityBytes = 0;
double g_VolumeUsedBytes = 0;
double g_VolumeFreeBytes = 0;
PartitionGeometry g_PartitionGeometry;
std::string g_RecoveryTargetFolder;

void ResetAppState() {
  // The catalogue's records are owned by the catalogue module; callers clear
  // it first. Here only the plain fields go back to zero.
  g_AppState = AppState{};
  g_SelectedItemText.clear();
  g_SelectedVolumeText.clear();
  g_SelectedFileSystem.clear();
  g_SelectedDiskIndex = 0;
  g_SelectedDriveLetter = 0;
  g_PartitionDiskIndex = 0;
  g_SelectedPartitionIndex = 0;
  g_RangeFirstSector = 0;
  g_RangeEndSector = 0;
  g_BytesPerSector = 512;
  g_ImageSource = 0;
  g_ImageFolder.clear();
  g_ImageSplit = 0;
  g_VirtualDiskSource = 0;
  g_SelectedDiskModel.clear();
  g_SelectedImagePath.clear();
  g_VolumeCapacityBytes = g_VolumeUsedBytes = g_VolumeFreeBytes = 0;
  g_PartitionGeometry = PartitionGeometry{};
  g_RecoveryTargetFolder.clear();
}

}  // namespace qm
