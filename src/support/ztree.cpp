// Plain AVL insertion (with a rebalancing point, as in the classic one-pass algorithm),
// lookup, and an in-order walk whose state hangs from the root while it is under way: the
// root is then in walk mode, its left word pointing to the walk record that holds its own
// words, which the walk's end or ztreofx puts back.
#include "support/ztree.h"

#include "support/hostif.h"
#include "support/hoststubs.h"
#include "support/seams.h"

#include <cstring>
#include <new>

namespace {

constexpr int kWalkStack = 960;
// The balance a root in walk mode holds, which no node of an AVL tree has.
constexpr int16_t kWalkMode = 17;

struct WalkRecord {
  ZtreNode saved; // the root's own words
  int32_t top;    // number of entries on the stack
  ZtreNode* stack[kWalkStack + 1];
};

inline ZtreNode* N(void* p) { return static_cast<ZtreNode*>(p); }
inline ZtreNode*& child(ZtreNode* n, int dir) { return dir > 0 ? n->right : n->left; }

// Reports an internal error to the host when one is attached.
void reportInternal(const char* text) {
  HostControlBlock* cb = v_global_gcb_anchor;
  if (cb && cb->groups && cb->groups->internalError && cb->groups->internalError->xebug)
    xebug(text);
}

[[nodiscard]] int32_t compareKeys(ZtreCompare compare, const void* a, const void* b, int32_t length,
                                  int32_t offset) {
  return compare ? compare(a, b, length, offset) : ztrecc(a, b, length, offset);
}

// The walk record of a root in walk mode; null when no walk is under way.
WalkRecord* walkOf(ZtreNode* root) {
  return root != nullptr && root->balance == kWalkMode
             ? static_cast<WalkRecord*>(static_cast<void*>(root->left))
             : nullptr;
}

// A node's left child, read from the walk record for a root in walk mode.
ZtreNode* leftOf(ZtreNode* n) {
  const WalkRecord* w = walkOf(n);
  return w != nullptr ? w->saved.left : n->left;
}

// Puts the root's own words back and frees the walk record.
void endWalk(ZtreNode* root, WalkRecord* w) {
  *root = w->saved;
  delete w;
}

// Pushes n and its left spine; false when the stack would overflow.
[[nodiscard]] bool pushSpine(WalkRecord* w, ZtreNode* n) {
  for (; n; n = leftOf(n)) {
    if (w->top >= kWalkStack)
      return false;
    w->stack[w->top++] = n;
  }
  return true;
}

} // namespace

int32_t ztrecc(const void* a, const void* b, int32_t length, int32_t offset) {
  const char* ka = static_cast<const char*>(a) + offset;
  const char* kb = static_cast<const char*>(b) + offset;
  if (length > 0)
    return std::memcmp(ka, kb, static_cast<size_t>(length));
  if (length == 0)
    return 0;
  double da, db;
  std::memcpy(&da, ka, sizeof da);
  std::memcpy(&db, kb, sizeof db);
  // Missing values sort before every number and equal one another, so that a missing key
  // never compares equal to a number.
  bool ma = isHostMissing(da) || da != da, mb = isHostMissing(db) || db != db;
  if (ma || mb)
    return ma == mb ? 0 : (ma ? -1 : 1);
  return da < db ? -1 : (da > db ? 1 : 0);
}

