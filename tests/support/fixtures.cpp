#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/device_map.h"

namespace qm::test {
namespace {

// The scripts exit with 77 when a tool they need is missing.
constexpr int kMissingTool = 77;

FixtureSet RunMaker(const TempDir& dir, const char* script, std::initializer_list<const char*> args) {
  FixtureSet set{dir.path(), ""};
  const std::string log = dir.file(".fixture-maker.log");
  std::string cmd = "bash " + ShellQuote(FixturePath(script)) + " " + ShellQuote(dir.path());
  for (const char* a : args) cmd += " " + ShellQuote(a);
  cmd += " >" + ShellQuote(log) + " 2>&1";
  const int status = Run(cmd);
  if (status == 0) return set;
  std::string text = ReadText(log);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (status == kMissingTool) {
    set.skipReason = std::string(script) + ": " + text;
  } else {
    // A maker that breaks is a fault to see, not a reason to skip quietly.
    ADD_FAILURE() << script << " failed with status " << status << ":\n" << text;
    set.skipReason = std::string(script) + " failed";
  }
  return set;
}

}  // namespace

FixtureSet MakeFatImages(const TempDir& dir, std::initializer_list<const char*> kinds) {
  return RunMaker(dir, "make_fat.sh", kinds);
}

FixtureSet MakeDisks(const TempDir& dir, std::initializer_list<const char*> disks) {
  return RunMaker(dir, "make_disks.sh", disks);
}

std::string NtfsFixtureDir() { return FixturePath("ntfs"); }

FixtureSet UnpackNtfs(const TempDir& dir, const std::string& name) {
  FixtureSet set{dir.path(), ""};
  if (!HaveTools({"gzip"})) {
    set.skipReason = "gzip is not installed";
    return set;
  }
  const std::string packed = NtfsFixtureDir() + "/" + name + ".img.gz";
  if (Run("gzip -dc " + ShellQuote(packed) + " >" + ShellQuote(dir.file(name + ".img"))) != 0) {
    ADD_FAILURE() << "cannot unpack " << packed;
    set.skipReason = "cannot unpack " + packed;
  }
  return set;
}

std::string FixtureContent(const std::string& tag, uint64_t size) {
  std::string out;
  out.reserve(size + 22);
  char line[64];
  for (uint64_t k = 0; out.size() < size; ++k) {
    std::snprintf(line, sizeof line, "%-12.12s %08llu\n", tag.c_str(), static_cast<unsigned long long>(k));
    out += line;
  }
  out.resize(size);
  return out;
}

std::vector<FlsEntry> ParseFls(const std::string& text) {
  std::vector<FlsEntry> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::istringstream head(line.substr(0, tab));
    FlsEntry e;
    std::string word;
    head >> e.type;
    while (head >> word) {
      if (word == "*")
        e.deleted = true;
      else
        e.inode = word;
    }
    if (!e.inode.empty() && e.inode.back() == ':') e.inode.pop_back();
    e.path = line.substr(tab + 1);
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<FixturePartition> ReadPartitions(const std::string& partsFile) {
  std::vector<FixturePartition> out;
  std::istringstream in(ReadText(partsFile));
  FixturePartition p;
  while (in >> p.number >> p.start >> p.sectors >> p.fs >> p.label) out.push_back(p);
  return out;
}

std::vector<ManifestEntry> ReadManifest(const std::string& manifestFile) {
  std::vector<ManifestEntry> out;
  std::istringstream in(ReadText(manifestFile));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ManifestEntry e;
    if (!(fields >> e.size >> e.sha256)) continue;
    fields.get();  // the one space before the path, which may hold spaces
    std::getline(fields, e.path);
    out.push_back(std::move(e));
  }
  return out;
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string Sha256OfFile(const std::string& path) {
  std::string out = Capture("sha256sum < " + ShellQuote(path) + " 2>/dev/null");
  return out.size() >= 64 ? out.substr(0, 64) : "";
}

namespace {
std::string Join(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) s += (s.empty() ? "" : ":") + p;
  return s;
}
}  // namespace

PresentImages::PresentImages(const std::vector<std::string>& disks, const std::vector<std::string>& volumes) {
  if (const char* d = std::getenv("QUILLMOREN_DISKS")) oldDisks_ = d, hadDisks_ = true;
  if (const char* v = std::getenv("QUILLMOREN_VOLUMES")) oldVolumes_ = v, hadVolumes_ = true;
  ::setenv("QUILLMOREN_DISKS", Join(disks).c_str(), 1);
  ::setenv("QUILLMOREN_VOLUMES", Join(volumes).c_str(), 1);
  DeviceMap::Instance().Refresh();
}

PresentImages::~PresentImages() {
  if (hadDisks_)
    ::setenv("QUILLMOREN_DISKS", oldDisks_.c_str(), 1);
  else
    ::unsetenv("QUILLMOREN_DISKS");
  if (hadVolumes_)
    ::setenv("QUILLMOREN_VOLUMES", oldVolumes_.c_str(), 1);
  else
    ::unsetenv("QUILLMOREN_VOLUMES");
  DeviceMap::Instance().Refresh();
}

}  // namespace qm::test
