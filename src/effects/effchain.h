// The parsed effects of a statement: EffectChainNode with its four variable lists, the
// effect-syntax state EffectParseState, and the chain operations (insertion into lists,
// duplicates, bar expansion, copying, freeing). The callback that drives them is zeffect.cpp;
// naming is effname.cpp; the parse root itself is the host's.
#pragma once

#include <cstdint>

#include "support/stepcodes.h"

struct QkPool;
struct ParsedStatement;
struct HostToken;

// Variable ids: > 0 a data-set variable number; -2 - i the i-th new name; -10000000 - i the
// i-th constructed effect. Node lists hold positions in the list holder's lists, or ids.
inline constexpr int32_t kEffFirstConstructed = -10000000;
[[nodiscard]] inline bool effIsConstructed(int32_t id) { return id <= kEffFirstConstructed; }
[[nodiscard]] inline bool effIsNewName(int32_t id) { return id < -1 && id > kEffFirstConstructed; }

// A growable list of 32-bit ids (capacity 0, then 10, then doubling).
struct EffectIdList {
  int32_t count;
  int32_t capacity;
  int32_t* items;
};

// The value of a var=value nesting item: a zero word, then 16 blank-padded characters.
struct NestedValueEntry {
  int64_t lead;
  char text[16];
};

enum EffectChainType : int32_t {
  ECT_ORDINARY = 0,
  ECT_RESPONSE = 1,
  ECT_ALLPARMS = 2,
  ECT_FACTOR = 3
};

// Which list of a node a position goes to (InsertElemInList). Codes 1 and 2, the direct
// and crossed lists, are the list holder's slots ProcSlot::DirectVariables and ClassVariables.
enum EffListCode : int32_t {
  kEffListNested = 3,      // the nested list
  kEffListNestedValue = 4, // the nested-by-value list, with its value
  kEffListNewName = 5,     // a name not yet known: the direct list
  kEffListConstructed = 6, // a constructed effect: the crossed list
};

// Statement codes a node may carry.
inline constexpr int32_t kEffCodeModelClass = 4342;
inline constexpr int32_t kEffCodePartialClass = 3765;

// One parsed effect. lists[0] direct variables, [1] crossed (CLASS and constructed),
// [2] nested, [3] nested-by-value (parallel to values).
struct EffectChainNode {
  EffectChainNode* next;
  EffectIdList lists[4];
  int32_t valueCount;
  int32_t valueCapacity;
  NestedValueEntry* values;
  int32_t code;
  int32_t type; // EffectChainType
  char* name;
  int32_t nameLength;
  int32_t nameCapacity; // bytes of the name buffer
};

// A sorted array of pointers standing in for the state's search trees: logarithmic lookups,
// linear insertions (the tail moves up by one).
struct EffSortedSet {
  int32_t count;
  int32_t capacity;
  void** items;
};

// One (variable number, position) pair of a position index.
struct EffPositionIndex {
  int32_t count;
  int32_t capacity;
  int64_t* items; // (number << 32) | position, sorted
  int32_t built;
};

// The effect-syntax callback's own state, one per parse.
struct EffectParseState {
  int32_t nameLen;     // NAMELEN
  int32_t defaultList; // 1 direct, 2 CLASS
  int32_t listMode;    // 0 ordinary, 1 no variables, 2 CLASS list, not linked
  int32_t directRestriction;
  EffectChainNode* current;
  EffectChainNode* barHead;
  EffectChainNode** barTail;
  EffectChainNode* chainHead;
  EffectChainNode** chainTail;
  int32_t newNames;
  int32_t newNameCount;
  char** newNameTable;
  int32_t constructedNamesBuilt;
  int32_t constructedNameCount;
  char** constructedNames;
  int32_t orderLimit;           // @n, 0 none
  int32_t factorsSlot;          // 0 none
  int32_t savedCount;           // default list count when the effect began
  int32_t action;               // current action code
  const HostToken* actionToken; // the token of the current action, for messages
  int32_t counters[9];          // 0 bars, 1..7 list operators
  int32_t trimInhibit;
  int32_t (*lookupVariable)(const char* name, int32_t length, int32_t* number);
  int32_t (*describeVariable)(int32_t number, const char** name, int32_t* length, int32_t* type);
  void* prefixToken; // token saved before a colon
  void* starToken;   // token after an asterisk that followed a variable
  int32_t shared;    // shared-chain mode (MODEL effect list)
  double runningCount;
  EffSortedSet recorded;         // effect pointers already recorded in a statement list
  EffSortedSet sharedChain;      // effects of the shared chain, ordered by EqualEffects
  EffPositionIndex positions[2]; // variable number -> position in list 1 and list 2
};

