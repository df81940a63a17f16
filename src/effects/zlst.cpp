// Element lists and name-list lookups. Searches are linear and allocation-free: the lists
// are the variables of one effect. Reading a name list is left to zgetnmr.
#include "effects/zlst.h"

#include "effects/effparse.h"
#include "support/wzstr.h"

#include <cstring>

namespace {

const unsigned char* at(const void* list, int32_t i, int32_t size) {
  return static_cast<const unsigned char*>(list) + static_cast<size_t>(i) * size;
}

[[nodiscard]] bool same(const void* list, int32_t i, const void* element, int32_t size) {
  return std::memcmp(at(list, i, size), element, static_cast<size_t>(size)) == 0;
}

[[nodiscard]] int32_t codeFromMatches(int32_t m, int32_t na, int32_t nb) {
  if (m < na)
    return m < nb ? 999 : 1;
  return m < nb ? -1 : 0;
}

} // namespace

int32_t zlstcmp(const void* a, int32_t na, const void* b, int32_t nb, int32_t size) {
  if (na <= 0)
    return nb <= 0 ? 0 : -1;
  int32_t m = 0;
  for (int32_t i = 0; i < na; ++i)
    if (zlstmem(b, nb, at(a, i, size), size) < nb)
      ++m;
  return codeFromMatches(m, na, nb);
}

int32_t zlstcmpMul(const void* a, int32_t na, const void* b, int32_t nb, int32_t size) {
  if (na <= 0)
    return nb <= 0 ? 0 : -1;
  int32_t m = 0;
  for (int32_t i = 0; i < na; ++i) {
    const void* x = at(a, i, size);
    if (zlstmul(a, na, x, size) == zlstmul(b, nb, x, size))
      ++m;
  }
  return codeFromMatches(m, na, nb);
}

int32_t zlstmul(const void* list, int32_t n, const void* element, int32_t size) {
  int32_t count = 0;
  for (int32_t i = 0; i < n; ++i)
    if (same(list, i, element, size))
      ++count;
  return count;
}

int32_t zlstmem(const void* list, int32_t n, const void* element, int32_t size) {
  if (n < 1)
    return 0;
  for (int32_t i = 0; i < n; ++i)
    if (same(list, i, element, size))
      return i;
  return n;
}

int32_t zlstjn(const void* a, int32_t na, int32_t* outA, const void* b, int32_t nb, int32_t* outB,
               int32_t size) {
  int32_t pairs = 0;
  for (int32_t i = 0; i < na; ++i)
    for (int32_t j = 0; j < nb; ++j)
      if (std::memcmp(at(a, i, size), at(b, j, size), static_cast<size_t>(size)) == 0) {
        if (outA != nullptr)
          outA[pairs] = i;
        if (outB != nullptr)
          outB[pairs] = j;
        ++pairs;
      }
  return pairs;
}

int32_t effCollate(const char* a, int32_t na, const char* b, int32_t nb) {
  return wzstcmn(a, na, b, nb);
}

int32_t effStrip(const char* text, int32_t n) { return wzstrip(text, n); }

bool effSameName(const char* a, int32_t na, const char* b, int32_t nb) {
  if (na == nb)
    return effCollate(a, na, b, nb) == 0;
  int32_t sa = effStrip(a, na), sb = effStrip(b, nb);
  return sa == sb && effCollate(a, sa, b, sb) == 0;
}

int32_t zlstmel(const NameListBlock* names, int32_t n, const char* name, int32_t length) {
  for (int32_t i = 0; i < n; ++i) {
    const char* text = nullptr;
    int32_t len = 0;
    if (effNameAt(names, i, &text, &len) != 0)
      break;
    if (len == length && std::memcmp(text, name, static_cast<size_t>(length)) == 0)
      return i;
  }
  return n;
}

int32_t zlstmev(const NameListBlock* names, int32_t n, const char* name, int32_t length) {
  if (n < 1)
    return 0;
  for (int32_t i = 0; i < n; ++i) {
    const char* text = nullptr;
    int32_t len = 0;
    if (effNameAt(names, i, &text, &len) != 0)
      break;
    if (effSameName(text, len, name, length))
      return i;
  }
  return n;
}
