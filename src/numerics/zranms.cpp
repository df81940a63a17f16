// The seed guard of the Lehmer stream and the seed macro variables. The clock and the
// macro table are the host's, reached through the service stubs.
#include "numerics/zranms.h"

#include "support/hoststubs.h"

#include <cmath>

namespace {

// The macro table of the running step (none outside a step).
HostMacroTable* macroAnchor() {
  HostTaskBlock* task = hostCurrentTask();
  return xalanch(task ? task->macroWord : nullptr);
}

} // namespace

void zranms(int64_t* seed, int32_t mode) {
  if (mode == ZRANMS_END) {
    HostMacroTable* anchor = macroAnchor();
    // The macro variables are informative only; a refused one must not stop the step.
    (void)xjsympn(anchor, "SYSRANEND", 9, 70, 0, static_cast<double>(*seed));
    return;
  }
  if (static_cast<uint64_t>(*seed) - 1u >= 2147483646u) {
    double t = wzdttme() * 0.001;
    double f = t - std::floor(t);
    *seed = static_cast<int64_t>(std::floor(f * 1000000000.0) + 1.0);
  }
  if (mode == ZRANMS_CHECK)
    return;
  HostMacroTable* anchor = macroAnchor();
  // The macro variables are informative only; a refused one must not stop the step.
  if (mode == ZRANMS_START)
    (void)xjsympn(anchor, "SYSRANDOM", 9, 70, 0, static_cast<double>(*seed));
}
