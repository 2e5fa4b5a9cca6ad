#pragma once
// A small registry of our own: keys holding REG_SZ values, kept in one file
// under the state folder ($QUILLMOREN_STATE_DIR, else $XDG_STATE_HOME/quillmoren,
// else ~/.local/state/quillmoren). Every change rewrites the file atomically
// (temp file + rename). Key names compare without ASCII case, as on Windows.
// Result codes follow the Windows calls the program was written against.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

using HKEY = intptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 1;
constexpr HKEY HKEY_CURRENT_USER = 2;

constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_ACCESS_DENIED = 5;
constexpr long ERROR_INVALID_HANDLE = 6;
constexpr long ERROR_WRITE_FAULT = 29;
constexpr long ERROR_MORE_DATA = 234;

constexpr uint32_t REG_CREATED_NEW_KEY = 1;
constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

class Registry {
 public:
  // The registry of this process, in the state folder.
  static Registry& Instance();
  // The state folder's path (created when missing).
  static std::string StateFolder();

  explicit Registry(std::string filePath);

  long OpenKey(HKEY parent, std::u16string_view subKey, HKEY* out);
  long OpenKeyForDelete(HKEY parent, std::u16string_view subKey, HKEY* out) { return OpenKey(parent, subKey, out); }
  long CreateKey(HKEY parent, std::u16string_view subKey, HKEY* out);
  long CreateKeyEx(HKEY parent, std::u16string_view subKey, HKEY* out, uint32_t* disposition);
  // A REG_SZ value as stored (no terminator added or removed). dataBytes gets
  // twice the length in UTF-16 units.
  long QueryValue(HKEY key, std::u16string_view name, std::u16string* value, uint32_t* dataBytes = nullptr);
  long SetValue(HKEY key, std::u16string_view name, std::u16string_view value);
  // Deletes subKey of parent and everything below it.
  long DeleteKey(HKEY parent, std::u16string_view subKey);
  long CloseKey(HKEY key);

  // Names of the direct subkeys of a key path (tests, diagnostics).
  std::vector<std::u16string> SubKeys(std::u16string_view keyPath);
  const std::string& filePath() const { return path_; }

 private:
  struct Key {
    std::u16string name;  // full path as first created, '\' separated
    std::map<std::u16string, std::u16string> values;  // by lower-cased name
    std::map<std::u16string, std::u16string> valueNames;
  };
  std::u16string FullPath(HKEY parent, std::u16string_view subKey) const;
  static std::u16string Fold(std::u16string_view s);
  HKEY NewHandle(const std::u16string& folded);
  void Load();
  bool Save();

  std::mutex mutex_;
  std::string path_;
  std::map<std::u16string, Key> keys_;  // by folded full path
  std::map<HKEY, std::u16string> handles_;
  HKEY nextHandle_ = 1000;
};

}  // namespace qm
