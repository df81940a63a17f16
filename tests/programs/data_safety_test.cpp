// What a run leaves on disk, end to end through qrx: a step's outputs (data sets, item
// store, scoring code) are put in place together, only by a step that ends without error,
// a killed run leaves no utility, temporary or new output file, an unwritable --json or
// --listing path stops the run before its first step, an output that cannot be written ends
// the run with an error and replaces nothing, and two outputs of one step naming one file
// are refused before anything is read or written.
#include "host/minijson.h"
#include "msgid.h"
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using clitest::Cli;
using clitest::has;
using clitest::Outcome;
using clitest::qrx;

namespace {

// Files in `dir` other than those named.
std::vector<std::string> strayFiles(const fs::path& dir, std::initializer_list<const char*> keep) {
  std::vector<std::string> stray;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    bool kept = false;
    for (const char* k : keep)
      kept = kept || name == k;
    if (!kept)
      stray.push_back(name);
  }
  return stray;
}

// Starts the hooked runner on `program` with its output thrown away and the test switches
// `hooks` set; returns its process id.
pid_t startQrx(const std::string& program, const std::string& hooks) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    ::setenv("QRX_TEST_HOOKS", hooks.c_str(), 1);
    ::execl(QRX_HOOKED_BINARY, QRX_HOOKED_BINARY, program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

bool emptyDir(const fs::path& dir) { return fs::is_empty(dir); }

// Runs qrx on `program` until it stops itself before the fit of BY group `byGroup`, checks
// `seen` there, sends it `sig` and lets it go on: true when `seen` held at that point and the
// run died by that signal. No clock is read: the run waits where it stopped until the
// signal comes.
bool killedBeforeFit(const std::string& program, int sig, int byGroup,
                     const std::function<bool()>& seen) {
  const pid_t pid = startQrx(program, "stopBeforeFit=" + std::to_string(byGroup));
  if (pid <= 0)
    return false;
  int status = 0;
  if (::waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status))
    return false; // ended before it came to that group
  const bool found = seen();
  ::kill(pid, found ? sig : SIGKILL);
  ::kill(pid, SIGCONT);
  if (::waitpid(pid, &status, 0) != pid)
    return false;
  return found && WIFSIGNALED(status) && WTERMSIG(status) == sig;
}

// A data set large enough that a stepwise run with small pages keeps its page files on disk
// for a while. With `firstGroup` rows, a BY variable g is 1 on that many first rows and 2
// on the rest.
void writeLargeData(const fs::path& file, int firstGroup = 0) {
  std::ofstream f(file);
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> u(0, 1);
  f << (firstGroup > 0 ? "g,y" : "y");
  for (int j = 1; j <= 20; ++j)
    f << ",x" << j;
  f << "\n";
  for (int i = 0; i < 100000; ++i) {
    double x[20], y = 0;
    for (int j = 0; j < 20; ++j)
      x[j] = u(gen);
    for (int j = 0; j < 5; ++j)
      y += x[j];
    if (firstGroup > 0)
      f << (i < firstGroup ? 1 : 2) << ',';
    f << y + u(gen);
    for (double v : x)
      f << ',' << v;
    f << '\n';
  }
}

// The JSON record a run wrote to `path`.
minijson::Value runRecord(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream text;
  text << f.rdbuf();
  minijson::Value v;
  std::string error;
  EXPECT_TRUE(minijson::Parser(text.str()).parse(&v, &error)) << error;
  return v;
}

} // namespace

// A run killed by SIGINT or SIGTERM while its page files are on disk dies by that signal and
// leaves no utility file in UTILPATH and no temporary file in its library.
TEST_F(Cli, KilledRunRemovesItsFiles) {
  writeLargeData(dir / "big.csv");
  fs::create_directories(dir / "util");
  std::string prog = write("p.qrx", "options PAGEFILE_PAGESIZE=4096 UTILPATH='" +
                                        (dir / "util").string() + "';\nlibname w '" + dir.string() +
                                        "';\nproc varsifter data=w.big;\n"
                                        "  model y = x1-x20 / selection=stepwise(select=sbc);\n"
                                        "  output out=w.o p=p;\nrun;\n");
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE("signal " + std::to_string(sig));
    ASSERT_TRUE(killedBeforeFit(prog, sig, 1, [&] { return !emptyDir(dir / "util"); }))
        << "no utility file was there when the fit began";
    EXPECT_TRUE(emptyDir(dir / "util"));
    EXPECT_EQ(strayFiles(dir, {"big.csv", "util", "p.qrx"}), std::vector<std::string>{});
  }
}

