// Open-addressed tables of level values (the levels met while collecting them, and the row
// lookup once they are ordered). A slot keeps the value's hash tag and first bytes inline, so
// that a probe compares in place, within the slot's cache line, and reads the stored value
// only when its bytes past the head are not all blanks.
#pragma once

#include "effects/levdesign.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

inline constexpr int32_t kLevKeyHead = static_cast<int32_t>(sizeof(LevLookupSlot::head));

// FNV-1a over a level value's bytes.
inline uint64_t levKeyHash(const char* value, int32_t width) {
  uint64_t h = 14695981039346656037ull;
  for (int32_t i = 0; i < width; ++i)
    h = (h ^ static_cast<unsigned char>(value[i])) * 1099511628211ull;
  return h ^ (h >> 29);
}

// The slot's tag of a hash: its high bits (the low ones choose the slot), never 0.
inline uint32_t levKeyTag(uint64_t hash) { return static_cast<uint32_t>(hash >> 32) | 1u; }

inline bool levKeyBlank(const char* bytes, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (bytes[i] != ' ')
      return false;
  return true;
}

// A used slot for the value `text` (kept by reference as `item`) of the level `level`.
inline LevLookupSlot levKeySlot(uint64_t hash, const char* text, int32_t width, const void* item,
                                int32_t level) {
  LevLookupSlot s{};
  s.tag = levKeyTag(hash);
  s.level = level;
  s.item = item;
  const int32_t head = std::min(width, kLevKeyHead);
  std::memcpy(s.head, text, static_cast<size_t>(head));
  s.blankTail = width <= kLevKeyHead || levKeyBlank(text + kLevKeyHead, width - kLevKeyHead);
  return s;
}

// Puts a slot at the first free place of its probe sequence (the table has a free slot).
inline void levKeyPlace(LevLookupSlot* slots, uint64_t mask, uint64_t hash,
                        const LevLookupSlot& slot) {
  uint64_t at = hash & mask;
  while (slots[at].tag != 0)
    at = (at + 1) & mask;
  slots[at] = slot;
}

// The slot of the value's bytes, or null; textOf(slot) gives a slot's stored bytes.
template <class TextOf>
const LevLookupSlot* levKeyFind(const LevLookupSlot* slots, uint64_t mask, const char* value,
                                int32_t width, TextOf textOf) {
  const uint64_t hash = levKeyHash(value, width);
  const uint32_t tag = levKeyTag(hash);
  const auto head = static_cast<size_t>(std::min(width, kLevKeyHead));
  for (uint64_t at = hash & mask; slots[at].tag != 0; at = (at + 1) & mask) {
    const LevLookupSlot& s = slots[at];
    if (s.tag != tag || std::memcmp(s.head, value, head) != 0)
      continue;
    if (width <= kLevKeyHead)
      return &s;
    const char* tail = value + kLevKeyHead;
    const int32_t n = width - kLevKeyHead;
    if (s.blankTail ? levKeyBlank(tail, n)
                    : std::memcmp(tail, textOf(s) + kLevKeyHead, static_cast<size_t>(n)) == 0)
      return &s;
  }
  return nullptr;
}
