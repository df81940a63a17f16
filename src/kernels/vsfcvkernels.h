// The cross-validation kernel pairs: per-fold counts of the TRAIN rows, per-fold weighted
// y'y, and per-fold sums of squared held-out residuals under each fold's own model (fitted
// without the fold's rows). Serial forms add into the fold records, threaded forms into
// their worker's buffer (K, K or 3K doubles), which the frame folds into the records.
#pragma once

#include "support/qkpgf.h"

#include <cstdint>

struct VsfPassState;

[[nodiscard]] int32_t vsfCVNobs(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCVNobs_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                  int64_t length);
[[nodiscard]] int32_t vsfCVYpY(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCVYpY_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                 int64_t length);
// The external folds' cross products (model/vsfcvexsums.h): each TRAIN row, shifted, into its
// fold's triangle; the threaded form into its buffer laid out as the sums.
[[nodiscard]] int32_t vsfCVExFoldXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCVExFoldXpX_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                       int64_t length);
[[nodiscard]] int32_t vsfCVResids(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCVResids_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                    int64_t length);
