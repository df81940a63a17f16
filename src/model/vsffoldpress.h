// The cross-validation PRESS of the current model from the fold records' sums: each fold's
// held-out error under the coefficients fitted without it, with no pass over the rows.
#pragma once

#include <cmath>
#include <cstdint>

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

// Sets every fold's cvSse from the sums and returns true; false (nothing set) when the sums
// cannot give them to full precision or steer an L2 search, where the caller takes the pass
// over the rows.
[[nodiscard]] bool vsfFoldPressFromSums(VsfModel* model);

// The response's shift of fold f's record less its swept coefficients' sum over the columns'
// shifts (foldShift): added to the intercept the record's sweep gives, the fold's intercept on
// the pages' shift; taken off a held-out residual formed from the record's coefficients. 0
// where the records are about the pages' shift.
[[nodiscard]] double vsfFoldResponseShift(const VsfModel* model, int32_t f);
// Sets foldResidualShift (per fold, vsfFoldResponseShift) for a pass over the held-out rows,
// where the records are about their own means.
void vsfSetFoldResidualShifts(VsfModel* model);
