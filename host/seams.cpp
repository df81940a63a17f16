// The host's seams over the state of its test switches; compiled only where the switches
// exist (a tree that builds the tests or the benchmarks).
#ifdef QRX_WITH_TEST_HOOKS

#include "host/seams.h"
#include "host/switchstate.h"

namespace qrxhost {
namespace {

[[nodiscard]] bool isFailing(const std::string& failing, std::string_view name) {
  std::lock_guard<std::mutex> lock(hostSwitchState().mutex);
  return !failing.empty() && name == failing;
}

} // namespace

HostSwitchState& hostSwitchState() {
  static HostSwitchState state;
  return state;
}

namespace seam {

bool refusePool(std::string_view name) { return isFailing(hostSwitchState().failingPool, name); }

bool refuseExtension(std::string_view name) {
  return isFailing(hostSwitchState().failingExtension, name);
}

bool failUtilityIo() {
  HostSwitchState& s = hostSwitchState();
  const int64_t at = s.failIoAt.load();
  return ++s.ioCount == at && at > 0;
}

void clearUtilityIoFault() { hostSwitchState().failIoAt = 0; }

int64_t forcedMemoryFigure() { return hostSwitchState().forcedMemory.load(); }

bool refuseOutputRow() {
  HostSwitchState& s = hostSwitchState();
  const int64_t left = s.rowsBeforeRefusal.load();
  if (left == 0) {
    ++s.refusedRows;
    return true;
  }
  if (left > 0)
    s.rowsBeforeRefusal.store(left - 1);
  return false;
}

} // namespace seam
} // namespace qrxhost

#endif
