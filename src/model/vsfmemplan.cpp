// The memory plan of a fit: the bytes of the cross products of its road, the memory left to
// it, and the error that ends a fit which would not fit. Declared in model/vsfmemplan.h.
#include "model/vsfmemplan.h"

#include "data/vsfdata.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfstructured.h"
#include "numerics/packedtri.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/sizetext.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cstring>

namespace {

// The copies of the triangle that the model grows together: the matrix and its swept form,
// the three working copies of a trial, and the same again for every fold.
int64_t triangleCopies(const VsfModel* m) {
  const int64_t one = 2 + (m->trial.trialCopies ? 3 : 0);
  return one * (1 + (vsfCvOn(m) ? std::max(m->cv.foldCount, 0) : 0));
}

// The model effect with the most columns (split entries summed into their effect) and its
// columns.
void widestEffect(const VsfModel* m, int32_t* effect, int64_t* columns) {
  const VsfDataSettings* s = m->dataSettings;
  *effect = -1;
  *columns = 0;
  if (s == nullptr || s->entries == nullptr || s->modelEffectCount <= 0)
    return;
  const int32_t n = s->modelEffectCount;
  int64_t* sums = new (std::nothrow) int64_t[static_cast<size_t>(n)]();
  if (sums == nullptr)
    return;
  for (int32_t i = 0; i < s->entryCount; ++i)
    if (s->entries[i].effect >= 0 && s->entries[i].effect < n)
      sums[s->entries[i].effect] += std::max(s->entries[i].columnCount, 0);
  for (int32_t e = 0; e < n; ++e)
    if (sums[e] > *columns) {
      *columns = sums[e];
      *effect = e;
    }
  delete[] sums;
}

// The columns beside the fit's many-level sparse effect (all of them when it has none).
int64_t smallColumns(const VsfModel* m) {
  if (const int32_t e = vsfStructuredEffect(m); e >= 0)
    return m->effectColumn[e];
  return m->layout.sparseEffectCount >= 1 ? m->effectColumn[m->layout.sparseEffectList[0]]
                                          : static_cast<int64_t>(m->parmCount) + 1;
}

// Why the fit does not take the structured road, which holds less for an effect of many
// levels: the condition it fails, or the row that gave the road up.
void explainRoad(const VsfModel* m) {
  if (m->structured != nullptr)
    return;
  VsfMsg reason = vsfStructuredRefusal(m);
  if (reason == VsfMsg{})
    reason = VsfMsg::RoadGivenUpForRows;
  char text[200];
  const int32_t n = msgString(text, static_cast<int32_t>(sizeof text), reason);
  vsfLog(VsfMsg::StructuredRoadNotTaken, {HostMsgArg(vsfStructuredLeastColumns(smallColumns(m))),
                                          HostMsgArg(text, std::max(n, 0))});
}

} // namespace

namespace {

// Bytes of the cross products with triangles of `columns` columns and the structured state
// `st` (null on the packed road), priced as the read preparation prices the road
// (vsfCrossProductCells).
double bytesOf(const VsfModel* m, int32_t columns, const VsfStructured* st) {
  const int32_t folds = vsfCvOn(m) ? std::max(m->cv.foldCount, 0) : 0;
  VsfCrossShape shape;
  shape.triangleOrder = columns;
  shape.copies = triangleCopies(m);
  shape.folds = folds;
  shape.press = m->options->pressNeeded != 0;
  if (!vsfFullXpxOn(m) && m->effectColumns != nullptr) {
    // Each effect's own block, for the model and every fold.
    for (int32_t e = 0; e < m->effectCount; ++e)
      shape.blockCells += static_cast<double>(packed::tri(std::max(m->effectColumns[e], 0)));
    shape.blockCells *= static_cast<double>(1 + folds);
  }
  // The structured road's diagonal and cross block of the model and of each fold record, held
  // in the pass's buffer of those sums, with the arrays that go with them.
  if (st != nullptr) {
    const int64_t joined = st->joinStart != nullptr ? st->joinStart[st->columns] : 0;
    shape.road = VsfRoadShape{st->effect, st->columns, st->small, st->dense, joined};
    shape.folds = st->foldCount;
  }
  return 8.0 * vsfCrossProductCells(shape);
}

} // namespace

double vsfCrossProductBytes(const VsfModel* m, int32_t columns) {
  return bytesOf(m, columns, m->structured);
}

namespace {

// The memory figure the fit plans with (MEMSIZE, or what the system has), in bytes; 0 when
// the host gives none.
double memoryFigure(const VsfModel* m) {
  const double memory = m->dataSettings != nullptr ? m->dataSettings->threadBudget.memory : 0.0;
  if (memory > 0.0)
    return memory;
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) != 0 || kilobytes <= 0)
    return 0.0;
  return 1024.0 * static_cast<double>(kilobytes);
}

} // namespace

double vsfFitMemoryLeft(const VsfModel* m) {
  double memory = memoryFigure(m);
  if (memory <= 0.0)
    return 1e300; // no figure: nothing to plan against (the read preparation says so)
  if (const VsfBagVec* bags = m->bags; bags != nullptr)
    for (uint32_t f = 0; f < bags->count; ++f)
      memory -= static_cast<double>(bags->files[f].memPageCount) * bags->files[f].page.pageSize;
  // The page threads' buffers of a pass are held beside the fit's own arrays.
  if (const VsfDataSettings* s = m->dataSettings; s != nullptr && s->threadCount > 1)
    memory -= s->threadCount * s->threadBudget.threadWork;
  return memory;
}

