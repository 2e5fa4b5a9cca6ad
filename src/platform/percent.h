#pragma once
// The percentage every progress bar shows.
#include <cstdint>

namespace qm {

// part x 100 / whole, at most 100. A whole of 0 means nothing to do, which is
// all done: 100. A caller whose bar must read 0 then says so at its call.
inline int Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return 100;
  const unsigned __int128 p = static_cast<unsigned __int128>(part) * 100 / whole;
  return p > 100 ? 100 : static_cast<int>(p);
}

}  // namespace qm
