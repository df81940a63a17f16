// The effect-syntax callback: dispatch of the host parser's effect actions (new effect,
// variables, nesting, values, bar terms and expressions, list modes, @n, statement
// keywords after effects, shared-chain mode), name lookup and placement in the list holder's
// variable lists, and recording of effects in statement slots. Chains: effchain.cpp.
#include "effects/zeffect.h"

#include "effects/effname.h"
#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "effects/zlst.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr StepRc kStatusSyntax = StepRc::SyntaxError;
constexpr StepRc kStatusNoData = StepRc::Error;

void fail(StepRc status) { effSetStatus(status); }

ParsedStatement* currentStatement() {
  ParseRoot* root = effRoot();
  return root ? root->current : nullptr;
}

[[nodiscard]] int32_t currentSlot() {
  ParseRoot* root = effRoot();
  return root ? root->effectSlot : 0;
}

[[nodiscard]] bool isOneChar(const HostToken* t, char c) {
  return t != nullptr && t->length == 1 && t->text != nullptr && t->text[0] == c;
}

// The token's name, at most 33 characters.
void tokenName(const HostToken* token, const char** text, int32_t* length) {
  *text = token && token->text ? token->text : "";
  int32_t n = token ? token->length : 0;
  *length = n > 33 ? 33 : n;
}

HostMsgArg stmtNameArg(const ParsedStatement* stmt) {
  return stmt ? HostMsgArg(stmt->name, effStmtNameLength(stmt)) : HostMsgArg("");
}

void clearCounters(EffectParseState* state) {
  std::memset(state->counters, 0, sizeof state->counters);
  state->orderLimit = 0;
}

[[nodiscard]] int32_t counterSum(const EffectParseState* state) {
  int32_t sum = 0;
  for (int k = 0; k < 8; ++k)
    sum += state->counters[k];
  return sum;
}

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

// The type of data-set variable `number` (1 numeric, 2 character; 0 unknown).
[[nodiscard]] int32_t variableType(EffectParseState* state, int32_t number) {
  if (state->describeVariable != nullptr) {
    const char* text = nullptr;
    int32_t length = 0, type = 0;
    state->describeVariable(number, &text, &length, &type);
    return type;
  }
  ParseRoot* root = effRoot();
  HostVariable* var = nullptr;
  if (root == nullptr || xvname(root->dataSet, number, &var) != 0 || var == nullptr)
    return 0;
  return var->type;
}

void resetState(EffectParseState* state, int32_t nameLen, int32_t defaultList) {
  state->chainHead = nullptr;
  state->chainTail = &state->chainHead;
  state->barHead = nullptr;
  state->barTail = &state->barHead;
  state->nameLen = nameLen;
  state->defaultList = defaultList;
  state->listMode = 0;
  state->directRestriction = 0;
  state->orderLimit = 0;
  state->factorsSlot = 0;
  state->savedCount = 0;
  state->action = 0;
  state->actionToken = nullptr;
}

void installCallback(ParseRoot* root) {
  if (root != nullptr && root->effectAction == nullptr)
    root->effectAction = zeffect;
}

// A name literal 'text'n or "text"N is taken without its quotes and the letter.
void stripNameLiteral(const char** text, int32_t* length) {
  const char* t = *text;
  int32_t n = *length;
  if (n > 3 && (t[0] == '\'' || t[0] == '"') && (t[n - 1] == 'n' || t[n - 1] == 'N') &&
      t[n - 2] == t[0]) {
    *text = t + 1;
    *length = n - 3;
  }
}

// Moves the current node to the statement: the name it takes after a single variable.
void nameAfterVariable(EffectParseState* state, EffectChainNode* node, int32_t id,
                       bool constructed) {
  const char* text = nullptr;
  int32_t length = 0;
  bool ok = false;
  if (constructed) {
    int32_t i = kEffFirstConstructed - id;
    if (i >= 0 && i < state->constructedNameCount) {
      text = state->constructedNames[i];
      length = static_cast<int32_t>(std::strlen(text));
      ok = true;
    }
  } else if (effIsNewName(id)) {
    int32_t i = -id - 2;
    if (i < state->newNameCount) {
      text = state->newNameTable[i];
      length = static_cast<int32_t>(std::strlen(text));
      ok = true;
    }
  } else if (state->factorsSlot != 0) {
    ParseRoot* root = effRoot();
    OptionSlot* names = effSlotAt(root ? root->first : nullptr, state->factorsSlot);
    ok = names && names->present && effNameAt(names->items.names, id, &text, &length) == 0;
  } else {
    ok = effVariableName(state, id, &text, &length);
  }
  if (!ok) {
    FillEffName(state, node);
    return;
  }
  char* buffer = levStrdup(text, length);
  if (buffer == nullptr)
    return;
  node->name = buffer;
  node->nameLength = length;
  node->nameCapacity = length + 1;
}

