// The vz and wz fixed-width string routines: justification, moves into fields, indexes,
// blank-padded comparison positions, integer fields and key comparison at an offset.
#include "support/wzstr.h"

#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

TEST(Wzstr, JustifyInPlace) {
  char t[] = "  ab ";
  int32_t len = -1, start = -1;
  EXPECT_EQ(wzstjls(t, 5, 'L', &len, &start), 2);
  EXPECT_STREQ(t, "ab   ");
  EXPECT_EQ(len, 2);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(wzstjls(t, 5, 'r', &len, &start), 2);
  EXPECT_STREQ(t, "   ab");
  EXPECT_EQ(start, 3);
  EXPECT_EQ(wzstjls(t, 5, 'C', nullptr, &start), 2);
  EXPECT_STREQ(t, " ab  ");
  EXPECT_EQ(start, 1);
  char u[] = " x y  ";
  EXPECT_EQ(wzstjls(u, 6, '?', &len, &start), 3); // other modes move nothing
  EXPECT_STREQ(u, " x y  ");
  EXPECT_EQ(start, 1);
  char blank[] = "     ";
  EXPECT_EQ(wzstjls(blank, 5, 'L', &len, &start), 0);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(start, 0);
}

TEST(Wzstr, MoveStripAndLengths) {
  char f[6];
  EXPECT_EQ(wzstmov("abc", 3, f, 5), 3);
  EXPECT_EQ(std::string(f, 5), "abc  ");
  EXPECT_EQ(wzstmov("abcdefg", 7, f, 5), 5);
  EXPECT_EQ(std::string(f, 5), "abcde");
  EXPECT_EQ(wzstmov(nullptr, 3, f, 5), 0);
  EXPECT_EQ(std::string(f, 5), "     ");
  // A negative target length: a terminated field of -n-1 characters.
  std::memset(f, '#', 6);
  EXPECT_EQ(wzstmov("ab", 2, f, -5), 2);
  EXPECT_STREQ(f, "ab  ");
  EXPECT_EQ(wzstrip("ab  ", 4), 2);
  EXPECT_EQ(wzstrip("    ", 4), 0);
  EXPECT_EQ(wzstrip("ab", 2), 2);
  EXPECT_EQ(wzstlen(nullptr), 0);
  EXPECT_EQ(wzstlen("abcd"), 4);
}

TEST(Wzstr, IndexPositionVerify) {
  EXPECT_EQ(wzstndx("hello world", 11, "o w", 3), 4);
  EXPECT_EQ(wzstndx("hello world", 11, "wor", 0), 6); // pattern length from its terminator
  EXPECT_EQ(wzstndx("hello", 5, "xyz", 3), -1);
  EXPECT_EQ(wzstndx("hel", 3, "hello", 5), -1);
  EXPECT_EQ(wzstpos("abcabc", 6, 'c'), 2);
  EXPECT_EQ(wzstpos("abc", 3, 'z'), -1);
  EXPECT_EQ(wzstver("aabxa", 5, "ab", 2), 3);
  EXPECT_EQ(wzstver("abba", 4, "ab", 2), -1);
  EXPECT_EQ(vzatl(' ', "   ", 3, 0), 1);
  EXPECT_EQ(vzatl(' ', "  x", 3, 0), 0);
  EXPECT_EQ(vzatl(' ', "x", 0, 0), 1);
}

TEST(Wzstr, PaddedComparePositions) {
  EXPECT_EQ(wzstcom("abc", 3, "abc  ", 5), 0);
  EXPECT_EQ(wzstcom("abd", 3, "abc", 3), 3);
  EXPECT_EQ(wzstcom("abc", 3, "abd", 3), -3);
  EXPECT_EQ(wzstcom("ab", 2, "abc", 3), -3); // blank sorts before c
  EXPECT_EQ(wzstcom(nullptr, 0, "  ", 2), 0);
  EXPECT_EQ(wzstcom("a\x80", 2, "a\x20", 2), 2);
  EXPECT_EQ(wzstcmn("Intercept ", 10, "Intercept", 9), 0);
  EXPECT_EQ(wzstcmn("a", 1, "b", 1), -1);
  EXPECT_EQ(wzbcup("abc", "abe", 3), 'c' - 'e');
  EXPECT_EQ(wzbcup("abc", "abc", 3), 0);
}

