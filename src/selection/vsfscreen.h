// Screening of the least-angle path's candidates: SIS keeps the candidates most correlated
// with the response for the whole fit; the safe rules (SASVI, SASVI2$, DPP$) keep a working
// set of candidates whose bound says they may become active soon and refresh it as the path
// value falls. The path step itself (vsflarlasso.cpp) calls in at its set-up and per step.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;

// True under SASVI, SASVI2$ and DPP$.
[[nodiscard]] bool vsfSafeScreening(const VsfModel* model);
// True when candidate j may take part in the step under the current rule (the working set
// under the safe rules, the available candidates otherwise).
[[nodiscard]] bool vsfScreenEligible(const VsfModel* model, int32_t j);
// The number of effects in the model when every candidate the rule keeps is in.
[[nodiscard]] int32_t vsfScreenFullCount(const VsfModel* model);

// The set-up at the path maximum: SIS ranks and cuts, the safe rules form their bounds and
// first working set (switched off for the fit when lambdaMax is 0). Ok, or NoMemory.
[[nodiscard]] VsfStatus vsfScreenStart(VsfModel* model);
// The sums of squares the bounds and the SIS statistic need, on the transformed pages.
[[nodiscard]] VsfStatus vsfScreenSquareSums(VsfModel* model);
// Under the safe rules, refreshes the working set when the step's end falls to the safe
// level (or the set is nearly used up) and recomputes the step length over it; then adds the
// step's ratio of path values. *gamma and *pendingDrop as the LASSO step found them, with
// dropRatio the smallest zero-crossing ratio and dropEffect its effect. Ok or a pass's failure.
[[nodiscard]] VsfStatus vsfScreenStep(VsfModel* model, double cmax, double A, double* gamma,
                                      int32_t* pendingDrop, double dropRatio, int32_t dropEffect);
// The working-set bookkeeping of an effect that enters or leaves the model.
void vsfScreenEntered(VsfModel* model, int32_t effect);
void vsfScreenDropped(VsfModel* model, int32_t effect);
// A candidate that tied with the entering one leaves the working set with it.
void vsfScreenTied(VsfModel* model, int32_t effect);

// Sorts n values into descending order, moving the parallel indices with them.
void doubleSort(double* values, int32_t* indices, int32_t n);