// EffectCode::Variable: a variable of the current term.
void actionVariable(EffectParseState* state, HostParser* parser, const HostToken* token) {
  EffectChainNode* node = state->current;
  if (node == nullptr)
    return;
  const char* name = nullptr;
  int32_t length = 0;
  tokenName(token, &name, &length);
  if (node->type == ECT_FACTOR) {
    int32_t position = RepeatedFactor(state, name, length);
    if (position >= 0)
      (void)InsertElemInList(state, position, node, keyOf(ProcSlot::ClassVariables),
                             nullptr); // a failure is kept in the parse status
    return;
  }
  const HostToken* next = yttkpk(parser, 1);
  if (isOneChar(next, ';')) {
    ytokrla(parser);
    next = yttkpk(parser, 1);
  }
  int32_t id = 0;
  bool constructed = false;
  if (isOneChar(next, ':')) {
    state->prefixToken = const_cast<HostToken*>(token);
    bool noRange = true; // no bar and no range operator before the prefix
    for (int k = EffectItem::Bar; k <= EffectItem::CharacterRange; ++k)
      noRange = noRange && state->counters[k] == 0;
    if (!noRange || token == state->starToken) {
      vsfLog(EffMsg::NamePrefixVariableList);
      fail(kStatusSyntax);
      zeffre(nullptr, node);
      state->current = nullptr;
      return;
    }
    ParseRoot* root = effRoot();
    HostVarList list{};
    if (root == nullptr || root->dataSet == nullptr) {
      vsfLog(EffMsg::VariableListNeedsInput);
      fail(kStatusNoData);
      return;
    }
    int32_t code = zaddvar(root->dataSet, &list, 3, 0, name, length, nullptr, 0, HLK_PREFIX);
    if (code != 0)
      zadverr(root, root->dataSet, 0, name, length, nullptr, 0, &list, 0, HLK_PREFIX, code);
    if (list.count < 1 || list.numbers == nullptr) {
      fail(kStatusSyntax);
      return;
    }
    id = list.numbers[0];
  } else {
    id = FindVarNum(state, name, length, &constructed, node->type);
    if (effStatus() != 0)
      return;
  }
  int32_t position = 0;
  int32_t listCode =
      FindListElem(state, id,
                   state->listMode == EffectListMode::ClassList ? keyOf(ProcSlot::ClassVariables)
                                                                : state->defaultList,
                   &position, constructed, node->type);
  if (effStatus() != 0)
    return;
  next = yttkpk(parser, 1);
  if (isOneChar(next, ';')) {
    ytokrla(parser);
  } else if (isOneChar(next, '*')) {
    const HostToken* after = yttkpk(parser, 2);
    if (isOneChar(after, ';'))
      ytokrla(parser);
    state->starToken = const_cast<HostToken*>(after);
  } else {
    state->starToken = nullptr;
  }
  (void)InsertElemInList(state, position, node, listCode,
                         nullptr); // a failure is kept in the parse status
}

// EffectCode::Nested: a variable inside parentheses.
void actionNested(EffectParseState* state, const HostToken* token) {
  EffectChainNode* node = state->current;
  if (node == nullptr)
    return;
  const char* name = nullptr;
  int32_t length = 0;
  tokenName(token, &name, &length);
  int32_t position = 0;
  if (node->type == ECT_FACTOR) {
    position = RepeatedFactor(state, name, length);
    if (position < 0)
      return;
  } else {
    bool constructed = false;
    int32_t id = FindVarNum(state, name, length, &constructed, node->type);
    if (effStatus() != 0)
      return;
    if (id < -1) {
      vsfLog(EffMsg::ConstructedEffectUnknownName, {HostMsgArg(name, length)});
      fail(kStatusSyntax);
      return;
    }
    int32_t code = FindListElem(state, id, state->defaultList, &position, false, node->type);
    if (effStatus() != 0)
      return;
    if (code == keyOf(ProcSlot::DirectVariables)) {
      vsfLog(EffMsg::ContinuousVariableCannotUsed);
      fail(kStatusSyntax);
      return;
    }
  }
  node->code = position;
  (void)InsertElemInList(state, position, node, kEffListNested,
                         nullptr); // a failure is kept in the parse status
}

