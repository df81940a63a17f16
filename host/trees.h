// The host's tree services (group 10): balanced trees of caller records keyed by bytes at
// an offset, and the walk of a tree into an ascending list. Records start with three
// pointer words that belong to the tree (left, right, balance).
#pragma once

#include "support/hostif.h"

namespace qrxhost {

// The group vector with ztrebld and ztrelst.
HostTreeServices* treeServices();

void* hostZtrebld(void** root, void* node, int32_t length, int32_t offset);
void hostZtrelst(void** root);

} // namespace qrxhost
