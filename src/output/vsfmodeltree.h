// The distinct-model tree of the model-averaging summary: the node layout, the key order and
// the tree operations that the qkavlt extension calls for a caller-ordered tree (vsfAVL).
// The extension owns the tree object and its lock; first/next walks are the extension's.
//
// Node (8-byte aligned):
//   0   u64  left link word   (child, or thread to the in-order predecessor; bit 0 balance)
//   8   u64  right link word  (child, or thread to the in-order successor; bit 0 balance)
//   16  i32  count            key: the number of indices
//   24  ptr  indices          key: the ascending indices (compared as signed 32-bit)
//   32  i32  id               the caller's number for the model
#pragma once

#include "support/qkavlt.h"

#include <cstdint>

struct VsfModelKey {
  int32_t count;
  const int32_t* indices;
};

struct VsfModelTreeNode {
  uintptr_t link[2];
  VsfModelKey key;
  int32_t id;
};

inline constexpr int32_t kVsfModelKeyOffset = 16;

// Order of two keys: the count first; equal counts of 0 or less are equal; then the
// indices, the first difference deciding. Negative, 0 or positive.
[[nodiscard]] int vsfModelKeyCompare(const VsfModelKey* a, const VsfModelKey* b);

void* vsfAVL_adder(QkAvlHeader* header, void* node);
void* vsfAVL_finder(QkAvlHeader* header, const void* key);
void* vsfAVL_fuzzier(QkAvlHeader* header, const void* key, void** below, void** above);
void* vsfAVL_killer(QkAvlHeader* header, const void* key);
void* vsfAVL_safe_adder(QkAvlHeader* header, void* node);
void* vsfAVL_safe_finder(QkAvlHeader* header, const void* key);
void* vsfAVL_safe_fuzzier(QkAvlHeader* header, const void* key, void** below, void** above);
void* vsfAVL_safe_killer(QkAvlHeader* header, const void* key);

extern const AvlCallbacks vsfAVL;