namespace {

// Where the page threads' buffers leave the cross products too little but one thread would
// not, the data passes go to one thread. The read preparation could not count the
// cross products whole (the CLASS levels and the folds' copies are known only now). The page
// files stay as they were read: a pass over more files than threads visits every page on
// this thread in the order the rows were read, which gives the sums of a one-thread run.
bool fitsOnOneThread(const VsfModel* m, double need) {
  VsfDataSettings* s = m->dataSettings;
  if (s == nullptr || s->threadCount <= 1)
    return false;
  const int32_t threads = s->threadCount;
  s->threadCount = 1;
  const bool fits = need <= vsfFitMemoryLeft(m);
  s->threadCount = threads;
  return fits;
}

bool passesOnOneThread(const VsfModel* m, double need) {
  if (!fitsOnOneThread(m, need))
    return false;
  VsfDataSettings* s = m->dataSettings;
  s->threadCount = 1;
  s->threadingOn = 0;
  s->threadBudget.limit = VTL_MEMORY;
  vsfLog(VsfMsg::NotEnoughMemoryForThreads);
  return true;
}

} // namespace

namespace {

// Whether the fit's criterion is judged by trials of the candidates on copies of the model
// (PRESS, the validation rows' error, cross validation).
bool trialCriterion(const VsfModelOptions& o) {
  return o.select == VsfCriterion::Press || o.select == VsfCriterion::Validate ||
         o.select == VsfCriterion::Cv;
}

} // namespace

bool vsfTrialBlockKept(const VsfModelOptions& o, bool full, bool multiColumn) {
  return full && vsfMethod(o.method).entryTrials && !trialCriterion(o) && multiColumn;
}

bool vsfTrialCopiesKept(const VsfModelOptions& o, bool full, bool multiColumn, bool structured) {
  const VsfMethodTraits& method = vsfMethod(o.method);
  // Without an intercept, a response far from 0 has its candidates fitted on trial copies
  // (their error SSs formed from the rows) wherever the swept sums, or the trial block's,
  // lose them. The many-level road puts back a copy of the step a move started from when
  // the stop rule undoes the move.
  return trialCriterion(o) ||
         (method.entryTrials && !method.removalTrials &&
          !vsfTrialBlockKept(o, full, multiColumn)) ||
         (method.removalTrials && multiColumn) || (method.entryTrials && o.noint) ||
         (structured && o.stopTest);
}

int64_t vsfTrialBlockLength(const VsfModel* m) {
  int64_t widest = 0;
  for (int32_t e = 0; e < m->effectCount; ++e)
    widest = std::max<int64_t>(widest, m->effectColumns[e]);
  return packed::tri(widest + 1);
}

bool vsfPackedTriangleFits(const VsfModel* m) {
  const int32_t columns = m->parmCount + 1;
  if (vsfMemTri(columns) < 0)
    return false;
  // The dense trial block, which the trials of the packed road may make, is counted too.
  const double trial = m->trial.needTrialBlock ? 8.0 * double(vsfTrialBlockLength(m)) : 0.0;
  const double need = bytesOf(m, columns, nullptr) + trial;
  return need <= vsfFitMemoryLeft(m) || fitsOnOneThread(m, need);
}

VsfStatus vsfPlanCrossProducts(const VsfModel* m, int32_t columns, double extraBytes) {
  // A triangle past the largest the procedure supports is refused by its own message.
  if (vsfMemTri(columns) < 0)
    return VsfStatus::Ok;
  const double need = vsfCrossProductBytes(m, columns) + extraBytes;
  const double left = vsfFitMemoryLeft(m);
  if (need <= left || passesOnOneThread(m, need))
    return VsfStatus::Ok;
  char needText[32], leftText[32];
  vsfSizeText(need, needText, sizeof needText);
  vsfSizeText(std::max(left, 0.0), leftText, sizeof leftText);
  if (m->layout.sparseEffectCount < 1) {
    // No CLASS effect of many levels: no effect is to blame and no other road holds less;
    // the memory figure is too small for this fit. It must grow by at least what is
    // missing (the pages kept in memory, which may already take more than the figure, grow
    // with it too, so this is the least, not always enough).
    const double figure = memoryFigure(m);
    char figureText[32], wantText[32];
    vsfSizeText(figure, figureText, sizeof figureText);
    vsfSizeText(figure + need - left, wantText, sizeof wantText);
    vsfLog(VsfMsg::MemoryFigureTooSmall,
           {HostMsgArg(static_cast<int64_t>(columns - 1)), HostMsgArg(needText),
            HostMsgArg(triangleCopies(m)), HostMsgArg(leftText), HostMsgArg(figureText),
            HostMsgArg(wantText)});
    return VsfStatus::ReportedFailure;
  }
  int32_t effect = -1;
  int64_t effectColumns = 0;
  widestEffect(m, &effect, &effectColumns);
  const VsfDataSettings* s = m->dataSettings;
  const char* name =
      effect >= 0 && s->effectName != nullptr ? s->effectName(s->nameSource, effect) : nullptr;
  if (name == nullptr)
    name = "";
  vsfLog(VsfMsg::CrossProductsDoNotFit,
         {HostMsgArg(name, static_cast<int32_t>(std::strlen(name))), HostMsgArg(effectColumns),
          HostMsgArg(needText), HostMsgArg(triangleCopies(m)), HostMsgArg(columns - 1),
          HostMsgArg(leftText)});
  if (vsfCvOn(m) && m->cv.foldCount > 0)
    vsfLog(VsfMsg::FoldCopiesDoNotFit, {HostMsgArg(m->cv.foldCount)});
  else
    vsfLog(VsfMsg::FewerColumnsNeedLessMemory);
  explainRoad(m);
  return VsfStatus::ReportedFailure;
}
