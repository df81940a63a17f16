// The plain fit road: vsfModelInit, then vsfProcessModel with its data passes (cross
// products formed in full or on demand), the full model first for BACKWARD and the CP and
// BIC criteria, the forced steps, and the dispatch to the classic methods and the least-angle
// path and the solvers (on centred and scaled pages, adaptively weighted when asked), and the
// model-averaging road over resamples. Options that no MODEL statement makes (a method code
// without its traits, a penalized method whose switches leave the pages unstandardized) end
// the fit with VsfMsg::RoadFitNotAvailable and a failure code.
#include "selection/vsfprocess.h"

#include "data/vsfdata.h"
#include "data/vsfthread.h"
#include "kernels/vsfkernels.h"
#include "kernels/vsfmoments.h"
#include "kernels/vsfresfreq.h"
#include "kernels/vsftransform.h"
#include "kernels/vsfxpx.h"
#include "model/vsfadaptive.h"
#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "model/vsfmemplan.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfshift.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "selection/vsfclassic.h"
#include "selection/vsfcv.h"
#include "selection/vsfcvex.h"
#include "selection/vsfcvexroad.h"
#include "selection/vsfelnet.h"
#include "selection/vsflarlasso.h"
#include "selection/vsfqklasso.h"
#include "selection/vsfresample.h"
#include "selection/vsfscreen.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/notbuilt.h"
#include "support/stepcodes.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using packed::diag;
using packed::tri;

// True when SELECT=, STOP= or CHOOSE= asks for a criterion worked out from `data`.
[[nodiscard]] bool asks(const VsfModelOptions* o, VsfCriterionData data) {
  return vsfCriterionAsked(*o, [data](VsfCriterion c) { return vsfCriterion(c).data == data; });
}

// A data pass: a failing pass ends the fit with its code (the sums are partial).
[[nodiscard]] VsfStatus pass(VsfModel* m, VsfSerialKernel serial, VsfThreadedKernel threaded,
                             int64_t length) {
  VsfStatus rc = vsfDataPass(m, serial, threaded, length);
  if (rc != VsfStatus::Ok)
    vsfSetFitFailure(m, rc);
  return rc;
}

[[nodiscard]] VsfStatus fail(VsfModel* m, VsfStatus rc) {
  vsfSetFitFailure(m, rc);
  return rc;
}

// Whether the fit ended because the structured road lost the intercept or a column the
// packed road keeps (InterceptLost or FitLostToLevels from a pass or kept as the fit's failure).
[[nodiscard]] bool lostToLevels(const VsfModel* m, VsfStatus rc) {
  const auto lost = [](VsfStatus s) {
    return s == VsfStatus::InterceptLost || s == VsfStatus::FitLostToLevels;
  };
  return lost(rc) ||
         (rc == VsfStatus::Ok && m->fitStatus == VsfFitStatus::Failed && lost(m->fitFailure));
}

// The BY group's fit after the structured road lost the intercept or a column the packed
// road keeps (the latter only where the packed triangle fits). Where the packed triangle of
// every column fits the memory plan, the group is fitted again from the start on that
// triangle, which holds the pivot: the same pages, and the fit a run that took the packed
// road from the start makes. Otherwise the intercept's loss is reported and the fit fails as
// before.
[[nodiscard]] VsfStatus refitOnPackedTriangle(VsfModel* m, VsfStatus rc) {
  const auto columns = static_cast<int64_t>(m->structured->columns);
  if (!vsfPackedTriangleFits(m)) {
    vsfLog(VsfMsg::InterceptLostToLevels, {HostMsgArg(columns)});
    if (m->fitFailure == VsfStatus::InterceptLost)
      m->fitFailure = VsfStatus::ReportedFailure;
    return rc == VsfStatus::InterceptLost ? VsfStatus::ReportedFailure : rc;
  }
  const bool fit = rc == VsfStatus::FitLostToLevels || m->fitFailure == VsfStatus::FitLostToLevels;
  vsfLog(fit ? VsfMsg::FitRefitOnPackedTriangle : VsfMsg::GroupRefitOnPackedTriangle,
         {HostMsgArg(columns)});
  vsfModelByFree(m);
  m->packedOnly = 1;
  rc = vsfModelInit(m);
  if (rc == VsfStatus::Ok)
    rc = vsfProcessModel(m);
  m->packedOnly = 0;
  return rc;
}

[[nodiscard]] bool refuseFit(VsfModel* m, VsfStatus* rc);
[[nodiscard]] bool spreadsRefuseFit(VsfModel* m, VsfStatus* rc);
[[nodiscard]] VsfStatus drawSample(VsfModel* m);
[[nodiscard]] VsfStatus sampleMoments(VsfModel* m);
[[nodiscard]] VsfStatus sampleSquares(VsfModel* m);
[[nodiscard]] VsfStatus foldMoments(VsfModel* m, bool* emptyFold);
[[nodiscard]] VsfStatus foldSumsOfSquares(VsfModel* m);
[[nodiscard]] VsfStatus sampleStatistics(VsfModel* m);
[[nodiscard]] VsfStatus transformPages(VsfModel* m, bool* centred, bool* weighted);
[[nodiscard]] VsfStatus undoTransforms(VsfModel* m, bool centred, bool weighted);
[[nodiscard]] VsfStatus fitOnPages(VsfModel* m, int32_t start);

} // namespace

