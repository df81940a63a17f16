// The host's test switches, which only the tests call: an object of its own, so that a
// runner links it only when it sets them. Compiled only where the switches exist.
#ifdef QRX_WITH_TEST_HOOKS

#include "host/testswitches.h"
#include "host/switchstate.h"

namespace qrxhost {

void failNamedPool(const std::string& name) {
  HostSwitchState& s = hostSwitchState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.failingPool = name;
}

void failExtensionLoad(const std::string& name) {
  HostSwitchState& s = hostSwitchState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.failingExtension = name;
}

void failUtilityIoAt(int64_t n) {
  hostSwitchState().ioCount = 0;
  hostSwitchState().failIoAt = n;
}

int64_t utilityIoCount() { return hostSwitchState().ioCount.load(); }

void setMemoryFigureForTest(int64_t kilobytes) { hostSwitchState().forcedMemory = kilobytes; }

void refuseOutputRowsAfter(int64_t rows) {
  hostSwitchState().rowsBeforeRefusal.store(rows < 0 ? -1 : rows);
  hostSwitchState().refusedRows.store(0);
}

int64_t refusedOutputRows() { return hostSwitchState().refusedRows.load(); }

} // namespace qrxhost

#endif
