#pragma once
// Shared by the disk-access tests: disks presented through the environment,
// images filled with a pattern that tells every sector apart, and a clean
// reader state per test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/device_map.h"
#include "platform/file.h"

namespace qm::test {

class EnvScope {
 public:
  EnvScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvScope() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// Presents files as "\\.\PhysicalDrive0", "1", ... for the scope.
class DisksScope {
 public:
  explicit DisksScope(const std::string& colonSeparated) : env_("QUILLMOREN_DISKS", colonSeparated.c_str()) {
    DeviceMap::Instance().Refresh();
  }
  ~DisksScope() { DeviceMap::Instance().Refresh(); }

 private:
  EnvScope env_;
};

// Byte j of sector s of a pattern image; tag tells images apart.
inline uint8_t PatternByte(uint64_t sector, size_t j, uint8_t tag = 0) {
  return static_cast<uint8_t>((sector * 131 + j * 7 + tag * 29 + (sector >> 8)) & 0xFF) | (j == 0 ? 1 : 0);
}

inline std::vector<uint8_t> PatternSectors(uint64_t first, uint32_t count, uint32_t bps, uint8_t tag = 0) {
  std::vector<uint8_t> out(size_t{count} * bps);
  for (uint32_t i = 0; i < count; ++i)
    for (size_t j = 0; j < bps; ++j) out[size_t{i} * bps + j] = PatternByte(first + i, j, tag);
  return out;
}

// Writes count pattern sectors at first into path (created when missing).
inline void WritePattern(const std::string& path, uint64_t first, uint32_t count, uint32_t bps = 512, uint8_t tag = 0) {
  { std::ofstream touch(path, std::ios::app | std::ios::binary); }
  File f;
  ASSERT_TRUE(f.open(path, File::Mode::ReadWrite));
  auto data = PatternSectors(first, count, bps, tag);
  ASSERT_EQ(f.writeAt(data.data(), data.size(), first * bps), static_cast<int64_t>(data.size()));
}

inline void WriteBytes(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
  { std::ofstream touch(path, std::ios::app | std::ios::binary); }
  File f;
  ASSERT_TRUE(f.open(path, File::Mode::ReadWrite));
  ASSERT_EQ(f.writeAt(bytes.data(), bytes.size(), offset), static_cast<int64_t>(bytes.size()));
}

// The fixture tools live partly in the system folders.
inline void AddSbinToPath() {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  if (path.find("/usr/sbin") == std::string::npos) ::setenv("PATH", (path + ":/usr/sbin:/sbin").c_str(), 1);
}

// Program state as at start, with no read hook and no standing answer.
class ReaderStateTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    ResetAppState();
    g_BadSectorChoice = 0;
    SetDeviceReadHook({});
    EndSectorWriting();
  }
};

}  // namespace qm::test
