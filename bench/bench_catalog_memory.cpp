// A large volume must fit its catalogue in memory, so each catalogued file
// must stay small. Inserts 1,000,000 files (ten to a folder, in the order a
// scan meets them) in a fresh child process and reports how much the resident
// memory grew per file: with FAT short names (8-bit, 12 characters), NTFS
// names (UTF-16, 20 characters) and long names (UTF-16, 29 characters). The
// row times the same inserts against a stable sort of the same keys by GNU
// sort.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "bench_util.h"
#include "engines/catalog.h"
#include "state/app_state.h"

namespace {

constexpr uint32_t kFiles = 1'000'000;
constexpr uint32_t kFilesPerFolder = 10;
constexpr uint32_t kFolders = kFiles / kFilesPerFolder;

long ResidentBytes() {
  long size = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * ::sysconf(_SC_PAGESIZE);
}

std::u16string Widen(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

struct Result {
  double bytesPerFile = -1;
  double seconds = -1;
};

// Runs in the child: folders first (their memory is the baseline), then the
// files, which are what is measured.
// One kind of name: 8-bit or wide, and the printf format of the i-th file's.
struct Names {
  bool wide;
  const char* file;
  const char* label;
  const char* row;
};
constexpr Names kNames[] = {
    {false, "IMG%05u.JPG", "FAT short names (12 characters)", "FAT names"},
    {true, "document %07u.pdf", "NTFS names (UTF-16, 20 characters)", "NTFS names"},
    {true, "report %07u final copy.pdf", "long names (UTF-16, 29 characters)", "29-char names"},
};

Result Fill(const Names& names) {
  const bool wide = names.wide;
  char name[48];
  for (uint32_t d = 0; d < kFolders; ++d) {
    std::snprintf(name, sizeof name, wide ? "project folder %05u" : "DIR%05u", d);
    if (wide)
      qm::InsertFolderRecord({}, Widen(name), 'n', d / 10 + 5, d + 16, 0, {}, 0);
    else
      qm::InsertFolderRecord(name, u"", 'n', d / 10, d + 16, 0, {}, 0);
  }
  const qm::RecordTimes times{0x01D9A3B4u, 0x5C2E7F10u, 0x01D9A3B4u, 0x5C2E7F10u, 0x01D9A3B4u, 0x5C2E7F10u};
  const long before = ResidentBytes();
  Result r;
  r.seconds = qm::bench::Seconds([&] {
    for (uint32_t i = 0; i < kFiles; ++i) {
      const uint32_t parent = i / kFilesPerFolder + 16;
      if (wide) {
        std::snprintf(name, sizeof name, names.file, i);
        qm::InsertFileRecord({}, Widen(name), 'n', 4096 + i, parent, i + 64, 0, times);
      } else {
        std::snprintf(name, sizeof name, names.file, i % 100000);
        qm::InsertFileRecord(name, u"", i % 7 ? 'n' : 'y', 4096 + i, parent, i + 64, 0, times);
      }
    }
  });
  r.bytesPerFile = double(ResidentBytes() - before) / kFiles;
  return r;
}

Result InChild(const Names& names) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    Result r = Fill(names);
    const bool sent = ::write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    ::_exit(sent ? 0 : 1);
  }
  ::close(fds[1]);
  Result r;
  if (pid < 0 || ::read(fds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r = {};
  ::close(fds[0]);
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  return r;
}

}  // namespace

int main() {
  qm::bench::Scratch dir;
  {
    std::ofstream out(dir.file("keys.txt"));
    for (uint32_t i = 0; i < kFiles; ++i) out << i / kFilesPerFolder + 16 << ' ' << i << '\n';
  }
  const double sorted = qm::bench::CommandSeconds("sort -s -n -k1,1 '" + dir.file("keys.txt") + "' > /dev/null");
  for (const Names& names : kNames) {
    Result r = InChild(names);
    if (r.seconds < 0) {
      std::printf("catalogue memory, %s: the measuring process failed\n", names.label);
      continue;
    }
    std::printf("catalogue memory, %s: %.1f bytes per file at 1,000,000 files\n", names.label, r.bytesPerFile);
    char work[96];
    std::snprintf(work, sizeof work, "catalogue 1M files, %s, %.0f B/file", names.row, r.bytesPerFile);
    qm::bench::Row(work, r.seconds, "sort -s -n (same keys)", sorted);
  }
  return 0;
}
