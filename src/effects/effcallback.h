// What the stages of the effect callback share (zeffect.cpp dispatches the actions,
// efflookup.cpp finds names and places them in the list holder's lists, efflist.cpp expands
// variable lists): the parse statuses they set, the statement and slot under way, and the
// counters of the current expression's list operators.
#pragma once

#include "effects/effchain.h"
#include "effects/effparse.h"
#include "support/hoststubs.h"
#include "support/stepcodes.h"

#include <cstdint>
#include <cstring>

inline constexpr StepRc kEffStatusSyntax = StepRc::SyntaxError;
inline constexpr StepRc kEffStatusNoData = StepRc::Error;

inline void effFail(StepRc status) { effSetStatus(status); }

// The statement under way, or null.
inline ParsedStatement* effCurrentStatement() {
  ParseRoot* root = effRoot();
  return root ? root->current : nullptr;
}

// The option slot under way (0 when there is no parse).
[[nodiscard]] inline int32_t effCurrentSlot() {
  ParseRoot* root = effRoot();
  return root ? root->effectSlot : 0;
}

// The token's name, at most 33 characters.
inline void effTokenName(const HostToken* token, const char** text, int32_t* length) {
  *text = token && token->text ? token->text : "";
  int32_t n = token ? token->length : 0;
  *length = n > 33 ? 33 : n;
}

// The statement's name as a message argument.
inline HostMsgArg effStmtNameArg(const ParsedStatement* stmt) {
  return stmt ? HostMsgArg(stmt->name, effStmtNameLength(stmt)) : HostMsgArg("");
}

// The list operators counted in the current expression.
[[nodiscard]] inline int32_t effCounterSum(const EffectParseState* state) {
  int32_t sum = 0;
  for (int k = 0; k < 8; ++k)
    sum += state->counters[k];
  return sum;
}
