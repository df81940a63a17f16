// Observations a reader gives up (xobsdone): the host hands back the memory of their values
// when the handle is alone on its parsed copy, later values stay, a read of a given-up one is
// refused with an internal error, and a later open of the file parses it afresh. Column
// storage in mappings of its own gives pages back exactly.
#include "host/data/csvfile.h"
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/supervisor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

using namespace qrxhost;
namespace fs = std::filesystem;

namespace {

// The resident state of each system page of [p, p + bytes) (p page-aligned).
std::vector<bool> resident(const void* p, size_t bytes) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> v((bytes + page - 1) / page);
  EXPECT_EQ(::mincore(const_cast<void*>(p), bytes, v.data()), 0);
  std::vector<bool> out;
  for (unsigned char c : v)
    out.push_back((c & 1) != 0);
  return out;
}

constexpr int kRows = 40000; // 320,000 bytes a numeric column: in a mapping of its own

class GivenUp : public ::testing::Test {
protected:
  fs::path dir;
  HostDataSetServices* ds = nullptr;
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("qrx_giveup_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    setWorkDir(dir.string());
    ds = hostControlBlock()->groups->dataSet;
    resetStepState();
    takeLog();
    std::ofstream f(dir / "big.csv");
    f << "g,x,s\n";
    for (int i = 0; i < kRows; ++i)
      f << (i < kRows / 2 ? 1 : 2) << "," << i * 0.5 << ",v" << i << "\n";
  }
  void TearDown() override {
    endStepDataSets();
    clearLibraries();
    fs::remove_all(dir);
    takeLog();
    resetStepState();
  }
  HostDataSet* open() { return ds->xdsopen("big", 3); }
  // Reads observations until `count` are read or the data set ends; false at a failure.
  bool readOn(HostDataSet* d, int count) {
    for (int k = 0; k < count; ++k)
      if (ds->xobsnext(d) != 1)
        return false;
    return true;
  }
  // The current observation's x and s as "x:s".
  std::string current(HostDataSet* d) {
    const char* text = nullptr;
    const int32_t n = ds->xobschar(d, 3, &text);
    return std::to_string(ds->xobsnum(d, 2)) + ":" + std::string(text, static_cast<size_t>(n));
  }
  std::vector<LogRecord> errors() {
    std::vector<LogRecord> out;
    for (auto& r : takeLog())
      if (r.severity == HostSeverity::Error)
        out.push_back(r);
    return out;
  }
};

} // namespace

TEST(ColumnMemory, DiscardedPagesLeaveMemoryAndLaterValuesStay) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t n = 1 << 20, cut = 500000;
  ColumnBuffer<double> big;
  big.allocate(n, ColumnStorage::OwnPages);
  ASSERT_EQ(reinterpret_cast<uintptr_t>(big.data()) % page, 0u);
  for (size_t i = 0; i < n; ++i)
    big[i] = static_cast<double>(i) + 0.25;
  big.discardFront(cut);
  const std::vector<bool> r = resident(big.data(), n * sizeof(double));
  const size_t gone = cut * sizeof(double) / page; // whole pages below value `cut`
  for (size_t p = 0; p < r.size(); ++p)
    ASSERT_EQ(r[p], p >= gone) << "page " << p;
  for (size_t i = cut - cut % (page / sizeof(double)); i < n; ++i)
    ASSERT_EQ(big[i], static_cast<double>(i) + 0.25) << i;
  // A small array comes from the heap and gives nothing back.
  ColumnBuffer<double> small;
  small.allocate(100, ColumnStorage::OwnPages);
  for (size_t i = 0; i < 100; ++i)
    small[i] = static_cast<double>(i);
  small.discardFront(100);
  for (size_t i = 0; i < 100; ++i)
    EXPECT_EQ(small[i], static_cast<double>(i));
}

