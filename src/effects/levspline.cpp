// Spline options: reading the SPLINE(... / options) flags and slots into SplineInfo, the
// conflict rules between basis, knot method, KNOTMIN/KNOTMAX, DATABOUNDARY and degree, and
// the knot-list clean-up. Splitting into parts is the EFFECT statement reader's.
#include "effects/levspline.h"

#include "effects/levalloc.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/parsedstmt.h"
#include "support/protocol.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cmath>

namespace {

double slotDouble(const ParsedStatement* s, EffectSlot k) {
  const OptionSlot* slot = stmtSlot(s, k);
  return slot ? slot->value.number : hostMissing();
}

HostMsgArg nameArg(const char* name, int32_t n) { return HostMsgArg(name, n); }

void warn(LevDesign* design, EffMsg number, std::initializer_list<HostMsgArg> args = {}) {
  vsfLog(number, args);
  levRaise(design, StepRc::Warning);
}

void readCommon(LevDesign* design, SplineInfo* info, const ParsedStatement* s) {
  info->natural = stmtFlag(s, EffectFlag::Natural) ? 1 : 0;
  info->split =
      (stmtFlag(s, EffectFlag::Split) || has(design->designFlags2, LevDesignFlag2::SplineSplit))
          ? 1
          : 0;
  info->separate = (info->split || stmtFlag(s, EffectFlag::Separate)) ? 1 : 0;
  info->degree = stmtInt(s, EffectSlot::SplineDegree, 3);
  info->basis = static_cast<uint8_t>(stmtInt(s, EffectSlot::Basis, SB_NOT_GIVEN));
  info->knotMin = slotDouble(s, EffectSlot::KnotMin);
  info->knotMax = slotDouble(s, EffectSlot::KnotMax);
  info->knotMethod = static_cast<uint8_t>(stmtInt(s, EffectSlot::KnotMethod, KM_EQUAL));
  info->tpfTerms = 2;
  if (stmtFlag(s, EffectFlag::NoInt))
    info->tpfTerms = 1;
  if (stmtFlag(s, EffectFlag::NoPowers))
    info->tpfTerms = 0;
  info->dataBoundary = stmtFlag(s, EffectFlag::DataBoundary) ? 1 : 0;
}

void readKnotList(SplineInfo* info, const ParsedStatement* s) {
  const OptionSlot* slot = stmtSlot(s, EffectSlot::KnotList);
  info->knotCount = slot ? slot->value.list.count : 0;
  info->knotList = slot ? slot->items.doubles : nullptr;
}

} // namespace

void zlevQSort(double* values, int32_t n) {
  if (n < 2)
    return;
  int32_t p = 1;
  while (p < n)
    p <<= 1;
  for (int32_t gap = p / 2; gap >= 1; gap /= 2) {
    for (int32_t i = 0; i + gap < n; ++i) {
      if (values[i] <= values[i + gap])
        continue;
      double t = values[i];
      values[i] = values[i + gap];
      values[i + gap] = t;
      // The smaller value moves down while it is smaller than its predecessor at gap.
      for (int32_t j = i; j - gap >= 0 && values[j] < values[j - gap]; j -= gap) {
        t = values[j];
        values[j] = values[j - gap];
        values[j - gap] = t;
      }
    }
  }
}

int32_t zlevRepeatedKnotCheck(SplineInfo* info, const char* name, int32_t nameLength) {
  double* list = info->knotList;
  int32_t n = info->knotCount;
  if (list == nullptr || n < 2)
    return 0;
  bool removed = false;
  double current = list[0];
  int32_t repeats = 0;
  for (int32_t i = 1; i < n; ++i) {
    if (list[i] == current) {
      if (++repeats > info->degree) {
        list[i] = hostMissing();
        removed = true;
      }
    } else {
      repeats = 0;
      current = list[i];
    }
  }
  if (!removed)
    return 0;
  int32_t kept = 0;
  for (int32_t i = 0; i < n; ++i)
    if (!isHostMissing(list[i]))
      list[kept++] = list[i];
  info->knotCount = kept;
  vsfLog(EffMsg::SplineKnotRepeatsCut, {nameArg(name, nameLength), info->degree + 1});
  return 1;
}

