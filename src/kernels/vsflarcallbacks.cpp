// The least-angle path kernels. Every pair shares one per-page body that adds into a set of
// targets: the serial form points them at the model, the threaded form at its buffer in the
// layout the frame folds back. Effects are single dense columns on this path.
#include "kernels/vsflarcallbacks.h"

#include "data/vsfthread.h"
#include "kernels/vsfkernelsums.h"
#include "kernels/vsfrowwalk.h"
#include "numerics/packedtri.h"
#include "support/scratcharena.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <vector>

namespace {

// Where a body adds its sums; a null pointer is a sum the kernel does not form.
struct Sinks {
  double *sse = nullptr, *validate = nullptr, *test = nullptr;
  double *heldOut = nullptr, *heldOutTest = nullptr;
  double* corr = nullptr;    // indexed by effect
  double* dirCorr = nullptr; // indexed by effect
  double *termA = nullptr, *termB = nullptr;
  double* aheadSse = nullptr; // indexed by look-ahead entry
};

enum PathTerm { kBeta = 1, kDir = 2, kLs = 4 };

inline double dot(const double* a, const double* x, int32_t n) { return vsfDot(a, x, n); }

// The factor of the reported elastic-net coefficients over the path's (1 elsewhere).
double elasticNetScale(const VsfPassState* m) {
  if (vsfMethodRidge(m->options->method) && m->elnetPass.enSetting == 1 && m->elnetPass.l2 > 0)
    return (m->totals.nObs - 1.0) * m->elnetPass.l2 + 1.0;
  return 1.0;
}

// The in-model effects past the forced ones, with what a row needs of each. When they are a
// good part of the row's dense values, the coefficients are laid out over all dense values
// (zero elsewhere) and a row costs contiguous dot products instead of gathers.
struct PathTerms {
  std::vector<int32_t> offset;
  std::vector<double> beta; // pathBeta
  std::vector<double> dir;  // s * direction (s = 1 where the kernel asks)
  std::vector<double> ls;   // swept (c, 0): minus the least-squares coefficient
  double s = 1.0;           // the elastic-net scale of the reported coefficients
  bool wide = false;
  int32_t dense = 0;
  std::vector<double> spare[3];
  // Only the terms named in need (kBeta, kDir, kLs) are laid out: this runs once per page.
  void build(const VsfPassState* m, bool scaled, int need) {
    s = scaled ? elasticNetScale(m) : 1.0;
    offset.clear();
    beta.clear();
    dir.clear();
    ls.clear();
    for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
      const int32_t k = m->inModelList[p];
      const int64_t c = m->effectColumn[k];
      offset.push_back(m->layout.denseOffset[k]);
      if (need & kBeta)
        beta.push_back(m->pathPass.pathBeta[k]);
      if (need & kDir)
        dir.push_back(s * m->pathPass.direction[k]);
      if (need & kLs)
        ls.push_back(m->sweptXpx[packed::at(c, 0)]);
    }
    layOut(m->layout.denseColumnCount, need);
  }
  // The path coefficients of given terms (unscaled), laid out as build lays out its own.
  void assign(const std::vector<int32_t>& offsets, const std::vector<double>& betas,
              int32_t denseColumns) {
    s = 1.0;
    offset = offsets;
    beta = betas;
    dir.clear();
    ls.clear();
    layOut(denseColumns, kBeta);
  }
  void layOut(int32_t denseColumns, int need) {
    dense = denseColumns;
    wide = dense > 0 && 4 * static_cast<int64_t>(offset.size()) >= dense;
    if (wide) {
      // Laid out in place: the buffers keep their capacity from page to page.
      auto spread = [&](std::vector<double>& v, std::vector<double>& out) {
        out.assign(static_cast<size_t>(dense), 0.0);
        for (size_t i = 0; i < offset.size(); ++i)
          out[offset[i]] = v[i];
        v.swap(out);
      };
      if (need & kBeta)
        spread(beta, spare[0]);
      if (need & kDir)
        spread(dir, spare[1]);
      if (need & kLs)
        spread(ls, spare[2]);
    }
  }
  double gathered(const std::vector<double>& a, const double* x) const {
    if (wide)
      return dot(a.data(), x, dense);
    double f = 0.0;
    for (size_t i = 0; i < offset.size(); ++i)
      f += a[i] * x[offset[i]];
    return f;
  }
  // The path's fitted value (unscaled coefficients).
  double fitted(const double* y) const { return gathered(beta, y + 1); }
  double residual(const double* y) const { return y[0] - fitted(y); }
  double lsResidual(const double* y) const { return y[0] + gathered(ls, y + 1); }
  double directionProduct(const double* y) const { return gathered(dir, y + 1); }
};