void* ztrebdf(void** root, void* node, int32_t length, int32_t offset, ZtreCompare compare) {
  ZtreNode* n = N(node);
  // An insertion moves nodes under a walk's stack: it ends the walk under way.
  ztreofx(*root);
  if (*root == nullptr) {
    n->left = n->right = nullptr;
    n->balance = 0;
    *root = n;
    return n;
  }
  ZtreNode* t = nullptr;  // parent of s
  ZtreNode* s = N(*root); // the rebalancing point
  ZtreNode* p = s;
  for (;;) {
    int32_t c = compareKeys(compare, node, p, length, offset);
    if (c == 0)
      return p;
    int dir = c < 0 ? -1 : 1;
    ZtreNode* q = child(p, dir);
    if (!q) {
      n->left = n->right = nullptr;
      n->balance = 0;
      child(p, dir) = n;
      break;
    }
    if (q->balance != 0) {
      t = p;
      s = q;
    }
    p = q;
  }
  // Set the balances between the rebalancing point and the new leaf.
  int32_t cs = compareKeys(compare, node, s, length, offset);
  if (cs == 0) {
    reportInternal("ztrebld: invalid compare");
    return nullptr;
  }
  int a = cs < 0 ? -1 : 1;
  ZtreNode* r = child(s, a);
  for (p = r; p != n;) {
    int32_t c = compareKeys(compare, node, p, length, offset);
    if (c == 0) {
      reportInternal("ztrebld: invalid compare");
      return nullptr;
    }
    int dir = c < 0 ? -1 : 1;
    p->balance = static_cast<int16_t>(dir);
    p = child(p, dir);
    if (!p) {
      reportInternal("ztrebld: invalid compare");
      return nullptr;
    }
  }
  if (s->balance == 0) {
    s->balance = static_cast<int16_t>(a);
    return n;
  }
  if (s->balance == -a) {
    s->balance = 0;
    return n;
  }
  ZtreNode* top;
  if (r->balance == a) {
    top = r;
    child(s, a) = child(r, -a);
    child(r, -a) = s;
    s->balance = r->balance = 0;
  } else {
    top = child(r, -a);
    child(r, -a) = child(top, a);
    child(top, a) = r;
    child(s, a) = child(top, -a);
    child(top, -a) = s;
    if (top->balance == a) {
      s->balance = static_cast<int16_t>(-a);
      r->balance = 0;
    } else if (top->balance == 0) {
      s->balance = r->balance = 0;
    } else {
      s->balance = 0;
      r->balance = static_cast<int16_t>(a);
    }
    top->balance = 0;
  }
  if (!t)
    *root = top;
  else if (s == t->right)
    t->right = top;
  else
    t->left = top;
  return n;
}

void* ztrefdf(void** root, const void* keyRecord, int32_t length, int32_t offset,
              ZtreCompare compare) {
  ZtreNode* p = root ? N(*root) : nullptr;
  while (p) {
    int32_t c = compareKeys(compare, keyRecord, p, length, offset);
    if (c == 0)
      return p;
    p = c < 0 ? leftOf(p) : p->right;
  }
  return nullptr;
}

namespace {

// Starts a walk of the root: the walk record takes the root's words and the root goes into
// walk mode. Null, with *status set, when the record cannot be had or the tree is too deep.
WalkRecord* startWalk(ZtreNode* root, int32_t* status) {
  auto* w = seam::failTreeWalk() ? nullptr : new (std::nothrow) WalkRecord;
  if (!w) {
    reportInternal("ZTREORD: no memory for the walk");
    if (status)
      *status = ZTRE_WALK_NO_MEMORY;
    return nullptr;
  }
  w->saved = *root;
  w->top = 0;
  root->left = static_cast<ZtreNode*>(static_cast<void*>(w));
  root->balance = kWalkMode;
  return w;
}

// Ends the walk after a stack overflow: the tree is deeper than an AVL tree can be.
void* overflowed(ZtreNode* root, WalkRecord* w, int32_t* status) {
  endWalk(root, w);
  reportInternal("ZTREORD: overflow stack");
  if (status)
    *status = ZTRE_WALK_OVERFLOW;
  return nullptr;
}

} // namespace

void* ztreord(void* root, int32_t* status) {
  if (status)
    *status = ZTRE_WALK_OK;
  if (!root)
    return nullptr;
  ZtreNode* r = N(root);
  WalkRecord* w = walkOf(r);
  if (!w) {
    w = startWalk(r, status);
    if (!w)
      return nullptr;
    if (!pushSpine(w, r))
      return overflowed(r, w, status);
  }
  if (w->top == 0) {
    endWalk(r, w);
    return nullptr;
  }
  ZtreNode* n = w->stack[--w->top];
  // The root's right word is its own in walk mode too.
  if (!pushSpine(w, n->right))
    return overflowed(r, w, status);
  return n;
}

void ztreofx(void* root) {
  if (WalkRecord* w = walkOf(N(root)))
    endWalk(N(root), w);
}
