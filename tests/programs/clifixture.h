// Running the built qrx binary from end-to-end tests: the command's exit status and its
// output, and a fixture with a fresh directory per test for programs and data sets.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace clitest {

struct Outcome {
  int status = -1;
  std::string out; // standard output and standard error together
};

// Runs a shell command, standard error joined to standard output.
inline Outcome shell(const std::string& cmd) {
  Outcome r;
  FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
  if (!p)
    return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    r.out.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Leak reports at exit would change the exit status under the sanitizers; the status is
// what these tests check.
inline Outcome qrx(const std::string& args) {
  return shell(std::string("ASAN_OPTIONS=detect_leaks=0 '") + QRX_BINARY + "' " + args);
}

inline bool has(const Outcome& r, const std::string& text) {
  return r.out.find(text) != std::string::npos;
}

// A small data set with a response y and two predictors, for runs that need any fit.
inline constexpr char kSmallData[] =
    "y,x1,x2\n3.1,1,2\n4.9,2,1\n7.2,3,3\n8.8,4,2\n11.1,5,5\n12.7,6,4\n15.2,7,6\n16.8,8,5\n";

class Cli : public ::testing::Test {
protected:
  std::filesystem::path dir;
  void SetUp() override {
    dir =
        std::filesystem::temp_directory_path() /
        ("qrx_cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
         "_" + std::to_string(static_cast<long>(::getpid())));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return (dir / name).string();
  }
  std::string read(const std::string& name) {
    std::ifstream f(dir / name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  // Runs qrx with WORK set to the test's directory.
  Outcome run(const std::string& program, const std::string& options = "") {
    return qrx("--work '" + dir.string() + "' " + options + " '" + program + "'");
  }
};

} // namespace clitest
