// The sort wrapper: runs the host's sort service (zsortap) on a sort block whose exit
// routines are the module's own functions, registering them as host-callable routines
// first. The block layout (HostSortBlock) and the routine words are in hostif.h.
#pragma once

#include "support/hostif.h"

// Saves the block's start routine in the wrapper area, registers init_wrapper in its place
// (and the finish routine when set), runs the host's sort and clears the callables. Returns
// the sort's result, or the negative status of a failed registration.
[[nodiscard]] int32_t zsort(HostSortBlock* block);
// Called by the host when the sort starts: runs the saved start routine, then registers each
// other routine word that is set. Returns the start routine's result (0 when there is none).
[[nodiscard]] int32_t init_wrapper(HostSortBlock* block);
// Clears the eight callable words.
void wrapper_cleanup(HostSortBlock* block);
