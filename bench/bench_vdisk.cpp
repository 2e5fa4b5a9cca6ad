// Reading a virtual disk end to end is what a scan of one does; compare our
// readers in the sector reader's 520-sector requests with qemu-img's raw
// conversion of the same 2 GiB image. Both sides open the image, read it
// and write the same sparse raw file (zero requests skipped, as qemu-img
// skips zero areas) inside their timers; they run five times each in turns
// with the page cache written back before each run, and the two outputs
// must match.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include <algorithm>

#include "bench_util.h"
#include "platform/file.h"
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
    std::vector<uint8_t> buf(size_t{kRequest} * 512);
    uint64_t sum = 0;
    // Warm the page cache for both sides alike.
    Sh("cat " + image + " > /dev/null");
    const std::string mine = dir.file("ours.raw"), out = dir.file("out.raw");
    auto ourConversion = [&] {
      std::u16string info;
      if (qm::ReaderForKind(c.kind).Open(info, image) != qm::kVdOpened) {
        ++failures;
        return;
      }
      qm::File raw;
      if (!raw.open(mine, qm::File::Mode::CreateTruncate)) {
        ++failures;
        qm::ReaderForKind(c.kind).Close();
        return;
      }
      for (uint64_t s = 0; s < kDiskBytes / 512; s += kRequest) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kRequest, kDiskBytes / 512 - s));
        const size_t bytes = size_t{n} * 512;
        if (!qm::ReadVirtualSectors(c.kind, s, n, buf.data())) ++failures;
        sum += buf[0];
        if (std::all_of(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(bytes), [](uint8_t b) { return b == 0; }))
          continue;
        if (raw.writeAt(buf.data(), bytes, s * 512) != static_cast<int64_t>(bytes)) ++failures;
      }
      if (!raw.closeChecked()) ++failures;
      if (::truncate(mine.c_str(), static_cast<off_t>(kDiskBytes)) != 0) ++failures;
      qm::ReaderForKind(c.kind).Close();
    };
    const auto [ours, theirs] = qm::bench::Alternating(
        qm::bench::kRounds, ourConversion,
        [&] { return qm::bench::CommandSeconds("qemu-img convert -O raw " + image + " " + out); },
        [&](qm::bench::Side side) { std::remove((side == qm::bench::Side::Ours ? mine : out).c_str()); });
    qm::bench::Row(std::string("read 2 GiB ") + c.name + " into a raw file", ours, "qemu-img convert -O raw", theirs);
    const bool same = Sh("cmp " + mine + " " + out);
    std::printf("%s: %s\n", c.name,
                same ? "our raw file equals qemu-img's" : "MISMATCH: our raw file differs from qemu-img's");
    failures += !same;
    std::remove(mine.c_str());
    std::remove(out.c_str());
    std::remove(image.c_str());
    if (sum == 0) ++failures;
  }
  return failures ? 1 : 0;
}
