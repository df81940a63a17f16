// UTF-8 sequence lengths with the ranges of well-formed sequences (no overlong forms, no
// surrogates, nothing above U+10FFFF).
#include "host/utf8text.h"

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

} // namespace qrxhost
