// The further input data sets (VALDATA=, TESTDATA=, SCORE): the record of each one's
// variables, their swap into the design for a pass over the data set, and the data set's
// BY-group synchronisation with DATA=. Finding the variables and the BY matching are the
// driver's (driver/vsfpostinit.h).
//
//   VsfNameRecord field   meaning
//   data                  the data set
//   numerics, classes     its variable of each numeric and CLASS design variable
//   response, freq, weight its response, FREQ and WEIGHT variables (null when absent)
//   bySync                the data set carries the BY variables of DATA= (read by group)
//   *Found                the response, FREQ and WEIGHT variables were found
#pragma once
#include "support/messages.h"

#include <cstdint>

struct VsfContext;
struct HostDataSet;
struct HostVariable;

struct VsfNameRecord {
  HostDataSet* data;
  HostVariable** numerics;
  HostVariable** classes;
  HostVariable* response;
  HostVariable* freq;
  HostVariable* weight;
  uint8_t bySync;
  uint8_t responseFound;
  uint8_t freqFound;
  uint8_t weightFound;
};

// Swaps the variables of `names` into the design (on) or back (off).
void vsfSetNamePtrs(VsfContext* ctx, const VsfNameRecord* names, int32_t on);
// Puts DATA='s variables (the run's modelNames) back into the design.
void vsfRestoreModelNamePtrs(VsfContext* ctx);

// Positions the data set of `names` at the current BY group of DATA=. 0 at once when the
// data set is not read by group. A data set without the group:
// VsfMsg::GraphCriterionAdjustedRSquare/`message` with its name, return code raised to at least 4,
// and the host's non-zero answer.
[[nodiscard]] int32_t vsfSynchronize(VsfContext* ctx, VsfNameRecord* names, VsfMsg message);
