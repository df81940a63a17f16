// The ./qrx wrapper script and the example programs: the wrapper builds quietly and shows
// the build's output only when the build fails; the stepwise example writes its output data
// set beside itself in examples/, not into the directory it is run from.
#include "programs/clifixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using clitest::Cli;
using clitest::Outcome;
using clitest::shell;

// A copy of the wrapper in a tree of its own, with set-up and cmake replaced by stand-ins
// that print build chatter; the stand-in cmake "builds" a qrx that echoes its arguments, or
// fails when BUILD_FAILS is set.
TEST_F(Cli, WrapperBuildsQuietlyAndShowsAFailedBuild) {
  fs::create_directories(dir / "tree" / "scripts");
  fs::create_directories(dir / "tree" / "src");
  fs::create_directories(dir / "tree" / "host");
  fs::create_directories(dir / "tree" / "app");
  fs::create_directories(dir / "bin");
  fs::copy_file(fs::path(QRX_SOURCE_DIR) / "qrx", dir / "tree" / "qrx");
  write("tree/scripts/setup", "echo 'setup chatter'\n");
  write("bin/cmake", "#!/bin/sh\n"
                     "echo \"cmake chatter $*\"\n"
                     "case \"$*\" in *--build*)\n"
                     "  [ -n \"$BUILD_FAILS\" ] && { echo 'compile error here'; exit 1; }\n"
                     "  mkdir -p \"$2/app\"\n"
                     "  printf '#!/bin/sh\\necho \"program output $*\"\\n' > \"$2/app/qrx\"\n"
                     "  chmod +x \"$2/app/qrx\";;\n"
                     "esac\n");
  fs::permissions(dir / "bin" / "cmake", fs::perms::owner_all);
  const std::string env = "PATH='" + (dir / "bin").string() + "':\"$PATH\" ";
  const std::string wrapper =
      std::string("'").append((dir / "tree" / "qrx").string()).append("' prog.qrx");

  Outcome failed = shell(env + "BUILD_FAILS=1 " + wrapper);
  EXPECT_EQ(failed.status, 2);
  EXPECT_NE(failed.out.find("compile error here"), std::string::npos) << failed.out;
  EXPECT_NE(failed.out.find("the build failed"), std::string::npos) << failed.out;

  Outcome ok = shell(env + wrapper);
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_EQ(ok.out, "program output prog.qrx\n");
}

TEST_F(Cli, StepwiseExampleWritesBesideItself) {
  fs::copy(fs::path(QRX_SOURCE_DIR) / "examples", dir / "examples");
  Outcome run = shell("cd '" + dir.string() + "' && ASAN_OPTIONS=detect_leaks=0 '" + QRX_BINARY +
                      "' examples/diabetes_stepwise.qrx");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(fs::exists(dir / "examples" / "diabetes_pred.csv")) << run.out;
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_EQ(e.path().filename(), "examples");
}
