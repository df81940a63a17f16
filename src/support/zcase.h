// Case mapping of 32-bit host strings (QkChar): the static case tables, one-character
// mapping, strip, lower/upper/min/max in place and case-insensitive equality and ordering.
// The tables are generated (zcasetab.cpp); the clock routines are in ztime.h.
#pragma once

#include "support/hostif.h"

#include <cstdint>

// One pair of an auxiliary list: a character and its partner; lists end with {0, 0}.
struct SkzCasePair {
  uint32_t from;
  uint32_t to;
};

// Per 128-character block below 65536: -1 when the block has no mapping, else the start of
// its row in the shift tables.
extern const int16_t skz_metatable[512];
// Differences to the lower-case (down) and upper-case (up) partner; 0 none; -128 look the
// character up in the auxiliary list.
extern const int8_t skz_downshift[];
extern const int8_t skz_upshift[];
extern const SkzCasePair skz_downaux[];
extern const SkzCasePair skz_upaux[];
// Number of 128-entry rows of each shift table.
extern const int32_t kSkzShiftRows;

// The lower-case and upper-case partner of one character (the character itself when none).
QkChar skzLowerChar(QkChar c);
QkChar skzUpperChar(QkChar c);

// Length without trailing blanks.
[[nodiscard]] int32_t qkzstrp(const QkChar* text, int32_t length);
// Lower or upper case in place: through the kernel's locale object when one is set, else
// through the tables.
void qkzstlo(QkChar* text, int32_t length);
void qkzstup(QkChar* text, int32_t length);
// Replaces each character by the smaller (min) or larger (max) code of itself and its case
// partners.
void qkzstmin(QkChar* text, int32_t length);
void qkzstmax(QkChar* text, int32_t length);
// 1 when the lengths are equal and the texts are equal after lower-casing, else 0.
[[nodiscard]] int32_t qkzseqn(const QkChar* a, int32_t aLength, const QkChar* b, int32_t bLength);
// -2 or 2 when the texts differ after lower-casing (or a longer text goes on with other
// than blanks: 2 when a is the longer, -2 when b is); else -1, 0 or 1 by the first raw
// difference.
[[nodiscard]] int32_t qkzsncmp(const QkChar* a, int32_t aLength, const QkChar* b, int32_t bLength);
