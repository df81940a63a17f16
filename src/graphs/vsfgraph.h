// The graphs of a displayed fit: each one is a single graph call to the output manager that
// names a host template, the tables whose data it reads and the dynamic variables that the
// template draws from. The step labels the graphs share are in vsfglabels.h.
#pragma once

#include "support/stepcodes.h"

#include "support/hostif.h"
#include "support/messages.h"
#include "support/stepcodes.h"
#include "support/vsfoptions.h"

#include <cstdint>

struct VsfContext;
struct VsfModel;

// Criterion plots (one panel, or one graph per criterion in "CriterionPlots") from the
// selection summary's and the optimal-step table's data.
[[nodiscard]] VsfStatus vsfgCriterion(VsfContext* ctx, VsfModel* model, const int32_t* optimalSteps,
                                      int32_t chosenStep, RvqText** summaryRef, RvqText** bestRef);
// The ASE plot from the selection summary's data.
[[nodiscard]] VsfStatus vsfgAse(VsfContext* ctx, VsfModel* model, int32_t chosenStep,
                                RvqText** summaryRef);
// Coefficient progression of the plain fit: reads every step record back from the fit's
// scratch file into its own "Coefficients" data and draws the panel or the unpacked pair.
// A model-averaging sample passes its tag and the position of its first step record in the
// model's scratch file; a plain fit passes neither.
[[nodiscard]] VsfStatus vsfgCoeffs(VsfContext* ctx, VsfModel* model, int64_t* position = nullptr,
                                   int32_t sampleTag = -1);
// The candidates plot of one restored step.
[[nodiscard]] VsfStatus vsfgCandidates(VsfContext* ctx, VsfModel* stepModel);

// The last displayed step of the fit's selection path (the step numbers that the selection
// summary shows run from 0 to it).
[[nodiscard]] int32_t vsfgLastShownStep(const VsfContext* ctx, const VsfModel* model);

// The label of the chosen step by the criterion that chose it ("Selected Step" for a code
// without its own).
[[nodiscard]] VsfMsg vsfgSelectedStepMessage(VsfCriterion criterion);
// The axis and short labels of a criterion's plot (with the fold count for CV and CVEX);
// both null for a code without a criterion plot.
void vsfgCriterionAxisLabels(const VsfContext* ctx, VsfCriterion criterion, RvqText** yLabel,
                             RvqText** shortLabel);
// The L2 search of an elastic-net fit (SHOWL2SEARCH$): the "ElasticNetTuneL2" data and its
// graphs against the trial number and log10 of L2, with the kept L2 marked.
[[nodiscard]] VsfStatus vsfgElasticNet(VsfContext* ctx, VsfModel* model);
// External cross validation (SHOWCVEX$): the held-out error over the merged L1 grid, with
// its smallest value marked.
[[nodiscard]] VsfStatus vsfgCvExternal(VsfContext* ctx, VsfModel* model);
// Model averaging: the selection percentage of every effect (PLOTS=EFFECTSELECTPCT) from
// `*data` with `rows` rows, or, when *data is null, from data of its own made by the plot's
// ORDER= and MINPCT=.
[[nodiscard]] VsfStatus vsfgBootstrapSelFreq(VsfContext* ctx, RvqText** data, int32_t rows);
// True when the plot is asked for and its ORDER= and MINPCT= are the table's, so that the
// selection-percentage table can serve as its data.
[[nodiscard]] bool vsfgSelectPctShared(const VsfContext* ctx);
// Model averaging: the distribution of each shown parameter's estimates over the averaged
// resamples (PLOTS=PARMDIST), in the group "EstimateDistributions"; `refitting` while the
// averaged model is refitted. Ok, or NoMemory when the fit has no parameters.
[[nodiscard]] VsfStatus vsfgBootstrapParmHistogram(VsfContext* ctx, VsfModel* model,
                                                   bool refitting);