TEST(Wzstr, IntegerField) {
  char f[8];
  EXPECT_EQ(wzclchr(42, f, 5), 0u);
  EXPECT_EQ(std::string(f, 5), "   42");
  EXPECT_EQ(wzclchr(-7, f, 2), 0u);
  EXPECT_EQ(std::string(f, 2), "-7");
  EXPECT_EQ(wzclchr(12345, f, 3), kWzFieldOverflow);
  EXPECT_EQ(std::string(f, 3), "***");
  EXPECT_EQ(wzclchr(-10, f, 2), kWzFieldOverflow);
  EXPECT_EQ(wzclchr(0, f, 1), 0u);
  EXPECT_EQ(f[0], '0');
}

TEST(Wzstr, KeyCompareAtOffset) {
  struct Rec {
    int32_t pad;
    uint32_t u;
    double d;
    char s[4];
  };
  Rec a{0, 5, 1.5, "ab\x80"}, b{0, 0xFFFFFFF0u, 2.5, "ab\x10"};
  EXPECT_EQ(wzbcoff(&a, &b, 0, offsetof(Rec, u)), -1); // unsigned 32-bit
  EXPECT_EQ(wzbcoff(&a, &b, -1, offsetof(Rec, d)), -1);
  EXPECT_EQ(wzbcoff(&b, &a, -1, offsetof(Rec, d)), 1);
  EXPECT_EQ(wzbcoff(&a, &b, 3, offsetof(Rec, s)), 1); // unsigned bytes
  EXPECT_EQ(wzbcoff(&a, &a, 3, offsetof(Rec, s)), 0);
  // Missing values sort before every number, even minus infinity.
  a.d = hostMissing();
  b.d = -HUGE_VAL;
  EXPECT_EQ(wzbcoff(&a, &b, -1, offsetof(Rec, d)), -1);
  EXPECT_EQ(wzbcoff(&b, &a, -1, offsetof(Rec, d)), 1);
  b.d = hostMissing();
  EXPECT_EQ(wzbcoff(&a, &b, -1, offsetof(Rec, d)), 0);
  // A special missing value (letter byte below the ordinary 0xFE) sorts after the ordinary.
  uint64_t special = 0xFFFFFD0000000000ull;
  std::memcpy(&b.d, &special, 8);
  EXPECT_EQ(wzbcoff(&a, &b, -1, offsetof(Rec, d)), -1);
  EXPECT_EQ(wzmis(b.d), 1);
  EXPECT_EQ(wzmis(0.0), 0);
  double v[2] = {1.0, hostMissing()};
  EXPECT_EQ(wzmisn(v, 1), 0);
  EXPECT_EQ(wzmisn(v, 2), 1);
  EXPECT_EQ(wzmisn(v, 0), 0);
  double fill[3] = {0, 0, 0};
  vzfdl(fill, 2, 7.0);
  EXPECT_EQ(fill[1], 7.0);
  EXPECT_EQ(fill[2], 0.0);
  vzfdl(fill, -1, 9.0);
  EXPECT_EQ(fill[0], 7.0);
}

TEST(Wzstr, Translate) {
  char out[5] = {};
  EXPECT_EQ(wztxxlt(2, "ab\xe9Z", out, 4), 0u);
  EXPECT_EQ(std::string(out, 4), "AB\xc9Z"); // e-acute has its Latin-1 capital
  EXPECT_EQ(wztxxlt(3, "AB\xc9z", out, 4), 0u);
  EXPECT_EQ(std::string(out, 4), "ab\xe9z");
  EXPECT_EQ(wztxxlt(4, "Q r", out, 3), 0u);
  EXPECT_EQ(std::string(out, 3), "Q r");
  EXPECT_EQ(wztxxlt(0, "xy", out, 2), 0u);
  EXPECT_EQ(std::string(out, 2), "xy");
  EXPECT_EQ(wztxxlt(5, "xy", out, 2), kWzBadMode);
  // y-diaeresis has its capital outside 8 bits and stays as it is.
  EXPECT_EQ(wztxxlt(2, "\xff", out, 1), 0u);
  EXPECT_EQ(out[0], '\xff');
}

} // namespace
