#pragma once
// Text conversions and the size and time texts shared by every layer.
// Wide strings are UTF-16 (std::u16string); 8-bit names use CP1252 everywhere.
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// UTF-16 <-> UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s);
std::u16string Utf8ToUtf16(std::string_view s);

// CP1252 <-> UTF-16. Bytes that CP1252 leaves undefined map to the same
// code point (as Windows does); characters outside CP1252 become '?'.
std::u16string Cp1252ToUtf16(std::string_view s);
std::string Utf16ToCp1252(std::u16string_view s);

// ASCII-only case-insensitive comparison (file extensions, ".qmlg").
bool EqualsIgnoreCaseAscii(std::u16string_view a, std::u16string_view b);
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);

// Formats like printf into a std::string / std::u16string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::u16string FormatW(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "%.3f TB" / "%.3f GB" / "%.3f MB": the larger unit when the value is above
// its power of two (2^40, 2^30), else MB. suffix follows the unit ("TB" +
// " size in" etc.).
std::u16string SizeText3(uint64_t bytes, std::string_view suffix = "");
// "%.1f" + " TB" / " GB" / " MB" / " KB" with >= thresholds; "0" for 0 (or
// less). A double, so that sectors times sector size cannot wrap.
std::u16string SizeText1(double bytes);

// Broken-down calendar time.
struct CivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// FILETIME (100 ns ticks since 1601-01-01 UTC) <-> Unix seconds.
int64_t FileTimeToUnix(uint64_t fileTime);
uint64_t UnixToFileTime(int64_t unixSeconds);
// FILETIME -> calendar fields (UTC, no zone conversion).
CivilTime FileTimeToCivil(uint64_t fileTime);
uint64_t CivilToFileTime(const CivilTime& t);

// FAT date (bits 15-9 year since 1980, 8-5 month, 4-0 day) and time (15-11
// hour, 10-5 minute, 4-0 two-second units). Out-of-range fields are clamped
// to the nearest valid value.
CivilTime FatDateTimeToCivil(uint16_t date, uint16_t time);
uint16_t CivilToFatDate(const CivilTime& t);
uint16_t CivilToFatTime(const CivilTime& t);

}  // namespace qm
