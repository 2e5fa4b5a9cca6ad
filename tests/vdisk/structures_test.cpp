// Header checks, the table cache, the VHDX header and region choices, and
// reads racing a close.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "image_maker.h"
#include "platform/file.h"
#include "vdisk/qcow_reader.h"
#include "vdisk/qed_reader.h"
#include "vdisk/table_cache.h"
#include "vdisk/vhdx_reader.h"
#include "vdisk/vmdk_reader.h"

namespace qm::test {
namespace {

void Be32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}
void Be64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  Be32(b, at, uint32_t(v >> 32));
  Be32(b, at + 4, uint32_t(v));
}

// A QCOW2 header of a 1 GiB disk with 64 KiB clusters.
std::vector<uint8_t> Qcow2Header() {
  std::vector<uint8_t> h(72, 0);
  Be32(h, 0, 0x514649FB);
  Be32(h, 4, 2);
  Be32(h, 20, 16);
  Be64(h, 24, 1ull << 30);
  Be32(h, 36, 2);  // 2 L1 entries cover 1 GiB with 64 KiB clusters
  Be64(h, 40, 0x30000);
  return h;
}

TEST(QcowHeader, FieldsAreCheckedBeforeUse) {
  struct Case {
    const char* name;
    void (*patch)(std::vector<uint8_t>&);
    int want;
  } cases[] = {
      {"valid", [](std::vector<uint8_t>&) {}, kVdOpened},
      {"version 3", [](std::vector<uint8_t>& h) { Be32(h, 4, 3); }, kVdNotThisFormat},
      {"bad magic", [](std::vector<uint8_t>& h) { h[0] = 0; }, kVdNotThisFormat},
      {"encrypted", [](std::vector<uint8_t>& h) { Be32(h, 32, 1); }, kVdDamaged},
      {"snapshots", [](std::vector<uint8_t>& h) { Be32(h, 60, 1); }, kVdDamaged},
      {"cluster shift 63", [](std::vector<uint8_t>& h) { Be32(h, 20, 63); }, kVdDamaged},
      {"cluster shift 8", [](std::vector<uint8_t>& h) { Be32(h, 20, 8); }, kVdDamaged},
      {"L1 smaller than the disk", [](std::vector<uint8_t>& h) { Be32(h, 36, 1); }, kVdDamaged},
      {"L1 past the file", [](std::vector<uint8_t>& h) { Be64(h, 40, 1ull << 40); }, kVdDamaged},
      {"disk of 2^64 - 1 bytes", [](std::vector<uint8_t>& h) { Be64(h, 24, ~0ull); }, kVdDamaged},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> h = Qcow2Header();
    c.patch(h);
    QcowHeader out;
    EXPECT_EQ(DecodeQcowHeader(ByteReader(h.data(), h.size()), 1 << 20, out), c.want) << c.name;
  }
}

TEST(QedHeader, SizesAreCheckedBeforeUse) {
  auto header = [](uint32_t cluster, uint32_t table, uint64_t size) {
    std::vector<uint8_t> h(64, 0);
    PutLe32(h.data(), 0x00444551);
    PutLe32(h.data() + 4, cluster);
    PutLe32(h.data() + 8, table);
    PutLe64(h.data() + 40, 4096);
    PutLe64(h.data() + 48, size);
    return h;
  };
  struct Case {
    uint32_t cluster, table;
    uint64_t size;
    int want;
  } cases[] = {{65536, 4, 1ull << 30, kVdOpened},
               {65536, 4, (1ull << 30) + 256, kVdNotThisFormat},
               {65536, 3, 1ull << 30, kVdDamaged},
               {65535, 4, 1ull << 30, kVdDamaged},
               {0, 4, 1ull << 30, kVdDamaged},
               {1u << 31, 1, 1ull << 30, kVdDamaged},
               {4096, 1, 1ull << 40, kVdDamaged}};  // 512 x 512 x 4 KiB is 1 GiB
  for (const Case& c : cases) {
    std::vector<uint8_t> h = header(c.cluster, c.table, c.size);
    QedHeader out;
    EXPECT_EQ(DecodeQedHeader(ByteReader(h.data(), h.size()), 64 << 20, out), c.want)
        << c.cluster << " " << c.table << " " << c.size;
  }
}

