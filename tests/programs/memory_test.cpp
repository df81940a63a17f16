// Peak memory of whole qrx runs on large generated programs and data: a long MODEL
// statement, a long run of %PUT statements and one very long CLASS value. Each run's peak
// resident size is compared with that of a tiny run in the same test (the sanitizers of the
// test build inflate memory, so absolute numbers mean little): the growth has to stay a small
// multiple of the input's size.
#include "clifixture.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct Measured {
  int status = -1;
  long peakKb = 0; // the child's peak resident set size
  std::string out; // standard output and standard error
};

class Memory : public clitest::Cli {
protected:
  // Runs qrx on the program file in its own process and takes that process's peak from
  // wait4, so that no other child of the test counts.
  Measured measure(const std::string& program) {
    Measured m;
    const std::string outFile = (dir / "run.out").string();
    const std::string work = dir.string();
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      // Freed blocks held back by the address sanitizer would count as the run's own.
      ::setenv("ASAN_OPTIONS", "detect_leaks=0:quarantine_size_mb=0", 1);
      ::execl(QRX_BINARY, QRX_BINARY, "--work", work.c_str(), program.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
      return m;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.peakKb = usage.ru_maxrss;
    m.out = read("run.out");
    return m;
  }

  // The peak of a tiny run: a fit of the small data set.
  long baselineKb() {
    write("small.csv", clitest::kSmallData);
    const Measured m = measure(
        write("tiny.qrx", "libname t '" + dir.string() +
                              "';\nproc varsifter data=t.small;\n model y = x1 x2;\nrun;\n"));
    EXPECT_EQ(m.status, 0) << m.out;
    return m.peakKb;
  }

  // The peak of a run less the tiny run's, against the input's size.
  void expectProportionate(const Measured& m, long baseKb, size_t inputBytes, double factor) {
    const double grownKb = static_cast<double>(m.peakKb - baseKb);
    const double inputKb = static_cast<double>(inputBytes) / 1024.0;
    EXPECT_LT(grownKb, factor * inputKb)
        << "peak " << m.peakKb << " KB, tiny run " << baseKb << " KB, input " << inputKb << " KB";
  }
};

constexpr size_t kInputBytes = 3u << 20; // a few MB: quick under the sanitizers

// A MODEL statement of 3 MB of generated names none of which the data set has: the step
// stops at the first with a message naming it, and the run holds the statement's tokens
// once, not copies of them.
TEST_F(Memory, LongModelStatementStaysProportionate) {
  const long base = baselineKb();
  std::string names;
  for (int k = 0; names.size() < kInputBytes; ++k)
    names += " v" + std::to_string(1000000 + k);
  const std::string program = "libname t '" + dir.string() +
                              "';\nproc varsifter data=t.small;\n model y =" + names + ";\nrun;\n";
  const Measured m = measure(write("model.qrx", program));
  EXPECT_EQ(m.status, 2) << m.out.substr(0, 2000);
  EXPECT_TRUE(m.out.find("V1000000") != std::string::npos) << m.out.substr(0, 2000);
  expectProportionate(m, base, program.size(), 16.0);
}

// 3 MB of %PUT statements: each line is logged as it comes and nothing of it is kept.
TEST_F(Memory, LongRunOfPutStaysProportionate) {
  const long base = baselineKb();
  std::string program;
  int lines = 0;
  for (; program.size() < kInputBytes; ++lines)
    program += "%put line " + std::to_string(lines) + " of the run;\n";
  const Measured m = measure(write("put.qrx", program));
  EXPECT_EQ(m.status, 0) << m.out.substr(0, 2000);
  EXPECT_TRUE(m.out.find("line 0 of the run\n") != std::string::npos);
  EXPECT_TRUE(m.out.find("line " + std::to_string(lines - 1) + " of the run\n") !=
              std::string::npos);
  expectProportionate(m, base, program.size(), 8.0);
}

// One CLASS value of 2 MB: the data set is read and the fit levelled. The levels are kept at
// the width of the longest value, so the bound is looser than for the program text.
TEST_F(Memory, LongClassValueStaysProportionate) {
  const long base = baselineKb();
  const size_t valueBytes = 2u << 20;
  std::string csv = "y,c,x\n";
  for (int i = 0; i < 20; ++i)
    csv += std::to_string(3 + 1.5 * i + (i % 3) * 0.25) + "," +
           (i == 0 ? std::string(valueBytes, 'A') : std::string(i % 2 ? "b" : "c")) + "," +
           std::to_string(i) + "\n";
  write("long.csv", csv);
  const Measured m =
      measure(write("cls.qrx", "libname t '" + dir.string() +
                                   "';\nproc varsifter data=t.long;\n class c;\n model y = c x;\n"
                                   "run;\n"));
  EXPECT_EQ(m.status, 0) << m.out.substr(0, 2000);
  EXPECT_TRUE(m.out.find("Class Level Information") != std::string::npos);
  expectProportionate(m, base, csv.size(), 25.0);
}

} // namespace
