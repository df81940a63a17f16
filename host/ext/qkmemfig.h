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

// A size as MEMSIZE takes it (bytes, or with a K, M or G suffix) in kilobytes; false when the
// text is not one or is below 1 KB.
bool parseMemorySize(const std::string& text, int64_t* kilobytes);

} // namespace qrxhost
