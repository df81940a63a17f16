// The sk string and memory routines. The platform's memory functions do the bulk work; the
// routines add the null and empty-range rules that callers rely on.
#include "support/skstr.h"
#include "support/notfound.h"

#include <cstring>

uint32_t skUnsup() { return kSkUnsupported; }

int64_t skStrLen(const char* text) { return text ? static_cast<int64_t>(std::strlen(text)) : 0; }

int64_t skStrTLen(const QkChar* text) {
  if (!text)
    return 0;
  int64_t n = 0;
  while (text[n] != 0)
    ++n;
  return n;
}

void skStrCpy(const char* source, char* target) {
  if (!target)
    return;
  if (!source) {
    target[0] = 0;
    return;
  }
  std::memmove(target, source, std::strlen(source) + 1);
}

void skStrTCpy(const QkChar* source, QkChar* target) {
  if (!target)
    return;
  if (!source) {
    target[0] = 0;
    return;
  }
  int64_t n = skStrTLen(source);
  std::memmove(target, source, static_cast<size_t>(n + 1) * sizeof(QkChar));
}

void skStrUp(char* text, int64_t length) {
  for (int64_t i = 0; i < length; ++i)
    if (text[i] >= 'a' && text[i] <= 'z')
      text[i] = static_cast<char>(text[i] - 'a' + 'A');
}

void skStrLow(char* text, int64_t length) {
  for (int64_t i = 0; i < length; ++i)
    if (text[i] >= 'A' && text[i] <= 'Z')
      text[i] = static_cast<char>(text[i] - 'A' + 'a');
}

int32_t skMemNot(char c, const void* buffer, int64_t length) {
  const char* p = static_cast<const char*>(buffer);
  for (int64_t i = 0; i < length; ++i)
    if (p[i] != c)
      return 0;
  return 1;
}

int32_t skMemTNot(QkChar c, const QkChar* buffer, int64_t length) {
  for (int64_t i = 0; i < length; ++i)
    if (buffer[i] != c)
      return 0;
  return 1;
}

void skMemSet(void* buffer, char c, int64_t length) {
  if (length > 0)
    std::memset(buffer, static_cast<unsigned char>(c), static_cast<size_t>(length));
}

void skMemTSet(QkChar* buffer, QkChar c, int64_t length) {
  for (int64_t i = 0; i < length; ++i)
    buffer[i] = c;
}

int32_t skMemCmp(const void* a, const void* b, int64_t length) {
  if (length <= 0)
    return 0;
  int r = std::memcmp(a, b, static_cast<size_t>(length));
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int32_t skWMemCmp(const QkChar* a, const QkChar* b, int64_t length) {
  for (int64_t i = 0; i < length; ++i) {
    // The difference of two code points, formed wide enough never to overflow.
    int64_t d = static_cast<int64_t>(a[i]) - static_cast<int64_t>(b[i]);
    if (d != 0)
      return d < 0 ? -1 : 1;
  }
  return 0;
}

void skMemCpy(const void* source, void* target, int64_t length) {
  if (length > 0)
    std::memcpy(target, source, static_cast<size_t>(length));
}

void skMemSCpy(const void* source, void* target, int64_t length) {
  if (length > 0)
    std::memmove(target, source, static_cast<size_t>(length));
}

void* skMemDup(const void* source, int64_t length, QkPool* allocator) {
  if (!allocator || !source || length < 0)
    return nullptr;
  void* copy = allocator->allocate(allocator, static_cast<size_t>(length), 0);
  if (copy && length > 0)
    std::memcpy(copy, source, static_cast<size_t>(length));
  return copy;
}

int64_t skMemScan(const void* buffer, int64_t length, char c) {
  if (!buffer || length <= 0)
    return kVsfNotFound;
  const void* hit = std::memchr(buffer, static_cast<unsigned char>(c), static_cast<size_t>(length));
  return hit ? static_cast<const char*>(hit) - static_cast<const char*>(buffer) : kVsfNotFound;
}

int64_t skMemNScan(const void* buffer, int64_t length, char c) {
  if (!buffer || length <= 0)
    return kVsfNotFound;
  const char* p = static_cast<const char*>(buffer);
  for (int64_t i = 0; i < length; ++i)
    if (p[i] != c)
      return i;
  return kVsfNotFound;
}

int64_t skMemTNScan(const QkChar* buffer, int64_t length, QkChar c) {
  if (!buffer || length <= 0)
    return kVsfNotFound;
  for (int64_t i = 0; i < length; ++i)
    if (buffer[i] != c)
      return i;
  return kVsfNotFound;
}

int32_t skMissArray(const double* values, int64_t count) {
  for (int64_t i = 0; i < count; ++i)
    if (isHostMissing(values[i]))
      return 1;
  return 0;
}
