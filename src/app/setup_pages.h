#pragma once
// Wires the set-up pages (found partitions, raw recovery, disk image), the
// about box, help and the product page into the page chain: the device
// page's Next and every page's Help and Buy reach them through runners.
namespace qm {

void InstallSetupPageRunners();

}  // namespace qm
