// Data sets through the service group: opening by name, variable descriptions, reads,
// BY groups (runs, NOTSORTED, the unsorted error), rewind, output data sets, and observations
// a reader gives up (xobsdone): their memory handed back when the handle is alone on its
// parsed copy, later values kept, a read of a given-up one refused.
#include "host/data/csvfile.h"
#include "host/data/dataset.h"
#include "host/data/dsoptions.h"
#include "host/data/staging.h"
#include "host/hostapi.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/supervisor.h"
#include "msgid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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
        ("qrx_ds_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
         "_" + std::to_string(static_cast<long>(::getpid())));
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
        out.append(first ? "" : " ").append(std::to_string(static_cast<int>(ds->xobsnum(d, v))));
        first = false;
      }
    }
    return out;
  }
  // Writes big.csv (g 1 in the first half and 2 after, x = i / 2, s = "v" i) and opens it.
  HostDataSet* openBigFile(int rows) {
    std::ostringstream f;
    f << "g,x,s\n";
    for (int i = 0; i < rows; ++i)
      f << (i < rows / 2 ? 1 : 2) << "," << i * 0.5 << ",v" << i << "\n";
    write(dir / "big.csv", f.str());
    return open("big");
  }
  // The values of numeric variable `v` read in order, as "1 2 3".
  std::string values(HostDataSet* d, int32_t v) {
    std::string out;
    EXPECT_EQ(ds->xbynext(ds->xdsby(d)), 1);
    while (ds->xobsnext(d) == 1)
      out.append(out.empty() ? "" : " ")
          .append(std::to_string(static_cast<int>(ds->xobsnum(d, v))));
    return out;
  }
  std::string readFile(const fs::path& p) {
    std::ifstream f(p);
    std::stringstream text;
    text << f.rdbuf();
    return text.str();
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
  HostDataSet* c = open(std::string("'").append((dir / "three file.csv").string()).append("'"));
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
  EXPECT_EQ(MsgId::of(e[0]), qrxhost::DataMsg::DataSetNotFound);
  EXPECT_NE(e[0].text.find("nosuch.csv"), std::string::npos);
  EXPECT_EQ(MsgId::of(e[1]), qrxhost::DataMsg::LibraryNotAssigned);
  EXPECT_EQ(MsgId::of(e[2]), qrxhost::DataMsg::FileLineError);
  EXPECT_NE(e[2].text.find("bad.csv"), std::string::npos);
  EXPECT_EQ(e[2].values.at(1).i, 3); // the line of the ragged row
  EXPECT_EQ(MsgId::of(e[3]), qrxhost::DataMsg::BadDataSetName);
  EXPECT_GE(stepReturnCode(), 1012);
}

// A data set whose file is a device or a pipe, directly or through a link, is refused as
// what it is, not as missing, and the refusal names the data set and the file; a link that
// leads nowhere is missing.
TEST_F(DataSets, SpecialFilesAreRefusedAsWhatTheyAre) {
  fs::create_symlink("/dev/null", dir / "nul.csv");
  ASSERT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
  fs::create_symlink(dir / "gone.csv", dir / "dangling.csv");
  EXPECT_EQ(open("nul"), nullptr);
  EXPECT_EQ(open("pipe"), nullptr); // refused before it is opened: no wait for a writer
  EXPECT_EQ(open("dangling"), nullptr);
  std::vector<LogRecord> e = errors();
  ASSERT_EQ(e.size(), 3u);
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(MsgId::of(e[k]), qrxhost::DataMsg::DataSetNotRegularFile) << k;
    ASSERT_EQ(e[k].values.size(), 3u) << k;
    EXPECT_EQ(e[k].values[0].s, k == 0 ? "WORK.NUL" : "WORK.PIPE");
  }
  EXPECT_NE(e[0].values[1].s.find("/dev/null"), std::string::npos) << e[0].values[1].s;
  EXPECT_EQ(e[0].values[2].s, "a character device");
  EXPECT_NE(e[1].values[1].s.find("pipe.csv"), std::string::npos) << e[1].values[1].s;
  EXPECT_EQ(e[1].values[2].s, "a named pipe (FIFO)");
  EXPECT_EQ(MsgId::of(e[2]), qrxhost::DataMsg::DataSetNotFound);
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
  EXPECT_EQ(MsgId::of(e[0]), qrxhost::DataMsg::NotSortedByGroups);
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
  EXPECT_EQ(MsgId::of(errors().at(0)), qrxhost::DataMsg::DuplicateByVariable);
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
// shortens while the step reads it: the read that needs the vanished text ends the step (the
// host's exit) after one numbered error naming the file, and the step's return code is raised.
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
  // The rows not read are not the end of the data: the step ends at the first of them.
  int64_t read = 1;
  int exitCode = 0;
  try {
    while (ds->xobsnext(d) == 1)
      ++read;
  } catch (const qrxhost::HostExit& e) {
    exitCode = e.code;
  }
  EXPECT_EQ(exitCode, codeOf(StepRc::Error));
  EXPECT_LT(read, 5000);
  std::vector<LogRecord> e = errors();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(MsgId::of(e[0]), qrxhost::DataMsg::FileUnreadable);
  EXPECT_NE(e[0].text.find("big.csv"), std::string::npos) << e[0].text;
  EXPECT_NE(e[0].text.find("changed"), std::string::npos) << e[0].text;
  EXPECT_GE(stepReturnCode(), 1012);
}

