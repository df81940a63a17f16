// The dense part of the cross-product kernel as a rank-k update: up to kVsfRankRows rows of
// a page added into a packed triangle in one pass over it. Every element receives the rows'
// products in row order, exactly as adding the rows one at a time would.
#pragma once

#include <cstdint>
#include <cstring>

inline constexpr int32_t kVsfRankRows = 8;

// T += sum over r < k of w[r] x[r] x[r]' on the packed triangle T of order n, row r's
// products added before row r + 1's in every element; a row's column i is skipped where
// x[r][i] is 0 (as zscp does). Vectorised for the processor found at run time.
void vsfRankUpdate(double* T, int32_t n, const double* const* x, const double* w, int32_t k);
// The same update restricted to rows [rowBegin, rowEnd) of T; each element of those rows gets
// exactly the arithmetic vsfRankUpdate gives it, so parts of T updated apart add up to the
// same numbers bit for bit.
void vsfRankUpdateRows(double* T, int32_t n, const double* const* x, const double* w, int32_t k,
                       int32_t rowBegin, int32_t rowEnd);

// row[j] += a[0] x[0][j] + ... + a[k - 1] x[k - 1][j] for j < len, the products added one
// after another in row order, as adding the rows one at a time would.
void vsfAddRows(double* row, int32_t len, const double* a, const double* const* x, int32_t k);
// vsfAddRows for four rows out[c] taking the same k rows x with their own multipliers a[c]
// (k each), every element's products added in row order as vsfAddRows adds them: the bits
// of four calls of vsfAddRows, with each value of x read once for the four.
void vsfAddRowsToFour(double* const* out, int32_t len, const double* const* a,
                      const double* const* x, int32_t k);

// True when any of the n values is the missing value (top 16 bits set): the row test of the
// cross-product kernel, written as one loop the compiler can vectorise.
[[nodiscard]] inline bool vsfAnyMissing(const double* x, int32_t n) {
  uint64_t any = 0;
  for (int32_t i = 0; i < n; ++i) {
    uint64_t bits;
    std::memcpy(&bits, x + i, sizeof bits);
    any |= ((bits >> 48) + 1) >> 16; // 1 exactly when the top 16 bits are all set
  }
  return any != 0;
}

// True when every one of the n values is finite: none has an exponent of all ones (an
// infinity or a NaN, the missing value among them). A test on the bits, which the compiler
// takes several values at a time, where a sum of the values times zero would be one chain of
// additions.
[[nodiscard]] inline bool vsfAllFinite(const double* x, int32_t n) {
  constexpr uint64_t kExponent = 0x7FF0000000000000;
  uint64_t any = 0;
  for (int32_t i = 0; i < n; ++i) {
    uint64_t bits;
    std::memcpy(&bits, x + i, sizeof bits);
    any |= ((bits & kExponent) + (uint64_t{1} << 52)) >> 63; // 1 exactly for all ones
  }
  return any == 0;
}

// True when every x[i] - c[i] of the first n is finite (a difference of finite values may
// overflow), as vsfAllFinite finds a copy of the differences.
[[nodiscard]] inline bool vsfAllFiniteLess(const double* x, const double* c, int32_t n) {
  constexpr uint64_t kExponent = 0x7FF0000000000000;
  uint64_t any = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double d = x[i] - c[i];
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    any |= ((bits & kExponent) + (uint64_t{1} << 52)) >> 63;
  }
  return any == 0;
}
