// The index a lookup returns when what it looks for is not there: a position in a list or a
// text, a level, a column, an effect. Callers test it by name or as a negative index.
#pragma once

#include <cstdint>

inline constexpr int32_t kVsfNotFound = -1;
