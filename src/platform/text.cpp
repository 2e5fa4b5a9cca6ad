#include "platform/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace qm {

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint8_t b = static_cast<uint8_t>(s[i]);
    uint32_t c = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      if (i + len > s.size()) {
        len = 1;
      } else {
        uint32_t v = b & (0x7F >> len);
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
          uint8_t cb = static_cast<uint8_t>(s[i + k]);
          if ((cb & 0xC0) != 0x80) {
            ok = false;
            break;
          }
          v = (v << 6) | (cb & 0x3F);
        }
        static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && v >= minimum[len] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
          c = v;
        } else {
          len = 1;
        }
      }
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

namespace {
// 0x80..0x9F of CP1252; undefined slots keep their own code point.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}  // namespace

std::u16string Cp1252ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char ch : s) {
    uint8_t b = static_cast<uint8_t>(ch);
    out += (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
  }
  return out;
}

std::string Utf16ToCp1252(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t c : s) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out += static_cast<char>(c);
      continue;
    }
    char mapped = '?';
    for (int k = 0; k < 32; ++k) {
      if (kCp1252High[k] == c) {
        mapped = static_cast<char>(0x80 + k);
        break;
      }
    }
    out += mapped;
  }
  return out;
}

namespace {
template <typename S>
bool EqualsIgnoreCaseImpl(S a, S b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<decltype(x)>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<decltype(y)>(y + 32);
    if (x != y) return false;
  }
  return true;
}
}  // namespace

bool EqualsIgnoreCaseAscii(std::u16string_view a, std::u16string_view b) { return EqualsIgnoreCaseImpl(a, b); }
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b) { return EqualsIgnoreCaseImpl(a, b); }

namespace {
std::string VFormat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), fmt, ap);
  return std::string(buf.data(), static_cast<size_t>(n));
}
}  // namespace

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = VFormat(fmt, ap);
  va_end(ap);
  return s;
}

std::u16string FormatW(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = VFormat(fmt, ap);
  va_end(ap);
  return Utf8ToUtf16(s);
}

std::u16string SizeText3(uint64_t bytes, std::string_view suffix) {
  const double v = static_cast<double>(bytes);
  std::string s;
  if (bytes > (1ull << 40)) {
    s = Format("%.3f TB", v / double(1ull << 40));
  } else if (bytes > (1ull << 30)) {
    s = Format("%.3f GB", v / double(1ull << 30));
  } else {
    s = Format("%.3f MB", v / double(1ull << 20));
  }
  s += suffix;
  return Utf8ToUtf16(s);
}

std::u16string SizeText1(double bytes) {
  std::string s;
  if (bytes >= double(1ull << 40)) {
    s = Format("%.1f TB", bytes / double(1ull << 40));
  } else if (bytes >= double(1ull << 30)) {
    s = Format("%.1f GB", bytes / double(1ull << 30));
  } else if (bytes >= double(1ull << 20)) {
    s = Format("%.1f MB", bytes / double(1ull << 20));
  } else if (bytes > 0) {
    s = Format("%.1f KB", bytes / 1024.0);
  } else {
    s = "0";
  }
  return Utf8ToUtf16(s);
}

namespace {
// Days since 1970-01-01 for a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}
constexpr int64_t kFileTimeUnixEpoch = 11644473600LL;  // seconds 1601 -> 1970
int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[(m - 1) % 12];
}
}  // namespace

int64_t FileTimeToUnix(uint64_t fileTime) {
  return static_cast<int64_t>(fileTime / 10000000ull) - kFileTimeUnixEpoch;
}

uint64_t UnixToFileTime(int64_t unixSeconds) {
  if (unixSeconds < -kFileTimeUnixEpoch) return 0;
  return static_cast<uint64_t>(unixSeconds + kFileTimeUnixEpoch) * 10000000ull;
}

CivilTime FileTimeToCivil(uint64_t fileTime) {
  const int64_t secs = FileTimeToUnix(fileTime);
  int64_t days = secs / 86400;
  int64_t rem = secs % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  CivilTime t;
  CivilFromDays(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(rem / 3600);
  t.minute = static_cast<int>(rem / 60 % 60);
  t.second = static_cast<int>(rem % 60);
  return t;
}

uint64_t CivilToFileTime(const CivilTime& t) {
  const int64_t days = DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
  return UnixToFileTime(days * 86400 + t.hour * 3600 + t.minute * 60 + t.second);
}

CivilTime FatDateTimeToCivil(uint16_t date, uint16_t time) {
  CivilTime t;
  t.year = 1980 + (date >> 9);
  t.month = std::clamp((date >> 5) & 0x0F, 1, 12);
  t.day = std::clamp(date & 0x1F, 1, DaysInMonth(t.year, t.month));
  t.hour = std::min(time >> 11, 23);
  t.minute = std::min((time >> 5) & 0x3F, 59);
  t.second = std::min((time & 0x1F) * 2, 58);
  return t;
}

uint16_t CivilToFatDate(const CivilTime& t) {
  int y = std::clamp(t.year, 1980, 2107) - 1980;
  return static_cast<uint16_t>((y << 9) | (std::clamp(t.month, 1, 12) << 5) | std::clamp(t.day, 1, 31));
}

uint16_t CivilToFatTime(const CivilTime& t) {
  return static_cast<uint16_t>((std::clamp(t.hour, 0, 23) << 11) | (std::clamp(t.minute, 0, 59) << 5) |
                               (std::clamp(t.second, 0, 59) / 2));
}

}  // namespace qm
