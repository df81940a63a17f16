// Plain AVL level trees: insertion agreeing with std::set and keeping the AVL shape, the
// caller's comparison and its inconsistency report, lookups, and the in-order walk with
// its end, early end, failure status and the root's walk mode.
#include "support/ztree.h"

#include "support/hostif.h"
#include "support/testhooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <vector>

namespace {

struct Level {
  ZtreNode links;
  double value;
  char text[8];
};
constexpr int32_t kValueOffset = offsetof(Level, value);
constexpr int32_t kTextOffset = offsetof(Level, text);

int height(ZtreNode* n) {
  if (!n)
    return 0;
  int hl = height(n->left), hr = height(n->right);
  EXPECT_EQ(n->balance, hr - hl);
  EXPECT_LE(std::abs(hr - hl), 1);
  return 1 + std::max(hl, hr);
}

std::vector<double> walk(void* root) {
  std::vector<double> out;
  int32_t st = 0;
  while (void* n = ztreord(root, &st))
    out.push_back(static_cast<Level*>(n)->value);
  EXPECT_EQ(st, ZTRE_WALK_OK);
  return out;
}

TEST(Ztree, RandomDoublesAgreeWithStdSet) {
  std::mt19937 rng(11);
  std::vector<Level> recs(5000);
  std::set<double> ref;
  void* root = nullptr;
  for (auto& r : recs) {
    r.value = static_cast<double>(rng() % 3000) - 1500.0;
    void* got = ztrebdf(&root, &r, -1, kValueOffset, nullptr);
    bool fresh = ref.insert(r.value).second;
    ASSERT_EQ(got == &r, fresh);
    ASSERT_EQ(static_cast<Level*>(got)->value, r.value);
  }
  height(static_cast<ZtreNode*>(root));
  EXPECT_EQ(walk(root), std::vector<double>(ref.begin(), ref.end()));
  for (double v : {-1500.0, 0.0, 1499.0, 7777.0}) {
    Level key{};
    key.value = v;
    void* got = ztrefdf(&root, &key, -1, kValueOffset, nullptr);
    EXPECT_EQ(got != nullptr, ref.count(v) == 1);
  }
}

TEST(Ztree, MissingKeysAreOneLevelBelowNumbers) {
  Level a{}, b{}, c{};
  a.value = 3.0;
  b.value = hostMissing();
  c.value = hostMissing();
  void* root = nullptr;
  ztrebdf(&root, &a, -1, kValueOffset, nullptr);
  EXPECT_EQ(ztrebdf(&root, &b, -1, kValueOffset, nullptr), &b);
  EXPECT_EQ(ztrebdf(&root, &c, -1, kValueOffset, nullptr), &b);
  EXPECT_EQ(ztreord(root), &b);
  EXPECT_EQ(ztreord(root), &a);
  EXPECT_EQ(ztreord(root), nullptr);
}

TEST(Ztree, ByteKeysAndWalkRestart) {
  const char* words[] = {"pear", "apple", "fig", "kiwi", "apple", "date"};
  std::vector<Level> recs(6);
  void* root = nullptr;
  for (int i = 0; i < 6; ++i) {
    std::memset(recs[i].text, ' ', 8);
    std::memcpy(recs[i].text, words[i], std::strlen(words[i]));
    recs[i].value = i;
    ztrebdf(&root, &recs[i], 8, kTextOffset, ztrecc);
  }
  std::vector<double> order = walk(root);
  EXPECT_EQ(order, (std::vector<double>{1, 5, 2, 3, 0}));
  // After the end the next call starts again.
  EXPECT_EQ(walk(root), order);
}

TEST(Ztree, WalkOfOneNodeLeavesRootAlone) {
  Level only{};
  only.value = 1.0;
  void* root = nullptr;
  ztrebdf(&root, &only, -1, kValueOffset, nullptr);
  ZtreNode saved = only.links;
  EXPECT_EQ(ztreord(root), &only);
  // The root is in walk mode while the walk is under way, and its words come back after.
  EXPECT_EQ(only.links.balance, 17);
  EXPECT_EQ(ztrefdf(&root, &only, -1, kValueOffset, nullptr), &only);
  EXPECT_EQ(ztreord(root), nullptr);
  EXPECT_EQ(root, &only);
  EXPECT_EQ(only.links.left, saved.left);
  EXPECT_EQ(only.links.balance, saved.balance);
  EXPECT_EQ(ztreord(nullptr), nullptr);
}

TEST(Ztree, EarlyEndAndFailureAreDistinct) {
  std::vector<Level> recs(10);
  void* root = nullptr;
  for (int i = 0; i < 10; ++i) {
    recs[i].value = i;
    ztrebdf(&root, &recs[i], -1, kValueOffset, nullptr);
  }
  ztreofx(root); // no walk under way: nothing happens
  EXPECT_EQ(static_cast<Level*>(ztreord(root))->value, 0.0);
  EXPECT_EQ(static_cast<Level*>(ztreord(root))->value, 1.0);
  ztreofx(root);
  EXPECT_EQ(static_cast<Level*>(ztreord(root))->value, 0.0); // a fresh walk
  // Lookups read through the root in walk mode; an insertion ends the walk.
  for (const Level& r : recs)
    EXPECT_EQ(ztrefdf(&root, &r, -1, kValueOffset, nullptr), &r);
  Level extra{};
  extra.value = 10.5;
  EXPECT_EQ(ztrebdf(&root, &extra, -1, kValueOffset, nullptr), &extra);
  EXPECT_GT(height(static_cast<ZtreNode*>(root)), 0);
  EXPECT_EQ(static_cast<Level*>(ztreord(root))->value, 0.0);
  ztreofx(root);
  EXPECT_EQ(walk(root).size(), 11u);

  testHooks().treeWalkFailures = 1;
  int32_t st = 0;
  EXPECT_EQ(ztreord(root, &st), nullptr);
  EXPECT_EQ(st, ZTRE_WALK_NO_MEMORY);
  EXPECT_EQ(walk(root).size(), 11u); // the tree is intact and walks fully afterwards
}

int32_t byRemainder(const void* a, const void* b, int32_t, int32_t offset) {
  double x, y;
  std::memcpy(&x, static_cast<const char*>(a) + offset, 8);
  std::memcpy(&y, static_cast<const char*>(b) + offset, 8);
  int rx = static_cast<int>(x) % 4, ry = static_cast<int>(y) % 4;
  return rx - ry;
}

int32_t flipFlop(const void*, const void*, int32_t, int32_t) {
  static int calls = 0;
  // Orders consistently until the balance pass, then claims equality.
  return ++calls > 4 ? 0 : 1;
}

TEST(Ztree, CallerCompareAndInconsistency) {
  std::vector<Level> recs(8);
  void* root = nullptr;
  for (int i = 0; i < 8; ++i) {
    recs[i].value = i;
    void* got = ztrebdf(&root, &recs[i], 0, kValueOffset, byRemainder);
    EXPECT_EQ(got, &recs[i % 4]);
  }
  EXPECT_EQ(walk(root), (std::vector<double>{0, 1, 2, 3}));
  Level key{};
  key.value = 6;
  EXPECT_EQ(ztrefdf(&root, &key, 0, kValueOffset, byRemainder), &recs[2]);

  Level x{}, y{}, z{};
  void* r2 = nullptr;
  ztrebdf(&r2, &x, 0, 0, flipFlop);
  EXPECT_EQ(ztrebdf(&r2, &y, 0, 0, flipFlop), &y);
  EXPECT_EQ(ztrebdf(&r2, &z, 0, 0, flipFlop), nullptr); // inconsistent comparison
}

} // namespace
