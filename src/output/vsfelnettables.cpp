// The elastic-net search tables: the "ElasticNetParaSummary" factoid (how L2 was searched and
// what was kept) and the "ElasticNetTuneL2" table (one row per L2 tried, from the tuning rows
// the search left in the fit). The search itself is the selection's (vsfelnet.cpp).
// Declared in output/vsfscreentables.h.
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "output/vsfscreentables.h"
#include "support/messages.h"
#include "support/vsfcriterion.h"

namespace {

// The message naming each L2SEARCH= code (1 NONE, 2 GOLDEN, 3 GRID).
constexpr VsfMsg kSearchName[] = {VsfMsg::ElasticNetNone, VsfMsg::ElasticNetNone,
                                  VsfMsg::ElasticNetGoldenSection,
                                  VsfMsg::ElasticNetLogarithmicGrid};
// The step the kept fit reports: the chosen one, else the last.
[[nodiscard]] int32_t reportedStep(const VsfModel* m) {
  if (m->options->choose != VsfCriterion::NoneGiven && m->chosen.chosenStep >= 0 &&
      m->chosen.chosenStep < m->history.stepCount)
    return m->chosen.chosenStep;
  return m->history.stepCount - 1;
}

} // namespace

bool vsfTuneRowEmpty(const double* row) {
  return row[0] == 0 && row[1] == 0 && row[2] == 0 && row[3] == 0;
}

VsfStatus vsfpElasticNetParaSummary(VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  const VsfModel* m = &ctx->model;
  const bool searched = o.l2Search == VsfL2Search::Golden || o.l2Search == VsfL2Search::Grid;
  VsfOut out(ctx);
  if (!out.createFactoid("ElasticNetParaSummary", "Stat.VARSIFTER.ElasticNetParaSummary",
                         msgText(VsfMsg::ElasticNetParameterSearch),
                         msgText(VsfMsg::ElasticNetParameterSearch)))
    return VsfStatus::Ok;
  const VsfL2Search search = o.l2Search >= VsfL2Search::None && o.l2Search <= VsfL2Search::Grid
                                 ? o.l2Search
                                 : VsfL2Search::None;
  out.entry(VsfMsg::ElasticNetL2SearchMethod,
            rvqTextHandle(RvqAttrId::Value, msgText(kSearchName[static_cast<int32_t>(search)])));
  if (searched) {
    out.entry(VsfMsg::ElasticNetL2LowerBound, rvqDouble(RvqAttrId::Value, m->elnet.l2Low));
    out.entry(VsfMsg::ElasticNetL2UpperBound, rvqDouble(RvqAttrId::Value, m->elnet.l2High));
    out.entry(VsfMsg::ElasticNetNumberL2Values, rvqInt(RvqAttrId::Value, m->elnetPass.l2Steps));
  }
  // No criterion named: the select criterion's.
  const VsfMsg name = vsfCriterion(vsfElasticNetCriterion(o))
                          .name.get()
                          .value_or(VsfMsg::ModelInfoSameSelectCriterion);
  out.entry(VsfMsg::ElasticNetSearchCriterion, rvqTextHandle(RvqAttrId::Value, msgText(name)));
  // Under external cross validation the kept L2 is judged by the folds' averaged curve: its
  // best path position is the outcome; the final fit's own step is the selection's to show.
  const int32_t k = reportedStep(m);
  if (o.cvExternal) {
    out.entry(VsfMsg::ElasticNetL1RatioSelectedStep,
              rvqDouble(RvqAttrId::Value, m->cvex.cvexChosenValue));
  } else if (k >= 0) {
    out.entry(VsfMsg::ElasticNetLargestPathCorrelation,
              rvqDouble(RvqAttrId::Value, m->path.lambdaMax));
    out.entry(VsfMsg::ElasticNetL1RatioSelectedStep,
              rvqDouble(RvqAttrId::Value, m->history.stepPathValue[k]));
    out.entry(VsfMsg::ElasticNetEffectsSelectedModel,
              rvqInt(RvqAttrId::Value, m->history.stepEffects[k]));
  }
  out.entry(VsfMsg::ElasticNetChosenL2, rvqDouble(RvqAttrId::Value, m->elnet.finalL2));
  out.endRows();
  out.release();
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfpElasticNetL2(VsfContext* ctx) {
  VsfModel* m = &ctx->model;
  if (m->elnetPass.enTuneRows == nullptr)
    return VsfStatus::Ok;
  int32_t step = 0, opt = 0, nVar = 0, nSteps = 0;
  double l2 = 0, ratio = 0, value = 0, l2Norm = 0, l1Norm = 0;
  VsfOut out(ctx);
  if (!out.create("ElasticNetTuneL2", msgText(VsfMsg::TuningDetails)))
    return VsfStatus::Ok;
  out.intColumn("Step", &step);
  out.numberColumn("L2", &l2);
  out.numberColumn("L1Ratio", &ratio);
  out.numberColumn("CriterionValue", &value);
  out.intColumn("OptCriterion", &opt);
  // External cross validation's trials keep only the averaged curve's best: no fit's counts.
  const bool cvex = ctx->options.cvExternal != 0;
  if (!cvex) {
    out.intColumn("nVar", &nVar);
    out.numberColumn("L2Norm", &l2Norm);
    out.numberColumn("L1Norm", &l1Norm);
    out.intColumn("nSteps", &nSteps);
  }
  out.endColumns();
  out.bind("Stat.VARSIFTER.ElasticNetTuneL2");
  int32_t shown = 0;
  for (; shown < m->elnetPass.enTuneCapacity; ++shown) {
    const double* row = m->elnetPass.enTuneRows + 7 * static_cast<int64_t>(shown);
    if (vsfTuneRowEmpty(row))
      break;
    step = shown + 1;
    l2 = row[0];
    ratio = row[1];
    nVar = static_cast<int32_t>(row[2]);
    value = row[3];
    l2Norm = row[4];
    l1Norm = row[5];
    nSteps = static_cast<int32_t>(row[6]);
    opt = row[0] == m->elnet.finalL2 ? 1 : 0;
    out.emit();
  }
  m->elnetPass.enTuneCapacity = shown;
  out.endRows();
  out.publish();
  out.finish();
  return VsfStatus::Ok;
}
