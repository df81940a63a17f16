// The hand-over of a BY group's selected model to the post-fit bridge: the estimates of the
// reduced design and the error variance through the bridge's set entry, and a description
// of the selected model (CLASS levels and codings, each effect's CLASS part tabulated by
// level combination, parameters in prediction order) for the sibling's run entry. What the
// sibling makes of it is its own business.
#include "output/vsfhandover.h"

#include "design/levlevel.h"
#include "design/levrow.h"
#include "driver/vsfbridge.h"
#include "driver/vsfcontext.h"
#include "output/vsfselrow.h"
#include "support/hoststubs.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

// The largest number of level combinations tabulated for one effect.
constexpr int64_t kMaxCombinations = 200000;

const char *codingName(ClassCoding c) {
  switch (c) {
  case CC_EFFECT:
    return "EFFECT";
  case CC_ORTHEFFECT:
    return "ORTHEFFECT";
  case CC_REFERENCE:
    return "REFERENCE";
  case CC_ORTHREF:
    return "ORTHREF";
  case CC_POLYNOMIAL:
    return "POLYNOMIAL";
  case CC_ORTHPOLY:
    return "ORTHPOLY";
  case CC_ORDINAL:
    return "ORDINAL";
  case CC_ORTHORDINAL:
    return "ORTHORDINAL";
  case CC_BATHTUB:
    return "BATHTUB";
  case CC_ORTHBATHTUB:
    return "ORTHBATHTUB";
  default:
    return "GLM";
  }
}

std::string trimmed(const char *text, size_t n) {
  std::string s(text, n);
  s = s.substr(0, s.find('\0'));
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos)
    return std::string();
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

std::string variableName(const LevVariable &v) {
  return v.var != nullptr ? std::string(v.var->name, static_cast<size_t>(v.var->nameLength))
                          : std::string();
}

// The description and the storage its pointers lead into.
struct HandOver {
  PostFitModel model{};
  std::deque<std::string> texts;
  std::deque<std::vector<const char *>> textLists;
  std::deque<std::vector<int32_t>> intLists;
  std::deque<std::vector<double>> doubleLists;
  std::vector<PostFitClass> classes;
  std::vector<PostFitEffect> effects;
  std::vector<PostFitParameter> parameters;
  std::vector<int32_t> classOf;   // design CLASS index -> description index, -1
  std::vector<int32_t> numericOf; // design numeric index -> description index, -1

  const char *keep(std::string s) { return texts.emplace_back(std::move(s)).c_str(); }
};

void describeClass(HandOver &h, const LevDesign *d, int32_t j) {
  const LevVariable &v = d->classes[j];
  PostFitClass c{};
  c.name = h.keep(variableName(v));
  c.numeric = v.var != nullptr && v.var->type == 1;
  c.missingIsLevel = v.missing != 0;
  c.levelWidth = v.levelWidth;
  const bool glm = (d->designFlags & kLevFlagNonGlm) == 0;
  c.coding = codingName(glm ? CC_GLM : v.coding);
  c.levelCount = v.levelCount;
  auto &levels = h.textLists.emplace_back();
  auto &values = h.doubleLists.emplace_back();
  const auto *internal = static_cast<const LevLevelValue *>(v.levelValues);
  for (int32_t i = 0; i < v.levelCount; ++i) {
    const char *t = v.levelTexts != nullptr ? v.levelTexts[i] : nullptr;
    levels.push_back(h.keep(t != nullptr ? trimmed(t, size_t(v.levelWidth)) : std::string()));
    values.push_back(c.numeric && internal != nullptr ? internal[i].value : hostMissing());
  }
  c.levels = levels.data();
  c.values = values.data();
  c.reference = -1;
  if (!glm && v.levelCount > 1) {
    const int32_t w = v.levelCount - 1;
    auto &rows = h.doubleLists.emplace_back(size_t(v.levelCount) * size_t(w), 0.0);
    for (int32_t i = 0; i < v.levelCount; ++i)
      zlevflr(1.0, &v, rows.data() + size_t(i) * size_t(w), i, w);
    c.codingColumns = w;
    c.codingRows = rows.data();
    if (v.coding == CC_REFERENCE || v.coding == CC_EFFECT)
      for (int32_t i = 0; i < v.levelCount && c.reference < 0; ++i)
        if (std::all_of(rows.begin() + i * w, rows.begin() + (i + 1) * w,
                        [](double x) { return x <= 0; }))
          c.reference = i;
  }
  h.classOf[size_t(j)] = int32_t(h.classes.size());
  h.classes.push_back(c);
}

