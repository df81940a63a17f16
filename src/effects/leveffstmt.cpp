// EFFECT statements: a counting pass that checks the statements and sizes the records, and
// a building pass that makes the constructed-effect records (MULTIMEMBER, COLLECTION,
// SPLINE split by variable, scale and column, POLYNOMIAL one per term, LAG) and the
// constructed-effect map. Spline and polynomial options: levspline.cpp, levpoly.cpp.
#include "effects/leveffstmt.h"

#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "effects/levmod.h"
#include "effects/levpoly.h"
#include "effects/levspline.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"
#include "support/stepcodes.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

constexpr StepRc kError = StepRc::Error;
// Message of a character variable where a constructed effect needs a numeric one.

struct StatementView {
  ParsedStatement* stmt;
  const char* name;
  int32_t nameLength;
  EffectVarKind kind;
  int32_t n;        // variables after removing repeats
  int32_t* numbers; // the variables' data-set numbers (a private copy)
};

[[nodiscard]] int32_t listCount(const ParsedStatement* s, EffectSlot k) {
  const OptionSlot* slot = stmtSlot(s, k);
  return slot ? slot->value.list.count : 0;
}

const int32_t* listItems(const ParsedStatement* s, EffectSlot k) {
  const OptionSlot* slot = stmtSlot(s, k);
  return slot ? slot->items.ints : nullptr;
}

HostMsgArg nameArg(const StatementView& v) { return HostMsgArg(v.name, v.nameLength); }

HostMsgArg variableArg(HostDataSet* data, int32_t number) {
  HostVariable* var = nullptr;
  if (xvname(data, number, &var) != 0 || var == nullptr)
    return HostMsgArg("");
  return HostMsgArg(var->name, var->nameLength);
}

[[nodiscard]] VsfStatus failWith(LevDesign* design, EffMsg number,
                                 std::initializer_list<HostMsgArg> args, StepRc severity = kError) {
  vsfLog(number, args);
  levRaise(design, severity);
  return VsfStatus::ReportedFailure;
}

// Reads statement `s`: its name and its variables without repeats (first occurrence kept).
[[nodiscard]] bool view(ParsedStatement* s, StatementView& v) {
  // The rule names a kind in every EFFECT statement.
  v = StatementView{s, "", 0, stmtCode(s, EffectSlot::Kind, EffectVarKind::Collection), 0, nullptr};
  const OptionSlot* names = stmtSlot(s, EffectSlot::Name);
  // A list without a name leaves the name empty.
  if (names != nullptr)
    (void)effNameAt(names->items.names, 0, &v.name, &v.nameLength);
  int32_t count = listCount(s, EffectSlot::Variables);
  const int32_t* items = listItems(s, EffectSlot::Variables);
  v.numbers = levNew<int32_t>(static_cast<size_t>(count > 0 ? count : 1));
  if (v.numbers == nullptr)
    return false;
  for (int32_t i = 0; i < count; ++i) {
    bool repeat = false;
    for (int32_t j = 0; j < v.n && !repeat; ++j)
      repeat = v.numbers[j] == items[i];
    if (!repeat)
      v.numbers[v.n++] = items[i];
  }
  return true;
}

[[nodiscard]] bool isEffectStatement(const ParsedStatement* s) {
  return effStmtIs(s, "EFFECT ", 7);
}

// Columns of one scale of a split spline, as the building pass makes them.
[[nodiscard]] int32_t splineColumns(const SplineInfo& info, int32_t scale) {
  int32_t degree = info.natural ? 3 : info.degree;
  int32_t knots = info.knotCount;
  int32_t terms = info.tpfTerms;
  if (info.knotMethod == KM_MULTISCALE)
    return (1 << scale) + degree + 1;
  if (info.knotMethod == KM_LISTWITHBOUNDARY && info.basis == SB_BSPLINE)
    return degree == 0 ? knots : knots - degree + 1;
  if (info.basis == SB_TPF && !info.natural)
    return knots + (terms >= 1 ? degree : 0) + (terms == 2 ? 1 : 0);
  if (info.basis == SB_TPF)
    return (knots - 2 > 0 ? knots - 2 : 0) + (terms >= 1 ? 1 : 0) + (terms == 2 ? 1 : 0);
  return knots + degree + 1;
}

