// Model effects: zlevmodef turns the MODEL statement's parsed effects into LevEffect
// records (an Intercept first; an effect crossing split constructed effects becomes one
// record per combination of parts). Names and level lists: levnames.h.
#pragma once

#include "effects/levdesign.h"
#include "support/stepcodes.h"

#include <cstdint>

struct HostDataSet;
struct ParsedStatement;

// Builds the model effects: VsfStatus::ReportedFailure when they pass a size limit (after its
// message), VsfStatus::NoMemory when a block could not be had.
[[nodiscard]] VsfStatus zlevmodef(LevDesign* design, HostDataSet* data, ParsedStatement* model,
                                  int32_t effectList, int32_t numericListCount, int32_t noIntercept,
                                  int32_t builderFlag);
// Fills one record from a parsed effect: node, the three variable lists and the name.
void zlevglm(LevEffect* record, EffectChainNode* node);
// The same for an effect added later: Intercept naming, back pointer, new-name mapping.
void zlevglmAddLater(LevDesign* design, LevEffect* record, EffectChainNode* node);
