// Constructed effects in the design library: the per-BY-group set-up (knots, percentile
// data, polynomial standardisation, MULTIMEMBER union levels, COLLECTION and LAG sizes, lag
// groups and tables) and the per-row column values with the selected-effect row. The row
// protocol that calls them is levrow.h's.
#pragma once

#include "design/levreg.h"

#include <vector>

// The margin step of boundary knots and the tolerance of an exact percentile position.
inline constexpr double kLevKnotEpsilon = 1.110223024625157e-13;

// The sorted values of every numeric variable of a PERCENTILES spline: per variable the
// {value, frequency} pairs in ascending value order, the observation count and (with FREQ)
// the frequency total. Released when the set-up ends.
struct LevPercentiles {
  std::vector<int32_t> slotOf; // numeric variable -> slot, -1 when not gathered
  std::vector<std::vector<std::pair<double, double>>> sorted;
  double count = 0;
  double frequencySum = 0;
  bool frequency = false;
};

// Knot placement of one placing SPLINE piece; VsfStatus::ReportedFailure after a message (knot
// list outside the data, too short a boundary list, repeated knots of a natural cubic spline).
[[nodiscard]] VsfStatus zlevBSplineKnots(LevRegContext* context, LevEftVar* piece,
                                         const LevPercentiles* data);
[[nodiscard]] VsfStatus zlevTPFSplineKnots(LevRegContext* context, LevEftVar* piece,
                                           const LevPercentiles* data);
// The n percentile knots of one sorted variable (positions i/(n + 1) of the observation
// count, or of the frequency total with FREQ).
std::vector<double> levPercentileKnots(const std::vector<std::pair<double, double>>& sorted,
                                       double count, double frequencySum, bool frequency,
                                       int32_t n);

// The basis columns of one spline variable at x: B-spline (columnsPerVariable values from
// the K knots), truncated power and natural cubic (from the n knots).
void levBSplineColumns(const SplineInfo& spline, const double* knots, int32_t K, double x,
                       double* out);
void levTPFColumns(const SplineInfo& spline, const double* knots, int32_t n, double x, double* out);

// LAG groups of every lag of the list.
void zlevLevelizeLagWithin(LevRegContext* context, int32_t count, LagSpec** list);
// The lag table of one LAG effect; VsfStatus::ReportedFailure after a message. `scored` and `out`
// are the SCORE data set and its OUT= data set when a SCORE data set is read (its messages name
// them), else null.
[[nodiscard]] VsfStatus zlevLagDesignCreate(LevRegContext* context, LagSpec* lag, LevEftVar* record,
                                            HostDataSet* scored, HostDataSet* out);
// The lagged level of the current observation: a level index, -1 missing, -2 no earlier
// period.
[[nodiscard]] int32_t zlevGetEftLaggedLevel(LevRegContext* context, LagSpec* lag);

// Clears every constructed effect's columns-computed flag (before a row).
void zlevResetEftVarCols(LevDesign* design);
// Fills the column values of one constructed effect (of its parent for a continuation
// piece) for the current observation, once per row.
void zlevGetEftVarCols(LevRegContext* context, LevEftVar* record);
// Writes one model effect's block from `block` (CLASS part, constructed-effect columns and
// their direct products); the constructed effects must have their columns for the row.
void levEffectBlock(LevRegContext* context, int32_t e, double* block);
// The design row of the selected effects only (every other column 0): computes the columns
// of the constructed effects they use and builds their blocks.
void zlevSelectedRow(LevRegContext* context, const int32_t* effects, int32_t count, double* row);

// The per-column mean vector of effect `ef` from the column sums of the reading pass (times
// `scale`), kept in the effect, for effects with polynomial, spline or COLLECTION (numeric
// member) variables; `effectMean` is the effect's mean, which split pieces take whole.
void levEffectColumnMeans(LevDesign* design, LevEffect* ef, const double* sums, double scale,
                          double effectMean);
