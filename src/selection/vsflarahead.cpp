// Looking ahead on the least-angle path: the coming steps walked on a copy of the path's
// state, and one pass over the rows that forms the SSE of all their coefficient vectors.
// Declared in selection/vsflarinternal.h.
#include "kernels/vsflarcallbacks.h"
#include "kernels/vsfrowwalk.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "selection/vsflarinternal.h"
#include "selection/vsflarlasso.h"
#include "selection/vsfscreen.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace larpath {

namespace {

// ---- looking ahead on the path
//
// With the full X'X the path's coefficients come from the matrix alone, and so does the SSE of
// a step unless it is small against its terms (a nearly exact fit), where it needs the rows.
// The coming steps are then walked on a copy of the path's state, and one pass forms the SSE
// of all their coefficient vectors; a step whose terms are bit for bit those of
// an entry takes its SSE from there, any other runs a new look-ahead. Each entry's sum is
// formed over the same rows in the same order with the same arithmetic as the pass per step,
// so the results are those of the pass per step.

constexpr size_t kAheadSteps = 16; // entries of one look-ahead at most

} // namespace

// The look-ahead serves the plain LAR and LASSO paths with the full X'X, whose rows carry no
// roles or folds; anything else keeps its pass per step. The final fit of external cross
// validation holds no rows out, so its residual pass is the plain one: its folds do not count.
[[nodiscard]] bool lookAheadOpen(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const bool xcvFinal = o->cvExternal && m->cvexPass.heldOutFold == m->cv.foldCount;
  if (!vsfFullXpxOn(m) || !vsfMethod(o->method).lookAhead || o->adaptive ||
      (o->cvExternal && !xcvFinal) || rolesPresent(m) || o->screen != VsfScreenMethod::None ||
      vsfSafeScreening(m) || m->hier.hierarchy || m->elnetPass.l2 > 0 ||
      m->elnet.l2BaseXpx != nullptr || (m->cv.foldCount > 0 && !xcvFinal))
    return false;
  const VsfRowShape S = vsfRowShape(m);
  return !S.hasRole && (!S.hasFold || xcvFinal) && (!S.xcv || xcvFinal) && !S.cv && S.sparse == 0;
}

namespace {

// The in-model terms past the forced ones, as the residual pass takes them.
void pathTerms(const VsfModel* m, std::vector<int32_t>& offsets, std::vector<double>& betas) {
  offsets.clear();
  betas.clear();
  for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
    offsets.push_back(m->layout.denseOffset[m->inModelList[p]]);
    betas.push_back(m->pathPass.pathBeta[m->inModelList[p]]);
  }
}

[[nodiscard]] bool sameTerms(const VsfLarAhead& a, size_t i, const std::vector<int32_t>& offsets,
                             const std::vector<double>& betas) {
  return a.offsets[i] == offsets && a.betas[i].size() == betas.size() &&
         std::memcmp(a.betas[i].data(), betas.data(), sizeof(double) * betas.size()) == 0;
}

