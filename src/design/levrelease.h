// The parts of a design context that zlevtrm ends, by name: the procedure main ends them all
// at the end of a BY group, a test one part at a time.
#pragma once

#include "support/flagset.h"

#include <cstdint>

// The parts of the context zlevtrm ends.
enum class LevRelease : uint8_t {
  Levels = 0x01,      // the levels, level tables and columns of the BY group
  WorkArrays = 0x02,  // the level indices, value buffers and scratch
  Callbacks = 0x04,   // the observation callbacks and fit slots
  FitBlock = 0x08,    // the fit block
  ReadRecords = 0x10, // the read records and vectors
  LibraryPool = 0x20, // the per-BY-group pool and what lives in it
  Threads = 0x40,     // the levelisation workers
};
constexpr bool isFlagEnum(LevRelease) { return true; }
using LevReleaseSet = FlagSet<LevRelease>;
inline constexpr LevReleaseSet kLevReleaseAll =
    LevRelease::Levels | LevRelease::WorkArrays | LevRelease::Callbacks | LevRelease::FitBlock |
    LevRelease::ReadRecords | LevRelease::LibraryPool | LevRelease::Threads;
