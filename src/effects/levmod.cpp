// The design descriptor's variables: zlevmod resets the CLASS defaults, makes one record per
// numeric and CLASS variable (with level widths and offsets), then hands over to the EFFECT
// statements (leveffstmt.cpp) and the model-effect builder (levmodef.cpp).
#include "effects/levmod.h"
#include "support/notfound.h"

#include "effects/effchain.h"
#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "effects/leveffstmt.h"
#include "effects/levmodef.h"
#include "support/hoststubs.h"

#include <cstring>

namespace {

// The variable list at slot `index` of the list holder (null when there is none).
const OptionSlot* parseList(int32_t index) {
  if (index < 0)
    return nullptr;
  OptionSlot* slot = effHolderList(index);
  return slot != nullptr && slot->present ? slot : nullptr;
}

[[nodiscard]] bool describe(HostDataSet* data, int32_t number, LevVariable& record) {
  HostVariable* var = nullptr;
  if (xvname(data, number, &var) != 0 || var == nullptr)
    return false;
  var->number = number;
  record.var = var;
  return true;
}

[[nodiscard]] bool describeExtra(LevDesign* design, HostDataSet* data, void* argument,
                                 LevVariable& record) {
  ExtraVariableSource* extra = design->extra;
  auto* var = static_cast<HostVariable*>(levAlloc(sizeof(HostVariable)));
  if (var == nullptr || extra->callback == nullptr)
    return false;
  int32_t counter = 0;
  extra->callback(argument, data, var, &counter);
  record.var = var;
  return true;
}

void initClassRecord(LevDesign* design, LevVariable& v) {
  v.order = 'U';
  v.coding = design->codingDefault;
  v.descending = design->descendingDefault;
  v.referenceSelector = design->referenceDefault;
  v.missing = design->missingDefault;
  v.cprefix = -1;
  v.lprefix = -1;
}

void placeLevelText(LevDesign* design, LevVariable& v) {
  v.levelWidth = levLevelWidth(design, v.var);
  v.levelTextOffset = design->totalLevelWidth;
  design->totalLevelWidth += v.levelWidth;
  if (v.levelWidth > design->maxLevelWidth)
    design->maxLevelWidth = v.levelWidth;
}

} // namespace

int32_t levVariableNumber(const LevVariable& v) { return v.var != nullptr ? v.var->number : 0; }

int32_t levLevelWidth(const LevDesign* design, const HostVariable* var) {
  if (design->levelWidthOption == 0)
    return 16;
  if (design->levelWidthOption > 0)
    return design->levelWidthOption;
  if (var == nullptr)
    return 12;
  if (var->formatNameLength == 0 && var->informatNameLength == 0)
    return var->type == 2 ? var->length : 12;
  return var->formatWidth;
}

int32_t levClassIndex(const LevDesign* design, int32_t number) {
  for (int32_t i = 0; i < design->classCount; ++i)
    if (levVariableNumber(design->classes[i]) == number)
      return i;
  return kVsfNotFound;
}

int32_t levNumericIndex(const LevDesign* design, int32_t number) {
  for (int32_t i = 0; i < design->numericCount; ++i)
    if (levVariableNumber(design->numerics[i]) == number)
      return i;
  return kVsfNotFound;
}

VsfStatus zlevAddContVars(HostDataSet* data, LevDesign* design, int32_t n, int32_t* numbers,
                          int32_t* indexes) {
  int32_t added = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (numbers[i] <= 0)
      continue;
    int32_t at = levNumericIndex(design, numbers[i]);
    if (at >= 0) {
      numbers[i] = 0;
      indexes[i] = at;
    } else {
      indexes[i] = design->numericCount + added++;
    }
  }
  if (added == 0)
    return VsfStatus::Ok;
  auto* grown = static_cast<LevVariable*>(
      levGrow(design->numerics, sizeof(LevVariable), static_cast<size_t>(design->numericCount),
              static_cast<size_t>(design->numericCount + added)));
  if (grown == nullptr)
    return VsfStatus::NoMemory;
  design->numerics = grown;
  int32_t next = design->numericCount;
  for (int32_t i = 0; i < n; ++i) {
    if (numbers[i] <= 0)
      continue;
    LevVariable& record = design->numerics[next];
    record = LevVariable{};
    if (!describe(data, numbers[i], record) || record.var->type != 1) {
      // A character variable: its number stays, its slot is reused by the next variable.
      record = LevVariable{};
      indexes[i] = -1;
      continue;
    }
    indexes[i] = next;
    numbers[i] = 0;
    ++next;
  }
  design->numericCount = next;
  return VsfStatus::Ok;
}

