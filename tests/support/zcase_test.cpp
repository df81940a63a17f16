// Case mapping of 32-bit host strings: the reference rows of the tables, agreement with the
// C library on ASCII, round trips of every mapped pair, and the string routines.
#include "support/zcase.h"

#include <gtest/gtest.h>

#include <cctype>
#include <vector>

namespace {

std::vector<QkChar> T(const char32_t* s) {
  std::vector<QkChar> v;
  while (*s)
    v.push_back(*s++);
  return v;
}

TEST(Zcase, ReferenceRows) {
  EXPECT_EQ(skzLowerChar(U'A'), U'a');
  EXPECT_EQ(skzUpperChar(U'a'), U'A');
  EXPECT_EQ(skzLowerChar(0x0181), 0x0253u);
  EXPECT_EQ(skzLowerChar(0x0186), 0x0254u);
  EXPECT_EQ(skzLowerChar(0x018E), 0x0258u);
  EXPECT_EQ(skzUpperChar(0x00B5), 0x00B5u);
  EXPECT_EQ(skzUpperChar(0x0131), 0x0131u);
  EXPECT_EQ(skzUpperChar(0x0180), 0x0180u);
  EXPECT_EQ(skzUpperChar(0x0253), 0x0181u);
  EXPECT_EQ(skzUpperChar(0x00E9), 0x00C9u);
  EXPECT_EQ(skzUpperChar(0x03B1), 0x0391u);   // Greek alpha
  EXPECT_EQ(skzLowerChar(0x0410), 0x0430u);   // Cyrillic A
  EXPECT_EQ(skzLowerChar(0x10400), 0x10400u); // never mapped at or above 65536
  EXPECT_EQ(skzLowerChar(0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(skz_metatable[0], 0);            // the first block owns the first row
  EXPECT_EQ(skz_metatable[0x4E00 >> 7], -1); // ideographs have no case
}

TEST(Zcase, AsciiAgreesWithCLibrary) {
  for (int c = 0; c < 128; ++c) {
    EXPECT_EQ(skzLowerChar(static_cast<QkChar>(c)), static_cast<QkChar>(std::tolower(c))) << c;
    EXPECT_EQ(skzUpperChar(static_cast<QkChar>(c)), static_cast<QkChar>(std::toupper(c))) << c;
  }
}

TEST(Zcase, MappedPairsRoundTrip) {
  int mapped = 0;
  for (QkChar c = 0; c < 65536; ++c) {
    QkChar lo = skzLowerChar(c);
    unsigned code = static_cast<unsigned>(c);
    if (lo != c && c != 0x018E) {
      EXPECT_EQ(skzUpperChar(lo), c) << std::hex << code;
      ++mapped;
    }
    QkChar up = skzUpperChar(c);
    if (up != c && up != 0x018E) {
      EXPECT_EQ(skzLowerChar(up), c) << std::hex << code;
    }
  }
  EXPECT_GT(mapped, 500);
}

TEST(Zcase, StripAndCaseInPlace) {
  auto t = T(U"Ab\u0181  ");
  EXPECT_EQ(qkzstrp(t.data(), 5), 3);
  auto blank = T(U"   ");
  EXPECT_EQ(qkzstrp(blank.data(), 3), 0);
  qkzstlo(t.data(), 5);
  EXPECT_EQ(t, T(U"ab\u0253  "));
  qkzstup(t.data(), 5);
  EXPECT_EQ(t, T(U"AB\u0181  "));
}

TEST(Zcase, MinAndMaxOfCasePartners) {
  // Both directions, also where the partner sits in an auxiliary list.
  auto t = T(U"aB\u0181\u0253-");
  qkzstmin(t.data(), 5);
  EXPECT_EQ(t, T(U"AB\u0181\u0181-"));
  auto u = T(U"aB\u0181\u0253-");
  qkzstmax(u.data(), 5);
  EXPECT_EQ(u, T(U"ab\u0253\u0253-"));
}

TEST(Zcase, EqualityAndOrdering) {
  auto abc = T(U"abc"), ABC = T(U"ABC"), ab = T(U"ab"), abPad = T(U"ab  "), abd = T(U"abd");
  EXPECT_EQ(qkzseqn(abc.data(), 3, ABC.data(), 3), 1);
  EXPECT_EQ(qkzseqn(abc.data(), 3, ab.data(), 2), 0);
  EXPECT_EQ(qkzseqn(nullptr, 0, nullptr, 0), 1);
  EXPECT_EQ(qkzsncmp(abc.data(), 3, ABC.data(), 3), 1);
  EXPECT_EQ(qkzsncmp(ABC.data(), 3, abc.data(), 3), -1);
  EXPECT_EQ(qkzsncmp(ab.data(), 2, abPad.data(), 4), 0);
  EXPECT_EQ(qkzsncmp(ab.data(), 2, abc.data(), 3), -2);
  EXPECT_EQ(qkzsncmp(abc.data(), 3, ab.data(), 2), 2);
  EXPECT_EQ(qkzsncmp(abc.data(), 3, abd.data(), 3), -2);
  EXPECT_EQ(qkzsncmp(abd.data(), 3, ABC.data(), 3), 2);
}

} // namespace
