// The vz and wz fixed-width string routines. The session is single-byte Latin-1, so the
// collating sequence is byte order and the two session translations are the identity.
#include "support/wzstr.h"
#include "support/notfound.h"

#include "support/hostif.h"
#include "support/zcase.h"

#include <cstring>

namespace {

// The collated value of a byte in the session's collating sequence.
[[nodiscard]] inline int32_t collate(char c) { return static_cast<unsigned char>(c); }

// Raw or collated comparison of two blank-padded texts.
template <bool Collated>
[[nodiscard]] int32_t compareFields(const char* a, int32_t aLength, const char* b,
                                    int32_t bLength) {
  if (!a || aLength < 0)
    aLength = 0;
  if (!b || bLength < 0)
    bLength = 0;
  int32_t n = aLength > bLength ? aLength : bLength;
  for (int32_t i = 0; i < n; ++i) {
    char ca = i < aLength ? a[i] : ' ';
    char cb = i < bLength ? b[i] : ' ';
    int32_t va = Collated ? collate(ca) : static_cast<unsigned char>(ca);
    int32_t vb = Collated ? collate(cb) : static_cast<unsigned char>(cb);
    if (va != vb)
      return va < vb ? -(i + 1) : i + 1;
  }
  return 0;
}

// The letter byte of a missing value (byte 5 of the little-endian double).
[[nodiscard]] inline uint32_t missingLetter(uint64_t bits) {
  return static_cast<uint32_t>((bits >> 40) & 0xFF);
}

[[nodiscard]] inline bool isMissingBits(uint64_t bits) { return (bits >> 48) == 0xFFFFu; }

// One 8-bit character through the 32-bit case tables; partners outside 8 bits are not used.
char caseChar(char c, bool upper) {
  QkChar w = static_cast<unsigned char>(c);
  QkChar m = upper ? skzUpperChar(w) : skzLowerChar(w);
  return m < 256 ? static_cast<char>(m) : c;
}

} // namespace

int32_t vzatl(char c, const char* text, int32_t length, int32_t /*ignored*/) {
  for (int32_t i = 0; i < length; ++i)
    if (text[i] != c)
      return 0;
  return 1;
}

void vzfdl(double* values, int32_t count, double value) {
  for (int32_t i = 0; i < count; ++i)
    values[i] = value;
}

