// Trees of the "qkavlt" extension. Kind 0 trees are maintained by the caller's callbacks;
// the built-in kinds (bytes, doubles, 32-bit integers) by the insertion below. Both use
// the tagged link words of support/qkavlt.h, so first and next serve every kind. A shared
// tree takes its reader-writer lock around inserts (exclusive) and lookups (shared).
#include "host/ext/qkavlt.h"

#include "support/qkavlt.h"
#include "support/qkavltlinks.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <thread>
#include <type_traits>

namespace qrxhost {
namespace {

// A tree's lock: a reader-writer mutex and the thread that holds it exclusively, so that
// release knows which hold to give back.
struct LockState {
  std::shared_mutex mutex;
  std::atomic<std::thread::id> owner{};
};

struct HostLock {
  QkAvlLock pub;
  LockState* state;
};

struct HostAvlTree {
  QkAvlTree pub; // first, so that the header leads back to the tree
  HostLock lock;
  QkAvlDescriptor desc;
};
static_assert(std::is_standard_layout_v<HostAvlTree>);

HostAvlTree* treeOf(QkAvlHeader* header) {
  return reinterpret_cast<HostAvlTree*>(reinterpret_cast<char*>(header) -
                                        offsetof(QkAvlTree, header));
}

void lockAcquire(QkAvlLock* lock, int32_t mode, int32_t /*wait*/) {
  LockState* st = reinterpret_cast<HostLock*>(lock)->state;
  if (mode == 1) {
    st->mutex.lock();
    st->owner.store(std::this_thread::get_id());
  } else {
    st->mutex.lock_shared();
  }
}

void lockRelease(QkAvlLock* lock) {
  LockState* st = reinterpret_cast<HostLock*>(lock)->state;
  if (st->owner.load() == std::this_thread::get_id()) {
    st->owner.store(std::thread::id{});
    st->mutex.unlock();
  } else {
    st->mutex.unlock_shared();
  }
}

using namespace qkavl;

// ----- key comparison of the built-in kinds ----------------------------------------------

bool isMissing(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return (bits >> 48) == 0xFFFFu || v != v;
}

int compareKey(const QkAvlDescriptor& d, const char* a, const char* b) {
  switch (d.kind) {
  case QKAVL_BYTES:
    return d.keyCount > 0 ? std::memcmp(a, b, static_cast<size_t>(d.keyCount)) : 0;
  case QKAVL_DOUBLES:
    for (int32_t i = 0; i < d.keyCount; ++i) {
      double x, y;
      std::memcpy(&x, a + 8 * i, 8);
      std::memcpy(&y, b + 8 * i, 8);
      bool mx = isMissing(x), my = isMissing(y);
      if (mx || my) {
        if (mx != my)
          return mx ? -1 : 1;
        continue;
      }
      if (x != y)
        return x < y ? -1 : 1;
    }
    return 0;
  default:
    for (int32_t i = 0; i < d.keyCount; ++i) {
      int32_t x, y;
      std::memcpy(&x, a + 4 * i, 4);
      std::memcpy(&y, b + 4 * i, 4);
      if (x != y)
        return x < y ? -1 : 1;
    }
    return 0;
  }
}

constexpr int kMaxPath = 96;

// Insertion of the built-in kinds: as any threaded AVL insertion, with the balance kept in
// the low bits of the link words.
void* builtinInsert(HostAvlTree* t, void* node) {
  QkAvlHeader& h = t->pub.header;
  const char* key = static_cast<const char*>(node) + h.keyOffset;
  return qkavl::insertThreaded<kMaxPath>(&h, L(node), [&](const Links* p) {
    return compareKey(t->desc, key, reinterpret_cast<const char*>(p) + h.keyOffset);
  });
}

void* builtinFind(HostAvlTree* t, const void* key) {
  QkAvlHeader& h = t->pub.header;
  Links* p = L(h.root);
  while (p) {
    int c = compareKey(t->desc, static_cast<const char*>(key),
                       reinterpret_cast<const char*>(p) + h.keyOffset);
    if (c == 0)
      return p;
    int d = c > 0;
    if (isThread(p, d))
      return nullptr;
    p = target(p, d);
  }
  return nullptr;
}

// ----- entries of the tree object --------------------------------------------------------

bool isShared(const HostAvlTree* t) { return (t->desc.flags & kQkAvlShared) != 0; }

void* treeInsert(QkAvlHeader* header, void* node) {
  if (!header || !node)
    return nullptr;
  HostAvlTree* t = treeOf(header);
  if (t->desc.kind == QKAVL_CALLBACKS) {
    const AvlCallbacks* cb = t->desc.callbacks;
    return isShared(t) && cb->safe_adder ? cb->safe_adder(header, node) : cb->adder(header, node);
  }
  if (!isShared(t))
    return builtinInsert(t, node);
  std::unique_lock<std::shared_mutex> hold(t->lock.state->mutex);
  return builtinInsert(t, node);
}

void* treeFind(QkAvlHeader* header, const void* key) {
  if (!header || !key)
    return nullptr;
  HostAvlTree* t = treeOf(header);
  if (t->desc.kind == QKAVL_CALLBACKS) {
    const AvlCallbacks* cb = t->desc.callbacks;
    if (isShared(t) && cb->safe_finder)
      return cb->safe_finder(header, key);
    return cb->finder ? cb->finder(header, key) : nullptr;
  }
  if (!isShared(t))
    return builtinFind(t, key);
  std::shared_lock<std::shared_mutex> hold(t->lock.state->mutex);
  return builtinFind(t, key);
}

void* treeFirst(QkAvlHeader* header) {
  if (!header || !header->root)
    return nullptr;
  return outermost(L(header->root), 0);
}

void* treeNext(void* node) {
  if (!node)
    return nullptr;
  Links* n = L(node);
  if (isThread(n, 1))
    return target(n, 1);
  return outermost(target(n, 1), 0);
}

void treeDestroy(QkAvlTree* tree) {
  if (!tree)
    return;
  HostAvlTree* t = reinterpret_cast<HostAvlTree*>(tree);
  delete t->lock.state;
  delete t;
}

bool validDescriptor(const QkAvlDescriptor* d) {
  if (!d || d->keyOffset < static_cast<int32_t>(2 * sizeof(uintptr_t)))
    return false;
  switch (d->kind) {
  case QKAVL_CALLBACKS:
    return d->callbacks && d->callbacks->adder;
  case QKAVL_BYTES:
  case QKAVL_DOUBLES:
  case QKAVL_INT32:
    return d->keyCount >= 0;
  default:
    return false;
  }
}

QkAvlTree* createTree(QkAvlExtension* /*extension*/, const QkAvlDescriptor* descriptor,
                      void* /*reserved1*/, void* /*reserved2*/) {
  if (!validDescriptor(descriptor))
    return nullptr;
  HostAvlTree* t = new (std::nothrow) HostAvlTree{};
  if (!t)
    return nullptr;
  t->lock.state = new (std::nothrow) LockState;
  if (!t->lock.state) {
    delete t;
    return nullptr;
  }
  t->desc = *descriptor;
  t->lock.pub.acquire = lockAcquire;
  t->lock.pub.release = lockRelease;
  t->pub.destroy = treeDestroy;
  t->pub.header.root = nullptr;
  t->pub.header.keyOffset = descriptor->keyOffset;
  t->pub.header.lock = &t->lock.pub;
  t->pub.insert = treeInsert;
  t->pub.find = treeFind;
  t->pub.first = treeFirst;
  t->pub.next = treeNext;
  return &t->pub;
}

void unloadQkavlt(QkExtension* extension) { delete reinterpret_cast<QkAvlExtension*>(extension); }

} // namespace

QkExtension* loadQkavlt() {
  QkAvlExtension* ext = new (std::nothrow) QkAvlExtension{};
  if (!ext)
    return nullptr;
  ext->base.name = "qkavlt";
  ext->base.unload = unloadQkavlt;
  ext->createTree = createTree;
  return &ext->base;
}

} // namespace qrxhost