TEST(VmdkHeader, GrainSizesAreCheckedBeforeUse) {
  auto header = [](uint64_t capacity, uint64_t grain, uint32_t gtes) {
    std::vector<uint8_t> h(512, 0);
    PutLe32(h.data(), 0x564D444B);
    PutLe64(h.data() + 12, capacity);
    PutLe64(h.data() + 20, grain);
    PutLe32(h.data() + 44, gtes);
    return h;
  };
  struct Case {
    uint64_t capacity, grain;
    uint32_t gtes;
    int want;
  } cases[] = {{1 << 21, 128, 512, kVdOpened},   {1 << 21, 0, 512, kVdDamaged},
               {1 << 21, 128, 0, kVdDamaged},    {~0ull, 128, 512, kVdDamaged},
               {1ull << 50, 1, 1, kVdDamaged}};  // a directory larger than the file
  for (const Case& c : cases) {
    std::vector<uint8_t> h = header(c.capacity, c.grain, c.gtes);
    VmdkSparseHeader out;
    EXPECT_EQ(DecodeVmdkSparseHeader(ByteReader(h.data(), h.size()), 1 << 20, out), c.want)
        << c.capacity << " " << c.grain << " " << c.gtes;
  }
}

TEST(VmdkDescriptorText, LinesStopAtTheFourthNul) {
  VmdkDescriptor d;
  ParseVmdkDescriptor(std::string("createType=\"vmfs\"\nRW 10 VMFS \"a b.vmdk\" 7\n\0\0\0\0\nRW 5 FLAT \"c\"\n", 55),
                      d);
  EXPECT_EQ(d.createType, "vmfs");
  ASSERT_EQ(d.extents.size(), 1u);
  EXPECT_EQ(d.extents[0].fileName, "a b.vmdk");
  EXPECT_EQ(d.extents[0].sectors, 10u);
  EXPECT_EQ(d.extents[0].offset, 7u);
}

// The bound of the cache: full and every table held, a new table fails;
// once released, the least recently used one is reused.
TEST(TableCacheBound, FullAndHeldRefusesThenRecyclesLeastRecent) {
  TempDir dir;
  std::string path = dir.file("tables");
  std::vector<uint8_t> bytes(4 << 20);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i >> 20);
  { std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), bytes.size()); }
  File f;
  ASSERT_TRUE(f.open(path, File::Mode::Read));
  TableCache cache;
  cache.Reset(1 << 20);  // two tables fit in the bound
  TableCache::Entry* a = cache.Load(f, 0);
  TableCache::Entry* b = cache.Load(f, 1 << 20);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(b->buffer[0], 1);
  EXPECT_EQ(cache.Load(f, 2 << 20), nullptr) << "all held";
  EXPECT_EQ(cache.Load(f, 0), a) << "a hit needs no new buffer";
  cache.Release(a);
  cache.Release(a);
  cache.Release(b);
  cache.Load(f, 0);  // a becomes the most recent
  cache.Release(a);
  TableCache::Entry* c = cache.Load(f, 3 << 20);
  EXPECT_EQ(c, b) << "the least recently used buffer is reused";
  EXPECT_EQ(c->buffer[0], 3);
  EXPECT_EQ(cache.Find(1 << 20), nullptr);
  cache.Release(c);
  EXPECT_EQ(cache.Load(f, 100 << 20), nullptr) << "a table past the file";
  EXPECT_NE(cache.Load(f, 1 << 20), nullptr) << "the failed load's buffer serves again";
}

// VHDX headers: the current one and the refusals.
TEST(VhdxHeaders, CurrentHeaderChoice) {
  auto header = [](bool valid, uint64_t seq, uint32_t logLength) {
    std::vector<uint8_t> h(80, 0);
    if (valid) std::memcpy(h.data(), "head", 4);
    PutLe64(h.data() + 8, seq);
    PutLe16(h.data() + 66, 1);
    PutLe32(h.data() + 68, logLength);
    return h;
  };
  struct Case {
    bool v1;
    uint64_t s1;
    bool v2;
    uint64_t s2;
    uint32_t len2;
    bool ok;
    int current;
  } cases[] = {{true, 5, true, 7, 0, true, 1}, {true, 7, true, 5, 0, true, 0}, {true, 5, true, 5, 0, true, 0},
               {true, 5, true, 5, 9, false, 0}, {false, 9, true, 1, 0, true, 1}, {true, 1, false, 9, 0, true, 0},
               {false, 1, false, 1, 0, false, 0}};
  for (const Case& c : cases) {
    std::vector<uint8_t> h1 = header(c.v1, c.s1, 0), h2 = header(c.v2, c.s2, c.len2);
    VhdxLayout l;
    EXPECT_EQ(VhdxReadHeaders(ByteReader(h1.data(), 80), ByteReader(h2.data(), 80), l), c.ok) << c.s1 << c.s2;
    if (c.ok) {
      EXPECT_EQ(l.currentHeader, c.current);
    }
  }
}

