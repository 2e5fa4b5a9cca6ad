#pragma once
// The machine's disks and logical drives, numbered the way the program's
// device paths expect: "\\.\PhysicalDriveN" is the N-th whole disk in name
// order, "\\.\X:" the mounted volume lettered X (C, D, ... in device-name
// order). QUILLMOREN_DISKS and QUILLMOREN_VOLUMES (':'-separated image files
// or devices) replace the lists when set, even when empty: tests and users
// present images as disks that way.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

struct DiskInfo {
  std::string path;        // /dev/sda or an image file
  bool isFile = false;     // a regular file presented as a disk
  uint64_t sizeBytes = 0;  // 0 when it cannot be probed
  uint32_t sectorSize = 512;
  std::string model;       // from sysfs; "" for files
  bool removable = false;
};

struct VolumeInfo {
  char letter = 0;
  std::string path;        // block device or image file
  std::string mountPoint;  // "" for files from QUILLMOREN_VOLUMES
};

class DeviceMap {
 public:
  static DeviceMap& Instance();

  // Re-reads the lists. sysfsRoot and mountinfo are parameters so tests can
  // pass a fake tree; the environment variables still take precedence.
  void Refresh(const std::string& sysfsRoot = "/sys/block", const std::string& mountinfo = "/proc/self/mountinfo",
               const std::string& devRoot = "/dev");

  std::vector<DiskInfo> Disks();
  std::vector<VolumeInfo> Volumes();

  // The host path behind a device path of the program: "\\.\PhysicalDriveN"
  // or "\\.\X:" (case of the prefix ignored). "" when nothing stands there.
  // Any other text is returned as it is (a plain file path).
  std::string Resolve(std::string_view devicePath);
  // Counts the times the lists were read, so that what was opened through
  // an earlier reading (a file since replaced at the same path) is not kept.
  uint64_t Generation() const { return generation_.load(std::memory_order_acquire); }

  // Probes one path: size and sector size of a block device or a file.
  static DiskInfo Probe(const std::string& path);
  // Whether this process may read path: 0, or the errno of a failed
  // read-only open (EACCES for a disk of a user outside the disk group).
  static int ReadAccessError(const std::string& path);

 private:
  void RefreshLocked(const std::string& sysfsRoot, const std::string& mountinfo, const std::string& devRoot);
  std::string ResolveNow(std::string_view devicePath);
  std::mutex mutex_;
  std::atomic<uint64_t> generation_{0};  // counts refreshes; resolved paths are kept per generation
  bool loaded_ = false;
  std::vector<DiskInfo> disks_;
  std::vector<VolumeInfo> volumes_;
};

}  // namespace qm
