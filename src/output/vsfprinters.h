// The printers and helpers of the results that the fit-and-display road
// (display/vsfdisplay.h) and the tests call: observation counts, class levels, dimensions, fit
// statistics, the selection path tables, parameter estimates and the selected effects.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>
#include <vector>

struct RvqText;
struct VsfAverageSummary;

struct VsfContext;
struct VsfModel;
struct QkPool;
struct LevDesign;
enum class VsfOrder : uint8_t;

[[nodiscard]] VsfStatus vsfpNobs(VsfContext* ctx, VsfModel* model);
[[nodiscard]] VsfStatus vsfpClassInfo(VsfContext* ctx, QkPool* pool);
[[nodiscard]] VsfStatus vsfpClassCoding(VsfContext* ctx, QkPool* pool);
[[nodiscard]] VsfStatus vsfpDimensions(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfpAnova(VsfContext* ctx, VsfModel* model, QkPool* pool);
[[nodiscard]] VsfStatus vsfpFitStats(VsfContext* ctx, VsfModel* model);
[[nodiscard]] VsfStatus vsfpParmEst(VsfContext* ctx, VsfModel* model, QkPool* pool,
                                    int32_t stepOrder);
[[nodiscard]] VsfStatus vsfpCVDetails(VsfContext* ctx, VsfModel* model, QkPool* pool);
// The "CVExternal" table: every fold's path steps with their held-out error.
[[nodiscard]] VsfStatus vsfpCvExternal(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfpOptStep(VsfContext* ctx, VsfModel* model, int32_t* optimalSteps,
                                    int32_t* chosenStep, RvqText** dataRef);
[[nodiscard]] VsfStatus vsfpSummary(VsfContext* ctx, VsfModel* model, QkPool* pool,
                                    const int32_t* optimalSteps, RvqText** dataRef);
[[nodiscard]] VsfStatus vsfpStopReason(VsfContext* ctx, int32_t stopReason, int32_t steps);
// The refused candidates against the model at the stop, whose value is its last step's record.
[[nodiscard]] VsfStatus vsfpStopDetails(VsfContext* ctx, QkPool* pool, VsfModel* model);
[[nodiscard]] VsfStatus vsfpNoteSelected(VsfContext* ctx, VsfModel* model, QkPool* pool,
                                         int32_t stopReason);
[[nodiscard]] VsfStatus vsfpCandidates(VsfContext* ctx, VsfModel* model);
// The candidates of a step record (effects with a candidate value, the largest doubles
// included), best first by the SELECT= criterion, as the Candidates table and the
// candidates plot rank them; arrays from the record's pool.
struct VsfCandidateRanking {
  int32_t* effects; // effect indices, best first
  double* values;   // their candidate values
  int32_t count;
  bool addition; // the step entered effects (else it removed them)
};
[[nodiscard]] VsfStatus vsfRankCandidates(const VsfContext* ctx, VsfModel* model,
                                          VsfCandidateRanking* out);
void vsfFreeCandidates(VsfModel* model, VsfCandidateRanking* ranking);
[[nodiscard]] VsfStatus vsfpModelString(VsfContext* ctx, VsfModel* model, QkPool* pool);
[[nodiscard]] VsfStatus vsfIncludeString(VsfContext* ctx, VsfModel* model, QkPool* pool,
                                         char** text, int32_t* length);
// The effect selection percentages: mode 0 the table, 1 the table that also serves as the
// selection-percentage plot's data, 2 only the plot's hidden data by the plot's ORDER= and
// MINPCT=; modes 1 and 2 store the data reference in `plotData`. The number of rows.
[[nodiscard]] int32_t vsfpBootstrapSelFreq(VsfContext* ctx, int32_t mode, RvqText** plotData);
// Effects in the order ORDER= asks for: as given, by ascending or by descending selection
// count (equal counts keep the lower effect index first).
std::vector<int32_t> vsfOrderByCount(const VsfAverageSummary& a, std::vector<int32_t> effects,
                                     VsfOrder order);
// The frequencies of the distinct selected models ("ModelSelectionFreq").
[[nodiscard]] VsfStatus vsfpModelFreq(VsfContext* ctx);
// The averaged estimates; the refit's table (`refit`) has neither the forced-in marks nor
// the selection counts; `nonzero` keeps the parameters that were non-zero in some sample.
[[nodiscard]] VsfStatus vsfpAverageEstimates(VsfContext* ctx, bool nonzero, bool refit);
// Labels and short names of the design columns of the effects chosen by `which` (0 all
// effects of the model, 2 the selected effects, 3 the chosen step's effects).
[[nodiscard]] VsfStatus vsfParmLabels(VsfContext* ctx, VsfModel* model, int32_t which);
// The syntax of effect k for a MODEL statement; with write 0 only its length.
[[nodiscard]] int32_t vsfMakeEffSyntax(const LevDesign* design, const VsfContext* ctx, int32_t k,
                                       char* out, int32_t write);

// The values text of a CLASS variable in "ClassLevelInfo": the level texts (without
// trailing blanks, a blank text counting as one character) joined by the delimiter, cut
// with "..." at the first level that would reach position 253. Writes at most `width`
// characters into `out` (blank-filled first) and returns the values length of the
// variable (the sum of 1 + text length over its levels).
int32_t vsfClassValuesText(const char* const* levelTexts, const int32_t* lengths, int32_t count,
                           char delimiter, char* out, int32_t width);
