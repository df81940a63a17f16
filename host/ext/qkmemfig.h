// The host memory figure (core service wmrlmem): how much memory the procedure may use.
#pragma once

#include <cstdint>
#include <string>

namespace qrxhost {

// 0 and the figure in units of 1024 bytes: the MEMSIZE host option (in bytes, or with a
// K, M or G suffix) when set, else the memory the system reports available, but no more
// than half the address space the process's limit leaves it.
int32_t hostMemoryFigure(int64_t* kilobytes);

// The bytes of address space the process may still take under its limit (ulimit -v): the
// largest uint64_t without a limit, 0 when what the process takes cannot be read.
uint64_t addressSpaceLeft();

// The malloc arenas for a run of `threads` threads with `left` bytes of address space left
// (addressSpaceLeft()): one per thread, and under an address-space limit no more than an
// eighth of the room left holds at the 64 MB each arena beside the first reserves; at least
// one. Eight reader threads with an arena each would otherwise spend 512 MB of address
// space before reading a byte, and glibc allows eight arenas per processor.
[[nodiscard]] int32_t mallocArenas(int64_t threads, uint64_t left);

// Keeps malloc to mallocArenas(threads, addressSpaceLeft()) arenas; the runner calls it
// before its first thread starts.
void boundMallocArenas(int64_t threads);

// The sizes MEMSIZE and CSVHOLD take: from 1K, the smallest figure the procedure plans with
// (it counts in kilobytes), to 1048576G (2^40 KB), a figure whose bytes and the plans'
// multiples of them stay well inside 64-bit integers.
inline constexpr int64_t kMaxMemoryKilobytes = int64_t{1} << 40;
inline constexpr const char* kMemorySizeRule =
    "a size from 1K to 1048576G: a number of bytes, or a number with the suffix K, M or G "
    "(a fraction of a kilobyte is dropped)";

// A size as MEMSIZE and CSVHOLD take it in whole kilobytes: digits with an optional
// fraction, then an optional K, M or G in either case; false when the text is not one or
// its size is outside kMemorySizeRule's range.
bool parseMemorySize(const std::string& text, int64_t* kilobytes);

} // namespace qrxhost