// EffectCode::NestedValue: the nested variable just added becomes a var=value item.
void actionNestedValue(EffectParseState* state) {
  EffectChainNode* node = state->current;
  ParsedStatement* stmt = currentStatement();
  if (node == nullptr)
    return;
  char value[17];
  std::memset(value, ' ', 16);
  value[16] = '\0';
  OptionSlot* slot = effSlotAt(stmt, keyOf(EffectLibSlot::NestedValue));
  if (slot != nullptr && slot->kind == 1) {
    char buffer[64];
    int32_t n = xpfs(buffer, -16, 99, slot->value.number);
    if (n > 16)
      n = 16;
    if (n > 0)
      std::memcpy(value, buffer, static_cast<size_t>(n));
  } else if (slot != nullptr && slot->items.text != nullptr) {
    int32_t n = slot->value.list.count;
    if (n > 16)
      n = 16;
    if (n > 0)
      std::memcpy(value, slot->items.text, static_cast<size_t>(n));
  }
  int32_t position = node->code;
  if (InsertElemInList(state, position, node, kEffListNestedValue, value, true) != 0)
    return;
  EffectIdList& nested = node->lists[2];
  for (int32_t i = 0; i < nested.count; ++i)
    if (nested.items[i] == position) {
      std::memmove(nested.items + i, nested.items + i + 1,
                   sizeof(int32_t) * static_cast<size_t>(nested.count - i - 1));
      --nested.count;
      break;
    }
}

// EffectCode::EndEffect: end of an effect written without bars.
void actionEndEffect(EffectParseState* state) {
  EffectChainNode* node = state->current;
  ParsedStatement* stmt = currentStatement();
  if (node == nullptr)
    return;
  if (state->defaultList == keyOf(ProcSlot::ClassVariables) && effStmtIs(stmt, "MODEL ", 6) &&
      currentSlot() == keyOf(EffectLibSlot::ModelClassEffects))
    node->code = kEffCodeModelClass;
  EffectChainNode* out = nullptr;
  int32_t r = AddEffToChain(state, node, &state->chainHead, &state->chainTail, &out,
                            state->shared ? &state->sharedChain : nullptr, &state->runningCount,
                            state->listMode);
  state->current = nullptr;
  if (r < 0)
    return;
  if (r == 0)
    zeffre(nullptr, node);
  else
    FillEffName(state, node);
  if (out != nullptr)
    AddEffToList(state, stmt, currentSlot(), out);
}

// EffectCode::EndTerm: the current node ends one bar term.
void actionEndTerm(EffectParseState* state) {
  if (state->barHead == nullptr)
    clearCounters(state);
  EffectChainNode* node = state->current;
  if (node == nullptr)
    return;
  node->next = nullptr;
  *state->barTail = node;
  state->barTail = &node->next;
  state->current = nullptr;
  ParseRoot* root = effRoot();
  if (root != nullptr && root->semanticTrace)
    PrintEffect(node);
}

void freeBarTerms(EffectParseState* state) {
  EffectChainNode* t = state->barHead;
  while (t != nullptr) {
    EffectChainNode* n = t->next;
    zeffre(nullptr, t);
    t = n;
  }
  state->barHead = nullptr;
  state->barTail = &state->barHead;
}

// The two ends of a variable list as its names were written (copied, at most 33
// characters, and without name-literal quotes): the ends of a range (k 1-4), or the prefix
// of a prefix list (k 5).
struct ListEnds {
  const char* first = nullptr;
  int32_t firstLength = 0;
  const char* second = nullptr;
  int32_t secondLength = 0;
  char firstCopy[40] = {0}, secondCopy[40] = {0};
};

