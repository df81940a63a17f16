// Data sets through the service group: opening by name, variable descriptions, reads,
// BY groups (runs, NOTSORTED, the unsorted error), rewind, output data sets.
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/supervisor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace qrxhost;
namespace fs = std::filesystem;

namespace {

class DataSets : public ::testing::Test {
protected:
  fs::path dir;
  HostDataSetServices* ds = nullptr;
  void SetUp() override {
    dir =
        fs::temp_directory_path() /
        ("qrx_ds_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir / "lib");
    setWorkDir(dir.string());
    setLibrary("mylib", (dir / "lib").string());
    ds = hostControlBlock()->groups->dataSet;
    resetStepState();
    takeLog();
  }
  void TearDown() override {
    endStepDataSets();
    clearLibraries();
    fs::remove_all(dir);
    takeLog();
    resetStepState();
  }
  void write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
  HostDataSet* open(const std::string& name) {
    return ds->xdsopen(name.c_str(), static_cast<int32_t>(name.size()));
  }
  int32_t var(HostDataSet* d, const char* name) {
    int32_t n = -1;
    ds->xvfind(d, name, static_cast<int32_t>(std::strlen(name)), &n, 0);
    return n;
  }
  // The values of numeric variable `v` in each BY group, as "1 2|3|..."
  std::string groups(HostDataSet* d, int32_t v) {
    std::string out;
    HostByHandle* by = ds->xdsby(d);
    while (ds->xbynext(by)) {
      if (!out.empty())
        out += "|";
      bool first = true;
      while (ds->xobsnext(d) == 1) {
        out += (first ? "" : " ") + std::to_string(static_cast<int>(ds->xobsnum(d, v)));
        first = false;
      }
    }
    return out;
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

TEST_F(DataSets, OpensByNameLibraryAndPathAndDescribesVariables) {
  write(dir / "one.csv", "A,Name\n1,x\n2,yyy\n");
  write(dir / "lib" / "Two.csv", "b\n5\n");
  write(dir / "three file.csv", "c\n7\n");
  HostDataSet* a = open("ONE");
  HostDataSet* b = open("mylib.two"); // a file name differing in case is found
  HostDataSet* c = open("'" + (dir / "three file.csv").string() + "'");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(ds->xdsnvar(a), 2);
  EXPECT_EQ(ds->xdsnobs(a), 2);
  EXPECT_EQ(var(a, "name"), 2);
  EXPECT_EQ(var(a, "missing"), 0);
  HostVariable* v = nullptr;
  ASSERT_EQ(ds->xvname(a, 2, &v), 0);
  EXPECT_EQ(std::string(v->name, static_cast<size_t>(v->nameLength)), "Name");
  EXPECT_EQ(v->type, 2);
  EXPECT_EQ(v->length, 3);
  EXPECT_EQ(v->number, 2);
  ASSERT_EQ(ds->xvname(a, 1, &v), 0);
  EXPECT_EQ(v->type, 1);
  EXPECT_EQ(v->length, 8);
  EXPECT_NE(ds->xvname(a, 3, &v), 0);
  EXPECT_EQ(ds->xdsnobs(b), 1);
  EXPECT_EQ(ds->xdsnobs(c), 1);
  // one parsed copy per file, shared by a second open
  HostDataSet* a2 = open("one");
  ASSERT_NE(a2, nullptr);
  EXPECT_EQ(parsedCopyCount(), 3);
  EXPECT_EQ(openDataSetCount(), 4);
  ds->xdsclose(a2);
  EXPECT_EQ(openDataSetCount(), 3);
  endStepDataSets();
  EXPECT_EQ(openDataSetCount(), 0);
  EXPECT_EQ(parsedCopyCount(), 0);
  EXPECT_TRUE(errors().empty());
}

TEST_F(DataSets, NotFoundUnassignedLibraryAndMalformedFilesAreMessages) {
  write(dir / "bad.csv", "a,b\n1,2\n3\n");
  EXPECT_EQ(open("nosuch"), nullptr);
  EXPECT_EQ(open("nolib.x"), nullptr);
  EXPECT_EQ(open("bad"), nullptr);
  EXPECT_EQ(open("1abc"), nullptr);
  std::vector<LogRecord> e = errors();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].set, 610);
  EXPECT_EQ(e[0].number, 1);
  EXPECT_NE(e[0].text.find("nosuch.csv"), std::string::npos);
  EXPECT_EQ(e[1].number, 4);
  EXPECT_EQ(e[2].number, 3);
  EXPECT_NE(e[2].text.find("bad.csv"), std::string::npos);
  EXPECT_EQ(e[2].values.at(1).i, 3); // the line of the ragged row
  EXPECT_EQ(e[3].number, 8);
  EXPECT_GE(stepReturnCode(), 1012);
}

TEST_F(DataSets, ByGroupsAreRunsOfEqualValues) {
  write(dir / "g.csv", "g,h,x\n1,a,10\n1,a,11\n1,b,12\n2,a,13\n,a,14\n");
  HostDataSet* d = open("g");
  ASSERT_NE(d, nullptr);
  int32_t x = var(d, "x");
  // no BY variables: the whole data set is one group
  EXPECT_EQ(groups(d, x), "10 11 12 13 14");
  // BY h alone is not sorted
  int32_t h = var(d, "h");
  uint8_t asc = 0;
  EXPECT_LT(ds->xbyset(d, &h, &asc, 1, 0), 0);
  auto e = errors();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].number, 6);
  EXPECT_EQ(e[0].values.at(2).i, 4); // line 4 (h=b) comes before line 5 (h=a)
  EXPECT_EQ(e[0].values.at(3).i, 5);
  // with NOTSORTED the runs are the groups
  EXPECT_EQ(ds->xbyset(d, &h, &asc, 1, 1), 0);
  EXPECT_EQ(groups(d, x), "10 11|12|13 14");
  // BY g h: a missing g sorts first, so the data are not sorted ascending ...
  int32_t gh[] = {var(d, "g"), h};
  uint8_t ascAsc[] = {0, 0};
  EXPECT_LT(ds->xbyset(d, gh, ascAsc, 2, 0), 0);
  errors();
  EXPECT_EQ(ds->xbyset(d, gh, ascAsc, 2, 1), 0);
  EXPECT_EQ(groups(d, x), "10 11|12|13|14");
  char line[64];
  HostByHandle* by = ds->xdsby(d);
  ASSERT_EQ(ds->xbyset(d, gh, ascAsc, 2, 1), 0);
  ASSERT_EQ(ds->xbynext(by), 1);
  EXPECT_EQ(ds->xbyline(by, line, sizeof line), 7);
  EXPECT_STREQ(line, "g=1 h=a");
  // a variable given twice
  int32_t twice[] = {h, h};
  EXPECT_LT(ds->xbyset(d, twice, ascAsc, 2, 1), 0);
  EXPECT_EQ(errors().at(0).number, 11);
}

