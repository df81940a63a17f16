// Element lists: set comparison, membership and counting over small arrays of fixed-size
// elements (variable and level numbers), and lookups in parsed name lists. The name-list
// format belongs to the host parser.

#pragma once

#include <cstddef>
#include <cstdint>

struct NameListBlock;

// 0 equal sets, -1 A within B, 1 B within A, 999 neither (see zlst.cpp).
[[nodiscard]] int32_t zlstcmp(const void* a, int32_t na, const void* b, int32_t nb, int32_t size);
// As zlstcmp, counting an element of A as matched when it occurs as often in A as in B.
[[nodiscard]] int32_t zlstcmpMul(const void* a, int32_t na, const void* b, int32_t nb,
                                 int32_t size);
// Number of elements equal to `element`.
[[nodiscard]] int32_t zlstmul(const void* list, int32_t n, const void* element, int32_t size);
// Index of the first element equal to `element`, or n (0 when n < 1).
[[nodiscard]] int32_t zlstmem(const void* list, int32_t n, const void* element, int32_t size);
// Number of equal pairs; appends the indices of each pair when the out arrays are given.
[[nodiscard]] int32_t zlstjn(const void* a, int32_t na, int32_t* outA, const void* b, int32_t nb,
                             int32_t* outB, int32_t size);
// Index of the first name of exactly that length and bytes, or n.
[[nodiscard]] int32_t zlstmel(const NameListBlock* names, int32_t n, const char* name,
                              int32_t length);
// Index of the first name equal to `name` (trailing blanks ignored), or n (0 when n < 1).
[[nodiscard]] int32_t zlstmev(const NameListBlock* names, int32_t n, const char* name,
                              int32_t length);

// Blank-padded comparison of two texts in the host's collating sequence (the shorter padded
// with blanks): 0 when equal, else +-(1-based position of the first difference).
[[nodiscard]] int32_t effCollate(const char* a, int32_t na, const char* b, int32_t nb);
// Length of a text without trailing blanks.
[[nodiscard]] int32_t effStrip(const char* text, int32_t n);
// The name-list comparison: equal length compares over it; else equal stripped lengths.
[[nodiscard]] bool effSameName(const char* a, int32_t na, const char* b, int32_t nb);
