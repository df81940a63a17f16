// Writing a file whose failure is told by the system's reason: the text goes through a
// buffer to the file's descriptor, and the first failing call's errno is kept, so a message
// can say why (a full disk, a directory in the way) instead of a bare "cannot be written".
#pragma once

#include <string>
#include <string_view>

namespace qrxhost {

class OutFile {
public:
  // Creates or truncates the file at `path`.
  explicit OutFile(const std::string& path);
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  OutFile& operator<<(std::string_view text);
  OutFile& operator<<(char c) { return *this << std::string_view(&c, 1); }
  // False once a call has failed; later writes are dropped.
  bool good() const { return error_ == 0; }
  // Writes what is buffered and closes the file: true when every call succeeded, else false
  // with `why` set to the first failure's reason.
  bool finish(std::string* why);

private:
  void flush();
  void writeAll(std::string_view text);
  int fd_ = -1;
  int error_ = 0;
  std::string buffer_;
};

} // namespace qrxhost