// ---- observations given up (xobsdone) ----------------------------------------------------

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

// Reads observations until `count` are read; false when the data set ends or fails first.
bool readOn(HostDataSetServices* ds, HostDataSet* d, int count) {
  for (int k = 0; k < count; ++k)
    if (ds->xobsnext(d) != 1)
      return false;
  return true;
}

// The current observation's x and s as "x:s".
std::string current(HostDataSetServices* ds, HostDataSet* d) {
  const char* text = nullptr;
  const int32_t n = ds->xobschar(d, 3, &text);
  return std::to_string(ds->xobsnum(d, 2)) + ":" + std::string(text, static_cast<size_t>(n));
}

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
TEST_F(DataSets, GivenUpObservationsKeepLaterValuesAndRefuseGoingBack) {
  HostDataSet* d = openBigFile(kRows);
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(readOn(ds, d, 30000));
  EXPECT_EQ(ds->xobsdone(d, 30001), 0); // observations 1 .. 30000
  ASSERT_TRUE(readOn(ds, d, 1));
  EXPECT_EQ(current(ds, d), std::to_string(30000 * 0.5) + ":v30000");
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
  EXPECT_EQ(MsgId::of(e[0]), qrxhost::DataMsg::ReleasedObservationRead);
  EXPECT_NE(e[0].text.find("29990"), std::string::npos) << e[0].text;
  EXPECT_GE(stepReturnCode(), 1012);
  ds->xvgett(v);

  HostDataSet* again = openBigFile(kRows);
  ASSERT_NE(again, nullptr);
  ASSERT_TRUE(readOn(ds, again, 1));
  EXPECT_EQ(current(ds, again), std::to_string(0.0) + ":v0");
  EXPECT_EQ(parsedCopyCount(), 1);
}

// Two handles on one parsed copy (DATA= and TESTDATA= on the same file): giving up on one
// frees nothing, and both read every observation again.
TEST_F(DataSets, GivenUpOnASharedCopyKeepsEveryValue) {
  HostDataSet* a = openBigFile(kRows);
  HostDataSet* b = open("big");
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(readOn(ds, a, kRows));
  EXPECT_EQ(ds->xobsdone(a, kRows + 1), 0);
  ASSERT_EQ(ds->xbyrewind(ds->xdsby(a)), 0);
  ASSERT_TRUE(readOn(ds, a, 1));
  EXPECT_EQ(current(ds, a), std::to_string(0.0) + ":v0");
  ASSERT_TRUE(readOn(ds, b, 2));
  EXPECT_EQ(current(ds, b), std::to_string(0.5) + ":v1");
  EXPECT_TRUE(errors().empty());
}

// A file read window by window holds only a window: giving up changes nothing there.
TEST_F(DataSets, GivenUpOnAFileReadInWindowsChangesNothing) {
  setHostOption("CSVHOLD", "16K");
  HostDataSet* d = openBigFile(kRows);
  setHostOption("CSVHOLD", "");
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(readOn(ds, d, 30000));
  EXPECT_EQ(ds->xobsdone(d, 30001), 0);
  ASSERT_EQ(ds->xbyrewind(ds->xdsby(d)), 0);
  ASSERT_TRUE(readOn(ds, d, 1));
  EXPECT_EQ(current(ds, d), std::to_string(0.0) + ":v0");
  EXPECT_TRUE(errors().empty());
}