VsfStatus vsfProcess(VsfModel* model, VsfResampling* resampling) {
  const VsfModelOptions* o = model->options;
  if (o->modelAverage && resampling == nullptr)
    return statusFromCode(
        vsfNotBuiltInternal("vsfProcess: model averaging without its resamplers"));
  if (o->modelAverage) {
    const VsfStatus rc = vsfDriveResample(resampling, model);
    model->resampler = nullptr;
    return rc;
  }
  const bool elasticNet = vsfMethodRidge(o->method);
  if (o->cvExternal) {
    // External cross validation runs the least-angle path or the group LASSO; the front end
    // refuses it for the other methods.
    if (!vsfMethodHasPath(o->method))
      return statusFromCode(
          vsfNotBuiltInternal("vsfProcess: external cross validation of this method"));
    return vsfDriveCVExternal(model);
  }
  if (elasticNet)
    return vsfDriveElasticNet(model);
  VsfStatus rc = vsfModelInit(model);
  if (rc != VsfStatus::Ok)
    return rc;
  rc = vsfProcessModel(model);
  return lostToLevels(model, rc) ? refitOnPackedTriangle(model, rc) : rc;
}

VsfStatus vsfProcessModel(VsfModel* model) {
  VsfModel* m = model;
  const VsfModelOptions* o = m->options;
  vsfRegisterKernels();
  const int32_t start = o->noint ? 1 : 0;

  // Pages that an earlier fit of the road left centred count as centred here.
  const bool standardized = o->colStandardize || o->parmStandardize;
  bool centred = standardized && !o->transformPages, weighted = false;
  VsfStatus rc = m->resampler != nullptr ? drawSample(m) : VsfStatus::Ok;
  if (rc != VsfStatus::Ok)
    return rc;
  bool emptyFold = false;
  if (!refuseFit(m, &rc) &&
      (m->resampler == nullptr || (rc = sampleStatistics(m)) == VsfStatus::Ok) &&
      (rc = foldMoments(m, &emptyFold)) == VsfStatus::Ok && !emptyFold &&
      !spreadsRefuseFit(m, &rc)) {
    if (standardized)
      rc = transformPages(m, &centred, &weighted);
    if (rc == VsfStatus::Ok && (rc = foldSumsOfSquares(m)) == VsfStatus::Ok)
      rc = fitOnPages(m, start);
    // Centring left to a pass that did not run, or failed part-way, is nothing to undo.
    if (m->shift.xpxPagePrep == VXP_CENTRE)
      centred = false;
    m->shift.xpxPagePrep = VXP_NONE;
  }
  // The pages go back to the data on every road once they were transformed, also when the
  // fit failed or ended without a usable model.
  if (standardized && (o->restorePages || m->resampler != nullptr)) {
    const VsfStatus undo = undoTransforms(m, centred, weighted);
    if (rc == VsfStatus::Ok)
      rc = undo;
  }
  // The held-out fold's rows go back to the training totals.
  if (o->cvExternal && o->transformPages && m->cvexPass.heldOutFold != m->cv.foldCount &&
      !emptyFold) {
    m->totals.wTrain += m->totals.wValidate;
    m->totals.nObs += m->totals.freqValidate;
  }
  return rc;
}

