// The classic selection methods (NONE, FORWARD, BACKWARD, STEPWISE, competitive stepwise)
// and the candidate searches they share: the best addition (single-column effects from the
// swept matrix, multi-column effects by trial), the best removal, and the add and drop
// sequences that refresh the criteria cache.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>
#include <vector>

struct VsfModel;

[[nodiscard]] VsfStatus vsfLeastSquares(VsfModel* model);
[[nodiscard]] VsfStatus vsfForward(VsfModel* model);
[[nodiscard]] VsfStatus vsfBackward(VsfModel* model);
[[nodiscard]] VsfStatus vsfStepwise(VsfModel* model);
[[nodiscard]] VsfStatus vsfCompetitiveStepwise(VsfModel* model);

[[nodiscard]] VsfStatus AddCandidate(VsfModel* model, int32_t* effect, double* value);
// The best single-column candidate from the sums (the swept matrix, or without the full X'X
// the kept cross products); a column whose entry would be refined is left to its trial,
// flagged in `entries` (by effect) when given.
void vsfBestSimple(VsfModel* model, int32_t* effect, double* value,
                   std::vector<uint8_t>* entries = nullptr);
void DropCandidate(VsfModel* model, int32_t* effect, double* value);
// Makes the move and forms the new model's criteria; `value`, when given, the move's trial
// criterion, becomes the step's own where the select criterion is formed from the rows.
[[nodiscard]] VsfStatus Add(VsfModel* model, int32_t effect, double* value = nullptr);
[[nodiscard]] VsfStatus Drop(VsfModel* model, int32_t effect, double* value = nullptr);
