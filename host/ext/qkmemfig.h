// The host memory figure (core service wmrlmem): how much memory the procedure may use.
#pragma once

#include <cstdint>
#include <string>

namespace qrxhost {

// 0 and the figure in units of 1024 bytes: the MEMSIZE host option (in bytes, or with a
// K, M or G suffix) when set, else the memory the system reports available.
int32_t hostMemoryFigure(int64_t* kilobytes);

// A size as MEMSIZE takes it (bytes, or with a K, M or G suffix) in kilobytes; false when the
// text is not one or is below 1 KB.
bool parseMemorySize(const std::string& text, int64_t* kilobytes);

} // namespace qrxhost
