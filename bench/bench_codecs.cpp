// Converting names between UTF-16 and UTF-8 is on every path that lists or
// copies files; compare it with iconv on the same text.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench_util.h"
#include "platform/text.h"

int main() {
  qm::bench::Scratch dir;
  std::u16string text;
  for (int i = 0; i < 2'000'000; ++i) text += static_cast<char16_t>(u'a' + i % 26 + (i % 7 == 0 ? 0xC0 : 0));
  {
    std::ofstream out(dir.file("in.u16"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
  }
  size_t total = 0;
  std::string cmd = "for i in 1 2 3 4 5 6 7 8 9 10; do iconv -f UTF-16LE -t UTF-8 " + dir.file("in.u16") +
                    " > /dev/null; done";
  const auto [ours, theirs] = qm::bench::Alternating(
      qm::bench::kRounds,
      [&] {
        for (int r = 0; r < 10; ++r) total += qm::Utf16ToUtf8(text).size();
      },
      [&] { return qm::bench::CommandSeconds(cmd); });
  // Both sides turn the same text into the same bytes.
  const std::string utf8 = qm::Utf16ToUtf8(text);
  {
    std::ofstream out(dir.file("ours.u8"), std::ios::binary);
    out.write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
  }
  const bool same = std::system(("iconv -f UTF-16LE -t UTF-8 " + dir.file("in.u16") + " | cmp -s - " +
                                 dir.file("ours.u8")).c_str()) == 0;
  std::printf("UTF-8 text: %s\n", same ? "equal to iconv's" : "MISMATCH with iconv's");
  qm::bench::Row("UTF-16 -> UTF-8, 10 x 2M units", ours, "iconv", theirs);
  return total ? 0 : 1;
}
