// The in-model state and the estimates of the solver-based fits. The solver's coefficients
// belong to centred and scaled parameters (or single-column effects): columnSums holds the
// means and columnSumSquares the inverse scales at this point of the fit; under ADAPTIVE the
// columns were also multiplied by their weights.
#include "model/vsfsolverest.h"

#include "model/vsfadaptive.h"
#include "model/vsfmodel.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>

void vsfReSetInModelFlags(VsfModel* m, const double* b) {
  if (m->effectCount < 2) {
    m->rank = m->inModelCount = m->includeCount;
    return;
  }
  for (int32_t e = 1; e < m->effectCount; ++e)
    if (m->effectStatus[e] != VES_UNAVAILABLE)
      m->effectStatus[e] = VES_CANDIDATE;
  m->rank = m->includeCount;
  int32_t at = m->includeCount;
  for (int32_t e = 1; e < m->effectCount; ++e) {
    if (m->effectStatus[e] == VES_UNAVAILABLE)
      continue;
    int32_t nonZero = 0;
    for (int32_t q = 0; q < m->effectColumns[e]; ++q)
      if (b[m->parmOffset[e] + q] != 0.0)
        ++nonZero;
    m->rank += nonZero;
    if (nonZero != 0) {
      m->inModelList[at++] = e;
      m->effectStatus[e] = VES_SELECTED;
    }
  }
  m->inModelCount = at;
}

void vsfScaleBeta(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const double* source = o->parmStandardize ? m->pathPass.solverBeta : m->pathPass.pathBeta;
  const double sy =
      m->totals.nObs - 1 > 0 ? std::sqrt(std::max(m->totalSS, 0.0) / (m->totals.nObs - 1)) : 0.0;
  // Effects that left the model keep no estimate from an earlier step.
  std::fill(m->beta, m->beta + m->parmCount, 0.0);
  std::fill(m->stdBeta, m->stdBeta + m->parmCount, 0.0);
  double S = 0;
  for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
      const int32_t c = m->parmOffset[e] + q;
      // Under ADAPTIVE the solver fits the weighted column: its coefficient times the weight
      // is the coefficient of the standardized column.
      const double b = source[c] * vsfAdaptiveFactor(m, c);
      if (sy > 0)
        m->stdBeta[c] = b / sy;
      m->beta[c] = b * m->moments.columnSumSquares[c];
      S += m->beta[c] * m->moments.columnSums[c];
    }
  }
  m->beta[0] = o->noint ? 0.0 : m->sumWY - S;
}
