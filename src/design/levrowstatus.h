// The status of an observation in the design row protocol (zlevrgd): which of its values
// are missing or unusable, and the named tests the readers of a status ask.
#pragma once

#include <cstdint>

// Bits of the row status returned by zlevrgd (0: usable).
enum LevRowStatus : int32_t {
  LRS_WEIGHT = 0x01,      // weight or frequency unusable
  LRS_EXPLANATORY = 0x02, // an explanatory value missing
  LRS_RESPONSE = 0x04,    // a response-side value missing
  LRS_NOT_LEVEL = 0x08,   // a CLASS value not among the levels
  LRS_NUMERIC = 0x10,     // a numeric variable missing
  LRS_COMPUTED = 0x20,    // a computed value missing
  LRS_ALL_MISSING = 0x40, // a MULTIMEMBER effect with all members missing, allowed
};

// The bits that keep an observation out of the fit: an unusable weight or frequency, or a
// missing explanatory, response-side or computed value.
inline constexpr int32_t kLevRowUnusable =
    LRS_WEIGHT | LRS_EXPLANATORY | LRS_RESPONSE | LRS_COMPUTED;

[[nodiscard]] constexpr bool levRowHas(int32_t status, LevRowStatus bit) {
  return (status & bit) != 0;
}
// True when the observation's design row enters the fit.
[[nodiscard]] constexpr bool levRowUsable(int32_t status) {
  return (status & kLevRowUnusable) == 0;
}
// True when levelisation leaves the observation out: any bit but a CLASS value not among
// the levels and a MULTIMEMBER effect with all its members missing.
[[nodiscard]] constexpr bool levRowSkipsLevels(int32_t status) {
  return (status & ~(LRS_NOT_LEVEL | LRS_ALL_MISSING)) != 0;
}
