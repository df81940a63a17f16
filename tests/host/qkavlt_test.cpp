// The qkavlt extension: trees of the built-in kinds agree with std::set under random
// inserts and lookups and stay AVL-balanced with correct threads and balance bits; shared
// trees take concurrent inserts; kind 0 trees go through the caller's callbacks; the
// extension and its trees load, destroy and unload cleanly.
#include "host/ext/qkavlt.h"

#include "support/qkavlt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

struct IntNode {
  uintptr_t links[2];
  void* keyPointer; // the caller's own word, as the effect trees keep it
  int32_t key[2];
};

struct TextNode {
  uintptr_t links[2];
  char key[7];
};

struct Ext {
  QkAvlExtension* ext;
  Ext() : ext(reinterpret_cast<QkAvlExtension*>(qrxhost::loadQkavlt())) {}
  ~Ext() { ext->base.unload(&ext->base); }
  QkAvlTree* make(int32_t kind, int32_t count, int32_t offset, int32_t flags = 0,
                  const AvlCallbacks* cb = nullptr) {
    QkAvlDescriptor d{count, offset, kind, flags, cb};
    return ext->createTree(ext, &d, nullptr, nullptr);
  }
};

uintptr_t word(const void* n, int d) { return static_cast<const uintptr_t*>(n)[d]; }
const void* addr(uintptr_t w) { return reinterpret_cast<const void*>(w & ~kQkAvlTagMask); }
bool thread(uintptr_t w) { return (w & kQkAvlThread) != 0; }

// Height of a subtree; checks the balance bits against the heights and the AVL condition.
int check(const void* n, std::vector<const void*>& order) {
  int hl = thread(word(n, 0)) ? 0 : check(addr(word(n, 0)), order);
  order.push_back(n);
  int hr = thread(word(n, 1)) ? 0 : check(addr(word(n, 1)), order);
  int bal =
      static_cast<int>(word(n, 1) & kQkAvlBalance) - static_cast<int>(word(n, 0) & kQkAvlBalance);
  EXPECT_EQ(bal, hr - hl);
  EXPECT_LE(std::abs(hr - hl), 1);
  return 1 + std::max(hl, hr);
}

void checkThreads(QkAvlTree* t) {
  if (!t->header.root)
    return;
  std::vector<const void*> order;
  check(t->header.root, order);
  for (size_t i = 0; i < order.size(); ++i) {
    if (thread(word(order[i], 0))) {
      ASSERT_EQ(addr(word(order[i], 0)), i ? order[i - 1] : nullptr);
    }
    if (thread(word(order[i], 1))) {
      ASSERT_EQ(addr(word(order[i], 1)), i + 1 < order.size() ? order[i + 1] : nullptr);
    }
  }
}

TEST(Qkavlt, IntegerKeysAgreeWithStdSet) {
  Ext e;
  QkAvlTree* t = e.make(QKAVL_INT32, 2, offsetof(IntNode, key));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->first(&t->header), nullptr);
  std::mt19937 rng(1234);
  constexpr int kNodes = 30000;
  auto nodes = std::make_unique<IntNode[]>(kNodes);
  std::set<std::pair<int32_t, int32_t>> ref;
  for (int i = 0; i < kNodes; ++i) {
    IntNode& n = nodes[i];
    n.key[0] = static_cast<int32_t>(rng() % 200) - 100;
    n.key[1] = static_cast<int32_t>(rng() % 200) - 100;
    void* got = t->insert(&t->header, &n);
    ASSERT_EQ(got == &n, ref.insert({n.key[0], n.key[1]}).second) << i;
    ASSERT_EQ(0, std::memcmp(static_cast<IntNode*>(got)->key, n.key, sizeof n.key));
    int32_t probe[2] = {static_cast<int32_t>(rng() % 200) - 100,
                        static_cast<int32_t>(rng() % 200) - 100};
    void* found = t->find(&t->header, probe);
    ASSERT_EQ(found != nullptr, ref.count({probe[0], probe[1]}) == 1);
    if (i % 4999 == 0)
      checkThreads(t);
  }
  checkThreads(t);
  using KeyPair = std::pair<int32_t, int32_t>;
  std::vector<KeyPair> walked;
  for (void* n = t->first(&t->header); n; n = t->next(n))
    walked.emplace_back(static_cast<IntNode*>(n)->key[0], static_cast<IntNode*>(n)->key[1]);
  EXPECT_EQ(walked, std::vector<KeyPair>(ref.begin(), ref.end()));
  t->destroy(t);
}

TEST(Qkavlt, ByteKeysAndAscendingInsertsStayShallow) {
  Ext e;
  QkAvlTree* t = e.make(QKAVL_BYTES, 7, offsetof(TextNode, key));
  std::vector<TextNode> nodes(1000);
  for (int i = 0; i < 1000; ++i) {
    std::snprintf(nodes[i].key, 7, "%06d", i);
    ASSERT_EQ(t->insert(&t->header, &nodes[i]), &nodes[i]);
  }
  std::vector<const void*> order;
  int h = check(t->header.root, order);
  EXPECT_LE(h, 1.44 * std::log2(1002.0)); // the AVL bound
  EXPECT_EQ(order.size(), 1000u);
  int i = 0;
  for (void* n = t->first(&t->header); n; n = t->next(n), ++i)
    EXPECT_EQ(n, &nodes[i]);
  EXPECT_EQ(i, 1000);
  t->destroy(t);
}