// Node operations.
EffectChainNode* effNewNode(EffectParseState* state);
EffectChainNode* CopyEffect(EffectParseState* state, const EffectChainNode* node);
// Unlinks `node` from the chain whose head is *head (when head is given) and frees it.
void zeffre(EffectChainNode** head, EffectChainNode* node);
// Variables in lists 1 to 3.
[[nodiscard]] int32_t effVariableCount(const EffectChainNode* node);

// Inserts a position into the list an EffListCode or holder slot addresses (the
// nested-by-value list with its 16-character value). `duringValue` marks the call of the var=value
// action. Fails (VsfStatus::ReportedFailure) when it set the parse status.
[[nodiscard]] VsfStatus InsertElemInList(EffectParseState* state, int32_t position,
                                         EffectChainNode* node, int32_t listCode, const char* value,
                                         bool duringValue = false);

// Three-way comparisons of effects and of two id lists.
[[nodiscard]] int32_t EqualEffLists(const EffectIdList& a, const EffectIdList& b);
[[nodiscard]] int32_t EqualEffects(const EffectChainNode* a, const EffectChainNode* b,
                                   bool contrast);
// Finds an equal record in the set or inserts `node`; returns the record present or node.
EffectChainNode* zeff_add_ef(EffSortedSet* set, EffectChainNode* node, bool contrast);
EffectChainNode* zeff_find_ef(const EffSortedSet* set, const EffectChainNode* node, bool contrast);

// Adds `node` to the chain (head, tail). On success *out is node when it is new, else the
// equal effect already there (or null when the order limit dropped node), and then the caller
// still owns node. Fails (VsfStatus::ReportedFailure) with node freed and the parse status set.
[[nodiscard]] VsfStatus AddEffToChain(EffectParseState* state, EffectChainNode* node,
                                      EffectChainNode** head, EffectChainNode*** tail,
                                      EffectChainNode** out, EffSortedSet* tree,
                                      double* runningCount, int32_t listMode);
// Expands the bar-term chain into the statement's chain; fails (VsfStatus::ReportedFailure)
// when the parse status was set.
[[nodiscard]] VsfStatus AddBarEffects(EffectParseState* state);
// Crossing of e with the term t, or null when it is discarded.
EffectChainNode* CrossEffects(EffectParseState* state, const EffectChainNode* e,
                              const EffectChainNode* t);
// Adds an effect to the statement's chain, names and records it (see zeffect.cpp). Takes
// node: it is freed when an equal effect was there already. Fails
// (VsfStatus::ReportedFailure) when the parse status was set.
[[nodiscard]] VsfStatus AddEffect(EffectParseState* state, EffectChainNode* node, int32_t id,
                                  bool constructed);

// Sorted-set helpers.
[[nodiscard]] int32_t effSetFind(const EffSortedSet* set, const void* key,
                                 int32_t (*cmp)(const void*, const void*, void*), void* ctx,
                                 bool* found);
[[nodiscard]] bool effSetInsertAt(EffSortedSet* set, int32_t at, void* item);
void effSetClear(EffSortedSet* set);

// Trace print of one effect.
// The DEBUG=SEM trace of the effect parser: a node, and one formatted line, each written to
// the host log as a NOTE (EffMsg::EffectTrace) so that it reaches the log and the
// JSON record.
void PrintEffect(const EffectChainNode* node);
[[gnu::format(printf, 1, 2)]] void effTraceLine(const char* format, ...);