// The counting pass's record count of a spline statement, from the options as written.
[[nodiscard]] VsfStatus countSpline(LevDesign* design, const StatementView& v, int32_t* count) {
  const ParsedStatement* s = v.stmt;
  bool natural = stmtFlag(s, EffectFlag::Natural);
  bool columnsSplit =
      stmtFlag(s, EffectFlag::Split) || has(design->designFlags2, LevDesignFlag2::SplineSplit);
  int32_t method = stmtInt(s, EffectSlot::KnotMethod, KM_EQUAL);
  bool variablesSplit =
      columnsSplit || stmtFlag(s, EffectFlag::Separate) || method == KM_MULTISCALE;
  int32_t degree = natural ? 3 : stmtInt(s, EffectSlot::SplineDegree, 3);
  int32_t startScale = stmtInt(s, EffectSlot::StartScale, 0),
          endScale = stmtInt(s, EffectSlot::EndScale, 7);
  int32_t knots =
      (method == KM_LIST || method == KM_RANGEFRACTIONS || method == KM_LISTWITHBOUNDARY)
          ? listCount(s, EffectSlot::KnotList)
          : stmtInt(s, EffectSlot::KnotCount, 3);
  if (method == KM_MULTISCALE && endScale < startScale)
    return failWith(design, EffMsg::StartlevelAboveEndscaleSpline,
                    {startScale, endScale, nameArg(v)});
  bool noPowers = stmtFlag(s, EffectFlag::NoPowers), noInt = stmtFlag(s, EffectFlag::NoInt);
  if (natural && knots <= 2) {
    vsfLog(EffMsg::NaturalSplineTooFewKnots, {nameArg(v)});
    if (noPowers || noInt)
      knots = 2;
  }
  int32_t columns = natural ? knots : knots + 1 + degree;
  if (noPowers)
    columns -= degree + 1;
  else if (noInt)
    columns -= 1;
  if (columns < 1)
    return failWith(design, EffMsg::SplineEffectNoColumns, {nameArg(v)});
  if (!variablesSplit) {
    *count = 1;
    return VsfStatus::Ok;
  }
  // Upper bound of the parts: the building pass may make fewer.
  int64_t perVariable = 0;
  int32_t scales = method == KM_MULTISCALE ? endScale - startScale + 1 : 1;
  for (int32_t sc = 0; sc < scales; ++sc) {
    if (!columnsSplit)
      perVariable += 1;
    else if (method == KM_MULTISCALE)
      perVariable += (int64_t{1} << (startScale + sc)) + degree + 1;
    else
      perVariable += knots + degree + 1 > 1 ? knots + degree + 1 : 1;
  }
  // A TPF basis turns MULTISCALE into EQUAL when the options are read: room for that too.
  int64_t equalFallback =
      static_cast<int64_t>(columnsSplit ? stmtInt(s, EffectSlot::KnotCount, 3) + degree + 1 : 1);
  if (method == KM_MULTISCALE && equalFallback > perVariable)
    perVariable = equalFallback;
  int64_t total = perVariable * v.n;
  if (total > INT32_MAX / 2)
    return failWith(design, EffMsg::SplineEffectNoColumns, {nameArg(v)});
  *count = static_cast<int32_t>(total);
  return VsfStatus::Ok;
}

