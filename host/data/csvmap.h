// A CSV file mapped for reading, guarded against another process shortening it while it is
// read (a bus error then marks the file instead of ending the process). Parsing the mapped
// text is csvfile.cpp's.
#pragma once

#include "host/data/csvfile.h"

#include <atomic>
#include <cstddef>
#include <string>

namespace qrxhost {

// A slot of the bus-error guard, held while a file is mapped.
struct GuardSlot;

// A file mapped for reading; pages the parse is done with are handed back as it goes, so
// that the mapped text does not stay resident beside the columns.
class MappedFile {
public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();
  // Opens and maps the file; false with the error (line 0) when it cannot be read.
  bool open(const std::string& path, CsvError* error);
  const char* data() const { return data_ ? data_ : ""; }
  size_t size() const { return size_; }
  // True when pages of the file vanished while it was read (another process shortened it).
  const std::atomic<bool>& changed() const { return changed_; }
  // Drops the whole pages inside [begin, end) from the process's memory.
  void release(size_t begin, size_t end) const;

private:
  int fd_ = -1;
  char* data_ = nullptr;
  size_t size_ = 0;
  std::atomic<bool> changed_{false};
  GuardSlot* guard_ = nullptr;
};

} // namespace qrxhost
