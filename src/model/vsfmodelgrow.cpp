// The growth of a fit's arrays as it goes: the step history, the X'X triangles and their
// sweep flags (every fold's and the trial copies' too), the trial copies made late, the
// kept cross-product columns and the group methods' change list. Declared in model/vsfmodel.h.
#include "model/vsfmodel.h"

#include "model/vsfformulas.h"
#include "model/vsfmemplan.h"
#include "model/vsfmodelinternal.h"
#include "model/vsfstructured.h"
#include "support/cvscheme.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/qknr.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cassert>
#include <type_traits>

using namespace modelstate;

VsfStatus vsfAddStepMemory(VsfModel* model, int32_t newCapacity) {
  VsfModel* m = model;
  const VsfModelOptions* o = m->options;
  if (newCapacity == -1)
    newCapacity = 2 * m->history.stepCapacity;
  if (newCapacity <= 0)
    return VsfStatus::NoMemory;
  const bool first = m->history.stepCapacity == 0;
  auto grow = [&](auto*& arr, int64_t count, bool front) -> bool {
    using T = std::remove_reference_t<decltype(*arr)>;
    T* base = arr == nullptr ? nullptr : arr - (front ? 1 : 0);
    T* out = first ? vsfModelArray<T>(m, count, true) : vsfModelResize<T>(m, base, count);
    if (out == nullptr)
      return false;
    arr = out + (front ? 1 : 0);
    return true;
  };
  if (!grow(m->history.stepEffect, newCapacity, false) ||
      !grow(m->history.stepParms, newCapacity, false) ||
      !grow(m->history.stepRank, newCapacity + 1LL, true) ||
      !grow(m->history.stepEffects, newCapacity + 1LL, true) ||
      !grow(m->history.stepSSE, newCapacity + 1LL, true))
    return VsfStatus::NoMemory;
  m->history.stepRank[-1] = 0;
  if (o->pressNeeded && !grow(m->history.stepPress, newCapacity, false))
    return VsfStatus::NoMemory;
  if (vsfValidationInUse(m) && !grow(m->history.stepValidateAse, newCapacity, false))
    return VsfStatus::NoMemory;
  if (vsfTestInUse(m) && !grow(m->history.stepTestAse, newCapacity, false))
    return VsfStatus::NoMemory;
  if (vsfCvOn(m) && !grow(m->history.stepCvPress, newCapacity, false))
    return VsfStatus::NoMemory;
  if (o->stdL1History && !grow(m->history.stepStdL1Norm, newCapacity, false))
    return VsfStatus::NoMemory;
  if (vsfMethodHasPath(o->method)) {
    if (!grow(m->history.stepPathValue, newCapacity, false) ||
        !grow(m->history.stepL1Norm, newCapacity, false) ||
        !grow(m->history.stepL2Norm, newCapacity, false) ||
        !grow(m->history.stepSSEFall, newCapacity, false))
      return VsfStatus::NoMemory;
    if (vsfCvExternalOn(m) && (!grow(m->history.stepHeldOutError, newCapacity, false) ||
                               !grow(m->history.stepHeldOutTestError, newCapacity, false)))
      return VsfStatus::NoMemory;
  }
  m->history.stepCapacity = newCapacity;
  return VsfStatus::Ok;
}