TEST(VhdxRegions, UnknownRegionsAndDuplicates) {
  const uint8_t bat[16] = {0x66, 0x77, 0xC2, 0x2D, 0x23, 0xF6, 0x00, 0x42,
                           0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08};
  const uint8_t meta[16] = {0x06, 0xA2, 0x7C, 0x8B, 0x90, 0x47, 0x9A, 0x4B,
                            0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E};
  const uint8_t other[16] = {1, 2, 3};
  auto table = [&](std::vector<std::pair<const uint8_t*, uint32_t>> entries) {
    std::vector<uint8_t> t(65536, 0);
    std::memcpy(t.data(), "regi", 4);
    PutLe32(t.data() + 8, static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
      std::memcpy(t.data() + 16 + 32 * i, entries[i].first, 16);
      PutLe64(t.data() + 16 + 32 * i + 16, (i + 1) << 20);
      PutLe32(t.data() + 16 + 32 * i + 24, 1 << 20);
      PutLe32(t.data() + 16 + 32 * i + 28, entries[i].second);
    }
    return t;
  };
  struct Case {
    const char* name;
    std::vector<std::pair<const uint8_t*, uint32_t>> entries;
    bool ok;
  } cases[] = {{"bat and metadata", {{bat, 1}, {meta, 1}}, true},
               {"unknown optional", {{bat, 1}, {other, 0}, {meta, 1}}, true},
               {"unknown required", {{bat, 1}, {other, 1}, {meta, 1}}, false},
               {"two bat regions", {{bat, 1}, {bat, 1}, {meta, 1}}, false},
               {"no metadata", {{bat, 1}}, false}};
  for (const Case& c : cases) {
    std::vector<uint8_t> t = table(c.entries);
    VhdxLayout l;
    EXPECT_EQ(VhdxReadRegionTable(ByteReader(t.data(), t.size()), l), c.ok) << c.name;
  }
  std::vector<uint8_t> t = table({{bat, 1}, {meta, 1}});
  PutLe32(t.data() + 8, 2048);
  VhdxLayout l;
  EXPECT_FALSE(VhdxReadRegionTable(ByteReader(t.data(), t.size()), l)) << "more than 2047 entries";
}

TEST(VhdxLayoutCheck, BatSizeChunksAndOverlaps) {
  VhdxLayout l;
  l.blockSize = 32 << 20;
  l.logicalSectorSize = 512;
  l.chunkRatio = (uint64_t{1} << 23) * 512 / l.blockSize;
  EXPECT_EQ(l.chunkRatio, 128u);
  l.virtualSize = 129ull * (32 << 20);  // 129 blocks: one sector-bitmap entry among them
  l.logOffset = 1 << 20;
  l.logLength = 1 << 20;
  l.metadataOffset = 2 << 20;
  l.metadataLength = 1 << 20;
  l.batOffset = 3 << 20;
  l.batLength = 130 * 8;
  EXPECT_TRUE(VhdxCheckLayout(8 << 20, l));
  EXPECT_EQ(l.batEntries, 130u);
  l.batLength = 129 * 8;
  EXPECT_FALSE(VhdxCheckLayout(8 << 20, l)) << "BAT too short";
  l.batLength = 130 * 8;
  l.batOffset = (2 << 20) + 4096;
  EXPECT_FALSE(VhdxCheckLayout(8 << 20, l)) << "BAT inside the metadata region";
  l.batOffset = 7 << 20;
  EXPECT_FALSE(VhdxCheckLayout(7 << 20, l)) << "BAT past the file";
}

// A worker reading while the interface thread closes and reopens: reads
// either succeed or give zeros, never touch freed tables.
TEST(ReaderThreads, ReadRacesCloseAndOpen) {
  if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
  TempDir dir;
  std::string image = dir.file("d.qcow2");
  Sh("qemu-img create -f qcow2 -o compat=0.10,cluster_size=512 " + Q(image) + " 4M && qemu-io -f qcow2 -c "
     "'write -P 0x5a 0 4M' " + Q(image));
  std::u16string info;
  ASSERT_EQ(g_QcowReader.Open(info, image), kVdOpened);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    std::vector<uint8_t> buf(64 * 512);
    for (uint64_t s = 0; !stop; s = (s + 64) % 8192) {
      int r = ReadVirtualSectors('C', s, 64, buf.data());
      uint8_t want = r ? 0x5a : 0;
      for (uint8_t b : buf)
        if (b != want) ++bad;
    }
  });
  for (int i = 0; i < 200; ++i) {
    g_QcowReader.Close();
    g_QcowReader.Open(info, image);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(bad, 0);
  g_QcowReader.Close();
}

}  // namespace
}  // namespace qm::test
