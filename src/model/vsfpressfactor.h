// The leverages of the PRESS pass on a nearly dependent design: the swept block, worn by the
// sweeps that formed it, gives each row's leverage with an error that grows with the
// design's condition, and a leverage near 1 then turns into a leave-one-out residual of any
// size. Such a design's leverages come instead from a Cholesky factor of its columns' block
// of the cross products, formed afresh and scaled to a unit diagonal.
#pragma once

#include <cstdint>

struct VsfModel;
struct VsfLeverageFactor;

// The largest variance inflation of the model's swept columns above which the PRESS pass
// takes its leverages from the factor: below it the swept block keeps them to well within
// 1e-10.
constexpr double kVsfLeverageInflation = 1e4;

// Forms the factor of the model's swept columns (those the PRESS pass gathers) when their
// largest variance inflation, or the largest the swept matrix has held, exceeds
// kVsfLeverageInflation. False, and the swept block stays the leverages' source, on a sound
// design, on the structured road with its many-level effect in the model, on split levels
// stored sparse, and when the block is not positive definite in double.
[[nodiscard]] bool vsfLeverageFactorFor(const VsfModel* model, VsfLeverageFactor& factor);
