// The moment kernel pairs: weighted sums of the response and of every parameter column and
// of their squares over the TRAIN rows (with the external-fold totals), the weighted
// sums of squares that start an on-demand X'X, and the sums about the means of the columns
// whose raw sums cancel too far.
#pragma once

#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfPassState;

[[nodiscard]] VsfStatus vsfMoments(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfMoments_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                     int64_t length);
[[nodiscard]] VsfStatus vsfYpwY(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfYpwY_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                  int64_t length);
// The weighted sum of squares of the response alone about responseCentre (0: as the pages
// hold it), into sumWYY; it reads only the rows' response and weights, so it serves split
// levels stored sparse too.
[[nodiscard]] VsfStatus vsfResponseSquares(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfResponseSquares_t(VsfPassState* model, QkPageDescriptor* page,
                                             double* buffer, int64_t length);
// vsfShiftRows and then vsfYpwY on each page, in one pass over the rows: the sums of squares
// about the shift, added page by page and row by row as the two passes add them.
VsfStatus vsfShiftRowsSquares(VsfPassState* model, QkPageDescriptor* page);
VsfStatus vsfShiftRowsSquares_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                int64_t length);
// The sums about its mean of every dense column whose spread its raw sums leave unresolved
// (spreadState VSS_ABOUT_MEAN): the weighted TRAIN deviations and squared deviations, into
// spreadSums. On shifted pages the mean less the shift is the centre.
[[nodiscard]] VsfStatus vsfSpreads(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfSpreads_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                     int64_t length);
