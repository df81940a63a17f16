// EFFECT statements into constructed-effect records of the design descriptor.
#pragma once

#include "effects/levdesign.h"

#include <cstdint>

struct HostDataSet;

// Makes the LevEftVar records and the constructed-effect map of every EFFECT statement.
// 0 on success; 1 after a logged error (the design's code raised); kLevNoMemory when a
// block could not be had (nothing logged); or the non-zero result of the spline or
// polynomial option reader.
[[nodiscard]] int32_t zlevProcessEffectStatements(LevDesign* design, HostDataSet* data,
                                                  ConstructedEffectEntry** map);
