// Variable lists of the effect callback: the ends of a range or the prefix of a prefix list
// as written, the data-set numbers of the list's variables, and one effect per variable.
#include "effects/efflist.h"

#include "effects/effcallback.h"
#include "effects/effchain.h"
#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "effects/zeffect.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"
#include "support/stepcodes.h"

#include <cstring>

namespace {

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
      vsfLog(EffMsg::VariableRangeEndNotSingle);
      effFail(kEffStatusSyntax);
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
      effFail(kEffStatusSyntax);
      freeBarTerms(state);
      return false;
    }
    effTokenName(saved, &first, &firstLength);
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
      effFail(kEffStatusNoData);
      return false;
    }
    int32_t code =
        zaddvar(root->dataSet, &list, 3, 0, first, firstLength, second, secondLength, k + 1);
    if (code != 0) {
      zadverr(root, root->dataSet, 0, first, firstLength, second, secondLength, &list, 0, k + 1,
              code);
      if (effStatus() == 0)
        effFail(kEffStatusSyntax);
      return false;
    }
    ids = list.numbers;
    count = list.count;
  } else if (k == EffectItem::Numbered) {
    int32_t code =
        zaddvar(nullptr, &list, 7, 0, first, firstLength, second, secondLength, HLK_NUMBERED);
    if (code != 0 || list.names == nullptr) {
      effFail(kEffStatusSyntax);
      return false;
    }
    ids = levNew<int32_t>(static_cast<size_t>(list.count));
    if (ids == nullptr) {
      effFail(kEffStatusNoData);
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
      vsfLog(EffMsg::PositionalRangeReversed);
      effFail(kEffStatusSyntax);
      return false;
    }
    count = b - a + 1;
    ids = levNew<int32_t>(static_cast<size_t>(count));
    if (ids == nullptr) {
      effFail(kEffStatusNoData);
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
      effFail(kEffStatusNoData);
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
    VsfStatus r;
    if (k == EffectItem::Prefix) {
      state->barHead = node;
      state->barTail = &node->next;
      r = AddBarEffects(state);
    } else {
      r = AddEffect(state, node, ids[i], false);
    }
    if (r != VsfStatus::Ok)
      break;
  }
}

} // namespace

// EffectCode::EndExpression, list branch: a variable list (range, prefix, _NUMERIC_, _CHARACTER_).
void effExpandVariableList(EffectParseState* state) {
  int32_t sum = effCounterSum(state);
  if (sum != 1) {
    vsfLog(EffMsg::OneListOperatorPerList);
    effFail(kEffStatusSyntax);
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
