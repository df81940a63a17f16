// The results entries that the procedure main calls: information tables, macro variables,
// output data sets, scoring and timing (the fit and display of a BY group are in
// display/vsfdisplay.h).
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct VsfModel;
struct VsfResampling;
struct QkPool;

[[nodiscard]] VsfStatus vsfpModelInfo(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfpBootstrapInfo(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfpPerf(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfPrepOutput(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfPrepScores(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfMakeMacroVar(VsfContext* ctx, int32_t byNumber);
[[nodiscard]] VsfStatus vsfPrepareOutputAndDesign(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfOutputBy(VsfContext* ctx, VsfModel* model, VsfResampling* resampling,
                                    int64_t seed);
[[nodiscard]] VsfStatus vsfpParameterNames(VsfContext* ctx, VsfModel* model);
[[nodiscard]] VsfStatus vsfMakeDesignMacroVar(VsfContext* ctx, VsfModel* model);
[[nodiscard]] VsfStatus vsfScoreResults(VsfContext* ctx, VsfModel* model);
[[nodiscard]] VsfStatus vsfTimes(VsfContext* ctx);
// Ends the SCORE OUT= data sets (they are written when the step succeeds).
void vsfFinishScores(VsfContext* ctx);
// The UtilInfo table of the BY group's page files (UTIL_DETAILS$).
[[nodiscard]] VsfStatus vsfpUtilInfo(VsfContext* ctx);
// Per model effect with CLASS variables, the table of the levels of each column of its
// CLASS part (LevEffect::levelIndexTable) from `pool`; `fit` is null: every effect of the
// design. Ok, or NoMemory (no CLASS variable, or no memory).
[[nodiscard]] VsfStatus vsfLevels(VsfContext* ctx, VsfModel* fit, QkPool* pool);
