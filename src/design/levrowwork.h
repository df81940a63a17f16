// Row workers of the design library: copies of the design context on which the row
// protocol (zlevrgd, zlevrgx) runs on other threads for observations the main thread hands
// out in blocks. A copy shares the design's read-only records (variables, level tables,
// effects) and owns every piece of per-observation state.
#pragma once

#include "design/levreg.h"
#include "effects/levdesign.h"

#include <cstdint>

// One worker's copy: the context, the design record and the read block, each with the
// worker's own levels, values, scratch and effect cells.
struct LevRowWorker {
  LevRegContext context;
  LevDesign design;
  LevReadBlock block;
};

// Whether the context's rows can be built on workers: the plain BY-group source of the
// host's read vectors with block reads, no constructed effects and no extra variables (their
// per-observation state lives in shared records). Prepares the context for the copies (the
// formatted read vector, the in-model marks): true when ready; false when not allowed or out
// of memory (either way the pass stays serial).
[[nodiscard]] bool zlevRowWorkersReady(LevRegContext* context);
// The formatted read vector and its record length (after zlevRowWorkersReady returned true).
HostReadVector* zlevRowVector(const LevRegContext* context, int32_t* recordLength);
// A worker's copy from `pool` (on the main thread); null when out of memory.
LevRowWorker* zlevRowWorkerMake(LevRegContext* context, QkPool* pool);
// The status of the observation whose formatted record is `record`, with its response,
// weight and frequency (weight, frequency null when not wanted) and, when the status leaves
// the row usable (levRowUsable), its design row into `row`.
[[nodiscard]] LevRowStatusSet zlevRowWorkerRow(LevRowWorker* worker, const char* record,
                                               double* response, double* weight, double* frequency,
                                               double* row);
// As zlevRowWorkerRow, with the design row in sparse form (zlevrgxSparse) into values/columns:
// their count into *count (0 when the status leaves the row out).
[[nodiscard]] LevRowStatusSet zlevRowWorkerSparseRow(LevRowWorker* worker, const char* record,
                                                     double* response, double* weight,
                                                     double* frequency, double* scratch,
                                                     double* values, int32_t* columns,
                                                     int32_t* count);
