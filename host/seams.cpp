// The host's seams and the test switches behind them; compiled only where the switches exist
// (a tree that builds the tests or the benchmarks).
#ifdef QRX_WITH_TEST_HOOKS

#include "host/seams.h"
#include "host/testswitches.h"

#include <atomic>
#include <mutex>

namespace qrxhost {
namespace {

std::mutex gMutex; // guards the two names
std::string gFailingPool;
std::string gFailingExtension;
std::atomic<int64_t> gIoCount{0};
std::atomic<int64_t> gFailIoAt{0};
std::atomic<int64_t> gForcedMemory{0};
std::atomic<int64_t> gRowsBeforeRefusal{-1};
std::atomic<int64_t> gRefusedRows{0};

[[nodiscard]] bool isFailing(const std::string& failing, std::string_view name) {
  std::lock_guard<std::mutex> lock(gMutex);
  return !failing.empty() && name == failing;
}

} // namespace

void failNamedPool(const std::string& name) {
  std::lock_guard<std::mutex> lock(gMutex);
  gFailingPool = name;
}

void failExtensionLoad(const std::string& name) {
  std::lock_guard<std::mutex> lock(gMutex);
  gFailingExtension = name;
}

void failUtilityIoAt(int64_t n) {
  gIoCount = 0;
  gFailIoAt = n;
}

int64_t utilityIoCount() { return gIoCount.load(); }

void setMemoryFigureForTest(int64_t kilobytes) { gForcedMemory = kilobytes; }

void refuseOutputRowsAfter(int64_t rows) {
  gRowsBeforeRefusal.store(rows < 0 ? -1 : rows);
  gRefusedRows.store(0);
}

int64_t refusedOutputRows() { return gRefusedRows.load(); }

namespace seam {

bool refusePool(std::string_view name) { return isFailing(gFailingPool, name); }

bool refuseExtension(std::string_view name) { return isFailing(gFailingExtension, name); }

bool failUtilityIo() {
  const int64_t at = gFailIoAt.load();
  return ++gIoCount == at && at > 0;
}

int64_t forcedMemoryFigure() { return gForcedMemory.load(); }

bool refuseOutputRow() {
  int64_t left = gRowsBeforeRefusal.load();
  if (left == 0) {
    ++gRefusedRows;
    return true;
  }
  if (left > 0)
    gRowsBeforeRefusal.store(left - 1);
  return false;
}

} // namespace seam
} // namespace qrxhost

#endif
