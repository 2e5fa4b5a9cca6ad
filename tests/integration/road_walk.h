#pragma once
// One whole road over one disk: tree, then for every listed volume its
// quick scan, a scan-log round trip and a copy-out of everything; and the
// checks of that road against sleuthkit's view of the raw disk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "integration/engine_road.h"

namespace qm::test::road {

struct VolumeRoad {
  TreePartition part;
  std::u16string refusal;  // the device page's, when Next refused
  Ending ending = Ending::None;
  std::vector<Entry> entries;   // the scan's catalogue
  std::vector<Entry> reloaded;  // the catalogue after saving, clearing and loading the log
  bool logSaved = false;
  std::vector<std::u16string> logMessages;  // what saving the log showed
  std::u16string loadRefusal;
  Ending loadEnding = Ending::None;
  CopyOutcome copy;
  std::string target;           // where the copy went
  std::map<std::string, std::string> output;  // copied path -> sha256
  std::vector<std::u16string> scanMessages;
};

struct DiskRoad {
  std::vector<TreeDisk> disks;
  std::vector<VolumeRoad> volumes;
  int badSectorDialogs = 0;
};

inline uint32_t RootKeyOf(const std::u16string& fs) { return fs == u"NTFS" ? kNtfsRootKey : kFatRootKey; }

// Walks the road over disk 0 as the tree lists it. work is a folder of the
// test's own. Every volume is taken in tree order.
inline DiskRoad WalkVolumes(const std::vector<TreeDisk>& disks, const std::string& work, RoadPrompt& prompt) {
  DiskRoad road;
  road.disks = disks;
  std::filesystem::create_directories(work);
  if (disks.empty()) return road;
  const TreeDisk& disk = disks.front();
  int n = 0;
  for (const TreePartition& part : disk.partitions) {
    VolumeRoad v;
    v.part = part;
    const std::string tag = "v" + std::to_string(n++);
    PressModeButton(Mode::Deleted);
    if (!ClickPartition(disk, part)) {
      v.refusal = u"(partition item not found)";
      road.volumes.push_back(std::move(v));
      continue;
    }
    v.refusal = NextForVolume();
    if (!v.refusal.empty()) {
      road.volumes.push_back(std::move(v));
      continue;
    }
    const size_t before = prompt.Messages().size();
    {
      ScanPage page;
      v.ending = page.Run();
    }
    const auto all = prompt.Messages();
    v.scanMessages.assign(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    const uint32_t root = RootKeyOf(g_AppState.scanFileSystem);
    v.entries = CatalogEntries(root);

    // The results page saves the log; Back clears; the device page loads it.
    const std::string log = work + "/" + tag + ".qmlg";
    const size_t beforeLog = prompt.Messages().size();
    v.logSaved = WriteScanLog(ScanLogPathFor(log), ScanLogOrigin::ResultsPage);
    const auto afterLog = prompt.Messages();
    for (size_t m = beforeLog; m < afterLog.size(); ++m) v.logMessages.push_back(afterLog[m]);
    // The selection as the device page holds it after the results page.
    const std::u16string fs = g_SelectedFileSystem;
    FreeDisplayLists();
    v.loadRefusal = ApplyScanLog(log);
    if (v.loadRefusal.empty()) {
      ScanPage page;
      v.loadEnding = page.Run();
      v.reloaded = CatalogEntries(root);
    }

    v.target = work + "/" + tag + "-out";
    std::filesystem::create_directories(v.target);
    v.copy = CopyEverything(v.target, root, prompt);
    for (const std::string& p : TreeOf(v.target))
      v.output[p] = p.back() == '/' ? "dir" : Sha256OfFile(v.target + "/" + p);
    FreeDisplayLists();
    ClearNtfsLists();
    ClearMftRuns();
    road.volumes.push_back(std::move(v));
  }
  road.badSectorDialogs = prompt.BadSectorDialogs();
  return road;
}

// --------------------------------------------------------------- oracle --

struct MmlsRow {
  uint64_t start = 0, end = 0;  // end: the sector after the last
  std::string description;
};

inline std::vector<MmlsRow> ReadMmls(const std::string& text) {
  std::vector<MmlsRow> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string index, slot;
    uint64_t start = 0, end = 0, length = 0;
    if (!(ls >> index >> slot >> start >> end >> length)) continue;
    if (slot == "Meta" || slot.find("---") != std::string::npos) continue;
    std::string rest;
    std::getline(ls, rest);
    rows.push_back({start, end + 1, rest});
  }
  return rows;
}

// The catalogue of an NTFS volume against fls: every record fls names is
// listed once, under one of its names. Returns the fls entry per record.
inline std::map<uint32_t, FlsEntry> CheckNtfsListing(const std::vector<Entry>& entries,
                                                     const std::vector<FlsEntry>& fls) {
  std::map<uint32_t, std::set<std::string>> names;
  std::map<uint32_t, FlsEntry> byRecord;
  for (const FlsEntry& e : fls) {
    std::string path = e.path;
    const size_t colon = path.rfind(':');
    if (colon != std::string::npos && path.find('/', colon) == std::string::npos) path.resize(colon);
    names[InodeNumber(e.inode)].insert(path);
    byRecord.emplace(InodeNumber(e.inode), e);
  }
  std::set<uint32_t> listed;
  for (const Entry& e : entries) {
    if (e.key == kLostFolderKey) continue;
    if (!names.count(e.key)) {
      ADD_FAILURE() << "record " << e.key << " (" << e.path << ") is not in fls";
      continue;
    }
    EXPECT_TRUE(names[e.key].count(e.path)) << e.path << " is not a name of record " << e.key;
    EXPECT_EQ(e.deleted, byRecord[e.key].deleted) << e.path;
    EXPECT_EQ(e.folder, byRecord[e.key].type.back() == 'd') << e.path;
    EXPECT_TRUE(listed.insert(e.key).second) << "record listed twice: " << e.path;
  }
  for (const auto& [record, paths] : names)
    EXPECT_TRUE(listed.count(record)) << "fls lists record " << record << " (" << *paths.begin() << "), the scan not";
  return byRecord;
}

// The catalogue of a FAT volume against fls, by lower-case path (the scan
// shows 8.3 names as stored, fls applies their lower-case bits). Returns the
// fls entry per lower-case path.
inline std::map<std::string, FlsEntry> CheckFatListing(const std::vector<Entry>& entries,
                                                       const std::vector<FlsEntry>& fls) {
  std::map<std::string, FlsEntry> expected;
  for (const FlsEntry& e : fls) expected[Lower(e.path)] = e;
  std::map<std::string, FlsEntry> out = expected;
  for (const Entry& e : entries) {
    auto it = expected.find(Lower(e.path));
    if (it == expected.end()) {
      ADD_FAILURE() << "not in fls: " << e.path;
      continue;
    }
    EXPECT_EQ(e.deleted, it->second.deleted) << e.path;
    EXPECT_EQ(e.folder, it->second.type.back() == 'd') << e.path;
    expected.erase(it);
  }
  for (const auto& [path, e] : expected) ADD_FAILURE() << "fls lists " << e.path << ", the scan not";
  return out;
}

// Steps 2 to 4 of one volume against the oracle of the raw disk.
inline void CheckVolumeRoad(const VolumeRoad& v, const std::string& rawDisk) {
  SCOPED_TRACE(Utf16ToUtf8(v.part.text));
  ASSERT_TRUE(v.refusal.empty()) << Utf16ToUtf8(v.refusal);
  EXPECT_EQ(v.ending, Ending::AnalysisFinished) << EndingName(v.ending);
  const std::vector<FlsEntry> fls = VolumeFls(rawDisk, v.part.first);
  ASSERT_FALSE(fls.empty());
  const bool ntfs = v.part.fileSystem == u"NTFS";

  // Step 2: the catalogue is what fls lists.
  std::map<uint32_t, FlsEntry> byRecord;
  std::map<std::string, FlsEntry> byPath;
  if (ntfs)
    byRecord = CheckNtfsListing(v.entries, fls);
  else
    byPath = CheckFatListing(v.entries, fls);

  // Step 3: the log gives the same catalogue back.
  EXPECT_TRUE(v.logSaved) << (v.logMessages.empty() ? "" : Utf16ToUtf8(v.logMessages.front()));
  EXPECT_TRUE(v.loadRefusal.empty()) << Utf16ToUtf8(v.loadRefusal);
  EXPECT_EQ(v.loadEnding, Ending::AnalysisFinished) << EndingName(v.loadEnding);
  EXPECT_EQ(v.reloaded, v.entries);

  // Step 4: every live file byte-equal to icat, in its folder, by its name.
  EXPECT_EQ(v.copy.messages, std::vector<std::u16string>{std::u16string(kSavingCompleted)});
  EXPECT_EQ(v.copy.copiedBytes, v.copy.selectedBytes);
  int compared = 0, userFiles = 0;
  for (const Entry& e : v.entries) {
    if (e.key == kLostFolderKey) continue;
    if (e.folder) {
      EXPECT_TRUE(v.output.count(e.path + "/")) << "folder not made: " << e.path;
      continue;
    }
    if (e.deleted || e.path.empty() || e.path[0] == '$' || e.path.find("/$") != std::string::npos) continue;
    ++userFiles;
    auto out = v.output.find(e.path);
    if (out == v.output.end()) {
      ADD_FAILURE() << "not copied: " << e.path;
      continue;
    }
    std::string inode;
    if (ntfs) {
      inode = std::to_string(e.key);
    } else {
      auto it = byPath.find(Lower(e.path));
      if (it == byPath.end()) continue;
      inode = it->second.inode;
    }
    const std::string want = Icat(rawDisk, v.part.first, inode);
    const std::string got = FileBytes(v.target + "/" + e.path);
    EXPECT_TRUE(got == want) << e.path << ": " << got.size() << " bytes copied, icat gives " << want.size();
    ++compared;
  }
  EXPECT_EQ(compared, userFiles);
}

}  // namespace qm::test::road
