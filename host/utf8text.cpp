// UTF-8 sequence lengths with the ranges of well-formed sequences (no overlong forms, no
// surrogates, nothing above U+10FFFF), the characters of names and their upper case.
#include "host/utf8text.h"

#include <cctype>

namespace qrxhost {

size_t utf8Sequence(const std::string& s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0)
      low = 0xA0;
    if (c == 0xED)
      high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0)
      low = 0x90;
    if (c == 0xF4)
      high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > s.size())
    return 0;
  if (byte(i + 1) < low || byte(i + 1) > high)
    return 0;
  for (size_t k = 2; k < length; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
      return 0;
  return length;
}

size_t nameCharBytes(const std::string& s, size_t j) {
  const auto b = static_cast<unsigned char>(s[j]);
  if (b < 0x80)
    return std::isalnum(b) || b == '_' ? 1 : 0;
  return utf8Sequence(s, j);
}

namespace {

// Pairs in which the upper case is the even code point and the lower case the odd one.
bool evenUpperPair(char32_t c) {
  return (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177) ||
         (c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F);
}

// Pairs in which the upper case is the odd code point.
bool oddUpperPair(char32_t c) {
  return (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E) || (c >= 0x4C1 && c <= 0x4CE);
}

// The simple upper case of a two-byte character (U+0080 to U+07FF), or c itself.
char32_t upperOf(char32_t c) {
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F))
    return c - 0x20;
  if (c >= 0x450 && c <= 0x45F)
    return c - 0x50;
  if (evenUpperPair(c))
    return c & ~char32_t{1};
  if (oddUpperPair(c))
    return c % 2 == 0 ? c - 1 : c;
  switch (c) {
  case 0xFF:
    return 0x178;
  case 0x3C2: // final sigma
    return 0x3A3;
  case 0x3AC:
    return 0x386;
  case 0x3AD:
  case 0x3AE:
  case 0x3AF:
    return c - 0x25;
  case 0x3CC:
    return 0x38C;
  case 0x3CD:
  case 0x3CE:
    return c - 0x3F;
  case 0x4CF:
    return 0x4C0;
  default:
    return c;
  }
}

} // namespace

std::string nameUpper(std::string s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      s[i] = static_cast<char>(std::toupper(b));
      continue;
    }
    const size_t n = utf8Sequence(s, i);
    if (n == 2) {
      const char32_t c = (char32_t{b} & 0x1F) << 6 | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
      const char32_t u = upperOf(c);
      s[i] = static_cast<char>(0xC0 | (u >> 6));
      s[i + 1] = static_cast<char>(0x80 | (u & 0x3F));
    }
    if (n > 1)
      i += n - 1;
  }
  return s;
}

} // namespace qrxhost
