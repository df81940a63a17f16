// External cross validation's road over the folds' cross products (model/vsfcvexsums.h): one
// pass forms every fold's cross products; each fold fit takes its moments, its centred and
// scaled X'X and, at every step of its path, its training and held-out sums of squares from
// them, so that the fold fits neither transform the pages nor pass over them.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;
struct VsfCVExSums;

// Before a fold fit's passes (its model initialised): on the first fold, whether the road
// can be taken (the least-angle path on the full X'X over single dense columns with an
// intercept, no roles, weights that are the rows' own, no screening, adaptive weights or
// resampling, every row placed and every sum finite), the pass that forms the folds' cross
// products into `sums`. The fit takes the road (model->cvexPass.cvexSums set) when it can. Ok, or a
// failing pass's code.
[[nodiscard]] VsfStatus vsfCVExTakeRoad(VsfModel* model, VsfCVExSums* sums);
// The held-out fold's fit: its training and held-out totals, its training rows' means and
// scales, and its X'X and held-out cross products on that scale (kept in the sums). A fold
// whose training part is empty sets *emptyFold, as the moments pass does.
void vsfCVExFoldMoments(VsfModel* model, bool* emptyFold);
// The training rows' sums of squares on the fold's scale.
void vsfCVExSquareSums(VsfModel* model);
// The fold's X'X (without a ridge) into the model's.
void vsfCVExCrossProducts(VsfModel* model);
// The training SSE and the held-out sums (error, direction products) of the path's current
// coefficients, as the residual pass forms them, from the fold's cross products.
void vsfCVExResidualSums(VsfModel* model);