namespace {

// The first pass of a resample's fit: the sample's frequencies, which every later pass of
// the fit weights the rows by; the sample's totals replace the data's.
[[nodiscard]] VsfStatus drawSample(VsfModel* m) {
  VsfResampler* r = m->resampler;
  const VsfResampleSettings* s = r->settings;
  r->freqStart = r->freqScratchPos;
  if (s->subsample) {
    r->poolLeft = r->savedNObs;
    r->neededLeft = s->size != 0.0 ? s->size : std::floor(s->fraction * r->poolLeft);
  }
  VsfStatus rc = pass(m, vsfResampleFreqs, vsfResampleFreqs_t, 0);
  if (rc != VsfStatus::Ok)
    return rc;
  r->freqEnd = r->freqScratchPos;
  m->totals.nObs = r->drawnTotal;
  m->totals.nTrain = r->copiesSeen;
  m->totals.wTrain = r->sampleWeight;
  return VsfStatus::Ok;
}

// Parameter p's mean, scale and spread state from its raw sums over W (frequency total F),
// in place.
void rawColumnMoments(VsfModel* m, int32_t p, double W, double F) {
  uint8_t state = VSS_RESOLVED;
  vsfColumnMoments(m->moments.columnSums[p], m->moments.columnSumSquares[p], W, F,
                   m->options->noint != 0, &m->moments.columnSums[p],
                   &m->moments.columnSumSquares[p], &state);
  if (m->moments.spreadState != nullptr)
    m->moments.spreadState[p] = state;
}

// The sample's column means and scales and its response mean. On shifted pages the sums
// are about the shift, which is added back to the means (the scales do not change).
[[nodiscard]] VsfStatus sampleMoments(VsfModel* m) {
  const int32_t P = m->parmCount;
  const double W = m->totals.wTrain;
  // Under NOSTANDARDIZE the means stay 0 and the scales 1, as for the data.
  if (m->dataSettings != nullptr && m->dataSettings->noStandardize)
    return VsfStatus::Ok;
  if (!(W > 0.0)) {
    std::fill(m->moments.columnSums, m->moments.columnSums + P, hostMissing());
    std::fill(m->moments.columnSumSquares, m->moments.columnSumSquares + P, hostMissing());
    m->sumWY = hostMissing();
    return VsfStatus::Ok;
  }
  m->sumWY = 0.0;
  std::fill(m->moments.columnSums, m->moments.columnSums + P, 0.0);
  std::fill(m->moments.columnSumSquares, m->moments.columnSumSquares + P, 0.0);
  if (VsfStatus rc = pass(m, vsfMoments, vsfMoments_t, 0); rc != VsfStatus::Ok)
    return rc;
  const bool shifted = m->shift.pagesShifted && m->shift.xpxShift != nullptr;
  for (int32_t p = 0; p < P; ++p) {
    rawColumnMoments(m, p, W, m->totals.nObs);
    if (shifted)
      m->moments.columnSums[p] += m->shift.xpxShift[1 + p];
  }
  m->sumWY = m->sumWY / W + (shifted ? m->shift.xpxShift[0] : 0.0);
  return VsfStatus::Ok;
}

// The sample's sums of squares of the response and the columns (about the shift on shifted
// pages), and its uncorrected response sum of squares.
[[nodiscard]] VsfStatus sampleSquares(VsfModel* m) {
  m->sumWYY = 0.0;
  std::fill(m->moments.columnSquareSums, m->moments.columnSquareSums + m->parmCount, 0.0);
  if (VsfStatus rc = pass(m, vsfYpwY, vsfYpwY_t, 0); rc != VsfStatus::Ok)
    return rc;
  if (m->shift.pagesShifted && m->shift.xpxShift != nullptr) {
    const double s = m->shift.xpxShift[0], W = m->totals.wTrain;
    m->rawSumWYY = m->sumWYY + 2.0 * s * W * (m->sumWY - s) + s * s * W;
  }
  return VsfStatus::Ok;
}

// The sample's moments; on pages that are centred (and scaled) for the fit, by single
// columns or by every parameter column, also its sums of squares, taken before the transform
// so that they are raw sums as the reading pass's are (the fit corrects them by the sample's
// mean itself). Unshifted pages are left as read.
[[nodiscard]] VsfStatus sampleStatistics(VsfModel* m) {
  VsfStatus rc = sampleMoments(m);
  if (rc == VsfStatus::Ok && (m->options->colStandardize || m->options->parmStandardize))
    rc = sampleSquares(m);
  return rc;
}

// The conditions under which the fit does not run: true with *rc Ok and the fit status set,
// or with *rc a failure code; false when the fit goes on.
[[nodiscard]] bool refuseFit(VsfModel* m, VsfStatus* rc) {
  const VsfModelOptions* o = m->options;
  if (m->totals.nObs == 0) {
    m->fitStatus = VsfFitStatus::NoTrain;
    return true;
  }
  if (m->totals.freqValidate == 0 && asks(o, VsfCriterionData::Validation)) {
    m->fitStatus = VsfFitStatus::NoValidation;
    return true;
  }
  // A fold's refit needs training rows: those of the other folds.
  if ((o->cvOn || o->cvExternal) && m->cv.foldsHeld < 2) {
    m->fitStatus = VsfFitStatus::SingleFold;
    return true;
  }
  if (o->cvExternal && static_cast<double>(m->cv.foldCount) > m->totals.nObs) {
    m->fitStatus = VsfFitStatus::TooManyFolds;
    return true;
  }
  const VsfMethodTraits* method = vsfMethodTraits(o->method);
  if (method == nullptr) {
    *rc = fail(m, statusFromCode(vsfNotBuilt("the penalized selection methods")));
    return true;
  }
  // The path's arrays exist only for fits on centred and scaled columns.
  const bool penalized =
      method->family == VsfMethodFamily::LeastAngle || method->family == VsfMethodFamily::Solver;
  if (penalized && !o->colStandardize && !o->parmStandardize) {
    *rc = fail(m, statusFromCode(vsfNotBuilt("unstandardized least-angle path")));
    return true;
  }
  return false;
}

// Under external cross validation every fit standardises with the moments of its own
// training rows: the TRAIN rows outside the held-out fold (all of them in the final fit).
// The pass also counts the held-out rows (in the final fit the VALIDATE rows) into
// wValidate and freqValidate. A fold whose training part is empty is not fitted.
[[nodiscard]] VsfStatus foldMoments(VsfModel* m, bool* emptyFold) {
  const VsfModelOptions* o = m->options;
  if (!o->cvExternal || !o->transformPages || !(m->totals.wTrain > 0))
    return VsfStatus::Ok;
  if (m->cvexPass.cvexSums != nullptr) {
    vsfCVExFoldMoments(m, emptyFold);
    return VsfStatus::Ok;
  }
  m->totals.wTrain = m->totals.nObs = m->totals.wValidate = m->totals.freqValidate = 0;
  m->sumWY = 0;
  std::fill(m->moments.columnSums, m->moments.columnSums + m->parmCount, 0.0);
  std::fill(m->moments.columnSumSquares, m->moments.columnSumSquares + m->parmCount, 0.0);
  VsfStatus rc = pass(m, vsfMoments, vsfMoments_t, 0);
  if (rc != VsfStatus::Ok)
    return rc;
  const double W = m->totals.wTrain, N = m->totals.nObs;
  if (W == 0 && m->cvexPass.heldOutFold != m->cv.foldCount) {
    m->totals.wTrain += m->totals.wValidate;
    m->totals.nObs += m->totals.freqValidate;
    *emptyFold = true;
    return VsfStatus::Ok;
  }
  for (int32_t p = 0; p < m->parmCount; ++p)
    rawColumnMoments(m, p, W, N);
  m->sumWY /= W;
  return VsfStatus::Ok;
}

// Where the raw sums leave a column's spread unresolved (a mean large against its spread),
// its mean and scale are formed again from sums about that mean, in a pass of their own, so
// that the column is constant only when its values are. A sum of squares beyond the largest
// double ends a standardized fit with the fit status set (*rc Ok), as the cross products end
// the others. True when the fit does not go on (else with *rc a failing pass's status).
[[nodiscard]] bool spreadsRefuseFit(VsfModel* m, VsfStatus* rc) {
  const VsfModelOptions* o = m->options;
  uint8_t* state = m->moments.spreadState;
  const bool standardized = o->colStandardize || o->parmStandardize;
  // Pages an earlier fit left centred were resolved by that fit.
  if (state == nullptr || (standardized && !o->transformPages))
    return false;
  bool pending = false;
  // Sparse columns are raw codes and basis values, mostly 0; one far from its mean (an
  // ordinal level that all rows but a light few hold) is formed again like a dense one.
  std::vector<int32_t> farSparse;
  for (int32_t e = 1; e < m->effectCount; ++e)
    for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
      const int32_t p = m->parmOffset[e] + q;
      if (state[p] == VSS_OVERFLOW && standardized) {
        m->fitStatus = VsfFitStatus::Overflow;
        m->overflowEffect = e;
        return true;
      }
      if (state[p] != VSS_ABOUT_MEAN)
        state[p] = VSS_RESOLVED;
      else if (m->layout.sparseSlot[e] < 0)
        pending = true;
      else
        farSparse.insert(farSparse.end(), {e, q});
    }
  if (!pending && farSparse.empty())
    return false;
  const int32_t P = m->parmCount;
  std::fill(m->moments.spreadSums, m->moments.spreadSums + 2 * P, 0.0);
  m->moments.farSparse = farSparse.data();
  m->moments.farSparseCount = static_cast<int32_t>(farSparse.size() / 2);
  *rc = pass(m, vsfSpreads, vsfSpreads_t, 0);
  m->moments.farSparse = nullptr;
  m->moments.farSparseCount = 0;
  if (*rc != VsfStatus::Ok)
    return true;
  for (int32_t p = 1; p < P; ++p)
    if (state[p] == VSS_ABOUT_MEAN) {
      vsfColumnMomentsAbout(m->moments.columnSums[p], m->moments.spreadSums[p],
                            m->moments.spreadSums[P + p], m->totals.wTrain, m->totals.nObs,
                            &m->moments.columnSums[p], &m->moments.columnSumSquares[p]);
      state[p] = VSS_RESOLVED;
    }
  return false;
}

