#pragma once
// Our own 16-byte UUIDs: the first three fields (32, 16 and 16 bits) are
// stored big-endian, the last 8 bytes as they are, so the bytes follow the
// text "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" from left to right.
#include <array>
#include <cstdint>
#include <string_view>

namespace qm {

using Uuid = std::array<uint8_t, 16>;

// A random (version 4) UUID.
void NewUuid(Uuid& out);
// Parses the 36-character text form (either case); -1 and out untouched
// when it is not one, else 0.
int ParseUuid(std::string_view text, Uuid& out);
// Writes the 36 lower-case characters and a terminating NUL; returns 0.
int FormatUuid(const Uuid& in, char out[37]);
// All zero; returns 0.
int ClearUuid(Uuid& out);
// 1 when all 16 bytes are zero, else 0.
int IsNullUuid(const Uuid& in);

}  // namespace qm
