// The cross-validation PRESS of the current model from the fold records' sums: each fold's
// held-out error under the coefficients fitted without it, with no pass over the rows.
#pragma once

#include <cstdint>

struct VsfModel;

// A sum of squares formed as a quadratic form in cross products, y'y - 2b'X'y + b'X'X b,
// loses digits to cancellation when it falls below this share of the bound on its terms'
// size; there it is summed over the rows instead.
inline constexpr double kVsfCancellationShare = 1e-5;

// Sets every fold's cvSse from the sums and returns true; false (nothing set) when the sums
// cannot give them to full precision or steer an L2 search, where the caller takes the pass
// over the rows.
[[nodiscard]] bool vsfFoldPressFromSums(VsfModel* model);
