// The blocked form of the cross-product kernel's rank-k update: a block of up to
// kVsfGramRows page rows added into a packed triangle tile by tile, each tile of the
// triangle held in registers while the block's rows pass through it.
#pragma once

#include <cstdint>

inline constexpr int32_t kVsfGramRows = 256;

// T += sum over r < k of w[r] x[r] x[r]' on rows [rowBegin, rowEnd) of the packed triangle T
// of order n (k <= kVsfGramRows). Every element receives its rows' terms in row order, each
// as one fused multiply-add (w[r] x[r][i]) x[r][j] + t where the processor has one, so the
// bits of an element do not depend on the block, the tile or the rows a caller asks for:
// parts of T updated apart, or by blocks cut elsewhere, are the same numbers. Blocks holding
// a value that is not finite go through vsfRankUpdateRows instead, which skips zero terms.
void vsfGramUpdateRows(double* T, int32_t n, const double* const* x, const double* w, int32_t k,
                       int32_t rowBegin, int32_t rowEnd);
// vsfGramUpdateRows for rows whose first n values the caller has found finite (vsfAllFinite),
// which spares their test: a part of a shared pass would otherwise read every row once more.
void vsfGramUpdateFiniteRows(double* T, int32_t n, const double* const* x, const double* w,
                             int32_t k, int32_t rowBegin, int32_t rowEnd);
// vsfGramUpdateFiniteRows of the rows less `centre` (n values), whose differences the caller
// has found finite (vsfAllFiniteLess): each value is centred as the block is packed, to the
// bits of a centred copy, so that a part of a shared pass centres only the values it packs.
void vsfGramUpdateCentredRows(double* T, int32_t n, const double* const* x, const double* centre,
                              const double* w, int32_t k, int32_t rowBegin, int32_t rowEnd);
// The rows of the triangle that the tiles of this processor's form take at a time: rows of a
// block updated apart at one of its multiples share no tile, which both updates would form.
[[nodiscard]] int32_t vsfGramRowBlock();
