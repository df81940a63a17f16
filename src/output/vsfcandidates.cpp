// The "Candidates" table of one step: the effects that were candidates at that step,
// ranked best first by the value of the SELECT= criterion each would have given.
// Declared in output/vsfprinters.h.
#include "model/vsfformulas.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

VsfStatus vsfRankCandidates(const VsfContext* ctx, VsfModel* m, VsfCandidateRanking* out) {
  const VsfModelOptions& o = ctx->options;
  *out = {};
  const int32_t count = m->effectCount;
  QkPool* pool = m->pool;
  int32_t* index = static_cast<int32_t*>(poolTake(pool, int64_t(count) * 4));
  double* values = static_cast<double*>(poolTake(pool, int64_t(count) * 8));
  if (index == nullptr || values == nullptr)
    return VsfStatus::NoMemory;
  const int32_t last = m->history.stepCount - 1;
  const int32_t a = m->history.stepEffects[last],
                b = m->history.stepEffects[last - 1]; // [-1] is kept
  out->addition = a > b || (a == b && !vsfMethodStartsFull(o.method));
  int32_t n = 0;
  for (int32_t k = 0; k < count; ++k)
    if (!isHostMissing(m->candidateValue[k]))
      values[k] = m->candidateValue[k], index[n] = k, ++n;
  // Ascending when smaller is better (and SL additions), descending otherwise; the
  // largest doubles (no value worked out) sort with the worst.
  const bool ascending = o.select == VsfCriterion::Sl ? out->addition : !vsfBigBetter(o.select);
  vsfQsort(values, n, index, ascending ? 1 : 0);
  for (int32_t i = 0; i < n; ++i)
    values[i] = m->candidateValue[index[i]];
  out->effects = index;
  out->values = values;
  out->count = n;
  return VsfStatus::Ok;
}

void vsfFreeCandidates(VsfModel* m, VsfCandidateRanking* ranking) {
  if (ranking->values != nullptr)
    m->pool->free(m->pool, ranking->values);
  if (ranking->effects != nullptr)
    m->pool->free(m->pool, ranking->effects);
  *ranking = {};
}

VsfStatus vsfpCandidates(VsfContext* ctx, VsfModel* m) {
  const VsfModelOptions& o = ctx->options;
  VsfOut out(ctx);
  if (m->effectCount <= 0 || m->candidateValue == nullptr || m->history.stepCount <= 0)
    return VsfStatus::Ok; // no candidate values were kept for this step: nothing to rank
  QkPool* pool = m->pool;
  VsfCandidateRanking ranked;
  if (vsfRankCandidates(ctx, m, &ranked) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  const int32_t n = ranked.count;
  const bool addition = ranked.addition;
  // The table shows the largest doubles as missing values.
  for (int32_t i = 0; i < n; ++i)
    if (ranked.values[i] == DBL_MAX || ranked.values[i] == -DBL_MAX)
      ranked.values[i] = hostMissing();
  const int32_t show = o.candidatesShown > 0 ? o.candidatesShown : 10;
  const int32_t r = std::min(show, n);
  const bool competitive = vsfMethod(o.method).takesDrop && o.drop == VsfDrop::Competitive;
  RvqText* title;
  if (r < n)
    title = msgText(competitive ? VsfMsg::CandidatesBestN
                    : addition  ? VsfMsg::CandidatesBestNForEntry
                                : VsfMsg::CandidatesBestNForRemoval,
                    {show});
  else
    title = msgText(competitive ? VsfMsg::CandidatesBest
                    : addition  ? VsfMsg::CandidatesForEntry
                                : VsfMsg::CandidatesForRemoval);
  int32_t We = 0;
  for (int32_t i = 0; i < r; ++i) {
    int32_t len = 0;
    vsfEffectName(ctx, ranked.effects[i], &len);
    We = std::max(We, len);
  }
  // A step without candidates is legal: its table has no rows.
  We = std::max(We, 1);
  char* effect = static_cast<char*>(poolTake(pool, We));
  if (effect == nullptr)
    return VsfStatus::NoMemory;
  int32_t rank = 0;
  double logp = 0, probf = 0, criterion = 0;
  char* candidateFor = nullptr;
  int32_t forWidth = 0;
  if (!out.create("Candidates", nullptr)) {
    vsfFreeCandidates(m, &ranked);
    return VsfStatus::Ok;
  }
  out.column({rvqColumnType(RvqColumnType::Int), vsfaName("Rank"), vsfaBound(&rank)});
  out.charColumn("Effect", effect, We);
  if (competitive) {
    forWidth =
        std::max(vsfMsgLength(VsfMsg::CandidatesEntry), vsfMsgLength(VsfMsg::CandidatesRemoval));
    candidateFor = static_cast<char*>(poolTake(pool, forWidth));
    if (forWidth == 0 || candidateFor == nullptr)
      return VsfStatus::NoMemory;
    out.charColumn("CandidateFor", candidateFor, forWidth);
  }
  if (o.select == VsfCriterion::Sl) {
    out.numberColumn("LogPValue", &logp);
    out.numberColumn("ProbF", &probf);
  } else {
    // CV PRESS names the column of a criterion without its own.
    const VsfCriterionTraits& cc =
        vsfCriterion(vsfCriterion(o.select).candidateName.get() ? o.select : VsfCriterion::Cv);
    out.column({rvqColumnType(RvqColumnType::Double), vsfaTemplate("Criterion"),
                vsfaBound(&criterion), vsfaName(cc.candidateName), vsfaDyn("_criterionLabel"),
                rvqTextHandle(RvqAttrId::Value, vsfText(cc.candidateLabel))});
  }
  out.endColumns();
  out.bind("Stat.VARSIFTER.Candidates",
           {vsfaDyn("_TITLE"), rvqTextHandle(RvqAttrId::Value, title), vsfaLabel(title)});
  const int32_t changed = m->history.stepEffect[m->history.stepCount - 1];
  for (int32_t i = 0; i < r; ++i) {
    const int32_t k = ranked.effects[i];
    const double v = ranked.values[i];
    rank = i + 1;
    int32_t len = 0;
    const char* name = vsfEffectName(ctx, k, &len);
    vsfFill(effect, We, name, len);
    if (o.select == VsfCriterion::Sl) {
      logp = v;
      probf = isHostMissing(v) ? v : v >= -708.3964185 ? std::exp(v) : 0.0;
    } else {
      criterion = v;
    }
    if (competitive) {
      int32_t direction = m->effectStatus[k] == 0 ? 1 : -1;
      if (k == changed)
        direction = -direction;
      vsfMsgCopy(direction > 0 ? VsfMsg::CandidatesEntry : VsfMsg::CandidatesRemoval, candidateFor,
                 forWidth);
    }
    out.emit();
  }
  out.endRows();
  out.publish();
  vsfFreeCandidates(m, &ranked);
  out.finish();
  return VsfStatus::Ok;
}
