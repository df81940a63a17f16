// The per-BY-group model part: the state of one fit.
#pragma once

#include "support/hostif.h"

#include <cstdint>

struct VsfModelOptions;
struct VsfBagVec;
struct VsfPerfBlock;
struct ThreadPuddle;
struct VsfScratch;

struct VsfModel {
  VsfModelOptions* options;
  VsfBagVec* bags;
  VsfPerfBlock* perf;
  ThreadPuddle* puddle;
  VsfScratch* scratch;
  QkPool* pool;       // the "model pool"
  int32_t status;     // fit status: 0 or a negative code
  uint8_t stepModelWritten;
};

// Releases everything the BY group's fit made.
void vsfModelByFree(VsfModel* model);
// Appends the group's selected design to the design scratch file.
int32_t vsfSerializeForDesign(VsfModel* model);
