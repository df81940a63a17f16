// The state behind the host's test switches, shared by the seams that read it (seams.cpp)
// and the switches that set it (testswitches.cpp). The two sit in separate objects, so that a
// runner, which only asks the seams, links none of the switches.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#ifndef QRX_WITH_TEST_HOOKS
#error "the host's test switches exist only in a tree that builds the tests or the benchmarks"
#endif

namespace qrxhost {

struct HostSwitchState {
  std::mutex mutex; // guards the two names
  std::string failingPool;
  std::string failingExtension;
  std::atomic<int64_t> ioCount{0};
  std::atomic<int64_t> failIoAt{0};
  std::atomic<int64_t> forcedMemory{0};
  std::atomic<int64_t> rowsBeforeRefusal{-1};
  std::atomic<int64_t> refusedRows{0};
};

HostSwitchState& hostSwitchState();

} // namespace qrxhost
