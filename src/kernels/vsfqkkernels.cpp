// The loss, gradient and validation kernels of the solver-based methods. Every pair shares one
// per-page body that adds into a set of targets: the serial form points them at the model, the
// threaded form at its buffer in the layout the frame folds back. The coefficients of the dense
// in-model effects are laid out over the row's dense values once per page, so that a row's
// prediction is one contiguous dot product; sparse effects add their stored values.
#include "kernels/vsfqkkernels.h"

#include "data/vsfthread.h"
#include "kernels/vsfkernelsums.h"
#include "kernels/vsfrowwalk.h"
#include "support/scratcharena.h"

#include <vector>

namespace {

struct Sinks {
  double *sse = nullptr, *corr = nullptr; // corr indexed by parameter
  double *validate = nullptr, *test = nullptr, *heldOut = nullptr;
};

// A run of parameters whose values lie contiguously among the row's dense values.
struct Span {
  int32_t parm, dense, count;
};

struct Terms {
  std::vector<double> coef;       // per dense value: the coefficient (0 outside the model)
  std::vector<int32_t> sparseIn;  // in-model sparse effects
  std::vector<Span> gradient;     // dense parameters whose gradient is formed
  std::vector<int32_t> sparseAll; // sparse effects whose gradient is formed

  void build(const VsfPassState* m, bool withGradient) {
    coef.assign(static_cast<size_t>(m->layout.denseColumnCount), 0.0);
    sparseIn.clear();
    gradient.clear();
    sparseAll.clear();
    for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
      const int32_t k = m->inModelList[p];
      if (m->layout.sparseSlot[k] >= 0) {
        sparseIn.push_back(k);
        continue;
      }
      for (int32_t q = 0; q < m->effectColumns[k]; ++q)
        coef[m->layout.denseOffset[k] + q] = m->pathPass.solverBeta[m->parmOffset[k] + q];
    }
    if (!withGradient)
      return;
    for (int32_t k = m->includeCount; k < m->effectCount; ++k) {
      const int32_t c = m->effectColumns[k];
      if (c == 0)
        continue;
      if (m->layout.sparseSlot[k] >= 0) {
        sparseAll.push_back(k);
        continue;
      }
      Span s{m->parmOffset[k], m->layout.denseOffset[k], c};
      if (!gradient.empty()) {
        Span& last = gradient.back();
        if (last.parm + last.count == s.parm && last.dense + last.count == s.dense) {
          last.count += c;
          continue;
        }
      }
      gradient.push_back(s);
    }
  }

  // x'b - y of the row.
  double error(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r) const {
    double e = vsfDot(coef.data(), r.denseValues(), static_cast<int64_t>(coef.size())) - r.y[0];
    for (int32_t k : sparseIn) {
      const int32_t s = m->layout.sparseSlot[k], end = r.slotEnd(S, s);
      for (int32_t v = r.slotBegin(S, s); v < end; ++v)
        e += m->pathPass.solverBeta[m->parmOffset[k] + r.storedIndex(S, v)] * r.sparseValues[v];
    }
    return e;
  }

  void addGradient(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r, double g,
                   double* corr) const {
    const double* x = r.denseValues();
    for (const Span& s : gradient) {
      double* c = corr + s.parm;
      const double* v = x + s.dense;
      for (int32_t q = 0; q < s.count; ++q)
        c[q] += g * v[q];
    }
    for (int32_t k : sparseAll) {
      const int32_t s = m->layout.sparseSlot[k], end = r.slotEnd(S, s);
      for (int32_t v = r.slotBegin(S, s); v < end; ++v)
        corr[m->parmOffset[k] + r.storedIndex(S, v)] += g * r.sparseValues[v];
    }
  }
};

} // namespace

// The thread's scratch of the solver kernels (support/scratcharena.h): the terms, laid out
// afresh on every page.
struct VsfQkScratch {
  Terms terms;
};
VsfQkScratch& VsfScratchArena::qk() { return part(qk_); }

namespace {

void lossBody(VsfPassState* m, QkPageDescriptor* page, const Sinks& out, bool withGradient) {
  const VsfRowShape S = vsfRowShape(m);
  Terms& T = VsfScratchArena::mine().qk().terms;
  T.build(m, withGradient);
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double mult) {
    const double e = T.error(m, S, r);
    *out.sse += mult * e * e;
    if (withGradient)
      T.addGradient(m, S, r, mult * e, out.corr);
  });
}

void validateBody(VsfPassState* m, QkPageDescriptor* page, const Sinks& out) {
  const VsfRowShape S = vsfRowShape(m);
  Terms& T = VsfScratchArena::mine().qk().terms;
  T.build(m, false);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    double* into = nullptr;
    double mult = r.weight * r.freq;
    if (r.role == VSF_ROLE_VALIDATE) {
      into = out.validate;
    } else if (r.role == VSF_ROLE_TEST) {
      into = out.test;
    } else if (r.role == VSF_ROLE_TRAIN && S.xcv && r.fold == m->cvexPass.heldOutFold) {
      into = out.heldOut;
      if (S.hasResample)
        mult = r.weight * r.rfreq;
    }
    if (into == nullptr || mult == 0.0)
      return;
    const double e = T.error(m, S, r);
    *into += mult * e * e;
  });
}

} // namespace

VsfStatus vsfFunValue(VsfPassState* m, QkPageDescriptor* page) {
  Sinks s;
  s.sse = &m->sse;
  lossBody(m, page, s, false);
  return VsfStatus::Ok;
}
VsfStatus vsfFunValue_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  Sinks s;
  s.sse = buffer;
  lossBody(m, page, s, false);
  return VsfStatus::Ok;
}

VsfStatus vsfGradient(VsfPassState* m, QkPageDescriptor* page) {
  Sinks s;
  s.sse = &m->sse;
  s.corr = m->pathPass.corr;
  lossBody(m, page, s, true);
  return VsfStatus::Ok;
}
VsfStatus vsfGradient_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  Sinks s;
  s.sse = buffer;
  s.corr = buffer + 1;
  lossBody(m, page, s, true);
  return VsfStatus::Ok;
}

VsfStatus vsfValidateTest(VsfPassState* m, QkPageDescriptor* page) {
  Sinks s;
  s.validate = &m->validateAse;
  s.test = &m->testAse;
  s.heldOut = &m->cvexPass.heldOutError;
  validateBody(m, page, s);
  return VsfStatus::Ok;
}
VsfStatus vsfValidateTest_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  // Without external folds the held-out sum is never reached; it still needs a place.
  double spare = 0;
  Sinks s;
  s.validate = buffer;
  s.test = buffer + 1;
  s.heldOut = vsfRowShape(m).xcv ? buffer + 2 : &spare;
  validateBody(m, page, s);
  return VsfStatus::Ok;
}

static const VsfKernelRegistration regFunValue(vsfFunValue, vsfFunValue_t, kVsfFunValueUse);
static const VsfKernelRegistration regGradient(vsfGradient, vsfGradient_t, kVsfGradientUse);
static const VsfKernelRegistration regValidateTest(vsfValidateTest, vsfValidateTest_t,
                                                   kVsfValidateTestUse);
