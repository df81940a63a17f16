// The results entries that the procedure main calls: information tables, the fit and
// display of a BY group, macro variables, output data sets, scoring and timing.
#pragma once

#include <cstdint>

struct VsfContext;
struct VsfModel;
struct VsfResampling;
struct QkPool;

int32_t vsfpModelInfo(VsfContext* ctx);
int32_t vsfpBootstrapInfo(VsfContext* ctx);
int32_t vsfpPerf(VsfContext* ctx);
int32_t vsfPrepOutput(VsfContext* ctx);
int32_t vsfPrepScores(VsfContext* ctx);
int32_t vsfFitAndDisplay(VsfContext* ctx);
int32_t vsfMakeMacroVar(VsfContext* ctx, int32_t byNumber);
int32_t vsfPrepareOutputAndDesign(VsfContext* ctx);
int32_t vsfSetSelModelGroup(VsfContext* ctx);
int32_t vsfOutputBy(VsfContext* ctx, VsfModel* model, VsfResampling* resampling, int64_t seed);
int32_t vsfpParameterNames(VsfContext* ctx, VsfModel* model);
int32_t vsfMakeDesignMacroVar(VsfContext* ctx, VsfModel* model);
int32_t vsfScoreResults(VsfContext* ctx, VsfModel* model);
int32_t vsfTimes(VsfContext* ctx);
// Ends the SCORE OUT= data sets (they are written when the step succeeds).
void vsfFinishScores(VsfContext* ctx);
// The UtilInfo table of the BY group's page files (UTIL_DETAILS$).
int32_t vsfpUtilInfo(VsfContext* ctx);
// Per model effect with CLASS variables, the table of the levels of each column of its
// CLASS part (LevEffect::levelIndexTable) from `pool`; `fit` is null: every effect of the
// design. 0, or -2 (no CLASS variable, or no memory).
int32_t vsfLevels(VsfContext* ctx, VsfModel* fit, QkPool* pool);