// Under external cross validation the sums of squares of the fit's training rows, on the
// standardised pages (so the response's is already about its mean).
[[nodiscard]] VsfStatus foldSumsOfSquares(VsfModel* m) {
  if (!m->options->cvExternal || !m->options->transformPages)
    return VsfStatus::Ok;
  if (m->cvexPass.cvexSums != nullptr) {
    vsfCVExSquareSums(m);
    return VsfStatus::Ok;
  }
  m->sumWYY = 0;
  std::fill(m->moments.columnSquareSums, m->moments.columnSquareSums + m->parmCount, 0.0);
  return pass(m, vsfYpwY, vsfYpwY_t, 0);
}

// The response's sum of squares about its mean on the centred pages of a standardized fit,
// into xpx[0], from the raw sums; where they cancel too far (a response far from zero with a
// small spread, whose raw sums keep none of its digits), summed again from the centred pages
// in a pass of their own.
[[nodiscard]] VsfStatus centredResponseSquares(VsfModel* m) {
  const double W = m->totals.wTrain, mean = m->sumWY;
  if (vsfSpreadState(W * mean, m->xpx[0], W, m->totals.nObs, false) != VSS_ABOUT_MEAN) {
    m->xpx[0] -= W * mean * mean;
    return VsfStatus::Ok;
  }
  const double raw = m->sumWYY;
  m->sumWYY = 0.0;
  m->shift.responseCentre = 0.0;
  const VsfStatus rc = pass(m, vsfResponseSquares, vsfResponseSquares_t, 0);
  m->xpx[0] = m->sumWYY;
  m->sumWYY = raw;
  return rc;
}