// The row multiplier, or 0 with skip set for a TRAIN row whose resample frequency is 0.
inline double rowMultiplier(const VsfRowShape& S, const VsfRowView& r, bool& skip) {
  skip = false;
  double mult = r.weight;
  if (!S.hasResample)
    return mult * r.freq;
  if (r.role == VSF_ROLE_TRAIN) {
    if (r.rfreq == 0.0) {
      skip = true;
      return 0.0;
    }
    return mult * r.rfreq;
  }
  return mult * r.freq;
}

// A list of (effect, dense offset) pairs.
struct Targets {
  std::vector<int32_t> effect, offset;
  void add(const VsfPassState* m, int32_t k) {
    effect.push_back(k);
    offset.push_back(m->layout.denseOffset[k]);
  }
  void clear() {
    effect.clear();
    offset.clear();
  }
  inline void accumulate(double* into, const double* x, double f) const {
    const size_t n = effect.size();
    const int32_t* e = effect.data();
    const int32_t* o = offset.data();
    for (size_t i = 0; i < n; ++i)
      into[e[i]] += f * x[o[i]];
  }
};

// The training multiplier of a row (0: not counted).
inline double trainMultiplier(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r) {
  if (r.role != VSF_ROLE_TRAIN)
    return 0.0;
  if (S.xcv && r.fold == m->cvexPass.heldOutFold)
    return 0.0;
  bool skip;
  const double mult = rowMultiplier(S, r, skip);
  return skip ? 0.0 : mult;
}

// ---- split levels stored sparse (splitSparse): their values are raw on the pages, so a row's
// combination of the centred and scaled columns is the dense terms plus sum c_e x_e less the
// constant sum c_e mean_e, with c_e the coefficient times the scale; the correlations of the
// split columns are summed raw and scaled after the pass (vsfSplitCorrect).

// A combination of the in-model effects past the forced ones (path coefficients or direction).
struct SplitTerms {
  std::vector<int32_t> offset; // dense terms
  std::vector<double> coef;
  std::vector<double> split; // per effect: coefficient times scale (0 outside the terms)
  std::vector<int32_t> touched;
  double constant = 0.0;
  void build(const VsfPassState* m, const double* c) {
    offset.clear();
    coef.clear();
    for (int32_t e : touched)
      split[e] = 0.0;
    touched.clear();
    split.resize(static_cast<size_t>(m->effectCount), 0.0);
    constant = 0.0;
    const bool noint = m->options->noint != 0;
    for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
      const int32_t k = m->inModelList[p];
      if (m->layout.denseOffset[k] >= 0) {
        offset.push_back(m->layout.denseOffset[k]);
        coef.push_back(c[k]);
        continue;
      }
      const double t = c[k] * vsfSplitScale(m, k);
      split[k] = t;
      touched.push_back(k);
      if (!noint)
        constant += t * m->moments.columnSums[k];
    }
  }
  [[nodiscard]] double value(const VsfPassState* m, const VsfRowShape& S,
                             const VsfRowView& r) const {
    const double* dense = r.denseValues();
    double f = -constant;
    for (size_t i = 0; i < offset.size(); ++i)
      f += coef[i] * dense[offset[i]];
    vsfEachSplitValue(m, S, r, [&](int32_t e, double x) { f += split[e] * x; });
    return f;
  }
};

} // namespace

