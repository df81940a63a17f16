// Runs under an address-space limit, end to end through qrx: a CSV file larger than the
// address space left is read piece by piece, every observation of it; values that do not
// fit are read window by window; threads that cannot start leave their work to the others;
// and nothing ends by a signal or leaves a utility file behind.
//
// The limit is found for the build at hand, so that it holds under the sanitizers too
// (whose runtime reserves terabytes of address space at start): the smallest limit, to a
// megabyte, under which the runner reads a small file of the same columns, found by
// bisection around this process's own address space, which holds the same reservations.
// The large file then gets that limit and 12 MB more, less than half of its 32 MB.
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using clitest::Cli;
using clitest::has;
using clitest::Outcome;

namespace {

// This process's address space in KB (VmSize); 0 when it cannot be read.
uint64_t ownAddressSpaceKb() {
  std::ifstream status("/proc/self/status");
  std::string word;
  uint64_t kb = 0;
  while (status >> word)
    if (word == "VmSize:" && status >> kb)
      return kb;
  return 0;
}

// A data file of `rows` rows: y (0 to 6) and nine columns of fractions.
std::string rowsOfData(int64_t rows) {
  std::string text = "y,x1,x2,x3,x4,x5,x6,x7,x8,x9\n";
  const std::string rest =
      ",0.134364,0.847434,0.763775,0.255069,0.495435,0.449491,0.651593,0.788723,0.093860\n";
  text.reserve(static_cast<size_t>(rows) * (rest.size() + 1) + text.size());
  for (int64_t i = 0; i < rows; ++i)
    text += std::to_string(i % 7) + rest;
  return text;
}

// The smallest limit in KB, to a megabyte, under which qrx runs `program` (on one thread).
uint64_t leastLimitKb(const std::function<int(uint64_t)>& status) {
  const uint64_t own = ownAddressSpaceKb();
  if (own == 0)
    return 0;
  uint64_t lo = own > (1u << 20) ? own - (1u << 20) : 0, hi = own + (1u << 20);
  if (status(hi) != 0)
    return 0;
  while (hi - lo > 1024) {
    const uint64_t mid = lo + (hi - lo) / 2;
    (status(mid) == 0 ? hi : lo) = mid;
  }
  return hi;
}

// The listing's line that starts with `start`, or "".
std::string lineStarting(const std::string& text, const std::string& start) {
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    if (text.compare(at, start.size(), start) == 0)
      return text.substr(at, end - at);
    at = end + 1;
  }
  return "";
}

} // namespace

// Programs run under a limit found for the build at hand, with the utility files in a
// directory of their own.
class Limited : public Cli {
protected:
  std::string program(const std::string& data, const std::string& options = "") {
    return write(data + ".qrx", options + "proc varsifter data=" + data +
                                    "; model y = x1 / selection=none; run;\n");
  }
  // `limits` are more ulimit settings, given before the address-space limit.
  clitest::Outcome limited(uint64_t kb, const std::string& prog, const std::string& options,
                           const std::string& limits = "") {
    std::filesystem::create_directories(dir / "util");
    return clitest::shell(limits + "ulimit -v " + std::to_string(kb) +
                          " && ASAN_OPTIONS=detect_leaks=0 '" + QRX_BINARY + "' --work '" +
                          dir.string() + "' -o UTILPATH='" + (dir / "util").string() + "' " +
                          options + " '" + prog + "'");
  }
  // The least limit for the small file on one thread.
  uint64_t leastForSmall() {
    write("small.csv", rowsOfData(3000));
    const std::string small = program("small");
    return leastLimitKb([&](uint64_t kb) { return limited(kb, small, "-o THREADS=NO").status; });
  }
  bool utilityFilesLeft() { return !std::filesystem::is_empty(dir / "util"); }
};

TEST_F(Cli, FileLargerThanTheAddressSpaceLeftIsRead) {
  const int64_t rows = 400000; // 32.4 MB
  write("small.csv", rowsOfData(3000));
  write("big.csv", rowsOfData(rows));
  auto program = [&](const std::string& data) {
    return write(data + ".qrx", "options csvhold=1M;\nproc varsifter data=" + data +
                                    "; model y = x1 / selection=none; run;\n");
  };
  const std::string small = program("small"), big = program("big");
  auto limited = [&](uint64_t kb, const std::string& prog) {
    return clitest::shell("ulimit -v " + std::to_string(kb) + " && ASAN_OPTIONS=detect_leaks=0 '" +
                          QRX_BINARY + "' --work '" + dir.string() + "' -o THREADS=NO '" + prog +
                          "'");
  };
  const uint64_t own = ownAddressSpaceKb();
  ASSERT_GT(own, 0u);
  uint64_t lo = own > (1u << 20) ? own - (1u << 20) : 0, hi = own + (1u << 20);
  ASSERT_EQ(limited(hi, small).status, 0) << "no room for the run even at " << hi << " KB";
  while (hi - lo > 1024) {
    const uint64_t mid = lo + (hi - lo) / 2;
    (limited(mid, small).status == 0 ? hi : lo) = mid;
  }
  Outcome r = limited(hi + 12 * 1024, big);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r, "Number of Observations Read  " + std::to_string(rows))) << r.out;
}

