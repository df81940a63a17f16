// EFFECT statements into constructed-effect records of the design descriptor.
#pragma once

#include "effects/levdesign.h"
#include "support/stepcodes.h"

#include <cstdint>

struct HostDataSet;

// Makes the LevEftVar records and the constructed-effect map of every EFFECT statement.
// VsfStatus::ReportedFailure after a logged error (the design's code raised);
// VsfStatus::NoMemory when a block could not be had (nothing logged).
[[nodiscard]] VsfStatus zlevProcessEffectStatements(LevDesign* design, HostDataSet* data,
                                                    ConstructedEffectEntry** map);