// Killed while its second BY group is fitted, after the first group's item store and
// scoring code are made, a run leaves neither file nor a temporary one behind.
TEST_F(Cli, KilledRunWritesNoItemStore) {
  writeLargeData(dir / "big.csv", 200);
  const std::string prog =
      write("p.qrx", "options PAGEFILE_PAGESIZE=4096;\nlibname w '" + dir.string() +
                         "';\nproc varsifter data=w.big;\n  by g;\n"
                         "  model y = x1-x20 / selection=stepwise(select=sbc);\n"
                         "  store out=w.k;\n  code file='" +
                         (dir / "c.py").string() + "';\nrun;\n");
  // killed before the second group's fit, when the first group's outputs are staged
  ASSERT_TRUE(killedBeforeFit(prog, SIGINT, 2, [&] {
    return !strayFiles(dir, {"big.csv", "p.qrx"}).empty();
  })) << "the first group had made no output file when the second group's fit began";
  EXPECT_EQ(strayFiles(dir, {"big.csv", "p.qrx"}), std::vector<std::string>{});
}

// The second run reads t (which now holds P) and asks for P again: the step fails on the
// name defined twice, reports that and nothing else, and t stays byte for byte as it was.
TEST_F(Cli, FailingStepKeepsTheDataSetItWouldReplace) {
  write("t.csv", clitest::kSmallData);
  std::string prog = write("p.qrx", "proc varsifter data=t; model y = x1 x2; output out=t p=p; "
                                    "run;\n");
  Outcome first = run(prog);
  ASSERT_EQ(first.status, 0) << first.out;
  std::string after = read("t.csv");
  ASSERT_EQ(after.rfind("y,x1,x2,p\n3.1,1,2,", 0), 0u) << after; // read and replaced itself
  EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 9);

  Outcome second = run(prog);
  EXPECT_EQ(second.status, 2);
  EXPECT_TRUE(has(second, "Variable p is defined twice in the output data set WORK.T"))
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
  write("d.csv", clitest::kSmallData);
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
  EXPECT_EQ(read("o.csv").rfind("y,x1,x2,p\n", 0), 0u);
}

// A step that fails writes none of its outputs, whatever fails: one BY group without a
// response value (the others are fitted), or a data-set option of an output naming a
// variable the output will not hold, found before any data is read or fitted. The data set
// there keeps its bytes, and no item store is made.
TEST_F(Cli, AFailedStepWritesNoOutput) {
  write("d.csv", "h,y,x\n1,1,1\n1,2,2\n1,3.5,3\n1,4,4\n2,.,1\n2,.,2\n3,1,1\n3,2.2,2\n3,3,3\n");
  const std::string old = "y,p\r\n1,2\r\n";
  const std::string head = "proc varsifter data=d; model y = x; ";
  const std::string cases[] = {
      "proc varsifter data=d; by h; model y = x; output out=o p=p; store out=k; run;\n",
      head + "output out=o(keep=y nosuch) p=p; store out=k; run;\n",
      head + "output out=o p=p; score data=d out=s(drop=nosuch); store out=k; run;\n"};
  for (const std::string& program : cases) {
    write("o.csv", old);
    Outcome r = run(write("p.qrx", program));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(read("o.csv"), old) << program;
    EXPECT_EQ(strayFiles(dir, {"d.csv", "o.csv", "p.qrx"}), std::vector<std::string>{}) << program;
    if (program != cases[0]) {
      EXPECT_TRUE(has(r, "nosuch is not a variable")) << r.out;
      EXPECT_FALSE(has(r, "Number of Observations Read")) << r.out;
    }
  }
}

