// What a run leaves on disk, end to end through qrx: output data sets are replaced only by
// a step that ends without error, a killed run leaves no utility or temporary file, and an
// unwritable --json or --listing path stops the run before its first step.
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using clitest::Cli;
using clitest::Outcome;

namespace {

const char kData[] = "y,x1,x2\n3.1,1,2\n4.9,2,1\n7.2,3,3\n8.8,4,2\n11.1,5,5\n12.7,6,4\n"
                     "15.2,7,6\n16.8,8,5\n";

bool has(const Outcome &r, const std::string &text) {
  return r.out.find(text) != std::string::npos;
}

// Files in `dir` other than those named.
std::vector<std::string> strayFiles(const fs::path &dir, std::initializer_list<const char *> keep) {
  std::vector<std::string> stray;
  for (const auto &e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    bool kept = false;
    for (const char *k : keep)
      kept = kept || name == k;
    if (!kept)
      stray.push_back(name);
  }
  return stray;
}

} // namespace

// The second run reads t (which now holds P) and asks for P again: the step fails on the
// name defined twice, reports that and nothing else, and t stays byte for byte as it was.
TEST_F(Cli, FailingStepKeepsTheDataSetItWouldReplace) {
  write("t.csv", kData);
  std::string prog = write("p.qrx", "proc varsifter data=t; model y = x1 x2; output out=t p=p; "
                                    "run;\n");
  Outcome first = run(prog);
  ASSERT_EQ(first.status, 0) << first.out;
  std::string after = read("t.csv");
  ASSERT_EQ(after.rfind("y,x1,x2,P\n3.1,1,2,", 0), 0u) << after; // read and replaced itself
  EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 9);

  Outcome second = run(prog);
  EXPECT_EQ(second.status, 2);
  EXPECT_TRUE(has(second, "Variable P is defined twice in the output data set WORK.T"))
      << second.out;
  EXPECT_FALSE(has(second, "memory")) << second.out;
  EXPECT_TRUE(has(second, "WORK.T was not replaced")) << second.out;
  EXPECT_EQ(read("t.csv"), after);
  EXPECT_TRUE(strayFiles(dir, {"t.csv", "p.qrx"}).empty());
}

// A fit that fails (no observation with a response) keeps an existing OUT= data set and does
// not create a new one; a later step that succeeds replaces it.
TEST_F(Cli, FailedFitKeepsOrDoesNotCreateItsOutput) {
  write("m.csv", "y,x\n.,1\n.,2\n.,3\n");
  write("d.csv", kData);
  const std::string old = "y,p\r\n1,2\r\n"; // bytes a rewrite would change
  write("o.csv", old);
  std::string prog = write("p.qrx", "proc varsifter data=m; model y = x; output out=o p=p; run;\n"
                                    "proc varsifter data=m; model y = x; output out=n p=p; run;\n");
  Outcome r = run(prog);
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(read("o.csv"), old);
  EXPECT_FALSE(fs::exists(dir / "n.csv"));
  EXPECT_TRUE(has(r, "WORK.O was not replaced")) << r.out;
  EXPECT_TRUE(has(r, "WORK.N was not written")) << r.out;
  EXPECT_TRUE(strayFiles(dir, {"m.csv", "d.csv", "o.csv", "p.qrx"}).empty());

  prog = write("q.qrx", "proc varsifter data=d; model y = x1; output out=o p=p; run;\n");
  r = run(prog);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read("o.csv").rfind("y,x1,x2,P\n", 0), 0u);
}
