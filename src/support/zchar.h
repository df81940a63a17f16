// Conversion between the module's 8-bit characters and the host's 32-bit characters
// (QkChar). Both tables are the identity (Latin-1); the string routines live in skstr.h.
#pragma once

#include "support/hostif.h"

#include <array>
#include <cstdint>

// The host's 32-bit character under the name the conversions carry.
using QKChar = QkChar;

// Status codes of the conversions; the second overrides the first.
inline constexpr uint32_t kQkCharTruncated = 0x803fe807u;   // the output was too short
inline constexpr uint32_t kQkCharSubstituted = 0x803fe808u; // a character above 255 became 26
// The substitute character written for a 32-bit character without an 8-bit form.
inline constexpr char kQkCharSubstitute = 26;

// The two 256-entry conversion tables.
extern const std::array<QkChar, 256> kCompilerToQkChar;
extern const std::array<uint8_t, 256> kQkCharToCompiler;

// Maps min(length, capacity) characters through the 8-bit to 32-bit table; the count goes to
// *written when given. Returns 1 when the input was longer than the capacity, else 0.
[[nodiscard]] int32_t Compiler2QKChar(const char* input, int32_t length, QkChar* output,
                                      int32_t capacity, int32_t* written);
// Maps characters below 256 through the 32-bit to 8-bit table and every other one (also
// code points at or above 0x80000000) to 26. Returns 0, kQkCharTruncated or
// kQkCharSubstituted.
[[nodiscard]] uint32_t QKChar2Compiler(const QkChar* input, int32_t length, char* output,
                                       int32_t capacity, int32_t* written);
// The same without a table: a character below 256 is written as its low byte.
[[nodiscard]] uint32_t QKChar2ASCII(const QkChar* input, int32_t length, char* output,
                                    int32_t capacity, int32_t* written);
