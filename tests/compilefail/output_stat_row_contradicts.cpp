// An OUTPUT statistic's traits row whose columns contradict one another is refused: here a
// quantile that SCORE takes but that has no warning for SCORE when averaging is missing.
#include "support/vsfoutputstat.h"

consteval VsfOutputStatTraits median() {
  VsfOutputStatTraits row = vsfOutputStat(VsfOutputStatIndex::Median);
#ifndef QRX_COMPILE_FAIL_CONTROL
  row.scoreDropped = std::optional<VsfMsg>{};
#endif
  return row;
}
static_assert(vsfOutputStatRowAgrees(median()));
