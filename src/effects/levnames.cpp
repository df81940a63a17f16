// Names of model effects made from their parts (continuous variables, constructed effects,
// crossed and nested CLASS variables), level-variable lists, splitting of effects into part
// combinations, and the small list and matching helpers of the design library.
#include "effects/levnames.h"
#include "support/notfound.h"

#include "effects/effchain.h"
#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "effects/zlst.h"

#include <cstring>

namespace {

void varName(const LevVariable* vars, int32_t count, int32_t index, const char** text,
             int32_t* length) {
  *text = "";
  *length = 0;
  if (index >= 0 && index < count && vars[index].var != nullptr) {
    *text = vars[index].var->name;
    *length = vars[index].var->nameLength;
  }
}

void eftName(const LevDesign* design, int32_t index, const char** text, int32_t* length) {
  *text = "";
  *length = 0;
  if (index >= 0 && index < design->constructedCount && design->constructed[index].name) {
    *text = design->constructed[index].name;
    *length = design->constructed[index].nameLength;
  }
}

} // namespace

void zlevMakeEffectName(LevDesign* design, LevEffect* e) {
  struct Part {
    const char* text;
    int32_t length;
  };
  int32_t total = 0;
  auto each = [&](auto&& visit) {
    Part p{};
    for (int32_t i = 0; i < e->continuousCount; ++i) {
      varName(design->numerics, design->numericCount, e->continuous[i], &p.text, &p.length);
      visit(p, false);
    }
    for (int32_t i = 0; i < e->constructedCount; ++i) {
      eftName(design, e->constructed[i], &p.text, &p.length);
      visit(p, false);
    }
    for (int32_t i = 0; i < e->crossedCount; ++i) {
      varName(design->classes, design->classCount, e->crossed[i], &p.text, &p.length);
      visit(p, false);
    }
    for (int32_t i = 0; i < e->nestedCount; ++i) {
      varName(design->classes, design->classCount, e->nested[i], &p.text, &p.length);
      visit(p, true);
    }
  };
  each([&](const Part& p, bool nested) { total += p.length + (nested ? 2 : 1); });
  if (total == 0) {
    e->name = nullptr;
    return;
  }
  char* name = static_cast<char*>(levAlloc(static_cast<size_t>(total) + 2));
  if (name == nullptr)
    return;
  int32_t w = 0;
  bool inNested = false;
  each([&](const Part& p, bool nested) {
    if (nested && !inNested) {
      if (w > 0)
        name[w - 1] = '(';
      else
        name[w++] = '(';
      inNested = true;
    }
    std::memcpy(name + w, p.text, static_cast<size_t>(p.length));
    w += p.length;
    name[w++] = '*';
  });
  if (inNested) {
    name[w - 1] = ')';
    name[w] = '\0';
  } else {
    name[w - 1] = '\0';
    --w;
  }
  if (w > design->nameLen && design->nameLen > 0)
    name[design->nameLen] = '\0';
  e->name = name;
}

void zlevPrepLevList(LevDesign* design) {
  for (int32_t k = 0; k < design->effectCount; ++k) {
    LevEffect& e = design->effects[k];
    e.levelVarCount = 0;
    e.levelVars = nullptr;
    int32_t sum = 0;
    for (int32_t j = 0; j < e.constructedCount; ++j)
      sum += design->constructed[e.constructed[j]].classCount;
    if (sum == 0) {
      e.levelVarCount = e.allClassCount;
      e.levelVars = e.allClass;
      continue;
    }
    auto* list = levNew<int32_t>(static_cast<size_t>(sum + e.allClassCount));
    if (list == nullptr)
      continue;
    for (int32_t i = 0; i < sum + e.allClassCount; ++i)
      list[i] = -1;
    int32_t n = 0;
    for (int32_t j = 0; j < e.constructedCount; ++j) {
      const LevEftVar& c = design->constructed[e.constructed[j]];
      for (int32_t i = 0; i < c.classCount; ++i) {
        int32_t v = c.classes[i];
        if (zlstmem(list, n, &v, 4) < n && n > 0)
          continue;
        if (e.allClassCount > 0 && zlstmem(e.allClass, e.allClassCount, &v, 4) < e.allClassCount)
          continue;
        list[n++] = v;
      }
    }
    for (int32_t i = 0; i < e.allClassCount; ++i)
      list[n++] = e.allClass[i];
    e.levelVars = list;
    e.levelVarCount = n;
  }
}

void zlevEffectNames(LevDesign* design) {
  for (int32_t k = 0; k < design->effectCount; ++k)
    if (design->effects[k].name == nullptr)
      zlevMakeEffectName(design, &design->effects[k]);
}