// The thread's scratch of the path kernels (support/scratcharena.h): each body lays its terms
// out afresh on every page.
struct VsfLarScratch {
  PathTerms terms;                     // a body's path terms
  std::vector<PathTerms> ahead;        // the look-ahead's, one per entry
  SplitTerms split;                    // the split bodies' combination
  Targets targets;                     // a body's correlated effects
  std::vector<int32_t> effect, offset; // the split bodies' dense effects
};
VsfLarScratch& VsfScratchArena::lar() { return part(lar_); }

namespace {

// vsfLarCorr (withCorr) and vsfLarRss on split levels stored sparse: the plain path's
// training rows, every effect but the intercept correlated; the intercept's place (effect 0)
// holds the residual's sum until vsfSplitCorrect centres the levels' sums with it.
void splitCorrBody(VsfPassState* m, QkPageDescriptor* page, const Sinks& out, bool withCorr) {
  const VsfRowShape S = vsfRowShape(m);
  VsfLarScratch& scratch = VsfScratchArena::mine().lar();
  SplitTerms& T = scratch.split;
  std::vector<int32_t>& effect = scratch.effect;
  std::vector<int32_t>& offset = scratch.offset;
  T.build(m, m->pathPass.pathBeta);
  vsfDenseEffects(m, effect, offset);
  // The correlations follow the path's coefficients, the SSE the reported (elastic-net
  // rescaled) ones, as corrBody's.
  const double scale = elasticNetScale(m);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    bool skip;
    const double mult = rowMultiplier(S, r, skip);
    if (skip)
      return;
    const double fit = T.value(m, S, r);
    const double res = r.y[0] - fit, e = r.y[0] - scale * fit;
    *out.sse += mult * e * e;
    if (!withCorr)
      return;
    const double* dense = r.denseValues();
    const double u = mult * res;
    // The intercept's place takes the residual's sum, which centres the levels' sums.
    if (m->effectStatus[0] == VES_INTERCEPT)
      out.corr[0] += u;
    for (size_t i = 0; i < effect.size(); ++i)
      if (m->effectStatus[effect[i]] != VES_INTERCEPT)
        out.corr[effect[i]] += u * dense[offset[i]];
    vsfEachSplitValue(m, S, r, [&](int32_t e, double x) { out.corr[e] += u * x; });
  });
}

// vsfLarAvec on split levels stored sparse: the candidates' products with the direction.
void splitAvecBody(VsfPassState* m, QkPageDescriptor* page, double* dirCorr) {
  const VsfRowShape S = vsfRowShape(m);
  VsfLarScratch& scratch = VsfScratchArena::mine().lar();
  SplitTerms& T = scratch.split;
  std::vector<int32_t>& effect = scratch.effect;
  std::vector<int32_t>& offset = scratch.offset;
  T.build(m, m->pathPass.direction);
  vsfDenseEffects(m, effect, offset);
  auto candidate = [m](int32_t e) {
    return e >= m->includeCount && m->effectStatus[e] == VES_CANDIDATE;
  };
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    const double mult = trainMultiplier(m, S, r);
    if (mult == 0.0)
      return;
    const double u = mult * T.value(m, S, r);
    const double* dense = r.denseValues();
    if (m->effectStatus[0] == VES_INTERCEPT)
      dirCorr[0] += u; // the direction's sum, as splitCorrBody's residual sum
    for (size_t i = 0; i < effect.size(); ++i)
      if (candidate(effect[i]))
        dirCorr[effect[i]] += u * dense[offset[i]];
    vsfEachSplitValue(m, S, r, [&](int32_t e, double x) {
      if (candidate(e))
        dirCorr[e] += u * x;
    });
  });
}

