// The least-squares fit that gives the adaptive weights when split levels are stored sparse:
// the levels' block of X'X is a diagonal less a rank-one term, solved as such, so that no
// cross product of two split columns is ever formed.
#pragma once

#include <cstdint>

struct VsfModel;
struct VsfDataSettings;

// The fit of the full model on the standardized columns and its weights |b|^gamma, as
// vsfLSAdaptiveWeights forms them from the packed X'X: 0, the pass's code, a qkzpower status,
// or an internal-error code where a row holds two split levels (the reading pass keeps the
// dense rows for such designs).
[[nodiscard]] int32_t vsfSplitLSAdaptiveWeights(VsfModel* model);

// Whether this fit's split levels fall in one split effect (the levels of one slot), the
// layout whose least-squares fit vsfSplitLSAdaptiveWeights solves.
[[nodiscard]] bool vsfOneSplitEffect(const VsfDataSettings* settings);
