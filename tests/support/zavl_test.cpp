// Threaded AVL trees: randomised insert/find/remove/walk against std::set in integer and
// byte-string key modes, with the tree's shape, balances and threads checked throughout.
#include "support/zavl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

struct IntRec {
  ZavlNode links;
  int32_t pad;
  int32_t key;
};
constexpr int32_t kIntOffset = offsetof(IntRec, key);

constexpr int32_t kStrLen = 6;
struct StrRec {
  ZavlNode links;
  char key[kStrLen];
};
constexpr int32_t kStrOffset = offsetof(StrRec, key);

bool isThread(uintptr_t w) { return (w & 1u) != 0; }
ZavlNode* addr(uintptr_t w) { return reinterpret_cast<ZavlNode*>(w & ~uintptr_t{1}); }

// Checks one subtree; returns its height. Fills the in-order list of its nodes.
int checkSubtree(ZavlNode* n, std::vector<ZavlNode*>& order) {
  int hl = 0, hr = 0;
  if (!isThread(n->left))
    hl = checkSubtree(addr(n->left), order);
  order.push_back(n);
  if (!isThread(n->right))
    hr = checkSubtree(addr(n->right), order);
  EXPECT_EQ(n->balance, hr - hl) << "stored balance differs from the heights";
  EXPECT_LE(std::abs(hr - hl), 1) << "AVL condition broken";
  return 1 + (hl > hr ? hl : hr);
}

// Verifies the whole tree: AVL shape, every thread pointing to the in-order neighbour (1 at
// the ends), and in-order keys strictly ascending under the given comparison.
template <class Less> void checkTree(void* root, Less less) {
  if (!root)
    return;
  std::vector<ZavlNode*> order;
  checkSubtree(static_cast<ZavlNode*>(root), order);
  for (size_t i = 0; i < order.size(); ++i) {
    ZavlNode* n = order[i];
    ZavlNode* prev = i > 0 ? order[i - 1] : nullptr;
    ZavlNode* next = i + 1 < order.size() ? order[i + 1] : nullptr;
    if (isThread(n->left)) {
      ASSERT_EQ(addr(n->left), prev) << "left thread is not the predecessor";
    }
    if (isThread(n->right)) {
      ASSERT_EQ(addr(n->right), next) << "right thread is not the successor";
    }
    if (prev) {
      ASSERT_TRUE(less(prev, n)) << "keys out of order";
    }
  }
}

std::vector<int32_t> walkInts(void** root) {
  std::vector<int32_t> out;
  for (void* n = zavl_first_node(root); n; n = zavl_next_node(n))
    out.push_back(static_cast<IntRec*>(n)->key);
  return out;
}

std::vector<int32_t> walkIntsBackwards(void** root) {
  std::vector<int32_t> out;
  for (void* n = zavl_last_node(root); n; n = zavl_prev_node(n))
    out.insert(out.begin(), static_cast<IntRec*>(n)->key);
  return out;
}

TEST(Zavl, SmallShapeAndThreads) {
  IntRec r[3]{};
  void* root = nullptr;
  for (int i = 0; i < 3; ++i) {
    r[i].key = i + 1;
    ASSERT_EQ(zavl_add_int(&root, &r[i], kIntOffset), &r[i]);
  }
  ASSERT_EQ(root, &r[1]);
  EXPECT_EQ(r[1].links.balance, 0);
  EXPECT_EQ(r[0].links.left, uintptr_t{1});  // no predecessor
  EXPECT_EQ(r[2].links.right, uintptr_t{1}); // no successor
  EXPECT_EQ(r[0].links.right, reinterpret_cast<uintptr_t>(&r[1]) | 1u);
  EXPECT_EQ(r[2].links.left, reinterpret_cast<uintptr_t>(&r[1]) | 1u);
  EXPECT_EQ(zavl_next_node(&r[2]), nullptr);
  EXPECT_EQ(zavl_prev_node(&r[0]), nullptr);

  // An existing key returns the node in the tree and changes nothing.
  IntRec dup{};
  dup.key = 2;
  uintptr_t l = r[1].links.left, rr = r[1].links.right;
  EXPECT_EQ(zavl_add_int(&root, &dup, kIntOffset), &r[1]);
  EXPECT_EQ(root, &r[1]);
  EXPECT_EQ(r[1].links.left, l);
  EXPECT_EQ(r[1].links.right, rr);
}

