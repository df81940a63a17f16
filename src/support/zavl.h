// Intrusive threaded AVL trees: the caller's records are the nodes. A record starts with
// the links below; its key lies at a byte offset that every call passes. Nothing is
// allocated. Plain (unthreaded) level trees are in ztree.h.
//
//   field    width     meaning
//   left     pointer   left child, or with bit 0 set a thread to the in-order predecessor
//                      (the value 1: no predecessor)
//   right    pointer   right child, or with bit 0 set a thread to the successor (1: none)
//   balance  i16       -1 left subtree higher, 0 equal, +1 right subtree higher
#pragma once

#include <cstdint>

struct ZavlNode {
  uintptr_t left;
  uintptr_t right;
  int16_t balance;
};

// A tree is a root word: null when empty, else the root record. Records must be aligned so
// that bit 0 of their address is 0.

// Insert: returns the record already holding an equal key (the tree is then unchanged), or
// the new record after linking it in.
void* zavl_add_int(void** root, void* record, int32_t offset);
void* zavl_add_chra(void** root, void* record, int32_t offset, int32_t length);
void* zavl_add_tchra(void** root, void* record, int32_t offset, int32_t length);
// Find: the record whose key equals the key (for int the address of an i32, for the string
// kinds the address of the key bytes), or null.
void* zavl_find_int(void* root, const int32_t* key, int32_t offset);
void* zavl_find_chra(void* root, const void* key, int32_t offset, int32_t length);
void* zavl_find_tchra(void* root, const void* key, int32_t offset, int32_t length);
// Remove: unlinks the record whose key equals the key record's key and returns it, or null.
void* zavl_rem_int(void** root, const void* keyRecord, int32_t offset);
void* zavl_rem_chra(void** root, const void* keyRecord, int32_t offset, int32_t length);
void* zavl_rem_tchra(void** root, const void* keyRecord, int32_t offset, int32_t length);

// Leftmost and rightmost record; null for a null root-word pointer or an empty tree.
void* zavl_first_node(void** root);
void* zavl_last_node(void** root);
// In-order successor and predecessor; null after the last and before the first.
void* zavl_next_node(void* node);
void* zavl_prev_node(void* node);
// Turns the tree into an in-order list in place: each left word becomes the previous record
// and each right word the next, both with bit 0 set (1 at the ends); the root word is left
// holding the first record. The tree shape is lost.
void zavl2list(void** root);
