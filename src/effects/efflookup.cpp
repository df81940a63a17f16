// Name lookup of the effect callback: the constructed-effect names of the EFFECT
// statements, the variable id of a name (data set, constructed effect, factor list or new
// name), its place in the list holder's variable lists (with the sorted position index of
// shared-chain mode), and the variables of range ends and repeated factors.
#include "effects/efflookup.h"

#include "effects/effcallback.h"
#include "effects/effname.h"
#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "effects/zeffect.h"
#include "effects/zlst.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/notfound.h"
#include "support/protocol.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

namespace {

[[nodiscard]] bool isVariableOfDataSet(EffectParseState* state, const char* name, int32_t length) {
  int32_t number = 0;
  if (state->lookupVariable != nullptr) {
    state->lookupVariable(name, length, &number);
  } else {
    ParseRoot* root = effRoot();
    if (root == nullptr || root->dataSet == nullptr)
      return false;
    // A missing variable leaves the number at 0, which the next lines test.
    (void)xvfind(root->dataSet, name, length, &number, 0);
  }
  return number > 0;
}

// Position lookups of shared-chain mode: a sorted index (variable number, position) of each
// of the list holder's two lists, built on first use and kept up to date on appends.
[[nodiscard]] int64_t positionKey(int32_t number, int32_t position) {
  return (static_cast<int64_t>(number) << 32) | static_cast<uint32_t>(position);
}

[[nodiscard]] bool buildIndex(EffPositionIndex& index, const OptionSlot* list) {
  int32_t n = effListCount(list);
  if (index.capacity < n + 1) {
    int32_t capacity = n + 64;
    void* grown = levGrow(index.items, sizeof(int64_t), 0, static_cast<size_t>(capacity));
    if (grown == nullptr)
      return false;
    index.items = static_cast<int64_t*>(grown);
    index.capacity = capacity;
  }
  for (int32_t i = 0; i < n; ++i)
    index.items[i] = positionKey(list->items.ints[i], i);
  std::sort(index.items, index.items + n);
  index.count = n;
  index.built = 1;
  return true;
}

// The position of `number` in list `which` (1 or 2), or kVsfNotFound.
[[nodiscard]] int32_t indexedPosition(EffectParseState* state, int32_t which, int32_t number) {
  EffPositionIndex& index = state->positions[which - 1];
  OptionSlot* list = effHolderList(which);
  if (!index.built || index.count != effListCount(list)) {
    if (!buildIndex(index, list)) {
      int32_t n = effListCount(list);
      int32_t at = n > 0 ? zlstmem(list->items.ints, n, &number, 4) : 0;
      return at < n ? at : kVsfNotFound;
    }
  }
  int64_t* end = index.items + index.count;
  int64_t* it = std::lower_bound(index.items, end, positionKey(number, 0));
  if (it == end || static_cast<int32_t>(*it >> 32) != number)
    return kVsfNotFound;
  return static_cast<int32_t>(*it & 0xFFFFFFFF);
}

// Enters a list append in the position index when the index is current.
void indexAppend(EffectParseState* state, int32_t which, int32_t number, int32_t position) {
  EffPositionIndex& index = state->positions[which - 1];
  if (!index.built || index.count != position)
    return;
  if (index.count == index.capacity) {
    int32_t capacity = index.capacity * 2 + 64;
    void* grown = levGrow(index.items, sizeof(int64_t), static_cast<size_t>(index.count),
                          static_cast<size_t>(capacity));
    if (grown == nullptr) {
      index.built = 0;
      return;
    }
    index.items = static_cast<int64_t*>(grown);
    index.capacity = capacity;
  }
  int64_t key = positionKey(number, position);
  int64_t* end = index.items + index.count;
  int64_t* it = std::lower_bound(index.items, end, key);
  std::memmove(it + 1, it, sizeof(int64_t) * static_cast<size_t>(end - it));
  *it = key;
  ++index.count;
}

void logVariableNotFound(const EffectParseState* state, const char* name, int32_t length) {
  const HostToken* at = state->actionToken;
  ParseRoot* root = effRoot();
  const HostDataSetName data(root != nullptr ? root->dataSet : nullptr);
  vsfLog(EffMsg::VariableNotFound, {HostMsgArg(name, length), at != nullptr ? at->line : 0,
                                    at != nullptr ? at->column : 0, data.arg()});
}

} // namespace

