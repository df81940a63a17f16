// The cross-validation kernel pairs: per-fold counts of the TRAIN rows, per-fold weighted
// y'y, and per-fold sums of squared held-out residuals under each fold's own model (fitted
// without the fold's rows). Serial forms add into the fold records, threaded forms into
// their worker's buffer (K, K or 3K doubles), which the frame folds into the records.
#pragma once

#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfPassState;

[[nodiscard]] VsfStatus vsfCVNobs(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCVNobs_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                    int64_t length);
[[nodiscard]] VsfStatus vsfCVYpY(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCVYpY_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                   int64_t length);
// The external folds' cross products (model/vsfcvexsums.h): each TRAIN row, shifted, into its
// fold's triangle; the threaded form into its buffer laid out as the sums.
[[nodiscard]] VsfStatus vsfCVExFoldXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCVExFoldXpX_t(VsfPassState* model, QkPageDescriptor* page,
                                         double* buffer, int64_t length);
[[nodiscard]] VsfStatus vsfCVResids(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCVResids_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                      int64_t length);
