// The sk string and memory routines: null and empty-range rules, unsigned ordering,
// overlapping copies and the allocator-backed duplicate.
#include "support/skstr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

TEST(Skstr, LengthsAndCopies) {
  EXPECT_EQ(skStrLen(nullptr), 0);
  EXPECT_EQ(skStrLen("abc"), 3);
  const QkChar wide[] = {U'a', U'b', 0};
  EXPECT_EQ(skStrTLen(wide), 2);
  EXPECT_EQ(skStrTLen(nullptr), 0);
  char buf[8] = "zzzz";
  skStrCpy(nullptr, buf);
  EXPECT_STREQ(buf, "");
  skStrCpy("hey", buf);
  EXPECT_STREQ(buf, "hey");
  skStrCpy("x", nullptr); // does nothing, must not crash
  QkChar wbuf[4] = {1, 1, 1, 1};
  skStrTCpy(wide, wbuf);
  EXPECT_EQ(wbuf[1], U'b');
  EXPECT_EQ(wbuf[2], 0u);
  char t[] = "aZ9y{";
  skStrUp(t, 5);
  EXPECT_STREQ(t, "AZ9Y{");
  skStrLow(t, 5);
  EXPECT_STREQ(t, "az9y{");
}

TEST(Skstr, ScanAndNot) {
  EXPECT_EQ(skMemScan("abc", 0, 'a'), -1);
  EXPECT_EQ(skMemScan(nullptr, 3, 'a'), -1);
  EXPECT_EQ(skMemScan("abcb", 4, 'b'), 1);
  EXPECT_EQ(skMemScan("abc", 3, 'x'), -1);
  EXPECT_EQ(skMemNScan("  x", 3, ' '), 2);
  EXPECT_EQ(skMemNScan("   ", 3, ' '), -1);
  const QkChar w[] = {U' ', U' ', U'q'};
  EXPECT_EQ(skMemTNScan(w, 3, U' '), 2);
  EXPECT_EQ(skMemTNScan(w, 0, U' '), -1);
  EXPECT_EQ(skMemNot('a', "", 0), 1);
  EXPECT_EQ(skMemNot('a', "aaa", 3), 1);
  EXPECT_EQ(skMemNot('a', "aab", 3), 0);
  EXPECT_EQ(skMemTNot(U' ', w, 2), 1);
  EXPECT_EQ(skMemTNot(U' ', w, 3), 0);
}

TEST(Skstr, CompareIsUnsigned) {
  EXPECT_EQ(skMemCmp("ab", "ab", 2), 0);
  EXPECT_EQ(skMemCmp("a\x80", "a\x7f", 2), 1); // 0x80 sorts after 0x7f
  EXPECT_EQ(skMemCmp("a", "b", 1), -1);
  const QkChar a[] = {5, 0x10FFFF};
  const QkChar b[] = {5, 0x41};
  EXPECT_EQ(skWMemCmp(a, b, 2), 1);
  EXPECT_EQ(skWMemCmp(b, a, 2), -1);
  // Elements whose 32-bit difference would overflow still order correctly.
  const QkChar big[] = {0xFFFFFFF0u};
  const QkChar small[] = {0x10};
  EXPECT_EQ(skWMemCmp(big, small, 1), 1);
}

TEST(Skstr, OverlappingCopyAndFill) {
  char b[] = "abcdefgh";
  skMemSCpy(b, b + 2, 5); // target inside the source
  EXPECT_STREQ(b, "ababcdeh");
  char c[] = "abcdefgh";
  skMemSCpy(c + 2, c, 5);
  EXPECT_STREQ(c, "cdefgfgh");
  char d[4];
  skMemSet(d, 'x', 3);
  d[3] = 0;
  EXPECT_STREQ(d, "xxx");
  QkChar w[3];
  skMemTSet(w, U'q', 3);
  EXPECT_EQ(w[2], U'q');
}

struct MallocPool {
  QkPool pool{};
  int calls = 0;
};

void* mallocAllocate(QkPool* pool, size_t size, uint32_t) {
  reinterpret_cast<MallocPool*>(pool)->calls++;
  return std::malloc(size ? size : 1);
}

TEST(Skstr, MemDupUsesTheAllocator) {
  MallocPool mp;
  mp.pool.allocate = mallocAllocate;
  EXPECT_EQ(skMemDup("abc", 3, nullptr), nullptr);
  EXPECT_EQ(skMemDup(nullptr, 3, &mp.pool), nullptr);
  EXPECT_EQ(mp.calls, 0);
  void* copy = skMemDup("abc", 3, &mp.pool);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::memcmp(copy, "abc", 3), 0);
  EXPECT_EQ(mp.calls, 1);
  std::free(copy);
}

TEST(Skstr, MissArrayAndMinMax) {
  double v[3] = {1.0, 2.0, 3.0};
  EXPECT_EQ(skMissArray(v, 3), 0);
  v[2] = hostMissing();
  EXPECT_EQ(skMissArray(v, 3), 1);
  EXPECT_EQ(skMissArray(v, 2), 0);
  EXPECT_EQ(max(-3, 2), 2);
  EXPECT_EQ(min(-3, 2), -3);
  EXPECT_EQ(skUnsup(), 0x803fc004u);
}

} // namespace