void effResetSharedRecords(EffectParseState* state) {
  effSetClear(&state->recorded);
  effSetClear(&state->sharedChain);
  for (auto& index : state->positions) {
    levFree(index.items, sizeof(int64_t) * static_cast<size_t>(index.capacity));
    index = EffPositionIndex{};
  }
}

void BuildEftVarList(EffectParseState* state) {
  ParseRoot* root = effRoot();
  state->constructedNamesBuilt = 1;
  if (root == nullptr)
    return;
  int32_t statements = 0;
  ParsedStatement* s = root->first;
  for (; s != nullptr && !effStmtIs(s, "MODEL ", 6); s = s->next) {
    if (!effStmtIs(s, "EFFECT ", 7))
      continue;
    OptionSlot* names = effSlotAt(s, keyOf(EffectSlot::Name));
    if (names == nullptr || !names->present || names->items.names == nullptr) {
      state->constructedNamesBuilt = 0; // the name is not parsed yet: try again later
      return;
    }
    ++statements;
  }
  if (statements == 0)
    return;
  state->constructedNames = levNew<char*>(static_cast<size_t>(statements));
  if (state->constructedNames == nullptr) {
    effFail(kEffStatusNoData);
    return;
  }
  for (s = root->first; s != nullptr && !effStmtIs(s, "MODEL ", 6); s = s->next) {
    if (!effStmtIs(s, "EFFECT ", 7))
      continue;
    const char* name = nullptr;
    int32_t length = 0;
    if (effNameAt(effSlotAt(s, keyOf(EffectSlot::Name))->items.names, 0, &name, &length) != 0)
      continue;
    if (isVariableOfDataSet(state, name, length)) {
      vsfLog(EffMsg::EffectNameIsVariable, {HostMsgArg(name, length)});
      effFail(kEffStatusSyntax);
      return;
    }
    for (int32_t i = 0; i < state->constructedNameCount; ++i) {
      const char* earlier = state->constructedNames[i];
      int32_t n = static_cast<int32_t>(std::strlen(earlier));
      if (n == length && effCollate(earlier, n, name, length) == 0) {
        vsfLog(EffMsg::EffectDefinedTwice, {HostMsgArg(name, length)});
        effFail(kEffStatusSyntax);
        return;
      }
    }
    char* copy = levStrdup(name, length);
    if (copy == nullptr) {
      effFail(kEffStatusNoData);
      return;
    }
    state->constructedNames[state->constructedNameCount++] = copy;
  }
}