TEST_F(DataSets, DescendingOrderAndRewindWithinAGroup) {
  write(dir / "d.csv", "g,x\n3,1\n3,2\n1,3\n");
  HostDataSet* d = open("d");
  int32_t g = var(d, "g"), x = var(d, "x");
  uint8_t desc = 1;
  ASSERT_EQ(ds->xbyset(d, &g, &desc, 1, 0), 0);
  EXPECT_TRUE(errors().empty());
  HostByHandle* by = ds->xdsby(d);
  ASSERT_EQ(ds->xbynext(by), 1);
  ASSERT_EQ(ds->xobsnext(d), 1);
  ASSERT_EQ(ds->xobsnext(d), 1);
  EXPECT_EQ(ds->xobsnum(d, x), 2.0);
  EXPECT_EQ(ds->xobsnext(d), 0); // end of the group, not of the data set
  ds->xbyrewind(by);
  ASSERT_EQ(ds->xobsnext(d), 1);
  EXPECT_EQ(ds->xobsnum(d, x), 1.0);
  ASSERT_EQ(ds->xbynext(by), 1);
  ASSERT_EQ(ds->xobsnext(d), 1);
  EXPECT_EQ(ds->xobsnum(d, x), 3.0);
  EXPECT_EQ(ds->xbynext(by), 0);
  EXPECT_EQ(ds->xbynext(by), 0);
}

