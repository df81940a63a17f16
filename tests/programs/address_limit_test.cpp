// A CSV file larger than the address space left to the run, end to end through qrx: the
// file is read piece by piece, every observation of it.
//
// The limit is found for the build at hand, so that it holds under the sanitizers too
// (whose runtime reserves terabytes of address space at start): the smallest limit, to a
// megabyte, under which the runner reads a small file of the same columns, found by
// bisection around this process's own address space, which holds the same reservations.
// The large file then gets that limit and 12 MB more, less than half of its 32 MB.
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <cstdint>
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

} // namespace

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
