// ZIP directories come from files found on a scanned disk.
#include <cstddef>
#include <cstdint>
#include <span>

#include "results/zip_lister.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::CZipFile zip;
  zip.ParseZipCentralDirectory(std::span<const uint8_t>(data, size));
  for (int i = 0; i < zip.GetEntryCount(); ++i) (void)qm::ZipEntryDisplayName(*zip.GetEntry(i));
  return 0;
}