[[nodiscard]] VsfStatus countStatement(LevDesign* design, const StatementView& v, int32_t* count) {
  const ParsedStatement* s = v.stmt;
  switch (v.kind) {
  case EffectVarKind::MultiMember:
  case EffectVarKind::Collection:
    *count = 1;
    return VsfStatus::Ok;
  case EffectVarKind::Lag:
    *count = 1;
    if (listCount(s, EffectSlot::Within) > 1 || stmtSlot(s, EffectSlot::Role) != nullptr)
      ++design->lagListCount;
    return VsfStatus::Ok;
  case EffectVarKind::Polynomial: {
    int32_t parts = zlevPolyNefts(s, v.n);
    if (parts == INT32_MAX || parts < 1) {
      vsfLog(EffMsg::PolynomialEffectMoreTerms, {nameArg(v)});
      levRaise(design, kError);
      return VsfStatus::ReportedFailure;
    }
    *count = parts;
    return VsfStatus::Ok;
  }
  case EffectVarKind::Spline:
    return countSpline(design, v, count);
  }
  *count = 1;
  return VsfStatus::Ok;
}

// Numeric records for the statement's variables; refuses character variables.
[[nodiscard]] VsfStatus numericIndexes(LevDesign* design, HostDataSet* data, const StatementView& v,
                                       int32_t* indexes) {
  auto* numbers = levNew<int32_t>(static_cast<size_t>(v.n > 0 ? v.n : 1));
  if (numbers == nullptr)
    return VsfStatus::NoMemory;
  std::memcpy(numbers, v.numbers, sizeof(int32_t) * static_cast<size_t>(v.n));
  if (VsfStatus r = zlevAddContVars(data, design, v.n, numbers, indexes); r != VsfStatus::Ok)
    return r;
  bool refused = false;
  for (int32_t i = 0; i < v.n; ++i)
    if (numbers[i] > 0) {
      vsfLog(EffMsg::ConstructedVariableIsCharacter, {variableArg(data, v.numbers[i]), nameArg(v)});
      refused = true;
    }
  if (!refused)
    return VsfStatus::Ok;
  levRaise(design, kError);
  return VsfStatus::ReportedFailure;
}

// The CLASS index of a variable into *index, appended with REFERENCE coding when it is not a
// CLASS variable yet; kVsfNotFound when the variable cannot be described.
[[nodiscard]] VsfStatus addClassWithReference(LevDesign* design, HostDataSet* data, int32_t number,
                                              int32_t* index) {
  *index = levClassIndex(design, number);
  if (*index >= 0)
    return VsfStatus::Ok;
  if (VsfStatus r = zlevAddToClassList(data, design, 1, &number); r != VsfStatus::Ok)
    return r;
  *index = levClassIndex(design, number); // kVsfNotFound when it could not be described
  if (*index >= 0)
    design->classes[*index].coding = CC_REFERENCE;
  return VsfStatus::Ok;
}

struct Builder {
  LevDesign* design;
  HostDataSet* data;
  LevEftVar* records;
  int32_t capacity;
  int32_t next;

  LevEftVar* take() {
    if (next >= capacity)
      return nullptr;
    return &records[next++];
  }
};

[[nodiscard]] VsfStatus buildMultimember(Builder& b, const StatementView& v, LevEftVar* r) {
  LevDesign* design = b.design;
  const ParsedStatement* s = v.stmt;
  r->name = levStrdup(v.name, v.nameLength);
  r->nameLength = v.nameLength;
  r->noEffect = stmtFlag(s, EffectFlag::NoEffect) ? 1 : 0;
  r->stdize = stmtFlag(s, EffectFlag::Stdize) ? 1 : 0;
  const OptionSlot* weight = stmtSlot(s, EffectSlot::Weight);
  if (weight != nullptr && weight->value.list.count != v.n)
    return failWith(design, EffMsg::MultimemberWeightCountWrong, {nameArg(v)});
  r->classes = levNew<int32_t>(static_cast<size_t>(v.n));
  if (r->name == nullptr || r->classes == nullptr)
    return VsfStatus::NoMemory;
  bool allClass = true;
  for (int32_t i = 0; i < v.n; ++i) {
    int32_t at = levClassIndex(design, v.numbers[i]);
    if (at < 0) {
      vsfLog(EffMsg::MultimemberVariableNotClass, {variableArg(b.data, v.numbers[i]), nameArg(v)});
      allClass = false;
    } else {
      r->classes[i] = at;
    }
  }
  if (!allClass) {
    levRaise(design, kError);
    return VsfStatus::ReportedFailure;
  }
  r->classCount = v.n;
  for (int32_t i = 0; i < v.n; ++i)
    design->classes[r->classes[i]].multimemberMember = 1;
  if (weight != nullptr && v.n > 0) {
    StatementView w = v;
    w.numbers = levNew<int32_t>(static_cast<size_t>(v.n));
    r->numeric = levNew<int32_t>(static_cast<size_t>(v.n));
    if (w.numbers == nullptr || r->numeric == nullptr)
      return VsfStatus::NoMemory;
    std::memcpy(w.numbers, weight->items.ints, sizeof(int32_t) * static_cast<size_t>(v.n));
    if (VsfStatus rc = numericIndexes(design, b.data, w, r->numeric); rc != VsfStatus::Ok)
      return rc;
    r->numericCount = v.n;
  }
  r->memberValues = levNew<double>(static_cast<size_t>(v.n > 0 ? v.n : 1));
  return r->memberValues != nullptr ? VsfStatus::Ok : VsfStatus::NoMemory;
}

