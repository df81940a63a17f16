// The status of an observation in the design row protocol (zlevrgd): which of its values
// are missing or unusable, as a set of named flags, and the named tests its readers ask.
#pragma once

#include "support/flagset.h"

#include <cstdint>

enum class LevRowStatus : int32_t {
  Weight = 0x01,      // weight or frequency unusable
  Explanatory = 0x02, // an explanatory value missing
  Response = 0x04,    // a response-side value missing
  NotLevel = 0x08,    // a CLASS value not among the levels
  Numeric = 0x10,     // a numeric variable missing
  Computed = 0x20,    // a computed value missing
  AllMissing = 0x40,  // a MULTIMEMBER effect with all members missing, allowed
};
constexpr bool isFlagEnum(LevRowStatus) { return true; }
// The empty set: a usable observation.
using LevRowStatusSet = FlagSet<LevRowStatus>;

// The flags that keep an observation out of the fit: an unusable weight or frequency, or a
// missing explanatory, response-side or computed value.
inline constexpr LevRowStatusSet kLevRowUnusable = LevRowStatus::Weight |
                                                   LevRowStatus::Explanatory |
                                                   LevRowStatus::Response | LevRowStatus::Computed;

// True when the observation's design row enters the fit.
[[nodiscard]] constexpr bool levRowUsable(LevRowStatusSet status) {
  return !status.any(kLevRowUnusable);
}
// True when levelisation leaves the observation out: any flag but a CLASS value not among
// the levels and a MULTIMEMBER effect with all its members missing.
[[nodiscard]] constexpr bool levRowSkipsLevels(LevRowStatusSet status) {
  status.clear(LevRowStatus::NotLevel);
  status.clear(LevRowStatus::AllMissing);
  return !status.empty();
}