// Whether the centring and scaling of the pages, or their shift, can wait for the pass that
// forms the full X'X: when no pass between them reads the pages (adaptive weights, the
// held-out sums of external cross validation, fold counts, resampling, safe screening's sums
// of squares) and the X'X is formed from the rows, not copied from an L2 search's earlier
// trial.
[[nodiscard]] bool prepareWithCrossProducts(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return vsfFullXpxOn(m) && !o->adaptive && !o->cvExternal && !vsfCvFoldStatsAsked(*o) &&
         m->resampler == nullptr && o->screen < VsfScreenMethod::Sasvi &&
         m->elnet.l2BaseXpx == nullptr && m->cv.foldCount == 0;
}

// The pass that centres and scales the pages: where no adaptive weights follow, it is their
// last rewrite before the cross products.
[[nodiscard]] VsfStatus centrePages(VsfModel* m) {
  if (m->options->adaptive)
    return vsfDataPass(m, vsfCenterScale, vsfCenterScale_t, 0);
  return vsfCVRewritePages(m, vsfCenterScale, vsfCenterScale_t, vsfCenterScaleFoldMeans,
                           vsfCenterScaleFoldMeans_t);
}

// The adaptive weights of the centred and scaled pages (from INEST= or from the full
// least-squares fit), multiplied into their columns.
[[nodiscard]] VsfStatus weightPages(VsfModel* m, bool* centred, bool* weighted) {
  // A positive result names a weight that could not be formed, a negative one a failure.
  const int32_t weights =
      m->options->adaptiveInest ? vsfInEstAdaptiveWeights(m) : vsfLSAdaptiveWeights(m);
  VsfStatus rc = statusFromCode(weights);
  if (weights > 0) {
    // A weight that cannot be formed would leave its column unweighted.
    vsfLog(VsfMsg::AdaptiveWeightNotComputed, {HostMsgArg(static_cast<int64_t>(weights))});
    rc = VsfStatus::AdaptiveWeightFailed;
  }
  if (rc != VsfStatus::Ok)
    return fail(m, rc);
  // The weights are the pages' last rewrite before the cross products.
  if ((rc = vsfCVRewritePages(m, vsfApplyAdaptiveWeights, vsfApplyAdaptiveWeights_t,
                              vsfAdaptiveWeightsFoldMeans, vsfAdaptiveWeightsFoldMeans_t)) !=
      VsfStatus::Ok) {
    vsfSetFitFailure(m, rc);
    *centred = false; // some pages are weighted, others not: nothing can be undone
    return rc;
  }
  *weighted = true;
  m->adaptive.splitWeighted = 1;
  return VsfStatus::Ok;
}

[[nodiscard]] VsfStatus transformPages(VsfModel* m, bool* centred, bool* weighted) {
  const VsfModelOptions* o = m->options;
  VsfStatus rc;
  if (!o->noint)
    m->effectStatus[0] = VES_INTERCEPT;
  if (o->parmStandardize) {
    // The group solvers work on centred and scaled parameter columns (and, when adaptive, on
    // columns multiplied by their weights); an effect with a constant column cannot take part.
    for (int32_t k = 1; k < m->effectCount; ++k)
      for (int32_t q = 0; q < m->effectColumns[k]; ++q)
        if (isHostMissing(m->moments.columnSumSquares[m->parmOffset[k] + q]))
          m->effectStatus[k] = VES_UNAVAILABLE;
    if (o->transformPages &&
        (rc = pass(m, vsfCenterScaleEffect, vsfCenterScaleEffect_t, 0)) != VsfStatus::Ok)
      return rc;
    *centred = true;
    return o->adaptive ? weightPages(m, centred, weighted) : VsfStatus::Ok;
  }
  // The path methods work on centred and scaled single-column effects.
  for (int32_t k = 1; k < m->effectCount; ++k)
    if (isHostMissing(m->moments.columnSumSquares[k]))
      m->effectStatus[k] = VES_UNAVAILABLE;
  // Without transformPages an earlier fit of the same road left the pages centred. Where the
  // next pass forms the full X'X, that pass centres the rows it reads. A fold fit over the
  // folds' cross products leaves the pages as they are.
  m->shift.xpxPagePrep = VXP_NONE;
  if (m->cvexPass.cvexSums != nullptr)
    return VsfStatus::Ok;
  if (o->transformPages && prepareWithCrossProducts(m))
    m->shift.xpxPagePrep = VXP_CENTRE;
  else if (o->transformPages && (rc = centrePages(m)) != VsfStatus::Ok)
    return fail(m, rc);
  *centred = true;
  return o->adaptive ? weightPages(m, centred, weighted) : VsfStatus::Ok;
}