TEST(Zavl, EmptyAndSingleNode) {
  void* root = nullptr;
  EXPECT_EQ(zavl_first_node(&root), nullptr);
  EXPECT_EQ(zavl_last_node(&root), nullptr);
  EXPECT_EQ(zavl_first_node(nullptr), nullptr);
  IntRec a{};
  a.key = 7;
  EXPECT_EQ(zavl_rem_int(&root, &a, kIntOffset), nullptr);
  zavl_add_int(&root, &a, kIntOffset);
  IntRec probe{};
  probe.key = 8;
  EXPECT_EQ(zavl_rem_int(&root, &probe, kIntOffset), nullptr);
  EXPECT_EQ(zavl_rem_int(&root, &a, kIntOffset), &a);
  EXPECT_EQ(root, nullptr);
}

TEST(Zavl, RandomIntegerKeysAgreeWithStdSet) {
  constexpr int kRecords = 40000;
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int32_t> keyDist(-30000, 30000);
  auto pool = std::make_unique<IntRec[]>(kRecords);
  std::vector<IntRec*> byKey(60001, nullptr);
  std::set<int32_t> ref;
  void* root = nullptr;
  auto less = [](ZavlNode* a, ZavlNode* b) {
    return reinterpret_cast<IntRec*>(a)->key < reinterpret_cast<IntRec*>(b)->key;
  };
  int used = 0;
  for (int step = 0; step < 3 * kRecords; ++step) {
    int32_t k = keyDist(rng);
    int op = static_cast<int>(rng() % 4);
    if (op < 2 && used < kRecords) {
      IntRec* rec = &pool[used];
      rec->key = k;
      void* got = zavl_add_int(&root, rec, kIntOffset);
      bool fresh = ref.insert(k).second;
      if (fresh) {
        ASSERT_EQ(got, rec);
        byKey[k + 30000] = rec;
        ++used;
      } else {
        ASSERT_EQ(got, byKey[k + 30000]);
      }
    } else if (op == 2) {
      void* got = zavl_find_int(root, &k, kIntOffset);
      ASSERT_EQ(got, ref.count(k) ? byKey[k + 30000] : nullptr);
    } else {
      IntRec probe{};
      probe.key = k;
      void* got = zavl_rem_int(&root, &probe, kIntOffset);
      if (ref.erase(k)) {
        ASSERT_EQ(got, byKey[k + 30000]);
        byKey[k + 30000] = nullptr;
      } else {
        ASSERT_EQ(got, nullptr);
      }
    }
    if (step % 2999 == 0) {
      checkTree(root, less);
      ASSERT_EQ(walkInts(&root), std::vector<int32_t>(ref.begin(), ref.end()));
    }
  }
  checkTree(root, less);
  ASSERT_EQ(walkInts(&root), std::vector<int32_t>(ref.begin(), ref.end()));
  ASSERT_EQ(walkIntsBackwards(&root), std::vector<int32_t>(ref.begin(), ref.end()));
  // Empty the tree completely, checking on the way.
  std::vector<int32_t> rest(ref.begin(), ref.end());
  std::shuffle(rest.begin(), rest.end(), rng);
  for (size_t i = 0; i < rest.size(); ++i) {
    IntRec probe{};
    probe.key = rest[i];
    ASSERT_EQ(zavl_rem_int(&root, &probe, kIntOffset), byKey[rest[i] + 30000]);
    if (i % 1013 == 0)
      checkTree(root, less);
  }
  EXPECT_EQ(root, nullptr);
}