TEST_F(DataSets, EmptyDataSetHasNoGroup) {
  write(dir / "e.csv", "a,b\n");
  HostDataSet* d = open("e");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(ds->xdsnobs(d), 0);
  EXPECT_EQ(ds->xbynext(ds->xdsby(d)), 0);
  EXPECT_EQ(ds->xbynext(nullptr), 0);
}

TEST_F(DataSets, CharacterValuesAndOutputDataSets) {
  HostDataSet* o = ds->xdscreate("mylib.Out", 9);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(ds->xdsdefvar(o, "x", 1, 1, 8), 1);
  EXPECT_EQ(ds->xdsdefvar(o, "s", 1, 2, 10), 2);
  EXPECT_LT(ds->xdsdefvar(o, "X", 1, 1, 8), 0); // defined twice
  ASSERT_EQ(ds->xdsputn(o, 1, 0.1), 0);
  ASSERT_EQ(ds->xdsputc(o, 2, "a,b  ", 5), 0);
  ASSERT_EQ(ds->xdsappend(o), 0);
  ASSERT_EQ(ds->xdsappend(o), 0);       // values went back to missing
  EXPECT_LT(ds->xdsputn(o, 2, 1.0), 0); // wrong type
  ds->xvputt(o);
  commitStepOutputs(true);
  std::ifstream f(dir / "lib" / "out.csv");
  std::stringstream text;
  text << f.rdbuf();
  EXPECT_EQ(text.str(), "x,s\n0.1,\"a,b\"\n,\n");
  // read back through the services
  HostDataSet* d = open("mylib.out");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(ds->xbynext(ds->xdsby(d)), 1);
  ASSERT_EQ(ds->xobsnext(d), 1);
  const char* s = nullptr;
  EXPECT_EQ(ds->xobschar(d, 2, &s), 3);
  EXPECT_EQ(std::string(s, 3), "a,b");
  EXPECT_TRUE(isHostMissing(ds->xobsnum(d, 2))); // a character variable read as a number
  ASSERT_EQ(ds->xobsnext(d), 1);
  EXPECT_TRUE(isHostMissing(ds->xobsnum(d, 1)));
  EXPECT_EQ(openDataSetCount(), 1); // the output was freed when it was ended
}

TEST_F(DataSets, UnfinishedOutputIsNotWritten) {
  HostDataSet* o = ds->xdscreate("partial", 7);
  ASSERT_NE(o, nullptr);
  ds->xdsdefvar(o, "x", 1, 1, 8);
  ds->xdsappend(o);
  endStepDataSets();
  EXPECT_FALSE(fs::exists(dir / "partial.csv"));
  EXPECT_FALSE(fs::exists(dir / "partial.csv.tmp"));
}

// An input read window by window (CSVHOLD below its values) whose file another process
// shortens while the step reads it: the read that needs the vanished text ends with -1 and
// one numbered error naming the file, and the step's return code is raised.
TEST_F(DataSets, FileShortenedWhileReadInWindowsIsAnError) {
  std::string text = "a,b\n";
  for (int i = 0; i < 5000; ++i)
    text += std::to_string(i) + "," + std::to_string(i % 7) + "\n";
  write(dir / "big.csv", text);
  setHostOption("CSVHOLD", "4K");
  HostDataSet* d = open("big");
  setHostOption("CSVHOLD", "");
  ASSERT_NE(d, nullptr);
  const int32_t a = var(d, "a");
  ASSERT_EQ(ds->xobsnext(d), 1);
  EXPECT_EQ(ds->xobsnum(d, a), 0.0);
  fs::resize_file(dir / "big.csv", 0);
  int32_t got = 1;
  int64_t read = 1;
  while ((got = ds->xobsnext(d)) == 1)
    ++read;
  EXPECT_EQ(got, -1);
  EXPECT_LT(read, 5000);
  std::vector<LogRecord> e = errors();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].set, 610);
  EXPECT_EQ(e[0].number, 2);
  EXPECT_NE(e[0].text.find("big.csv"), std::string::npos) << e[0].text;
  EXPECT_NE(e[0].text.find("changed"), std::string::npos) << e[0].text;
  EXPECT_GE(stepReturnCode(), 1012);
}
