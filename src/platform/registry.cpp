#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace qm {

namespace {

// Text file: "[key path]" lines start a key, "name=value" lines follow.
// Backslash escapes keep '\n', '=', '[' and '\' unambiguous.
std::string Escape(std::string_view s, bool isName) {
  std::string out;
  // A name line that began with '[' would read back as a key header.
  if (isName && !s.empty() && s.front() == '[') {
    out += "\\[";
    s.remove_prefix(1);
  }
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '=': out += isName ? "\\e" : "="; break;
      case '\0': out += "\\0"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char n = s[++i];
    out += n == 'n' ? '\n' : n == 'r' ? '\r' : n == 'e' ? '=' : n == '0' ? '\0' : n;
  }
  return out;
}

bool MakeDirs(const std::string& path) {
  std::string cur;
  std::stringstream ss(path);
  std::string part;
  if (!path.empty() && path[0] == '/') cur = "/";
  while (std::getline(ss, part, '/')) {
    if (part.empty()) continue;
    cur += part + "/";
    if (::mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

const char16_t* RootName(HKEY root) {
  return root == HKEY_CURRENT_USER ? u"HKEY_CURRENT_USER" : u"HKEY_CLASSES_ROOT";
}

}  // namespace

std::string Registry::StateFolder() {
  std::string dir;
  if (const char* d = std::getenv("QUILLMOREN_STATE_DIR"); d && *d) {
    dir = d;
  } else if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x) {
    dir = std::string(x) + "/quillmoren";
  } else {
    const char* home = std::getenv("HOME");
    dir = std::string(home && *home ? home : "/tmp") + "/.local/state/quillmoren";
  }
  MakeDirs(dir);
  return dir;
}

Registry& Registry::Instance() {
  static Registry instance(StateFolder() + "/registry.txt");
  return instance;
}

Registry::Registry(std::string filePath) : path_(std::move(filePath)) { Load(); }

std::u16string Registry::Fold(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return out;
}

std::u16string Registry::FullPath(HKEY parent, std::u16string_view subKey) const {
  std::u16string base;
  if (parent == HKEY_CLASSES_ROOT || parent == HKEY_CURRENT_USER) {
    base = RootName(parent);
  } else {
    auto it = handles_.find(parent);
    if (it == handles_.end()) return {};
    base = keys_.at(it->second).name;
  }
  std::u16string sub(subKey);
  while (!sub.empty() && sub.front() == u'\\') sub.erase(sub.begin());
  while (!sub.empty() && sub.back() == u'\\') sub.pop_back();
  return sub.empty() ? base : base + u"\\" + sub;
}

HKEY Registry::NewHandle(const std::u16string& folded) {
  HKEY h = nextHandle_++;
  handles_[h] = folded;
  return h;
}

long Registry::OpenKey(HKEY parent, std::u16string_view subKey, HKEY* out) {
  std::lock_guard lock(mutex_);
  std::u16string full = FullPath(parent, subKey);
  if (full.empty()) return ERROR_INVALID_HANDLE;
  auto folded = Fold(full);
  if (!keys_.count(folded)) return ERROR_FILE_NOT_FOUND;
  *out = NewHandle(folded);
  return ERROR_SUCCESS;
}

long Registry::CreateKey(HKEY parent, std::u16string_view subKey, HKEY* out) {
  return CreateKeyEx(parent, subKey, out, nullptr);
}

long Registry::CreateKeyEx(HKEY parent, std::u16string_view subKey, HKEY* out, uint32_t* disposition) {
  std::lock_guard lock(mutex_);
  std::u16string full = FullPath(parent, subKey);
  if (full.empty()) return ERROR_INVALID_HANDLE;
  auto folded = Fold(full);
  bool created = false;
  // Create every missing level, as the Windows call does.
  for (size_t pos = full.find(u'\\'); ; pos = full.find(u'\\', pos + 1)) {
    std::u16string prefix = pos == std::u16string::npos ? full : full.substr(0, pos);
    auto f = Fold(prefix);
    if (!keys_.count(f)) {
      keys_[f].name = prefix;
      created = true;
    }
    if (pos == std::u16string::npos) break;
  }
  if (created && !Save()) return ERROR_WRITE_FAULT;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *out = NewHandle(folded);
  return ERROR_SUCCESS;
}

long Registry::QueryValue(HKEY key, std::u16string_view name, std::u16string* value, uint32_t* dataBytes) {
  std::lock_guard lock(mutex_);
  auto h = handles_.find(key);
  if (h == handles_.end()) return ERROR_INVALID_HANDLE;
  auto k = keys_.find(h->second);
  if (k == keys_.end()) return ERROR_FILE_NOT_FOUND;
  auto v = k->second.values.find(Fold(name));
  if (v == k->second.values.end()) return ERROR_FILE_NOT_FOUND;
  if (value) *value = v->second;
  if (dataBytes) *dataBytes = static_cast<uint32_t>(v->second.size() * 2);
  return ERROR_SUCCESS;
}

long Registry::SetValue(HKEY key, std::u16string_view name, std::u16string_view value) {
  std::lock_guard lock(mutex_);
  auto h = handles_.find(key);
  if (h == handles_.end()) return ERROR_INVALID_HANDLE;
  auto k = keys_.find(h->second);
  if (k == keys_.end()) return ERROR_FILE_NOT_FOUND;
  auto f = Fold(name);
  k->second.values[f] = std::u16string(value);
  k->second.valueNames[f] = std::u16string(name);
  return Save() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

long Registry::DeleteKey(HKEY parent, std::u16string_view subKey) {
  std::lock_guard lock(mutex_);
  std::u16string full = FullPath(parent, subKey);
  if (full.empty()) return ERROR_INVALID_HANDLE;
  auto folded = Fold(full);
  if (!keys_.count(folded)) return ERROR_FILE_NOT_FOUND;
  auto prefix = folded + u"\\";
  for (auto it = keys_.begin(); it != keys_.end();) {
    if (it->first == folded || it->first.compare(0, prefix.size(), prefix) == 0)
      it = keys_.erase(it);
    else
      ++it;
  }
  return Save() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

long Registry::CloseKey(HKEY key) {
  std::lock_guard lock(mutex_);
  return handles_.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

std::vector<std::u16string> Registry::SubKeys(std::u16string_view keyPath) {
  std::lock_guard lock(mutex_);
  std::vector<std::u16string> out;
  auto prefix = Fold(keyPath) + u"\\";
  for (const auto& [folded, key] : keys_) {
    if (folded.compare(0, prefix.size(), prefix) == 0 && folded.find(u'\\', prefix.size()) == std::u16string::npos)
      out.push_back(key.name.substr(prefix.size()));
  }
  return out;
}

void Registry::Load() {
  std::ifstream in(path_);
  if (!in) return;
  std::string line;
  Key* cur = nullptr;
  while (std::getline(in, line)) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      auto name = Utf8ToUtf16(Unescape(line.substr(1, line.size() - 2)));
      cur = &keys_[Fold(name)];
      cur->name = name;
      continue;
    }
    if (!cur) continue;
    // The name ends at the first '=' that is not escaped.
    size_t eq = std::string::npos;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '\\') {
        ++i;
        continue;
      }
      if (line[i] == '=') {
        eq = i;
        break;
      }
    }
    if (eq == std::string::npos) continue;
    auto name = Utf8ToUtf16(Unescape(line.substr(0, eq)));
    auto value = Utf8ToUtf16(Unescape(line.substr(eq + 1)));
    cur->values[Fold(name)] = value;
    cur->valueNames[Fold(name)] = name;
  }
}

bool Registry::Save() {
  std::string tmp = path_ + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::trunc);
    if (!out) return false;
    for (const auto& [folded, key] : keys_) {
      out << '[' << Escape(Utf16ToUtf8(key.name), false) << "]\n";
      for (const auto& [f, v] : key.values) {
        out << Escape(Utf16ToUtf8(key.valueNames.at(f)), true) << '=' << Escape(Utf16ToUtf8(v), false) << '\n';
      }
    }
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path_.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace qm
