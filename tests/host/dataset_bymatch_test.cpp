// BY matching of a second data set: which BY variables it carries (xbylist), finding the
// group with the current group's BY values (xbysync), starting the groups again
// (xbyrwnd), and the data set queries the procedure uses (xoinfo).
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/supervisor.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

using namespace qrxhost;
namespace fs = std::filesystem;

namespace {

class ByMatching : public ::testing::Test {
protected:
  fs::path dir;
  HostDataSetServices* ds = nullptr;
  void SetUp() override {
    // A directory of its own: ctest runs these tests side by side.
    dir = fs::temp_directory_path() /
          ("qrx_bymatch_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
           std::to_string(static_cast<long>(::getpid())));
    fs::remove_all(dir);
    fs::create_directories(dir);
    setWorkDir(dir.string());
    ds = hostControlBlock()->groups->dataSet;
    std::ofstream(dir / "main.csv") << "g,h,x\n1,A,10\n1,A,11\n2,A,12\n2,B,13\n3,B,14\n";
    std::ofstream(dir / "other.csv") << "h,g,v\nA,1,100\nA,2,200\nA,2,201\nB,3,300\n";
    std::ofstream(dir / "nog.csv") << "h,v\nA,1\n";
    std::ofstream(dir / "charg.csv") << "g,h,v\nx,A,1\n";
  }
  void TearDown() override {
    endStepDataSets();
    fs::remove_all(dir);
    takeLog();
    resetStepState();
  }
  HostDataSet* open(const char* name) {
    return ds->xdsopen(name, static_cast<int32_t>(std::strlen(name)));
  }
  int32_t var(HostDataSet* d, const char* name) {
    int32_t n = 0;
    ds->xvfind(d, name, static_cast<int32_t>(std::strlen(name)), &n, 0);
    return n;
  }
  // The values of `v` in the current group of `d`.
  std::vector<double> rows(HostDataSet* d, int32_t v) {
    std::vector<double> out;
    while (ds->xobsnext(d) == 1)
      out.push_back(ds->xobsnum(d, v));
    return out;
  }
};

TEST_F(ByMatching, ListReportsAbsentAndMistypedVariables) {
  HostDataSet* main = open("main");
  int32_t byVars[2] = {var(main, "g"), var(main, "h")};
  ASSERT_EQ(ds->xbyset(main, byVars, nullptr, 2, 0), 0);
  EXPECT_EQ(ds->xbylist(main, open("other")), 0);
  EXPECT_EQ(ds->xbylist(main, open("nog")), 2);
  EXPECT_EQ(ds->xbylist(main, open("charg")), 1);
  // Without BY variables every data set matches.
  HostDataSet* plain = open("main");
  EXPECT_EQ(ds->xbylist(plain, open("nog")), 0);
}

TEST_F(ByMatching, SyncFindsTheGroupWithTheSameValues) {
  HostDataSet* main = open("main");
  HostDataSet* other = open("other");
  int32_t byVars[2] = {var(main, "g"), var(main, "h")};
  ASSERT_EQ(ds->xbyset(main, byVars, nullptr, 2, 0), 0);
  ASSERT_EQ(ds->xbylist(main, other), 0);
  HostByHandle* by = ds->xdsby(main);
  const int32_t v = var(other, "v");
  // Groups of main: (1,A) (2,A) (2,B) (3,B); other has (1,A) (2,A) (3,B).
  std::vector<std::vector<double>> expected = {{100}, {200, 201}, {}, {300}};
  std::vector<int32_t> found = {0, 0, 1, 0};
  for (size_t k = 0; k < expected.size(); ++k) {
    ASSERT_EQ(ds->xbynext(by), 1);
    EXPECT_EQ(ds->xbysync(by, other), found[k]) << k;
    EXPECT_EQ(rows(other, v), expected[k]) << k;
  }
  EXPECT_EQ(ds->xbynext(by), 0);
  // Rewinding starts the groups again from the first.
  EXPECT_EQ(ds->xbyrwnd(main, 70), 0);
  ASSERT_EQ(ds->xbynext(by), 1);
  EXPECT_EQ(rows(main, var(main, "x")), (std::vector<double>{10, 11}));
}

TEST_F(ByMatching, InformationItems) {
  HostDataSet* main = open("main");
  EXPECT_EQ(ds->xoinfo(main, 23, nullptr, 0), 1);
  char name[64];
  int32_t n = ds->xoinfo(main, 81, name, sizeof name);
  EXPECT_EQ(std::string(name, static_cast<size_t>(n)), "WORK.MAIN");
  EXPECT_EQ(ds->xoinfo(main, 5, name, sizeof name), -1);
  HostDataSet* out = ds->xdscreate("o", 1);
  EXPECT_EQ(ds->xoinfo(out, 23, nullptr, 0), 0);
}

} // namespace