// Undoes the transforms that completed, in the reverse order: the adaptive weights, then the
// centring and scaling. A transform that failed part-way is left as it is: its pages hold
// partial results that no undo can tell apart.
[[nodiscard]] VsfStatus undoTransforms(VsfModel* m, bool centred, bool weighted) {
  VsfStatus rc;
  if (weighted &&
      (rc = pass(m, vsfUndoAdaptiveWeights, vsfUndoAdaptiveWeights_t, 0)) != VsfStatus::Ok)
    return rc;
  m->adaptive.splitWeighted = 0;
  if (centred && m->options->parmStandardize)
    return pass(m, vsfUndoCenterScaleEffect, vsfUndoCenterScaleEffect_t, 0);
  if (centred && (rc = pass(m, vsfUndoCenterScale, vsfUndoCenterScale_t, 0)) != VsfStatus::Ok)
    return rc;
  return VsfStatus::Ok;
}

// Enters the full model; BACKWARD keeps it, the other methods note its variance and empty
// the model again. Returns a failure, or Ok (with VsfFitStatus::ZeroFullMse in fitStatus when the
// criteria need a variance that the full model cannot give).
[[nodiscard]] VsfStatus fullModelFirst(VsfModel* m, int32_t start, bool full) {
  const VsfModelOptions* o = m->options;
  VsfStatus rc;
  auto enter = [&](int32_t k) -> VsfStatus {
    VsfStatus r = vsfAddEffect(m, k, 0, 0);
    if (r == VsfStatus::Ok && k == 0)
      m->totalSS = m->sweptXpx[0];
    return r;
  };
  if (vsfMethodStartsFull(o->method)) {
    bool complete = false;
    while (!complete) {
      complete = true;
      bool progress = false;
      for (int32_t k = start; k < m->effectCount; ++k) {
        if (m->effectStatus[k] != VES_CANDIDATE)
          continue;
        if (m->hier.hierAddCount == nullptr || m->hier.hierAddCount[k] == 0) {
          if ((rc = enter(k)) != VsfStatus::Ok)
            return fail(m, rc);
          progress = true;
        } else {
          complete = false;
        }
      }
      // Counts that can never reach 0 would repeat the passes for ever.
      if (!progress)
        break;
    }
  } else {
    for (int32_t k = start; k < m->effectCount; ++k)
      if ((rc = enter(k)) != VsfStatus::Ok)
        return fail(m, rc);
  }
  // The full model's error SS sets the variance of C(p) and BIC at every step: a nearly
  // dependent full model (or, without an intercept, a response far from 0) is refined on its
  // rows as any step is, on every road. BACKWARD keeps it as its first step, refined when
  // that step is recorded, and takes the variance again from that record (vsfRecordStep). The
  // inflation noted stays with this matrix only.
  const double rounding = m->roundingSS;
  if (vsfFarFromOrigin(m) || !vsfMethodStartsFull(o->method)) {
    const double inflation = m->sweptInflation;
    if ((rc = vsfRefineStep(m)) != VsfStatus::Ok)
      return fail(m, rc);
    if (!vsfMethodStartsFull(o->method))
      m->sweptInflation = inflation;
  }
  const double s0 = m->sweptXpx[0];
  m->sse = s0 < 0 ? 0.0 : s0;
  vsfSetFullMse(m);
  // The rounding bound the refinement gave is the full model's error SS's only: each step
  // refined on its rows sets its own.
  m->roundingSS = rounding;
  if (m->fullMse == 0.0 && asks(o, VsfCriterionData::FullModelScale)) {
    m->fitStatus = VsfFitStatus::ZeroFullMse;
    return VsfStatus::Ok;
  }
  if (vsfMethodStartsFull(o->method)) {
    for (int32_t k = 1; k < start + m->includeCount; ++k)
      m->effectStatus[k] = VES_FORCED;
  } else {
    vsfCopyTriangle(m, m->sweptXpx, m->xpx, m->xpxColumns);
    std::memset(m->sweepFlags, '0', static_cast<size_t>(m->xpxColumns));
    for (int32_t k = 0; k < m->effectCount; ++k)
      if (m->effectStatus[k] != VES_UNAVAILABLE)
        m->effectStatus[k] = VES_CANDIDATE;
    std::memset(m->inModelList, 0, sizeof(int32_t) * m->effectCount);
    if (m->hier.hierarchy && m->hier.hierAddCountInit != nullptr &&
        m->hier.hierAddCount != nullptr) {
      std::memcpy(m->hier.hierAddCount, m->hier.hierAddCountInit, sizeof(int32_t) * m->effectCount);
      std::memcpy(m->hier.hierDropCount, m->hier.hierDropCountInit,
                  sizeof(int32_t) * m->effectCount);
    }
    m->inModelCount = 0;
    m->rank = 0;
    // A matrix grown on demand holds the full model's columns now: only the response
    // stays, so that the effects enter again from column 1.
    if (!full) {
      m->xpxColumns = 1;
      m->sweptXpx[0] = m->xpx[0];
    }
    vsfCVEmptyFolds(m, full);
    vsfStructuredEmpty(m);
  }
  m->effectStatus[0] = o->noint ? VES_UNAVAILABLE : VES_INTERCEPT;
  return VsfStatus::Ok;
}

