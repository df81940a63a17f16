// The elastic net's search over its ridge parameter L2: golden section on [L2LOW, L2HIGH] or
// a logarithmic grid, each trial a whole path fit judged by the criterion of its chosen step,
// then the best L2 fitted once more as the fit of the BY group. The trials share one X'X.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>
#include <functional>

struct VsfModel;

// L2SEARCH=NONE: one fit at the model's l2; GOLDEN and GRID: the search, then the final fit.
// Ok, or the failure of vsfModelInit or of the final vsfProcessModel.
[[nodiscard]] VsfStatus vsfDriveElasticNet(VsfModel* model);
// One trial at l2: its criterion value (smaller is better), -1.0 when the fit ended with a
// fit status, or a failing vsfModelInit's code as a double.
double vsfProcessCriterionEN(double l2, VsfModel* model);
// The chosen L2, or -1.0 when a trial ended with a fit status.
double vsfProcessGoldenSection(VsfModel* model);
double vsfProcessLogGridSearch(VsfModel* model);

// One trial of an L2 search: its value at l2 (smaller is better) in *value; false ends the
// search as failed. `index` numbers the trials from 0.
using VsfL2Trial = std::function<bool(int32_t index, double l2, double* value)>;
// The golden-section search on [low, high] with at most N trials: the best L2 (ties keep the
// earlier trial), or -1.0 when a trial failed. *ranToEnd tells whether all N trials were made
// (not stopped by convergence or failure).
double vsfGoldenSectionWalk(double low, double high, int32_t N, const VsfL2Trial& trial,
                            bool* ranToEnd);
// The logarithmic grid of N points on [lo, hi] (0 first, then from a tiny start, when lo is
// 0): the best L2, or -1.0 when a trial failed. A missing value ends the walk with the best
// so far.
double vsfLogGridWalk(double lo, double hi, int32_t N, const VsfL2Trial& trial);