VsfStatus zlevAddToClassList(HostDataSet* data, LevDesign* design, int32_t n,
                             const int32_t* numbers) {
  for (int32_t i = 0; i < n; ++i) {
    if (numbers[i] <= 0 || levClassIndex(design, numbers[i]) >= 0)
      continue;
    auto* grown = static_cast<LevVariable*>(levGrow(design->classes, sizeof(LevVariable),
                                                    static_cast<size_t>(design->classCount),
                                                    static_cast<size_t>(design->classCount) + 1));
    if (grown == nullptr)
      return VsfStatus::NoMemory;
    design->classes = grown;
    LevVariable& v = design->classes[design->classCount];
    v = LevVariable{};
    initClassRecord(design, v);
    if (!describe(data, numbers[i], v))
      return VsfStatus::Ok;
    placeLevelText(design, v);
    ++design->classCount;
  }
  return VsfStatus::Ok;
}

int32_t zlevValidateClassList(LevDesign* design, int32_t n, int32_t* numbers, int32_t* indexes) {
  int32_t result = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t at = levClassIndex(design, numbers[i]);
    if (at >= 0) {
      indexes[i] = at;
    } else {
      numbers[i] = -numbers[i];
      result = 1;
    }
  }
  return result;
}

VsfStatus zlevmod(LevDesign* design, HostDataSet* data, int32_t numericList, int32_t classList,
                  ParsedStatement* model, int32_t effectList, int32_t noIntercept,
                  int32_t builderFlag) {
  EffectParseState* state = effState();
  design->nameLen = state != nullptr ? state->nameLen : 20;
  design->worstReturnCode = 0;
  design->orderDefault = 'M';
  design->codingDefault = CC_EFFECT;
  design->descendingDefault = 0;
  design->referenceDefault = -2;
  design->missingDefault = 0;
  design->delimiter = ' ';
  ExtraVariableSource* extra = design->extra;
  int32_t extraNumeric = extra != nullptr ? extra->numericCount : 0;
  int32_t extraClass = extra != nullptr ? extra->classCount : 0;

  // Numeric variables: the MODEL statement's continuous variables, then the extras.
  int32_t n = 0;
  if (numericList >= 0 || extraNumeric > 0) {
    const OptionSlot* list = parseList(numericList);
    n = list != nullptr ? list->value.list.count : 0;
    int32_t total = n + extraNumeric;
    design->numerics = levNew<LevVariable>(static_cast<size_t>(total));
    if (design->numerics == nullptr)
      return VsfStatus::NoMemory;
    for (int32_t i = 0; i < n; ++i)
      if (!describe(data, list->items.ints[i], design->numerics[i]))
        return VsfStatus::NoMemory;
    for (int32_t i = n; i < total; ++i)
      if (!describeExtra(design, data, extra->numericArgument, design->numerics[i]))
        return VsfStatus::NoMemory;
    design->numericCount = total;
  }

  // CLASS variables: the CLASS statement's, then the extras.
  if (classList >= 0 || extraClass > 0) {
    const OptionSlot* list = parseList(classList);
    int32_t m = list != nullptr ? list->value.list.count : 0;
    // A formatting hint: it fails only for a data set not open, which the reads report.
    if (m > 0)
      (void)xffile(data, 70, list->items.ints, m);
    int32_t total = m + extraClass;
    design->classes = levNew<LevVariable>(static_cast<size_t>(total));
    if (design->classes == nullptr)
      return VsfStatus::NoMemory;
    design->totalLevelWidth = 0;
    design->maxLevelWidth = 0;
    for (int32_t i = 0; i < total; ++i) {
      LevVariable& v = design->classes[i];
      initClassRecord(design, v);
      bool ok = i < m ? describe(data, list->items.ints[i], v)
                      : describeExtra(design, data, extra->classArgument, v);
      if (!ok)
        return VsfStatus::NoMemory;
      placeLevelText(design, v);
    }
    design->classCount = total;
  }

  if (!design->effectStatementsDone) {
    VsfStatus r = zlevProcessEffectStatements(design, data, &design->constructedMap);
    if (r != VsfStatus::Ok)
      return r;
  }
  return zlevmodef(design, data, model, effectList, n, noIntercept, builderFlag);
}