[[nodiscard]] VsfStatus buildCollection(Builder& b, const StatementView& v, LevEftVar* r) {
  LevDesign* design = b.design;
  r->name = levStrdup(v.name, v.nameLength);
  r->nameLength = v.nameLength;
  r->classes = levNew<int32_t>(static_cast<size_t>(v.n > 0 ? v.n : 1));
  auto* others = levNew<int32_t>(static_cast<size_t>(v.n > 0 ? v.n : 1));
  auto* indexes = levNew<int32_t>(static_cast<size_t>(v.n > 0 ? v.n : 1));
  if (r->name == nullptr || r->classes == nullptr || others == nullptr || indexes == nullptr)
    return VsfStatus::NoMemory;
  int32_t nOthers = 0;
  for (int32_t i = 0; i < v.n; ++i) {
    int32_t at = levClassIndex(design, v.numbers[i]);
    if (at >= 0)
      r->classes[r->classCount++] = at;
    else
      others[nOthers++] = v.numbers[i];
  }
  if (nOthers == 0)
    return VsfStatus::Ok;
  auto* numbers = levNew<int32_t>(static_cast<size_t>(nOthers));
  if (numbers == nullptr)
    return VsfStatus::NoMemory;
  std::memcpy(numbers, others, sizeof(int32_t) * static_cast<size_t>(nOthers));
  if (VsfStatus rc = zlevAddContVars(b.data, design, nOthers, numbers, indexes);
      rc != VsfStatus::Ok)
    return rc;
  bool refused = false;
  for (int32_t i = 0; i < nOthers; ++i)
    if (numbers[i] > 0) {
      vsfLog(EffMsg::CollectionVariableCharacterNotClass,
             {variableArg(b.data, others[i]), nameArg(v)});
      refused = true;
    }
  if (refused) {
    levRaise(design, kError);
    return VsfStatus::ReportedFailure;
  }
  r->numeric = indexes;
  r->numericCount = nOthers;
  return VsfStatus::Ok;
}

