// The results the data services give the module: 0 when done, -1 for an argument the service
// cannot take, and each service's own failures below, which the module tests only for
// non-zero (the failure itself has been reported where it was met).
#pragma once

#include "support/hostif.h"

#include <cstdint>

enum class ServiceResult : int32_t {
  Ok = 0,
  BadArgument = -1,
  TooManyEntries = -2,  // a read vector given more entries than it was started for
  UnknownVariable = -3, // a read vector entry names no variable of the data set
  NumericLength = -4,   // a numeric entry read as a double of another length
  PastTheEnd = -2,      // a block of observations beyond the last one
  BlockUnreadable = -3, // a block the reader cannot reach from where it stands
  FileUnreadable = kHostBlockFileUnreadable, // a block its file could not give (logged)
  DuplicateByVariable = -2,                  // a BY list naming one variable twice
  NotSortedByGroups = -3,                    // observations out of the BY groups' order
  DuplicateOutputVariable = -2,              // an output variable defined twice
  OptionMisfit = -2,                         // output data-set options naming what the output lacks
};

[[nodiscard]] constexpr int32_t codeOf(ServiceResult result) {
  return static_cast<int32_t>(result);
}