// The full X'X before any ridge: from a data pass, or from the copy that an L2 search keeps
// for its trials (the pages do not change between them).
[[nodiscard]] VsfStatus fullCrossProducts(VsfModel* m) {
  const int64_t length = tri(m->xpxColumns);
  if (m->cvexPass.cvexSums != nullptr) {
    vsfCVExCrossProducts(m);
    return VsfStatus::Ok;
  }
  if (m->elnet.l2BaseXpx != nullptr && m->elnet.l2BaseReady) {
    std::memcpy(m->xpx, m->elnet.l2BaseXpx, sizeof(double) * length);
    return VsfStatus::Ok;
  }
  VsfStatus rc;
  switch (m->shift.xpxPagePrep) {
  case VXP_CENTRE:
    if ((rc = pass(m, vsfCenterScaleXpX, vsfCenterScaleXpX_t, 0)) == VsfStatus::Ok)
      m->shift.xpxPagePrep = VXP_DONE;
    break;
  case VXP_SHIFT:
    // A failing shift ends the fit, as when it has a pass of its own.
    if ((rc = vsfShiftPagesWithCrossProducts(m)) != VsfStatus::Ok)
      return fail(m, rc);
    break;
  default:
    rc = pass(m, vsfFullXpX, vsfFullXpX_t, 0);
    break;
  }
  if (rc == VsfStatus::Ok && m->elnet.l2BaseXpx != nullptr) {
    std::memcpy(m->elnet.l2BaseXpx, m->xpx, sizeof(double) * length);
    m->elnet.l2BaseReady = 1;
  }
  return rc;
}

// The elastic net adds (n - 1) x L2 to the diagonal of the scaled columns' sums of squares;
// the path squares those sums, so beyond about 1E154 they cannot be held.
[[nodiscard]] bool ridgeTooLarge(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  if (!vsfMethodRidge(o->method) || !(m->elnetPass.l2 > 0))
    return false;
  const double ridge = (m->totals.nObs - 1) * m->elnetPass.l2 + 1.0;
  return !(ridge < std::sqrt(std::numeric_limits<double>::max()));
}

// Runs the selection road of the fit's method over the formed cross products.
[[nodiscard]] VsfStatus selectOnProducts(VsfModel* m) {
  const VsfMethodTraits* method = vsfMethodTraits(m->options->method);
  if (method == nullptr)
    return statusFromCode(
        vsfNotBuiltInternal("selectOnProducts: a method code without its traits row"));
  switch (method->road) {
  case VsfFitRoad::LeastSquares:
    return vsfLeastSquares(m);
  case VsfFitRoad::Forward:
    return vsfForward(m);
  case VsfFitRoad::Backward:
    return vsfBackward(m);
  case VsfFitRoad::Stepwise:
    return m->options->drop == VsfDrop::Competitive ? vsfCompetitiveStepwise(m) : vsfStepwise(m);
  case VsfFitRoad::LeastAngle:
    return vsfLarLasso(m);
  case VsfFitRoad::Solver:
    return vsfQkLasso(m);
  case VsfFitRoad::GroupLasso:
    return vsfGroupLasso(m);
  }
  return statusFromCode(vsfNotBuiltInternal("selectOnProducts: a fit road without its call"));
}

