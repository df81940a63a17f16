// The progress line: written in place on a terminal after the delay, never elsewhere.
#include "host/progress.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace qrxhost;
using namespace std::chrono_literals;

namespace {

std::string drain(int fd) {
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0)
    out.append(buf, static_cast<size_t>(n));
  return out;
}

// The tests' clock: it moves only when a test moves it, so what is shown does not depend on
// how fast the test runs.
std::chrono::steady_clock::time_point gNow{};
std::chrono::steady_clock::time_point testClock() { return gNow; }

} // namespace

TEST(ProgressLine, OnlyOnATerminalAndOnlyAfterTheDelay) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
  ProgressLine& line = ProgressLine::instance();

  line.redirect(fds[1], false, 0ms, testClock); // not a terminal: silent
  line.start();
  line.show("reading WORK.A: 10 rows");
  line.finish();
  EXPECT_EQ(drain(fds[0]), "");

  line.redirect(fds[1], true, 1h, testClock); // a terminal, but the step is short
  line.start();
  gNow += 59min;
  line.show("reading WORK.A: 10 rows");
  line.finish();
  EXPECT_EQ(drain(fds[0]), "");

  line.redirect(fds[1], true, 0ms, testClock);
  line.start();
  line.show("reading WORK.A: 10 rows");
  gNow += 249ms;
  line.show("reading WORK.A: 20 rows"); // too soon after the first: skipped
  line.finish();
  EXPECT_EQ(drain(fds[0]), "\r\x1b[Kreading WORK.A: 10 rows\r\x1b[K");
  line.show("after the step"); // the clock stopped with the step
  EXPECT_EQ(drain(fds[0]), "");

  line.redirect(2, ::isatty(2) == 1, 3000ms);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(ProgressLine, StepsAreShownAfterTheirByGroupUntilTheStepEnds) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
  ProgressLine& line = ProgressLine::instance();
  line.redirect(fds[1], true, 0ms, testClock);
  line.start();
  line.showGroup("WORK.A: BY group 2 of 3");
  gNow += 250ms; // the pause between two texts is over
  line.showStep("selection step 4, 5 effects in the model");
  line.finish();
  EXPECT_EQ(drain(fds[0]),
            "\r\x1b[KWORK.A: BY group 2 of 3"
            "\r\x1b[KWORK.A: BY group 2 of 3, selection step 4, 5 effects in the model"
            "\r\x1b[K");
  // The next step has no BY group of its own until one is shown.
  line.start();
  line.showStep("selection step 1, 2 effects in the model");
  line.finish();
  EXPECT_EQ(drain(fds[0]), "\r\x1b[Kselection step 1, 2 effects in the model\r\x1b[K");

  line.redirect(2, ::isatty(2) == 1, 3000ms);
  ::close(fds[0]);
  ::close(fds[1]);
}
