// AVL insertion on caller records with three link words (left, right, balance), compared in
// byte order over the key, and the in-order walk that relinks the records into a list
// through their first word. Neither allocates.
#include "host/trees.h"

#include <cstring>

namespace qrxhost {
namespace {

struct TreeLinks {
  TreeLinks* left;
  TreeLinks* right;
  intptr_t balance;
};

// Deeper than any AVL tree of addressable size.
constexpr int kMaxDepth = 128;

inline TreeLinks*& child(TreeLinks* n, int dir) { return dir > 0 ? n->right : n->left; }

int compareKeys(const void* a, const void* b, int32_t length, int32_t offset) {
  if (length <= 0)
    return 0;
  return std::memcmp(static_cast<const char*>(a) + offset, static_cast<const char*>(b) + offset,
                     static_cast<size_t>(length));
}

} // namespace

void* hostZtrebld(void** root, void* node, int32_t length, int32_t offset) {
  TreeLinks* n = static_cast<TreeLinks*>(node);
  if (!root || !n)
    return nullptr;
  if (*root == nullptr) {
    n->left = n->right = nullptr;
    n->balance = 0;
    *root = n;
    return n;
  }
  // Descend, keeping the deepest unbalanced node s on the path and its parent t.
  TreeLinks* t = nullptr;
  TreeLinks* s = static_cast<TreeLinks*>(*root);
  TreeLinks* p = s;
  for (;;) {
    int c = compareKeys(node, p, length, offset);
    if (c == 0)
      return p;
    int dir = c < 0 ? -1 : 1;
    TreeLinks* q = child(p, dir);
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
  int a = compareKeys(node, s, length, offset) < 0 ? -1 : 1;
  TreeLinks* r = child(s, a);
  for (p = r; p != n;) {
    int dir = compareKeys(node, p, length, offset) < 0 ? -1 : 1;
    p->balance = dir;
    p = child(p, dir);
  }
  if (s->balance == 0) {
    s->balance = a;
    return n;
  }
  if (s->balance == -a) {
    s->balance = 0;
    return n;
  }
  TreeLinks* top;
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
    s->balance = top->balance == a ? -a : 0;
    r->balance = top->balance == -a ? a : 0;
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

void hostZtrelst(void** root) {
  if (!root || !*root)
    return;
  TreeLinks* stack[kMaxDepth];
  int top = 0;
  TreeLinks* head = nullptr;
  TreeLinks* prev = nullptr;
  TreeLinks* n = static_cast<TreeLinks*>(*root);
  while (n || top > 0) {
    for (; n; n = n->left)
      stack[top++] = n;
    n = stack[--top];
    TreeLinks* right = n->right;
    // n's left subtree is done, so its first word is free to become the list link.
    if (prev)
      prev->left = n;
    else
      head = n;
    n->right = nullptr;
    n->balance = 0;
    prev = n;
    n = right;
  }
  prev->left = nullptr;
  *root = head;
}

HostTreeServices* treeServices() {
  static HostTreeServices services{hostZtrebld, hostZtrelst};
  return &services;
}

} // namespace qrxhost
