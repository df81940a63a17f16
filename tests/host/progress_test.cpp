// The progress line: written in place on a terminal after the delay, never elsewhere.
#include "host/progress.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <thread>
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

} // namespace

TEST(ProgressLine, OnlyOnATerminalAndOnlyAfterTheDelay) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
  ProgressLine& line = ProgressLine::instance();

  line.redirect(fds[1], false, 0ms); // not a terminal: silent
  line.start();
  line.show("reading WORK.A: 10 rows");
  line.finish();
  EXPECT_EQ(drain(fds[0]), "");

  line.redirect(fds[1], true, 1h); // a terminal, but the step is short
  line.start();
  line.show("reading WORK.A: 10 rows");
  line.finish();
  EXPECT_EQ(drain(fds[0]), "");

  line.redirect(fds[1], true, 0ms);
  line.start();
  line.show("reading WORK.A: 10 rows");
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
  line.redirect(fds[1], true, 0ms);
  line.start();
  line.showGroup("WORK.A: BY group 2 of 3");
  std::this_thread::sleep_for(300ms); // past the pause between two texts
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
