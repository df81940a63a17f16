// The cross-validation PRESS of the current model from the fold records' sums: each fold's
// held-out error under the coefficients fitted without it, with no pass over the rows.
#pragma once

#include "model/vsfrefine.h"

#include <cmath>
#include <cstdint>
#include <vector>

struct VsfModel;

// A sum of squares formed as a quadratic form in cross products, y'y - 2b'X'y + b'X'X b,
// loses digits to cancellation when it falls below this share of the bound on its terms'
// size; there it is summed over the rows instead.
inline constexpr double kVsfCancellationShare = 1e-5;
// Whether a sum of squares `ss` formed from cross products keeps its digits: finite and at
// least kVsfCancellationShare of `terms`, the square of the bound on its terms' size. Every
// road that forms an error SS so (a fold's held-out error, a path's step, a solver's loss)
// sums it over the rows where this fails.
[[nodiscard]] inline bool vsfFormKeepsDigits(double ss, double terms) {
  return std::isfinite(ss) && ss >= kVsfCancellationShare * terms;
}

// Whether a fold's sums hold the digits of its held-out error, given the largest variance
// inflation of its training columns (`inflation`), its held-out rows' summed leverage under
// the training fit (`leverage`, vsfFoldSums) and whether its record refused a
// column of the model that its training rows hold (`lost`, vsfFoldLostColumn) and whether its
// fit lies far from the origin (`far`, vsfFoldFarFromOrigin): the error of the coefficients
// the sums give grows with the inflation, and a held-out row far out among the training rows
// (of leverage h) sees it magnified by about 1 + h, which may not pass the threshold of the
// model's own refinement (kVsfRefineInflation); a column the sums could not tell from their
// rounding leaves the fold refitting another model; and sums far from the origin carry the
// rounding of y'y into the coefficients, as they do the model's (vsfFarFromOrigin). The one
// test that sends a fold's coefficients and held-out error to its rows.
[[nodiscard]] inline bool vsfFoldSumsHoldDigits(double inflation, double leverage, bool lost,
                                                bool far) {
  return !lost && !far && inflation * (1.0 + leverage) <= kVsfRefineInflation;
}
// Whether fold f's record left out a column the model swept in whose diagonal in the record's
// sums is not 0 (a level none of the training rows hold is 0 there, and stays out), the
// many-level effect's among them (vsfStructuredLostLevel).
[[nodiscard]] bool vsfFoldLostColumn(const VsfModel* model, int32_t f);
// Per fold, from the sums of its record and its own rows with no pass over the rows: its
// held-out error (`errors`) and its held-out rows' weighted leverages under its training fit,
// added up (`leverage`: the trace of its record's swept block times its own cross products,
// or a bound on it where the bound already keeps the fold on its sums at its training
// inflation `inflation[f]`, vsfFoldInflations). Returns whether the errors may stand: false
// where one would lose digits (vsfFormKeepsDigits) or where they cannot steer an L2 search,
// and the caller takes the pass over the rows.
[[nodiscard]] bool vsfFoldSums(const VsfModel* model, const std::vector<double>& inflation,
                               std::vector<double>& errors, std::vector<double>& leverage);

// The response's shift of fold f's record less its swept coefficients' sum over the columns'
// shifts (foldShift): added to the intercept the record's sweep gives, the fold's intercept on
// the pages' shift; taken off a held-out residual formed from the record's coefficients. 0
// where the records are about the pages' shift.
[[nodiscard]] double vsfFoldResponseShift(const VsfModel* model, int32_t f);
// Sets foldResidualShift (per fold, vsfFoldResponseShift) for a pass over the held-out rows,
// where the records are about their own means.
void vsfSetFoldResidualShifts(VsfModel* model);