// vsfLarCorr (withCorr) and vsfLarRss.
void corrBody(VsfPassState* m, QkPageDescriptor* page, const Sinks& out, bool withCorr) {
  if (m->layout.splitSparse) {
    splitCorrBody(m, page, out, withCorr);
    return;
  }
  const VsfRowShape S = vsfRowShape(m);
  VsfLarScratch& scratch = VsfScratchArena::mine().lar();
  PathTerms& T = scratch.terms;
  Targets& K = scratch.targets;
  const bool ls = vsfMethodLsCoefficients(m->options->method);
  T.build(m, true, kBeta | (ls ? kLs : 0) | (S.xcv && !ls ? kDir : 0));
  K.clear();
  if (withCorr)
    for (int32_t k = 0; k < m->effectCount; ++k)
      if (m->effectStatus[k] != VES_INTERCEPT)
        K.add(m, k);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    bool skip;
    const double mult = rowMultiplier(S, r, skip);
    if (skip)
      return;
    // The correlations follow the path's own coefficients; the sums of squares are those of
    // the reported model, whose elastic-net coefficients may be rescaled. Correlations of the
    // rescaled residual would walk a different path from the one the packed cross products
    // give.
    const double fit = T.fitted(r.y);
    const double res = r.y[0] - fit;
    const double e = ls ? T.lsResidual(r.y) : r.y[0] - T.s * fit;
    const bool heldOut = S.xcv && r.role == VSF_ROLE_TRAIN && r.fold == m->cvexPass.heldOutFold;
    if (r.role == VSF_ROLE_TRAIN && !heldOut) {
      *out.sse += mult * e * e;
      if (withCorr)
        K.accumulate(out.corr, r.y + 1, mult * res);
    } else if (heldOut) {
      const double v = ls ? 0.0 : T.directionProduct(r.y);
      *out.heldOut += mult * e * e;
      *out.heldOutTest += mult * v * v;
    } else if (r.role == VSF_ROLE_VALIDATE) {
      *out.validate += mult * e * e;
    } else if (r.role == VSF_ROLE_TEST) {
      *out.test += mult * e * e;
    }
  });
}

// The training rows' residual sums of squares of every entry of the look-ahead, each as
// corrBody forms the sum of its own terms: the same rows, the same order, the same arithmetic.
void aheadBody(VsfPassState* m, QkPageDescriptor* page, double* sse) {
  const VsfRowShape S = vsfRowShape(m);
  const VsfLarAhead& A = *m->pathPass.larAhead;
  const size_t n = A.offsets.size();
  std::vector<PathTerms>& T = VsfScratchArena::mine().lar().ahead;
  if (T.size() < n)
    T.resize(n);
  for (size_t i = 0; i < n; ++i)
    T[i].assign(A.offsets[i], A.betas[i], m->layout.denseColumnCount);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    bool skip;
    const double mult = rowMultiplier(S, r, skip);
    if (skip || r.role != VSF_ROLE_TRAIN)
      return;
    for (size_t i = 0; i < n; ++i) {
      const double fit = T[i].fitted(r.y);
      const double e = r.y[0] - T[i].s * fit;
      sse[i] += mult * e * e;
    }
  });
}

void avecBody(VsfPassState* m, QkPageDescriptor* page, double* dirCorr) {
  if (m->layout.splitSparse) {
    splitAvecBody(m, page, dirCorr);
    return;
  }
  const VsfRowShape S = vsfRowShape(m);
  VsfLarScratch& scratch = VsfScratchArena::mine().lar();
  PathTerms& T = scratch.terms;
  Targets& K = scratch.targets;
  T.build(m, false, kDir);
  K.clear();
  const VsfScreenMethod screen = m->options->screen;
  if (screen == VsfScreenMethod::None || screen == VsfScreenMethod::Base ||
      screen == VsfScreenMethod::Sis) {
    for (int32_t k = m->includeCount; k < m->effectCount; ++k)
      if (m->effectStatus[k] == VES_CANDIDATE)
        K.add(m, k);
  } else if (screen >= VsfScreenMethod::Sasvi && screen <= VsfScreenMethod::Dpp) {
    for (int32_t i = 0; i < m->screenPass.screenInCount; ++i)
      K.add(m, m->screenPass.screenInList[i]);
  }
  if (K.effect.empty() || T.offset.empty())
    return;
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    const double mult = trainMultiplier(m, S, r);
    if (mult == 0.0)
      return;
    K.accumulate(dirCorr, r.y + 1, mult * T.directionProduct(r.y));
  });
}