// Reads the ends of the list of kind k from the bar terms (or the saved prefix token) and
// frees the bar terms; false (status set) when an end is missing or not a simple name.
[[nodiscard]] bool readListEnds(EffectParseState* state, int32_t k, ListEnds& ends) {
  const char*& first = ends.first;
  int32_t& firstLength = ends.firstLength;
  const char*& second = ends.second;
  int32_t& secondLength = ends.secondLength;
  char* firstCopy = ends.firstCopy;
  char* secondCopy = ends.secondCopy;
  if (k >= EffectItem::Numbered && k <= EffectItem::CharacterRange) {
    EffectChainNode* a = state->barHead;
    EffectChainNode* b = a ? a->next : nullptr;
    if (a == nullptr || b == nullptr) {
      vsfLog(EffMsg::EachEndVariableRange);
      fail(kStatusSyntax);
      freeBarTerms(state);
      return false;
    }
    int32_t numberA = 0, positionA = 0, numberB = 0, positionB = 0;
    int32_t codeA = GetSimpleEff(state, a, &first, &firstLength, &numberA, &positionA);
    if (codeA == 0) {
      freeBarTerms(state);
      return false;
    }
    firstLength = firstLength > 33 ? 33 : firstLength;
    std::memcpy(firstCopy, first, static_cast<size_t>(firstLength));
    int32_t codeB = GetSimpleEff(state, b, &second, &secondLength, &numberB, &positionB);
    if (codeB == 0) {
      freeBarTerms(state);
      return false;
    }
    secondLength = secondLength > 33 ? 33 : secondLength;
    // Both ends are read before the default list is cut back (the cut drops what follows).
    if (codeA == state->defaultList)
      TruncDfltList(state, a, positionA, numberA);
    if (codeB == state->defaultList)
      TruncDfltList(state, b, positionB, numberB);
    std::memcpy(secondCopy, second, static_cast<size_t>(secondLength));
    first = firstCopy;
    second = secondCopy;
    freeBarTerms(state);
  } else if (k == EffectItem::Prefix) {
    auto* saved = static_cast<const HostToken*>(state->prefixToken);
    if (saved == nullptr) {
      vsfLog(EffMsg::NamePrefixVariableList);
      fail(kStatusSyntax);
      freeBarTerms(state);
      return false;
    }
    tokenName(saved, &first, &firstLength);
    std::memcpy(firstCopy, first, static_cast<size_t>(firstLength));
    first = firstCopy;
    state->prefixToken = nullptr;
    freeBarTerms(state);
  } else {
    freeBarTerms(state);
  }
  if (first != nullptr)
    stripNameLiteral(&first, &firstLength);
  if (second != nullptr)
    stripNameLiteral(&second, &secondLength);
  return true;
}

// The data-set numbers of the variables of the list (from the data set, or for names the
// data set does not have yet: a numbered range by name, a range of variable numbers);
// false with the status set when the list cannot be expanded.
[[nodiscard]] bool listVariableNumbers(EffectParseState* state, int32_t k, const ListEnds& ends,
                                       int32_t*& ids, int32_t& count) {
  ParseRoot* root = effRoot();
  HostVarList list{};
  const char* first = ends.first;
  int32_t firstLength = ends.firstLength;
  const char* second = ends.second;
  int32_t secondLength = ends.secondLength;
  if (state->factorsSlot == 0 && (state->newNames == 0 || k != EffectItem::Numbered)) {
    if (root == nullptr || root->dataSet == nullptr) {
      vsfLog(EffMsg::VariableListNeedsInput);
      fail(kStatusNoData);
      return false;
    }
    int32_t code =
        zaddvar(root->dataSet, &list, 3, 0, first, firstLength, second, secondLength, k + 1);
    if (code != 0) {
      zadverr(root, root->dataSet, 0, first, firstLength, second, secondLength, &list, 0, k + 1,
              code);
      if (effStatus() == 0)
        fail(kStatusSyntax);
      return false;
    }
    ids = list.numbers;
    count = list.count;
  } else if (k == EffectItem::Numbered) {
    int32_t code =
        zaddvar(nullptr, &list, 7, 0, first, firstLength, second, secondLength, HLK_NUMBERED);
    if (code != 0 || list.names == nullptr) {
      fail(kStatusSyntax);
      return false;
    }
    ids = levNew<int32_t>(static_cast<size_t>(list.count));
    if (ids == nullptr) {
      fail(kStatusNoData);
      return false;
    }
    for (int32_t i = 0; i < list.count; ++i) {
      bool constructed = false;
      int32_t len =
          list.nameLengths ? list.nameLengths[i] : static_cast<int32_t>(std::strlen(list.names[i]));
      ids[i] = FindVarNum(state, list.names[i], len, &constructed, ECT_ORDINARY);
      if (effStatus() != 0)
        return false;
    }
    count = list.count;
  } else if (k == EffectItem::Positional) {
    bool constructed = false;
    int32_t a = FindVarNum(state, first, firstLength, &constructed, ECT_ORDINARY);
    int32_t b = FindVarNum(state, second, secondLength, &constructed, ECT_ORDINARY);
    if (effStatus() != 0)
      return false;
    if (b < a) {
      vsfLog(EffMsg::PositionalVariableRangeGiven);
      fail(kStatusSyntax);
      return false;
    }
    count = b - a + 1;
    ids = levNew<int32_t>(static_cast<size_t>(count));
    if (ids == nullptr) {
      fail(kStatusNoData);
      return false;
    }
    for (int32_t i = 0; i < count; ++i)
      ids[i] = a + i;
  }
  return true;
}

