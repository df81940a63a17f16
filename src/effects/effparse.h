// Access of the effect library to the host's parse: the parse root, the list-holder
// statement and its two variable lists, name lists and statement names. The records are
// the host's (support/parsedstmt.h); these helpers only read and grow them.
#pragma once

#include "support/parsedstmt.h"
#include "support/stepcodes.h"

#include <cstdint>

struct EffectParseState;

// The parse root, or null when no parse is under way.
ParseRoot* effRoot();
// The callback's state hung at the parse root, or null.
EffectParseState* effState();
int16_t effStatus();
void effSetStatus(StepRc status);

// Slot k of a statement, whether or not present (null when the statement has no slot k).
OptionSlot* effSlotAt(ParsedStatement* stmt, int32_t k);
// The list holder's list 1 (direct) or 2 (CLASS) as a slot (null when there is none).
OptionSlot* effHolderList(int32_t which);
[[nodiscard]] int32_t effListCount(const OptionSlot* slot);
// Failures of the host's list growth: it refused the list (-1), or any other negative
// result, taken as memory that could not be had.
inline constexpr int32_t kEffListRefused = -1;
inline constexpr int32_t kEffListNoMemory = -2;
// Appends one i32 item to a list slot (marked present, kind 11); the new index, or the
// negative result of the list growth.
[[nodiscard]] int32_t effListAppend(OptionSlot* slot, int32_t item);
// Appends one pointer item to a list slot; the new count, or the negative result of the
// list growth.
[[nodiscard]] int32_t effListAppendPointer(OptionSlot* slot, void* item);
// Ends the run after a failed list growth: a refused list with StepRc::SyntaxError, any
// other failure with StepRc::NoResources. The host has said what went wrong; nothing is logged
// here.
[[noreturn]] void effListGrowthFailed(int32_t result);

// True when the statement's blank-padded name begins with `prefix` (n characters).
[[nodiscard]] bool effStmtIs(const ParsedStatement* stmt, const char* prefix, int32_t n);
// The statement's name without trailing blanks.
[[nodiscard]] int32_t effStmtNameLength(const ParsedStatement* stmt);

// Name n (from 0) of a name list: its characters and length; 0, or 1 when there is none.
[[nodiscard]] int32_t effNameAt(const NameListBlock* list, int64_t n, const char** text,
                                int32_t* length);
// Number of names in a name-list slot (0 when absent).
[[nodiscard]] int32_t effNameCount(const OptionSlot* slot);