// The screened-out correlations and fitted-value sums; with direction set also the
// direction products of the same effects.
void sasviOutBody(VsfPassState* m, QkPageDescriptor* page, const Sinks& out, bool direction) {
  const VsfRowShape S = vsfRowShape(m);
  VsfLarScratch& scratch = VsfScratchArena::mine().lar();
  PathTerms& T = scratch.terms;
  Targets& K = scratch.targets;
  T.build(m, false, kBeta | (direction ? kDir : 0));
  K.clear();
  for (int32_t i = 0; i < m->screenPass.screenOutCount; ++i)
    K.add(m, m->screenPass.screenOutList[i]);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    const double mult = trainMultiplier(m, S, r);
    if (mult == 0.0)
      return;
    const double res = T.residual(r.y);
    K.accumulate(out.corr, r.y + 1, mult * res);
    if (direction)
      K.accumulate(out.dirCorr, r.y + 1, mult * T.directionProduct(r.y));
    const double f = r.y[0] - res;
    *out.termA += mult * f * f;
    *out.termB += mult * f * r.y[0];
  });
}

void sasviAvecOutBody(VsfPassState* m, QkPageDescriptor* page, double* dirCorr) {
  const VsfRowShape S = vsfRowShape(m);
  VsfLarScratch& scratch = VsfScratchArena::mine().lar();
  PathTerms& T = scratch.terms;
  Targets& K = scratch.targets;
  T.build(m, false, kDir);
  K.clear();
  for (int32_t i = 0; i < m->screenPass.screenNewCount; ++i)
    K.add(m, m->screenPass.screenNewList[i]);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    const double mult = trainMultiplier(m, S, r);
    if (mult == 0.0)
      return;
    K.accumulate(dirCorr, r.y + 1, mult * T.directionProduct(r.y));
  });
}

// Least-squares residual of every swept in-model column (dense and sparse), correlated
// with the centred single-column candidates.
void plainCorrBody(VsfPassState* m, QkPageDescriptor* page, double* corr) {
  const VsfRowShape S = vsfRowShape(m);
  const double* sw = m->sweptXpx;
  Targets& K = VsfScratchArena::mine().lar().targets;
  K.clear();
  for (int32_t k = 0; k < m->effectCount; ++k)
    if (m->effectStatus[k] == VES_CANDIDATE && m->effectColumns[k] == 1 &&
        m->layout.sparseSlot[k] < 0)
      K.add(m, k);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    if (S.hasRole && r.role != VSF_ROLE_TRAIN)
      return;
    bool skip;
    const double mult = rowMultiplier(S, r, skip);
    if (skip)
      return;
    const double* dense = r.denseValues();
    double res = r.y[0];
    for (int32_t i = 0; i < m->inModelCount; ++i) {
      const int32_t e = m->inModelList[i];
      const int64_t c0 = m->effectColumn[e];
      if (m->layout.sparseSlot[e] < 0) {
        for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
          const int64_t c = c0 + q;
          if (m->sweepFlags[c] == '1')
            res += sw[packed::at(c, 0)] * dense[m->layout.denseOffset[e] + q];
        }
      } else {
        const int32_t s = m->layout.sparseSlot[e];
        const int32_t end = r.slotEnd(S, s);
        for (int32_t b = r.slotBegin(S, s); b < end; ++b) {
          const int64_t c = c0 + r.storedIndex(S, b);
          if (m->sweepFlags[c] == '1')
            res += sw[packed::at(c, 0)] * r.sparseValues[b];
        }
      }
    }
    for (size_t i = 0; i < K.effect.size(); ++i) {
      const int32_t k = K.effect[i];
      corr[k] += mult * res * (dense[K.offset[i]] - m->moments.columnSums[k]);
    }
  });
}

