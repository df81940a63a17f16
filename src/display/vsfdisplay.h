// The fit and display of a BY group: the fit, then its tables and graphs in the order the
// results show them. It sits above the output layer's printers and the graphs, which it
// interleaves, and below the procedure main, which calls it once per BY group.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct VsfModel;
struct QkPool;

// Fits the current BY group (plain or model-averaged) and shows its results.
[[nodiscard]] VsfStatus vsfFitAndDisplay(VsfContext* ctx);
// Opens the BY group's "SelectedModel" output group (without its heading under model
// averaging, whose averaged tables came before with their own).
[[nodiscard]] int32_t vsfSetSelModelGroup(VsfContext* ctx);
// The results of a plain fit of the BY group: names, information, step and selected-model
// tables with their graphs.
[[nodiscard]] VsfStatus vsfResults(VsfContext* ctx);
// The design's tables of a BY group: CLASS levels (and coding), constructed-effect details
// and dimensions. The first non-zero code of a printer.
[[nodiscard]] VsfStatus vsfDesignTables(VsfContext* ctx, QkPool* pool);
// The step details read back from the scratch file (a model-averaging sample passes its
// tag and the position of its first step record), and the tables of a fitted model.
[[nodiscard]] VsfStatus vsfDisplaySteps(VsfContext* ctx, void* scratch, int64_t* position,
                                        int32_t sampleTag);
[[nodiscard]] VsfStatus vsfDisplayModel(VsfContext* ctx, VsfModel* model, void* scratch,
                                        int64_t* position, int32_t sampleTag);

// Model averaging: the resamplers' fits and the summary of a BY group, then its tables.
[[nodiscard]] VsfStatus vsfAverageFit(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfResampleResults(VsfContext* ctx);
// Refits the averaged model: a plain fit of the effects selected often enough (REFIT's
// MINPCT= and BEST=) over REFIT's own samples, shown by a second fit-and-display pass; the
// selection settings are restored afterwards. 0, -2, or the refit pass's failure.
[[nodiscard]] VsfStatus vsfRefitAverage(VsfContext* ctx);
