// Memory of large column arrays: each in a mapping of its own, page-aligned, so that the
// pages holding values no reader will take again can be handed back to the system exactly.
#pragma once

#include <cstddef>

namespace qrxhost {

// Arrays of at least this many bytes (16 pages) get a mapping of their own; smaller ones come
// from the heap (little more than a partial page would be all they could give back). Kept low
// so that the columns of a wide file of some thousands of rows, which together take as much
// memory as a long narrow file's, can be handed back as the reader goes.
inline constexpr size_t kColumnMapBytes = size_t{1} << 16;

// A mapping of `bytes` bytes (throws std::bad_alloc when the system has none), and its end.
void* mapColumnBytes(size_t bytes);
void unmapColumnBytes(void* block, size_t bytes);
// Hands back the whole pages of the first `upTo` bytes of a mapping; they read as zeros
// afterwards. The bytes of a page that also holds later bytes stay.
void dropColumnBytes(const void* block, size_t upTo);

} // namespace qrxhost
