// ReadSectors and WriteSectors: the read limit, the routing to virtual
// disks and raw images, and the device path with its cached handle, one
// transfer per request, 40-sector chunks after a failure and the bad-sector
// retry.
#include "diskio/sector_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "state/app_state.h"
#include "diskio/raw_image.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/prompt.h"
#include "vdisk/virtual_disk.h"

namespace qm {

char g_DevicePathTable[10][20] = {
    "\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive2", "\\\\.\\PhysicalDrive3",
    "\\\\.\\PhysicalDrive4", "\\\\.\\PhysicalDrive5", "\\\\.\\PhysicalDrive6", "\\\\.\\PhysicalDrive7",
    "\\\\.\\PhysicalDrive8", "\\\\.\\PhysicalDrive9"};
int32_t g_BadSectorChoice = 0;

namespace {

constexpr uint32_t kVirtualSectorBytes = 512;
constexpr uint32_t kLargestSectorBytes = 65536;

// One opened device. Reads use pread, so several threads may share it.
struct OpenDevice {
  File file;
  int64_t size = -1;  // bytes; -1 when unknown
};

// The cached device of the reader: opened by the first read of a path and
// kept until a read names another path, the path now stands for another
// disk, or the disks were listed again (an image file replaced at the same
// path is then read anew, not through the old file's handle). A failed open
// is cached too (device null), so a path that cannot be opened fails at once
// until another one is read.
std::mutex g_DeviceMutex;
bool g_DeviceCached = false;
uint64_t g_DeviceGeneration = 0;
std::string g_DeviceHandleName;
std::string g_DeviceHostPath;
std::shared_ptr<OpenDevice> g_DeviceHandle;

DeviceReadHook g_ReadHook;

std::shared_ptr<OpenDevice> CachedDevice(const char* devicePath) {
  const std::string host = DeviceMap::Instance().Resolve(devicePath);
  const uint64_t generation = DeviceMap::Instance().Generation();
  std::lock_guard lock(g_DeviceMutex);
  if (g_DeviceCached && g_DeviceHandleName == devicePath && g_DeviceHostPath == host &&
      g_DeviceGeneration == generation)
    return g_DeviceHandle;
  g_DeviceCached = true;
  g_DeviceGeneration = generation;
  g_DeviceHandleName = devicePath;
  g_DeviceHostPath = host;
  g_DeviceHandle.reset();
  auto dev = std::make_shared<OpenDevice>();
  if (!host.empty() && dev->file.open(host, File::Mode::Read)) {
    dev->size = dev->file.size();
    g_DeviceHandle = std::move(dev);
  }
  return g_DeviceHandle;
}

enum class SpanRead { Ok, PastEnd, Failed };

// One positioned read of a span. Whatever was not read becomes zeros; a read
// that stops at the end of the device is told apart from a failing one.
SpanRead ReadSpan(OpenDevice& dev, uint8_t* buffer, size_t bytes, uint64_t offset) {
  const int64_t got = g_ReadHook ? g_ReadHook(dev.file, buffer, bytes, offset) : dev.file.readAt(buffer, bytes, offset);
  if (got >= 0 && static_cast<uint64_t>(got) == bytes) return SpanRead::Ok;
  const size_t have = got > 0 ? std::min(static_cast<size_t>(got), bytes) : 0;
  std::memset(buffer + have, 0, bytes - have);
  if (got >= 0 && dev.size >= 0 && offset + have >= static_cast<uint64_t>(dev.size)) return SpanRead::PastEnd;
  return SpanRead::Failed;
}

// Reads count sectors at firstSector with the failed-read rule: on a failure
// the user chooses; Retry reads the span again sector by sector (a sector
// that still fails stays zero), Skip keeps the zeros. A retried span still
// counts as failed. A span that runs off the end of the device fails quietly.
bool ReadSpanWithRule(OpenDevice& dev, uint64_t firstSector, uint32_t count, uint8_t* buffer, uint32_t bps) {
  const SpanRead r = ReadSpan(dev, buffer, size_t{count} * bps, firstSector * bps);
  if (r == SpanRead::Ok) return true;
  if (r == SpanRead::PastEnd) return false;
  const int choice = AskBadSectorChoice();
  if (choice == 0 || choice == 2) {
    for (uint32_t i = 0; i < count; ++i) ReadSpan(dev, buffer + size_t{i} * bps, bps, (firstSector + i) * bps);
  }
  return false;
}

// True when every byte offset of the request fits a signed 64-bit file offset.
bool RequestFits(uint64_t firstSector, uint32_t count, uint32_t bps) {
  const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / bps;
  return firstSector <= limit && count <= limit - firstSector;
}

}  // namespace

uint32_t SourceSectorBytes() {
  if (g_VirtualDiskSource) return kVirtualSectorBytes;
  if (g_BytesPerSector <= 0 || static_cast<uint32_t>(g_BytesPerSector) > kLargestSectorBytes) return 0;
  return static_cast<uint32_t>(g_BytesPerSector);
}

size_t SectorBytes() {
  const int32_t bps = g_BytesPerSector;
  return (bps > 0 && static_cast<uint32_t>(bps) <= kLargestSectorBytes) ? static_cast<size_t>(bps) : 512;
}

int AskBadSectorChoice() {
  // No lock is held while asking: the question may run a dialog on this very
  // thread, or wait for the GUI thread.
  std::atomic_ref<int32_t> choice(g_BadSectorChoice);
  const int standing = choice.load();
  if (standing != 2 && standing != 3) {
    const int answer = CurrentPrompt().BadSectorChoice();
    // A closed dialog answers with the standing choice; anything else is ignored.
    if (answer >= 0 && answer <= 3) choice.store(answer);
  }
  return choice.load();
}

const char* SelectedDevicePath() {
  int i = g_SelectedDiskIndex;
  return g_DevicePathTable[(i >= 0 && i < 10) ? i : 0];
}

void SetDevicePath0(char driveLetter) {
  const std::string path =
      driveLetter ? std::string("\\\\.\\") + driveLetter + ":" : std::string("\\\\.\\PhysicalDrive0");
  std::memset(g_DevicePathTable[0], 0, sizeof g_DevicePathTable[0]);
  std::memcpy(g_DevicePathTable[0], path.data(), std::min(path.size(), sizeof g_DevicePathTable[0] - 1));
}

void SetDeviceReadHook(DeviceReadHook hook) { g_ReadHook = std::move(hook); }

int ReadSectors(const char* devicePath, uint64_t firstSector, uint32_t count, uint8_t* buffer) {
  const uint32_t bps = SourceSectorBytes();
  if (bps == 0 || (buffer == nullptr && count > 0)) return 0;
  const size_t bytes = size_t{count} * bps;

  // The read limit of the selected range comes before every kind of source.
  const auto limit = static_cast<int64_t>(g_RangeEndSector);
  if (limit > 0 && firstSector > static_cast<uint64_t>(limit)) {
    if (bytes) std::memset(buffer, 0, bytes);
    return 0;
  }
  if (g_VirtualDiskSource) return ReadVirtualSectors(g_AppState.virtualDiskKind, firstSector, count, buffer);
  if (g_ImageSource) return ReadRawImageSectors(firstSector, count, buffer);

  if (!RequestFits(firstSector, count, bps)) {
    if (bytes) std::memset(buffer, 0, bytes);
    return 0;
  }
  std::shared_ptr<OpenDevice> dev = devicePath ? CachedDevice(devicePath) : nullptr;
  if (!dev) {
    if (bytes) std::memset(buffer, 0, bytes);
    return 0;
  }
  // One transfer for the whole request; only a request that fails or comes
  // back short is read again in chunks, so a bad spot still costs one chunk
  // and asks exactly as a chunked read would.
  if (count > kReadChunkSectors && ReadSpan(*dev, buffer, bytes, firstSector * bps) == SpanRead::Ok) return 1;
  bool ok = true;
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(kReadChunkSectors, count - done);
    if (!ReadSpanWithRule(*dev, firstSector + done, n, buffer + size_t{done} * bps, bps)) ok = false;
    done += n;
  }
  return ok ? 1 : 0;
}

