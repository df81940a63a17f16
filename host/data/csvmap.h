// A CSV file mapped for reading, guarded against another process shortening it while it is
// read (a bus error then marks the file instead of ending the process). Parsing the mapped
// text is csvfile.cpp's.
#pragma once

#include "host/data/csvfile.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qrxhost {

// A slot of the bus-error guard, held while a file is mapped.
struct GuardSlot;

// A piece of a file mapped while a block of it is read (a file that is not mapped whole).
class MappedPiece {
public:
  MappedPiece() = default;
  MappedPiece(const MappedPiece&) = delete;
  MappedPiece& operator=(const MappedPiece&) = delete;
  ~MappedPiece();
  // Where byte 0 of the file would be: origin()[i] is byte i of the file for i in the piece.
  const char* origin() const { return reinterpret_cast<const char*>(origin_); }

private:
  friend class MappedFile;
  char* data_ = nullptr;
  size_t size_ = 0;
  uintptr_t origin_ = 0;
  GuardSlot* guard_ = nullptr;
};

// A file mapped for reading; pages the parse is done with are handed back as it goes, so
// that the mapped text does not stay resident beside the columns.
class MappedFile {
public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();
  // Opens and maps the file; false with the error (line 0) when it cannot be read. A file
  // the address space has no room for, or larger than mapBytes (when not 0), is left
  // unmapped, to be read piece by piece.
  bool open(const std::string& path, uint64_t mapBytes, CsvError* error);
  // True when the file is read piece by piece: data() is then empty.
  bool inPieces() const { return size_ > 0 && data_ == nullptr; }
  // Maps the bytes [begin, end) of a file read in pieces; false when they cannot be, the
  // system's reason kept for readError().
  bool mapPiece(size_t begin, size_t end, MappedPiece* piece) const;
  // The error of the first piece that could not be mapped, naming where it lies, its size,
  // the file's and the reason (empty when every piece was).
  std::string readError() const;
  // Reads up to n bytes from the file's start (the byte-order mark of a file in pieces).
  size_t readStart(char* out, size_t n) const;
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
  mutable std::atomic<bool> changed_{false};      // set by the bus-error guard
  mutable std::atomic<int> pieceErrno_{0};        // the first piece that could not be mapped
  mutable size_t pieceFrom_ = 0, pieceBytes_ = 0; // set once, by the thread that set the errno
  GuardSlot* guard_ = nullptr;
};

} // namespace qrxhost
