// The elastic-net search tables: the "ElasticNetParaSummary" factoid (how L2 was searched and
// what was kept) and the "ElasticNetTuneL2" table (one row per L2 tried, from the tuning rows
// the search left in the fit). The search itself is the selection's (vsfelnet.cpp).
// Declared in output/vsfscreentables.h.
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "output/vsfscreentables.h"

namespace {

// The message naming each L2SEARCH= code (1 NONE, 2 GOLDEN, 3 GRID).
constexpr int32_t kSearchName[] = {2011, 2011, 2012, 2013};
// The message naming each criterion code (0: the select criterion's).
constexpr int32_t kCriterionName[] = {696, 400, 401, 402, 403, 404, 405, 406,
                                      407, 408, 409, 410, 411, 412, 413};

// The step the kept fit reports: the chosen one, else the last.
[[nodiscard]] int32_t reportedStep(const VsfModel* m) {
  if (m->options->choose != VC_NONE_GIVEN && m->chosenStep >= 0 && m->chosenStep < m->stepCount)
    return m->chosenStep;
  return m->stepCount - 1;
}

} // namespace

bool vsfTuneRowEmpty(const double* row) {
  return row[0] == 0 && row[1] == 0 && row[2] == 0 && row[3] == 0;
}

int32_t vsfElasticNetCriterion(const VsfModelOptions& o) {
  const int32_t c = o.choose;
  return (c == VC_NONE_GIVEN || c == VC_SL || c == VC_NONE) ? o.stop : c;
}

int32_t vsfpElasticNetParaSummary(VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  const VsfModel* m = &ctx->model;
  const bool searched = o.l2Search == L2S_GOLDEN || o.l2Search == L2S_GRID;
  VsfOut out(ctx);
  if (!out.createFactoid("ElasticNetParaSummary", "Stat.VARSIFTER.ElasticNetParaSummary",
                         vsfMsg(2001), vsfMsg(2001)))
    return 0;
  const int32_t search = o.l2Search >= L2S_NONE && o.l2Search <= L2S_GRID ? o.l2Search : L2S_NONE;
  out.entry(2002, rvqTextHandle(RvqAttrId::Value, vsfMsg(kSearchName[search])));
  if (searched) {
    out.entry(2003, rvqDouble(RvqAttrId::Value, m->l2Low));
    out.entry(2004, rvqDouble(RvqAttrId::Value, m->l2High));
    out.entry(2005, rvqInt(RvqAttrId::Value, m->l2Steps));
  }
  const int32_t c = vsfElasticNetCriterion(o);
  out.entry(2006,
            rvqTextHandle(RvqAttrId::Value, vsfMsg(kCriterionName[c >= 0 && c <= 14 ? c : 0])));
  // Under external cross validation the kept L2 is judged by the folds' averaged curve: its
  // best path position is the outcome; the final fit's own step is the selection's to show.
  const int32_t k = reportedStep(m);
  if (o.cvExternal) {
    out.entry(2008, rvqDouble(RvqAttrId::Value, m->cvexChosenValue));
  } else if (k >= 0) {
    out.entry(2007, rvqDouble(RvqAttrId::Value, m->lambdaMax));
    out.entry(2008, rvqDouble(RvqAttrId::Value, m->stepPathValue[k]));
    out.entry(2010, rvqInt(RvqAttrId::Value, m->stepEffects[k]));
  }
  out.entry(2009, rvqDouble(RvqAttrId::Value, m->finalL2));
  out.endRows();
  out.release();
  out.finish();
  return 0;
}

int32_t vsfpElasticNetL2(VsfContext* ctx) {
  VsfModel* m = &ctx->model;
  if (m->enTuneRows == nullptr)
    return 0;
  int32_t step = 0, opt = 0, nVar = 0, nSteps = 0;
  double l2 = 0, ratio = 0, value = 0, l2Norm = 0, l1Norm = 0;
  VsfOut out(ctx);
  if (!out.create("ElasticNetTuneL2", vsfMsg(665)))
    return 0;
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
  for (; shown < m->enTuneCapacity; ++shown) {
    const double* row = m->enTuneRows + 7 * static_cast<int64_t>(shown);
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
    opt = row[0] == m->finalL2 ? 1 : 0;
    out.emit();
  }
  m->enTuneCapacity = shown;
  out.endRows();
  out.publish();
  out.finish();
  return 0;
}