[[nodiscard]] VsfStatus fitOnPages(VsfModel* m, int32_t start) {
  const VsfModelOptions* o = m->options;
  VsfStatus rc;
  if (ridgeTooLarge(m)) {
    m->fitStatus = VsfFitStatus::RidgeTooLarge;
    return VsfStatus::Ok;
  }
  const bool full = vsfFullXpxOn(m);
  // The structured road shifts the pages in a pass of its own.
  const bool shiftWithCrossProducts =
      full && m->structured == nullptr && prepareWithCrossProducts(m);
  if ((rc = vsfCVShiftPages(m, shiftWithCrossProducts)) != VsfStatus::Ok)
    return fail(m, rc);
  if (vsfCvFoldStatsAsked(*o)) {
    if ((rc = vsfCVCounts(m)) != VsfStatus::Ok)
      return fail(m, rc);
  }
  if (m->resampler != nullptr && !o->colStandardize && !o->parmStandardize &&
      (rc = sampleSquares(m)) != VsfStatus::Ok)
    return rc;
  // Screening reads the sums of squares of the transformed columns and response.
  const bool squareSums = o->colStandardize && o->screen >= VsfScreenMethod::Sasvi;
  if (squareSums && (rc = vsfScreenSquareSums(m)) != VsfStatus::Ok)
    return fail(m, rc);
  if (!full) {
    m->xpx[0] = m->sumWYY;
    if ((rc = vsfCVCentreFolds(m)) != VsfStatus::Ok)
      return fail(m, rc);
    if ((rc = pass(m, vsfEffectXpX, vsfEffectXpX_t, 0)) != VsfStatus::Ok)
      return rc;
    if ((rc = vsfCVBlocksOutsideFolds(m)) != VsfStatus::Ok)
      return fail(m, rc);
    if ((o->colStandardize || o->parmStandardize) && !o->noint && !squareSums &&
        !(o->cvExternal && o->transformPages) && (rc = centredResponseSquares(m)) != VsfStatus::Ok)
      return fail(m, rc);
    m->sweptXpx[0] = m->xpx[0];
  } else {
    // The folds are summed about their own means where they can be: the structured road's
    // pass takes the centres as the packed one does.
    if (m->structured != nullptr) {
      if ((rc = vsfCVCentreFolds(m)) != VsfStatus::Ok)
        return fail(m, rc);
      if ((rc = vsfStructuredCrossProducts(m)) != VsfStatus::Ok)
        return fail(m, rc);
      if (m->fitStatus == VsfFitStatus::Overflow) {
        m->cv.foldCentre = nullptr;
        return VsfStatus::Ok;
      }
    }
    // Without the structured state (or after giving it up) the packed triangle of all columns.
    if (m->structured == nullptr && (rc = vsfCVCentreFolds(m)) != VsfStatus::Ok)
      return fail(m, rc);
    if (m->structured == nullptr && (rc = fullCrossProducts(m)) != VsfStatus::Ok)
      return rc;
    vsfCVFullOutsideFolds(m);
    // The elastic net's ridge term on every design column's diagonal.
    if (vsfMethodRidge(o->method) && m->elnetPass.l2 > 0)
      for (int32_t i = m->xpxColumns - m->effectCount + 1; i < m->xpxColumns; ++i)
        m->xpx[diag(i)] += (m->totals.nObs - 1) * m->elnetPass.l2;
    vsfCopyTriangle(m, m->sweptXpx, m->xpx, m->xpxColumns);
  }
  // Sums of squares beyond the largest double would give no statistic at all.
  if (!vsfCrossProductsFinite(m))
    return VsfStatus::Ok;
  vsfSetTotals(m);

  // The full model first: BACKWARD starts from it; CP and BIC need its variance.
  if (vsfMethodStartsFull(o->method) || o->fullModelFirst) {
    if ((rc = fullModelFirst(m, start, full)) != VsfStatus::Ok)
      return rc;
    if (m->fitStatus == VsfFitStatus::ZeroFullMse)
      return VsfStatus::Ok;
  }

  if (o->storeCross && !full && (rc = vsfInitCross(m)) != VsfStatus::Ok)
    return fail(m, rc);

  if (!vsfMethodStartsFull(o->method)) {
    if (o->choose != VsfCriterion::NoneGiven)
      m->chosen.chosenStep = m->includeCount - 1 < 0 ? 0 : m->includeCount - 1;
    for (int32_t k = start; k < start + m->includeCount && k < m->effectCount; ++k) {
      if ((rc = vsfAddEffect(m, k, 0, 0)) != VsfStatus::Ok)
        return fail(m, rc);
      if (k == 0) {
        m->effectStatus[0] = VES_INTERCEPT;
        m->totalSS = m->sweptXpx[0];
      } else {
        m->effectStatus[k] = VES_FORCED;
      }
      if (o->pressNeeded && (rc = vsfComputePress(m)) != VsfStatus::Ok)
        return fail(m, rc);
      if (o->parmStandardize)
        rc = vsfQkValidateTest(m);
      else if (vsfValidationInUse(m) || vsfTestInUse(m))
        rc = vsfComputeResids(m);
      if (rc != VsfStatus::Ok)
        return fail(m, rc);
      // The final fit of external cross validation takes the averaged curve's entry, before
      // the step's record keeps it.
      if (o->cvExternal)
        vsfComputeCVEXPRESS(m);
      if (vsfCvOn(m) && (rc = vsfComputeCVResids(m)) != VsfStatus::Ok)
        return fail(m, rc);
      if (o->colStandardize)
        m->beta[0] = m->sumWY;
      if ((rc = vsfRecordStep(m, k)) != VsfStatus::Ok)
        return fail(m, rc);
      if (o->storeCross && !full && (rc = vsfAddCross(m, k)) != VsfStatus::Ok)
        return fail(m, rc);
    }
  }

  // The totals stay as the cross products set them: the forced steps' refinements lowered the
  // rounding bound of their error SS from the rows and formed the response's spread, which
  // the selection judges that error SS by.
  const double s0 = m->sweptXpx[0];
  m->sse = s0 < 0 ? 0.0 : s0;

  rc = selectOnProducts(m);
  // A pass that failed where its code could not be returned (a criterion) fails the fit.
  if (rc == VsfStatus::Ok && m->passFailure != VsfStatus::Ok)
    rc = m->passFailure;
  if (rc != VsfStatus::Ok) {
    vsfSetFitFailure(m, rc);
    return VsfStatus::Ok;
  }
  if (m->rank == 0) {
    m->fitStatus = VsfFitStatus::NoRank;
    return VsfStatus::Ok;
  }
  return VsfStatus::Ok;
}

} // namespace
