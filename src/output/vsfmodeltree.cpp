// Threaded AVL tree operations on distinct-model nodes, for the qkavlt extension: insert,
// exact and neighbour lookup, delete, each also in a form holding the tree's lock. The
// balance of a node lives in the low bits of its link words (see support/qkavlt.h).
#include "output/vsfmodeltree.h"

#include "support/qkavltlinks.h"

#include <cstddef>

static_assert(offsetof(VsfModelTreeNode, key) == kVsfModelKeyOffset);
static_assert(offsetof(VsfModelKey, indices) == 8);

namespace {

// An AVL tree of 2^31 nodes is below 45 levels.
constexpr int kMaxPath = 64;

using namespace qkavl;

const VsfModelKey* keyOf(const QkAvlHeader* h, const void* node) {
  return reinterpret_cast<const VsfModelKey*>(static_cast<const char*>(node) + h->keyOffset);
}

// Restores balance upward after side dirs[i] of path[i] shrank.
void rebalanceAfterDelete(QkAvlHeader* h, Links** path, const int* dirs, int k) {
  for (int i = k - 1; i >= 0; --i) {
    Links* y = path[i];
    const int a = dirs[i], s = a ? 1 : -1, yb = balanceOf(y);
    if (yb == s) {
      setBalance(y, 0);
      continue;
    }
    if (yb == 0) {
      setBalance(y, -s);
      return;
    }
    const int heavy = 1 - a, sh = -s;
    const int xb = balanceOf(target(y, heavy));
    Links* top;
    if (xb == s) {
      top = rotateDouble(y, heavy);
    } else {
      top = rotateSingle(y, heavy);
      setBalance(top, xb == 0 ? -sh : 0);
      setBalance(y, xb == 0 ? sh : 0);
    }
    relink(h, path, dirs, i - 1, top);
    if (xb == 0)
      return; // the subtree kept its height
  }
}

// Unlinks p (at path step k, its parent at k - 1) when it has two children: its neighbour on
// the side it leans to (the successor when balance is +1, else the predecessor) takes its
// place. Returns the new path length.
[[nodiscard]] int unlinkInner(QkAvlHeader* h, Links** path, int* dirs, int k, Links* p) {
  const int r = balanceOf(p) > 0 ? 1 : 0, o = 1 - r;
  Links* x = target(p, r);
  Links* lastOther = outermost(target(p, o), r); // its thread on side r points at p
  Links* s;
  const int j = k++;
  if (isThread(x, o)) {
    s = x;
  } else {
    Links* parent = x;
    for (;;) {
      path[k] = parent;
      dirs[k++] = o;
      s = target(parent, o);
      if (isThread(s, o))
        break;
      parent = s;
    }
    if (isThread(s, r))
      setThread(parent, o, s);
    else
      copyLink(parent, o, s->word[r]);
    s->word[r] = reinterpret_cast<uintptr_t>(x);
  }
  s->word[o] = p->word[o] & ~kQkAvlBalance;
  setBalance(s, balanceOf(p));
  setThread(lastOther, r, s);
  relink(h, path, dirs, j - 1, s);
  path[j] = s;
  dirs[j] = r;
  return k;
}

// Unlinks p with at most one child. Returns the new path length.
[[nodiscard]] int unlinkOuter(QkAvlHeader* h, Links** path, int* dirs, int k, Links* p) {
  if (isThread(p, 0) && isThread(p, 1)) {
    if (k == 0)
      h->root = nullptr;
    else
      copyLink(path[k - 1], dirs[k - 1], p->word[dirs[k - 1]]);
    return k;
  }
  const int c = isThread(p, 0) ? 1 : 0, o = 1 - c;
  Links* child = target(p, c);
  copyLink(outermost(child, o), o, p->word[o]);
  relink(h, path, dirs, k - 1, child);
  return k;
}

struct LockHold {
  QkAvlLock* lock;
  LockHold(QkAvlLock* l, int32_t mode) : lock(l) {
    if (lock)
      lock->acquire(lock, mode, 1);
  }
  ~LockHold() {
    if (lock)
      lock->release(lock);
  }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;
};

} // namespace

