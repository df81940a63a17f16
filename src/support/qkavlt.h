// The qkavlt extension: threaded AVL trees made from a descriptor, shared between threads
// under a reader-writer lock when asked. The module reaches it only through these records;
// the host implements it (loaded by name "qkavlt" through QkHandle::qkExtensionLoad).
//
// Node links of every qkavlt tree (two 64-bit words at the start of a node):
//   bit 1 set   thread: the word holds the in-order predecessor (left word) or successor
//               (right word); a thread with a null address marks the first or last node
//   bit 0       the balance bit of that side; balance = (right bit) - (left bit)
//   the rest    the address of the child or thread target (nodes are 8-byte aligned)
#pragma once

#include "support/hostif.h"

#include <cstdint>

inline constexpr uintptr_t kQkAvlThread = 2;  // link word tag: thread
inline constexpr uintptr_t kQkAvlBalance = 1; // link word tag: this side is higher
inline constexpr uintptr_t kQkAvlTagMask = 3;

// Key kinds of a descriptor.
enum QkAvlKind : int32_t {
  QKAVL_CALLBACKS = 0, // the caller's AvlCallbacks order and maintain the tree
  QKAVL_BYTES = 1,     // keyCount bytes at the key offset, unsigned byte order
  QKAVL_DOUBLES = 5,   // keyCount doubles, missing values first
  QKAVL_INT32 = 9,     // keyCount signed 32-bit integers, the first difference decides
};

// Descriptor flags.
inline constexpr int32_t kQkAvlShared = 1; // the tree may be used from several threads

// Tree descriptor: four signed 32-bit words, then the callback table (kind 0 only).
struct AvlCallbacks;
struct QkAvlDescriptor {
  int32_t keyCount;  // key size in units of the kind; passed on as given for kind 0
  int32_t keyOffset; // key offset in bytes from a node's start (at least 16)
  int32_t kind;      // QkAvlKind
  int32_t flags;     // kQkAvlShared
  const AvlCallbacks* callbacks;
};

// The lock of a tree: acquire (lock, mode 1 exclusive or 0 shared, wait 1), release.
struct QkAvlLock {
  void (*acquire)(QkAvlLock* lock, int32_t mode, int32_t wait);
  void (*release)(QkAvlLock* lock);
};

// The header that the extension hands to every callback.
struct QkAvlHeader {
  void* root; // the root node, null for an empty tree
  int32_t keyOffset;
  QkAvlLock* lock;
};

// The caller's tree operations for kind 0, plain and holding the header's lock.
struct AvlCallbacks {
  void* (*adder)(QkAvlHeader* header, void* node);
  void* (*finder)(QkAvlHeader* header, const void* key);
  void* (*fuzzier)(QkAvlHeader* header, const void* key, void** below, void** above);
  void* (*killer)(QkAvlHeader* header, const void* key);
  void* (*safe_adder)(QkAvlHeader* header, void* node);
  void* (*safe_finder)(QkAvlHeader* header, const void* key);
  void* (*safe_fuzzier)(QkAvlHeader* header, const void* key, void** below, void** above);
  void* (*safe_killer)(QkAvlHeader* header, const void* key);
};

// A tree made by the extension. The nodes belong to the caller; destroy frees only the tree.
struct QkAvlTree {
  void (*destroy)(QkAvlTree* tree);
  QkAvlHeader header;
  // Inserts node (its key filled in); returns the node that now holds the key: node itself,
  // or an existing node with an equal key (the tree is then unchanged). Null for a null node.
  void* (*insert)(QkAvlHeader* header, void* node);
  // The node whose key equals the key (the address of a key laid out as in a node, i.e.
  // what lies at the key offset), or null.
  void* (*find)(QkAvlHeader* header, const void* key);
  // The lowest node, or null for an empty tree.
  void* (*first)(QkAvlHeader* header);
  // The in-order successor, or null after the last node.
  void* (*next)(void* node);
};

// The extension object: the QkExtension header, then its entry points.
struct QkAvlExtension {
  QkExtension base;
  // Makes a tree from a descriptor; null for an invalid descriptor or when out of memory.
  QkAvlTree* (*createTree)(QkAvlExtension* extension, const QkAvlDescriptor* descriptor,
                           void* reserved1, void* reserved2);
};
