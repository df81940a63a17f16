// Named kernel pools: the run's pools for BY groups, pages, steps and graphs.
#pragma once

#include "support/hostif.h"

// Makes a named pool through the kernel handle (flags 1, or 0x10000001 for a page pool);
// null on failure.
QkPool* vsfCreateNamedPool(uint32_t flags, const char* name);