// The values after the point stay; going back is refused once with message 610/14 naming the
// observation, also for block reads; a new open of the file reads every value again.
TEST_F(GivenUp, LaterValuesStayAndGoingBackIsRefused) {
  HostDataSet* d = open();
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(readOn(d, 30000));
  EXPECT_EQ(ds->xobsdone(d, 30001), 0); // observations 1 .. 30000
  ASSERT_TRUE(readOn(d, 1));
  EXPECT_EQ(current(d), std::to_string(30000 * 0.5) + ":v30000");
  HostReadVector* v = nullptr;
  ASSERT_EQ(ds->xvgeti(d, 1, &v), 0);
  ASSERT_EQ(ds->xvgetd(v, 2, 0, 0, 8, 8), 0);
  ASSERT_EQ(ds->xvgete(v), 0);
  std::vector<double> block(100);
  ASSERT_EQ(ds->xyvgetn(v, kRows - 99, 100, block.data(), 8), 0);
  for (int k = 0; k < 100; ++k)
    EXPECT_EQ(block[static_cast<size_t>(k)], (kRows - 100 + k) * 0.5);
  EXPECT_TRUE(errors().empty());

  EXPECT_LT(ds->xyvgetn(v, 29990, 20, block.data(), 8), 0);
  ASSERT_EQ(ds->xopnt(d, 1), 0);
  EXPECT_LT(ds->xoget(d), 1);
  std::vector<LogRecord> e = errors();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].set, 610);
  EXPECT_EQ(e[0].number, 14);
  EXPECT_NE(e[0].text.find("29990"), std::string::npos) << e[0].text;
  EXPECT_GE(stepReturnCode(), 1012);
  ds->xvgett(v);

  HostDataSet* again = open();
  ASSERT_NE(again, nullptr);
  ASSERT_TRUE(readOn(again, 1));
  EXPECT_EQ(current(again), std::to_string(0.0) + ":v0");
  EXPECT_EQ(parsedCopyCount(), 1);
}

// Two handles on one parsed copy (DATA= and TESTDATA= on the same file): giving up on one
// frees nothing, and both read every observation again.
TEST_F(GivenUp, ASharedCopyKeepsEveryValue) {
  HostDataSet* a = open();
  HostDataSet* b = open();
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(readOn(a, kRows));
  EXPECT_EQ(ds->xobsdone(a, kRows + 1), 0);
  ASSERT_EQ(ds->xbyrewind(ds->xdsby(a)), 0);
  ASSERT_TRUE(readOn(a, 1));
  EXPECT_EQ(current(a), std::to_string(0.0) + ":v0");
  ASSERT_TRUE(readOn(b, 2));
  EXPECT_EQ(current(b), std::to_string(0.5) + ":v1");
  EXPECT_TRUE(errors().empty());
}

// A file read window by window holds only a window: giving up changes nothing there.
TEST_F(GivenUp, AFileReadInWindowsIsLeftAlone) {
  setHostOption("CSVHOLD", "16K");
  HostDataSet* d = open();
  setHostOption("CSVHOLD", "");
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(readOn(d, 30000));
  EXPECT_EQ(ds->xobsdone(d, 30001), 0);
  ASSERT_EQ(ds->xbyrewind(ds->xdsby(d)), 0);
  ASSERT_TRUE(readOn(d, 1));
  EXPECT_EQ(current(d), std::to_string(0.0) + ":v0");
  EXPECT_TRUE(errors().empty());
}

// BY groups: the first group given up whole, its BY line is still known, and the second group
// reads on.
TEST_F(GivenUp, TheByLineOfAGroupGivenUpStaysKnown) {
  HostDataSet* d = open();
  ASSERT_NE(d, nullptr);
  const int32_t g = 1;
  ASSERT_EQ(ds->xbyset(d, &g, nullptr, 1, 0), 0);
  HostByHandle* by = ds->xdsby(d);
  ASSERT_EQ(ds->xbynext(by), 1);
  ASSERT_TRUE(readOn(d, kRows / 2));
  EXPECT_EQ(ds->xobsnext(d), 0);
  EXPECT_EQ(ds->xobsdone(d, kRows / 2 + 1), 0);
  char line[64];
  ASSERT_GT(ds->xbyline(by, line, sizeof line), 0);
  EXPECT_STREQ(line, "g=1");
  ASSERT_EQ(ds->xbynext(by), 1);
  ASSERT_GT(ds->xbyline(by, line, sizeof line), 0);
  EXPECT_STREQ(line, "g=2");
  ASSERT_TRUE(readOn(d, kRows / 2));
  EXPECT_EQ(current(d), std::to_string((kRows - 1) * 0.5) + ":v" + std::to_string(kRows - 1));
  EXPECT_TRUE(errors().empty());
}
