// The host's sort service (group 472): takes records from a sort block's get routine,
// orders them by the block's keys or its compare routine, and hands them to its put
// routine. The block and its routine words are described in support/hostif.h.
#pragma once

#include "support/hostif.h"

namespace qrxhost {

// Statuses of the sort service besides those the routines return.
inline constexpr int32_t kSortBadBlock = -3; // no get or put routine, bad record length or key
inline constexpr int32_t kSortNoMemory = -2; // the records could not be held

// The group vector with zsortap.
HostSortServices* sortServices();

int32_t hostZsortap(HostSortBlock* block);

} // namespace qrxhost