// The level combinations of an effect's CLASS variables (crossed then nested) and the CLASS
// part of its block for each, from the design library's own coding of a cell with value 1:
// under GLM the combinations met in the data, otherwise every combination.
bool tabulate(LevRegContext *dc, int32_t e, PostFitEffect *out, HandOver &h) {
  LevDesign *d = dc->design;
  const LevEffect &ef = d->effects[e];
  if (d->cells == nullptr || ef.constructedCount > 0)
    return false;
  std::vector<int32_t> vars(ef.crossed, ef.crossed + ef.crossedCount);
  vars.insert(vars.end(), ef.nested, ef.nested + ef.nestedCount);
  const bool glm = (d->designFlags & kLevFlagNonGlm) == 0;
  int64_t count = 1;
  if (glm && !vars.empty())
    count = ef.combinationTable != nullptr ? ef.combinationCount : 0;
  else
    for (int32_t j : vars)
      count = std::min(count * std::max(d->classes[j].levelCount, 0), kMaxCombinations + 1);
  if (count > kMaxCombinations)
    return false;
  auto &levels = h.intLists.emplace_back(size_t(count) * vars.size());
  auto &values = h.doubleLists.emplace_back(size_t(count) * size_t(ef.columnCount), 0.0);
  const std::vector<int32_t> saved(dc->levelIndex, dc->levelIndex + d->classCount);
  const EffectCell cell = d->cells[e];
  for (int64_t r = 0; r < count; ++r) {
    int32_t *combo = levels.data() + r * int64_t(vars.size());
    int64_t rest = r;
    for (size_t k = vars.size(); k-- > 0;) {
      if (glm) {
        combo[k] = ef.combinationTable[r * int64_t(vars.size()) + int64_t(k)];
      } else {
        combo[k] = int32_t(rest % d->classes[vars[k]].levelCount);
        rest /= d->classes[vars[k]].levelCount;
      }
      dc->levelIndex[vars[k]] = combo[k];
    }
    d->cells[e].value = 1.0;
    d->cells[e].column = glm ? int64_t(r) : 0;
    zlevpar(dc, e, values.data() + r * int64_t(ef.columnCount));
  }
  d->cells[e] = cell;
  std::copy(saved.begin(), saved.end(), dc->levelIndex);
  auto &classes = h.intLists.emplace_back();
  for (int32_t j : vars)
    classes.push_back(h.classOf[size_t(j)]);
  out->classCount = int32_t(vars.size());
  out->classes = classes.data();
  out->comboCount = int32_t(count);
  out->comboLevels = levels.data();
  out->comboValues = values.data();
  return true;
}

void describeEffect(HandOver &h, LevRegContext *dc, int32_t e) {
  const LevDesign *d = dc->design;
  const LevEffect &ef = d->effects[e];
  PostFitEffect out{};
  out.name = h.keep(ef.name != nullptr ? ef.name : "");
  auto &continuous = h.intLists.emplace_back();
  for (int32_t k = 0; k < ef.continuousCount; ++k)
    if (d->numerics[ef.continuous[k]].var != nullptr)
      continuous.push_back(h.numericOf[size_t(ef.continuous[k])]);
  out.continuousCount = int32_t(continuous.size());
  out.continuous = continuous.data();
  auto &constructed = h.textLists.emplace_back();
  for (int32_t k = 0; k < ef.constructedCount; ++k) {
    const LevEftVar &ev = d->constructed[ef.constructed[k]];
    constructed.push_back(h.keep(ev.label != nullptr
                                     ? std::string(ev.label, size_t(ev.labelLength))
                                     : std::string(ev.name, size_t(ev.nameLength))));
  }
  out.constructedCount = int32_t(constructed.size());
  out.constructed = constructed.data();
  out.columnCount = ef.columnCount;
  if (!tabulate(dc, e, &out, h)) {
    out.comboCount = -1;
    auto &classes = h.intLists.emplace_back();
    for (int32_t k = 0; k < ef.allClassCount; ++k)
      classes.push_back(h.classOf[size_t(ef.allClass[k])]);
    out.classCount = int32_t(classes.size());
    out.classes = classes.data();
  }
  h.effects.push_back(out);
}

