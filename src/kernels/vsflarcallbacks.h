// Data-pass kernels of the least-angle path: correlations of every effect's column with the
// path residual and the residual sums of squares by role, direction products, and the sums
// that safe screening needs. The path itself (what is cleared, when a pass runs) is elsewhere.
#pragma once

#include "support/qkpgf.h"

#include "data/vsflarahead.h"

#include <cstdint>

struct VsfPassState;

// corr[k] += m r x_k for every effect but the intercept; sse, validateAse, testAse and the
// held-out sums of the external fold.
[[nodiscard]] int32_t vsfLarCorr(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfLarCorr_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                   int64_t length);
// The residual sums of vsfLarCorr without the correlations.
[[nodiscard]] int32_t vsfLarRss(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfLarRss_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                  int64_t length);
// The training rows' residual sums of squares of every entry of model->larAhead (rows with
// roles or external folds are not for it).
[[nodiscard]] int32_t vsfLarRssAhead(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfLarRssAhead_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                       int64_t length);
// dirCorr[k] += m v x_k for the candidates (or the screened-in working set).
[[nodiscard]] int32_t vsfLarAvec(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfLarAvec_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                   int64_t length);
// Correlations of the screened-out effects and the two sums of the fitted values.
[[nodiscard]] int32_t vsfLarSasviCorrOut(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfLarSasviCorrOut_t(VsfPassState* model, QkPageDescriptor* page,
                                           double* buffer, int64_t length);
// Direction products of the working-set effects whose products are still to be formed.
[[nodiscard]] int32_t vsfLarSasviAvecOut(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfLarSasviAvecOut_t(VsfPassState* model, QkPageDescriptor* page,
                                           double* buffer, int64_t length);
// vsfLarSasviCorrOut together with the direction products of the screened-out effects.
[[nodiscard]] int32_t vsfLarSasvi(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfLarSasvi_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                    int64_t length);
// Correlations of the single-column candidates with the least-squares residual of the
// in-model effects, about the column means.
[[nodiscard]] int32_t vsfCorr(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCorr_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                int64_t length);
