// Effect chains: nodes and their four sorted variable lists, three-way comparison of
// effects, duplicate detection (linear in ordinary mode, a sorted set in shared-chain
// mode), bar expansion with the @n order limit, copying and freeing. The callback's actions
// (zeffect.cpp) and naming (effname.cpp) build on these.
#include "effects/effchain.h"

#include "effects/effname.h"
#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

[[nodiscard]] int32_t listIndex(int32_t listCode) {
  switch (listCode) {
  case keyOf(ProcSlot::DirectVariables):
  case kEffListNewName:
    return 0;
  case keyOf(ProcSlot::ClassVariables):
  case kEffListConstructed:
    return 1;
  case kEffListNested:
    return 2;
  default:
    return 3;
  }
}

// The sorted order of list items: new names first in order of creation, then constructed
// effects in statement order, then positions ascending.
[[nodiscard]] bool goesBefore(int32_t id, int32_t item) {
  if (id < -1 && item < -1)
    return id > item;
  return id < item;
}

[[nodiscard]] bool growIds(EffectIdList& list) {
  if (list.count < list.capacity)
    return true;
  int32_t capacity = list.capacity == 0 ? 10 : list.capacity * 2;
  void* grown = levGrow(list.items, sizeof(int32_t), static_cast<size_t>(list.count),
                        static_cast<size_t>(capacity));
  if (grown == nullptr)
    return false;
  list.items = static_cast<int32_t*>(grown);
  list.capacity = capacity;
  return true;
}

[[nodiscard]] bool growValues(EffectChainNode* node) {
  if (node->valueCount < node->valueCapacity)
    return true;
  int32_t capacity = node->valueCapacity == 0 ? 5 : node->valueCapacity * 2;
  void* grown = levGrow(node->values, sizeof(NestedValueEntry),
                        static_cast<size_t>(node->valueCount), static_cast<size_t>(capacity));
  if (grown == nullptr)
    return false;
  node->values = static_cast<NestedValueEntry*>(grown);
  node->valueCapacity = capacity;
  return true;
}

[[nodiscard]] bool copyList(EffectIdList& to, const EffectIdList& from) {
  to = EffectIdList{};
  if (from.count == 0)
    return true;
  to.items = levNew<int32_t>(static_cast<size_t>(from.capacity));
  if (to.items == nullptr)
    return false;
  std::memcpy(to.items, from.items, sizeof(int32_t) * static_cast<size_t>(from.count));
  to.count = from.count;
  to.capacity = from.capacity;
  return true;
}

[[nodiscard]] int32_t compareEffects(const void* a, const void* b, void* ctx) {
  return EqualEffects(static_cast<const EffectChainNode*>(a),
                      static_cast<const EffectChainNode*>(b), ctx != nullptr);
}

// Context word of the comparisons: non-null when the CONTRAST rule applies.
int contrastTag;
void* contrastContext(bool contrast) { return contrast ? &contrastTag : nullptr; }

[[nodiscard]] bool currentIsContrast() {
  ParseRoot* root = effRoot();
  return root != nullptr && effStmtIs(root->current, "CONTRAST", 8);
}

[[nodiscard]] bool stepHasEffectStatement() {
  ParseRoot* root = effRoot();
  for (ParsedStatement* s = root ? root->first : nullptr; s != nullptr; s = s->next)
    if (effStmtIs(s, "EFFECT ", 7))
      return true;
  return false;
}

// True when one position is both crossed and nested (both lists are sorted).
[[nodiscard]] bool crossedAndNested(const EffectChainNode* c) {
  const EffectIdList& a = c->lists[1];
  const EffectIdList& b = c->lists[2];
  int32_t i = 0, j = 0;
  while (i < a.count && j < b.count) {
    if (a.items[i] == b.items[j])
      return true;
    if (goesBefore(a.items[i], b.items[j]))
      ++i;
    else
      ++j;
  }
  return false;
}

} // namespace