int32_t FindVarNum(EffectParseState* state, const char* name, int32_t length, bool* constructed,
                   int32_t nodeType) {
  *constructed = false;
  ParseRoot* root = effRoot();
  if (state->factorsSlot != 0) {
    OptionSlot* names = effSlotAt(root ? root->first : nullptr, state->factorsSlot);
    int32_t n = effNameCount(names);
    int32_t at = n > 0 ? zlstmev(names->items.names, n, name, length) : 0;
    if (n > 0 && at < n)
      return at;
    vsfLog(EffMsg::NameNotFactorsList, {HostMsgArg(name, length)});
    effFail(kEffStatusSyntax);
  }
  int32_t number = 0;
  if (state->lookupVariable != nullptr)
    state->lookupVariable(name, length, &number);
  // A missing variable leaves the number at 0, which the next lines test.
  else if (root != nullptr && root->dataSet != nullptr)
    (void)xvfind(root->dataSet, name, length, &number, 0);
  if (number != 0)
    return number;
  int32_t id = 0;
  for (int32_t i = 0; i < state->constructedNameCount; ++i) {
    const char* cname = state->constructedNames[i];
    if (effSameName(cname, static_cast<int32_t>(std::strlen(cname)), name, length)) {
      *constructed = true;
      id = kEffFirstConstructed - i;
    }
  }
  if (*constructed) {
    if (id == INT_MIN) {
      vsfLog(EffMsg::NumberConstructedEffectsReached, {9999999});
      effFail(kEffStatusSyntax);
    }
    return id;
  }
  if (state->newNames == 0) {
    if (nodeType == ECT_FACTOR)
      vsfLog(EffMsg::NameStatementNotVariable,
             {HostMsgArg(name, length), effStmtNameArg(root ? root->current : nullptr)});
    else
      logVariableNotFound(state, name, length);
    effFail(kEffStatusSyntax);
    return 0;
  }
  for (int32_t i = 0; i < state->newNameCount; ++i) {
    const char* known = state->newNameTable[i];
    int32_t n = static_cast<int32_t>(std::strlen(known));
    if (effStrip(known, n) != effStrip(name, length))
      continue;
    bool same = true;
    for (int32_t c = 0; c < effStrip(name, length) && same; ++c)
      same = std::toupper(static_cast<unsigned char>(known[c])) ==
             std::toupper(static_cast<unsigned char>(name[c]));
    if (same)
      return -2 - i;
  }
  int32_t newId = -2 - state->newNameCount;
  if (newId <= kEffFirstConstructed) {
    vsfLog(EffMsg::NumberNewNamesReached, {9999998});
    effFail(kEffStatusSyntax);
    return 0;
  }
  void* grown =
      levGrow(state->newNameTable, sizeof(char*), static_cast<size_t>(state->newNameCount),
              static_cast<size_t>(state->newNameCount) + 1);
  char* copy = levStrdup(name, length);
  if (grown == nullptr || copy == nullptr) {
    effFail(kEffStatusNoData);
    return 0;
  }
  state->newNameTable = static_cast<char**>(grown);
  state->newNameTable[state->newNameCount++] = copy;
  return newId;
}

int32_t FindListElem(EffectParseState* state, int32_t id, int32_t defaultList, int32_t* position,
                     bool constructed, int32_t nodeType) {
  int32_t code = 0;
  if (state->factorsSlot != 0) {
    *position = id;
    code = keyOf(ProcSlot::ClassVariables);
  } else if (constructed) {
    *position = id;
    return kEffListConstructed;
  } else if (id < 0) {
    *position = id;
    return kEffListNewName;
  } else {
    int32_t inDirect = kVsfNotFound, inClass = kVsfNotFound;
    if (state->shared) {
      inDirect = indexedPosition(state, keyOf(ProcSlot::DirectVariables), id);
      if (inDirect < 0)
        inClass = indexedPosition(state, keyOf(ProcSlot::ClassVariables), id);
    } else {
      OptionSlot* direct = effHolderList(keyOf(ProcSlot::DirectVariables));
      OptionSlot* classes = effHolderList(keyOf(ProcSlot::ClassVariables));
      int32_t nd = effListCount(direct), nc = effListCount(classes);
      int32_t at = nd > 0 ? zlstmem(direct->items.ints, nd, &id, 4) : nd;
      inDirect = at < nd ? at : kVsfNotFound;
      at = nc > 0 ? zlstmem(classes->items.ints, nc, &id, 4) : nc;
      inClass = inDirect < 0 && at < nc ? at : kVsfNotFound;
    }
    if (inDirect >= 0) {
      *position = inDirect;
      code = keyOf(ProcSlot::DirectVariables);
    } else if (inClass >= 0) {
      *position = inClass;
      code = keyOf(ProcSlot::ClassVariables);
    } else {
      OptionSlot* list = effHolderList(defaultList);
      int32_t index = effListAppend(list, id);
      if (index < 0)
        effListGrowthFailed(index);
      *position = index;
      code = defaultList;
      if (state->shared)
        indexAppend(state, defaultList, id, index);
    }
  }
  if (nodeType == ECT_FACTOR) {
    OptionSlot* factors = effSlotAt(effCurrentStatement(), keyOf(EffectLibSlot::FactorPositions));
    int32_t n = effListCount(factors);
    if (factors != nullptr && (n == 0 || zlstmem(factors->items.ints, n, position, 4) >= n))
      if (int32_t r = effListAppend(factors, *position); r < 0)
        effListGrowthFailed(r);
  }
  return code;
}