void describe(HandOver &h, VsfContext *ctx, const VsfModel *m, const VsfSelectedModel &sm) {
  LevRegContext *dc = &ctx->design;
  const LevDesign *d = dc->design;
  h.classOf.assign(size_t(d->classCount), -1);
  h.numericOf.assign(size_t(d->numericCount), -1);
  for (int32_t j = 0; j < d->classCount; ++j)
    if (sm.needClass[size_t(j)])
      describeClass(h, d, j);
  auto &numerics = h.textLists.emplace_back();
  for (int32_t j = 0; j < d->numericCount; ++j)
    if (sm.needNumeric[size_t(j)] && d->numerics[j].var != nullptr) {
      h.numericOf[size_t(j)] = int32_t(numerics.size());
      numerics.push_back(h.keep(variableName(d->numerics[j])));
    }
  for (int32_t e : sm.designEffects)
    describeEffect(h, dc, e);
  for (size_t i = 0; i < sm.parms.size(); ++i) {
    PostFitParameter p{};
    const int32_t col = sm.columns[i];
    p.name = h.keep(d->columnNames != nullptr && d->columnNames[col] != nullptr
                        ? trimmed(d->columnNames[col], std::strlen(d->columnNames[col]))
                        : std::string());
    for (size_t k = 0; k < sm.designEffects.size(); ++k) {
      const LevEffect &ef = d->effects[sm.designEffects[k]];
      if (col >= ef.firstColumn && col < ef.firstColumn + ef.columnCount) {
        p.effect = int32_t(k);
        p.column = col - ef.firstColumn;
        break;
      }
    }
    p.estimate = m->beta[sm.parms[i]];
    h.parameters.push_back(p);
  }
  PostFitModel &pm = h.model;
  pm.response =
      h.keep(dc->responseCount > 0 && dc->responses != nullptr ? variableName(dc->responses[0])
                                                               : std::string());
  pm.noIntercept = (d->designFlags & kLevFlagNoIntercept) != 0;
  pm.byIndex = ctx->stmt.proc.byCount > 0 ? int32_t(ctx->byCount) : 0;
  pm.numericCount = int32_t(numerics.size());
  pm.numerics = numerics.data();
  pm.classCount = int32_t(h.classes.size());
  pm.classes = h.classes.data();
  pm.effectCount = int32_t(h.effects.size());
  pm.effects = h.effects.data();
  pm.parameterCount = int32_t(h.parameters.size());
  pm.parameters = h.parameters.data();
}

// The estimates of the reduced design: the selected design effects' blocks one after the
// other in design order, each parameter's estimate at its column.
std::vector<double> reducedEstimates(const LevDesign *d, const VsfModel *m,
                                     const VsfSelectedModel &sm) {
  std::vector<int32_t> effects = sm.designEffects;
  std::sort(effects.begin(), effects.end());
  effects.erase(std::unique(effects.begin(), effects.end()), effects.end());
  std::vector<int32_t> start(size_t(d->effectCount), -1);
  int32_t n = 0;
  for (int32_t e : effects) {
    start[size_t(e)] = n;
    n += d->effects[e].columnCount;
  }
  std::vector<double> beta(size_t(n), 0.0);
  for (size_t i = 0; i < sm.parms.size(); ++i)
    for (int32_t e : effects) {
      const LevEffect &ef = d->effects[e];
      if (sm.columns[i] >= ef.firstColumn && sm.columns[i] < ef.firstColumn + ef.columnCount)
        beta[size_t(start[size_t(e)] + sm.columns[i] - ef.firstColumn)] = m->beta[sm.parms[i]];
    }
  return beta;
}

} // namespace

int32_t vsfFormSelectedModelForBridge(VsfContext *ctx, VsfModel *m) {
  PostFitBridge *bridge = ctx->postFit;
  if (bridge == nullptr || m->fitStatus < 0)
    return 0;
  LevDesign *d = ctx->design.design;
  if (d == nullptr || d->effectCount == 0)
    return -2;
  VsfSelectedModel sm;
  vsfSelectedModelOf(ctx, m, &sm);
  if (!sm.usable)
    return 0;
  const std::vector<double> beta = reducedEstimates(d, m, sm);
  if (beta.empty())
    return -2;
  HandOver h;
  describe(h, ctx, m, sm);
  PostFitBridgeMethods *methods = bridge->methods;
  if (methods == nullptr)
    return 0;
  if (methods->set != nullptr) {
    methods->set(bridge, PFI_ESTIMATES, beta.data(), 0);
    if (ctx->postFitAllowed) {
      const double df = m->nObs - m->rank;
      bridge->statistics.values[1] = df > 0 ? std::max(m->sse, 0.0) / df : hostMissing();
      bridge->statistics.values[4] = df;
    }
    methods->set(bridge, PFI_STATISTICS, &bridge->statistics, 0);
  }
  bridge->handedWord = 0;
  bridge->model = &h.model;
  if (methods->runModel != nullptr)
    methods->runModel(bridge);
  if (methods->finish != nullptr) {
    methods->finish(bridge, 0);
    if (bridge->returnCode != 0)
      vsfRaiseRC(ctx, bridge->returnCode);
  }
  bridge->model = nullptr;
  return 0;
}
