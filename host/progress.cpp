// The progress line: a carriage return and an erase-line sequence before each text, so the
// line is rewritten in place; throttled and delayed so short steps print nothing.
#include "host/progress.h"

#include <unistd.h>

namespace qrxhost {

ProgressLine& ProgressLine::instance() {
  static ProgressLine line;
  return line;
}

ProgressLine::ProgressLine() : terminal_(::isatty(2) == 1) {}

void ProgressLine::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_)
    return;
  running_ = true;
  started_ = std::chrono::steady_clock::now();
}

void ProgressLine::show(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!terminal_ || !running_)
    return;
  const auto now = std::chrono::steady_clock::now();
  if (now - started_ < delay_ || (shown_ && now - lastShown_ < std::chrono::milliseconds(250)))
    return;
  lastShown_ = now;
  shown_ = true;
  write("\r\x1b[K" + text);
}

void ProgressLine::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shown_)
    write("\r\x1b[K");
  shown_ = false;
  running_ = false;
}

void ProgressLine::redirect(int fd, bool terminal, std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  fd_ = fd;
  terminal_ = terminal;
  delay_ = delay;
  shown_ = running_ = false;
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
