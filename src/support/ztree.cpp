// Plain AVL insertion (with a rebalancing point, as in the classic one-pass algorithm),
// lookup, and an in-order walk whose state lives in a per-thread list beside the tree, so
// that an abandoned walk never leaves the tree altered.
#include "support/ztree.h"

#include "support/hostif.h"
#include "support/hoststubs.h"
#include "support/seams.h"

#include <cstring>
#include <new>

namespace {

constexpr int kWalkStack = 960;

struct WalkRecord {
  const void* root;
  WalkRecord* next;
  int32_t top; // number of entries on the stack
  ZtreNode* stack[kWalkStack + 1];
};

thread_local WalkRecord* walks = nullptr;

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

WalkRecord** findWalk(const void* root) {
  for (WalkRecord** w = &walks; *w; w = &(*w)->next)
    if ((*w)->root == root)
      return w;
  return nullptr;
}

void endWalk(WalkRecord** w) {
  WalkRecord* dead = *w;
  *w = dead->next;
  delete dead;
}

// Pushes n and its left spine; false when the stack would overflow.
[[nodiscard]] bool pushSpine(WalkRecord* w, ZtreNode* n) {
  for (; n; n = n->left) {
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
    p = c < 0 ? p->left : p->right;
  }
  return nullptr;
}

void* ztreord(void* root, int32_t* status) {
  if (status)
    *status = ZTRE_WALK_OK;
  if (!root)
    return nullptr;
  WalkRecord** slot = findWalk(root);
  if (!slot) {
    WalkRecord* w = seam::failTreeWalk() ? nullptr : new (std::nothrow) WalkRecord;
    if (!w) {
      reportInternal("ZTREORD: no memory for the walk");
      if (status)
        *status = ZTRE_WALK_NO_MEMORY;
      return nullptr;
    }
    w->root = root;
    w->top = 0;
    w->next = walks;
    walks = w;
    slot = &walks;
    if (!pushSpine(w, N(root))) {
      endWalk(slot);
      reportInternal("ZTREORD: overflow stack");
      if (status)
        *status = ZTRE_WALK_OVERFLOW;
      return nullptr;
    }
  }
  WalkRecord* w = *slot;
  if (w->top == 0) {
    endWalk(slot);
    return nullptr;
  }
  ZtreNode* n = w->stack[--w->top];
  if (!pushSpine(w, n->right)) {
    endWalk(slot);
    reportInternal("ZTREORD: overflow stack");
    if (status)
      *status = ZTRE_WALK_OVERFLOW;
    return nullptr;
  }
  return n;
}

void ztreofx(void* root) {
  if (WalkRecord** slot = findWalk(root))
    endWalk(slot);
}
