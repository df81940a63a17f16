// Cross products about a shift: the pages of a model with an intercept hold every response
// and dense value less its TRAIN mean, so that the sums of squares the sweep tests for
// singularity are about the means; the intercept's estimate and variance are carried back
// to the data's own scale (vsfcriteria.cpp, with the estimates). Also the test that the accumulated
// sums of squares are finite.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;

// Shifts the pages once per BY group (not for models without an intercept, nor for the
// path methods, which centre their pages themselves) and recomputes the response and column
// sums of squares about the shift. 0 or the code of the failing pass. withCrossProducts
// leaves the shift to the pass that forms the full X'X next (xpxPagePrep VXP_SHIFT), which
// vsfShiftPagesWithCrossProducts then runs: one pass over the rows for the three. Where
// foldCentre is set, the shift pass adds the folds' sums of the shifted rows into it
// (vsfCVFoldMeans), so that the fold centres need no pass of their own.
[[nodiscard]] VsfStatus vsfShiftPages(VsfModel* model, bool withCrossProducts);
[[nodiscard]] VsfStatus vsfShiftPagesWithCrossProducts(VsfModel* model);
// The uncorrected total sum of squares of the response, on the data's own scale.
double vsfUncorrectedTotal(const VsfModel* model);
// The fit's totals once its cross products are formed: totalSSUncorrected, roundingSS, and
// under NOINT totalSS (the uncorrected total); the response's spread (responseSpread) is
// not yet formed.
void vsfSetTotals(VsfModel* model);
// Under NOINT, the response's sum of squares about its TRAIN mean into responseSpread, once
// per fit, from the rows (the raw sums' y'y - W ybar^2 keep none of the digits of a response
// far from zero). Returns a failing pass's status.
[[nodiscard]] VsfStatus vsfFormResponseSpread(VsfModel* model);
// The response's sum of squares whose rounding the fit's swept sums carry (roundingSS): the
// one the cross products hold (about the shift on shifted pages, where a response far from
// zero keeps its digits), at least kVsfEps of the uncorrected total, below which a spread is
// within the rounding of the response's own values. Set after totalSSUncorrected.
double vsfRoundingTotal(const VsfModel* model);
// Tests the diagonal of the accumulated cross products (the full X'X, or the response's sum
// of squares and every effect block): a value that is not finite sets fitStatus to
// VsfFitStatus::Overflow with overflowEffect naming the effect (-1 the response). True when finite.
[[nodiscard]] bool vsfCrossProductsFinite(VsfModel* model);
