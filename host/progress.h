// A progress line on standard error for steps that run longer than a few seconds: rows read
// while a data set is parsed, the BY group being fitted. Shown only when standard error is a
// terminal, so logs, pipes and tests stay silent.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

namespace qrxhost {

class ProgressLine {
public:
  static ProgressLine& instance();

  // Starts the clock for the step, unless it runs already.
  void start();
  // Shows the text in place of the previous one (callable from any thread); nothing until the
  // step has run for the delay, and at most a few times a second.
  void show(const std::string& text);
  // Erases the line if one is shown and stops the clock (the step ended).
  void finish();

  // Test hook: write to `fd` as if it were a terminal (or not), with this delay.
  void redirect(int fd, bool terminal, std::chrono::milliseconds delay);

private:
  ProgressLine();
  void write(const std::string& text);

  std::mutex mutex_;
  int fd_ = 2;
  bool terminal_ = false;
  bool running_ = false;
  bool shown_ = false;
  std::chrono::milliseconds delay_{3000};
  std::chrono::steady_clock::time_point started_, lastShown_;
};

} // namespace qrxhost
