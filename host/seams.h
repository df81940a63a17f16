// The host's seams for the tests: each is a function the host calls at the one place a test
// injects a fault. A product build defines each here as its constant, so the compiler folds
// it away; a tree that builds the tests or the benchmarks (QRX_WITH_TEST_HOOKS) defines each
// in host/seams.cpp, where it reads the switch that host/testswitches.h sets.
#pragma once

#include <cstdint>
#include <string_view>

namespace qrxhost::seam {

#ifdef QRX_WITH_TEST_HOOKS

// Whether a named pool made through the kernel handle with this name fails.
[[nodiscard]] bool refusePool(std::string_view name);
// Whether loading the extension of this name fails.
[[nodiscard]] bool refuseExtension(std::string_view name);
// Counts one read or write of a utility file; true when it is the one that is to fail.
[[nodiscard]] bool failUtilityIo();
// Switches the failing read or write off (the page files' settings are reset).
void clearUtilityIoFault();
// The memory figure a test fixed, in kilobytes (0: none; negative: the service fails).
[[nodiscard]] int64_t forcedMemoryFigure();
// Counts one row offered to an output data set; true when it is to be refused.
[[nodiscard]] bool refuseOutputRow();

#else

[[nodiscard]] constexpr bool refusePool(std::string_view) { return false; }
[[nodiscard]] constexpr bool refuseExtension(std::string_view) { return false; }
[[nodiscard]] constexpr bool failUtilityIo() { return false; }
constexpr void clearUtilityIoFault() {}
[[nodiscard]] constexpr int64_t forcedMemoryFigure() { return 0; }
[[nodiscard]] constexpr bool refuseOutputRow() { return false; }

#endif

} // namespace qrxhost::seam
