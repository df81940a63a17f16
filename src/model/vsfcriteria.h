// Criteria of the current model or of a trial model by criterion code, the lazy data
// passes behind the data-based criteria (validation and test ASE, CV PRESS, external CV
// error), the estimates and standardized estimates, and the diagonal of the inverse.
#pragma once

#include "support/stepcodes.h"
#include "support/vsfoptions.h"

#include <cstdint>

struct VsfModel;

double vsfGetCriterion(VsfModel* model, VsfCriterion code);
// The value of criterion `code` at recorded step `step`, from the step history; missing when
// the fit keeps no such value (SL, a criterion whose history or full model is not kept).
double vsfStepCriterion(const VsfModel* model, VsfCriterion code, int32_t step);
double vsfComputeCriterion(double prevSse, double sse, VsfModel* model, VsfCriterion code,
                           int32_t prevRank, int32_t rank, int32_t prevEffects, int32_t effects);
[[nodiscard]] VsfStatus vsfComputeResids(VsfModel* model);
[[nodiscard]] VsfStatus vsfComputeCVResids(VsfModel* model);
void vsfComputeCVEXPRESS(VsfModel* model);
// Carries an intercept estimated on shifted pages back to the data's scale, for estimates
// (beta, in parameter order) of the model whose sweep flags are given.
void vsfInterceptToData(const VsfModel* model, double* beta, const char* flags);
void vsfStdBeta(VsfModel* model);
// The variances of the estimates over the error variance (model->betaVariance, -1 where a
// column is out): the swept block's diagonal, or on a nearly dependent step the factor of the
// rows' (vsfFactorVariances). Returns a pass's failure, Ok otherwise.
[[nodiscard]] VsfStatus vsfDiagXpXi(VsfModel* model);