TEST(Qkavlt, SharedTreeTakesConcurrentInserts) {
  Ext e;
  struct DNode {
    uintptr_t links[2];
    void* spare;
    double key;
  };
  QkAvlTree* t = e.make(QKAVL_DOUBLES, 1, offsetof(DNode, key), kQkAvlShared);
  constexpr int kThreads = 4, kPer = 3000;
  auto nodes = std::make_unique<DNode[]>(kThreads * kPer);
  std::vector<std::thread> threads;
  for (int w = 0; w < kThreads; ++w)
    threads.emplace_back([&, w] {
      for (int i = 0; i < kPer; ++i) {
        DNode& n = nodes[w * kPer + i];
        n.key = static_cast<double>((i * 7 + w) % 5000); // overlapping keys across threads
        t->insert(&t->header, &n);
        double probe = n.key;
        EXPECT_NE(t->find(&t->header, &probe), nullptr);
      }
    });
  for (auto& th : threads)
    th.join();
  std::set<double> ref;
  for (int i = 0; i < kThreads * kPer; ++i)
    ref.insert(nodes[i].key);
  checkThreads(t);
  std::vector<double> walked;
  for (void* n = t->first(&t->header); n; n = t->next(n))
    walked.push_back(static_cast<DNode*>(n)->key);
  EXPECT_EQ(walked, std::vector<double>(ref.begin(), ref.end()));
  // The lock object: exclusive and shared holds are released in their own mode.
  QkAvlLock* lock = t->header.lock;
  lock->acquire(lock, 1, 1);
  lock->release(lock);
  lock->acquire(lock, 0, 1);
  lock->acquire(lock, 0, 1);
  lock->release(lock);
  lock->release(lock);
  lock->acquire(lock, 1, 1); // would hang if a hold had leaked
  lock->release(lock);
  t->destroy(t);
}

// Kind 0: a caller's adder keeping an ascending chain (a valid threaded tree).
int plainCalls = 0, safeCalls = 0;
void* chainAdder(QkAvlHeader* h, void* node) {
  ++plainCalls;
  uintptr_t* n = static_cast<uintptr_t*>(node);
  n[1] = kQkAvlThread;
  if (!h->root) {
    n[0] = kQkAvlThread;
    h->root = node;
    return node;
  }
  uintptr_t* last = static_cast<uintptr_t*>(h->root);
  while (!(last[1] & kQkAvlThread))
    last = reinterpret_cast<uintptr_t*>(last[1] & ~kQkAvlTagMask);
  last[1] = reinterpret_cast<uintptr_t>(node);
  n[0] = reinterpret_cast<uintptr_t>(last) | kQkAvlThread;
  return node;
}
void* safeChainAdder(QkAvlHeader* h, void* node) {
  ++safeCalls;
  h->lock->acquire(h->lock, 1, 1);
  void* r = chainAdder(h, node);
  h->lock->release(h->lock);
  return r;
}

TEST(Qkavlt, CallbackTreesUseTheCallersOperations) {
  Ext e;
  AvlCallbacks cb{};
  cb.adder = chainAdder;
  cb.safe_adder = safeChainAdder;
  QkAvlTree* plain = e.make(QKAVL_CALLBACKS, 1, 16, 0, &cb);
  QkAvlTree* shared = e.make(QKAVL_CALLBACKS, 1, 16, kQkAvlShared, &cb);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->header.keyOffset, 16);
  TextNode a{}, b{}, c{};
  plain->insert(&plain->header, &a);
  plain->insert(&plain->header, &b);
  shared->insert(&shared->header, &c);
  EXPECT_EQ(plainCalls, 3);
  EXPECT_EQ(safeCalls, 1);
  EXPECT_EQ(plain->first(&plain->header), &a);
  EXPECT_EQ(plain->next(&a), &b);
  EXPECT_EQ(plain->next(&b), nullptr);
  EXPECT_EQ(plain->find(&plain->header, "x"), nullptr); // no finder given
  plain->destroy(plain);
  shared->destroy(shared);
}

TEST(Qkavlt, InvalidDescriptorsGiveNoTree) {
  Ext e;
  EXPECT_EQ(e.make(QKAVL_CALLBACKS, 1, 16, 0, nullptr), nullptr);
  EXPECT_EQ(e.make(QKAVL_INT32, 1, 8), nullptr); // key inside the link words
  EXPECT_EQ(e.make(77, 1, 16), nullptr);
  EXPECT_EQ(e.ext->createTree(e.ext, nullptr, nullptr, nullptr), nullptr);
  EXPECT_STREQ(e.ext->base.name, "qkavlt");
}

} // namespace
