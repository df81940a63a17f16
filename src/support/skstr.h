// The sk family of the kernel-client layer: length, copy, case, compare, scan and fill on
// 8-bit strings ("Str"), 32-bit host strings ("T") and memory ("Mem"), plus max and min.
// Blank-padded fixed-width strings are in wzstr.h; the power function in zpower.h.
#pragma once

#include "support/hostif.h"

#include <cstdint>

// Status of an unsupported kernel-client request.
inline constexpr uint32_t kSkUnsupported = 0x803fc004u;

[[nodiscard]] uint32_t skUnsup();

// Length up to the terminator; 0 for a null pointer.
[[nodiscard]] int64_t skStrLen(const char* text);
[[nodiscard]] int64_t skStrTLen(const QkChar* text);
// Copy with the terminator; a null source writes an empty string, a null target does nothing.
void skStrCpy(const char* source, char* target);
void skStrTCpy(const QkChar* source, QkChar* target);
// ASCII case change in place over the length.
void skStrUp(char* text, int64_t length);
void skStrLow(char* text, int64_t length);

// 1 when every element equals the character (also for length 0), else 0.
[[nodiscard]] int32_t skMemNot(char c, const void* buffer, int64_t length);
[[nodiscard]] int32_t skMemTNot(QkChar c, const QkChar* buffer, int64_t length);
void skMemSet(void* buffer, char c, int64_t length);
void skMemTSet(QkChar* buffer, QkChar c, int64_t length);
// 0 when equal, else -1 or 1 by the first differing element (bytes unsigned; 32-bit
// elements by the sign of their difference).
[[nodiscard]] int32_t skMemCmp(const void* a, const void* b, int64_t length);
[[nodiscard]] int32_t skWMemCmp(const QkChar* a, const QkChar* b, int64_t length);
// Forward copy of non-overlapping ranges, and a copy that is safe for overlapping ones.
void skMemCpy(const void* source, void* target, int64_t length);
void skMemSCpy(const void* source, void* target, int64_t length);
// A copy of length bytes from the allocator's allocate entry (allocator, length, 0); null when
// the allocator or the source is null or the allocation fails.
void* skMemDup(const void* source, int64_t length, QkPool* allocator);
// Index of the first element equal to (Scan) or different from (NScan) the character; -1
// when none, for a null buffer or for length 0.
[[nodiscard]] int64_t skMemScan(const void* buffer, int64_t length, char c);
[[nodiscard]] int64_t skMemNScan(const void* buffer, int64_t length, char c);
[[nodiscard]] int64_t skMemTNScan(const QkChar* buffer, int64_t length, QkChar c);
// 1 when any of the count doubles is a missing value, else 0.
[[nodiscard]] int32_t skMissArray(const double* values, int64_t count);

// The larger and smaller of two signed 32-bit integers. Other argument types are refused
// so that an unqualified max or min on doubles cannot silently truncate.
[[nodiscard]] inline int32_t max(int32_t a, int32_t b) { return a > b ? a : b; }
[[nodiscard]] inline int32_t min(int32_t a, int32_t b) { return a < b ? a : b; }
double max(double, double) = delete;
double min(double, double) = delete;
