// The results entries that the procedure main calls: information tables, macro variables,
// output data sets, scoring and timing (the fit and display of a BY group are in
// display/vsfdisplay.h).
#pragma once

#include <cstdint>

struct VsfContext;
struct VsfModel;
struct VsfResampling;
struct QkPool;

[[nodiscard]] int32_t vsfpModelInfo(VsfContext* ctx);
[[nodiscard]] int32_t vsfpBootstrapInfo(VsfContext* ctx);
[[nodiscard]] int32_t vsfpPerf(VsfContext* ctx);
[[nodiscard]] int32_t vsfPrepOutput(VsfContext* ctx);
[[nodiscard]] int32_t vsfPrepScores(VsfContext* ctx);
[[nodiscard]] int32_t vsfMakeMacroVar(VsfContext* ctx, int32_t byNumber);
[[nodiscard]] int32_t vsfPrepareOutputAndDesign(VsfContext* ctx);
[[nodiscard]] int32_t vsfOutputBy(VsfContext* ctx, VsfModel* model, VsfResampling* resampling,
                                  int64_t seed);
[[nodiscard]] int32_t vsfpParameterNames(VsfContext* ctx, VsfModel* model);
[[nodiscard]] int32_t vsfMakeDesignMacroVar(VsfContext* ctx, VsfModel* model);
[[nodiscard]] int32_t vsfScoreResults(VsfContext* ctx, VsfModel* model);
[[nodiscard]] int32_t vsfTimes(VsfContext* ctx);
// Ends the SCORE OUT= data sets (they are written when the step succeeds).
void vsfFinishScores(VsfContext* ctx);
// The UtilInfo table of the BY group's page files (UTIL_DETAILS$).
[[nodiscard]] int32_t vsfpUtilInfo(VsfContext* ctx);
// Per model effect with CLASS variables, the table of the levels of each column of its
// CLASS part (LevEffect::levelIndexTable) from `pool`; `fit` is null: every effect of the
// design. 0, or -2 (no CLASS variable, or no memory).
[[nodiscard]] int32_t vsfLevels(VsfContext* ctx, VsfModel* fit, QkPool* pool);
