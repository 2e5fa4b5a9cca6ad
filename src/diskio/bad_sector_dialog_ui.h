#pragma once
// The bad-sector question, as the Qt prompt runs it on the GUI thread.
namespace qm {

// Shows the bad-sector dialog modally; returns 0 Retry, 1 Skip, 2 Retry All, 3 Skip All.
int RunSectorsBadStatusAction();

}  // namespace qm
