// The description of a group's selected model for the post-fit bridge. The CLASS part of
// each effect is tabulated from the design library's own coding of every level combination
// (the combinations met in the data under GLM), so every coding, crossing and nesting is
// described alike; constructed effects carry what makes their values from a row.
#include "output/vsfpostfitdesc.h"

#include "design/levlevel.h"
#include "design/levreg.h"
#include "design/levrow.h"
#include "effects/levkinds.h"
#include "output/vsfcontext.h"
#include "output/vsfoutdesign.h"
#include "output/vsfselrow.h"
#include "support/hoststubs.h"

#include <algorithm>
#include <cstring>

namespace {

// The largest number of level combinations tabulated for one effect.
constexpr int64_t kMaxCombinations = 200000;

const char* codingName(ClassCoding c) {
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

std::string trimmed(const char* text, size_t n) {
  std::string s(text, n);
  s = s.substr(0, s.find('\0'));
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos)
    return std::string();
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

std::string variableName(const LevVariable& v) {
  return v.var != nullptr ? std::string(v.var->name, static_cast<size_t>(v.var->nameLength))
                          : std::string();
}

void describeClass(PostFitDescription& h, const LevDesign* d, int32_t j) {
  const LevVariable& v = d->classes[j];
  PostFitClass c{};
  c.name = h.keep(variableName(v));
  c.numeric = v.var != nullptr && v.var->type == 1;
  c.missingIsLevel = v.missing != 0;
  c.levelWidth = v.levelWidth;
  const bool glm = !has(d->designFlags, LevDesignFlag::NonGlm);
  c.coding = codingName(glm ? CC_GLM : v.coding);
  c.levelCount = v.levelCount;
  auto& levels = h.textLists.emplace_back();
  auto& values = h.doubleLists.emplace_back();
  const auto* internal = static_cast<const LevLevelValue*>(v.levelValues);
  for (int32_t i = 0; i < v.levelCount; ++i) {
    const char* t = v.levelTexts != nullptr ? v.levelTexts[i] : nullptr;
    levels.push_back(h.keep(t != nullptr ? trimmed(t, size_t(v.levelWidth)) : std::string()));
    values.push_back(c.numeric && internal != nullptr ? internal[i].value : hostMissing());
  }
  c.levels = levels.data();
  c.values = values.data();
  c.reference = -1;
  if (!glm && v.levelCount > 1) {
    const int32_t w = v.levelCount - 1;
    auto& rows = h.doubleLists.emplace_back(size_t(v.levelCount) * size_t(w), 0.0);
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

// The design's CLASS variable j in the description, added when first needed.
[[nodiscard]] int32_t classIndex(PostFitDescription& h, const LevDesign* d, int32_t j) {
  if (h.classOf[size_t(j)] < 0)
    describeClass(h, d, j);
  return h.classOf[size_t(j)];
}

// The level combinations of an effect's CLASS variables (crossed then nested) and the CLASS
// part of its block for each, from the design library's own coding of a cell with value 1:
// under GLM the combinations met in the data, otherwise every combination.
[[nodiscard]] bool tabulate(LevRegContext* dc, int32_t e, PostFitEffect* out,
                            PostFitDescription& h) {
  LevDesign* d = dc->design;
  const LevEffect& ef = d->effects[e];
  if (d->cells == nullptr)
    return false;
  std::vector<int32_t> vars(ef.crossed, ef.crossed + ef.crossedCount);
  vars.insert(vars.end(), ef.nested, ef.nested + ef.nestedCount);
  const bool glm = !has(d->designFlags, LevDesignFlag::NonGlm);
  int64_t count = 1;
  if (glm && !vars.empty())
    count = ef.combinationTable != nullptr ? ef.combinationCount : 0;
  else
    for (int32_t j : vars)
      count = std::min(count * std::max(d->classes[j].levelCount, 0), kMaxCombinations + 1);
  if (count > kMaxCombinations)
    return false;
  auto& levels = h.intLists.emplace_back(size_t(count) * vars.size());
  const int32_t width = std::max(ef.classColumnCount, 1);
  // Each combination's part is coded into one row and only its entries that are not 0 kept
  // (one per level under GLM), so that a many-level effect takes memory by its levels, not
  // their square.
  std::vector<double> row(size_t(std::max(width, ef.columnCount)), 0.0);
  auto& starts = h.int64Lists.emplace_back();
  auto& columns = h.intLists.emplace_back();
  auto& values = h.doubleLists.emplace_back();
  starts.reserve(size_t(count) + 1);
  const std::vector<int32_t> saved(dc->levelIndex, dc->levelIndex + d->classCount);
  const EffectCell cell = d->cells[e];
  for (int64_t r = 0; r < count; ++r) {
    int32_t* combo = levels.data() + r * int64_t(vars.size());
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
    zlevpar(dc, e, row.data());
    starts.push_back(int64_t(values.size()));
    // Under GLM the cell's own column is the only one coded.
    const int64_t first = glm ? std::min<int64_t>(r, width) : 0;
    const int64_t last = glm ? std::min<int64_t>(r + 1, width) : width;
    for (int64_t c = first; c < last; ++c)
      if (row[size_t(c)] != 0) {
        columns.push_back(int32_t(c));
        values.push_back(row[size_t(c)]);
        row[size_t(c)] = 0.0;
      }
  }
  starts.push_back(int64_t(values.size()));
  d->cells[e] = cell;
  std::copy(saved.begin(), saved.end(), dc->levelIndex);
  auto& classes = h.intLists.emplace_back();
  for (int32_t j : vars)
    classes.push_back(classIndex(h, d, j));
  out->classCount = int32_t(vars.size());
  out->classes = classes.data();
  out->classColumns = width;
  out->comboCount = int32_t(count);
  out->comboLevels = levels.data();
  out->comboStarts = starts.data();
  out->comboColumns = columns.data();
  out->comboValues = values.data();
  return true;
}

// The design's numeric variable j in the description, added when first needed.
int32_t numericIndex(PostFitDescription& h, const LevDesign* d, int32_t j,
                     std::vector<const char*>& names) {
  if (h.numericOf[size_t(j)] < 0) {
    h.numericOf[size_t(j)] = int32_t(names.size());
    names.push_back(h.keep(variableName(d->numerics[j])));
  }
  return h.numericOf[size_t(j)];
}

void describeSpline(PostFitDescription& h, const SplineInfo& sp, int32_t variables,
                    PostFitConstructed* c) {
  c->basis = sp.basis;
  c->natural = sp.natural;
  c->tpfTerms = sp.tpfTerms;
  c->degree = sp.degree;
  c->columnsPerVariable = sp.columnsPerVariable;
  auto& counts = h.intLists.emplace_back();
  auto& knots = h.arrayLists.emplace_back();
  for (int32_t j = 0; j < variables; ++j) {
    counts.push_back(sp.varKnotCount != nullptr ? sp.varKnotCount[j] : 0);
    auto& list = h.doubleLists.emplace_back();
    if (sp.varKnots != nullptr && sp.varKnots[j] != nullptr)
      list.assign(sp.varKnots[j], sp.varKnots[j] + counts.back());
    knots.push_back(list.data());
  }
  c->knotCounts = counts.data();
  c->knots = knots.data();
  c->reproducible = sp.varKnots != nullptr && (sp.basis == SB_BSPLINE || sp.basis == SB_TPF);
}

void describePolynomial(PostFitDescription& h, const PolyInfo& p, PostFitConstructed* c) {
  c->standardize = p.standardize;
  c->degree = p.degree;
  auto& centers = h.doubleLists.emplace_back(size_t(p.nVariables), 0.0);
  auto& scales = h.doubleLists.emplace_back(size_t(p.nVariables), 1.0);
  for (int32_t i = 0; i < p.nVariables; ++i) {
    if (p.centers != nullptr)
      centers[size_t(i)] = p.centers[i];
    if (p.scales != nullptr)
      scales[size_t(i)] = p.scales[i];
  }
  c->centers = centers.data();
  c->scales = scales.data();
  auto& starts = h.intLists.emplace_back(1, 0);
  auto& vars = h.intLists.emplace_back();
  const int32_t* term = p.termList;
  for (int32_t k = 1; k <= p.degree && term != nullptr && p.degreeCount != nullptr; ++k)
    for (int32_t t = 0; t < p.degreeCount[k - 1]; ++t, term += k) {
      for (int32_t e = 0; e < k; ++e) {
        int32_t position = 0;
        for (int32_t i = 0; i < p.nVariables; ++i)
          if (p.variables[i] == term[e])
            position = i;
        vars.push_back(position);
      }
      starts.push_back(int32_t(vars.size()));
    }
  c->termCount = int32_t(starts.size()) - 1;
  c->termStarts = starts.data();
  c->termVariables = vars.data();
  c->reproducible = p.termList != nullptr && p.degreeCount != nullptr;
}

void describeMultimember(PostFitDescription& h, const LevDesign* d, const LevEftVar& ev,
                         PostFitConstructed* c) {
  c->stdize = ev.stdize;
  c->noEffect = ev.noEffect;
  auto& maps = h.intLists.emplace_back();
  for (int32_t i = 0; i < ev.classCount && ev.memberMaps != nullptr; ++i)
    for (int32_t L = 0; L < d->classes[ev.classes[i]].levelCount; ++L)
      maps.push_back(ev.memberMaps[i][L]);
  c->memberMaps = maps.data();
  c->reproducible = ev.memberMaps != nullptr;
}

std::string constructedName(const LevEftVar& ev) {
  return ev.label != nullptr ? std::string(ev.label, size_t(ev.labelLength))
                             : std::string(ev.name, size_t(ev.nameLength));
}

// Constructed record k of the design in the description: the parameters of the record that
// computes its values and where its columns lie among them.
[[nodiscard]] int32_t describeConstructed(PostFitDescription& h, const LevDesign* d, int32_t k,
                                          std::vector<const char*>& numerics) {
  if (h.constructedOf[size_t(k)] >= 0)
    return h.constructedOf[size_t(k)];
  const LevEftVar& ev = d->constructed[k];
  const LevEftVar& src = ev.continuation ? d->constructed[ev.firstPartIndex] : ev;
  PostFitConstructed c{};
  c.name = h.keep(constructedName(ev));
  c.kind = levEffectKind(ev.kind).postFitKind;
  c.valueCount = src.valueCount;
  c.offset = ev.values != nullptr && src.values != nullptr ? int32_t(ev.values - src.values) : 0;
  c.columnCount = ev.columnCount;
  auto& nums = h.intLists.emplace_back();
  auto& classes = h.intLists.emplace_back();
  if (src.kind == EffectVarKind::Polynomial && src.poly != nullptr)
    for (int32_t i = 0; i < src.poly->nVariables; ++i)
      nums.push_back(numericIndex(h, d, src.poly->variables[i], numerics));
  else
    for (int32_t j = 0; j < src.numericCount; ++j)
      nums.push_back(numericIndex(h, d, src.numeric[j], numerics));
  for (int32_t j = 0; j < src.classCount; ++j)
    classes.push_back(classIndex(h, d, src.classes[j]));
  c.numericCount = int32_t(nums.size());
  c.numerics = nums.data();
  c.classCount = int32_t(classes.size());
  c.classes = classes.data();
  if (src.kind == EffectVarKind::Spline && src.spline != nullptr)
    describeSpline(h, *src.spline, src.numericCount, &c);
  else if (src.kind == EffectVarKind::Polynomial && src.poly != nullptr)
    describePolynomial(h, *src.poly, &c);
  else if (src.kind == EffectVarKind::MultiMember)
    describeMultimember(h, d, src, &c);
  else
    c.reproducible = src.kind == EffectVarKind::Collection;
  c.reproducible = c.reproducible && ev.values != nullptr && src.values != nullptr;
  h.constructedOf[size_t(k)] = int32_t(h.constructed.size());
  h.constructed.push_back(c);
  return h.constructedOf[size_t(k)];
}

void describeEffect(PostFitDescription& h, LevRegContext* dc, int32_t e,
                    std::vector<const char*>& numerics) {
  const LevDesign* d = dc->design;
  const LevEffect& ef = d->effects[e];
  PostFitEffect out{};
  out.name = h.keep(ef.name != nullptr ? ef.name : "");
  auto& continuous = h.intLists.emplace_back();
  for (int32_t k = 0; k < ef.continuousCount; ++k)
    if (d->numerics[ef.continuous[k]].var != nullptr)
      continuous.push_back(numericIndex(h, d, ef.continuous[k], numerics));
  out.continuousCount = int32_t(continuous.size());
  out.continuous = continuous.data();
  auto& constructed = h.intLists.emplace_back();
  for (int32_t k = 0; k < ef.constructedCount; ++k)
    constructed.push_back(describeConstructed(h, d, ef.constructed[k], numerics));
  out.constructedCount = int32_t(constructed.size());
  out.constructed = constructed.data();
  out.classPart = !(ef.continuousCount == 0 && ef.allClassCount == 0 && ef.constructedCount > 0);
  out.columnCount = ef.columnCount;
  if (!tabulate(dc, e, &out, h)) {
    out.comboCount = -1;
    auto& classes = h.intLists.emplace_back();
    for (int32_t k = 0; k < ef.allClassCount; ++k)
      classes.push_back(classIndex(h, d, ef.allClass[k]));
    out.classCount = int32_t(classes.size());
    out.classes = classes.data();
  }
  h.effects.push_back(out);
}

// The BY variables and the current group's values, read from the group's first observation.
void describeBy(PostFitDescription& h, VsfContext* ctx) {
  const int32_t n = ctx->stmt.proc.byCount;
  if (n <= 0 || zlevGetInit(&ctx->design) != VsfStatus::Ok || zlevGetNext(&ctx->design) != 1)
    return;
  auto& names = h.textLists.emplace_back();
  auto& texts = h.textLists.emplace_back();
  auto& numbers = h.doubleLists.emplace_back();
  auto& numeric = h.byNumeric;
  for (int32_t b = 0; b < n; ++b) {
    const int32_t number = ctx->stmt.proc.byNumbers[b];
    names.push_back(h.keep(vsfDataSetVariableName(ctx->data, number)));
    HostVariable* v = nullptr;
    const bool isNumber = xvname(ctx->data, number, &v) == 0 && v != nullptr && v->type == 1;
    numeric.push_back(isNumber);
    numbers.push_back(isNumber ? xobsnum(ctx->data, number) : hostMissing());
    const char* text = nullptr;
    const int32_t length = isNumber ? 0 : xobschar(ctx->data, number, &text);
    std::string value = text != nullptr ? std::string(text, size_t(std::max(length, 0))) : "";
    value.erase(value.find_last_not_of(' ') + 1);
    texts.push_back(h.keep(value));
  }
  PostFitModel& pm = h.model;
  pm.byCount = n;
  pm.byNames = names.data();
  pm.byNumeric = numeric.data();
  pm.byNumbers = numbers.data();
  pm.byTexts = texts.data();
}

} // namespace

void vsfDescribeSelectedModel(PostFitDescription& h, VsfContext* ctx, const VsfSelectedModel& sm,
                              const std::vector<double>& estimates) {
  LevRegContext* dc = &ctx->design;
  const LevDesign* d = dc->design;
  h.classOf.assign(size_t(d->classCount), -1);
  h.numericOf.assign(size_t(d->numericCount), -1);
  for (int32_t j = 0; j < d->classCount; ++j)
    if (sm.needClass[size_t(j)]) {
      describeClass(h, d, j);
      h.classes.back().needed = 1;
    }
  h.constructedOf.assign(size_t(d->constructedCount), -1);
  auto& numerics = h.textLists.emplace_back();
  for (int32_t j = 0; j < d->numericCount; ++j)
    if (sm.needNumeric[size_t(j)] && d->numerics[j].var != nullptr)
      numericIndex(h, d, j, numerics);
  for (int32_t e : sm.designEffects)
    describeEffect(h, dc, e, numerics);
  // With constructed effects in the design, a row is predicted only when every effect of the
  // design could be formed: the other effects come along, without parameters, as guards.
  if (d->constructedCount > 0)
    for (int32_t e = 0; e < d->effectCount; ++e)
      if (std::find(sm.designEffects.begin(), sm.designEffects.end(), e) ==
          sm.designEffects.end()) {
        describeEffect(h, dc, e, numerics);
        h.effects.back().guard = 1;
      }
  for (size_t i = 0; i < sm.parms.size(); ++i) {
    PostFitParameter p{};
    const int32_t col = sm.columns[i];
    p.name = h.keep(d->columnNames != nullptr && d->columnNames[col] != nullptr
                        ? trimmed(d->columnNames[col], std::strlen(d->columnNames[col]))
                        : std::string());
    for (size_t k = 0; k < sm.designEffects.size(); ++k) {
      const LevEffect& ef = d->effects[sm.designEffects[k]];
      if (col >= ef.firstColumn && col < ef.firstColumn + ef.columnCount) {
        p.effect = int32_t(k);
        p.column = col - ef.firstColumn;
        break;
      }
    }
    p.estimate = estimates[size_t(sm.parms[i])];
    h.parameters.push_back(p);
  }
  PostFitModel& pm = h.model;
  pm.response =
      h.keep(dc->responseCount > 0 && dc->responses != nullptr ? variableName(dc->responses[0])
                                                               : std::string());
  pm.noIntercept = has(d->designFlags, LevDesignFlag::NoIntercept);
  pm.byIndex = ctx->stmt.proc.byCount > 0 ? int32_t(ctx->byCount) : 0;
  describeBy(h, ctx);
  pm.numericCount = int32_t(numerics.size());
  pm.numerics = numerics.data();
  pm.constructedCount = int32_t(h.constructed.size());
  pm.constructed = h.constructed.data();
  pm.classCount = int32_t(h.classes.size());
  pm.classes = h.classes.data();
  pm.effectCount = int32_t(h.effects.size());
  pm.effects = h.effects.data();
  pm.parameterCount = int32_t(h.parameters.size());
  pm.parameters = h.parameters.data();
}

void vsfNameReducedParameters(PostFitDescription& h, const LevDesign& reduced,
                              const std::vector<int32_t>& reducedColumns) {
  h.model.reducedColumnCount = reduced.columnCount;
  for (size_t i = 0; i < h.parameters.size() && i < reducedColumns.size(); ++i) {
    PostFitParameter& p = h.parameters[i];
    const int32_t c = reducedColumns[i];
    p.reducedColumn = c;
    if (c >= 0 && reduced.columnNames != nullptr && reduced.columnNames[c] != nullptr)
      p.name = h.keep(trimmed(reduced.columnNames[c], std::strlen(reduced.columnNames[c])));
  }
}

static_assert(int32_t(PFB_BSPLINE) == int32_t(SB_BSPLINE) && int32_t(PFB_TPF) == int32_t(SB_TPF));
static_assert(int32_t(PFS_CENTERSCALE) == int32_t(PS_CENTERSCALE) &&
              int32_t(PFS_SCALE) == int32_t(PS_SCALE) && int32_t(PFS_CENTER) == int32_t(PS_CENTER));
