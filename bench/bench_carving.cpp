// Carving, two ways. A pass over 2 GiB of noise with a few planted files,
// all 17 types ticked, against cat reading the same image (the read limit).
// Then the JPEG, PNG, PDF and ZIP types against photorec in batch mode with
// the same four types, on 2 GiB of random bytes with real files of those
// types planted at sector starts; for both sides the row tells how many
// planted files came back whole (their bytes a prefix of a carved file) and
// how many carved files are none of them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "bench_util.h"
#include "diskio/sector_io.h"
#include "engines/carving_table.h"
#include "engines/raw_carving.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/scan_host.h"

namespace fs = std::filesystem;

namespace {

bool Sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// An image of random bytes, 8 MiB blocks of one seeded stream; fill may
// change a block before it is written.
bool WriteNoise(const std::string& path, uint64_t bytes, uint64_t seed,
                const std::function<void(std::vector<uint8_t>&, uint64_t)>& fill = {}) {
  std::vector<uint8_t> block(8 << 20);
  std::mt19937_64 rng(seed);
  qm::File f;
  if (!f.open(path, qm::File::Mode::CreateTruncate)) return false;
  for (uint64_t at = 0; at < bytes; at += block.size()) {
    for (size_t i = 0; i < block.size(); i += 8) {
      const uint64_t v = rng();
      std::memcpy(&block[i], &v, 8);
    }
    if (fill) fill(block, at);
    if (f.writeAt(block.data(), block.size(), at) != static_cast<int64_t>(block.size())) return false;
  }
  return f.sync() && f.closeChecked();
}

// Presents the image as disk 0, selects all of it and builds the table with
// the named types ticked.
void SelectForCarving(const std::string& image, uint64_t bytes, const std::string& target,
                      const std::vector<std::u16string>& types) {
  ::setenv("QUILLMOREN_DISKS", image.c_str(), 1);
  qm::DeviceMap::Instance().Refresh();
  qm::g_AppState.rawRecoveryPage = 6;
  qm::g_SelectedDiskIndex = 0;
  qm::g_BytesPerSector = 512;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = bytes / 512;
  qm::g_BadSectorChoice = 3;
  qm::g_RecoveryTargetFolder = target;
  bool ticks[qm::kCarvingRows];
  for (int r = 0; r < qm::kCarvingRows; ++r)
    ticks[r] = types.empty() || std::find(types.begin(), types.end(), qm::kCarvingShortNames[r]) != types.end();
  qm::BuildExtensionGroups(ticks);
}

std::vector<std::string> FilesUnder(const std::string& root) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(root, ec))
    if (e.is_regular_file()) out.push_back(e.path().string());
  return out;
}

// Pass over all 17 types against cat.
void AllTypes(const qm::bench::Scratch& dir, uint64_t bytes) {
  const std::string src = dir.file("carve.img");
  // Every 8 MiB a small PDF and a JPEG-like file.
  const std::string pdf = "%PDF-1.4\n" + std::string(3000, 'x') + "\n%%EOF\n";
  if (!WriteNoise(src, bytes, 7, [&](std::vector<uint8_t>& block, uint64_t) {
        std::memcpy(block.data() + 4096 * 512, pdf.data(), pdf.size());
        std::memcpy(block.data() + 8192 * 512 + 6, "JFIF", 4);
        block[8192 * 512 + 9000] = 0xFF, block[8192 * 512 + 9001] = 0xD9;
      })) {
    std::printf("cannot write the carving image\n");
    return;
  }
  SelectForCarving(src, bytes, dir.file("found"), {});
  const auto [ours, theirs] = qm::bench::Alternating(
      qm::bench::kRounds, [] { qm::RawRecoveryThread(); },
      [&] { return qm::bench::CommandSeconds("cat " + src + " > /dev/null"); },
      [&](qm::bench::Side side) {
        if (side != qm::bench::Side::Ours) return;
        qm::bench::EmptyFolder(dir.file("found"));
        SelectForCarving(src, bytes, dir.file("found"), {});
      });
  const size_t carved = FilesUnder(dir.file("found")).size();
  // The reader alone over the same range, in the chunks the carver asks for.
  std::vector<uint8_t> chunk(520 * 512);
  const auto [reader, cat] = qm::bench::Alternating(
      qm::bench::kRounds,
      [&] {
        for (uint64_t s = 0; s < bytes / 512; s += 520)
          qm::ReadSectors(qm::SelectedDevicePath(), s, static_cast<uint32_t>(std::min<uint64_t>(520, bytes / 512 - s)),
                          chunk.data());
      },
      [&] { return qm::bench::CommandSeconds("cat " + src + " > /dev/null"); });
  const double mb = static_cast<double>(bytes) / (1 << 20);
  qm::bench::Row("carve " + std::to_string(bytes >> 30) + " GiB, all 17 types", ours, "cat > /dev/null", theirs);
  qm::bench::Row("ReadSectors alone, 520-sector reads", reader, "cat > /dev/null", cat);
  std::printf("ours %.0f MB/s (%zu files carved), cat %.0f MB/s\n", mb / ours, carved, mb / theirs);
  fs::remove(src);
  fs::remove_all(dir.file("found"));
}

