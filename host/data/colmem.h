// Memory of large column arrays: each in a mapping of its own, page-aligned, so that the
// pages holding values no reader will take again can be handed back to the system exactly.
#pragma once

#include <cstddef>

namespace qrxhost {

// Arrays of at least this many bytes get a mapping of their own; smaller ones come from the
// heap (a partial page would be all they could give back).
inline constexpr size_t kColumnMapBytes = size_t{1} << 18;

// A mapping of `bytes` bytes (throws std::bad_alloc when the system has none), and its end.
void* mapColumnBytes(size_t bytes);
void unmapColumnBytes(void* block, size_t bytes);
// Hands back the whole pages of the first `upTo` bytes of a mapping; they read as zeros
// afterwards. The bytes of a page that also holds later bytes stay.
void dropColumnBytes(const void* block, size_t upTo);

} // namespace qrxhost