// Adds one effect per variable of the list (for a prefix list, the bar effects of each).
void addListEffects(EffectParseState* state, int32_t k, const int32_t* ids, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    EffectChainNode* node = effNewNode(state);
    if (node == nullptr) {
      fail(kStatusNoData);
      break;
    }
    int32_t position = 0;
    int32_t code = FindListElem(state, ids[i], state->defaultList, &position, false, ECT_ORDINARY);
    if (effStatus() != 0) {
      zeffre(nullptr, node);
      break;
    }
    (void)InsertElemInList(state, position, node, code,
                           nullptr); // a failure is kept in the parse status
    int32_t r;
    if (k == EffectItem::Prefix) {
      state->barHead = node;
      state->barTail = &node->next;
      r = AddBarEffects(state);
    } else {
      r = AddEffect(state, node, ids[i], false);
      if (r == 0)
        zeffre(nullptr, node);
    }
    if (r < 0)
      break;
  }
}

// EffectCode::EndExpression, list branch: a variable list (range, prefix, _NUMERIC_, _CHARACTER_).
void expandVariableList(EffectParseState* state) {
  int32_t sum = counterSum(state);
  if (sum != 1) {
    vsfLog(EffMsg::OnlyOneListOperator);
    fail(kStatusSyntax);
    freeBarTerms(state);
    return;
  }
  int32_t k = EffectItem::Numbered;
  while (k <= EffectItem::Character && state->counters[k] == 0)
    ++k;
  ListEnds ends;
  if (!readListEnds(state, k, ends))
    return;
  int32_t* ids = nullptr;
  int32_t count = 0;
  if (!listVariableNumbers(state, k, ends, ids, count))
    return;
  addListEffects(state, k, ids, count);
}

// EffectCode::EndExpression, last steps: refuse character variables among the direct variables.
void checkDirectVariables(EffectParseState* state) {
  if (state->defaultList != keyOf(ProcSlot::DirectVariables))
    return;
  OptionSlot* direct = effHolderList(keyOf(ProcSlot::DirectVariables));
  int32_t count = effListCount(direct);
  for (int32_t i = state->savedCount; i < count; ++i) {
    int32_t number = direct->items.ints[i];
    if (variableType(state, number) != 2)
      continue;
    const char* text = "";
    int32_t length = 0;
    // A variable without a name is still refused; the message then names it as empty.
    (void)effVariableName(state, number, &text, &length);
    vsfLog(EffMsg::VariableCharacterVariableCannot, {HostMsgArg(text, length)});
    direct->value.list.count = state->savedCount;
    fail(kStatusSyntax);
    return;
  }
}