VsfStatus zlevSeparate(LevDesign* design, int32_t effect, int32_t combinations) {
  LevEffect* records = design->effects + effect;
  LevEffect& base = records[0];
  int32_t m = base.constructedCount;
  auto* radix = levNew<int32_t>(static_cast<size_t>(m > 0 ? m : 1));
  auto* stride = levNew<int32_t>(static_cast<size_t>(m > 0 ? m : 1));
  if (radix == nullptr || stride == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t j = 0; j < m; ++j) {
    int32_t total = design->constructed[base.constructed[j]].partTotal;
    radix[j] = total > 1 ? total : 1;
  }
  if (m > 0) {
    stride[m - 1] = 1;
    for (int32_t j = m - 1; j > 0; --j)
      stride[j - 1] = stride[j] * radix[j];
  }
  base.name = nullptr;
  for (int32_t q = 1; q < combinations; ++q) {
    records[q] = base;
    records[q].splitCopy = 1;
    records[q].constructed = levNew<int32_t>(static_cast<size_t>(m > 0 ? m : 1));
    if (records[q].constructed == nullptr)
      return VsfStatus::NoMemory;
    std::memcpy(records[q].constructed, base.constructed, sizeof(int32_t) * static_cast<size_t>(m));
  }
  for (int32_t q = 0; q < combinations; ++q) {
    for (int32_t j = 0; j < m; ++j)
      records[q].constructed[j] += (q / stride[j]) % radix[j];
    zlevMakeEffectName(design, &records[q]);
  }
  levFree(radix, sizeof(int32_t) * static_cast<size_t>(m));
  levFree(stride, sizeof(int32_t) * static_cast<size_t>(m));
  return VsfStatus::Ok;
}

int32_t zlevNef(LevDesign* design, ParsedStatement* stmt, int32_t slotNumber, int32_t* parts) {
  OptionSlot* slot = effSlotAt(stmt, slotNumber);
  int32_t n = effListCount(slot), sum = 0;
  for (int32_t i = 0; i < n; ++i) {
    auto* node = static_cast<EffectChainNode*>(slot->items.pointers[i]);
    int32_t p = 1;
    for (int32_t k = 0; k < node->lists[1].count; ++k) {
      int32_t id = node->lists[1].items[k];
      if (id < -9999999 && design->constructedMap != nullptr)
        p *= design->constructedMap[-id - 10000000].parts;
    }
    if (parts != nullptr)
      parts[i] = p;
    sum += p;
  }
  return sum;
}

int32_t zlevEqualGlmEfs(const EffectChainNode* a, const EffectChainNode* b) {
  if (a == nullptr || b == nullptr)
    return 0;
  for (int k = 0; k < 4; ++k)
    if (EqualEffLists(a->lists[k], b->lists[k]) != 0)
      return 0;
  return 1;
}

int32_t zlevMatchGLMEfToEf(const EffectChainNode* parsed, const LevDesign* design,
                           const double* weights, int32_t* first, int32_t* count) {
  *first = -1;
  *count = 0;
  for (int32_t k = 0; k < design->effectCount; ++k) {
    const LevEffect& e = design->effects[k];
    bool match =
        e.parsed != nullptr
            ? zlevEqualGlmEfs(parsed, e.parsed) != 0
            : (e.name != nullptr &&
               static_cast<int32_t>(std::strlen(e.name)) == parsed->nameLength &&
               std::memcmp(e.name, parsed->name, static_cast<size_t>(parsed->nameLength)) == 0);
    if (!match) {
      if (*count > 0)
        break;
      continue;
    }
    if (*first < 0 && (weights == nullptr || weights[k] >= 1.0 || !e.splitCopy))
      *first = k;
    ++*count;
  }
  return *first >= 0 ? 1 : 0;
}

int32_t zlevIsOnClassList(const LevDesign* design, int32_t n, const int32_t* numbers) {
  for (int32_t i = 0; i < design->classCount; ++i) {
    int32_t number = design->classes[i].var ? design->classes[i].var->number : 0;
    if (zlstmem(numbers, n, &number, 4) < n)
      return 1;
  }
  return 0;
}

int32_t zlevPosOnClassList(const LevDesign* design, int32_t number) {
  for (int32_t i = 0; i < design->classCount; ++i)
    if (design->classes[i].var && design->classes[i].var->number == number)
      return i;
  return kVsfNotFound;
}

int32_t zlevMapClassVars(const LevDesign* design, int32_t n, int32_t* numbers) {
  int32_t replaced = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t at = zlevPosOnClassList(design, numbers[i]);
    if (at >= 0) {
      numbers[i] = -at;
      ++replaced;
    }
  }
  return replaced;
}

int32_t zlevEliminateListDups(int32_t* list, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = i + 1; j < n; ++j)
      if (list[j] == list[i] && list[i] != -1)
        list[j] = -1;
  int32_t kept = 0;
  for (int32_t i = 0; i < n; ++i)
    if (list[i] != -1)
      list[kept++] = list[i];
  return kept;
}