EffectChainNode* effNewNode(EffectParseState* state) {
  auto* node = levNew<EffectChainNode>();
  if (node == nullptr)
    return nullptr;
  int32_t capacity = state->nameLen + 1 > 25 ? state->nameLen + 1 : 25;
  node->name = static_cast<char*>(levAlloc(static_cast<size_t>(capacity)));
  if (node->name == nullptr) {
    levFree(node, sizeof *node);
    return nullptr;
  }
  node->nameCapacity = capacity;
  return node;
}

EffectChainNode* CopyEffect(EffectParseState* state, const EffectChainNode* node) {
  EffectChainNode* copy = effNewNode(state);
  if (copy == nullptr)
    return nullptr;
  for (int k = 0; k < 4; ++k)
    if (!copyList(copy->lists[k], node->lists[k])) {
      zeffre(nullptr, copy);
      return nullptr;
    }
  if (node->valueCount > 0) {
    copy->values = levNew<NestedValueEntry>(static_cast<size_t>(node->valueCapacity));
    if (copy->values == nullptr) {
      zeffre(nullptr, copy);
      return nullptr;
    }
    std::memcpy(copy->values, node->values,
                sizeof(NestedValueEntry) * static_cast<size_t>(node->valueCount));
    copy->valueCount = node->valueCount;
    copy->valueCapacity = node->valueCapacity;
  }
  copy->type = node->type;
  copy->code = 0;
  return copy;
}

void zeffre(EffectChainNode** head, EffectChainNode* node) {
  if (node == nullptr)
    return;
  if (head != nullptr) {
    for (EffectChainNode** link = head; *link != nullptr; link = &(*link)->next)
      if (*link == node) {
        *link = node->next;
        break;
      }
  }
  for (auto& list : node->lists)
    levFree(list.items, sizeof(int32_t) * static_cast<size_t>(list.capacity));
  levFree(node->values, sizeof(NestedValueEntry) * static_cast<size_t>(node->valueCapacity));
  levFree(node->name, static_cast<size_t>(node->nameCapacity));
  levFree(node, sizeof *node);
}

int32_t effVariableCount(const EffectChainNode* node) {
  return node->lists[0].count + node->lists[1].count + node->lists[2].count;
}

VsfStatus InsertElemInList(EffectParseState*, int32_t position, EffectChainNode* node,
                           int32_t listCode, const char* value, bool duringValue) {
  EffectIdList& list = node->lists[listIndex(listCode)];
  bool withValue = listCode == 4;
  if (!growIds(list) || (withValue && !growValues(node))) {
    effSetStatus(StepRc::Error);
    return VsfStatus::ReportedFailure;
  }
  if (listCode == 2 || listCode == 3 || listCode == 4) {
    for (int32_t i = 0; i < list.count; ++i) {
      if (list.items[i] != position || effIsConstructed(position))
        continue;
      if (withValue && value != nullptr && std::memcmp(node->values[i].text, value, 16) != 0) {
        if (duringValue) {
          vsfLog(EffMsg::NestingVariableTwoValues);
          effSetStatus(StepRc::SyntaxError);
          return VsfStatus::ReportedFailure;
        }
        node->code = -1; // a crossing gave one variable two values: discarded later
      }
      return VsfStatus::Ok;
    }
  }
  int32_t at = list.count;
  for (int32_t i = 0; i < list.count; ++i)
    if (goesBefore(position, list.items[i])) {
      at = i;
      break;
    }
  std::memmove(list.items + at + 1, list.items + at,
               sizeof(int32_t) * static_cast<size_t>(list.count - at));
  list.items[at] = position;
  ++list.count;
  if (withValue) {
    std::memmove(node->values + at + 1, node->values + at,
                 sizeof(NestedValueEntry) * static_cast<size_t>(node->valueCount - at));
    NestedValueEntry entry{};
    std::memset(entry.text, ' ', sizeof entry.text);
    if (value != nullptr)
      std::memcpy(entry.text, value, sizeof entry.text);
    node->values[at] = entry;
    ++node->valueCount;
  }
  return VsfStatus::Ok;
}

