// The vz and wz families: blank-padded fixed-width strings (strip, justify, move, index,
// verify, translate, compare), key comparison at an offset, integer fields and the
// missing-value tests. Lengths are signed 32-bit; zero or negative means empty.
#pragma once

#include <cstdint>

inline constexpr uint32_t kWzFieldOverflow = 0x8000200du; // wzclchr: the number did not fit
inline constexpr uint32_t kWzBadMode = 0x8000200au;       // wztxxlt: unknown mode

// 1 when all length characters equal c (or length is 0 or less), else 0.
[[nodiscard]] int32_t vzatl(char c, const char* text, int32_t length, int32_t ignored);
// Sets the first count doubles to value.
void vzfdl(double* values, int32_t count, double value);

// Compares the keys at offset in two records: length above 0 as unsigned bytes, below 0 as
// one double (missing values before every number, among themselves by their letter byte),
// 0 as unsigned 32-bit integers. Result -1, 0 or 1.
[[nodiscard]] int32_t wzbcoff(const void* a, const void* b, int32_t length, int32_t offset);
// Compares through the session's collating sequence: the difference of the collated values
// at the first difference, else 0.
[[nodiscard]] int32_t wzbcup(const char* a, const char* b, int32_t length);
// Compares two blank-padded texts (the shorter padded with blanks; a null text is empty):
// 0 when equal, else plus or minus the 1-based position of the first difference, negative
// when a sorts first. wzstcmn uses the collating sequence, wzstcom the raw bytes.
[[nodiscard]] int32_t wzstcmn(const char* a, int32_t aLength, const char* b, int32_t bLength);
[[nodiscard]] int32_t wzstcom(const char* a, int32_t aLength, const char* b, int32_t bLength);
// Writes value right-justified in width characters; 0, or kWzFieldOverflow with the whole
// width filled with '*' when it does not fit.
[[nodiscard]] uint32_t wzclchr(int64_t value, char* field, int32_t width);
// 1 when the value is a missing value (top 16 bits all ones); wzmisn: when any of count is.
[[nodiscard]] int32_t wzmis(double value);
[[nodiscard]] int32_t wzmisn(const double* values, int32_t count);
// Length up to the terminator; 0 for a null pointer.
[[nodiscard]] int32_t wzstlen(const char* text);
// Length without trailing blanks.
[[nodiscard]] int32_t wzstrip(const char* text, int32_t length);
// Justifies the text in place within its length: 'L'/'l' left, 'R'/'r' right, 'C'/'c'
// centre, any other mode moves nothing; freed places become blanks. Returns the length
// without leading and trailing blanks (0 when all blank); the optional outs get that length
// and the start of the text after the move (0 when all blank).
int32_t wzstjls(char* text, int32_t length, char mode, int32_t* significant, int32_t* start);
// Copies source into target, cut or padded with blanks; a null source blanks the target. A
// negative targetLength n stands for a terminated target of -n-1 characters. Returns the
// number of characters moved.
int32_t wzstmov(const char* source, int32_t sourceLength, char* target, int32_t targetLength);
// 0-based index of the first occurrence of the pattern, -1 when absent; a pattern length
// below 1 takes the pattern's terminated length.
[[nodiscard]] int32_t wzstndx(const char* text, int32_t length, const char* pattern,
                              int32_t patternLength);
// 0-based index of the first c, -1 when absent.
[[nodiscard]] int32_t wzstpos(const char* text, int32_t length, char c);
// 0-based index of the first character not in the set, -1 when all are in it.
[[nodiscard]] int32_t wzstver(const char* text, int32_t length, const char* set, int32_t setLength);
// Translates length characters from source to target: modes 0 and 1 the session's two
// translations (the identity in a Latin-1 session), 2 upper case, 3 lower case, 4 a copy.
// Returns 0, or kWzBadMode for any other mode (the target is left alone).
[[nodiscard]] uint32_t wztxxlt(int32_t mode, const char* source, char* target, int32_t length);