namespace {

// The writer's target: opened by the first write of a job and kept until the
// job ends it, so that imaging does not pay an open, a sync and a close per
// chunk. A block device is held exclusively all that time.
std::mutex g_WriterMutex;
File g_WriterFile;
std::string g_WriterName;
std::string g_WriterHost;

// Special files that cannot be synced are not a failure.
bool SyncWriter() {
  if (!g_WriterFile.isOpen() || g_WriterFile.sync()) return true;
  return g_WriterFile.lastError() == EINVAL || g_WriterFile.lastError() == EROFS;
}

bool CloseWriter() {
  if (!g_WriterFile.isOpen()) return true;
  const bool synced = SyncWriter();
  const bool closed = g_WriterFile.closeChecked();
  g_WriterName.clear();
  g_WriterHost.clear();
  return synced && closed;
}

// The open target for devicePath, opening it (and ending another one) when
// needed; null when it cannot be opened. A failed open is not remembered.
File* WriterFor(const char* devicePath) {
  const std::string host = DeviceMap::Instance().Resolve(devicePath);
  if (g_WriterFile.isOpen() && g_WriterName == devicePath && g_WriterHost == host) return &g_WriterFile;
  CloseWriter();
  struct stat st {};
  if (host.empty() || ::stat(host.c_str(), &st) != 0) return nullptr;
  if (S_ISBLK(st.st_mode)) {
    // Exclusive: a mounted or otherwise held disk is refused.
    if (!g_WriterFile.open(host, File::Mode::DeviceWriteExclusive)) return nullptr;
  } else if (S_ISREG(st.st_mode)) {
    if (!g_WriterFile.open(host, File::Mode::ReadWrite)) return nullptr;
  } else {
    return nullptr;
  }
  g_WriterName = devicePath;
  g_WriterHost = host;
  return &g_WriterFile;
}

}  // namespace

