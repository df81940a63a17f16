// The classic selection methods (NONE, FORWARD, BACKWARD, STEPWISE, competitive stepwise)
// and the candidate searches they share: the best addition (single-column effects from the
// swept matrix, multi-column effects by trial), the best removal, and the add and drop
// sequences that refresh the criteria cache.
#pragma once

#include <cstdint>

struct VsfModel;

[[nodiscard]] int32_t vsfLeastSquares(VsfModel* model);
[[nodiscard]] int32_t vsfForward(VsfModel* model);
[[nodiscard]] int32_t vsfBackward(VsfModel* model);
[[nodiscard]] int32_t vsfStepwise(VsfModel* model);
[[nodiscard]] int32_t vsfCompetitiveStepwise(VsfModel* model);

[[nodiscard]] int32_t AddCandidate(VsfModel* model, int32_t* effect, double* value);
void vsfBestSimple(VsfModel* model, int32_t* effect, double* value);
void DropCandidate(VsfModel* model, int32_t* effect, double* value);
[[nodiscard]] int32_t Add(double value, VsfModel* model, int32_t effect);
[[nodiscard]] int32_t Drop(double value, VsfModel* model, int32_t effect);
