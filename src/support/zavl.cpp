// Threaded AVL insertion, lookup and removal on caller records. Insertion and removal keep
// the path in a fixed array on the stack; walks follow the threads and need no stack.
#include "support/zavl.h"

#include <cassert>
#include <cstring>

namespace {

// Far above the height of any AVL tree of addressable size (about 1.44 log2 n).
constexpr int kMaxPath = 96;

inline ZavlNode* N(void* p) { return static_cast<ZavlNode*>(p); }
inline uintptr_t& link(ZavlNode* n, int dir) { return dir ? n->right : n->left; }
inline bool isThread(const ZavlNode* n, int dir) { return ((dir ? n->right : n->left) & 1u) != 0; }
inline ZavlNode* target(const ZavlNode* n, int dir) {
  return reinterpret_cast<ZavlNode*>((dir ? n->right : n->left) & ~uintptr_t{1});
}
inline uintptr_t threadTo(const ZavlNode* n) { return reinterpret_cast<uintptr_t>(n) | 1u; }
inline uintptr_t childWord(const ZavlNode* n) { return reinterpret_cast<uintptr_t>(n); }

// The outermost record of a subtree in a direction (dir 0 leftmost, 1 rightmost).
ZavlNode* outermost(ZavlNode* n, int dir) {
  while (!isThread(n, dir))
    n = target(n, dir);
  return n;
}

// Key comparisons of the three kinds: negative, 0 or positive for key against record.
struct IntKey {
  int32_t offset;
  [[nodiscard]] int compare(const void* key, const ZavlNode* rec) const {
    int32_t a, b;
    std::memcpy(&a, key, sizeof a);
    std::memcpy(&b, reinterpret_cast<const char*>(rec) + offset, sizeof b);
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  const void* keyOf(const void* rec) const { return static_cast<const char*>(rec) + offset; }
};

struct BytesKey {
  int32_t offset;
  int32_t length;
  [[nodiscard]] int compare(const void* key, const ZavlNode* rec) const {
    if (length <= 0)
      return 0;
    return std::memcmp(key, reinterpret_cast<const char*>(rec) + offset,
                       static_cast<size_t>(length));
  }
  const void* keyOf(const void* rec) const { return static_cast<const char*>(rec) + offset; }
};

// Replaces the subtree at path position i (the child of path[i - 1], or the root) by n.
struct Path {
  ZavlNode* node[kMaxPath];
  int dir[kMaxPath];
  int k = 0;
  void** root;
  void setChild(int i, ZavlNode* n) {
    if (i <= 0)
      *root = n;
    else
      link(node[i - 1], dir[i - 1]) = childWord(n);
  }
};

// Single rotation of y towards the side away from a (a is y's higher side); returns the new
// subtree top x. A child link that becomes empty becomes a thread.
ZavlNode* rotateSingle(ZavlNode* y, int a) {
  int b = 1 - a;
  ZavlNode* x = target(y, a);
  if (isThread(x, b))
    link(y, a) = threadTo(x);
  else
    link(y, a) = link(x, b);
  link(x, b) = childWord(y);
  return x;
}

// Double rotation of y whose higher side a has a child leaning to the other side; returns
// the new top w with the standard balances.
ZavlNode* rotateDouble(ZavlNode* y, int a) {
  int b = 1 - a;
  int s = a ? 1 : -1; // balance value of leaning to side a
  ZavlNode* x = target(y, a);
  ZavlNode* w = target(x, b);
  link(x, b) = isThread(w, a) ? threadTo(w) : link(w, a);
  link(y, a) = isThread(w, b) ? threadTo(w) : link(w, b);
  link(w, a) = childWord(x);
  link(w, b) = childWord(y);
  if (w->balance == s) {
    x->balance = 0;
    y->balance = static_cast<int16_t>(-s);
  } else if (w->balance == 0) {
    x->balance = y->balance = 0;
  } else {
    x->balance = static_cast<int16_t>(s);
    y->balance = 0;
  }
  w->balance = 0;
  return w;
}

template <class Key> void* add(void** root, void* record, const Key& key) {
  ZavlNode* n = N(record);
  if (*root == nullptr) {
    n->left = n->right = 1;
    n->balance = 0;
    *root = n;
    return n;
  }
  const void* k = key.keyOf(record);
  Path path;
  path.root = root;
  ZavlNode* p = N(*root);
  int d;
  for (;;) {
    int c = key.compare(k, p);
    if (c == 0)
      return p;
    d = c > 0;
    assert(path.k < kMaxPath && "an AVL tree is shallower than the path record");
    if (path.k == kMaxPath)
      return nullptr; // cannot happen in an AVL tree
    path.node[path.k] = p;
    path.dir[path.k++] = d;
    if (isThread(p, d))
      break;
    p = target(p, d);
  }
  link(n, d) = link(p, d);
  link(n, 1 - d) = threadTo(p);
  n->balance = 0;
  link(p, d) = childWord(n);

  for (int i = path.k - 1; i >= 0; --i) {
    ZavlNode* y = path.node[i];
    int side = path.dir[i];
    int s = side ? 1 : -1;
    if (y->balance == 0) {
      y->balance = static_cast<int16_t>(s);
      continue;
    }
    if (y->balance == -s) {
      y->balance = 0;
      break;
    }
    ZavlNode* x = target(y, side);
    ZavlNode* top;
    if (x->balance == s) {
      top = rotateSingle(y, side);
      x->balance = y->balance = 0;
    } else {
      top = rotateDouble(y, side);
    }
    path.setChild(i, top);
    break;
  }
  return n;
}

template <class Key> void* find(void* root, const void* k, const Key& key) {
  ZavlNode* p = N(root);
  while (p) {
    int c = key.compare(k, p);
    if (c == 0)
      return p;
    int d = c > 0;
    if (isThread(p, d))
      return nullptr;
    p = target(p, d);
  }
  return nullptr;
}

template <class Key> void* remove(void** root, const void* keyRecord, const Key& key) {
  if (*root == nullptr)
    return nullptr;
  const void* k = key.keyOf(keyRecord);
  Path path;
  path.root = root;
  ZavlNode* p = N(*root);
  for (;;) {
    int c = key.compare(k, p);
    if (c == 0)
      break;
    int d = c > 0;
    if (isThread(p, d) || path.k == kMaxPath)
      return nullptr;
    path.node[path.k] = p;
    path.dir[path.k++] = d;
    p = target(p, d);
  }
  // Position of p in the path (its parent is path.node[pos - 1]).
  int pos = path.k;

  if (isThread(p, 1)) {
    if (!isThread(p, 0)) {
      // Only a left subtree: its rightmost record inherits p's successor thread.
      ZavlNode* t = outermost(target(p, 0), 1);
      t->right = p->right;
      path.setChild(pos, target(p, 0));
    } else if (pos == 0) {
      *root = nullptr;
    } else {
      // A leaf: the parent's link becomes p's thread on that side.
      ZavlNode* q = path.node[pos - 1];
      int d = path.dir[pos - 1];
      link(q, d) = link(p, d);
    }
  } else {
    ZavlNode* r = target(p, 1);
    if (isThread(r, 0)) {
      // The right child r has no left subtree: r takes p's place.
      r->left = p->left;
      if (!isThread(p, 0))
        outermost(target(p, 0), 1)->right = threadTo(r);
      r->balance = p->balance;
      path.setChild(pos, r);
      path.node[path.k] = r;
      path.dir[path.k++] = 1;
    } else {
      // The successor s (leftmost of the right subtree) takes p's place.
      int j = path.k++;
      ZavlNode* s;
      for (;;) {
        assert(path.k < kMaxPath && "an AVL tree is shallower than the path record");
        if (path.k == kMaxPath)
          return nullptr; // cannot happen in an AVL tree
        path.node[path.k] = r;
        path.dir[path.k++] = 0;
        s = target(r, 0);
        if (isThread(s, 0))
          break;
        r = s;
      }
      if (!isThread(s, 1))
        r->left = s->right;
      else
        r->left = threadTo(s);
      s->left = p->left;
      if (!isThread(p, 0))
        outermost(target(p, 0), 1)->right = threadTo(s);
      s->right = p->right;
      s->balance = p->balance;
      path.setChild(j, s);
      path.node[j] = s;
      path.dir[j] = 1;
    }
  }

  // Walk up: the subtree on path.dir[i] of path.node[i] got one lower.
  for (int i = path.k - 1; i >= 0; --i) {
    ZavlNode* y = path.node[i];
    int side = path.dir[i];
    int s = side ? 1 : -1;
    y->balance = static_cast<int16_t>(y->balance - s);
    if (y->balance == -s)
      break; // was balanced: the height is unchanged
    if (y->balance == 0)
      continue;       // got lower: go on
    int a = 1 - side; // y leans by 2 towards a
    int sa = -s;
    ZavlNode* x = target(y, a);
    if (x->balance == -sa) {
      path.setChild(i, rotateDouble(y, a));
    } else {
      ZavlNode* top = rotateSingle(y, a);
      path.setChild(i, top);
      if (x->balance == 0) {
        x->balance = static_cast<int16_t>(-sa);
        y->balance = static_cast<int16_t>(sa);
        break;
      }
      x->balance = y->balance = 0;
    }
  }
  return p;
}

} // namespace

void* zavl_add_int(void** root, void* record, int32_t offset) {
  return add(root, record, IntKey{offset});
}
void* zavl_add_chra(void** root, void* record, int32_t offset, int32_t length) {
  return add(root, record, BytesKey{offset, length});
}
void* zavl_add_tchra(void** root, void* record, int32_t offset, int32_t length) {
  return add(root, record, BytesKey{offset, length});
}

void* zavl_find_int(void* root, const int32_t* key, int32_t offset) {
  return find(root, key, IntKey{offset});
}
void* zavl_find_chra(void* root, const void* key, int32_t offset, int32_t length) {
  return find(root, key, BytesKey{offset, length});
}
void* zavl_find_tchra(void* root, const void* key, int32_t offset, int32_t length) {
  return find(root, key, BytesKey{offset, length});
}

void* zavl_rem_int(void** root, const void* keyRecord, int32_t offset) {
  return remove(root, keyRecord, IntKey{offset});
}
void* zavl_rem_chra(void** root, const void* keyRecord, int32_t offset, int32_t length) {
  return remove(root, keyRecord, BytesKey{offset, length});
}
void* zavl_rem_tchra(void** root, const void* keyRecord, int32_t offset, int32_t length) {
  return remove(root, keyRecord, BytesKey{offset, length});
}

void* zavl_first_node(void** root) {
  if (!root || !*root)
    return nullptr;
  return outermost(N(*root), 0);
}

void* zavl_last_node(void** root) {
  if (!root || !*root)
    return nullptr;
  return outermost(N(*root), 1);
}

void* zavl_next_node(void* node) {
  ZavlNode* n = N(node);
  if (isThread(n, 1))
    return target(n, 1);
  return outermost(target(n, 1), 0);
}

void* zavl_prev_node(void* node) {
  ZavlNode* n = N(node);
  if (isThread(n, 0))
    return target(n, 0);
  return outermost(target(n, 0), 1);
}

void zavl2list(void** root) {
  if (!root || !*root)
    return;
  ZavlNode* first = N(zavl_first_node(root));
  ZavlNode* prev = nullptr;
  for (ZavlNode* cur = first; cur;) {
    ZavlNode* next = N(zavl_next_node(cur));
    cur->left = threadTo(prev);
    cur->right = threadTo(next);
    prev = cur;
    cur = next;
  }
  *root = first;
}
