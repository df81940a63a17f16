// The stored cross products x_k'X of entered effects: the response's column, the columns of
// a batch of effects formed in one data pass, and every fold's from the folds' own parts.
// Declared in model/vsfsweep.h.
#include "model/vsfsweep.h"

#include "kernels/vsfxpx.h"
#include "model/vsffoldmove.h"
#include "model/vsfmodel.h"
#include "model/vsfsweepinternal.h"
#include "numerics/foldsums.h"

#include <cassert>
#include <vector>

using namespace sweeping;

namespace {

// The kept cross-product columns from slot `first` on, one per entry of parm (the column's
// parameter, 1 + p; the response 0), from the folds' own parts: the model's total and each
// fold's the other folds'.
void crossOutsideFolds(VsfModel* m, int64_t first, const std::vector<int64_t>& parm) {
  const int64_t N = m->parmCount + 1;
  const int64_t from = first * N, to = (first + static_cast<int64_t>(parm.size())) * N;
  if (!vsfFoldsMoved(m)) {
    foldSumsOutside(
        m->cross, m->cv.foldCount, [m](int32_t f) { return m->cv.folds[f].cross; }, from, to);
    return;
  }
  vsfFoldSumsMoved(
      m, m->cross, [m](int32_t f) { return m->cv.folds[f].cross; }, from, to,
      [&parm, first, N](int64_t i, int64_t& a, int64_t& b) {
        a = parm[static_cast<size_t>(i / N - first)];
        b = i % N;
      });
}

} // namespace

VsfStatus vsfInitCross(VsfModel* m) {
  if (const VsfStatus rc = vsfDataPass(m, vsfYCross, vsfYCross_t, 0); rc != VsfStatus::Ok)
    return rc;
  m->crossColumnCount = 1;
  if (cvFolds(m))
    crossOutsideFolds(m, 0, {0});
  return VsfStatus::Ok;
}

VsfStatus vsfAddCross(VsfModel* m, int32_t k) { return vsfAddCrossBatch(m, &k, 1); }

VsfStatus vsfAddCrossBatch(VsfModel* m, const int32_t* effects, int32_t count) {
  int32_t columns = 0;
  for (int32_t b = 0; b < count; ++b)
    columns += m->effectColumns[effects[b]];
  const int32_t used = m->crossColumnCount, need = used + columns;
  const int64_t N = m->parmCount + 1;
  if (m->crossCapacity <= need) {
    int32_t cap = 2 * m->crossCapacity;
    if (cap < need)
      cap = m->crossCapacity + need;
    if (cap > m->parmCount)
      cap = m->parmCount + 1;
    if (vsfAddCrossMemory(m, cap, static_cast<int32_t>(N)) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
  }
  assert(need <= m->crossCapacity && "the kept cross products have room for the batch");
  const int64_t L = static_cast<int64_t>(columns) * N;
  if (L != 0) {
    m->batch.crossBatch = effects;
    m->batch.crossBatchCount = count;
    m->batch.crossBatchContiguous = vsfDenseInParameterOrder(m) ? 1 : 0;
    const VsfStatus rc = vsfDataPass(m, vsfEffCross, vsfEffCross_t, L);
    m->batch.crossBatch = nullptr;
    m->batch.crossBatchCount = 0;
    if (rc != VsfStatus::Ok)
      return rc;
  }
  if (cvFolds(m)) {
    std::vector<int64_t> parm;
    for (int32_t b = 0; b < count; ++b)
      for (int32_t q = 0; q < m->effectColumns[effects[b]]; ++q)
        parm.push_back(1 + m->parmOffset[effects[b]] + q);
    crossOutsideFolds(m, used, parm);
  }
  int32_t slot = used;
  for (int32_t b = 0; b < count; ++b) {
    m->crossSlot[effects[b]] = slot;
    slot += m->effectColumns[effects[b]];
  }
  m->crossColumnCount = need;
  return VsfStatus::Ok;
}