TEST(Zavl, RandomStringKeysAgreeWithStdSet) {
  constexpr int kRecords = 30000;
  std::mt19937 rng(77);
  auto pool = std::make_unique<StrRec[]>(kRecords);
  std::set<std::string> ref;
  std::vector<std::string> inserted;
  void* root = nullptr;
  auto less = [](ZavlNode* a, ZavlNode* b) {
    return std::memcmp(reinterpret_cast<StrRec*>(a)->key, reinterpret_cast<StrRec*>(b)->key,
                       kStrLen) < 0;
  };
  auto randomKey = [&] {
    std::string s(kStrLen, ' ');
    // Bytes above 127 make sure the order is unsigned.
    for (char& c : s)
      c = "aZ \x80\xff"[rng() % 5];
    return s;
  };
  int used = 0;
  bool tchra = false;
  for (int step = 0; step < 2 * kRecords; ++step) {
    std::string k = randomKey();
    tchra = !tchra;
    int op = static_cast<int>(rng() % 4);
    if (op < 2 && used < kRecords) {
      StrRec* rec = &pool[used];
      std::memcpy(rec->key, k.data(), kStrLen);
      void* got = tchra ? zavl_add_tchra(&root, rec, kStrOffset, kStrLen)
                        : zavl_add_chra(&root, rec, kStrOffset, kStrLen);
      ASSERT_NE(got, nullptr);
      ASSERT_EQ(std::string(static_cast<StrRec*>(got)->key, kStrLen), k);
      if (ref.insert(k).second) {
        ASSERT_EQ(got, rec);
        ++used;
      } else {
        ASSERT_NE(got, rec);
      }
    } else if (op == 2) {
      void* got = tchra ? zavl_find_tchra(root, k.data(), kStrOffset, kStrLen)
                        : zavl_find_chra(root, k.data(), kStrOffset, kStrLen);
      if (ref.count(k)) {
        ASSERT_NE(got, nullptr);
        ASSERT_EQ(std::string(static_cast<StrRec*>(got)->key, kStrLen), k);
      } else {
        ASSERT_EQ(got, nullptr);
      }
    } else {
      StrRec probe{};
      std::memcpy(probe.key, k.data(), kStrLen);
      void* got = tchra ? zavl_rem_tchra(&root, &probe, kStrOffset, kStrLen)
                        : zavl_rem_chra(&root, &probe, kStrOffset, kStrLen);
      if (ref.erase(k)) {
        ASSERT_NE(got, nullptr);
        ASSERT_EQ(std::string(static_cast<StrRec*>(got)->key, kStrLen), k);
      } else {
        ASSERT_EQ(got, nullptr);
      }
    }
    if (step % 1501 == 0) {
      checkTree(root, less);
      std::vector<std::string> walked;
      for (void* n = zavl_first_node(&root); n; n = zavl_next_node(n))
        walked.emplace_back(static_cast<StrRec*>(n)->key, kStrLen);
      ASSERT_EQ(walked, std::vector<std::string>(ref.begin(), ref.end()));
    }
  }
}

TEST(Zavl, ToListLinksInOrder) {
  std::vector<IntRec> recs(200);
  void* root = nullptr;
  std::mt19937 rng(5);
  std::vector<int32_t> keys(200);
  for (int i = 0; i < 200; ++i)
    keys[i] = i * 3;
  std::shuffle(keys.begin(), keys.end(), rng);
  for (int i = 0; i < 200; ++i) {
    recs[i].key = keys[i];
    zavl_add_int(&root, &recs[i], kIntOffset);
  }
  zavl2list(&root);
  ZavlNode* n = static_cast<ZavlNode*>(root);
  ASSERT_EQ(n->left, uintptr_t{1});
  int32_t expect = 0;
  ZavlNode* prev = nullptr;
  while (n) {
    EXPECT_EQ(reinterpret_cast<IntRec*>(n)->key, expect);
    EXPECT_EQ(n->left, reinterpret_cast<uintptr_t>(prev) | 1u);
    ASSERT_TRUE(n->right & 1u);
    prev = n;
    n = addr(n->right);
    expect += 3;
  }
  EXPECT_EQ(expect, 600);
}

} // namespace