void actionEndExpression(EffectParseState* state) {
  int32_t sum = counterSum(state);
  if (sum == state->counters[EffectItem::Bar]) {
    if (state->barHead == nullptr && state->current != nullptr)
      actionEndTerm(state);
    (void)AddBarEffects(state); // a failure is kept in the parse status
  } else {
    expandVariableList(state);
  }
  if (effStatus() == 0)
    checkDirectVariables(state);
  clearCounters(state);
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

// The position of `number` in list `which` (1 or 2), or -1.
[[nodiscard]] int32_t indexedPosition(EffectParseState* state, int32_t which, int32_t number) {
  EffPositionIndex& index = state->positions[which - 1];
  OptionSlot* list = effHolderList(which);
  if (!index.built || index.count != effListCount(list)) {
    if (!buildIndex(index, list)) {
      int32_t n = effListCount(list);
      int32_t at = n > 0 ? zlstmem(list->items.ints, n, &number, 4) : 0;
      return at < n ? at : -1;
    }
  }
  int64_t* end = index.items + index.count;
  int64_t* it = std::lower_bound(index.items, end, positionKey(number, 0));
  if (it == end || static_cast<int32_t>(*it >> 32) != number)
    return -1;
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

void resetSharedRecords(EffectParseState* state) {
  effSetClear(&state->recorded);
  effSetClear(&state->sharedChain);
  for (auto& index : state->positions) {
    levFree(index.items, sizeof(int64_t) * static_cast<size_t>(index.capacity));
    index = EffPositionIndex{};
  }
}

} // namespace

EffectParseState* zefprsi(int32_t nameLen, int32_t defaultList) {
  auto* state = levNew<EffectParseState>();
  if (state != nullptr)
    resetState(state, nameLen, defaultList);
  ParseRoot* root = effRoot();
  installCallback(root);
  if (root != nullptr)
    root->effectState = state;
  return state;
}

EffectParseState* zefprss(int32_t nameLen, int32_t defaultList, EffectParseState* state) {
  if (state != nullptr)
    resetState(state, nameLen, defaultList);
  installCallback(effRoot());
  return state;
}

void zefprsf(ParseRoot* root) { installCallback(root); }

int32_t SupportColon() { return 1; }

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
    fail(kStatusNoData);
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
      vsfLog(EffMsg::EffectStatementNameName, {HostMsgArg(name, length)});
      fail(kStatusSyntax);
      return;
    }
    for (int32_t i = 0; i < state->constructedNameCount; ++i) {
      const char* earlier = state->constructedNames[i];
      int32_t n = static_cast<int32_t>(std::strlen(earlier));
      if (n == length && effCollate(earlier, n, name, length) == 0) {
        vsfLog(EffMsg::TwoEffectStatementsDefine, {HostMsgArg(name, length)});
        fail(kStatusSyntax);
        return;
      }
    }
    char* copy = levStrdup(name, length);
    if (copy == nullptr) {
      fail(kStatusNoData);
      return;
    }
    state->constructedNames[state->constructedNameCount++] = copy;
  }
}

namespace {
// An effect's variable that the input data set does not hold, named with its place.
void logVariableNotFound(const EffectParseState* state, const char* name, int32_t length) {
  const HostToken* at = state->actionToken;
  ParseRoot* root = effRoot();
  const HostDataSetName data(root != nullptr ? root->dataSet : nullptr);
  vsfLog(EffMsg::VariableNotFound, {HostMsgArg(name, length), at != nullptr ? at->line : 0,
                                    at != nullptr ? at->column : 0, data.arg()});
}
} // namespace

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
    fail(kStatusSyntax);
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
      fail(kStatusSyntax);
    }
    return id;
  }
  if (state->newNames == 0) {
    if (nodeType == ECT_FACTOR)
      vsfLog(EffMsg::NameStatementNotVariable,
             {HostMsgArg(name, length), stmtNameArg(root ? root->current : nullptr)});
    else
      logVariableNotFound(state, name, length);
    fail(kStatusSyntax);
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
    fail(kStatusSyntax);
    return 0;
  }
  void* grown =
      levGrow(state->newNameTable, sizeof(char*), static_cast<size_t>(state->newNameCount),
              static_cast<size_t>(state->newNameCount) + 1);
  char* copy = levStrdup(name, length);
  if (grown == nullptr || copy == nullptr) {
    fail(kStatusNoData);
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
    int32_t inDirect = -1, inClass = -1;
    if (state->shared) {
      inDirect = indexedPosition(state, keyOf(ProcSlot::DirectVariables), id);
      if (inDirect < 0)
        inClass = indexedPosition(state, keyOf(ProcSlot::ClassVariables), id);
    } else {
      OptionSlot* direct = effHolderList(keyOf(ProcSlot::DirectVariables));
      OptionSlot* classes = effHolderList(keyOf(ProcSlot::ClassVariables));
      int32_t nd = effListCount(direct), nc = effListCount(classes);
      int32_t at = nd > 0 ? zlstmem(direct->items.ints, nd, &id, 4) : nd;
      inDirect = at < nd ? at : -1;
      at = nc > 0 ? zlstmem(classes->items.ints, nc, &id, 4) : nc;
      inClass = inDirect < 0 && at < nc ? at : -1;
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
    OptionSlot* factors = effSlotAt(currentStatement(), keyOf(EffectLibSlot::FactorPositions));
    int32_t n = effListCount(factors);
    if (factors != nullptr && (n == 0 || zlstmem(factors->items.ints, n, position, 4) >= n))
      if (int32_t r = effListAppend(factors, *position); r < 0)
        effListGrowthFailed(r);
  }
  return code;
}