int WriteSectors(const char* devicePath, uint64_t firstSector, uint32_t count, const uint8_t* buffer) {
  if (!devicePath || g_BytesPerSector <= 0 || static_cast<uint32_t>(g_BytesPerSector) > kLargestSectorBytes) return 0;
  if (buffer == nullptr && count > 0) return 0;
  const auto bps = static_cast<uint32_t>(g_BytesPerSector);
  if (!RequestFits(firstSector, count, bps)) return 0;
  std::lock_guard lock(g_WriterMutex);
  File* file = WriterFor(devicePath);
  if (!file) return 0;
  // One transfer for the whole request, as reads do; only a request that
  // fails or goes short is written again in chunks, so the target ends up
  // with what the chunked writes alone would have put there.
  const size_t bytes = size_t{count} * bps;
  if (count > kReadChunkSectors && file->writeAt(buffer, bytes, firstSector * bps) == static_cast<int64_t>(bytes))
    return 1;
  bool ok = true;
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(kReadChunkSectors, count - done);
    const uint8_t* src = buffer + size_t{done} * bps;
    const uint64_t offset = (firstSector + done) * bps;
    if (file->writeAt(src, size_t{n} * bps, offset) != static_cast<int64_t>(size_t{n} * bps)) {
      ok = false;
      // Get as much of the span onto the target as will go.
      for (uint32_t i = 0; i < n; ++i) file->writeAt(src + size_t{i} * bps, bps, offset + uint64_t{i} * bps);
    }
    done += n;
  }
  return ok ? 1 : 0;
}

bool SyncSectorWriter() {
  std::lock_guard lock(g_WriterMutex);
  return SyncWriter();
}

bool EndSectorWriting() {
  std::lock_guard lock(g_WriterMutex);
  return CloseWriter();
}

int64_t SeekFile64(File& file, int64_t offset, int moveMethod) {
  if (!file.isOpen()) return -1;
  const int whence = moveMethod == FILE_CURRENT ? SEEK_CUR : moveMethod == FILE_END ? SEEK_END : SEEK_SET;
  const off_t pos = ::lseek(file.fd(), static_cast<off_t>(offset), whence);
  return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int Win9xAbsoluteRead(int, uint32_t, uint16_t, uint8_t*) { return 0; }

}  // namespace qm