Sinks modelSums(VsfPassState* m) {
  Sinks s;
  s.sse = &m->sse;
  s.validate = &m->validateAse;
  s.test = &m->testAse;
  s.heldOut = &m->cvexPass.heldOutError;
  s.heldOutTest = &m->cvexPass.heldOutTestError;
  s.corr = m->pathPass.corr;
  s.dirCorr = m->pathPass.dirCorr;
  s.termA = &m->screenPass.screenTermA;
  s.termB = &m->screenPass.screenTermB;
  s.aheadSse = m->pathPass.larAhead != nullptr ? m->pathPass.larAhead->sse.data() : nullptr;
  return s;
}

// The residual sums in buffer order, then the correlations from `corrAt` (none when 0), and
// the held-out pair after them. Without external folds the held-out pair is never reached,
// and the buffer has no place for it.
Sinks residualBuffer(const VsfPassState* m, double* B, int64_t corrAt) {
  Sinks s;
  s.sse = B;
  s.validate = B + 1;
  s.test = B + 2;
  const int64_t heldOutAt = corrAt > 0 ? corrAt + m->effectCount : 3;
  if (vsfRowShape(m).xcv) {
    s.heldOut = B + heldOutAt;
    s.heldOutTest = B + heldOutAt + 1;
  }
  s.corr = corrAt > 0 ? B + corrAt : nullptr;
  return s;
}

// The two fitted-value sums, the screened-out correlations after them and, for the
// direction products too, those after the correlations.
Sinks screenBuffer(const VsfPassState* m, double* B, bool direction) {
  Sinks s;
  s.termA = B;
  s.termB = B + 1;
  s.corr = B + 2;
  s.dirCorr = direction ? B + 2 + m->effectCount : nullptr;
  return s;
}

// A kernel of the path: its body, told where to add, and where the sums of each form go.
// The serial form adds into the model; the threaded form into its worker's buffer, laid out
// as the frame folds it back. No kernel of the path fails.
struct PathKernel {
  void (*body)(VsfPassState*, QkPageDescriptor*, const Sinks&);
  Sinks (*buffer)(const VsfPassState*, double*);
};

template <const PathKernel& K> VsfStatus serialForm(VsfPassState* m, QkPageDescriptor* page) {
  K.body(m, page, modelSums(m));
  return VsfStatus::Ok;
}

template <const PathKernel& K>
VsfStatus threadedForm(VsfPassState* m, QkPageDescriptor* page, double* buffer) {
  K.body(m, page, K.buffer(m, buffer));
  return VsfStatus::Ok;
}

using Pass = VsfPassState;
using Page = QkPageDescriptor;

constexpr PathKernel kLarCorr{
    [](Pass* m, Page* page, const Sinks& s) { corrBody(m, page, s, true); },
    [](const Pass* m, double* B) { return residualBuffer(m, B, 3); }};
constexpr PathKernel kLarRss{
    [](Pass* m, Page* page, const Sinks& s) { corrBody(m, page, s, false); },
    [](const Pass* m, double* B) { return residualBuffer(m, B, 0); }};
constexpr PathKernel kLarRssAhead{
    [](Pass* m, Page* page, const Sinks& s) { aheadBody(m, page, s.aheadSse); },
    [](const Pass*, double* B) { return Sinks{.aheadSse = B}; }};
constexpr PathKernel kLarAvec{
    [](Pass* m, Page* page, const Sinks& s) { avecBody(m, page, s.dirCorr); },
    [](const Pass*, double* B) { return Sinks{.dirCorr = B}; }};
constexpr PathKernel kSasviCorrOut{
    [](Pass* m, Page* page, const Sinks& s) { sasviOutBody(m, page, s, false); },
    [](const Pass* m, double* B) { return screenBuffer(m, B, false); }};
