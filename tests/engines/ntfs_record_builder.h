#pragma once
// Builds FILE records for tests attribute by attribute, the way NTFS lays
// them out, with the update sequence protection a disk holds.
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engines/ntfs_records.h"
#include "platform/byte_reader.h"

namespace qm::test {

class RecordBuilder {
 public:
  explicit RecordBuilder(size_t size = 1024) : b_(size, 0) {
    b_[0] = 'F', b_[1] = 'I', b_[2] = 'L', b_[3] = 'E';
    PutLe16(&b_[4], 48);                         // update sequence offset
    PutLe16(&b_[6], uint16_t(size / 512 + 1));  // sequence number + one entry per stride
    next_ = Align(48 + 2 * (size / 512 + 1));     // first attribute, after the array
    PutLe16(&b_[20], uint16_t(next_));
    PutLe16(&b_[22], 1);  // in use
    PutLe16(&b_[28], uint16_t(size));
    End();
  }
  size_t Resident(uint32_t type, const std::vector<uint8_t>& value, std::u16string_view name = u"") {
    size_t nameBytes = name.size() * 2;
    size_t valueOff = Align(24 + nameBytes);
    size_t len = Align(valueOff + value.size());
    size_t at = Header(type, len, 0, name, 24);
    PutLe32(&b_[at + 16], uint32_t(value.size()));
    PutLe16(&b_[at + 20], uint16_t(valueOff));
    std::copy(value.begin(), value.end(), b_.begin() + at + valueOff);
    return at;
  }
  size_t NonResident(uint32_t type, const std::vector<uint8_t>& runs, uint64_t realSize,
                     std::u16string_view name = u"", uint64_t lowestVcn = 0) {
    size_t runsOff = Align(64 + name.size() * 2);
    size_t len = Align(runsOff + runs.size() + 1);
    size_t at = Header(type, len, 1, name, 64);
    PutLe64(&b_[at + 16], lowestVcn);
    PutLe16(&b_[at + 32], uint16_t(runsOff));
    PutLe64(&b_[at + 48], realSize);
    std::copy(runs.begin(), runs.end(), b_.begin() + at + runsOff);
    return at;
  }
  // Stores a sequence number at the end of every stride, keeping the true
  // bytes in the update sequence array, as a disk holds the record.
  std::vector<uint8_t> Protected(uint16_t usn = 0x0707) const {
    std::vector<uint8_t> out = b_;
    PutLe16(&out[48], usn);
    for (size_t i = 0; i < out.size() / 512; ++i) {
      out[50 + 2 * i] = out[512 * i + 510];
      out[51 + 2 * i] = out[512 * i + 511];
      PutLe16(&out[512 * i + 510], usn);
    }
    return out;
  }
  std::vector<uint8_t>& bytes() { return b_; }

 private:
  static size_t Align(size_t n) { return (n + 7) & ~size_t{7}; }
  size_t Header(uint32_t type, size_t len, uint8_t nonResident, std::u16string_view name, size_t nameOff) {
    size_t at = next_;
    PutLe32(&b_[at], type);
    PutLe32(&b_[at + 4], uint32_t(len));
    b_[at + 8] = nonResident;
    b_[at + 9] = uint8_t(name.size());
    PutLe16(&b_[at + 10], uint16_t(nameOff));
    for (size_t i = 0; i < name.size(); ++i) PutLe16(&b_[at + nameOff + 2 * i], name[i]);
    next_ += len;
    End();
    return at;
  }
  void End() { PutLe32(&b_[next_], kAttrEnd); }
  std::vector<uint8_t> b_;
  size_t next_;
};

inline std::vector<uint8_t> StandardInfo(uint64_t created, uint64_t modified, uint64_t accessed) {
  std::vector<uint8_t> v(48, 0);
  PutLe64(&v[0], created);
  PutLe64(&v[8], modified);
  PutLe64(&v[24], accessed);
  return v;
}

inline std::vector<uint8_t> FileNameValue(uint32_t parent, std::u16string_view name, int ns) {
  std::vector<uint8_t> v(66 + name.size() * 2, 0);
  PutLe32(&v[0], parent);
  v[64] = uint8_t(name.size());
  v[65] = uint8_t(ns);
  for (size_t i = 0; i < name.size(); ++i) PutLe16(&v[66 + 2 * i], name[i]);
  return v;
}

}  // namespace qm::test