// A full disk (here a file size limit that the OUTPUT data set passes and the item store
// does not) fails the output with the system's reason, and the item store is not put in
// place either.
TEST_F(Cli, FullDiskWritesNoOutput) {
  std::string data = "y,x1,x2\n";
  for (int i = 0; i < 400; ++i)
    data += std::to_string(1.5 * i + 0.3 * (i % 7)) + "," + std::to_string(i) + "," +
            std::to_string(i * 7 % 11) + "\n";
  write("t.csv", data);
  const std::string prog =
      write("p.qrx", "proc varsifter data=t; model y = x1 x2; store out=k; output out=o p=p; "
                     "run;\n");
  // At most 8 blocks per file written; the signal of a file grown past that is ignored, so
  // that the write fails instead.
  Outcome r =
      clitest::shell("trap '' XFSZ; ulimit -f 8; ASAN_OPTIONS=detect_leaks=0 '" +
                     std::string(QRX_BINARY) + "' --work '" + dir.string() + "' '" + prog + "'");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(has(r, "WORK.O") && has(r, std::strerror(EFBIG))) << r.out;
  EXPECT_EQ(strayFiles(dir, {"t.csv", "p.qrx"}), std::vector<std::string>{});
}

// Under a file size limit (no signal trap this time) a write past it fails with its error
// instead of ending the run: the data set and the runner's HTML page are not written, the
// old page keeps its bytes, the message names the page and its size, and no temporary file
// is left.
TEST_F(Cli, FileSizeLimitFailsTheWritesAndKeepsOldFiles) {
  std::string data = "y,x1,x2\n";
  for (int i = 0; i < 400; ++i)
    data += std::to_string(1.5 * i + 0.3 * (i % 7)) + "," + std::to_string(i) + "," +
            std::to_string(i * 7 % 11) + "\n";
  write("t.csv", data);
  write("page.html", "old page");
  const std::string prog =
      write("p.qrx", "proc varsifter data=t; model y = x1 x2; output out=o p=p; run;\n");
  Outcome r = clitest::shell("ulimit -f 4; ASAN_OPTIONS=detect_leaks=0 '" +
                             std::string(QRX_BINARY) + "' --work '" + dir.string() + "' --html '" +
                             (dir / "page.html").string() + "' '" + prog + "'");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(has(r, "WORK.O") && has(r, std::strerror(EFBIG))) << r.out;
  EXPECT_TRUE(has(r, "page.html") && has(r, " bytes)")) << r.out;
  EXPECT_EQ(read("page.html"), "old page");
  EXPECT_EQ(strayFiles(dir, {"t.csv", "p.qrx", "page.html"}), std::vector<std::string>{});
}

// A runner file (--listing, --json, --html) that is the program or a data set the program
// reads, under any spelling of its path, is refused before anything runs: exit status 2, a
// message naming the option, and every file as it was.
TEST_F(Cli, RunnerFileOverTheProgramOrItsDataIsRefused) {
  const std::string data = write("d.csv", clitest::kSmallData);
  const std::string text = "libname in '" + dir.string() +
                           "';\nproc varsifter data=in.d; model y = x1 x2; output out=o p=p; "
                           "run;\n";
  const std::string prog = write("p.qrx", text);
  const std::string other = (dir / "." / "d.csv").string();
  const std::pair<std::string, std::string> cases[] = {
      {"--listing", other}, {"--json", data}, {"--html", prog}};
  for (const auto& [option, path] : cases) {
    Outcome r = run(prog, option + " '" + path + "'");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_TRUE(has(r, option) && has(r, path)) << r.out;
    EXPECT_FALSE(has(r, "Model Information")) << r.out;
    EXPECT_EQ(read("d.csv"), clitest::kSmallData);
    EXPECT_EQ(read("p.qrx"), text);
    EXPECT_EQ(strayFiles(dir, {"d.csv", "p.qrx"}), std::vector<std::string>{}) << option;
  }
}

