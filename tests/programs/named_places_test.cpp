// Places a user names, end to end through qrx: quoted paths holding either quote character
// reach the files they name on every statement that takes a path, and the WORK library
// follows LIBNAME WORK and --lib work=.
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using clitest::Cli;
using clitest::has;
using clitest::Outcome;

namespace {

// Runs qrx in `cwd` (its paths relative to it); `args` are shell words.
Outcome runIn(const fs::path& cwd, const std::string& args) {
  return clitest::shell("cd '" + cwd.string() + "' && ASAN_OPTIONS=detect_leaks=0 '" +
                        std::string(QRX_BINARY) + "' " + args);
}

} // namespace

// Each quoted path names a file by the one quoting rule: the other quote character is an
// ordinary one, the opening one doubled stands for itself. The files named are written, a
// file of the name cut short at a quote is left as it was, the notes name the files, and the
// runner compares its own files with them.
TEST_F(Cli, QuotedPathsReachTheFilesTheyName) {
  write("d.csv", clitest::kSmallData);
  fs::create_directories(dir / "D" / "o'brien");
  write("D/o'brie", "keep");
  write("p.qrx", "libname q \"D/o'brien\";\n"
                 "proc varsifter data=d; model y = x1 x2; code file=\"D/o'brien/sc.py\";\n"
                 "  store \"D/o'brien/m\"; output out=q.o p=p; run;\n"
                 "proc varsifter data=d; model y = x1 x2; code file='D/it''s.py';\n"
                 "  store out='D/x\"y'; score data=d out=\"D/o'brien/s\"; run;\n");
  Outcome r = runIn(dir, "p.qrx");
  EXPECT_EQ(r.status, 0) << r.out;
  for (const char* file :
       {"D/o'brien/sc.py", "D/o'brien/m", "D/o'brien/o.csv", "D/it's.py", "D/x\"y", "D/o'brien/s"})
    EXPECT_TRUE(fs::is_regular_file(dir / file)) << file << "\n" << r.out;
  EXPECT_TRUE(has(r, "written to D/o'brien/sc.py.")) << r.out;
  EXPECT_TRUE(has(r, "written to D/it's.py.")) << r.out;
  EXPECT_EQ(read("D/o'brie"), "keep");
  EXPECT_FALSE(fs::exists(dir / "D" / "it's.py'"));

  for (const char* given : {"D/it's.py", "D/o'brien/m", "D/x\\\"y"}) {
    r = runIn(dir, std::string("--listing \"") + given + "\" p.qrx");
    EXPECT_EQ(r.status, 2) << given << "\n" << r.out;
    EXPECT_TRUE(has(r, "it would be written over")) << r.out;
  }
}

// LIBNAME WORK and --lib work= make the directory the WORK library: DATA=d and DATA=work.d read
// its data set and an output named without a library goes there. --work with --lib work=, and
// a LIBNAME to a file, are refused with a message saying so.
TEST_F(Cli, WorkLibraryFollowsLibnameAndLib) {
  fs::create_directories(dir / "other");
  write("other/d.csv", clitest::kSmallData);
  write("w.qrx", "libname work 'other';\n"
                 "proc varsifter data=work.d; model y = x1 x2; output out=o p=p; run;\n"
                 "proc varsifter data=d; model y = x1 x2; run;\n");
  Outcome r = runIn(dir, "w.qrx");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(dir / "other" / "o.csv")) << r.out;
  EXPECT_FALSE(fs::exists(dir / "o.csv"));

  write("l.qrx", "proc varsifter data=d; model y = x1 x2; output out=o2 p=p; run;\n");
  r = runIn(dir, "--lib work=other l.qrx");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(dir / "other" / "o2.csv")) << r.out;

  r = runIn(dir, "--work . --lib WORK=other l.qrx");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(has(r, "both set the WORK library")) << r.out;
  EXPECT_FALSE(has(r, "Model Information")) << r.out;

  write("f.qrx", "libname work 'other/d.csv';\n");
  r = runIn(dir, "f.qrx");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(has(r, "other/d.csv is not a directory")) << r.out;
}
