// Page transforms. The shift of the cross products rewrites every row; the others rewrite
// every row except, under resampling, a row whose multiplier (resample frequency for TRAIN
// rows, FREQ otherwise) is exactly 0, and each undo picks its rows by the same rule as its
// forward transform. A missing scale sets the value to 0, and the
// undo leaves such a value at 0.
#include "kernels/vsftransform.h"

#include "kernels/vsfrowwalk.h"
#include "support/hostif.h"
#include "support/scratcharena.h"
#include "support/vsfoptions.h"

#include <vector>

// The thread's scratch of the page transforms (support/scratcharena.h): the columns a page's
// call rewrites, listed afresh on every page.
struct VsfTransformScratch {
  std::vector<int32_t> effect, offset;
  std::vector<double> weight;
};
VsfTransformScratch& VsfScratchArena::transform() { return part(transform_); }

namespace {

[[nodiscard]] bool rewritten(const VsfRowShape& S, const VsfRowView& r) {
  if (!S.hasResample)
    return true;
  const double mult = r.role == VSF_ROLE_TRAIN ? r.rfreq : r.freq;
  return mult != 0.0;
}

double forward(double x, double mean, double scale, bool noint) {
  if (isHostMissing(scale))
    return 0.0;
  return noint ? x * scale : (x - mean) * scale;
}

double backward(double x, double mean, double scale, bool noint) {
  if (isHostMissing(scale) || !(scale > 0))
    return 0.0;
  return noint ? x / scale : x / scale + mean;
}

// byEffect: the single-column effects at their effect number; else every parameter p >= 1.
template <bool Undo> void standardize(VsfPassState* m, QkPageDescriptor* page, bool byEffect) {
  const VsfRowShape S = vsfRowShape(m);
  const bool noint = m->options != nullptr && m->options->noint != 0;
  const double ybar = m->sumWY;
  // The single-column effects stored dense, listed once a page: split values stay raw.
  VsfTransformScratch& scratch = VsfScratchArena::mine().transform();
  std::vector<int32_t>& effect = scratch.effect;
  std::vector<int32_t>& offset = scratch.offset;
  if (byEffect)
    vsfDenseEffects(m, effect, offset);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    if (!rewritten(S, r))
      return;
    if (!noint)
      r.y[0] = Undo ? r.y[0] + ybar : r.y[0] - ybar;
    double* dense = r.denseValues();
    auto one = [&](double& x, int32_t at) {
      const double mean = m->moments.columnSums[at], scale = m->moments.columnSumSquares[at];
      x = Undo ? backward(x, mean, scale, noint) : forward(x, mean, scale, noint);
    };
    if (byEffect) {
      for (size_t i = 0; i < effect.size(); ++i)
        if (effect[i] != 0)
          one(dense[offset[i]], effect[i]);
    } else {
      for (int32_t p = 1; p < m->parmCount; ++p)
        one(dense[p], p);
    }
  });
}

// The dense offsets and weights of the single-column effects (weight at the effect number).
void effectWeights(const VsfPassState* m, std::vector<int32_t>& offset,
                   std::vector<double>& weight) {
  for (int32_t e = 1; e < m->effectCount; ++e)
    if (const double a = m->adaptive.adaptiveWeight[e];
        !isHostMissing(a) && m->layout.denseOffset[e] >= 0) {
      offset.push_back(m->layout.denseOffset[e]);
      weight.push_back(a);
    }
}

// The dense offsets and weights of every parameter column of the effects past the intercept.
// A zero weight leaves its column as it is, so that the undo restores every column: the
// solver holds that parameter's coefficient at 0 instead.
void parameterWeights(const VsfPassState* m, std::vector<int32_t>& offset,
                      std::vector<double>& weight) {
  for (int32_t e = 1; e < m->effectCount; ++e) {
    if (m->layout.denseOffset[e] < 0)
      continue;
    for (int32_t q = 0; q < m->effectColumns[e]; ++q)
      if (const double a = m->adaptive.adaptiveWeight[m->parmOffset[e] + q];
          !isHostMissing(a) && a != 0) {
        offset.push_back(m->layout.denseOffset[e] + q);
        weight.push_back(a);
      }
  }
}

