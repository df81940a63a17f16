// The host's read vectors as the observation source uses them: values at declared offsets,
// formatted values in the default width-12 format cut or padded to the declared length, a
// declaration beyond the vector's capacity refused; and the variable-name rewriting.
#include "designfixture.h"

#include "host/supervisor.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

// A block read gives, record for record, what the per-observation reads give, including
// formatted values and missing ones; it leaves the read position alone, and xobsspan and
// xobsskip move through a BY group as xobsnext does. The same holds for a file held whole and
// for one read in windows of a row or two (CSVHOLD), where a block spans several windows.
class BlockReads : public ::testing::TestWithParam<const char*> {
protected:
  void SetUp() override { qrxhost::setHostOption("CSVHOLD", GetParam()); }
  void TearDown() override { qrxhost::setHostOption("CSVHOLD", ""); }
};

INSTANTIATE_TEST_SUITE_P(ReadVector, BlockReads, ::testing::Values("", "48"));

TEST_P(BlockReads, ABlockReadGivesTheRecordsOfTheObservationReads) {
  DesignFixture f;
  f.data("g,n,s\n1,1.5,abc\n1,.,\n1,-20,xy\n2,1234567.125,long text\n2,7,q\n");
  int32_t g = 1;
  ASSERT_EQ(xbyset(f.ds, &g, nullptr, 1, 0), 0);
  HostReadVector* v = nullptr;
  ASSERT_EQ(xvgeti(f.ds, 4, &v), 0);
  ASSERT_EQ(xvgetd(v, 2, 0, 0, 8, 8), 0);  // n
  ASSERT_EQ(xvgetd(v, 2, 8, 0, 7, 4), 0);  // n formatted in 7 bytes
  ASSERT_EQ(xvgetd(v, 3, 15, 0, 4, 8), 0); // s in 4 bytes
  ASSERT_EQ(xvgetd(v, 3, 19, 0, 6, 4), 0); // s formatted in 6 bytes
  ASSERT_EQ(xvgete(v), 0);
  constexpr int kLength = 25;
  HostByHandle* by = xdsby(f.ds);
  std::vector<std::string> one, block;
  int64_t groupStart = 1;
  while (xbynext(by) == 1) {
    int64_t next = 0, count = 0;
    ASSERT_EQ(xobsspan(f.ds, &next, &count), 0);
    EXPECT_EQ(next, groupStart);
    std::vector<char> records(static_cast<size_t>(count) * kLength, '#');
    ASSERT_EQ(xyvgetn(v, next, static_cast<int32_t>(count), records.data(), kLength), 0);
    for (int64_t k = 0; k < count; ++k)
      block.emplace_back(records.data() + k * kLength, kLength);
    char record[kLength];
    while (xobsnext(f.ds) == 1) {
      ASSERT_EQ(xyvget(v, record), 0);
      one.emplace_back(record, kLength);
    }
    groupStart = next + count;
  }
  ASSERT_EQ(one.size(), 5u);
  EXPECT_EQ(block, one);
  EXPECT_EQ(one[0].substr(8, 7), "1.5    ");
  EXPECT_EQ(one[1].substr(8, 7), ".      ");
  EXPECT_EQ(one[3].substr(19, 6), "long t");
  // Beyond the data set, or before its first observation: refused.
  char spare[2 * kLength];
  EXPECT_LT(xyvgetn(v, 5, 2, spare, kLength), 0);
  EXPECT_LT(xyvgetn(v, 0, 1, spare, kLength), 0);

  // Skipping within the first group: the last observation passed is current.
  ASSERT_EQ(xbyrwnd(f.ds, 70), 0);
  ASSERT_EQ(xbynext(by), 1);
  EXPECT_EQ(xobsskip(f.ds, 2), 2);
  EXPECT_TRUE(isHostMissing(xobsnum(f.ds, 2)));
  int64_t next = 0, count = 0;
  ASSERT_EQ(xobsspan(f.ds, &next, &count), 0);
  EXPECT_EQ(next, 3);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(xobsskip(f.ds, 5), 1); // the group ends: none is current
  EXPECT_TRUE(isHostMissing(xobsnum(f.ds, 2)));
  EXPECT_EQ(xobsnext(f.ds), 0);
  ASSERT_EQ(xbynext(by), 1);
  ASSERT_EQ(xobsnext(f.ds), 1);
  EXPECT_EQ(xobsnum(f.ds, 2), 1234567.125);
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
