// The CLASS levelisation engine and the level ordering: collection of the distinct
// formatted values of every CLASS variable in host trees, ranges of continuous numeric
// variables, the level arrays and lookup table, ORDER= sorting, reference levels and the
// orthogonal coding matrices. The design context (levreg.h) drives it once per BY group.
//
//   LevelNode field     offset  meaning
//   links               0       three words of the host tree; the first links the list
//   internal value      24      numeric: the double; character: a pool copy
//   internal length     32      character: the copy's length
//   frequency           40      sum of the observation weights of the level
//   first appearance    48      levels the variable had when this one was met
//   formatted value     56      level width bytes: the tree key
#pragma once

#include "effects/levdesign.h"
#include "support/hostif.h"

#include <cstddef>

struct LevelizeContext;
using LevCallbackFn = int32_t (*)(LevelizeContext* context, LevDesign* design);
using LevFilterHookFn = int32_t (*)(LevelizeContext* context);

// One level found by the pass.
struct LevelNode {
  void* links[3];
  union {
    double number;
    char* text;
  } internal;
  int32_t internalLength;
  int64_t frequency;
  int64_t firstAppearance;
  char formatted[8]; // level width bytes (the node is allocated larger)
};
static_assert(offsetof(LevelNode, formatted) == 56, "the level key starts at byte 56");

// One internal value of a level in the level arrays (16 bytes): the design descriptor's
// level-value entry.
using LevInternalValue = LevLevelValue;
static_assert(sizeof(LevInternalValue) == 16);

// A character CLASS variable's unformatted value of the current observation.
struct LevCharValue {
  char* buffer;
  int32_t length;
};

// The levels met so far of one CLASS variable, open-addressed by the hash of their bytes, so
// that a row finds its level in a probe or two rather than by a walk down the level tree.
struct LevSeen {
  LevLookupSlot* slots; // null before the first level (design/levkeys.h)
  uint64_t mask;        // slots - 1
  int64_t count;
};

struct LevelizeContext {
  QkPool* pool;
  int32_t keyOffset; // 56
  int32_t nodeSize;  // largest level width + 63
  int32_t* levelCounts;
  void** trees;
  void* threadData;
  double* minima;
  double* maxima;
  int32_t numericClassCount;
  int32_t charClassCount;
  int32_t* numericClass;
  int32_t* charClass;
  int32_t* active;
  double* numeric;
  char** formatted;
  double* numericInternal;
  LevCharValue* charInternal;
  void* source;
  uint8_t serial;
  HostRoutine getInit;
  HostRoutine getNext;
  HostRoutine getVals;
  HostRoutine filter;
  uint8_t listed; // the trees have been walked into lists (the first ztrelst did it)
  LevSeen* seen;  // per CLASS variable, the nodes of its tree by hash
};

// Creates the levelisation context of the design's variables; null when no pool.
LevelizeContext* zlevini(void* source, LevDesign* design);
// The whole data pass.
void zlevadd(void* tag, LevelizeContext* context, LevDesign* design);
// Takes the current observation; non-zero when it was taken.
int32_t zlevad1(void* tag, LevelizeContext* context, LevDesign* design, LevelNode** found,
                LevelNode** spare);
// The parts of one observation's levelisation that the serial pass and the workers share:
// fetch, filter and completeness (true when the observation takes part); whether a value
// of a variable is passed over; the frequency a level gets; the representative-value rule
// of numeric levels (the smaller, a missing value the smallest); the numeric ranges.
[[nodiscard]] bool levTakeObservation(LevelizeContext* context, LevDesign* design);
[[nodiscard]] bool levSkipsValue(const LevVariable& variable, const LevDesign* design,
                                 bool present);
[[nodiscard]] int64_t levFrequency(const LevDesign* design, double frequency);
[[nodiscard]] bool levSmallerNumber(double now, double kept);
void levUpdateRange(LevelizeContext* context, const LevDesign* design);
// Empties what a pass collected (levels and ranges), for a pass done again.
void levRestartPass(LevelizeContext* context, const LevDesign* design);
// Builds the level arrays of CLASS variable `index` in `pool`; returns the level count.
[[nodiscard]] int32_t zlevlls(QkPool* pool, LevelizeContext* context, LevDesign* design,
                              int32_t index, char*** valuesOut);
// The level index of a level-width value (left-justified in place first), or -1.
[[nodiscard]] int32_t zlevlwh(void* ignored, LevVariable* variable, char* value);
// Centre and half-range of numeric variable `index` into out[0], out[1]: 0 no data, 1 zero
// range, 2 normal.
[[nodiscard]] int32_t zlevllm(void* ignored, LevelizeContext* context, LevDesign* design,
                              int32_t index, double* out);

// Orders the levels of CLASS variable `index` (mode 'L'), resolves its reference level and
// builds its orthogonal coding matrix in `pool`.
void zlevror(QkPool* pool, LevelizeContext* context, LevDesign* design, int32_t index,
             char** values, int32_t mode);
// Sorts `n` records of `stride` bytes and the permutation together by the keys ("D", "-D",
// "L", "-L", "S", "-S", "X", "-X"; second key " " for none).
void ShellSort(char* records, int32_t n, int64_t* permutation, const char* firstKey,
               const char* secondKey, int32_t keySize, int32_t stride);
// The level width a variable's values need: its format width, else 12 for numbers and the
// storage length for characters.
[[nodiscard]] int32_t levValueWidth(const HostVariable* var);
// Writes LevMsg::ClassValuesCutToWidth once per variable when its level width is smaller
// than its values need.
void levWidthCheck(LevVariable* variable);
// True when a REF= text names a level value: both left-justified (unless the variable keeps
// justification) and cut at their last non-blank character, then equal in length and bytes.
// The design context and the level ordering compare alike through it.
[[nodiscard]] bool levRefMatches(const char* refText, const char* level, int32_t width,
                                 int32_t keepJustification);
