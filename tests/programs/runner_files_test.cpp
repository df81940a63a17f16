// The runner's own files and special files, end to end through qrx: a --listing, --html or
// --json file that is another of them, or a file the program writes (an output data set, an
// item store, scoring code), existing or not, is refused before anything runs; a device, a
// pipe or standard output given as a target is written in place and stays what it was, and a
// step that fails after writing there says so.
#include "host/minijson.h"
#include "msgid.h"
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;
using clitest::Cli;
using clitest::has;
using clitest::Outcome;

namespace {

const char kFit[] = "proc varsifter data=d; model y = x1 x2; ";

bool isCharDevice(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// Runs qrx in `cwd` with only its standard output captured (the log on standard error
// dropped).
Outcome standardOutputOf(const fs::path& cwd, const std::string& args) {
  return clitest::shell("( cd '" + cwd.string() + "' && ASAN_OPTIONS=detect_leaks=0 '" +
                        std::string(QRX_BINARY) + "' " + args + " 2>/dev/null )");
}

// Whether the first step of a JSON record logged message m.
bool logged(const std::string& record, MsgId m) {
  minijson::Value v;
  std::string error;
  if (!minijson::Parser(record).parse(&v, &error) || v["steps"].items.empty())
    return false;
  for (const minijson::Value& l : v["steps"][0]["log"].items)
    if (l.has("number") && m.is(static_cast<int>(l["set"].n), static_cast<int>(l["number"].n)))
      return true;
  return false;
}

bool parsesAsRecord(const std::string& text) {
  minijson::Value v;
  std::string error;
  return minijson::Parser(text).parse(&v, &error) && v["returnCode"].n == 0;
}

} // namespace

// Each case names a runner file that is the file an output of the program writes (existing
// or not yet made) or another runner file: exit 2, both named, no step run, nothing written.
TEST_F(Cli, RunnerFilesOverTheProgramsOutputsAreRefused) {
  write("d.csv", clitest::kSmallData);
  const std::string kept = "old contents";
  struct Case {
    std::string statements, options, first, second;
    bool exists;
  } cases[] = {
      {"store out=m;", "--json '" + (dir / "m.json").string() + "'", "--json", "m.json", true},
      {"code file=sc;", "--listing '" + (dir / "sc.py").string() + "'", "--listing", "sc.py",
       false},
      {"output out=o p=p;", "--listing '" + (dir / "o.csv").string() + "'", "--listing", "o.csv",
       false},
      {"score data=d out=s;", "--html '" + (dir / "sub" / ".." / "s.csv").string() + "'", "--html",
       "s.csv", false},
      {"output out=o p=p;",
       "--json '" + (dir / "x").string() + "' --html '" + (dir / "." / "x").string() + "'",
       "--json", "--html", false}};
  fs::create_directories(dir / "sub");
  for (const Case& c : cases) {
    const std::string target = c.second.rfind("--", 0) == 0 ? "x" : c.second;
    if (c.exists)
      write(target, kept);
    const std::string prog = write("p.qrx", kFit + c.statements + " run;\n");
    Outcome r = run(prog, c.options);
    EXPECT_EQ(r.status, 2) << c.options << r.out;
    EXPECT_TRUE(has(r, c.first) && has(r, c.second)) << r.out;
    EXPECT_FALSE(has(r, "Model Information")) << r.out;
    if (c.exists)
      EXPECT_EQ(read(target), kept) << c.options;
    else
      EXPECT_FALSE(fs::exists(dir / target)) << c.options;
    fs::remove(dir / target);
  }
}

// A runner file is compared where its write goes, however it is spelled: through a directory
// that does not exist and .., through a link, or into a library a LIBNAME inside the step
// assigns. Each case is the program's input, the program, its item store, its output or
// another runner file: exit 2 naming both, nothing run, every file as it was.
TEST_F(Cli, RunnerFilesAreComparedWhereTheirWritesGo) {
  write("d.csv", clitest::kSmallData);
  write("m.json", "old store");
  fs::create_directories(dir / "real");
  fs::create_symlink("d.csv", dir / "lnk");
  fs::create_directory_symlink("real", dir / "rl");
  const std::string store = kFit + std::string("store out=m; run;\n");
  const std::string inStep = "proc varsifter data=d; libname lb 'rl'; model y = x1 x2; "
                             "output out=lb.o p=p; run;\n";
  const std::string prog = write("p.qrx", store), lib = write("l.qrx", inStep);
  const struct Case {
    std::string program, options, first, second;
  } cases[] = {{prog, "--listing x/../d.csv", "x/../d.csv", "WORK.D"},
               {prog, "--listing x/../p.qrx", "x/../p.qrx", "the program file"},
               {prog, "--json ./x/../m.json", "./x/../m.json", "the item store"},
               {prog, "--json x/../r.json --html r.json", "(x/../r.json)", "(r.json)"},
               {prog, "--html y/../lnk", "y/../lnk", "WORK.D"},
               {lib, "--listing z/../rl/o.csv", "z/../rl/o.csv", "LB.O"},
               {lib, "--json real/o.csv", "real/o.csv", "LB.O"}};
  for (const Case& c : cases) {
    const Outcome r = clitest::shell("cd '" + dir.string() + "' && ASAN_OPTIONS=detect_leaks=0 '" +
                                     QRX_BINARY + "' " + c.options + " '" + c.program + "'");
    EXPECT_EQ(r.status, 2) << c.options << "\n" << r.out;
    EXPECT_TRUE(has(r, c.first) && has(r, c.second)) << r.out;
    EXPECT_FALSE(has(r, "Model Information")) << r.out;
    EXPECT_EQ(read("d.csv"), clitest::kSmallData) << c.options;
    EXPECT_EQ(read("m.json"), "old store") << c.options;
    EXPECT_EQ(read("p.qrx"), store) << c.options;
    EXPECT_FALSE(fs::exists(dir / "r.json") || fs::exists(dir / "real" / "o.csv")) << c.options;
  }
}

// The record sent to standard output (a link to it like /dev/stdout, or -) is all that goes
// there: it parses, the listing is not mixed in, and the link stays a link. The link is made
// in the scratch directory, so that a runner that replaced it would harm nothing.
TEST_F(Cli, RecordOnStandardOutputIsTheWholeOfIt) {
  write("d.csv", clitest::kSmallData);
  const std::string prog = write("p.qrx", kFit + std::string("run;\n"));
  const fs::path link = dir / "stdout";
  fs::create_symlink("/proc/self/fd/1", link);
  for (const std::string& target : {link.string(), std::string("-")}) {
    Outcome r = standardOutputOf(dir, "--work '" + dir.string() + "' --json '" + target + "' '" +
                                          prog + "' | cat");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(parsesAsRecord(r.out)) << target << ": " << r.out.substr(0, 200);
    EXPECT_TRUE(fs::is_symlink(link));
  }
  // A listing file named beside it keeps the listing.
  Outcome r = standardOutputOf(dir, "--work '" + dir.string() + "' --json - --listing '" +
                                        (dir / "l.lst").string() + "' '" + prog + "'");
  EXPECT_TRUE(parsesAsRecord(r.out)) << r.out.substr(0, 200);
  EXPECT_NE(read("l.lst").find("Model Information"), std::string::npos);
}

// Devices given to the runner (--listing, --html, --json) and to the step (OUTPUT, STORE,
// CODE) are written in place and stay devices; a write error on one (the full device) is exit
// 2 with a message naming it and the reason. As root the devices are nodes made in the scratch
// directory, so that a runner that replaced them would harm nothing; otherwise /dev/null and
// /dev/full.
TEST_F(Cli, DevicesAreWrittenInPlace) {
  write("d.csv", clitest::kSmallData);
  std::string dev = "/dev/null", dev2 = "/dev/null", full = "/dev/full";
  if (::geteuid() == 0) {
    dev = (dir / "nul").string();
    dev2 = (dir / "nul2").string();
    full = (dir / "full").string();
    if (::mknod(dev.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        ::mknod(dev2.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
      GTEST_SKIP() << "no device nodes can be made here";
  }
  const std::pair<std::string, std::string> cases[] = {
      {"output out='" + dev + "' p=p;", "--listing '" + dev2 + "' --html '" + dev + "'"},
      {"output out='" + dev + "' p=p; store out='" + dev + "';", "--json '" + dev2 + "'"},
      {"code file='" + dev + "';", "--listing '" + dev + "'"}};
  const std::string prog = dir / "p.qrx";
  for (const auto& [statements, options] : cases) {
    write("p.qrx", kFit + statements + " run;\n");
    Outcome r = run(prog, options);
    EXPECT_EQ(r.status, 0) << statements << r.out;
  }
  for (const std::string& path : {dev, dev2})
    EXPECT_TRUE(isCharDevice(path)) << path;
  Outcome r = run(prog, "--html '" + full + "'");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(has(r, full)) << r.out;
  EXPECT_TRUE(isCharDevice(full));
  r = run(prog, "--listing '" + full + "'"); // the system's reason is given
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(has(r, full + ": " + std::strerror(ENOSPC))) << r.out;
  // A step that fails after writing its output there: the device is still one, and the
  // note says it was written as the step ran.
  write("bg.csv", "y,x1,g\n1,2,1\n2,3,1\n3,5,1\n4,4,1\n,1,2\n,2,2\n");
  write("p.qrx",
        "proc varsifter data=bg; by g; model y = x1; output out='" + dev + "' p=p; run;\n");
  r = run(prog, "--json '" + (dir / "r.json").string() + "'");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(isCharDevice(dev));
  EXPECT_TRUE(logged(read("r.json"), qrxhost::DataMsg::WrittenInPlace)) << r.out;
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

// A named pipe given to --listing is written in place: its reader gets the listing and it
// stays a pipe.
TEST_F(Cli, PipeGetsTheListing) {
  write("d.csv", clitest::kSmallData);
  const std::string prog = write("p.qrx", kFit + std::string("run;\n"));
  const fs::path fifo = dir / "listing.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Both ends are open before the run starts: the read end first (a non-blocking open needs
  // no writer), then a write end held for the run, so that the reader sees the end of the
  // data only once the runner has closed the pipe, or never opened it, whatever the order in
  // which the threads are scheduled.
  const int readEnd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(readEnd, 0);
  const int holder = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) & ~O_NONBLOCK), 0);
  std::string got;
  std::thread reader([&] {
    char buf[4096];
    for (ssize_t n; (n = ::read(readEnd, buf, sizeof buf)) > 0;)
      got.append(buf, static_cast<size_t>(n));
    ::close(readEnd);
  });
  Outcome r = run(prog, "--listing '" + fifo.string() + "'");
  ::close(holder);
  reader.join();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(got.find("Model Information"), std::string::npos) << got;
  EXPECT_TRUE(fs::is_fifo(fifo));
}

// A symbolic link given to --html whose file does not exist yet is written through: the
// file it names is made and the link stays.
TEST_F(Cli, DanglingLinkIsWrittenThrough) {
  write("d.csv", clitest::kSmallData);
  const std::string prog = write("p.qrx", kFit + std::string("run;\n"));
  fs::create_symlink("page.html", dir / "link.html");
  Outcome r = run(prog, "--html '" + (dir / "link.html").string() + "'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::is_symlink(dir / "link.html"));
  EXPECT_NE(read("page.html").find("<html"), std::string::npos);
}
