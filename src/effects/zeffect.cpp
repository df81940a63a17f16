// The effect-syntax callback: dispatch of the host parser's effect actions (new effect,
// variables, nesting, values, bar terms and expressions, list modes, @n, statement
// keywords after effects, shared-chain mode), the callback's set-up, and recording of
// effects in statement slots. Name lookup and placement: efflookup.cpp; variable lists:
// efflist.cpp; chains: effchain.cpp.
#include "effects/zeffect.h"

#include "effects/effcallback.h"
#include "effects/efflist.h"
#include "effects/efflookup.h"
#include "effects/effname.h"
#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"
#include "support/stepcodes.h"

#include <cmath>
#include <cstring>

namespace {

[[nodiscard]] bool isOneChar(const HostToken* t, char c) {
  return t != nullptr && t->length == 1 && t->text != nullptr && t->text[0] == c;
}

void clearCounters(EffectParseState* state) {
  std::memset(state->counters, 0, sizeof state->counters);
  state->orderLimit = 0;
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
  effTokenName(token, &name, &length);
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
      effFail(kEffStatusSyntax);
      zeffre(nullptr, node);
      state->current = nullptr;
      return;
    }
    ParseRoot* root = effRoot();
    HostVarList list{};
    if (root == nullptr || root->dataSet == nullptr) {
      vsfLog(EffMsg::VariableListNeedsInput);
      effFail(kEffStatusNoData);
      return;
    }
    int32_t code = zaddvar(root->dataSet, &list, 3, 0, name, length, nullptr, 0, HLK_PREFIX);
    if (code != 0)
      zadverr(root, root->dataSet, 0, name, length, nullptr, 0, &list, 0, HLK_PREFIX, code);
    if (list.count < 1 || list.numbers == nullptr) {
      effFail(kEffStatusSyntax);
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
  effTokenName(token, &name, &length);
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
      vsfLog(EffMsg::NestingNameNotVariable, {HostMsgArg(name, length)});
      effFail(kEffStatusSyntax);
      return;
    }
    int32_t code = FindListElem(state, id, state->defaultList, &position, false, node->type);
    if (effStatus() != 0)
      return;
    if (code == keyOf(ProcSlot::DirectVariables)) {
      vsfLog(EffMsg::ContinuousVariableCannotNest);
      effFail(kEffStatusSyntax);
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
  ParsedStatement* stmt = effCurrentStatement();
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
  if (InsertElemInList(state, position, node, kEffListNestedValue, value, true) != VsfStatus::Ok)
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
  ParsedStatement* stmt = effCurrentStatement();
  if (node == nullptr)
    return;
  if (state->defaultList == keyOf(ProcSlot::ClassVariables) && effStmtIs(stmt, "MODEL ", 6) &&
      effCurrentSlot() == keyOf(EffectLibSlot::ModelClassEffects))
    node->code = kEffCodeModelClass;
  EffectChainNode* out = nullptr;
  VsfStatus r = AddEffToChain(state, node, &state->chainHead, &state->chainTail, &out,
                              state->shared ? &state->sharedChain : nullptr, &state->runningCount,
                              state->listMode);
  state->current = nullptr;
  if (r != VsfStatus::Ok)
    return;
  if (out != node)
    zeffre(nullptr, node);
  else
    FillEffName(state, node);
  if (out != nullptr)
    AddEffToList(state, stmt, effCurrentSlot(), out);
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
    vsfLog(EffMsg::CharacterVariableNotContinuous, {HostMsgArg(text, length)});
    direct->value.list.count = state->savedCount;
    effFail(kEffStatusSyntax);
    return;
  }
}

void actionEndExpression(EffectParseState* state) {
  int32_t sum = effCounterSum(state);
  if (sum == state->counters[EffectItem::Bar]) {
    if (state->barHead == nullptr && state->current != nullptr)
      actionEndTerm(state);
    (void)AddBarEffects(state); // a failure is kept in the parse status
  } else {
    effExpandVariableList(state);
  }
  if (effStatus() == 0)
    checkDirectVariables(state);
  clearCounters(state);
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

VsfStatus AddEffect(EffectParseState* state, EffectChainNode* node, int32_t id, bool constructed) {
  EffectChainNode* out = nullptr;
  if (AddEffToChain(state, node, &state->chainHead, &state->chainTail, &out,
                    state->shared ? &state->sharedChain : nullptr, &state->runningCount,
                    state->listMode) != VsfStatus::Ok) {
    state->current = nullptr;
    return VsfStatus::ReportedFailure;
  }
  state->current = out;
  if (out != node) {
    // An equal effect was there already, or the order limit dropped this one.
    zeffre(nullptr, node);
    if (out == nullptr)
      return VsfStatus::Ok;
    if (out->type == ECT_FACTOR)
      FillEffName(state, out);
  } else if (id == -1) {
    FillEffName(state, node);
  } else {
    nameAfterVariable(state, node, id, constructed);
  }
  AddEffToList(state, effCurrentStatement(), effCurrentSlot(), out);
  state->current = nullptr;
  if (effStatus() != 0)
    return VsfStatus::ReportedFailure;
  ParseRoot* root = effRoot();
  if (root != nullptr && root->semanticTrace)
    effTraceLine("%.*s", out->nameLength, out->name);
  return VsfStatus::Ok;
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
      effFail(kEffStatusNoData);
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
      vsfLog(EffMsg::StatementKeywordAfterEffects, {word});
      effFail(kEffStatusSyntax);
    }
    break;
  case EffectCode::OrderLimit: {
    double value = token != nullptr ? xtoknum(token) : 0.0;
    state->orderLimit = std::isfinite(value) && std::fabs(value) < 2147483647.0
                            ? static_cast<int32_t>(std::trunc(value))
                            : 0;
    if (effCounterSum(state) == 0) {
      vsfLog(EffMsg::OrderLimitWithoutBar);
      state->orderLimit = 0;
    }
    break;
  }
  case EffectCode::FactorsSlot:
    state->factorsSlot = operand;
    break;
  case EffectCode::EffectStatement:
    if (state->chainHead != nullptr) {
      vsfLog(EffMsg::StatementKeywordAfterEffects, {"EFFECT"});
      effFail(kEffStatusSyntax);
    }
    break;
  case EffectCode::SharedOn:
    state->shared = 1;
    effResetSharedRecords(state);
    break;
  case EffectCode::SharedOff:
    effResetSharedRecords(state);
    state->shared = 0;
    break;
  default:
    break;
  }
}
