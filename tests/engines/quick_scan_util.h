#pragma once
// Shared by the quick-scan tests: a host that also records caption fonts,
// and the catalogue flattened to full paths.
#include <map>
#include <string>
#include <vector>

#include "engines/catalog.h"
#include "platform/text.h"
#include "support/fakes.h"

namespace qm::test {

// Records caption fonts besides what the recording host keeps.
class Host : public RecordingHost {
 public:
  void SetControlFont(int id, std::u16string_view family, int size, bool bold) override {
    std::lock_guard l(m);
    fonts[id] = std::u16string(family) + u"/" + Utf8ToUtf16(std::to_string(size)) + (bold ? u"/bold" : u"");
  }
  std::map<int, std::u16string> fonts;
};

// Full path of every catalogue entry, built from the parent keys.
struct Listed {
  std::string path;
  bool deleted = false;
  bool folder = false;
  bool shortName = false;  // shown by its 8.3 name
  uint64_t size = 0;
  uint32_t key = 0;
  RecordTimes times{};
};

inline std::string NameOf(std::string_view name8, std::u16string_view wide) {
  return name8.empty() ? Utf16ToUtf8(wide) : std::string(name8);
}

inline std::vector<Listed> Listing(uint32_t rootKey) {
  std::map<uint32_t, const FolderRecord*> byKey;
  for (const FolderRecord& f : AllFolders()) byKey[f.ownKey] = &f;
  auto pathOf = [&](uint32_t parent, const std::string& name) {
    std::string p = name;
    for (int depth = 0; parent != rootKey && depth < 64; ++depth) {
      auto it = byKey.find(parent);
      if (it == byKey.end()) return "?/" + p;
      p = NameOf(it->second->name8, it->second->wideName.str()) + "/" + p;
      parent = it->second->parentKey;
    }
    return p;
  };
  std::vector<Listed> out;
  for (const FolderRecord& f : AllFolders()) {
    RecordTimes t = {f.modifiedTime[0], f.modifiedTime[1], f.createdTime[0],
                     f.createdTime[1],  f.accessedTime[0], f.accessedTime[1]};
    out.push_back({pathOf(f.parentKey, NameOf(f.name8, f.wideName.str())), f.IsDeleted(), true, f.HasName8(), 0, f.ownKey, t});
  }
  for (const FileRecord& f : AllFiles()) {
    RecordTimes t = {f.modifiedTime[0], f.modifiedTime[1], f.createdTime[0],
                     f.createdTime[1],  f.accessedTime[0], f.accessedTime[1]};
    out.push_back({pathOf(f.parentKey, NameOf(f.name8, f.wideName.str())), f.IsDeleted(), false, f.HasName8(), f.size(),
                   f.dataKey, t});
  }
  return out;
}

inline std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace qm::test
