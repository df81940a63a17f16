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

// Statuses of a walk (ZtreWalk).
enum ZtreWalkStatus : int32_t {
  ZTRE_WALK_OK = 0,        // a record, or the regular end of the walk
  ZTRE_WALK_OVERFLOW = -3, // the tree is deeper than the walk stack (not an AVL tree)
};

// Default key rule without a compare routine: length above 0 byte order over the length;
// below 0 one double (missing values first); 0 all keys equal.
[[nodiscard]] int32_t ztrecc(const void* a, const void* b, int32_t length, int32_t offset);

// Inserts node; returns node, or the record with an equal key (the tree is then unchanged),
// or null after an inconsistent comparison (reported as "ztrebld: invalid compare").
void* ztrebdf(void** root, void* node, int32_t length, int32_t offset, ZtreCompare compare);
// Finds the record whose key equals the key record's; null when none.
void* ztrefdf(void** root, const void* keyRecord, int32_t length, int32_t offset,
              ZtreCompare compare);
// An in-order walk of a tree whose position its caller holds: each next() returns the next
// record in ascending key order, starting with the smallest, and null after the last. The
// tree is not touched, so a walk given up part way leaves nothing behind; another walk of the
// same tree starts again from the smallest. A null result with status() negative is a
// failure, not the end (reported to the host's internal-error service).
class ZtreWalk {
public:
  explicit ZtreWalk(void* root);
  [[nodiscard]] void* next();
  [[nodiscard]] int32_t status() const { return status_; }

private:
  static constexpr int32_t kStack = 960; // an AVL tree of 2^600 records is no deeper
  // Pushes n and its left spine; false (the walk ended as failed) when the stack would
  // overflow.
  [[nodiscard]] bool pushSpine(ZtreNode* n);
  ZtreNode* stack_[kStack];
  int32_t top_ = 0; // entries on the stack
  int32_t status_ = ZTRE_WALK_OK;
};
