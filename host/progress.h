// A progress line on standard error for steps that run longer than a few seconds: rows read
// while a data set is parsed, the BY group being fitted and the step of its selection. Shown
// only when standard error is a terminal, so logs, pipes and tests stay silent.
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
  // The BY group being fitted: shown, and kept in front of the step texts that follow.
  void showGroup(const std::string& text);
  // How the fit is getting on (a selection step), after the BY group when there is one.
  void showStep(const std::string& text);
  // Erases the line if one is shown, so that a log line can be written in its place; the
  // next text is shown on a line of its own.
  void clear();
  // Erases the line if one is shown and stops the clock (the step ended).
  void finish();

  using Clock = std::chrono::steady_clock::time_point (*)();
  // Test hook: write to `fd` as if it were a terminal (or not), with this delay, reading the
  // time from `clock`.
  void redirect(int fd, bool terminal, std::chrono::milliseconds delay,
                Clock clock = &std::chrono::steady_clock::now);

private:
  ProgressLine();
  void write(const std::string& text);
  void showLocked(const std::string& text);

  std::mutex mutex_;
  int fd_ = 2;
  bool terminal_ = false;
  bool running_ = false;
  bool shown_ = false;
  std::string group_;
  std::chrono::milliseconds delay_{3000};
  std::chrono::milliseconds pause_{250}; // the least time between two texts
  Clock clock_ = &std::chrono::steady_clock::now;
  std::chrono::steady_clock::time_point started_, lastShown_;
};

} // namespace qrxhost
