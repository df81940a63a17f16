// The link words of a threaded AVL tree, laid out as support/qkavlt.h says, and the steps of
// an insertion every such tree shares: reading and setting links, threads and balances, the
// rotations and the rebalancing after an insertion. The module's trees and the host's qkavlt
// trees both build on them.
#pragma once

#include "support/qkavlt.h"

#include <cstdint>

namespace qkavl {

struct Links {
  uintptr_t word[2];
};

inline Links* L(void* p) { return static_cast<Links*>(p); }
[[nodiscard]] inline bool isThread(const Links* n, int d) {
  return (n->word[d] & kQkAvlThread) != 0;
}
inline Links* target(const Links* n, int d) {
  return reinterpret_cast<Links*>(n->word[d] & ~kQkAvlTagMask);
}
[[nodiscard]] inline int balanceOf(const Links* n) {
  return static_cast<int>(n->word[1] & kQkAvlBalance) -
         static_cast<int>(n->word[0] & kQkAvlBalance);
}
inline void setBalance(Links* n, int b) {
  n->word[0] = (n->word[0] & ~kQkAvlBalance) | (b < 0 ? kQkAvlBalance : 0);
  n->word[1] = (n->word[1] & ~kQkAvlBalance) | (b > 0 ? kQkAvlBalance : 0);
}
// Sets a side to a child or a thread, keeping that side's balance bit.
inline void setChild(Links* n, int d, const Links* c) {
  n->word[d] = reinterpret_cast<uintptr_t>(c) | (n->word[d] & kQkAvlBalance);
}
inline void setThread(Links* n, int d, const Links* t) {
  n->word[d] = reinterpret_cast<uintptr_t>(t) | kQkAvlThread | (n->word[d] & kQkAvlBalance);
}
// Takes the address and thread tag of another link word, keeping this side's balance bit.
inline void copyLink(Links* n, int d, uintptr_t w) {
  n->word[d] = (w & ~kQkAvlBalance) | (n->word[d] & kQkAvlBalance);
}
inline Links* outermost(Links* n, int d) {
  while (!isThread(n, d))
    n = target(n, d);
  return n;
}
// The in-order neighbour of n on side d.
inline Links* neighbour(Links* n, int d) {
  return isThread(n, d) ? target(n, d) : outermost(target(n, d), 1 - d);
}

// Puts node at step i of a path: the root for i < 0, else the child of path[i] on dirs[i].
inline void relink(QkAvlHeader* h, Links** path, const int* dirs, int i, Links* node) {
  if (i < 0)
    h->root = node;
  else
    setChild(path[i], dirs[i], node);
}

// Single rotation of y toward its heavy side h; returns the new top (balances left as set).
inline Links* rotateSingle(Links* y, int h) {
  Links* x = target(y, h);
  const int o = 1 - h;
  if (isThread(x, o))
    setThread(y, h, x);
  else
    copyLink(y, h, x->word[o]);
  setChild(x, o, y);
  return x;
}

// Double rotation of y whose heavy child leans the other way; returns the new top.
inline Links* rotateDouble(Links* y, int h) {
  Links* x = target(y, h);
  const int o = 1 - h, sh = h ? 1 : -1;
  Links* w = target(x, o);
  const int wb = balanceOf(w);
  if (isThread(w, h))
    setThread(x, o, w);
  else
    copyLink(x, o, w->word[h]);
  if (isThread(w, o))
    setThread(y, h, w);
  else
    copyLink(y, h, w->word[o]);
  setChild(w, h, x);
  setChild(w, o, y);
  setBalance(x, wb == -sh ? sh : 0);
  setBalance(y, wb == sh ? -sh : 0);
  setBalance(w, 0);
  return w;
}

// Restores balance upward after side dirs[i] of path[i] grew.
inline void rebalanceAfterInsert(QkAvlHeader* h, Links** path, const int* dirs, int k) {
  for (int i = k - 1; i >= 0; --i) {
    Links* y = path[i];
    const int a = dirs[i], s = a ? 1 : -1, yb = balanceOf(y);
    if (yb == 0) {
      setBalance(y, s);
      continue;
    }
    if (yb == -s) {
      setBalance(y, 0);
      return;
    }
    Links* top;
    if (balanceOf(target(y, a)) == s) {
      top = rotateSingle(y, a);
      setBalance(top, 0);
      setBalance(y, 0);
    } else {
      top = rotateDouble(y, a);
    }
    relink(h, path, dirs, i - 1, top);
    return;
  }
}

// Inserts n: an empty tree takes it as its root; else the descent by compare(p) (the new key
// against node p's: negative left, positive right) links it as a leaf and rebalances. Returns
// n, the node that already holds the key, or null when the descent goes deeper than MaxPath
// (deeper than any AVL tree can be: the tree is corrupt).
template <int MaxPath, class Compare>
Links* insertThreaded(QkAvlHeader* h, Links* n, Compare compare) {
  if (!h->root) {
    n->word[0] = n->word[1] = kQkAvlThread;
    h->root = n;
    return n;
  }
  Links* path[MaxPath];
  int dirs[MaxPath];
  int k = 0, d = 0;
  Links* p = L(h->root);
  for (;;) {
    const int c = compare(p);
    if (c == 0)
      return p;
    d = c > 0;
    if (k == MaxPath)
      return nullptr;
    path[k] = p;
    dirs[k++] = d;
    if (isThread(p, d))
      break;
    p = target(p, d);
  }
  n->word[d] = p->word[d] & ~kQkAvlBalance;
  n->word[1 - d] = reinterpret_cast<uintptr_t>(p) | kQkAvlThread;
  setChild(p, d, n);
  rebalanceAfterInsert(h, path, dirs, k);
  return n;
}

} // namespace qkavl
