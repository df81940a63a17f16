// The settings of a run as the statement readers store them: the MODEL options with the
// procedure options beside them, the PERFORMANCE block, the OUTPUT and SCORE settings.
#pragma once

#include "support/hostif.h"

#include <cstdint>

struct VsfModelOptions {
  int32_t method;          // VsfMethod code
  uint8_t split;           // SPLIT asked
  uint8_t modelAverage;    // a MODELAVERAGE statement was given
  uint8_t pad[2];
  int32_t utilRandom;      // UTIL_RANDOM$ (default 4)
  int32_t utilPageSize;    // UTIL_PAGESIZE$ (default 0)
  int32_t utilBuffers;     // UTIL_BUFFERS$ (default 0)
  int32_t hasOutput;       // an OUTPUT statement was given
  int32_t hasOutDesign;    // OUTDESIGN= was given
  HostDataSet* outputBlock; // the OUTPUT data set's output block
  double outputByNumber;   // BY number of the current output rows
  uint8_t outDesignNames;  // OUTDESIGN(NAMES): print the parameter-names table
  uint8_t hasInEst;        // INEST= was given
  uint8_t pad2[6];
  double testFraction;
  double validateFraction;
  double trainFraction;    // default 1.0
};

struct VsfPerfBlock {
  uint8_t details;         // PERFORMANCE DETAILS
  uint8_t buildSscp;       // BUILDSSCP choice
  uint8_t pad[2];
  int32_t threadCount;
};

struct VsfScoreSpec {
  HostDataSet* data;
  HostDataSet* out;
};
