// The distinct-model tree against std::set: random inserts and deletes keep the same keys in
// the same order, every thread names the true in-order neighbour, every balance bit matches
// the subtree heights and the height stays within the AVL bound.
#include "output/vsfmodeltree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <random>
#include <set>
#include <vector>

namespace {

struct Store {
  std::deque<std::vector<int32_t>> keys;
  std::deque<VsfModelTreeNode> nodes;
  VsfModelTreeNode* make(std::vector<int32_t> key) {
    keys.push_back(std::move(key));
    nodes.push_back(VsfModelTreeNode{{7, 9}, {int32_t(keys.back().size()), keys.back().data()}, 0});
    return &nodes.back();
  }
};

VsfModelTreeNode* N(const void* p) { return static_cast<VsfModelTreeNode*>(const_cast<void*>(p)); }
bool thread(const VsfModelTreeNode* n, int d) { return (n->link[d] & kQkAvlThread) != 0; }
VsfModelTreeNode* to(const VsfModelTreeNode* n, int d) {
  return reinterpret_cast<VsfModelTreeNode*>(n->link[d] & ~kQkAvlTagMask);
}

std::vector<int32_t> keyVec(const VsfModelTreeNode* n) {
  return std::vector<int32_t>(n->key.indices, n->key.indices + n->key.count);
}

// Height of a subtree; checks its balance bits and collects it in order.
int check(const VsfModelTreeNode* n, std::vector<const VsfModelTreeNode*>& order) {
  int hl = thread(n, 0) ? 0 : check(to(n, 0), order);
  order.push_back(n);
  int hr = thread(n, 1) ? 0 : check(to(n, 1), order);
  const int bits = int(n->link[1] & kQkAvlBalance) - int(n->link[0] & kQkAvlBalance);
  EXPECT_EQ(bits, hr - hl);
  EXPECT_LE(std::abs(hr - hl), 1);
  return 1 + std::max(hl, hr);
}

struct Less {
  bool operator()(const std::vector<int32_t>& a, const std::vector<int32_t>& b) const {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  }
};

void expectSame(const QkAvlHeader& h, const std::set<std::vector<int32_t>, Less>& ref) {
  if (ref.empty()) {
    EXPECT_EQ(h.root, nullptr);
    return;
  }
  std::vector<const VsfModelTreeNode*> order;
  const int height = check(N(h.root), order);
  ASSERT_EQ(order.size(), ref.size());
  size_t i = 0;
  for (const auto& k : ref)
    EXPECT_EQ(keyVec(order[i++]), k);
  for (size_t j = 0; j < order.size(); ++j) {
    if (thread(order[j], 0)) {
      EXPECT_EQ(to(order[j], 0), j == 0 ? nullptr : order[j - 1]);
    }
    if (thread(order[j], 1)) {
      EXPECT_EQ(to(order[j], 1), j + 1 == order.size() ? nullptr : order[j + 1]);
    }
  }
  EXPECT_LE(height, 1.44 * std::log2(double(ref.size()) + 2));
}

std::vector<int32_t> randomKey(std::mt19937& rng) {
  std::vector<int32_t> k(rng() % 4);
  for (auto& v : k)
    v = int32_t(rng() % 6);
  std::sort(k.begin(), k.end());
  return k;
}

TEST(ModelTree, RandomInsertsAndDeletesMatchStdSet) {
  std::mt19937 rng(24);
  for (int round = 0; round < 20; ++round) {
    Store store;
    QkAvlHeader h{nullptr, kVsfModelKeyOffset, nullptr};
    std::set<std::vector<int32_t>, Less> ref;
    for (int op = 0; op < 600; ++op) {
      std::vector<int32_t> key = randomKey(rng);
      VsfModelKey probe{int32_t(key.size()), key.data()};
      if (rng() % 3 != 0) {
        VsfModelTreeNode* n = store.make(key);
        void* got = vsfAVL.adder(&h, n);
        const bool added = ref.insert(key).second;
        EXPECT_EQ(got == n, added);
        EXPECT_EQ(keyVec(N(got)), key);
      } else {
        void* got = vsfAVL.killer(&h, &probe);
        const bool had = ref.erase(key) == 1;
        ASSERT_EQ(got != nullptr, had);
        if (got) {
          EXPECT_EQ(keyVec(N(got)), key);
          EXPECT_EQ(N(got)->link[0], 0u);
          EXPECT_EQ(N(got)->link[1], 0u);
        }
      }
      void* found = vsfAVL.finder(&h, &probe);
      EXPECT_EQ(found != nullptr, ref.count(key) == 1);
      // Neighbours of the probe against the set's.
      void *below = &h, *above = &h;
      void* exact = vsfAVL.fuzzier(&h, &probe, &below, &above);
      EXPECT_EQ(exact, found);
      auto hi = ref.upper_bound(key);
      auto lo = ref.lower_bound(key);
      EXPECT_EQ(above ? keyVec(N(above)) : std::vector<int32_t>{-1},
                hi == ref.end() ? std::vector<int32_t>{-1} : *hi);
      EXPECT_EQ(below ? keyVec(N(below)) : std::vector<int32_t>{-1},
                lo == ref.begin() ? std::vector<int32_t>{-1} : *std::prev(lo));
      if (op % 25 == 0)
        expectSame(h, ref);
    }
    expectSame(h, ref);
  }
}

TEST(ModelTree, AscendingInsertsStayBalancedAndDeleteToEmpty) {
  Store store;
  QkAvlHeader h{nullptr, kVsfModelKeyOffset, nullptr};
  std::set<std::vector<int32_t>, Less> ref;
  for (int32_t i = 0; i < 1000; ++i) {
    vsfAVL.adder(&h, store.make({i / 100, i % 100 + 100}));
    ref.insert({i / 100, i % 100 + 100});
  }
  expectSame(h, ref);
  VsfModelKey below{1, nullptr}; // count 1 sorts before every count-2 key
  void *lo = &h, *hi = &h;
  EXPECT_EQ(vsfAVL.fuzzier(&h, &below, &lo, &hi), nullptr);
  EXPECT_EQ(lo, nullptr);
  EXPECT_EQ(keyVec(N(hi)), (std::vector<int32_t>{0, 100}));
  int32_t big[3] = {0, 0, 0};
  VsfModelKey above{3, big};
  EXPECT_EQ(vsfAVL.fuzzier(&h, &above, &lo, &hi), nullptr);
  EXPECT_EQ(keyVec(N(lo)), (std::vector<int32_t>{9, 199}));
  EXPECT_EQ(hi, nullptr);
  for (int32_t i = 999; i >= 0; i -= 2) {
    int32_t k[2] = {i / 100, i % 100 + 100};
    VsfModelKey key{2, k};
    ASSERT_NE(vsfAVL.killer(&h, &key), nullptr);
    ref.erase({k[0], k[1]});
  }
  expectSame(h, ref);
  for (int32_t i = 0; i < 1000; i += 2) {
    int32_t k[2] = {i / 100, i % 100 + 100};
    VsfModelKey key{2, k};
    ASSERT_NE(vsfAVL.killer(&h, &key), nullptr);
  }
  EXPECT_EQ(h.root, nullptr);
  int32_t k[2] = {0, 100};
  VsfModelKey gone{2, k};
  EXPECT_EQ(vsfAVL.killer(&h, &gone), nullptr);
}

TEST(ModelTree, KeyOrderCountFirstAndEmptyCountsEqual) {
  int32_t a[2] = {1, 2}, b[1] = {7}, c[1] = {3}, d[1] = {-5};
  VsfModelKey ab{2, a}, seven{1, b}, three{1, c}, neg{1, d};
  EXPECT_GT(vsfModelKeyCompare(&ab, &seven), 0);
  EXPECT_LT(vsfModelKeyCompare(&three, &ab), 0);
  EXPECT_LT(vsfModelKeyCompare(&neg, &three), 0); // signed comparison
  VsfModelKey none1{0, a}, none2{-1, b};
  VsfModelKey none3{0, b};
  EXPECT_EQ(vsfModelKeyCompare(&none1, &none3), 0);
  EXPECT_NE(vsfModelKeyCompare(&none1, &none2), 0);
  Store store;
  QkAvlHeader h{nullptr, kVsfModelKeyOffset, nullptr};
  VsfModelTreeNode* first = store.make({});
  EXPECT_EQ(vsfAVL.adder(&h, first), first);
  EXPECT_EQ(first->link[0], kQkAvlThread);
  EXPECT_EQ(first->link[1], kQkAvlThread);
  EXPECT_EQ(vsfAVL.adder(&h, store.make({})), first);
}

} // namespace
