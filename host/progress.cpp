// The progress line: a carriage return and an erase-line sequence before each text, so the
// line is rewritten in place; throttled and delayed so short steps print nothing.
#include "host/progress.h"

#include <algorithm>
#include <cstdlib>

#include <unistd.h>

namespace qrxhost {

ProgressLine& ProgressLine::instance() {
  static ProgressLine line;
  return line;
}

// QRX_PROGRESS_DELAY_MS sets the delay (and shortens the pause between texts to it), so that
// the display can be watched through a pseudo-terminal without a long step.
ProgressLine::ProgressLine() : terminal_(::isatty(2) == 1) {
  const char* given = std::getenv("QRX_PROGRESS_DELAY_MS");
  char* end = nullptr;
  const long ms = given != nullptr ? std::strtol(given, &end, 10) : -1;
  if (given != nullptr && end != given && *end == '\0' && ms >= 0 && ms <= 3600000) {
    delay_ = std::chrono::milliseconds(ms);
    pause_ = std::min(pause_, delay_);
  }
}

void ProgressLine::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_)
    return;
  running_ = true;
  started_ = clock_();
}

void ProgressLine::show(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  showLocked(text);
}

void ProgressLine::showGroup(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  group_ = text;
  showLocked(text);
}

void ProgressLine::showStep(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  showLocked(group_.empty() ? text : group_ + ", " + text);
}

void ProgressLine::showLocked(const std::string& text) {
  if (!terminal_ || !running_)
    return;
  const auto now = clock_();
  if (now - started_ < delay_ || (shown_ && now - lastShown_ < pause_))
    return;
  lastShown_ = now;
  shown_ = true;
  write("\r\x1b[K" + text);
}

void ProgressLine::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shown_)
    write("\r\x1b[K");
  shown_ = false;
}

void ProgressLine::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shown_)
    write("\r\x1b[K");
  shown_ = false;
  running_ = false;
  group_.clear();
}

void ProgressLine::redirect(int fd, bool terminal, std::chrono::milliseconds delay, Clock clock) {
  std::lock_guard<std::mutex> lock(mutex_);
  fd_ = fd;
  clock_ = clock;
  terminal_ = terminal;
  delay_ = delay;
  shown_ = running_ = false;
  group_.clear();
}

void ProgressLine::write(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n <= 0)
      return; // a progress line is not worth an error
    done += static_cast<size_t>(n);
  }
}

} // namespace qrxhost
