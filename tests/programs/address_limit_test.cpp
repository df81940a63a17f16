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
#include <cmath>
#include <functional>
#include <sstream>
#include <utility>
#include <vector>

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

// Whether the sanitizers' runtime is built in: it reserves terabytes of address space at
// start, so that a fixed limit of some hundreds of megabytes leaves it no room to start.
constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

// A file of at least `bytes` bytes: y and x1..x20, one block of 1,000 integer rows repeated
// (scripts/gen_address_limit_ref.py makes the same block and the reference estimates).
// Returns the observations written.
int64_t writeRepeatedBlock(const std::string& path, uint64_t bytes) {
  std::string block;
  for (int64_t i = 0; i < 1000; ++i) {
    int64_t x[20];
    for (int64_t j = 1; j <= 20; ++j)
      x[j - 1] = (37 * i * i + 101 * i * j + 53 * j * j + 7 * i + 11 * j) % 2003 - 1001;
    const int64_t noise = (7919 * i * i + 13 * i) % 401 - 200;
    block += std::to_string(3 * x[0] - 2 * x[1] + x[2] + (x[3] >> 1) + noise); // >> floors
    for (const int64_t v : x) {
      block += ',';
      block += std::to_string(v);
    }
    block += '\n';
  }
  std::ofstream out(path, std::ios::binary);
  out << "y";
  for (int j = 1; j <= 20; ++j)
    out << ",x" << j;
  out << '\n';
  int64_t rows = 0;
  for (uint64_t written = 0; written < bytes; written += block.size(), rows += 1000)
    out << block;
  return rows;
}

// The Parameter Estimates of a listing: effect and estimate, as printed, in order.
std::vector<std::pair<std::string, std::string>> estimates(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> found;
  std::istringstream in(text.substr(std::min(text.find("Parameter Estimates"), text.size())));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string effect, parameter, df, estimate;
    if (words >> effect >> parameter >> df >> estimate && effect == parameter)
      found.emplace_back(effect, estimate);
  }
  return found;
}

// Checks the estimates against the reference (effect,estimate lines after a header).
void expectReferenceEstimates(const std::vector<std::pair<std::string, std::string>>& got) {
  std::ifstream ref(std::string(QRX_TEST_DATA) + "/addresslimit/forward5.csv");
  std::string line;
  std::getline(ref, line);
  size_t k = 0;
  for (; std::getline(ref, line); ++k) {
    const size_t comma = line.find(',');
    ASSERT_LT(k, got.size()) << line;
    EXPECT_EQ(got[k].first, line.substr(0, comma));
    const double want = std::stod(line.substr(comma + 1));
    EXPECT_NEAR(std::stod(got[k].second), want, 1e-6 * (1 + std::abs(want))) << line;
  }
  EXPECT_EQ(k, got.size());
  EXPECT_GT(k, 0u);
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
    const uint64_t least =
        leastLimitKb([&](uint64_t kb) { return limited(kb, small, "-o THREADS=NO").status; });
    // Below the least limit a sanitizer build's runtime may end the run when its own
    // allocations fail (exit status 1), after the runner made its utility files and beyond
    // its reach: the checks that follow start from an empty directory.
    std::filesystem::remove_all(dir / "util");
    return least;
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

// A limit that leaves no room for a thread's stack when the runner starts its interrupt
// watcher (found by lowering the least limit of the small run 64 KB at a time): the runner
// says that an interrupt would leave files behind, and every run on the way goes on or ends
// with a message, never by a signal.
TEST_F(Limited, AnInterruptWatcherThatCannotStartIsSaid) {
  if (kSanitized)
    GTEST_SKIP() << "the sanitizers' runtime fails its own allocations before the watcher does";
  const uint64_t least = leastForSmall();
  ASSERT_GT(least, 0u) << "no room for the run";
  const std::string small = program("small");
  bool said = false;
  for (uint64_t kb = least; !said && kb + 16 * 1024 > least; kb -= 64) {
    const clitest::Outcome r = limited(kb, small, "-o THREADS=NO");
    EXPECT_TRUE(r.status == 0 || r.status == 2) << kb << " KB: " << r.status << r.out;
    said = has(r, "no thread could be started to watch for interrupts");
    EXPECT_FALSE(utilityFilesLeft());
  }
  EXPECT_TRUE(said);
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

// A file of about 120 MB read by FORWARD on the default thread count under limits of 300,
// 450 and 600 MB: each run ends with the estimates of a run without a limit, or with an
// error and exit status 2; none ends by a signal or leaves a utility file behind.
TEST_F(Limited, DefaultThreadsUnderFixedLimitsEndWithEstimatesOrAnError) {
  if (kSanitized)
    GTEST_SKIP() << "the sanitizers' runtime alone takes more address space than these limits";
  writeRepeatedBlock((dir / "wide.csv").string(), uint64_t{120} << 20);
  const std::string prog = write("wide.qrx", "proc varsifter data=wide;\n  model y = x1-x20 / "
                                             "selection=forward(steps=5);\nrun;\n");
  const clitest::Outcome free = run(prog);
  ASSERT_EQ(free.status, 0) << free.out.substr(0, 2000);
  expectReferenceEstimates(estimates(free.out));
  for (const uint64_t mb : {300, 450, 600}) {
    const clitest::Outcome r = limited(mb << 10, prog, "");
    EXPECT_TRUE(r.status == 0 || r.status == 2) << mb << " MB: " << r.status << r.out;
    if (r.status == 0)
      EXPECT_EQ(estimates(r.out), estimates(free.out)) << mb << " MB";
    else
      EXPECT_TRUE(has(r, "ERROR:")) << mb << " MB: " << r.out;
    EXPECT_FALSE(utilityFilesLeft()) << mb << " MB";
  }
}

// A file of about 400 MB, more than a limit of 300 MB can map, read on the default thread
// count: every observation is read, with the reference estimates.
TEST_F(Limited, FileLargerThanAFixedLimitIsReadOnTheDefaultThreads) {
  if (kSanitized)
    GTEST_SKIP() << "the sanitizers' runtime alone takes more address space than this limit";
  const int64_t rows = writeRepeatedBlock((dir / "huge.csv").string(), uint64_t{400} << 20);
  const std::string prog = write("huge.qrx", "proc varsifter data=huge;\n  model y = x1-x20 / "
                                             "selection=forward(steps=5);\nrun;\n");
  const clitest::Outcome r = limited(300 << 10, prog, "");
  EXPECT_EQ(r.status, 0) << r.out.substr(0, 2000);
  EXPECT_TRUE(has(r, "Number of Observations Read  " + std::to_string(rows))) << r.out;
  expectReferenceEstimates(estimates(r.out));
  EXPECT_FALSE(utilityFilesLeft());
}
