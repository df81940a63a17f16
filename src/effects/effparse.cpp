// Access of the effect library to the host's parse records: parse root, list holder,
// list slots and name lists. The host owns the records and grows list slots (zaddlst).
#include "effects/effparse.h"

#include "effects/effchain.h"
#include "effects/levalloc.h"
#include "support/hoststubs.h"

#include <cstring>

ParseRoot* effRoot() {
  if (v_global_gcb_anchor == nullptr)
    return nullptr;
  return hostParseRoot();
}

EffectParseState* effState() {
  ParseRoot* root = effRoot();
  return root ? root->effectState : nullptr;
}

int16_t effStatus() {
  ParseRoot* root = effRoot();
  return root != nullptr ? root->status : int16_t{kParseOk};
}

void effSetStatus(StepRc status) {
  if (ParseRoot* root = effRoot())
    root->status = static_cast<int16_t>(codeOf(status));
}

OptionSlot* effSlotAt(ParsedStatement* stmt, int32_t k) {
  if (stmt == nullptr || stmt->slots == nullptr || k < 0 || k >= stmt->slotCount)
    return nullptr;
  return &stmt->slots[k];
}

OptionSlot* effHolderList(int32_t which) {
  ParseRoot* root = effRoot();
  return root ? effSlotAt(root->first, which) : nullptr;
}

int32_t effListCount(const OptionSlot* slot) {
  return slot != nullptr && slot->present ? slot->value.list.count : 0;
}

namespace {

// Makes room for one more item in a list slot through the host's list growth: 0, or the
// host's negative result (a growth that leaves no items counts as out of memory).
[[nodiscard]] int32_t growSlot(OptionSlot* slot, size_t itemSize) {
  if (slot == nullptr)
    return kEffListNoMemory;
  if (!slot->present) {
    slot->value.list.count = 0;
    slot->value.list.capacity = 0;
    slot->items.any = nullptr;
  }
  int32_t r = zaddlst(slot, static_cast<int32_t>(itemSize), 1);
  if (r < 0)
    return r;
  return r == 0 && slot->items.any != nullptr ? 0 : kEffListNoMemory;
}

} // namespace

int32_t effListAppend(OptionSlot* slot, int32_t item) {
  if (int32_t r = growSlot(slot, sizeof(int32_t)); r != 0)
    return r;
  if (!slot->present) {
    slot->present = 3;
    slot->kind = OSK_VARLIST;
  }
  int32_t index = slot->value.list.count++;
  slot->items.ints[index] = item;
  return index;
}

int32_t effListAppendPointer(OptionSlot* slot, void* item) {
  if (int32_t r = growSlot(slot, sizeof(void*)); r != 0)
    return r;
  if (!slot->present) {
    slot->present = 3;
    slot->kind = OSK_PTRLIST;
  }
  slot->items.pointers[slot->value.list.count++] = item;
  return slot->value.list.count;
}

void effListGrowthFailed(int32_t result) {
  xexit(result == kEffListRefused ? StepRc::SyntaxError : StepRc::NoResources, 0);
}

bool effStmtIs(const ParsedStatement* stmt, const char* prefix, int32_t n) {
  return stmt != nullptr && std::memcmp(stmt->name, prefix, static_cast<size_t>(n)) == 0;
}

int32_t effStmtNameLength(const ParsedStatement* stmt) {
  int32_t n = 32;
  while (n > 0 && (stmt->name[n - 1] == ' ' || stmt->name[n - 1] == '\0'))
    --n;
  return n;
}

int32_t effNameAt(const NameListBlock* list, int64_t n, const char** text, int32_t* length) {
  if (list == nullptr || n < 0)
    return 1;
  int64_t first = 0;
  while (list != nullptr && list->lastIndex < n) {
    if (list->lastIndex >= 0)
      first = list->lastIndex + 1;
    list = list->next;
  }
  if (list == nullptr)
    return 1;
  const uint8_t* p = list->names;
  const uint8_t* end = list->names + (list->used < 224 ? list->used : 224);
  for (int64_t i = first; p < end; ++i) {
    uint8_t len = *p;
    if (i == n) {
      *text = reinterpret_cast<const char*>(p + 1);
      *length = len;
      return 0;
    }
    p += 1 + len;
  }
  return 1;
}

int32_t effNameCount(const OptionSlot* slot) {
  if (slot == nullptr || !slot->present || slot->items.names == nullptr)
    return 0;
  const NameListBlock* b = slot->items.names;
  int64_t last = -1;
  for (; b != nullptr; b = b->next)
    if (b->lastIndex > last)
      last = b->lastIndex;
  return static_cast<int32_t>(last + 1);
}
