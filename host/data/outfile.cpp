// Buffered writes to a descriptor that keep the reason of their first failure.
#include "host/data/outfile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace qrxhost {
namespace {

constexpr size_t kBufferSize = 1 << 16;

} // namespace

OutFile::OutFile(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0)
    error_ = errno;
  buffer_.reserve(kBufferSize);
}

OutFile::~OutFile() {
  if (fd_ >= 0)
    ::close(fd_);
}

OutFile& OutFile::operator<<(std::string_view text) {
  if (error_ != 0)
    return *this;
  if (text.size() >= kBufferSize) {
    // A long text goes out as it is, after what the buffer holds: never a copy of it.
    flush();
    writeAll(text);
    return *this;
  }
  buffer_.append(text);
  if (buffer_.size() >= kBufferSize)
    flush();
  return *this;
}

void OutFile::flush() {
  writeAll(buffer_);
  buffer_.clear();
}

void OutFile::writeAll(std::string_view text) {
  size_t done = 0;
  while (error_ == 0 && done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      error_ = errno;
    else
      done += static_cast<size_t>(n);
  }
}

bool OutFile::finish(std::string* why) {
  flush();
  if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0)
    error_ = errno;
  fd_ = -1;
  if (error_ != 0 && why != nullptr)
    *why = std::strerror(error_);
  return error_ == 0;
}

} // namespace qrxhost
