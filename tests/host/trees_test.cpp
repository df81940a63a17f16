// The host's tree services: insertion under byte order agreeing with std::set, the
// existing record returned for an equal key, and the walk into an ascending list.
#include "host/trees.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

struct Rec {
  void* words[3];
  char key[5];
};
constexpr int32_t kOffset = offsetof(Rec, key);

TEST(HostTrees, BuildAgreesWithStdSetAndListsInOrder) {
  HostTreeServices* t = qrxhost::treeServices();
  std::mt19937 rng(3);
  std::vector<Rec> recs(20000);
  std::set<std::string> ref;
  void* root = nullptr;
  for (auto& r : recs) {
    for (char& c : r.key)
      c = "ab\xf0 z"[rng() % 5];
    std::string k(r.key, 5);
    void* got = t->ztrebld(&root, &r, 5, kOffset);
    ASSERT_EQ(got == &r, ref.insert(k).second);
    ASSERT_EQ(std::string(static_cast<Rec*>(got)->key, 5), k);
  }
  t->ztrelst(&root);
  std::vector<std::string> listed;
  for (Rec* r = static_cast<Rec*>(root); r; r = static_cast<Rec*>(r->words[0]))
    listed.emplace_back(r->key, 5);
  EXPECT_EQ(listed, std::vector<std::string>(ref.begin(), ref.end()));
}

TEST(HostTrees, EmptyAndSingle) {
  HostTreeServices* t = qrxhost::treeServices();
  void* root = nullptr;
  t->ztrelst(&root);
  EXPECT_EQ(root, nullptr);
  Rec a{};
  std::memcpy(a.key, "hello", 5);
  EXPECT_EQ(t->ztrebld(&root, &a, 5, kOffset), &a);
  Rec b = a;
  EXPECT_EQ(t->ztrebld(&root, &b, 5, kOffset), &a);
  t->ztrelst(&root);
  EXPECT_EQ(root, &a);
  EXPECT_EQ(a.words[0], nullptr);
}

} // namespace

#include "host/ext/extlist.h"
#include "host/hostcore.h"
#include "host/sort.h"
#include "support/hoststubs.h"
#include "support/qkavlt.h"

namespace {

TEST(HostTrees, ReachableThroughTheControlBlockAndRegistry) {
  HostControlBlock* cb = qrxhost::hostControlBlock();
  EXPECT_EQ(cb->groups->tree, qrxhost::treeServices());
  EXPECT_EQ(cb->groups->sort, qrxhost::sortServices());
  HostControlBlock* saved = v_global_gcb_anchor;
  v_global_gcb_anchor = cb;
  Rec a{}, b{};
  std::memcpy(a.key, "bbbbb", 5);
  std::memcpy(b.key, "aaaaa", 5);
  void* root = nullptr;
  EXPECT_EQ(ztrebld(&root, &a, 5, kOffset), &a); // through the module's stub
  EXPECT_EQ(ztrebld(&root, &b, 5, kOffset), &b);
  ztrelst(&root);
  EXPECT_EQ(root, &b);
  EXPECT_EQ(b.words[0], &a);
  v_global_gcb_anchor = saved;

  QkExtension* ext = qrxhost::loadExtension("qkavlt");
  ASSERT_NE(ext, nullptr);
  EXPECT_STREQ(ext->name, "qkavlt");
  ext->unload(ext);
}

} // namespace
