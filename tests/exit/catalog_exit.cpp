// Fills the catalogue and returns from main, as tests and tools do: the
// catalogue's stores, which still hold records, come down after main with
// the rest of the program's statics. Under the address sanitizer any touch
// of a static already destroyed fails this program.
#include <string>

#include "engines/catalog.h"

int main() {
  for (uint32_t key = 100; key < 110; ++key) {
    qm::InsertFolderRecord("", u"folder " + std::u16string(1, static_cast<char16_t>(u'A' + key - 100)), 'n',
                           qm::kFatRootKey, key, 0, {}, 0);
    for (uint32_t f = 0; f < 20; ++f)
      qm::InsertFileRecord("FILE" + std::to_string(f) + ".TXT", u"", 'n', 10, key, 1000 + f, 0, {});
  }
  return qm::AllFiles().begin() == qm::AllFiles().end() ? 1 : 0;
}