int32_t GetSimpleEff(EffectParseState* state, const EffectChainNode* term, const char** name,
                     int32_t* length, int32_t* number, int32_t* position) {
  if (effVariableCount(term) != 1) {
    vsfLog(EffMsg::VariableRangeEndNotSingle);
    effFail(kEffStatusSyntax);
    return 0;
  }
  ParseRoot* root = effRoot();
  if (state->factorsSlot != 0) {
    *position = term->lists[1].count > 0 ? term->lists[1].items[0] : 0;
    OptionSlot* names = effSlotAt(root ? root->first : nullptr, state->factorsSlot);
    if (names == nullptr || effNameAt(names->items.names, *position, name, length) != 0) {
      effFail(kEffStatusSyntax);
      return 0;
    }
    *number = *position;
    return keyOf(ProcSlot::ClassVariables);
  }
  // The holder list of the term's variable; the term keeps it in its list code - 1.
  int32_t code =
      term->lists[0].count > 0 ? keyOf(ProcSlot::DirectVariables) : keyOf(ProcSlot::ClassVariables);
  if (term->lists[code - 1].count == 0) {
    vsfLog(EffMsg::VariableRangeEndNotSingle); // a nested name alone is no range end
    effFail(kEffStatusSyntax);
    return 0;
  }
  *position = term->lists[code - 1].items[0];
  if (effIsConstructed(*position)) {
    // A constructed effect cannot end a variable range: a syntax error of the statement.
    vsfLog(EffMsg::OneListOperatorPerList);
    effFail(kEffStatusSyntax);
    return 0;
  }
  if (effIsNewName(*position)) {
    int32_t i = -*position - 2;
    *name = state->newNameTable[i];
    *length = static_cast<int32_t>(std::strlen(*name));
    *number = *position;
    return 5;
  }
  OptionSlot* list = effHolderList(code);
  if (*position >= effListCount(list)) {
    effFail(kEffStatusSyntax);
    return 0;
  }
  *number = list->items.ints[*position];
  if (!effVariableName(state, *number, name, length)) {
    effFail(kEffStatusSyntax);
    return 0;
  }
  return code;
}

void TruncDfltList(EffectParseState* state, const EffectChainNode* term, int32_t position,
                   int32_t number) {
  if (state->trimInhibit != 0)
    return;
  int32_t k = state->defaultList == keyOf(ProcSlot::DirectVariables) ? 0 : 1;
  for (EffectChainNode* e = state->chainHead; e != nullptr; e = e->next) {
    if (e == term)
      continue;
    const EffectIdList& l = e->lists[k];
    for (int32_t i = 0; i < l.count; ++i)
      if (l.items[i] == position)
        return;
  }
  OptionSlot* list = effHolderList(state->defaultList);
  int32_t n = effListCount(list);
  int32_t at = n > 0 ? zlstmem(list->items.ints, n, &number, 4) : 0;
  if (at < n)
    list->value.list.count = at;
}

int32_t RepeatedFactor(EffectParseState* state, const char* name, int32_t length) {
  ParsedStatement* stmt = effCurrentStatement();
  OptionSlot* names = effSlotAt(stmt, keyOf(EffectLibSlot::FactorNames));
  int32_t n = effNameCount(names);
  if (n > 0) {
    int32_t at = zlstmev(names->items.names, n, name, length);
    if (at < n)
      return at;
    vsfLog(EffMsg::FactorNotInFactorList, {HostMsgArg(name, length), effStmtNameArg(stmt)});
    effFail(kEffStatusSyntax);
    return kVsfNotFound;
  }
  bool constructed = false;
  int32_t id = FindVarNum(state, name, length, &constructed, ECT_ORDINARY);
  if (effStatus() != 0)
    return kVsfNotFound;
  int32_t position = 0;
  if (!constructed && id > 0 &&
      FindListElem(state, id, state->defaultList, &position, false, ECT_ORDINARY) ==
          keyOf(ProcSlot::ClassVariables))
    return position;
  vsfLog(EffMsg::FactorNotClassVariable, {HostMsgArg(name, length)});
  effFail(kEffStatusSyntax);
  return kVsfNotFound;
}