[[nodiscard]] VsfStatus buildLag(Builder& b, const StatementView& v, LevEftVar* r) {
  LevDesign* design = b.design;
  const ParsedStatement* s = v.stmt;
  r->name = levStrdup(v.name, v.nameLength);
  r->nameLength = v.nameLength;
  auto* lag = levNew<LagSpec>();
  if (r->name == nullptr || lag == nullptr)
    return VsfStatus::NoMemory;
  r->lag = lag;
  lag->nlag = stmtInt(s, EffectSlot::Nlag, 1);
  const OptionSlot* period = stmtSlot(s, EffectSlot::Period);
  if (period == nullptr || period->value.list.count < 1)
    return failWith(design, EffMsg::LagEffectNeedsPeriod, {nameArg(v)});
  int32_t nWithin = listCount(s, EffectSlot::Within);
  if (nWithin < 1)
    return failWith(design, EffMsg::LagEffectNeedsWithin, {nameArg(v)});
  if (addClassWithReference(design, b.data, period->items.ints[0], &lag->periodVariable) !=
      VsfStatus::Ok)
    return VsfStatus::NoMemory;
  lag->within = levNew<int32_t>(static_cast<size_t>(nWithin));
  if (lag->within == nullptr)
    return VsfStatus::NoMemory;
  if (lag->periodVariable < 0)
    return failWith(design, EffMsg::LagEffectNeedsWithin, {nameArg(v)});
  const int32_t* within = listItems(s, EffectSlot::Within);
  for (int32_t i = 0; i < nWithin; ++i) {
    if (addClassWithReference(design, b.data, within[i], &lag->within[i]) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
    if (lag->within[i] < 0)
      return failWith(design, EffMsg::LagEffectNeedsWithin, {nameArg(v)});
  }
  lag->withinCount = nWithin;
  const OptionSlot* role = stmtSlot(s, EffectSlot::Role);
  if ((nWithin > 1 || role != nullptr) && design->lagList != nullptr)
    design->lagList[design->lagListCount++] = lag;
  int32_t lagged = v.n > 0 ? levClassIndex(design, v.numbers[0]) : -1;
  if (lagged < 0)
    return failWith(design, EffMsg::LagVariableNotClass,
                    {v.n > 0 ? variableArg(b.data, v.numbers[0]) : HostMsgArg(""), nameArg(v)});
  r->classes = levNew<int32_t>(1);
  if (r->classes == nullptr)
    return VsfStatus::NoMemory;
  r->classes[0] = lagged;
  r->classCount = 1;
  lag->laggedVariable = lagged;
  lag->roleVariable = -1;
  if (role != nullptr && role->value.list.count > 0) {
    StatementView one = v;
    one.n = 1;
    one.numbers = levNew<int32_t>(1);
    int32_t index = -1;
    if (one.numbers == nullptr)
      return VsfStatus::NoMemory;
    one.numbers[0] = role->items.ints[0];
    if (VsfStatus rc = numericIndexes(design, b.data, one, &index); rc != VsfStatus::Ok)
      return rc;
    lag->roleVariable = index;
  }
  lag->levels = stmtFlag(s, EffectFlag::Levels) ? 1 : 0;
  lag->work = levAlloc(24);
  return lag->work != nullptr ? VsfStatus::Ok : VsfStatus::NoMemory;
}

[[nodiscard]] VsfStatus buildPolynomial(Builder& b, const StatementView& v, LevEftVar* first,
                                        int32_t* made) {
  LevDesign* design = b.design;
  for (int32_t i = 0; i < v.n; ++i)
    if (levClassIndex(design, v.numbers[i]) >= 0)
      return failWith(design, EffMsg::PolynomialEffectCannotContain, {nameArg(v)});
  auto* indexes = levNew<int32_t>(static_cast<size_t>(v.n > 0 ? v.n : 1));
  if (indexes == nullptr)
    return VsfStatus::NoMemory;
  if (VsfStatus rc = numericIndexes(design, b.data, v, indexes); rc != VsfStatus::Ok)
    return rc;
  auto* info = levNew<PolyInfo>();
  if (info == nullptr)
    return VsfStatus::NoMemory;
  first->poly = info;
  VsfStatus r = zlevParsePoly(design, info, v.n, indexes, v.stmt, v.name, v.nameLength);
  if (r != VsfStatus::Ok)
    return r;
  first->variableCount = v.n;
  double* termValues = levNew<double>(static_cast<size_t>(info->nTerms > 0 ? info->nTerms : 1));
  if (termValues == nullptr)
    return VsfStatus::NoMemory;
  if (info->noSeparate) {
    first->numeric = indexes;
    first->numericCount = v.n;
    first->columnCount = first->currentColumnCount = info->nTerms;
    first->termValues = termValues;
    *made = 1;
    return zlevPolyLabel(design, first, v.name, v.nameLength);
  }
  int32_t firstIndex = static_cast<int32_t>(first - b.records);
  int32_t entry = 0;
  int32_t t = 0;
  for (int32_t k = 1; k <= info->degree; ++k)
    for (int32_t c = 0; c < info->degreeCount[k - 1]; ++c, ++t) {
      LevEftVar* rec = t == 0 ? first : b.take();
      if (rec == nullptr)
        return failWith(design, EffMsg::PolynomialEffectMoreTerms, {nameArg(v)});
      rec->kind = EffectVarKind::Polynomial;
      rec->partTotal = info->nTerms;
      rec->firstPartIndex = firstIndex;
      rec->splitPart = 1;
      rec->firstPart = t == 0 ? 1 : 0;
      rec->continuation = t == 0 ? 0 : 1;
      rec->columnCount = rec->currentColumnCount = 1;
      rec->numericCount = k;
      rec->numeric = info->termList + entry;
      rec->variableCount = v.n;
      rec->termValues = termValues + t;
      rec->poly = info;
      rec->details = first->details;
      if (zlevPolyLabel(design, rec, v.name, v.nameLength) != VsfStatus::Ok)
        return VsfStatus::NoMemory;
      entry += k;
    }
  *made = t;
  return VsfStatus::Ok;
}

[[nodiscard]] VsfStatus buildSpline(Builder& b, const StatementView& v, LevEftVar* first,
                                    int32_t* made) {
  LevDesign* design = b.design;
  auto* indexes = levNew<int32_t>(static_cast<size_t>(v.n > 0 ? v.n : 1));
  if (indexes == nullptr)
    return VsfStatus::NoMemory;
  if (VsfStatus rc = numericIndexes(design, b.data, v, indexes); rc != VsfStatus::Ok)
    return rc;
  first->numeric = indexes;
  first->numericCount = v.n;
  auto* info = levNew<SplineInfo>();
  if (info == nullptr)
    return VsfStatus::NoMemory;
  first->spline = info;
  VsfStatus r = zlevParseSpline(design, info, v.n, v.stmt, v.name, v.nameLength);
  if (r != VsfStatus::Ok)
    return r;
  first->variableCount = v.n;
  if (!info->separate) {
    first->name = levStrdup(v.name, v.nameLength);
    first->nameLength = v.nameLength;
    *made = 1;
    return first->name != nullptr ? VsfStatus::Ok : VsfStatus::NoMemory;
  }
  int32_t scales = info->knotMethod == KM_MULTISCALE ? info->endScale - info->startScale + 1 : 1;
  int32_t firstIndex = static_cast<int32_t>(first - b.records);
  int32_t madeCount = 0;
  for (int32_t var = 0; var < v.n; ++var) {
    HostVariable* hv = design->numerics[indexes[var]].var;
    for (int32_t sc = 0; sc < scales; ++sc) {
      int32_t scale = info->startScale + sc;
      int32_t columns = info->split ? splineColumns(*info, scale) : 1;
      if (columns < 1)
        return failWith(design, EffMsg::SplineEffectNoColumns, {nameArg(v)});
      int32_t groupFirst = -1;
      for (int32_t col = 0; col < columns; ++col) {
        LevEftVar* rec = madeCount == 0 ? first : b.take();
        if (rec == nullptr)
          return failWith(design, EffMsg::SplineEffectNoColumns, {nameArg(v)});
        int32_t index = static_cast<int32_t>(rec - b.records);
        if (groupFirst < 0)
          groupFirst = index;
        char text[512];
        int w = std::snprintf(text, sizeof text, "%.*s", v.nameLength, v.name);
        if (v.n >= 2 && hv != nullptr)
          w += std::snprintf(text + w, sizeof text - static_cast<size_t>(w), "_%.*s",
                             hv->nameLength, hv->name);
        if (scales >= 2)
          w += std::snprintf(text + w, sizeof text - static_cast<size_t>(w), "_S%d", scale);
        if (info->split && columns >= 2)
          w += std::snprintf(text + w, sizeof text - static_cast<size_t>(w), ":%d", col + 1);
        rec->name = levStrdup(text, w);
        if (rec->name == nullptr)
          return VsfStatus::NoMemory;
        rec->nameLength = w;
        rec->kind = EffectVarKind::Spline;
        rec->splitPart = 1;
        rec->numericCount = 1;
        rec->firstPartIndex = groupFirst;
        rec->continuation = col > 0 ? 1 : 0;
        rec->variableCount = v.n;
        rec->details = first->details;
        if (rec != first) {
          rec->firstPart = 0;
          rec->numeric = indexes + var;
          auto* copy = levNew<SplineInfo>();
          if (copy == nullptr)
            return VsfStatus::NoMemory;
          *copy = *info;
          copy->varKnotCount = levNew<int32_t>(1);
          copy->varKnots = levNew<double*>(1);
          if (copy->varKnotCount == nullptr || copy->varKnots == nullptr)
            return VsfStatus::NoMemory;
          rec->spline = copy;
        }
        if (info->knotMethod == KM_MULTISCALE) {
          rec->spline->scale = levNew<int32_t>(1);
          if (rec->spline->scale == nullptr)
            return VsfStatus::NoMemory;
          *rec->spline->scale = scale;
        }
        ++madeCount;
      }
    }
  }
  for (int32_t i = 0; i < madeCount; ++i)
    b.records[firstIndex + i].partTotal = madeCount;
  *made = madeCount;
  return VsfStatus::Ok;
}

void setDelimiter(const StatementView& v, LevEftVar* first) {
  first->delimiter = ' ';
  if (!first->details)
    return;
  const OptionSlot* slot = stmtSlot(v.stmt, EffectSlot::Delimiter);
  if (slot == nullptr)
    return;
  // The host keeps the text's own length: an empty text logs EffMsg::DelimiterValueEffectEmpty,
  // more than one character logs EffMsg::DelimiterFirstCharacterOnly and the first one is used.
  int32_t length = slot->value.list.count;
  if (length < 1) {
    vsfLog(EffMsg::DelimiterValueEffectEmpty, {nameArg(v)});
    return;
  }
  first->delimiter = slot->items.text != nullptr ? slot->items.text[0] : ' ';
  if (length > 1)
    vsfLog(EffMsg::DelimiterFirstCharacterOnly, {nameArg(v)});
}

[[nodiscard]] VsfStatus makeUsageBlocks(LevDesign* design, bool moments, bool wmoments) {
  for (int which = 0; which < 2; ++which) {
    if (!(which == 0 ? moments : wmoments))
      continue;
    auto* block = levNew<NumericUsageBlock>();
    size_t n = static_cast<size_t>(design->numericCount > 0 ? design->numericCount : 1);
    if (block == nullptr || (block->first = levNew<double>(n)) == nullptr ||
        (block->second = levNew<double>(n)) == nullptr ||
        (block->list = levNew<int32_t>(n)) == nullptr)
      return VsfStatus::NoMemory;
    for (int32_t r = 0; r < design->constructedCount; ++r) {
      const LevEftVar& rec = design->constructed[r];
      for (int32_t i = 0; i < rec.numericCount; ++i)
        if (rec.numeric != nullptr && rec.numeric[i] >= 0 && rec.numeric[i] < design->numericCount)
          block->list[rec.numeric[i]] = 1;
    }
    int32_t listed = 0;
    for (int32_t i = 0; i < design->numericCount; ++i)
      if (block->list[i])
        block->list[listed++] = i;
    block->listedCount = listed;
    design->usage[which] = block;
  }
  return VsfStatus::Ok;
}

} // namespace