// An unwritable --json or --listing path ends the run before its first step: nothing is
// read or written, and the message names the option and the path.
TEST_F(Cli, UnwritableRecordPathsStopTheRunFirst) {
  write("d.csv", clitest::kSmallData);
  std::string prog =
      write("p.qrx", "proc varsifter data=d; model y = x1 x2; output out=o p=p; run;\n");
  fs::create_directories(dir / "sub");
  const std::string missingDir = (dir / "absent" / "r.json").string();
  struct Case {
    std::string option, path;
  } cases[] = {{"--json", missingDir}, {"--listing", (dir / "sub").string()}};
  for (const Case& c : cases) {
    Outcome r = run(prog, c.option + " '" + c.path + "'");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_TRUE(has(r, c.option) && has(r, c.path)) << r.out;
    EXPECT_FALSE(has(r, "Model Information")) << r.out;
    EXPECT_FALSE(fs::exists(dir / "o.csv"));
  }
  // The check of a new path leaves no file behind when the run then fails (here on a program
  // file that does not exist).
  Outcome r =
      qrx("--json '" + (dir / "new.json").string() + "' '" + (dir / "no.qrx").string() + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(fs::exists(dir / "new.json"));
}

// An output whose file cannot be written when the step's outputs are put in place (here a
// directory stands where the data set or the scoring code would go) is an error giving the
// system's reason; it raises the step's and the run's return codes and the exit status, and
// no other output of the step is put in place: a data set there keeps its bytes, no item
// store is made and no temporary file is left.
TEST_F(Cli, FailedOutputWriteEndsTheRunWithAnError) {
  write("t.csv", clitest::kSmallData);
  fs::create_directories(dir / "o.csv");
  fs::create_directories(dir / "s.py");
  const std::string old = "y,p\r\n1,2\r\n";
  write("d.csv", old);
  struct Case {
    std::string program, named;
  } cases[] = {{"proc varsifter data=t outdesign=d; model y = x1 x2; store out=k; "
                "output out=o p=p; run;\n",
                "WORK.O"},
               {"proc varsifter data=t; model y = x1 x2; output out=d p=p; store out=k; "
                "code file=s; run;\n",
                "s.py"}};
  for (const Case& c : cases) {
    Outcome r = run(write("p.qrx", c.program), "--json '" + (dir / "r.json").string() + "'");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_TRUE(has(r, c.named) && has(r, std::strerror(EISDIR))) << r.out;
    EXPECT_FALSE(has(r, "Success")) << r.out;
    const minijson::Value json = runRecord(dir / "r.json");
    EXPECT_EQ(json["returnCode"].n, 1012) << c.program;
    EXPECT_EQ(json["steps"][0]["returnCode"].n, 1012) << c.program;
    EXPECT_EQ(read("d.csv"), old) << c.program;
    EXPECT_EQ(strayFiles(dir, {"t.csv", "o.csv", "s.py", "d.csv", "p.qrx", "r.json"}),
              std::vector<std::string>{})
        << c.program;
  }
}

// Two outputs of one step that name one file (data sets of OUTDESIGN=, SCORE and OUTPUT, the
// item store, the scoring code) are refused while the step is read: a numbered error, no
// data read, no output, and the files already there unchanged.
TEST_F(Cli, TwoOutputsOfOneFileAreRefused) {
  write("t.csv", clitest::kSmallData);
  const std::string old = "y,p\r\n1,2\r\n";
  const std::string head = "proc varsifter data=t; model y = x1 x2; ";
  const std::string cases[] = {
      "proc varsifter data=t outdesign=o; model y = x1 x2; output out=o p=p; run;\n",
      head + "score data=t out=o;\noutput out=O p=p; run;\n",
      head + "output out=o p=p; store out='" + (dir / "o.csv").string() + "'; run;\n",
      head + "store out=o; code file='" + (dir / "o.json").string() + "'; run;\n"};
  for (const std::string& program : cases) {
    write("o.csv", old);
    write("o.json", old);
    Outcome r = run(write("p.qrx", program), "--json '" + (dir / "r.json").string() + "'");
    EXPECT_EQ(r.status, 2) << program << r.out;
    const minijson::Value json = runRecord(dir / "r.json");
    const minijson::Value& step = json["steps"][0];
    EXPECT_GE(step["returnCode"].n, 1012) << program;
    bool refused = false;
    for (const auto& rec : step["log"].items)
      refused =
          refused || (rec.has("set") &&
                      MsgId(qrxhost::DataMsg::FileClaimedTwice).is(rec["set"].n, rec["number"].n));
    EXPECT_TRUE(refused) << program << r.out;
    EXPECT_TRUE(step["output"].items.empty()) << program;
    EXPECT_EQ(read("o.csv"), old) << program;
    EXPECT_EQ(read("o.json"), old) << program;
    EXPECT_TRUE(strayFiles(dir, {"t.csv", "p.qrx", "o.csv", "o.json", "r.json"}).empty());
  }
}