int32_t EqualEffLists(const EffectIdList& a, const EffectIdList& b) {
  if (a.count != b.count)
    return a.count < b.count ? -1 : 1;
  for (int32_t i = 0; i < a.count; ++i)
    if (a.items[i] != b.items[i])
      return a.items[i] < b.items[i] ? -1 : 1;
  return 0;
}

int32_t EqualEffects(const EffectChainNode* a, const EffectChainNode* b, bool contrast) {
  for (int k = 0; k < 4; ++k)
    if (int32_t r = EqualEffLists(a->lists[k], b->lists[k]))
      return r;
  if (a->valueCount != b->valueCount)
    return a->valueCount < b->valueCount ? -1 : 1;
  for (int32_t i = 0; i < a->valueCount; ++i) {
    int32_t r = effCollateText(a->values[i].text, b->values[i].text, 16);
    if (r != 0)
      return r < 0 ? -1 : 1;
  }
  if (!(contrast && b->type == ECT_FACTOR) && a->type != b->type)
    return a->type < b->type ? -1 : 1;
  if (contrast && b->code == kEffCodeModelClass)
    return a->code < kEffCodeModelClass ? -1 : 1;
  return 0;
}

int32_t effSetFind(const EffSortedSet* set, const void* key,
                   int32_t (*cmp)(const void*, const void*, void*), void* ctx, bool* found) {
  int32_t lo = 0, hi = set->count;
  *found = false;
  while (lo < hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int32_t r = cmp(key, set->items[mid], ctx);
    if (r == 0) {
      *found = true;
      return mid;
    }
    if (r < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

bool effSetInsertAt(EffSortedSet* set, int32_t at, void* item) {
  if (set->count == set->capacity) {
    int32_t capacity = set->capacity == 0 ? 16 : set->capacity * 2;
    void* grown = levGrow(set->items, sizeof(void*), static_cast<size_t>(set->count),
                          static_cast<size_t>(capacity));
    if (grown == nullptr)
      return false;
    set->items = static_cast<void**>(grown);
    set->capacity = capacity;
  }
  std::memmove(set->items + at + 1, set->items + at,
               sizeof(void*) * static_cast<size_t>(set->count - at));
  set->items[at] = item;
  ++set->count;
  return true;
}

void effSetClear(EffSortedSet* set) {
  levFree(set->items, sizeof(void*) * static_cast<size_t>(set->capacity));
  *set = EffSortedSet{};
}

EffectChainNode* zeff_find_ef(const EffSortedSet* set, const EffectChainNode* node, bool contrast) {
  bool found = false;
  int32_t at = effSetFind(set, node, compareEffects, contrastContext(contrast), &found);
  return found ? static_cast<EffectChainNode*>(set->items[at]) : nullptr;
}

EffectChainNode* zeff_add_ef(EffSortedSet* set, EffectChainNode* node, bool contrast) {
  bool found = false;
  int32_t at = effSetFind(set, node, compareEffects, contrastContext(contrast), &found);
  if (found)
    return static_cast<EffectChainNode*>(set->items[at]);
  if (!effSetInsertAt(set, at, node))
    return nullptr;
  return node;
}

VsfStatus AddEffToChain(EffectParseState* state, EffectChainNode* node, EffectChainNode** head,
                        EffectChainNode*** tail, EffectChainNode** out, EffSortedSet* tree,
                        double* runningCount, int32_t listMode) {
  bool contrast = currentIsContrast();
  bool useTree = state->shared != 0 && tree != nullptr;
  ParseRoot* traceRoot = effRoot();
  bool trace = traceRoot != nullptr && traceRoot->semanticTrace;
  if (trace) {
    effTraceLine("ADDEFF: Current effect ptr = *efa    = %12p", static_cast<void*>(node));
    effTraceLine("ADDEFF: Head ptr           = *efhead = %12p", static_cast<void*>(*head));
    effTraceLine("ADDEFF: Tail ptr           = *eftail = %12p", static_cast<void*>(*tail));
  }
  EffectChainNode* found = nullptr;
  if (useTree) {
    found = zeff_find_ef(tree, node, contrast);
  } else {
    *runningCount = 1.0;
    for (EffectChainNode* e = *head; e != nullptr; e = e->next) {
      if (trace)
        PrintEffect(e);
      if (EqualEffects(node, e, contrast) == 0) {
        found = e;
        break;
      }
      *runningCount += 1.0;
    }
  }
  if (found == nullptr) {
    if (*runningCount >= 2147483647.0) {
      vsfLog(EffMsg::NumberEffectsReachedLimit, {2147483647});
      xexit(StepRc::Error, 0);
    }
    if (listMode == EffectListMode::NoVariables && effVariableCount(node) > 0) {
      ParseRoot* root = effRoot();
      ParsedStatement* stmt = root ? root->current : nullptr;
      HostMsgArg name = stmt ? HostMsgArg(stmt->name, effStmtNameLength(stmt)) : HostMsgArg("");
      vsfLog(state->defaultList == keyOf(ProcSlot::DirectVariables)
                 ? EffMsg::StatementDoesNotTakeVariables
                 : EffMsg::StatementDoesNotTakeClass,
             {name});
      if (OptionSlot* list = effHolderList(state->defaultList); list && list->present)
        list->value.list.count = state->savedCount;
      zeffre(nullptr, node);
      effSetStatus(StepRc::SyntaxError);
      return VsfStatus::ReportedFailure;
    }
  }
  if (state->directRestriction != 0 && node->type == ECT_ORDINARY && node->lists[0].count > 0 &&
      !stepHasEffectStatement()) {
    vsfLog(EffMsg::ContinuousEffectNeedsEffectStatement);
    zeffre(nullptr, node);
    effSetStatus(StepRc::SyntaxError);
    state->barTail = &state->barHead;
    return VsfStatus::ReportedFailure;
  }
  if (found != nullptr) {
    if (trace) {
      effTraceLine("Duplicate");
      PrintEffect(found);
    }
    *out = found;
    return VsfStatus::Ok;
  }
  if (state->orderLimit > 0 && effVariableCount(node) > state->orderLimit) {
    *out = nullptr;
    return VsfStatus::Ok;
  }
  if (trace) {
    effTraceLine("    New effect -- add it to the effect chain");
    PrintEffect(node);
  }
  if (listMode != EffectListMode::ClassList) {
    if (useTree && zeff_add_ef(tree, node, contrast) == nullptr) {
      effSetStatus(StepRc::Error);
      zeffre(nullptr, node);
      return VsfStatus::ReportedFailure;
    }
    node->next = nullptr;
    **tail = node;
    *tail = &node->next;
    *runningCount += 1.0;
  }
  *out = node;
  return VsfStatus::Ok;
}

EffectChainNode* CrossEffects(EffectParseState* state, const EffectChainNode* e,
                              const EffectChainNode* t) {
  EffectChainNode* c = CopyEffect(state, e);
  if (c == nullptr)
    return nullptr;
  for (int k = 0; k < 4; ++k)
    for (int32_t i = 0; i < t->lists[k].count; ++i)
      if (InsertElemInList(state, t->lists[k].items[i], c, k + 1,
                           k == 3 ? t->values[i].text : nullptr) != VsfStatus::Ok) {
        zeffre(nullptr, c);
        return nullptr;
      }
  if (c->code == -1 || crossedAndNested(c)) {
    ParseRoot* root = effRoot();
    if (root != nullptr && root->semanticTrace) {
      effTraceLine("CrossEffects: discarded effect");
      PrintEffect(c);
    }
    zeffre(nullptr, c);
    return nullptr;
  }
  if (t->type == ECT_RESPONSE)
    c->type = ECT_RESPONSE;
  else if (t->type == ECT_FACTOR)
    c->type = ECT_FACTOR;
  return c;
}

VsfStatus AddBarEffects(EffectParseState* state) {
  EffectChainNode* head = nullptr;
  EffectChainNode** tail = &head;
  EffSortedSet tree{};
  double running = 0.0;
  EffectChainNode* term = state->barHead;
  if (term == nullptr) {
    xebug("AddBarEffects: barhead is null");
    return VsfStatus::ReportedFailure;
  }
  bool failed = false;
  while (term != nullptr) {
    EffectChainNode* nextTerm = term->next;
    term->next = nullptr;
    EffectChainNode* lastBefore = nullptr;
    for (EffectChainNode* e = head; e != nullptr; e = e->next)
      lastBefore = e;
    EffectChainNode* out = nullptr;
    if (AddEffToChain(state, term, &head, &tail, &out, &tree, &running, 0) != VsfStatus::Ok) {
      failed = true;
      term = nextTerm;
      break;
    }
    if (lastBefore != nullptr) {
      for (EffectChainNode* e = head;; e = e->next) {
        EffectChainNode* c = CrossEffects(state, e, term);
        if (c == nullptr && effStatus() != 0) {
          failed = true;
          break;
        }
        if (c != nullptr) {
          EffectChainNode* cout = nullptr;
          if (AddEffToChain(state, c, &head, &tail, &cout, &tree, &running, 0) != VsfStatus::Ok) {
            failed = true;
            break;
          }
          if (cout != c)
            zeffre(nullptr, c);
        }
        if (e == lastBefore)
          break;
      }
    }
    if (out != term)
      zeffre(nullptr, term);
    term = nextTerm;
    if (failed)
      break;
  }
  // Terms not reached after a failure are freed with the temporary chain.
  while (term != nullptr) {
    EffectChainNode* n = term->next;
    zeffre(nullptr, term);
    term = n;
  }
  state->barHead = nullptr;
  state->barTail = &state->barHead;
  effSetClear(&tree);
  if (failed) {
    while (head != nullptr) {
      EffectChainNode* n = head->next;
      zeffre(nullptr, head);
      head = n;
    }
    return VsfStatus::ReportedFailure;
  }
  while (head != nullptr) {
    EffectChainNode* n = head->next;
    head->next = nullptr;
    if (AddEffect(state, head, -1, false) != VsfStatus::Ok) {
      // The node was freed or recorded; drop the rest.
      while (n != nullptr) {
        EffectChainNode* m = n->next;
        zeffre(nullptr, n);
        n = m;
      }
      return VsfStatus::ReportedFailure;
    }
    head = n;
  }
  return VsfStatus::Ok;
}

namespace {

// Appends printf-formatted text to a trace line.
[[gnu::format(printf, 2, 3)]] void appendf(std::string& line, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n > 0)
    line.append(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

void logTrace(const std::string& line) {
  vsfLog(EffMsg::EffectTrace, {HostMsgArg(line.data(), static_cast<int32_t>(line.size()))});
}

} // namespace

void effTraceLine(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  logTrace(std::string(buffer, n > 0 ? std::min(static_cast<size_t>(n), sizeof buffer - 1) : 0));
}

void PrintEffect(const EffectChainNode* node) {
  std::string line;
  appendf(line, "Effect %.*s: ", node->nameLength, node->name ? node->name : "");
  if (node->type == ECT_ALLPARMS)
    line += "ALL_PARMS";
  else if (node->type == ECT_FACTOR)
    line += "_RESPONSE_";
  logTrace(line);
  static const char* const labels[4] = {
      " Cont  vars:", " Cross vars:", " Nest  vars:", " Nestv vars:"};
  for (int k = 0; k < 4; ++k) {
    if (node->lists[k].count == 0)
      continue;
    line = labels[k];
    for (int32_t i = 0; i < node->lists[k].count; ++i)
      appendf(line, "%5d", node->lists[k].items[i]);
    logTrace(line);
  }
  if (node->valueCount > 0) {
    line = " Nestv values:";
    for (int32_t i = 0; i < node->valueCount; ++i)
      appendf(line, " %.16s", node->values[i].text);
    logTrace(line);
  }
}