int32_t AddEffect(EffectParseState* state, EffectChainNode* node, int32_t id, bool constructed) {
  EffectChainNode* out = nullptr;
  int32_t r = AddEffToChain(state, node, &state->chainHead, &state->chainTail, &out,
                            state->shared ? &state->sharedChain : nullptr, &state->runningCount,
                            state->listMode);
  state->current = out;
  if (r < 0)
    return -1;
  if (r == 0) {
    if (out == nullptr)
      return 0;
    if (out->type == ECT_FACTOR)
      FillEffName(state, out);
  } else if (id == -1) {
    FillEffName(state, node);
  } else {
    nameAfterVariable(state, node, id, constructed);
  }
  AddEffToList(state, currentStatement(), currentSlot(), out);
  state->current = nullptr;
  if (effStatus() != 0)
    return -1;
  ParseRoot* root = effRoot();
  if (root != nullptr && root->semanticTrace)
    effTraceLine("%.*s", out->nameLength, out->name);
  return r;
}

void AddEffToList(EffectParseState* state, ParsedStatement* stmt, int32_t slotNumber,
                  EffectChainNode* effect) {
  if (stmt == nullptr || effect == nullptr)
    return;
  if (state->defaultList == keyOf(ProcSlot::ClassVariables) && effStmtIs(stmt, "MODEL ", 6) &&
      slotNumber == keyOf(EffectLibSlot::ModelClassEffects) &&
      effect->lists[1].count != effListCount(effHolderList(keyOf(ProcSlot::ClassVariables))))
    effect->code = kEffCodePartialClass;
  OptionSlot* slot = effSlotAt(stmt, slotNumber);
  if (slot == nullptr)
    return;
  bool found = false;
  int32_t at = 0;
  auto byAddress = [](const void* a, const void* b, void*) -> int32_t {
    auto pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
    return pa < pb ? -1 : (pa > pb ? 1 : 0);
  };
  if (state->shared) {
    at = effSetFind(&state->recorded, effect, byAddress, nullptr, &found);
    if (found)
      return;
  } else if (!effStmtIs(stmt, "CONTRAST", 8) && !effStmtIs(stmt, "ESTIMATE", 8) &&
             !effStmtIs(stmt, "SLICE", 5) && !effStmtIs(stmt, "RESTRICT", 8) &&
             !effStmtIs(stmt, "TEST", 4)) {
    int32_t n = effListCount(slot);
    for (int32_t i = 0; i < n; ++i)
      if (slot->items.pointers[i] == effect)
        return;
  }
  if (effListCount(slot) > 2147483646) {
    vsfLog(EffMsg::NumberEffectsReachedLimit, {2147483647});
    xexit(StepRc::Error, 0);
  }
  if (int32_t r = effListAppendPointer(slot, effect); r < 0)
    effListGrowthFailed(r);
  if (state->shared && !effSetInsertAt(&state->recorded, at, effect))
    xexit(StepRc::NoResources, 0);
}