int vsfModelKeyCompare(const VsfModelKey* a, const VsfModelKey* b) {
  if (a->count != b->count)
    return a->count < b->count ? -1 : 1;
  for (int32_t i = 0; i < a->count; ++i)
    if (a->indices[i] != b->indices[i])
      return a->indices[i] < b->indices[i] ? -1 : 1;
  return 0;
}

void* vsfAVL_adder(QkAvlHeader* h, void* node) {
  const VsfModelKey* key = keyOf(h, node);
  return qkavl::insertThreaded<kMaxPath>(
      h, L(node), [&](const Links* p) { return vsfModelKeyCompare(key, keyOf(h, p)); });
}

void* vsfAVL_finder(QkAvlHeader* h, const void* key) {
  const VsfModelKey* want = static_cast<const VsfModelKey*>(key);
  Links* p = L(h->root);
  while (p) {
    const int c = vsfModelKeyCompare(want, keyOf(h, p));
    if (c == 0)
      return p;
    if (isThread(p, c > 0))
      return nullptr;
    p = target(p, c > 0);
  }
  return nullptr;
}

void* vsfAVL_fuzzier(QkAvlHeader* h, const void* key, void** below, void** above) {
  const VsfModelKey* want = static_cast<const VsfModelKey*>(key);
  Links* lo = nullptr;
  Links* hi = nullptr;
  Links* found = nullptr;
  for (Links* p = L(h->root); p;) {
    const int c = vsfModelKeyCompare(want, keyOf(h, p));
    if (c == 0) {
      found = p;
      lo = neighbour(p, 0);
      hi = neighbour(p, 1);
      break;
    }
    const int d = c > 0;
    if (isThread(p, d)) {
      lo = d ? p : target(p, 0);
      hi = d ? target(p, 1) : p;
      break;
    }
    p = target(p, d);
  }
  if (below)
    *below = lo;
  if (above)
    *above = hi;
  return found;
}

void* vsfAVL_killer(QkAvlHeader* h, const void* key) {
  if (!h->root)
    return nullptr;
  const VsfModelKey* want = static_cast<const VsfModelKey*>(key);
  Links* path[kMaxPath];
  int dirs[kMaxPath];
  int k = 0;
  Links* p = L(h->root);
  for (;;) {
    const int c = vsfModelKeyCompare(want, keyOf(h, p));
    if (c == 0)
      break;
    const int d = c > 0;
    if (k == kMaxPath || isThread(p, d))
      return nullptr;
    path[k] = p;
    dirs[k++] = d;
    p = target(p, d);
  }
  if (!isThread(p, 0) && !isThread(p, 1))
    k = unlinkInner(h, path, dirs, k, p);
  else
    k = unlinkOuter(h, path, dirs, k, p);
  rebalanceAfterDelete(h, path, dirs, k);
  p->word[0] = p->word[1] = 0;
  return p;
}

void* vsfAVL_safe_adder(QkAvlHeader* h, void* node) {
  LockHold hold(h->lock, 1);
  return vsfAVL_adder(h, node);
}
void* vsfAVL_safe_finder(QkAvlHeader* h, const void* key) {
  LockHold hold(h->lock, 0);
  return vsfAVL_finder(h, key);
}
void* vsfAVL_safe_fuzzier(QkAvlHeader* h, const void* key, void** below, void** above) {
  LockHold hold(h->lock, 0);
  return vsfAVL_fuzzier(h, key, below, above);
}
void* vsfAVL_safe_killer(QkAvlHeader* h, const void* key) {
  LockHold hold(h->lock, 1);
  return vsfAVL_killer(h, key);
}

const AvlCallbacks vsfAVL = {vsfAVL_adder,        vsfAVL_finder,     vsfAVL_fuzzier,
                             vsfAVL_killer,       vsfAVL_safe_adder, vsfAVL_safe_finder,
                             vsfAVL_safe_fuzzier, vsfAVL_safe_killer};