template <bool Undo> void adaptive(VsfPassState* m, QkPageDescriptor* page) {
  const VsfRowShape S = vsfRowShape(m);
  if (m->effectCount < 2 || m->adaptive.adaptiveWeight == nullptr)
    return;
  // The weighted columns stored dense, listed once a page: split levels stored sparse take
  // their weight in their scale (vsfSplitScale), and a row visits only its dense values.
  VsfTransformScratch& scratch = VsfScratchArena::mine().transform();
  std::vector<int32_t>& offset = scratch.offset;
  std::vector<double>& weight = scratch.weight;
  offset.clear();
  weight.clear();
  if (m->options != nullptr && m->options->parmStandardize)
    parameterWeights(m, offset, weight);
  else
    effectWeights(m, offset, weight);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    double* dense = r.denseValues();
    for (size_t i = 0; i < offset.size(); ++i) {
      double& x = dense[offset[i]];
      if (!Undo)
        x *= weight[i];
      else if (weight[i] > 0)
        x /= weight[i];
    }
  });
}

// Every row's response and dense values less the model's shift (0 leaves a column as it is).
void shiftRows(VsfPassState* m, QkPageDescriptor* page) {
  const VsfRowShape S = vsfRowShape(m);
  const double* shift = m->shift.xpxShift;
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    r.y[0] -= shift[0];
    double* dense = r.denseValues();
    for (int32_t e = 0; e < m->effectCount; ++e) {
      if (m->layout.sparseSlot[e] >= 0)
        continue;
      const double* c = shift + 1 + m->parmOffset[e];
      double* x = dense + m->layout.denseOffset[e];
      for (int32_t q = 0; q < m->effectColumns[e]; ++q)
        x[q] -= c[q];
    }
  });
}

} // namespace

VsfStatus vsfShiftRows(VsfPassState* m, QkPageDescriptor* page) {
  shiftRows(m, page);
  return VsfStatus::Ok;
}
VsfStatus vsfCenterScale(VsfPassState* m, QkPageDescriptor* page) {
  standardize<false>(m, page, true);
  return VsfStatus::Ok;
}
VsfStatus vsfCenterScale_t(VsfPassState* m, QkPageDescriptor* page, double*, int64_t) {
  return vsfCenterScale(m, page);
}
VsfStatus vsfUndoCenterScale(VsfPassState* m, QkPageDescriptor* page) {
  standardize<true>(m, page, true);
  return VsfStatus::Ok;
}
VsfStatus vsfUndoCenterScale_t(VsfPassState* m, QkPageDescriptor* page, double*, int64_t) {
  return vsfUndoCenterScale(m, page);
}
VsfStatus vsfCenterScaleEffect(VsfPassState* m, QkPageDescriptor* page) {
  standardize<false>(m, page, false);
  return VsfStatus::Ok;
}
VsfStatus vsfCenterScaleEffect_t(VsfPassState* m, QkPageDescriptor* page, double*, int64_t) {
  return vsfCenterScaleEffect(m, page);
}
VsfStatus vsfUndoCenterScaleEffect(VsfPassState* m, QkPageDescriptor* page) {
  standardize<true>(m, page, false);
  return VsfStatus::Ok;
}
VsfStatus vsfUndoCenterScaleEffect_t(VsfPassState* m, QkPageDescriptor* page, double*, int64_t) {
  return vsfUndoCenterScaleEffect(m, page);
}
VsfStatus vsfApplyAdaptiveWeights(VsfPassState* m, QkPageDescriptor* page) {
  adaptive<false>(m, page);
  return VsfStatus::Ok;
}
VsfStatus vsfApplyAdaptiveWeights_t(VsfPassState* m, QkPageDescriptor* page, double*, int64_t) {
  return vsfApplyAdaptiveWeights(m, page);
}
VsfStatus vsfUndoAdaptiveWeights(VsfPassState* m, QkPageDescriptor* page) {
  adaptive<true>(m, page);
  return VsfStatus::Ok;
}
VsfStatus vsfUndoAdaptiveWeights_t(VsfPassState* m, QkPageDescriptor* page, double*, int64_t) {
  return vsfUndoAdaptiveWeights(m, page);
}
