// Small readers of option slots shared by the statement readers: lists, texts and data
// sets as the host parser stores them.
#pragma once

#include "driver/vsfparse.h"
#include "support/parsedstmt.h"

#include <cstdint>

// Item count of a list slot of the given kind (0 when absent or of another kind).
// Variable-number lists made by the effect callback count as integer lists.
[[nodiscard]] inline int32_t slotCount(const OptionSlot* sl, uint8_t kind) {
  if (!sl || !sl->present)
    return 0;
  bool same = sl->kind == kind || (kind == OSK_INTLIST && sl->kind == OSK_VARLIST);
  return same ? sl->value.list.count : 0;
}
[[nodiscard]] inline int32_t slotInt(const OptionSlot* sl, int32_t i) {
  return i < slotCount(sl, OSK_INTLIST) ? sl->items.ints[i] : 0;
}
inline double slotDouble(const OptionSlot* sl, int32_t i) {
  return i < slotCount(sl, OSK_DBLLIST) ? sl->items.doubles[i] : 0.0;
}
// Number of quoted texts in a slot (one text, or a name list of repeated ones).
[[nodiscard]] inline int32_t slotTextCount(const OptionSlot* sl) {
  if (!sl)
    return 0;
  if (sl->kind == OSK_TEXT)
    return 1;
  return sl->kind == OSK_NAMELIST ? sl->value.list.count : 0;
}
// The i-th quoted text of a slot; null when there is none.
inline const char* slotTextAt(const OptionSlot* sl, int32_t i, int32_t* length) {
  *length = 0;
  if (!sl)
    return nullptr;
  if (sl->kind == OSK_TEXT && i == 0) {
    *length = sl->value.list.count;
    return sl->items.text;
  }
  const char* text = nullptr;
  if (sl->kind == OSK_NAMELIST && zgetnmr(sl->items.names, i, &text, length) == 0)
    return text;
  *length = 0;
  return nullptr;
}
// The last quoted text of a slot (the last one given wins).
inline const char* slotLastText(const OptionSlot* sl, int32_t* length) {
  int32_t n = slotTextCount(sl);
  return n ? slotTextAt(sl, n - 1, length) : (*length = 0, nullptr);
}
inline HostDataSet* slotDataSet(const OptionSlot* sl) {
  return sl && sl->kind == OSK_DATASET ? sl->value.dataSet : nullptr;
}
