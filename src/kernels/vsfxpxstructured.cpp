// The structured road's cross products, added as the full X'X kernel adds the same elements:
// the dense part by the rank-k update of the page's rows, the sparse values row by row.
#include "kernels/vsfxpxstructured.h"

#include "kernels/vsfrankk.h"
#include "kernels/vsfrowwalk.h"
#include "numerics/zvector.h"

int32_t vsfStructuredXpX(VsfModel* m, QkPageDescriptor* page) {
  VsfStructured* st = m->structured;
  const VsfRowShape S = vsfRowShape(m);
  const int32_t n = S.dense + 1;
  const double* rows[kVsfRankRows];
  double weights[kVsfRankRows];
  int32_t pending = 0;
  auto flush = [&] {
    if (pending > 0)
      vsfRankUpdate(m->xpx, n, rows, weights, pending);
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
      st->offDiagonal = 1;
    for (int32_t a = begin; a < end; ++a) {
      const double xa = r.sparseValues[a];
      const int64_t j = r.storedIndex(S, a);
      double* R = st->cross + j * st->small;
      zvaxpy(R, R, r.y, n, w * xa);
      st->diagonal[j] += w * xa * xa;
    }
  });
  flush();
  return 0;
}
