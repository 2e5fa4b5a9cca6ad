// The check that a resource module file keeps every offset inside itself,
// on files made by Qt's rcc in each format version (the fuzz seeds).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/resource_file.h"

namespace qm {
namespace {

std::vector<uint8_t> ReadSeed(const std::string& name) {
  std::ifstream in(std::string(QM_FIXTURES_DIR) + "/../../fuzz/corpus/fuzz_resource_file/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(ResourceFile, FilesMadeByRccPassAndEveryShorterCutFails) {
  for (const char* name : {"program-v1.rcc", "program-v2.rcc", "program-v3.rcc", "module-v1.rcc",
                           "module-v2.rcc", "module-v3.rcc"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = ReadSeed(name);
    ASSERT_GT(bytes.size(), 100u);
    EXPECT_TRUE(IsWellFormedResourceFile(bytes));
    // The node tree comes last and every node is reachable: any cut loses one.
    for (size_t n = 0; n < bytes.size(); ++n)
      ASSERT_FALSE(IsWellFormedResourceFile(std::span(bytes).first(n))) << n;
  }
}

TEST(ResourceFile, OffsetsOutsideTheFileFail) {
  std::vector<uint8_t> good = ReadSeed("module-v2.rcc");
  ASSERT_GT(good.size(), 100u);
  auto put = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  auto be32 = [&](size_t at) {
    return (uint32_t{good[at]} << 24) | (uint32_t{good[at + 1]} << 16) | (uint32_t{good[at + 2]} << 8) | good[at + 3];
  };
  const uint32_t tree = be32(8);
  for (size_t field : {8u, 12u, 16u}) {
    SCOPED_TRACE(field);
    std::vector<uint8_t> b = good;
    put(b, field, static_cast<uint32_t>(b.size()));
    EXPECT_FALSE(IsWellFormedResourceFile(b));
  }
  // Every node's name offset, child list and data offset pushed past the end.
  const size_t nodes = (good.size() - tree) / 22;
  for (size_t node = 0; node < nodes; ++node) {
    SCOPED_TRACE(node);
    const size_t at = tree + node * 22;
    std::vector<uint8_t> b = good;
    put(b, at + 10, 0x7FFFFFF0u);  // first child, or data offset
    EXPECT_FALSE(IsWellFormedResourceFile(b));
    if (node == 0) continue;
    b = good;
    put(b, at, 0x7FFFFFF0u);  // name
    EXPECT_FALSE(IsWellFormedResourceFile(b));
  }
}

}  // namespace
}  // namespace qm