struct Planted {
  std::string type;
  std::string bytes;
  uint64_t sector = 0;
};

// A PDF of one object whose stream is random bytes.
std::string MakePdf(std::mt19937_64& rng, size_t streamBytes) {
  std::string stream(streamBytes, '\0');
  for (char& c : stream) c = static_cast<char>(rng());
  std::string s = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  offsets.push_back(s.size());
  s += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  offsets.push_back(s.size());
  s += "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n";
  offsets.push_back(s.size());
  s += "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>\nendobj\n";
  offsets.push_back(s.size());
  s += "4 0 obj\n<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream\nendobj\n";
  const size_t xref = s.size();
  s += "xref\n0 5\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    s += line;
  }
  s += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return s;
}

// kEach files of each type, of varied sizes, made by ImageMagick and zip or
// written here.
constexpr int kEach = 40;

std::vector<Planted> MakePlantedFiles(const qm::bench::Scratch& dir) {
  std::vector<Planted> out;
  std::mt19937_64 rng(23);
  const std::string work = dir.file("planted");
  fs::create_directories(work);
  for (int i = 0; i < kEach; ++i) {
    const int w = 80 + static_cast<int>(rng() % 420), h = 60 + static_cast<int>(rng() % 300);
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    const std::string seed = std::to_string(i + 1);
    const std::string jpg = work + "/" + seed + ".jpg", png = work + "/" + seed + ".png";
    const std::string zip = work + "/" + seed + ".zip", member = work + "/member" + seed + ".bin";
    if (!Sh("convert -seed " + seed + " -size " + size + " plasma:fractal -strip -quality 90 " + jpg) ||
        !Sh("convert -seed " + seed + " -size " + size + " plasma:fractal -strip " + png))
      return {};
    {
      std::string bytes(4096 + rng() % (1 << 20), '\0');
      for (char& c : bytes) c = static_cast<char>(rng());
      std::ofstream(member, std::ios::binary) << bytes;
      std::ofstream(work + "/notes.txt") << "notes of archive " << seed << "\n" << std::string(2000 + i * 50, 'n');
    }
    if (!Sh("cd " + work + " && zip -q -X " + zip + " " + fs::path(member).filename().string() + " notes.txt"))
      return {};
    out.push_back({"JPEG", Slurp(jpg)});
    out.push_back({"PNG", Slurp(png)});
    out.push_back({"PDF", MakePdf(rng, 8192 + rng() % (1 << 20))});
    out.push_back({"ZIP", Slurp(zip)});
  }
  fs::remove_all(work);
  return out;
}

struct Outcome {
  int intact = 0;      // planted files whose bytes begin a carved file
  int falseFiles = 0;  // carved files that begin with no planted file
  size_t written = 0;
};

Outcome Judge(const std::vector<Planted>& planted, const std::vector<std::string>& carved) {
  std::multimap<std::string, size_t> byStart;  // first 256 bytes -> planted index
  for (size_t i = 0; i < planted.size(); ++i) byStart.emplace(planted[i].bytes.substr(0, 256), i);
  std::vector<bool> found(planted.size(), false);
  Outcome o;
  o.written = carved.size();
  for (const std::string& path : carved) {
    const std::string bytes = Slurp(path);
    bool any = false;
    auto [from, to] = byStart.equal_range(bytes.substr(0, 256));
    for (auto it = from; it != to; ++it) {
      const std::string& p = planted[it->second].bytes;
      if (bytes.size() >= p.size() && bytes.compare(0, p.size(), p) == 0) found[it->second] = true, any = true;
    }
    o.falseFiles += !any;
  }
  o.intact = static_cast<int>(std::count(found.begin(), found.end(), true));
  return o;
}

