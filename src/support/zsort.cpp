// The sort wrapper. The host calls only registered callables; the start routine runs inside
// init_wrapper so that the other routines are registered after it had its say on them.
#include "support/zsort.h"

#include "support/hoststubs.h"

using SortStartFn = int32_t (*)(HostSortBlock*);

int32_t zsort(HostSortBlock* block) {
  block->savedStart = block->routines[SORT_START];
  int32_t rc = vir2g(reinterpret_cast<HostRoutine>(&init_wrapper), &block->callables[SORT_START]);
  if (rc >= 0 && block->routines[SORT_FINISH])
    rc = vir2g(block->routines[SORT_FINISH], &block->callables[SORT_FINISH]);
  if (rc >= 0)
    rc = zsortap(block);
  wrapper_cleanup(block);
  return rc;
}

int32_t init_wrapper(HostSortBlock* block) {
  HostRoutine start = block->savedStart;
  block->savedStart = nullptr;
  int32_t rc = start ? reinterpret_cast<SortStartFn>(start)(block) : 0;
  for (int i = 1; i < SORT_ROUTINES; ++i) {
    if (!block->routines[i])
      continue;
    int32_t reg = vir2g(block->routines[i], &block->callables[i]);
    if (reg < 0)
      return reg;
  }
  return rc;
}

void wrapper_cleanup(HostSortBlock* block) {
  for (HostRoutine& c : block->callables)
    c = nullptr;
}
