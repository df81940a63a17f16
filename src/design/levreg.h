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