// BY groups: the first group given up whole, its BY line is still known, and the second group
// reads on.
TEST_F(DataSets, GivenUpGroupKeepsItsByLine) {
  HostDataSet* d = openBigFile(kRows);
  ASSERT_NE(d, nullptr);
  const int32_t g = 1;
  ASSERT_EQ(ds->xbyset(d, &g, nullptr, 1, 0), 0);
  HostByHandle* by = ds->xdsby(d);
  ASSERT_EQ(ds->xbynext(by), 1);
  ASSERT_TRUE(readOn(ds, d, kRows / 2));
  EXPECT_EQ(ds->xobsnext(d), 0);
  EXPECT_EQ(ds->xobsdone(d, kRows / 2 + 1), 0);
  char line[64];
  ASSERT_GT(ds->xbyline(by, line, sizeof line), 0);
  EXPECT_STREQ(line, "g=1");
  ASSERT_EQ(ds->xbynext(by), 1);
  ASSERT_GT(ds->xbyline(by, line, sizeof line), 0);
  EXPECT_STREQ(line, "g=2");
  ASSERT_TRUE(readOn(ds, d, kRows / 2));
  EXPECT_EQ(current(ds, d), std::to_string((kRows - 1) * 0.5) + ":v" + std::to_string(kRows - 1));
  EXPECT_TRUE(errors().empty());
}

// FIRSTOBS= and OBS= choose a window of rows: OBS=n ends at the n-th row, FIRSTOBS=k starts at
// the k-th, both counted from the first row of the file, and either may fall on the last row.
TEST_F(DataSets, FirstObsAndObsChooseTheirWindowExactly) {
  write(dir / "six.csv", "x\n1\n2\n3\n4\n5\n6\n");
  struct Case {
    int64_t firstObs, obs;
    const char* read;
  } cases[] = {{1, 3, "1 2 3"}, {2, 4, "2 3 4"}, {1, 6, "1 2 3 4 5 6"}, {1, 7, "1 2 3 4 5 6"},
               {6, 6, "6"},     {6, -1, "6"},    {3, -1, "3 4 5 6"},    {4, 4, "4"}};
  for (const Case& c : cases) {
    HostDataSet* d = open("six");
    ASSERT_NE(d, nullptr);
    auto options = std::make_unique<DataSetOptions>();
    options->firstObs = c.firstObs;
    options->obs = c.obs;
    options->firstObsAt.line = options->obsAt.line = 1;
    ASSERT_TRUE(applyDataSetOptions(d, std::move(options)));
    EXPECT_EQ(values(d, 1), c.read) << "FIRSTOBS=" << c.firstObs << " OBS=" << c.obs;
    ds->xdsclose(d);
  }
  EXPECT_TRUE(errors().empty());
}

// Outputs are put in place together or not at all: when one cannot be (a directory stands at
// its target), those placed before it are put back, an old file with its old text and a new
// target removed, and nothing of the run is left beside them.
TEST_F(DataSets, AnOutputThatCannotBePlacedPutsBackThoseBeforeIt) {
  write(dir / "a.csv", "old a\n");
  fs::create_directory(dir / "c.csv");
  auto writes = [](const std::string& text) {
    return [text](const std::string& file, std::string*) {
      std::ofstream(file) << text;
      return true;
    };
  };
  std::string why;
  for (const char* name : {"a.csv", "b.csv", "c.csv"})
    ASSERT_TRUE(stageOutput({(dir / name).string(), name, StagedKind::File, {}},
                            writes(std::string("new ") + name), &why));
  EXPECT_TRUE(commitStagedOutputs(true).empty());
  EXPECT_EQ(readFile(dir / "a.csv"), "old a\n");
  EXPECT_FALSE(fs::exists(dir / "b.csv"));
  EXPECT_TRUE(fs::is_directory(dir / "c.csv"));
  EXPECT_EQ(stepReturnCode(), codeOf(StepRc::Error));
  EXPECT_EQ(errors().size(), 1u);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir))
    left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.csv", "c.csv", "lib"}));
}
