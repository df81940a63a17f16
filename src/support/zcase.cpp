// Case mapping through the shift tables and auxiliary lists of zcasetab.cpp, and the
// 32-bit string routines built on it. The kernel's locale object, when set, does the
// in-place lower and upper casing instead.
#include "support/zcase.h"

namespace {

constexpr int8_t kAuxMarker = -128;

QkChar searchAux(const SkzCasePair* list, QkChar c) {
  for (const SkzCasePair* p = list; p->from != 0; ++p)
    if (p->from == c)
      return static_cast<QkChar>(p->to);
  return c;
}

// The shift entry of c in the table, or 0 when its block has no mapping.
int8_t shiftEntry(const int8_t* table, QkChar c) {
  if (c >= 65536u)
    return 0;
  int16_t m = skz_metatable[(c >> 7) & 511];
  if (m < 0)
    return 0;
  return table[m + (c & 127)];
}

QkChar mapChar(const int8_t* table, const SkzCasePair* aux, QkChar c) {
  int8_t d = shiftEntry(table, c);
  if (d == kAuxMarker)
    return searchAux(aux, c);
  return static_cast<QkChar>(static_cast<int64_t>(c) + d);
}

QkLocale* currentLocale() {
  QkHandle* qk = Exported_QKHandle;
  return qk ? static_cast<QkLocale*>(qk->locale) : nullptr;
}

} // namespace

QkChar skzLowerChar(QkChar c) { return mapChar(skz_downshift, skz_downaux, c); }
QkChar skzUpperChar(QkChar c) { return mapChar(skz_upshift, skz_upaux, c); }

int32_t qkzstrp(const QkChar* text, int32_t length) {
  while (length > 0 && text[length - 1] == U' ')
    --length;
  return length > 0 ? length : 0;
}

void qkzstlo(QkChar* text, int32_t length) {
  if (QkLocale* loc = currentLocale(); loc && loc->lowerCase) {
    loc->lowerCase(loc, text, length);
    return;
  }
  for (int32_t i = 0; i < length; ++i)
    text[i] = skzLowerChar(text[i]);
}

void qkzstup(QkChar* text, int32_t length) {
  if (QkLocale* loc = currentLocale(); loc && loc->upperCase) {
    loc->upperCase(loc, text, length);
    return;
  }
  for (int32_t i = 0; i < length; ++i)
    text[i] = skzUpperChar(text[i]);
}

// Both partners are looked at, so a character whose larger partner sits in an auxiliary
// list is mapped as well as one whose smaller partner does.
void qkzstmin(QkChar* text, int32_t length) {
  for (int32_t i = 0; i < length; ++i) {
    QkChar c = text[i], lo = skzLowerChar(c), up = skzUpperChar(c);
    QkChar m = lo < c ? lo : c;
    text[i] = up < m ? up : m;
  }
}

void qkzstmax(QkChar* text, int32_t length) {
  for (int32_t i = 0; i < length; ++i) {
    QkChar c = text[i], lo = skzLowerChar(c), up = skzUpperChar(c);
    QkChar m = lo > c ? lo : c;
    text[i] = up > m ? up : m;
  }
}

int32_t qkzseqn(const QkChar* a, int32_t aLength, const QkChar* b, int32_t bLength) {
  if (aLength != bLength)
    return 0;
  for (int32_t i = 0; i < aLength; ++i)
    if (skzLowerChar(a[i]) != skzLowerChar(b[i]))
      return 0;
  return 1;
}

int32_t qkzsncmp(const QkChar* a, int32_t aLength, const QkChar* b, int32_t bLength) {
  if (aLength < 0)
    aLength = 0;
  if (bLength < 0)
    bLength = 0;
  int32_t n = aLength < bLength ? aLength : bLength;
  for (int32_t i = 0; i < n; ++i) {
    QkChar la = skzLowerChar(a[i]), lb = skzLowerChar(b[i]);
    if (la != lb)
      return la < lb ? -2 : 2;
  }
  for (int32_t i = n; i < aLength; ++i)
    if (a[i] != U' ')
      return 2;
  for (int32_t i = n; i < bLength; ++i)
    if (b[i] != U' ')
      return -2;
  for (int32_t i = 0; i < n; ++i)
    if (a[i] != b[i])
      return a[i] < b[i] ? -1 : 1;
  return 0;
}
