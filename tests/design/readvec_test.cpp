// The host's read vectors as the observation source uses them: values at declared offsets,
// formatted values in the default width-12 format cut or padded to the declared length, a
// declaration beyond the vector's capacity refused; and the variable-name rewriting.
#include "designfixture.h"

#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <cstring>

using designtest::DesignFixture;

namespace {

TEST(ReadVector, ValuesAndFormattedValuesLandAtTheirOffsets) {
  DesignFixture f;
  f.data("n,s\n1234567.125,abc\n.,\n");
  HostReadVector* v = nullptr;
  ASSERT_EQ(xvgeti(f.ds, 3, &v), 0);
  ASSERT_EQ(xvgetd(v, 1, 0, 0, 8, 8), 0);  // n as a double at 0
  ASSERT_EQ(xvgetd(v, 1, 8, 0, 6, 4), 0);  // n formatted, cut to 6 bytes, at 8
  ASSERT_EQ(xvgetd(v, 2, 14, 0, 5, 8), 0); // s padded to 5, at 14
  EXPECT_LT(xvgetd(v, 2, 19, 0, 5, 4), 0); // a fourth entry exceeds the capacity
  ASSERT_EQ(xvgete(v), 0);
  char record[19];
  ASSERT_EQ(xobsnext(f.ds), 1);
  ASSERT_EQ(xyvget(v, record), 0);
  double n;
  std::memcpy(&n, record, 8);
  EXPECT_EQ(n, 1234567.125);
  // BEST12. writes 1234567.125 in full; the declared 6 bytes keep its start.
  EXPECT_EQ(std::string(record + 8, 6), "123456");
  EXPECT_EQ(std::string(record + 14, 5), "abc  ");
  ASSERT_EQ(xobsnext(f.ds), 1);
  ASSERT_EQ(xyvget(v, record), 0);
  std::memcpy(&n, record, 8);
  EXPECT_TRUE(isHostMissing(n));
  EXPECT_EQ(std::string(record + 8, 6), ".     ");
  EXPECT_EQ(std::string(record + 14, 5), "     ");
  xvgett(v);
}

TEST(ReadVector, NamesAreRewrittenIntoValidNames) {
  DesignFixture f; // installs the host whose zname service is under test
  char text[12];
  std::memcpy(text, "A*B 1 x  ", 9);
  std::memset(text + 9, ' ', 3);
  zname(0, text, 12);
  EXPECT_EQ(std::string(text, 12), "A_B_1_x     ");
  std::memcpy(text, "1st         ", 12);
  zname(0, text, 12);
  EXPECT_EQ(std::string(text, 12), "_1st        ");
}

} // namespace
