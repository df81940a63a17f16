// The Lehmer generator and its seed guard. The clock and the macro table are the host's,
// reached through the service stubs.
#include "numerics/zranuni.h"

#include "support/hoststubs.h"

#include <cmath>

namespace {

// The macro table of the running step (none outside a step).
HostMacroTable* macroAnchor() {
  HostTaskBlock* task = v_global_gcb_anchor ? hostCurrentTask() : nullptr;
  return xalanch(task ? task->macroWord : nullptr);
}

} // namespace

double zranuni(int64_t* seed) {
  const uint64_t x = static_cast<uint64_t>(static_cast<uint32_t>(*seed)) * 397204094u;
  uint32_t r = static_cast<uint32_t>(x & 0x7FFFFFFFu) + static_cast<uint32_t>(x >> 31);
  if (r >= 2147483647u)
    r -= 2147483647u;
  *seed = static_cast<int64_t>(r);
  return static_cast<double>(r) / 2147483647.0;
}

void zranms(int64_t* seed, int32_t mode) {
  if (mode == ZRANMS_END) {
    HostMacroTable* anchor = macroAnchor();
    xjsympn(anchor, "SYSRANEND", 9, 70, 0, static_cast<double>(*seed));
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
  if (mode == ZRANMS_START)
    xjsympn(anchor, "SYSRANDOM", 9, 70, 0, static_cast<double>(*seed));
}
