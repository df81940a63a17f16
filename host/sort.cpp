// The sort service: records are copied into one buffer, an index is sorted stably (equal
// keys keep their input order), and the records go out in that order. Routines are called
// through the block's registered callables only.
#include "host/sort.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace qrxhost {
namespace {

using StartFn = int32_t (*)(HostSortBlock*);
using GetFn = int32_t (*)(HostSortBlock*, void**);
using PutFn = int32_t (*)(HostSortBlock*, const void*);
using CompareFn = int32_t (*)(HostSortBlock*, const void*, const void*);
using ReleaseFn = void (*)(HostSortBlock*, int32_t);

bool isMissing(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return (bits >> 48) == 0xFFFFu || v != v;
}

// Compares two records by one key; negative, 0 or positive in ascending order.
int compareKey(const HostSortKey& key, const char* a, const char* b) {
  a += key.offset;
  b += key.offset;
  switch (key.type) {
  case 1: {
    double x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    bool mx = isMissing(x), my = isMissing(y);
    if (mx || my)
      return mx == my ? 0 : (mx ? -1 : 1);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  case 2:
    return std::memcmp(a, b, static_cast<size_t>(key.length));
  default: {
    int32_t x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  }
}

int32_t keyWidth(const HostSortKey& key) {
  switch (key.type) {
  case 1:
    return 8;
  case 2:
    return key.length;
  case 3:
    return 4;
  default:
    return -1;
  }
}

bool validBlock(const HostSortBlock* block) {
  if (!block->callables[SORT_GET] || !block->callables[SORT_PUT] || block->recordLength <= 0)
    return false;
  if (block->callables[SORT_COMPARE])
    return true;
  if (block->keyCount < 0 || (block->keyCount > 0 && !block->keys))
    return false;
  for (int32_t i = 0; i < block->keyCount; ++i) {
    const HostSortKey& k = block->keys[i];
    int32_t w = keyWidth(k);
    if (w <= 0 || k.offset < 0 || k.offset + w > block->recordLength ||
        (k.order != 1 && k.order != 2))
      return false;
  }
  return true;
}

int32_t runSort(HostSortBlock* block) {
  if (block->callables[SORT_START]) {
    int32_t rc = reinterpret_cast<StartFn>(block->callables[SORT_START])(block);
    if (rc < 0)
      return rc;
  }
  if (!validBlock(block))
    return kSortBadBlock;
  const size_t width = static_cast<size_t>(block->recordLength);
  std::vector<char> records;
  size_t count = 0;
  try {
    GetFn get = reinterpret_cast<GetFn>(block->callables[SORT_GET]);
    for (;;) {
      void* record = nullptr;
      int32_t rc = get(block, &record);
      if (rc < 0)
        return rc;
      if (rc == 0)
        break;
      if (!record)
        return kSortBadBlock;
      records.resize((count + 1) * width);
      std::memcpy(records.data() + count * width, record, width);
      ++count;
    }
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i)
      order[i] = i;
    const char* base = records.data();
    if (CompareFn cmp = reinterpret_cast<CompareFn>(block->callables[SORT_COMPARE])) {
      std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        return cmp(block, base + x * width, base + y * width) < 0;
      });
    } else {
      std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        for (int32_t k = 0; k < block->keyCount; ++k) {
          const HostSortKey& key = block->keys[k];
          int c = compareKey(key, base + x * width, base + y * width);
          if (c != 0)
            return key.order == 2 ? c > 0 : c < 0;
        }
        return false;
      });
    }
    PutFn put = reinterpret_cast<PutFn>(block->callables[SORT_PUT]);
    for (size_t i : order) {
      int32_t rc = put(block, base + i * width);
      if (rc < 0)
        return rc;
    }
  } catch (const std::bad_alloc&) {
    return kSortNoMemory;
  }
  if (block->callables[SORT_FINISH]) {
    int32_t rc = reinterpret_cast<StartFn>(block->callables[SORT_FINISH])(block);
    if (rc < 0)
      return rc;
  }
  return 0;
}

} // namespace

int32_t hostZsortap(HostSortBlock* block) {
  if (!block)
    return kSortBadBlock;
  int32_t rc = runSort(block);
  if (block->callables[SORT_RELEASE])
    reinterpret_cast<ReleaseFn>(block->callables[SORT_RELEASE])(block, rc);
  return rc;
}

HostSortServices* sortServices() {
  static HostSortServices services{hostZsortap};
  return &services;
}

} // namespace qrxhost
