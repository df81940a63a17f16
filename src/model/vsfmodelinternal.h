// The model state's internal interface (vsfmodel.cpp, vsfmodelgrow.cpp, vsfrecordstep.cpp):
// the helpers they share. Nothing else includes it.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;

namespace modelstate {

// Whether each step sets the folds' estimates (their arrays exist then).
[[nodiscard]] bool foldBetaKept(const VsfModel* m);
// The copies of the model's effect lists that a trial or a kept step works on.
[[nodiscard]] VsfStatus allocateListCopies(VsfModel* m, int32_t nE);

} // namespace modelstate
