// The structured road's cross products, added as the full X'X kernel adds the same elements:
// the dense part by the rank-k update of the page's rows, the sparse values row by row.
#include "kernels/vsfxpxstructured.h"

#include "kernels/vsfrankk.h"
#include "kernels/vsfrowwalk.h"
#include "numerics/packedtri.h"
#include "numerics/zvector.h"

int64_t vsfStructuredXpXLength(const VsfPassState* m) {
  const VsfStructured* st = m->structured;
  return packed::tri(st->small) + static_cast<int64_t>(st->columns) * (st->small + 1) + 1;
}

int32_t vsfStructuredXpX_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  const VsfStructured* st = m->structured;
  double* triangle = buffer;
  double* diagonal = triangle + packed::tri(st->small);
  double* cross = diagonal + st->columns;
  double* offDiagonal = cross + static_cast<int64_t>(st->columns) * st->small;
  const VsfRowShape S = vsfRowShape(m);
  const int32_t n = S.dense + 1;
  const double* rows[kVsfRankRows];
  double weights[kVsfRankRows];
  int32_t pending = 0;
  auto flush = [&] {
    if (pending > 0)
      vsfRankUpdate(triangle, n, rows, weights, pending);
    pending = 0;
  };
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    const double w = vsfTrainWeight(m, S, r);
    if (w == 0.0 || vsfAnyMissing(r.y, n) || isHostMissing(w))
      return;
    rows[pending] = r.y;
    weights[pending++] = w;
    if (pending == kVsfRankRows)
      flush();
    const int32_t begin = r.slotBegin(S, 0), end = r.slotEnd(S, 0);
    if (end - begin > 1)
      *offDiagonal = 1.0;
    for (int32_t a = begin; a < end; ++a) {
      const double xa = r.sparseValues[a];
      const int64_t j = r.storedIndex(S, a);
      double* R = cross + j * st->small;
      zvaxpy(R, R, r.y, n, w * xa);
      diagonal[j] += w * xa * xa;
    }
  });
  flush();
  return 0;
}