// Against photorec: the four types on noise with planted files.
int AgainstPhotorec(const qm::bench::Scratch& dir, uint64_t bytes) {
  if (!Sh("command -v photorec") || !Sh("command -v convert") || !Sh("command -v zip")) {
    std::printf("photorec row: photorec (testdisk), ImageMagick and zip are needed\n");
    return 1;
  }
  std::vector<Planted> planted = MakePlantedFiles(dir);
  if (planted.empty()) {
    std::printf("photorec row: cannot make the planted files\n");
    return 1;
  }
  // One file in each slot of equal size, at a random sector within it.
  std::mt19937_64 rng(5);
  const uint64_t slotSectors = bytes / 512 / planted.size();
  std::shuffle(planted.begin(), planted.end(), rng);
  for (size_t i = 0; i < planted.size(); ++i) {
    const uint64_t span = (planted[i].bytes.size() + 511) / 512 + 64;
    planted[i].sector = i * slotSectors + (span < slotSectors ? rng() % (slotSectors - span) : 0);
  }
  const std::string src = dir.file("planted.img");
  if (!WriteNoise(src, bytes, 9, [&](std::vector<uint8_t>& block, uint64_t at) {
        for (const Planted& p : planted) {
          const uint64_t start = p.sector * 512, end = start + p.bytes.size();
          if (end <= at || start >= at + block.size()) continue;
          const uint64_t from = std::max(start, at), to = std::min(end, at + block.size());
          std::memcpy(block.data() + (from - at), p.bytes.data() + (from - start), to - from);
        }
      })) {
    std::printf("photorec row: cannot write the image\n");
    return 1;
  }
  const std::vector<std::u16string> types = {u"JPEG", u"PNG", u"PDF", u"ZIP"};
  const std::string ours = dir.file("carved"), theirs = dir.file("photorec");
  const std::string photorec = "photorec /d " + theirs + "/recup_dir /cmd " + src +
                               " partition_none,fileopt,everything,disable,jpg,enable,png,enable,pdf,enable,zip,enable,"
                               "search >/dev/null 2>&1";
  const auto [t, ref] = qm::bench::Alternating(
      qm::bench::kRounds, [] { qm::RawRecoveryThread(); }, [&] { return qm::bench::CommandSeconds(photorec); },
      [&](qm::bench::Side side) {
        if (side == qm::bench::Side::Theirs) {
          qm::bench::EmptyFolder(theirs);
        } else {
          qm::bench::EmptyFolder(ours);
          SelectForCarving(src, bytes, ours, types);
        }
      });
  std::vector<std::string> theirFiles = FilesUnder(theirs);
  // photorec's report of the run is no carved file.
  theirFiles.erase(std::remove_if(theirFiles.begin(), theirFiles.end(),
                                  [](const std::string& p) { return fs::path(p).filename() == "report.xml"; }),
                   theirFiles.end());
  const Outcome a = Judge(planted, FilesUnder(ours)), b = Judge(planted, theirFiles);
  qm::bench::Row("carve " + std::to_string(bytes >> 30) + " GiB noise, " + std::to_string(planted.size()) +
                     " planted JPEG/PNG/PDF/ZIP",
                 t, "photorec /cmd (same 4 types)", ref);
  std::printf("planted files back whole: ours %d of %zu, photorec %d of %zu; false files: ours %d, photorec %d "
              "(files written: ours %zu, photorec %zu)%s\n",
              a.intact, planted.size(), b.intact, planted.size(), a.falseFiles, b.falseFiles, a.written, b.written,
              a.intact == static_cast<int>(planted.size()) ? "" : "  MISMATCH: planted files lost by our carving");
  fs::remove(src);
  return a.intact == static_cast<int>(planted.size()) ? 0 : 1;
}

}  // namespace

int main() {
  const char* gib = std::getenv("QM_BENCH_CARVING_GIB");
  const uint64_t bytes = (gib ? std::strtoull(gib, nullptr, 10) : 2) << 30;
  qm::bench::Scratch dir;
  qm::ScanHost page;
  qm::g_AppState.scanPage = &page;
  if (!std::getenv("QM_BENCH_PHOTOREC_ONLY")) AllTypes(dir, bytes);
  return AgainstPhotorec(dir, bytes);
}
