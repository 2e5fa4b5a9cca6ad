// Reading a virtual disk end to end is what a scan of one does; compare our
// readers in the sector reader's 520-sector requests with qemu-io reading the
// same 2 GiB image into memory. Neither side writes anything: a conversion to
// a raw file would time the writes as well.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "vdisk/virtual_disk.h"

namespace {

bool Sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

int main() {
  qm::bench::Scratch dir;
  constexpr uint64_t kDiskBytes = 2ull << 30;
  constexpr uint32_t kRequest = 520;
  struct Case {
    const char* name;
    char kind;
    const char* format;
    const char* options;
  } cases[] = {{"qcow2", 'C', "qcow2", "-o compat=0.10"},
               {"vhdx", 'X', "vhdx", ""},
               {"vmdk", 'N', "vmdk", ""}};
  int failures = 0;
  for (const Case& c : cases) {
    std::string image = dir.file(std::string("disk.") + c.name);
    std::string fill = "qemu-io -f " + std::string(c.format);
    // Three quarters written with data, the rest left unallocated.
    for (uint64_t at = 0; at < kDiskBytes * 3 / 4; at += 256u << 20)
      fill += " -c 'write -P " + std::to_string(0x11 + at / (256u << 20)) + " " + std::to_string(at) + " 256M'";
    if (!Sh("qemu-img create -f " + std::string(c.format) + " " + c.options + " " + image + " 2G") ||
        !Sh(fill + " " + image)) {
      std::fprintf(stderr, "cannot make the %s image\n", c.name);
      return 1;
    }
    std::u16string info;
    if (qm::ReaderForKind(c.kind).Open(info, image) != qm::kVdOpened) {
      std::fprintf(stderr, "cannot open the %s image\n", c.name);
      return 1;
    }
    std::vector<uint8_t> buf(size_t{kRequest} * 512);
    uint64_t sum = 0;
    // Warm the page cache for both sides alike.
    Sh("cat " + image + " > /dev/null");
    double ours = qm::bench::Seconds([&] {
      for (uint64_t s = 0; s < kDiskBytes / 512; s += kRequest) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kRequest, kDiskBytes / 512 - s));
        if (!qm::ReadVirtualSectors(c.kind, s, n, buf.data())) ++failures;
        sum += buf[0];
      }
    });
    qm::ReaderForKind(c.kind).Close();
    std::string read = "qemu-io -f " + std::string(c.format) + " -r";
    for (uint64_t at = 0; at < kDiskBytes; at += 256u << 20)
      read += " -c 'read -q " + std::to_string(at) + " 256M'";
    double theirs = qm::bench::CommandSeconds(read + " " + image + " >/dev/null");
    qm::bench::Row(std::string("read 2 GiB ") + c.name + " (520-sector requests)", ours, "qemu-io read", theirs);
    std::remove(image.c_str());
    if (sum == 0) ++failures;
  }
  return failures ? 1 : 0;
}
