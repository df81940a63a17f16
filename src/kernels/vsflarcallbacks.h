// Data-pass kernels of the least-angle path: correlations of every effect's column with the
// path residual and the residual sums of squares by role, direction products, and the sums
// that safe screening needs. The path itself (what is cleared, when a pass runs) is elsewhere.
#pragma once

#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include "data/vsflarahead.h"

#include <cstdint>

struct VsfPassState;

// corr[k] += m r x_k for every effect but the intercept; sse, validateAse, testAse and the
// held-out sums of the external fold.
[[nodiscard]] VsfStatus vsfLarCorr(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfLarCorr_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                     int64_t length);
// The residual sums of vsfLarCorr without the correlations.
[[nodiscard]] VsfStatus vsfLarRss(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfLarRss_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                    int64_t length);
// The training rows' residual sums of squares of every entry of model->pathPass.larAhead (rows with
// roles or external folds are not for it).
[[nodiscard]] VsfStatus vsfLarRssAhead(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfLarRssAhead_t(VsfPassState* model, QkPageDescriptor* page,
                                         double* buffer, int64_t length);
// dirCorr[k] += m v x_k for the candidates (or the screened-in working set).
[[nodiscard]] VsfStatus vsfLarAvec(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfLarAvec_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                     int64_t length);
// Correlations of the screened-out effects and the two sums of the fitted values.
[[nodiscard]] VsfStatus vsfLarSasviCorrOut(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfLarSasviCorrOut_t(VsfPassState* model, QkPageDescriptor* page,
                                             double* buffer, int64_t length);
// Direction products of the working-set effects whose products are still to be formed.
[[nodiscard]] VsfStatus vsfLarSasviAvecOut(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfLarSasviAvecOut_t(VsfPassState* model, QkPageDescriptor* page,
                                             double* buffer, int64_t length);
// vsfLarSasviCorrOut together with the direction products of the screened-out effects.
[[nodiscard]] VsfStatus vsfLarSasvi(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfLarSasvi_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                      int64_t length);
// Correlations of the single-column candidates with the least-squares residual of the
// in-model effects, about the column means.
[[nodiscard]] VsfStatus vsfCorr(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCorr_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                  int64_t length);