int32_t wzbcoff(const void* a, const void* b, int32_t length, int32_t offset) {
  const char* ka = static_cast<const char*>(a) + offset;
  const char* kb = static_cast<const char*>(b) + offset;
  if (length > 0) {
    int r = std::memcmp(ka, kb, static_cast<size_t>(length));
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  if (length == 0) {
    uint32_t ua, ub;
    std::memcpy(&ua, ka, sizeof ua);
    std::memcpy(&ub, kb, sizeof ub);
    return ua < ub ? -1 : (ua > ub ? 1 : 0);
  }
  uint64_t ba, bb;
  std::memcpy(&ba, ka, sizeof ba);
  std::memcpy(&bb, kb, sizeof bb);
  bool ma = isMissingBits(ba), mb = isMissingBits(bb);
  if (ma || mb) {
    if (!mb)
      return -1;
    if (!ma)
      return 1;
    // The ordinary missing value has letter byte 0xFE; special ones count down from 0xFF,
    // so a larger letter byte sorts first.
    uint32_t la = missingLetter(ba), lb = missingLetter(bb);
    return la > lb ? -1 : (la < lb ? 1 : 0);
  }
  double da, db;
  std::memcpy(&da, ka, sizeof da);
  std::memcpy(&db, kb, sizeof db);
  return da < db ? -1 : (da > db ? 1 : 0);
}

int32_t wzbcup(const char* a, const char* b, int32_t length) {
  for (int32_t i = 0; i < length; ++i) {
    int32_t d = collate(a[i]) - collate(b[i]);
    if (d != 0)
      return d;
  }
  return 0;
}

int32_t wzstcmn(const char* a, int32_t aLength, const char* b, int32_t bLength) {
  return compareFields<true>(a, aLength, b, bLength);
}

int32_t wzstcom(const char* a, int32_t aLength, const char* b, int32_t bLength) {
  return compareFields<false>(a, aLength, b, bLength);
}

uint32_t wzclchr(int64_t value, char* field, int32_t width) {
  if (width <= 0)
    return kWzFieldOverflow;
  char digits[24];
  int32_t n = 0;
  // Work on the unsigned magnitude so that the most negative value has a form too.
  uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  if (value < 0)
    digits[n++] = '-';
  if (n > width) {
    std::memset(field, '*', static_cast<size_t>(width));
    return kWzFieldOverflow;
  }
  int32_t pad = width - n;
  std::memset(field, ' ', static_cast<size_t>(pad));
  for (int32_t i = 0; i < n; ++i)
    field[pad + i] = digits[n - 1 - i];
  return 0;
}

int32_t wzmis(double value) { return isHostMissing(value) ? 1 : 0; }

int32_t wzmisn(const double* values, int32_t count) {
  for (int32_t i = 0; i < count; ++i)
    if (isHostMissing(values[i]))
      return 1;
  return 0;
}

int32_t wzstlen(const char* text) { return text ? static_cast<int32_t>(std::strlen(text)) : 0; }

int32_t wzstrip(const char* text, int32_t length) {
  while (length > 0 && text[length - 1] == ' ')
    --length;
  return length > 0 ? length : 0;
}

int32_t wzstjls(char* text, int32_t length, char mode, int32_t* significant, int32_t* start) {
  int32_t first = 0;
  while (first < length && text[first] == ' ')
    ++first;
  int32_t sig = 0, newStart = 0;
  if (first < length) {
    int32_t end = wzstrip(text, length);
    sig = end - first;
    newStart = first;
    switch (mode) {
    case 'L':
    case 'l':
      newStart = 0;
      break;
    case 'R':
    case 'r':
      newStart = length - sig;
      break;
    case 'C':
    case 'c':
      newStart = (length - sig) / 2;
      break;
    default:
      break;
    }
    if (newStart != first) {
      std::memmove(text + newStart, text + first, static_cast<size_t>(sig));
      std::memset(text, ' ', static_cast<size_t>(newStart));
      std::memset(text + newStart + sig, ' ', static_cast<size_t>(length - newStart - sig));
    }
  }
  if (significant)
    *significant = sig;
  if (start)
    *start = newStart;
  return sig;
}

int32_t wzstmov(const char* source, int32_t sourceLength, char* target, int32_t targetLength) {
  bool terminated = targetLength < 0;
  int32_t width = terminated ? -targetLength - 1 : targetLength;
  if (width < 0)
    width = 0;
  int32_t n = 0;
  if (source && sourceLength > 0)
    n = sourceLength < width ? sourceLength : width;
  if (n > 0)
    std::memmove(target, source, static_cast<size_t>(n));
  std::memset(target + n, ' ', static_cast<size_t>(width - n));
  if (terminated)
    target[width] = 0;
  return n;
}

int32_t wzstndx(const char* text, int32_t length, const char* pattern, int32_t patternLength) {
  if (patternLength < 1)
    patternLength = wzstlen(pattern);
  if (patternLength == 0)
    return length >= 0 ? 0 : -1;
  for (int32_t i = 0; i + patternLength <= length; ++i)
    if (std::memcmp(text + i, pattern, static_cast<size_t>(patternLength)) == 0)
      return i;
  return kVsfNotFound;
}

int32_t wzstpos(const char* text, int32_t length, char c) {
  for (int32_t i = 0; i < length; ++i)
    if (text[i] == c)
      return i;
  return kVsfNotFound;
}

int32_t wzstver(const char* text, int32_t length, const char* set, int32_t setLength) {
  for (int32_t i = 0; i < length; ++i) {
    bool inSet = false;
    for (int32_t j = 0; j < setLength && !inSet; ++j)
      inSet = text[i] == set[j];
    if (!inSet)
      return i;
  }
  return kVsfNotFound;
}

uint32_t wztxxlt(int32_t mode, const char* source, char* target, int32_t length) {
  if (mode < 0 || mode > 4)
    return kWzBadMode;
  for (int32_t i = 0; i < length; ++i) {
    char c = source[i];
    if (mode == 2)
      c = caseChar(c, true);
    else if (mode == 3)
      c = caseChar(c, false);
    target[i] = c;
  }
  return 0;
}
