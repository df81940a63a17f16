// Cross validation by folds: the fold records' starting sums. The data passes put each TRAIN
// row's sums into its own fold; a fold's model needs the sums over every other row, so the
// model's sums become the total over the folds and each fold's the sum of the other folds'.
#include "selection/vsfcv.h"

#include "data/vsfthread.h"
#include "kernels/vsfcvkernels.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/foldsums.h"
#include "numerics/packedtri.h"

#include <cstring>

namespace {

[[nodiscard]] bool foldsOn(const VsfModel* m) {
  return vsfCvOn(m) && m->folds != nullptr && m->foldCount > 0;
}

// total += the sum of the folds' parts; each part becomes the sum of the others'.
template <class Part> void complement(VsfModel* m, double* total, Part part, int64_t n) {
  foldSumsOutside(
      total, m->foldCount, [m, part](int32_t f) { return part(m, f); }, 0, n);
}

} // namespace

VsfStatus vsfCVCounts(VsfModel* m) {
  if (!foldsOn(m))
    return VsfStatus::Ok;
  for (int32_t f = 0; f < m->foldCount; ++f)
    m->folds[f].rowCount = m->folds[f].freqCount = m->folds[f].weightCount = 0.0;
  return vsfDataPass(m, vsfCVNobs, vsfCVNobs_t, 0);
}

VsfStatus vsfCVBlocksOutsideFolds(VsfModel* m) {
  if (!foldsOn(m))
    return VsfStatus::Ok;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const int64_t n = packed::tri(m->effectColumns[e]);
    if (n > 0)
      complement(
          m, m->effectBlocks[e],
          [e](VsfModel* mm, int32_t f) { return mm->folds[f].effectBlocks[e]; }, n);
  }
  for (int32_t f = 0; f < m->foldCount; ++f)
    m->folds[f].xpx[0] = 0.0;
  const VsfStatus rc = vsfDataPass(m, vsfCVYpY, vsfCVYpY_t, 0);
  if (rc != VsfStatus::Ok)
    return rc;
  // The total is taken over the folds' own sums on the pages as they stand, so that it
  // agrees with them whatever shift or centring the pages carry.
  double total = 0.0;
  complement(
      m, &total, [](VsfModel* mm, int32_t f) { return mm->folds[f].xpx; }, 1);
  for (int32_t f = 0; f < m->foldCount; ++f)
    m->folds[f].sweptXpx[0] = m->folds[f].xpx[0];
  return VsfStatus::Ok;
}

void vsfCVFullOutsideFolds(VsfModel* m) {
  if (!foldsOn(m))
    return;
  const int64_t T = packed::tri(m->xpxColumns);
  // Each fold's own sums, kept where memory allows (the held-out errors otherwise recover
  // them from the total, at the cost of its rounding). The triangle's size is the model's.
  m->foldOwnColumns = m->xpxColumns;
  if (m->foldOwnColumn == nullptr)
    m->foldOwnColumn = vsfModelArray<int32_t>(m, m->effectCount, false);
  if (m->foldOwnColumn == nullptr)
    m->foldOwnColumns = 0;
  else
    std::memcpy(m->foldOwnColumn, m->effectColumn,
                sizeof(int32_t) * static_cast<size_t>(m->effectCount));
  for (int32_t f = 0; f < m->foldCount; ++f) {
    VsfFoldRecord& F = m->folds[f];
    if (F.ownXpx == nullptr)
      F.ownXpx = vsfModelArray<double>(m, T, false);
    if (F.ownXpx == nullptr)
      m->foldOwnColumns = 0;
    else
      std::memcpy(F.ownXpx, F.xpx, sizeof(double) * T);
  }
  complement(
      m, m->xpx, [](VsfModel* mm, int32_t f) { return mm->folds[f].xpx; }, T);
  for (int32_t f = 0; f < m->foldCount; ++f)
    std::memcpy(m->folds[f].sweptXpx, m->folds[f].xpx, sizeof(double) * T);
}

void vsfCVEmptyFolds(VsfModel* m, bool full) {
  if (!foldsOn(m))
    return;
  const int64_t T = full ? packed::tri(m->xpxColumns) : 1;
  for (int32_t f = 0; f < m->foldCount; ++f) {
    VsfFoldRecord& F = m->folds[f];
    std::memcpy(F.sweptXpx, F.xpx, sizeof(double) * T);
    std::memset(F.sweepFlags, '0', static_cast<size_t>(m->xpxColumns));
  }
}
