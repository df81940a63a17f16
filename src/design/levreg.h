// The per-BY-group design context and the entries that levelise a BY group and end it.
#pragma once

#include "effects/levdesign.h"
#include "support/hostif.h"

// The library block: six words; the DATA= handle first, the library's pool sixth.
struct LevLibraryBlock {
  HostDataSet* data;
  void* words[4];
  QkPool* pool;
};

struct LevRegContext {
  LevLibraryBlock* library;  // word 0
  void* words[8];
  LevDesign* design;         // word 9 (the tenth word)
};

// Levelises the CLASS variables of the current BY group: 0, or 1 or 6 on failure.
int32_t zlevrgi(LevRegContext* context);
// Ends the design context; flag 0x20 deletes the library block's per-group pool.
void zlevtrm(LevRegContext* context, int32_t flags);

// The design row protocol and the observation source of the design context, as the data
// passes call them.
// Rewinds the observation source to the start of the current BY group (GetInit).
int32_t zlevGetInit(LevRegContext* context);
// Makes the next observation current: 1 while one is current, 0 at the end (GetNext).
int32_t zlevGetNext(LevRegContext* context);
// The status mask of the current observation, with its response, weight and frequency
// (weight and frequency may be null).
int32_t zlevrgd(LevRegContext* context, double* response, double* weight, double* frequency);
// Writes the design row of the current observation (the design's column count of doubles).
void zlevrgx(LevRegContext* context, const double* numeric, const int32_t* levels, double* row);
// 1 when effect e's constructed effects have their inputs; may add bits to *status.
int32_t zlevCheckEftEXMISS(int32_t* status, LevRegContext* context, LevDesign* design, int32_t e);