VsfStatus zlevParseSpline(LevDesign* design, SplineInfo* info, int32_t nVariables,
                          const ParsedStatement* s, const char* name, int32_t nameLength) {
  readCommon(design, info, s);
  if (info->basis == SB_BSPLINE && info->natural) {
    warn(design, EffMsg::NaturalSplineBasisIgnored, {nameArg(name, nameLength)});
    info->basis = SB_TPF;
  } else if (info->basis == SB_NOT_GIVEN) {
    info->basis = info->natural ? SB_TPF : SB_BSPLINE;
  }
  bool limits = !isHostMissing(info->knotMin) || !isHostMissing(info->knotMax);
  if (info->basis == SB_TPF) {
    if (info->knotMethod == KM_MULTISCALE) {
      warn(design, EffMsg::KnotmethodMultiscaleNotAvailable);
      info->knotMethod = KM_EQUAL;
    }
    if (limits)
      warn(design, EffMsg::KnotminKnotmaxNoEffect);
    if (info->dataBoundary)
      warn(design, EffMsg::DataboundaryNoEffectBasis);
    if (info->knotMethod == KM_LISTWITHBOUNDARY) {
      warn(design, EffMsg::KnotmethodListwithboundaryNotAvailable);
      info->knotMethod = KM_LIST;
    }
  } else {
    if (info->dataBoundary && limits) {
      warn(design, EffMsg::KnotminKnotmaxIgnoredWithDataboundary);
      info->knotMin = info->knotMax = hostMissing();
      limits = false;
    }
    if (info->knotMethod == KM_LISTWITHBOUNDARY && limits) {
      warn(design, EffMsg::KnotminKnotmaxIgnoredKnotmethod);
      info->knotMin = info->knotMax = hostMissing();
    }
  }
  if (info->natural && info->degree != 3) {
    warn(design, EffMsg::NaturalSplineDegreeIgnored, {nameArg(name, nameLength)});
    info->degree = 3;
  }
  int32_t entries = info->separate ? 1 : nVariables;
  if (entries > 0) {
    info->varKnotCount = levNew<int32_t>(static_cast<size_t>(entries));
    info->varKnots = levNew<double*>(static_cast<size_t>(entries));
    if (info->varKnotCount == nullptr || info->varKnots == nullptr)
      return VsfStatus::NoMemory;
  }
  switch (info->knotMethod) {
  case KM_EQUAL:
  case KM_PERCENTILES:
    info->knotCount = stmtInt(s, EffectSlot::KnotCount, 3);
    break;
  case KM_MULTISCALE:
    info->startScale = stmtInt(s, EffectSlot::StartScale, 0);
    info->endScale = stmtInt(s, EffectSlot::EndScale, 7);
    info->separate = 1;
    break;
  case KM_LIST:
  case KM_RANGEFRACTIONS:
  case KM_LISTWITHBOUNDARY:
    readKnotList(info, s);
    zlevQSort(info->knotList, info->knotCount);
    if (zlevRepeatedKnotCheck(info, name, nameLength))
      levRaise(design, StepRc::Warning);
    // Both boundary groups and at least one interval between them come from the list.
    if (info->knotMethod == KM_LISTWITHBOUNDARY && info->basis == SB_BSPLINE &&
        info->knotCount < std::max(2 * info->degree, info->degree + 2)) {
      vsfLog(EffMsg::ListwithboundaryTooFewValues,
             {info->degree, std::max(2 * info->degree, info->degree + 2)});
      levRaise(design, StepRc::Error);
      return VsfStatus::ReportedFailure;
    }
    break;
  default:
    break;
  }
  if (info->natural && info->knotList != nullptr && info->knotCount > 1) {
    for (int32_t i = 1; i < info->knotCount; ++i)
      if (info->knotList[i] == info->knotList[i - 1]) {
        vsfLog(EffMsg::NaturalSplineRepeatedKnots, {nameArg(name, nameLength)});
        levRaise(design, StepRc::Error);
        return VsfStatus::ReportedFailure;
      }
  }
  return VsfStatus::Ok;
}

int32_t zlevPartialParseSpline(LevDesign* design, SplineInfo* info, int32_t,
                               const ParsedStatement* s) {
  readCommon(design, info, s);
  if (info->basis == SB_NOT_GIVEN)
    info->basis = info->natural ? SB_TPF : SB_BSPLINE;
  if (info->natural)
    info->degree = 3;
  switch (info->knotMethod) {
  case KM_MULTISCALE:
    info->startScale = stmtInt(s, EffectSlot::StartScale, 0);
    info->endScale = stmtInt(s, EffectSlot::EndScale, 7);
    info->separate = 1;
    if (info->endScale < info->startScale)
      return 2;
    break;
  case KM_LIST:
  case KM_RANGEFRACTIONS:
  case KM_LISTWITHBOUNDARY:
    readKnotList(info, s);
    break;
  default:
    info->knotCount = stmtInt(s, EffectSlot::KnotCount, 3);
    break;
  }
  int32_t columns;
  if (info->natural) {
    if (info->knotCount < 3) {
      vsfLog(EffMsg::NaturalSplineTooFewKnots);
      info->knotCount = 2;
    }
    columns = info->knotCount;
  } else {
    columns = info->knotCount + 1 + info->degree;
  }
  if (info->tpfTerms == 0)
    columns -= info->degree + 1;
  else if (info->tpfTerms == 1)
    columns -= 1;
  return columns < 1 ? 1 : 0;
}