namespace {

// Grows every X'X triangle and its sweep flags to `newCapacity` columns of `n` elements.
[[nodiscard]] VsfStatus vsfGrowXpX(VsfModel* m, int32_t newCapacity, int64_t n) {
  const int64_t oldTri = vsfMemTri(m->xpxColumns);

  auto growFlags = [&](char*& flags, char*& saved) -> bool {
    char* old = flags;
    char* out = vsfModelResize<char>(m, flags, newCapacity);
    if (out == nullptr)
      return false;
    for (int32_t i = m->xpxColumns; i < newCapacity; ++i)
      out[i] = '0';
    flags = out;
    if (saved == old && old != nullptr)
      saved = out;
    return true;
  };
  auto growTri = [&](double*& arr, double*& saved, bool zeroTail) -> bool {
    double* old = arr;
    double* out = vsfModelResize<double>(m, arr, n);
    if (out == nullptr)
      return false;
    // A new block comes zeroed from the pool: writing its zeros again would touch every
    // page of a triangle the data may never reach. The full X'X pass reaches every page,
    // and writing them here first spares its workers a fault on each page read before it is
    // written, which on several threads costs a flush of every thread's address cache.
    if (zeroTail && (old != nullptr || vsfFullXpxOn(m)))
      std::fill(out + (old != nullptr ? oldTri : 0), out + n, 0.0);
    arr = out;
    if (saved == old && old != nullptr)
      saved = out;
    return true;
  };
  double* none = nullptr;
  char* noFlags = nullptr;
  if (!growFlags(m->sweepFlags, m->trial.savedSweepFlags))
    return VsfStatus::NoMemory;
  if (!growTri(m->xpx, m->trial.savedXpx, true))
    return VsfStatus::NoMemory;
  double* oldSwept = m->sweptXpx;
  if (!growTri(m->sweptXpx, m->trial.savedSweptXpx, false))
    return VsfStatus::NoMemory;
  if (oldSwept != nullptr && m->trial.savedSweptXpx == m->sweptXpx)
    m->trial.savedXpxCapacity = newCapacity;
  if (m->trial.trialCopies) {
    // Growth happens on the growing shape only, where the working copies are separate
    // arrays (and at creation, where all are still null).
    if (!growTri(m->trial.workXpx, none = nullptr, false) ||
        !growTri(m->trial.workSweptXpx, none = nullptr, false) ||
        !growTri(m->trial.cleanSweptXpx, none = nullptr, false) ||
        !growFlags(m->trial.workSweepFlags, noFlags = nullptr) ||
        !growFlags(m->trial.cleanSweepFlags, noFlags = nullptr))
      return VsfStatus::NoMemory;
  }
  if (vsfCvOn(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
      if (!growFlags(F.sweepFlags, F.savedSweepFlags) || !growTri(F.xpx, F.savedXpx, true) ||
          !growTri(F.sweptXpx, F.savedSweptXpx, false))
        return VsfStatus::NoMemory;
      if (m->trial.trialCopies && (!growTri(F.workXpx, none = nullptr, false) ||
                                   !growTri(F.workSweptXpx, none = nullptr, false) ||
                                   !growTri(F.cleanSweptXpx, none = nullptr, false) ||
                                   !growFlags(F.workSweepFlags, noFlags = nullptr) ||
                                   !growFlags(F.cleanSweepFlags, noFlags = nullptr)))
        return VsfStatus::NoMemory;
    }
  assert(newCapacity >= m->xpxColumns && "X'X keeps its columns as it grows");
  m->xpxCapacity = newCapacity;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfAddXpXMemory(VsfModel* model, int32_t newCapacity) {
  VsfModel* m = model;
  if (newCapacity == -1)
    newCapacity = 2 * m->xpxColumns;
  if (newCapacity <= m->xpxColumns)
    return VsfStatus::Ok;
  const int64_t n = vsfMemTri(newCapacity);
  if (n < 0) {
    // The response is column 0 of the triangle; the message counts design columns.
    vsfLog(VsfMsg::XpxTooManyColumns,
           {HostMsgArg(newCapacity - 1), HostMsgArg(kVsfMaxTriangleColumns - 1)});
    return VsfStatus::ReportedFailure;
  }
  if (const VsfStatus planned = vsfPlanCrossProducts(m, newCapacity); planned != VsfStatus::Ok)
    return planned;
  const VsfStatus grown = vsfGrowXpX(m, newCapacity, n);
  if (grown != VsfStatus::Ok)
    vsfLog(VsfMsg::XpxDoesNotFit,
           {HostMsgArg(newCapacity - 1), HostMsgArg(static_cast<int64_t>(sizeof(double)) * n)});
  return grown;
}

VsfStatus vsfAddTrialCopies(VsfModel* m) {
  if (m->trial.trialCopies)
    return VsfStatus::Ok;
  m->trial.trialCopies = 1; // counted by the plan
  const int32_t cap = m->xpxCapacity;
  const int64_t n = vsfMemTri(cap);
  const double block = m->trial.needTrialBlock ? 8.0 * double(vsfTrialBlockLength(m)) : 0.0;
  VsfStatus rc = vsfPlanCrossProducts(m, cap, block);
  if (rc == VsfStatus::Ok)
    rc = allocateListCopies(m, m->effectCount);
  const auto copies = [&](double*& work, double*& swept, double*& clean, char*& workFlags,
                          char*& cleanFlags) {
    work = vsfModelArray<double>(m, n);
    swept = vsfModelArray<double>(m, n);
    clean = vsfModelArray<double>(m, n);
    workFlags = vsfModelArray<char>(m, cap);
    cleanFlags = vsfModelArray<char>(m, cap);
    return work && swept && clean && workFlags && cleanFlags;
  };
  if (rc == VsfStatus::Ok &&
      !copies(m->trial.workXpx, m->trial.workSweptXpx, m->trial.cleanSweptXpx,
              m->trial.workSweepFlags, m->trial.cleanSweepFlags))
    rc = VsfStatus::NoMemory;
  if (vsfCvOn(m))
    for (int32_t f = 0; f < m->cv.foldCount && rc == VsfStatus::Ok; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
      if (!copies(F.workXpx, F.workSweptXpx, F.cleanSweptXpx, F.workSweepFlags, F.cleanSweepFlags))
        rc = VsfStatus::NoMemory;
    }
  if (rc != VsfStatus::Ok)
    m->trial.trialCopies = 0;
  return rc;
}

VsfStatus vsfAddCrossMemory(VsfModel* model, int32_t newCapacity, int32_t rowLength) {
  VsfModel* m = model;
  if (newCapacity == -1)
    newCapacity = 2 * m->crossCapacity;
  const int64_t size = static_cast<int64_t>(newCapacity) * rowLength;
  const int64_t oldSize = static_cast<int64_t>(m->crossCapacity) * rowLength;
  if (size <= 0)
    return VsfStatus::NoMemory;
  assert(newCapacity >= m->crossColumnCount && "the kept cross products keep their columns");
  auto grow = [&](double*& arr) -> bool {
    double* out = vsfModelResize<double>(m, arr, size);
    if (out == nullptr)
      return false;
    if (oldSize < size && arr != nullptr)
      std::fill(out + oldSize, out + size, 0.0);
    arr = out;
    return true;
  };
  if (!grow(m->cross))
    return VsfStatus::NoMemory;
  if (vsfCvOn(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      if (!grow(m->cv.folds[f].cross))
        return VsfStatus::NoMemory;
  m->crossCapacity = newCapacity;
  return VsfStatus::Ok;
}

VsfStatus vsfAddEffChangeMemory(VsfModel* model, int32_t newCapacity) {
  if (newCapacity <= 0)
    return VsfStatus::NoMemory;
  int32_t* out = model->history.changeListCapacity == 0
                     ? vsfModelArray<int32_t>(model, newCapacity)
                     : vsfModelResize<int32_t>(model, model->history.changeList, newCapacity);
  if (out == nullptr)
    return VsfStatus::NoMemory;
  model->history.changeList = out;
  model->history.changeListCapacity = newCapacity;
  return VsfStatus::Ok;
}
