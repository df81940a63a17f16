// The elastic net's search over its ridge parameter L2: golden section on [L2LOW, L2HIGH] or
// a logarithmic grid, each trial a whole path fit judged by the criterion of its chosen step,
// then the best L2 fitted once more as the fit of the BY group. The trials share one X'X.
#pragma once

#include <cstdint>

struct VsfModel;

// L2SEARCH=NONE: one fit at the model's l2; GOLDEN and GRID: the search, then the final fit.
// 0, or the failure code of vsfModelInit or of the final vsfProcessModel.
int32_t vsfDriveElasticNet(VsfModel* model);
// One trial at l2: its criterion value (smaller is better), -1.0 when the fit ended with a
// fit status, or a failing vsfModelInit's code as a double.
double vsfProcessCriterionEN(double l2, VsfModel* model);
// The chosen L2, or -1.0 when a trial ended with a fit status.
double vsfProcessGoldenSection(VsfModel* model);
double vsfProcessLogGridSearch(VsfModel* model);
