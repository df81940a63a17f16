// Conversions between 8-bit and 32-bit host characters: every byte round-trips, characters
// outside 8 bits (including code points at or above 0x80000000) become 26 with the
// substitution status, and a short output is cut with the truncation status.
#include "support/zchar.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Zchar, EveryByteRoundTrips) {
  char bytes[256];
  for (int i = 0; i < 256; ++i)
    bytes[i] = static_cast<char>(i);
  QkChar wide[256];
  int32_t n = -1;
  EXPECT_EQ(Compiler2QKChar(bytes, 256, wide, 256, &n), 0);
  EXPECT_EQ(n, 256);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(wide[i], static_cast<QkChar>(i)) << i; // Latin-1: the code point is the byte
  char back[256];
  char ascii[256];
  EXPECT_EQ(QKChar2Compiler(wide, 256, back, 256, &n), 0u);
  EXPECT_EQ(n, 256);
  EXPECT_EQ(QKChar2ASCII(wide, 256, ascii, 256, nullptr), 0u);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(back[i], bytes[i]) << i;
    EXPECT_EQ(ascii[i], bytes[i]) << i;
  }
}

TEST(Zchar, WideCharactersAreSubstituted) {
  const QkChar in[] = {U'a', 300, 0x10FFFF, 0x80000000u, 0xFFFFFFFFu, U'z'};
  char out[6];
  int32_t n = 0;
  for (auto fn : {QKChar2Compiler, QKChar2ASCII}) {
    EXPECT_EQ(fn(in, 6, out, 6, &n), kQkCharSubstituted);
    EXPECT_EQ(n, 6);
    EXPECT_EQ(out[0], 'a');
    for (int i = 1; i <= 4; ++i)
      EXPECT_EQ(out[i], 26) << i;
    EXPECT_EQ(out[5], 'z');
  }
}

TEST(Zchar, ShortOutputIsCut) {
  const QkChar in[] = {U'a', U'b', U'c', U'd'};
  char out[4] = {'#', '#', '#', '#'};
  int32_t n = 0;
  EXPECT_EQ(QKChar2Compiler(in, 4, out, 2, &n), kQkCharTruncated);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(out[1], 'b');
  EXPECT_EQ(out[2], '#');
  // A character above 255 within the copied part overrides the truncation status...
  const QkChar wide[] = {U'a', 300, U'c'};
  EXPECT_EQ(QKChar2Compiler(wide, 3, out, 2, &n), kQkCharSubstituted);
  // ...but one beyond the capacity is never looked at.
  const QkChar late[] = {U'a', U'b', 300};
  EXPECT_EQ(QKChar2Compiler(late, 3, out, 2, &n), kQkCharTruncated);

  QkChar w[2];
  EXPECT_EQ(Compiler2QKChar("xyz", 3, w, 2, &n), 1);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(w[1], U'y');
  EXPECT_EQ(Compiler2QKChar("xy", 2, w, 2, nullptr), 0);
}

} // namespace
