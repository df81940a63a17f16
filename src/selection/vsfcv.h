// Cross validation by folds for the CV criterion: the per-fold sums a fit starts from (each
// fold record holds the sums over the TRAIN rows outside its fold), and the reset of the
// fold models when the full model has been entered and emptied again.
#pragma once

#include "data/vsfutilfile.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;

// The per-fold counts (CVDETAILS= with fold statistics); Ok or the pass's failure.
[[nodiscard]] VsfStatus vsfCVCounts(VsfModel* model);
// After the effect-block pass of the grown-on-demand shape: every fold's effect blocks and
// y'y become the sums outside the fold; Ok or the failure of the y'y pass.
[[nodiscard]] VsfStatus vsfCVBlocksOutsideFolds(VsfModel* model);
// Shifts the pages about the means (vsfShiftPages); where the folds' records will be held
// about their own means, the shift pass sums each fold's rows as well (foldMeansTaken), so
// that vsfCVCentreFolds needs no pass. Ok or the shift's failure.
[[nodiscard]] VsfStatus vsfCVShiftPages(VsfModel* model, bool withCrossProducts);
// The last pass that rewrites the pages before the cross products (serial, threaded); where
// the folds' records will be held about their own means, its form withMeans (withMeansThreaded)
// that sums each fold's rewritten rows as well (foldMeansTaken). Ok or the pass's failure.
[[nodiscard]] VsfStatus vsfCVRewritePages(VsfModel* model, VsfSerialKernel serial,
                                          VsfThreadedKernel threaded, VsfSerialKernel withMeans,
                                          VsfThreadedKernel withMeansThreaded);
// Before the full X'X pass on the packed or the many-level road over shifted pages: the folds'
// own means, about which the pass then sums each fold's rows (foldCentre), so that
// vsfCVFullOutsideFolds (and the many-level road's pass) can hold each record about its own
// mean. Ok (nothing set where the road does not take it) or the pass's failure.
[[nodiscard]] VsfStatus vsfCVCentreFolds(VsfModel* model);
// After the full X'X pass: the model's X'X is the sum of the folds' and every fold's
// becomes the sum outside the fold, swept copy included.
void vsfCVFullOutsideFolds(VsfModel* model);
// The fold models emptied again after the full model (full: the full X'X shape).
void vsfCVEmptyFolds(VsfModel* model, bool full);
