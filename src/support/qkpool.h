// Entry table of the host extension "qkpool": a pool of worker threads that runs every
// queued item once and signals an event when all are done. Layout only; the host builds
// the extension (host/ext/qkpool.cpp).
#pragma once

#include "support/hostif.h"

// The worker routine: called on a pool thread with the pool's context and one queued item.
using QkPoolWorker = void (*)(void* poolContext, void* item);

// The 104-byte creation block: i64 minimum threads, i64 maximum threads (the pool starts as
// many as the system lets it, and fails with fewer than the minimum), i64 1, the worker
// routine, i64 0, i64 0, u32 flags 0xa0000000, the rest zero.
struct QkPoolCreateBlock {
  int64_t minThreads;
  int64_t maxThreads;
  int64_t third;
  QkPoolWorker worker;
  int64_t word4;
  int64_t word5;
  uint32_t flags;
  uint8_t rest[52];
};
static_assert(sizeof(QkPoolCreateBlock) == 104, "the creation block is 104 bytes");

// A pool made by tpdlCreate: its operations.
struct QkPuddle {
  // Queues an item; 0 or a failure status.
  int32_t (*puddleEnque)(QkPuddle* self, void* item, int32_t r1, int32_t r2, int32_t r3);
  // Registers the event to post when the queue is empty and no item runs (at once when that
  // already holds); 0 or a failure status.
  int32_t (*puddleSetDoneEvent)(QkPuddle* self, QkEvent* event);
  // Ends a wait begun with puddleSetDoneEvent: forgets the event.
  void (*puddleWaitOver)(QkPuddle* self);
  // Stops the threads after the queued items have run, and frees the pool.
  void (*puddleShutdown)(QkPuddle* self, int32_t r1, int32_t r2, int32_t r3);
};

struct QkPoolExtension {
  QkExtension header;
  QkPuddle* (*tpdlCreate)(QkPoolExtension* self, const QkPoolCreateBlock* block, int32_t r1,
                          int32_t r2);
};