// A copy of the model whose path state is its own: the arrays a path step writes are copied,
// and what a step must not reach (the pages, the estimates) is cut off, so that walking it
// leaves the model untouched.
class PathCopy {
public:
  explicit PathCopy(const VsfModel* m) : c_(*m) {
    const size_t E = static_cast<size_t>(m->effectCount);
    const size_t P = static_cast<size_t>(m->parmCount);
    const size_t X = static_cast<size_t>(m->xpxColumns);
    own(c_.sweptXpx, swept_, m->sweptXpx, static_cast<size_t>(packed::tri(m->xpxColumns)));
    own(c_.pathPass.corr, corr_, m->pathPass.corr, E);
    own(c_.pathPass.dirCorr, dirCorr_, m->pathPass.dirCorr, E);
    own(c_.pathPass.direction, direction_, m->pathPass.direction, E);
    own(c_.pathPass.pathBeta, pathBeta_, m->pathPass.pathBeta, P);
    own(c_.workVector, work_, m->workVector, P + 1);
    own(c_.path.activeSign, sign_, m->path.activeSign, E);
    own(c_.inModelList, inModel_, m->inModelList, E);
    own(c_.effectStatus, status_, m->effectStatus, E);
    own(c_.sweepFlags, flags_, m->sweepFlags, X);
    c_.bags = nullptr;
    c_.puddle = nullptr;
    c_.beta = c_.stdBeta = c_.path.savedBeta = c_.path.savedStdBeta = nullptr;
    c_.pathPass.larAhead = nullptr;
    c_.path.larSquare = nullptr;
  }
  VsfModel* model() { return &c_; }

private:
  template <class T> static void own(T*& field, std::vector<T>& store, const T* from, size_t n) {
    store.assign(from, from + n);
    field = store.data();
  }
  VsfModel c_;
  std::vector<double> swept_, corr_, dirCorr_, direction_, pathBeta_, work_;
  std::vector<int32_t> sign_, inModel_;
  std::vector<uint8_t> status_;
  std::vector<char> flags_;
};

// What one entry costs a row: a dot product over the active terms, or over all dense values
// once the terms are laid out over them.
[[nodiscard]] int64_t entryCost(int64_t terms, int64_t dense) {
  return 4 * terms >= dense ? dense : terms;
}

// The terms of the coming steps after the current one (already the first entry), walked on a
// copy of the path: as many as a pass can afford, up to the path's end. The steps run as the
// look-ahead's (no sums, no estimates) on the walk's scratch `s`.
void walkAhead(const VsfModel* m, LarScratch& s, int32_t pendingDrop, VsfLarAhead& a) {
  const int64_t dense = m->layout.denseColumnCount;
  const int64_t budget = std::max<int64_t>(4 * dense, 64);
  int64_t cost = entryCost(static_cast<int64_t>(a.offsets[0].size()), dense);
  PathCopy copy(m);
  VsfModel* c = copy.model();
  const LarWalk ahead{LarMode::Ahead, &s};
  std::vector<int32_t> offsets;
  std::vector<double> betas;
  while (a.offsets.size() < kAheadSteps && cost < budget) {
    int32_t changed = -1;
    if (LarLassoStep(c, ahead, &changed, &pendingDrop) != VsfStatus::Ok ||
        c->stop.stopReason != VSR_NONE)
      break;
    pathTerms(c, offsets, betas);
    a.offsets.push_back(offsets);
    a.betas.push_back(betas);
    cost += entryCost(static_cast<int64_t>(offsets.size()), dense);
  }
}

} // namespace

[[nodiscard]] VsfStatus residualAhead(VsfModel* m, LarScratch& s, int32_t pendingDrop) {
  VsfLarAhead& a = *m->pathPass.larAhead;
  try {
    std::vector<int32_t> offsets;
    std::vector<double> betas;
    pathTerms(m, offsets, betas);
    if (a.next < a.offsets.size() && sameTerms(a, a.next, offsets, betas)) {
      m->sse = a.sse[a.next++];
      return VsfStatus::Ok;
    }
    a.offsets.assign(1, offsets);
    a.betas.assign(1, betas);
    walkAhead(m, s, pendingDrop, a);
    a.sse.assign(a.offsets.size(), 0.0);
  } catch (const std::bad_alloc&) {
    // Without memory to look ahead, the step takes a pass of its own.
    a.offsets.clear();
    a.betas.clear();
    a.next = 0;
    return pass(m, vsfLarRss, vsfLarRss_t);
  }
  a.next = 1;
  const VsfStatus rc =
      vsfDataPass(m, vsfLarRssAhead, vsfLarRssAhead_t, static_cast<int64_t>(a.sse.size()));
  if (rc != VsfStatus::Ok) {
    a.offsets.clear();
    return rc;
  }
  m->sse = a.sse[0];
  return VsfStatus::Ok;
}

} // namespace larpath