// Without CSVHOLD=, the values of a file whose columns the address space left cannot hold are
// read window by window, with the estimates of a run without the limit; with a CSVHOLD= that
// holds them whole, the step ends with an error and a note naming the memory it asked for.
TEST_F(Limited, ValuesBeyondTheAddressSpaceLeftAreReadInWindows) {
  const int64_t rows = 400000; // 32.4 MB of text, 32 MB of values
  const uint64_t least = leastForSmall();
  ASSERT_GT(least, 0u) << "no room for the run";
  write("big.csv", rowsOfData(rows));
  const std::string big = program("big");
  const clitest::Outcome free = run(big, "-o THREADS=NO");
  ASSERT_EQ(free.status, 0) << free.out;
  const clitest::Outcome r = limited(least + 12 * 1024, big, "-o THREADS=NO");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(has(r, "Number of Observations Used  " + std::to_string(rows))) << r.out;
  EXPECT_EQ(lineStarting(r.out, "x1 "), lineStarting(free.out, "x1 "));
  EXPECT_NE(lineStarting(r.out, "x1 "), "");
  EXPECT_FALSE(utilityFilesLeft());
  // Held whole by CSVHOLD=, they do not fit: the step ends naming the request it could not meet.
  const clitest::Outcome held = limited(least + 12 * 1024, big, "-o THREADS=NO -o CSVHOLD=1G");
  EXPECT_EQ(held.status, 2) << held.out;
  EXPECT_TRUE(has(held, "ran out of memory")) << held.out;
  EXPECT_TRUE(has(held, "A request for a block of")) << held.out;
  EXPECT_FALSE(has(held, "Number of Observations")) << held.out;
  EXPECT_FALSE(utilityFilesLeft());
}

// Reader and pool threads whose stacks the limit has no room for leave their work to the
// threads that start; a file ending in a field of millions of NUL bytes (a preallocated file
// a crash left) is an error. Neither ends by a signal or leaves a utility file.
TEST_F(Limited, ThreadsThatCannotStartAndHugeFieldsEndWithoutASignal) {
  const int64_t rows = 400000;
  const uint64_t least = leastForSmall();
  ASSERT_GT(least, 0u) << "no room for the run";
  write("big.csv", rowsOfData(rows));
  const clitest::Outcome r = limited(least + 12 * 1024, program("big"), "-o CPUCOUNT=8");
  EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status << r.out;
  if (r.status == 0) {
    EXPECT_TRUE(has(r, "Number of Observations Used  " + std::to_string(rows))) << r.out;
  }
  EXPECT_FALSE(utilityFilesLeft());

  const std::string tailed = write("tailed.csv", rowsOfData(100));
  std::filesystem::resize_file(tailed, uint64_t{64} << 20); // a sparse tail of NUL bytes
  for (const std::string& options : {std::string("-o CPUCOUNT=8"), std::string("-o THREADS=NO")}) {
    const clitest::Outcome t = limited(least + 12 * 1024, program("tailed"), options);
    EXPECT_EQ(t.status, 2) << options << t.out;
    EXPECT_TRUE(has(t, "tailed.csv")) << t.out;
    EXPECT_FALSE(utilityFilesLeft());
  }
}

// Threads whose stacks (here 4 GB each, the stack limit) cannot fit under the address-space
// limit, the runner's interrupt watcher among them: the runner says that an interrupt would
// leave files behind, and the run goes on or ends with a message, never by a signal.
TEST_F(Limited, AnInterruptWatcherThatCannotStartIsSaid) {
  const uint64_t least = leastForSmall();
  ASSERT_GT(least, 0u) << "no room for the run";
  const clitest::Outcome r =
      limited(least + 12 * 1024, program("small"), "-o THREADS=NO", "ulimit -s 4000000 && ");
  EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status << r.out;
  EXPECT_TRUE(has(r, "no thread could be started to watch for interrupts")) << r.out;
  EXPECT_FALSE(utilityFilesLeft());
}

// At full size (the label "long"): a file of 6 GB whose tail is NUL bytes (sparse), read
// without a limit, ends with an error naming the file, never a signal.
TEST_F(Limited, FullSizeNulTailedFileEndsWithAnError) {
  if (std::getenv("QRX_LONG_TESTS") == nullptr)
    GTEST_SKIP() << "a long test (QRX_LONG_TESTS=1)";
  const std::string tailed = write("tailed.csv", rowsOfData(100));
  std::filesystem::resize_file(tailed, uint64_t{6} << 30);
  std::filesystem::create_directories(dir / "util");
  const clitest::Outcome t =
      run(program("tailed"), "-o UTILPATH='" + (dir / "util").string() + "'");
  EXPECT_EQ(t.status, 2) << t.out.substr(0, 2000);
  EXPECT_TRUE(has(t, "tailed.csv")) << t.out.substr(0, 2000);
  EXPECT_FALSE(utilityFilesLeft());
}