VsfStatus zlevProcessEffectStatements(LevDesign* design, HostDataSet* data,
                                      ConstructedEffectEntry** map) {
  ParseRoot* root = effRoot();
  ParsedStatement* firstStmt = root ? root->first : nullptr;

  // Pass 1: check every statement and size the record array.
  int32_t statements = 0;
  int64_t total = 0;
  design->lagListCount = 0;
  for (ParsedStatement* s = firstStmt; s != nullptr; s = s->next) {
    if (!isEffectStatement(s))
      continue;
    StatementView v;
    if (!view(s, v))
      return VsfStatus::NoMemory;
    if (v.n == 0)
      return failWith(design, EffMsg::EffectStatementNoVariables, {nameArg(v)},
                      StepRc::StatementError);
    int32_t count = 0;
    if (countStatement(design, v, &count) != VsfStatus::Ok)
      return VsfStatus::ReportedFailure;
    total += count;
    ++statements;
  }
  if (total > INT32_MAX / 2)
    return failWith(design, EffMsg::SplineEffectNoColumns, {HostMsgArg("")});
  int32_t lagCapacity = design->lagListCount;
  design->lagListCount = 0;
  if (statements > 0) {
    *map = levNew<ConstructedEffectEntry>(static_cast<size_t>(statements));
    design->constructed = levNew<LevEftVar>(static_cast<size_t>(total));
    if (lagCapacity > 0)
      design->lagList = levNew<LagSpec*>(static_cast<size_t>(lagCapacity));
    if (*map == nullptr || design->constructed == nullptr ||
        (lagCapacity > 0 && design->lagList == nullptr))
      return VsfStatus::NoMemory;
  }

  // Pass 2: build the records, statement after statement.
  Builder b{design, data, design->constructed, static_cast<int32_t>(total), 0};
  bool moments = false, wmoments = false;
  int32_t index = 0;
  for (ParsedStatement* s = firstStmt; s != nullptr; s = s->next) {
    if (!isEffectStatement(s))
      continue;
    StatementView v;
    if (!view(s, v))
      return VsfStatus::NoMemory;
    LevEftVar* first = b.take();
    if (first == nullptr)
      return failWith(design, EffMsg::SplineEffectNoColumns, {nameArg(v)});
    int32_t firstIndex = static_cast<int32_t>(first - b.records);
    first->kind = v.kind;
    first->firstPart = 1;
    first->details = stmtFlag(s, EffectFlag::Details) ? 1 : 0;
    int32_t made = 1;
    VsfStatus r = VsfStatus::Ok;
    switch (v.kind) {
    case EffectVarKind::MultiMember:
      r = buildMultimember(b, v, first);
      break;
    case EffectVarKind::Collection:
      r = buildCollection(b, v, first);
      break;
    case EffectVarKind::Spline:
      r = buildSpline(b, v, first, &made);
      break;
    case EffectVarKind::Polynomial:
      r = buildPolynomial(b, v, first, &made);
      if (r == VsfStatus::Ok && first->poly->standardize != PS_NONE) {
        moments = moments || first->poly->stdMethod == PM_MOMENTS;
        wmoments = wmoments || first->poly->stdMethod == PM_WMOMENTS;
      }
      break;
    case EffectVarKind::Lag:
      r = buildLag(b, v, first);
      break;
    }
    if (r != VsfStatus::Ok) {
      design->constructedCount = b.next;
      return r;
    }
    setDelimiter(v, first);
    for (int32_t i = 1; i < made; ++i)
      b.records[firstIndex + i].delimiter = first->delimiter;
    (*map)[index].first = firstIndex;
    (*map)[index].parts = made;
    first->partCount = made;
    char* label = (made == 1 && v.kind != EffectVarKind::Polynomial && first->name != nullptr)
                      ? first->name
                      : levStrdup(v.name, v.nameLength);
    if (label == nullptr)
      return VsfStatus::NoMemory;
    for (int32_t i = 0; i < made; ++i) {
      b.records[firstIndex + i].label = label;
      b.records[firstIndex + i].labelLength = v.nameLength;
    }
    ++index;
  }
  // The design counts the records that were made (the first pass may count more).
  design->constructedCount = b.next;
  if (makeUsageBlocks(design, moments, wmoments) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  design->effectStatementsDone = 1;
  return VsfStatus::Ok;
}
