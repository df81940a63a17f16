// Effect names of parsed effects: components from the four variable lists, shortening of
// the longest components until the name fits NAMELEN, and the fixed names Intercept,
// ALL_PARM and LONGNAME EFFECT. EffMsg::EffectNameTooLong reports a name that cannot be
// fitted.
#include "effects/effname.h"

#include "effects/effchain.h"
#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "effects/zlst.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"

#include <cstring>

namespace {

struct Component {
  const char* text;
  int32_t length;
  bool fixed;
};

constexpr int32_t kMaxComponents = 16;

[[nodiscard]] bool holderName(EffectParseState* state, int32_t which, int32_t position,
                              const char** text, int32_t* length) {
  OptionSlot* list = effHolderList(which);
  if (position < 0 || position >= effListCount(list))
    return false;
  return effVariableName(state, list->items.ints[position], text, length);
}

// The name list of option slot k of a statement, when it has one.
const OptionSlot* nameListSlot(ParsedStatement* stmt, int32_t k) {
  OptionSlot* slot = effSlotAt(stmt, k);
  return slot != nullptr && slot->present && slot->items.names != nullptr ? slot : nullptr;
}

} // namespace

int32_t effCollateText(const char* a, const char* b, int32_t n) {
  int32_t r = effCollate(a, n, b, n);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool effVariableName(EffectParseState* state, int32_t number, const char** text, int32_t* length) {
  if (state != nullptr && state->describeVariable != nullptr) {
    int32_t type = 0;
    return state->describeVariable(number, text, length, &type) == 0;
  }
  ParseRoot* root = effRoot();
  HostVariable* var = nullptr;
  if (root == nullptr || xvname(root->dataSet, number, &var) != 0 || var == nullptr)
    return false;
  *text = var->name;
  *length = var->nameLength;
  return true;
}

bool effEntryName(EffectParseState* state, const EffectChainNode* node, int32_t k, int32_t position,
                  const char** text, int32_t* length) {
  ParseRoot* root = effRoot();
  ParsedStatement* current = root ? root->current : nullptr;
  if (k == 0) {
    if (effIsNewName(position)) {
      int32_t i = -position - 2;
      if (i >= state->newNameCount)
        return false;
      *text = state->newNameTable[i];
      *length = static_cast<int32_t>(std::strlen(*text));
      return true;
    }
    return holderName(state, keyOf(ProcSlot::DirectVariables), position, text, length);
  }
  if (k == 1 && effIsConstructed(position)) {
    int32_t i = kEffFirstConstructed - position;
    if (i >= state->constructedNameCount)
      return false;
    *text = state->constructedNames[i];
    *length = static_cast<int32_t>(std::strlen(*text));
    return true;
  }
  if (node->type == ECT_FACTOR) {
    if (const OptionSlot* names = nameListSlot(current, keyOf(EffectLibSlot::FactorNames)))
      return effNameAt(names->items.names, position, text, length) == 0;
  }
  if (k == 1 && state->factorsSlot != 0) {
    if (const OptionSlot* names = nameListSlot(root ? root->first : nullptr, state->factorsSlot))
      return effNameAt(names->items.names, position, text, length) == 0;
    return false;
  }
  return holderName(state, keyOf(ProcSlot::ClassVariables), position, text, length);
}

void effSetFixedName(EffectChainNode* node, const char* text) {
  int32_t n = static_cast<int32_t>(std::strlen(text));
  if (node->nameCapacity <= n) {
    char* buffer = static_cast<char*>(levAlloc(static_cast<size_t>(n) + 1));
    if (buffer == nullptr)
      return;
    node->name = buffer;
    node->nameCapacity = n + 1;
  }
  std::memcpy(node->name, text, static_cast<size_t>(n) + 1);
  node->nameLength = n;
}

void FillEffName(EffectParseState* state, EffectChainNode* node) {
  const EffectIdList* lists = node->lists;
  int32_t pieces = lists[0].count + lists[1].count + lists[2].count + 2 * lists[3].count +
                   (node->type == ECT_RESPONSE ? 1 : 0);
  if (pieces > kMaxComponents) {
    vsfLog(EffMsg::EffectNameTooLong);
    effSetFixedName(node, "LONGNAME EFFECT");
    return;
  }
  Component comps[kMaxComponents];
  int32_t n = 0;
  int32_t needed = 0;
  auto add = [&](int32_t k, int32_t position) {
    Component c{"", 0, false};
    if (!effEntryName(state, node, k, position, &c.text, &c.length)) {
      c.text = "?";
      c.length = 1;
    }
    comps[n++] = c;
  };
  for (int32_t i = 0; i < lists[0].count; ++i)
    add(0, lists[0].items[i]);
  for (int32_t i = 0; i < lists[1].count; ++i)
    add(1, lists[1].items[i]);
  int32_t outside = n;
  for (int32_t i = 0; i < n; ++i)
    needed += comps[i].length + 1;
  if (node->type == ECT_RESPONSE) {
    comps[n++] = Component{"_RESPONSE_", 10, false};
    needed += 11;
  }
  if (node->type == ECT_ALLPARMS) {
    effSetFixedName(node, "ALL_PARM");
    return;
  }
  int32_t nestedFirst = n;
  for (int32_t i = 0; i < lists[2].count; ++i) {
    add(2, lists[2].items[i]);
    needed += comps[n - 1].length + 1;
  }
  int32_t itemFirst = n;
  for (int32_t i = 0; i < lists[3].count; ++i) {
    add(3, lists[3].items[i]);
    const char* value = node->values[i].text;
    int32_t vlen = effStrip(value, 16);
    comps[n++] = Component{value, vlen, true};
    needed += comps[n - 2].length + vlen + 2;
  }
  int32_t cap = 0;
  for (int32_t i = 0; i < n; ++i)
    if (comps[i].length > cap)
      cap = comps[i].length;
  bool nestedPart = lists[2].count + lists[3].count > 0;
  if (outside > 0 && !nestedPart)
    needed -= 1;
  while (needed > state->nameLen) {
    if (cap <= 1) {
      vsfLog(EffMsg::EffectNameTooLong);
      effSetFixedName(node, "LONGNAME EFFECT");
      return;
    }
    --cap;
    for (int32_t i = 0; i < n && needed > state->nameLen; ++i) {
      if (comps[i].fixed || comps[i].length <= cap)
        continue;
      comps[i].length = cap;
      --needed;
    }
  }
  if (n == 0) {
    effSetFixedName(node, "Intercept");
    return;
  }
  // Write the name: outside components joined by "*", then the nested part in parentheses.
  char work[512];
  int32_t w = 0;
  for (int32_t i = 0; i < nestedFirst; ++i) {
    std::memcpy(work + w, comps[i].text, static_cast<size_t>(comps[i].length));
    w += comps[i].length;
    work[w++] = '*';
  }
  if (!nestedPart) {
    --w;
  } else {
    if (w > 0)
      work[w - 1] = '(';
    else
      work[w++] = '(';
    for (int32_t i = nestedFirst; i < itemFirst; ++i) {
      std::memcpy(work + w, comps[i].text, static_cast<size_t>(comps[i].length));
      w += comps[i].length;
      work[w++] = '*';
    }
    for (int32_t i = itemFirst; i < n; i += 2) {
      if (work[w - 1] == '*')
        work[w - 1] = ' ';
      std::memcpy(work + w, comps[i].text, static_cast<size_t>(comps[i].length));
      w += comps[i].length;
      work[w++] = '=';
      std::memcpy(work + w, comps[i + 1].text, static_cast<size_t>(comps[i + 1].length));
      w += comps[i + 1].length;
      work[w++] = ' ';
    }
    work[w - 1] = ')';
  }
  work[w] = '\0';
  if (node->nameCapacity <= w) {
    char* buffer = static_cast<char*>(levAlloc(static_cast<size_t>(w) + 1));
    if (buffer == nullptr)
      return;
    node->name = buffer;
    node->nameCapacity = w + 1;
  }
  std::memcpy(node->name, work, static_cast<size_t>(w) + 1);
  node->nameLength = w;
}
