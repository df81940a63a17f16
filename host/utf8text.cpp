// UTF-8 sequence lengths with the ranges of well-formed sequences (no overlong forms, no
// surrogates, nothing above U+10FFFF), the characters of names and their upper case.
#include "host/utf8text.h"

#include "support/zcase.h"

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

// The code point of the valid n-byte sequence at s[i].
char32_t decode(const std::string& s, size_t i, size_t n) {
  static const unsigned char lead[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t c = static_cast<unsigned char>(s[i]) & lead[n];
  for (size_t k = 1; k < n; ++k)
    c = c << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  return c;
}

void encode(char32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
    return;
  }
  if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | c >> 18);
    *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
  }
  *out += static_cast<char>(0x80 | (c & 0x3F));
}

} // namespace

std::string nameUpper(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t n = b < 0x80 ? 0 : utf8Sequence(s, i);
    if (n == 0) {
      out += static_cast<char>(std::toupper(b));
      ++i;
      continue;
    }
    const size_t at = out.size();
    encode(skzUpperChar(decode(s, i, n)), &out);
    if (out.size() - at != n) { // dotless i, long s, and the few whose upper case is longer
      out.resize(at);
      out.append(s, i, n);
    }
    i += n;
  }
  return out;
}

std::string visibleText(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 || c == '\t')
      out += c;
    else
      out.append("<0x").append(1, kHex[b >> 4]).append(1, kHex[b & 15]).append(">");
  }
  return out;
}

} // namespace qrxhost
