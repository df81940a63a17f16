// The thread-pool record and its four operations over the host's "qkpool" extension:
// create, queue a work item, wait for all queued items, destroy. The work items and what
// they do are the threading frame's (vsfthread.h).
#pragma once

#include "support/hostif.h"
#include "support/qkpool.h"
#include "support/stepcodes.h"

struct VsfWorkItem;

// ThreadPuddle, in order: the extension, the pool (null when not created or after
// termination), the work items of the pass under way.
struct ThreadPuddle {
  QkExtension* extension;
  QkPuddle* pool;
  VsfWorkItem* items;
  int32_t count; // the thread count asked of the pool (it may have started fewer)
};

// 0 when the pool exists; with flags bit 0 clear 1 (no extension) or 2 (no pool); with it
// set either failure is reported and ends the run with StepRc::Error.
[[nodiscard]] int32_t zpudi(ThreadPuddle* puddle, int32_t count, int32_t flags,
                            QkPoolWorker worker);
void zpudenq(ThreadPuddle* puddle, void* item);
void zpudwt(ThreadPuddle* puddle);
void zpudt(ThreadPuddle* puddle);

[[nodiscard]] VsfStatus vsfInitializeThreads(ThreadPuddle* puddle, int32_t count);
void vsfTerminateThreads(ThreadPuddle* puddle);
