// The default operations of the plain (unthreaded) AVL trees that the design library builds
// for CLASS levels and effect levels: insert, find and an in-order walk. Records start with
// the node below; the key lies at a byte offset. Threaded trees are in zavl.h.
//
//   field    width     meaning
//   left     pointer   left child or null
//   right    pointer   right child or null
//   balance  i16       -1, 0, +1
#pragma once

#include <cstdint>

struct ZtreNode {
  ZtreNode* left;
  ZtreNode* right;
  int16_t balance;
};

// A caller's key comparison: (new or key record, tree record, length, offset) -> negative, 0
// or positive.
using ZtreCompare = int32_t (*)(const void* a, const void* b, int32_t length, int32_t offset);

// Statuses of ztreord.
enum ZtreWalkStatus : int32_t {
  ZTRE_WALK_OK = 0,         // a record, or the regular end of the walk
  ZTRE_WALK_NO_MEMORY = -2, // the walk record could not be allocated
  ZTRE_WALK_OVERFLOW = -3,  // the tree is deeper than the walk stack (not an AVL tree)
};

// Default key rule without a compare routine: length above 0 byte order over the length;
// below 0 one double (missing values first); 0 all keys equal.
[[nodiscard]] int32_t ztrecc(const void* a, const void* b, int32_t length, int32_t offset);

// Inserts node (ending a walk under way); returns node, or the record with an equal key (the
// tree is then unchanged), or null after an inconsistent comparison (reported as "ztrebld:
// invalid compare").
void* ztrebdf(void** root, void* node, int32_t length, int32_t offset, ZtreCompare compare);
// Finds the record whose key equals the key record's; null when none.
void* ztrefdf(void** root, const void* keyRecord, int32_t length, int32_t offset,
              ZtreCompare compare);
// In-order walk: each call returns the next record in ascending key order, starting with the
// smallest; null after the last, after which the next call starts again. While the walk is
// under way the root is in walk mode (balance 17, its left word pointing to the walk record
// that keeps its own words); the walk's end, ztreofx or an insertion puts the root back, and
// a lookup reads through it. A null result with *status negative is a failure, not the end
// (reported to the host's internal-error service).
void* ztreord(void* root, int32_t* status = nullptr);
// Ends a walk of the root early and releases its state; nothing when no walk is under way.
void ztreofx(void* root);