constexpr PathKernel kSasviAvecOut{
    [](Pass* m, Page* page, const Sinks& s) { sasviAvecOutBody(m, page, s.dirCorr); },
    [](const Pass*, double* B) { return Sinks{.dirCorr = B}; }};
constexpr PathKernel kSasvi{
    [](Pass* m, Page* page, const Sinks& s) { sasviOutBody(m, page, s, true); },
    [](const Pass* m, double* B) { return screenBuffer(m, B, true); }};
constexpr PathKernel kCorr{
    [](Pass* m, Page* page, const Sinks& s) { plainCorrBody(m, page, s.corr); },
    [](const Pass*, double* B) { return Sinks{.corr = B}; }};

} // namespace

VsfStatus vsfLarCorr(VsfPassState* m, QkPageDescriptor* page) {
  return serialForm<kLarCorr>(m, page);
}
VsfStatus vsfLarCorr_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return threadedForm<kLarCorr>(m, page, buffer);
}
VsfStatus vsfLarRss(VsfPassState* m, QkPageDescriptor* page) {
  return serialForm<kLarRss>(m, page);
}
VsfStatus vsfLarRss_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return threadedForm<kLarRss>(m, page, buffer);
}
VsfStatus vsfLarRssAhead(VsfPassState* m, QkPageDescriptor* page) {
  return serialForm<kLarRssAhead>(m, page);
}
VsfStatus vsfLarRssAhead_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return threadedForm<kLarRssAhead>(m, page, buffer);
}
VsfStatus vsfLarAvec(VsfPassState* m, QkPageDescriptor* page) {
  return serialForm<kLarAvec>(m, page);
}
VsfStatus vsfLarAvec_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return threadedForm<kLarAvec>(m, page, buffer);
}
VsfStatus vsfLarSasviCorrOut(VsfPassState* m, QkPageDescriptor* page) {
  return serialForm<kSasviCorrOut>(m, page);
}
VsfStatus vsfLarSasviCorrOut_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return threadedForm<kSasviCorrOut>(m, page, buffer);
}
VsfStatus vsfLarSasviAvecOut(VsfPassState* m, QkPageDescriptor* page) {
  return serialForm<kSasviAvecOut>(m, page);
}
VsfStatus vsfLarSasviAvecOut_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return threadedForm<kSasviAvecOut>(m, page, buffer);
}
VsfStatus vsfLarSasvi(VsfPassState* m, QkPageDescriptor* page) {
  return serialForm<kSasvi>(m, page);
}
VsfStatus vsfLarSasvi_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return threadedForm<kSasvi>(m, page, buffer);
}
VsfStatus vsfCorr(VsfPassState* m, QkPageDescriptor* page) { return serialForm<kCorr>(m, page); }
VsfStatus vsfCorr_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return threadedForm<kCorr>(m, page, buffer);
}

static const VsfKernelRegistration regLarCorr(vsfLarCorr, vsfLarCorr_t, kVsfLarCorrUse);
static const VsfKernelRegistration regLarRss(vsfLarRss, vsfLarRss_t, kVsfLarRssUse);
static const VsfKernelRegistration regLarRssAhead(vsfLarRssAhead, vsfLarRssAhead_t,
                                                  kVsfLarRssAheadUse);
static const VsfKernelRegistration regLarAvec(vsfLarAvec, vsfLarAvec_t, kVsfLarAvecUse);
static const VsfKernelRegistration regSasviCorrOut(vsfLarSasviCorrOut, vsfLarSasviCorrOut_t,
                                                   kVsfLarSasviCorrOutUse);
static const VsfKernelRegistration regSasviAvecOut(vsfLarSasviAvecOut, vsfLarSasviAvecOut_t,
                                                   kVsfLarSasviAvecOutUse);
static const VsfKernelRegistration regSasvi(vsfLarSasvi, vsfLarSasvi_t, kVsfLarSasviUse);
static const VsfKernelRegistration regCorr(vsfCorr, vsfCorr_t, kVsfCorrUse);