int32_t GetSimpleEff(EffectParseState* state, const EffectChainNode* term, const char** name,
                     int32_t* length, int32_t* number, int32_t* position) {
  if (effVariableCount(term) != 1) {
    vsfLog(EffMsg::EachEndVariableRange);
    fail(kStatusSyntax);
    return 0;
  }
  ParseRoot* root = effRoot();
  if (state->factorsSlot != 0) {
    *position = term->lists[1].count > 0 ? term->lists[1].items[0] : 0;
    OptionSlot* names = effSlotAt(root ? root->first : nullptr, state->factorsSlot);
    if (names == nullptr || effNameAt(names->items.names, *position, name, length) != 0) {
      fail(kStatusSyntax);
      return 0;
    }
    *number = *position;
    return keyOf(ProcSlot::ClassVariables);
  }
  // The holder list of the term's variable; the term keeps it in its list code - 1.
  int32_t code =
      term->lists[0].count > 0 ? keyOf(ProcSlot::DirectVariables) : keyOf(ProcSlot::ClassVariables);
  if (term->lists[code - 1].count == 0) {
    vsfLog(EffMsg::EachEndVariableRange); // a nested name alone is no range end
    fail(kStatusSyntax);
    return 0;
  }
  *position = term->lists[code - 1].items[0];
  if (effIsConstructed(*position)) {
    // A constructed effect cannot end a variable range: a syntax error of the statement.
    vsfLog(EffMsg::OnlyOneListOperator);
    fail(kStatusSyntax);
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
    fail(kStatusSyntax);
    return 0;
  }
  *number = list->items.ints[*position];
  if (!effVariableName(state, *number, name, length)) {
    fail(kStatusSyntax);
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
  ParsedStatement* stmt = currentStatement();
  OptionSlot* names = effSlotAt(stmt, keyOf(EffectLibSlot::FactorNames));
  int32_t n = effNameCount(names);
  if (n > 0) {
    int32_t at = zlstmev(names->items.names, n, name, length);
    if (at < n)
      return at;
    vsfLog(EffMsg::FactorNotFoundFactor, {HostMsgArg(name, length), stmtNameArg(stmt)});
    fail(kStatusSyntax);
    return -1;
  }
  bool constructed = false;
  int32_t id = FindVarNum(state, name, length, &constructed, ECT_ORDINARY);
  if (effStatus() != 0)
    return -1;
  int32_t position = 0;
  if (!constructed && id > 0 &&
      FindListElem(state, id, state->defaultList, &position, false, ECT_ORDINARY) ==
          keyOf(ProcSlot::ClassVariables))
    return position;
  vsfLog(EffMsg::FactorNotFoundAmong, {HostMsgArg(name, length)});
  fail(kStatusSyntax);
  return -1;
}

void zeffect(HostParser* parser, const HostToken* token, const EffectAction* action) {
  ParseRoot* root = effRoot();
  if (root == nullptr || root->status != kParseOk || root->effectState == nullptr)
    return;
  EffectParseState* state = root->effectState;
  if (!state->constructedNamesBuilt) {
    BuildEftVarList(state);
    if (root->status != kParseOk)
      return;
  }
  int32_t code = action->code;
  int32_t operand = action->operand;
  state->action = code;
  state->actionToken = token;
  switch (code) {
  case EffectCode::NewTerm: {
    EffectChainNode* node = effNewNode(state);
    if (node == nullptr) {
      fail(kStatusNoData);
      return;
    }
    state->current = node;
    break;
  }
  case EffectCode::Variable:
    actionVariable(state, parser, token);
    break;
  case EffectCode::Nested:
    actionNested(state, token);
    break;
  case EffectCode::NestedValue:
    actionNestedValue(state);
    break;
  case EffectCode::EndEffect:
    actionEndEffect(state);
    break;
  case EffectCode::EndTerm:
    actionEndTerm(state);
    break;
  case EffectCode::EndExpression:
    actionEndExpression(state);
    break;
  case EffectCode::ListMode:
    state->listMode = operand;
    state->savedCount = effListCount(effHolderList(state->defaultList));
    break;
  case EffectCode::DirectRestriction:
    state->directRestriction = operand;
    break;
  case EffectCode::NodeType:
    if (state->current != nullptr)
      state->current->type = operand;
    break;
  case EffectCode::ListItem:
    if (state->barHead == nullptr)
      clearCounters(state);
    if (operand >= 0 && operand < 9)
      state->counters[operand] += 1;
    break;
  case EffectCode::AfterEffects:
    if (state->chainHead != nullptr) {
      const char* word = state->factorsSlot != 0                                  ? "FACTORS"
                         : state->defaultList == keyOf(ProcSlot::DirectVariables) ? "CLASS"
                                                                                  : "DIRECT";
      vsfLog(EffMsg::StatementKeywordMustCome, {word});
      fail(kStatusSyntax);
    }
    break;
  case EffectCode::OrderLimit: {
    double value = token != nullptr ? xtoknum(token) : 0.0;
    state->orderLimit = std::isfinite(value) && std::fabs(value) < 2147483647.0
                            ? static_cast<int32_t>(std::trunc(value))
                            : 0;
    if (counterSum(state) == 0) {
      vsfLog(EffMsg::OrderLimitIgnoredBecause);
      state->orderLimit = 0;
    }
    break;
  }
  case EffectCode::FactorsSlot:
    state->factorsSlot = operand;
    break;
  case EffectCode::EffectStatement:
    if (state->chainHead != nullptr) {
      vsfLog(EffMsg::StatementKeywordMustCome, {"EFFECT"});
      fail(kStatusSyntax);
    }
    break;
  case EffectCode::SharedOn:
    state->shared = 1;
    resetSharedRecords(state);
    break;
  case EffectCode::SharedOff:
    resetSharedRecords(state);
    state->shared = 0;
    break;
  default:
    break;
  }
}
