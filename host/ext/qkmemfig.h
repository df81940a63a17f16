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

// Under an address-space limit, keeps malloc to few arenas: each thread's arena reserves
// 64 MB of address space, which eight reader threads would spend before reading a byte.
void keepMallocWithinLimit();

// A size as MEMSIZE takes it (bytes, or with a K, M or G suffix) in kilobytes; false when the
// text is not one or is below 1 KB.
bool parseMemorySize(const std::string& text, int64_t* kilobytes);

} // namespace qrxhost
