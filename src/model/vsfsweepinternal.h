// The sweeping files' internal interface (vsfsweep.cpp, vsfentry.cpp, vsfremoval.cpp,
// vsfcrossstore.cpp): the helpers they share. Nothing else includes it.
#pragma once

#include "numerics/packedtri.h"

#include <cstdint>

struct VsfModel;

namespace sweeping {

// The packed triangle's index helpers, as every sweeping file names them.
using packed::at;
using packed::diag;
using packed::sym;
using packed::tri;

// Whether the fit sweeps cross-validation folds with the model.
[[nodiscard]] bool cvFolds(const VsfModel* m);
// Forgets the model's derived sums and takes its SSE from the swept corner.
void clearCache(VsfModel* m);
// Partial elimination of columns first .. first + count - 1 for the SSE alone; the count taken.
int32_t partialRun(VsfModel* m, int64_t first, int64_t count);
// Sweeps column k into the model and into every fold.
void sweepIn(VsfModel* m, int32_t k);
// Sweeps columns first .. first + count - 1 into the model in order.
void sweepInRun(VsfModel* m, int32_t first, int32_t count);

} // namespace sweeping
