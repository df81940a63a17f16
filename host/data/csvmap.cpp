// The bus-error guard over mapped CSV files and the mapping itself: a page that vanishes
// under the reader is replaced by zeros and the file marked as changed. Declared in
// csvmap.h; the parse of the mapped text is csvfile.cpp's.
#include "host/data/csvmap.h"
#include "host/ext/qkmemfig.h"
#include "host/pools.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrxhost {

// Mapped files whose pages may vanish when another process shortens the file. Touching such
// a page raises a bus error; the handler maps a page of zeros over it and marks the file, so
// that the parse runs to its end and the reader reports the change instead of the process
// dying. The slots are read by the handler, hence plain atomics and no allocation.
struct GuardSlot {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool>* changed = nullptr;
};

namespace {

constexpr size_t kGuardSlots = 256;
GuardSlot gGuards[kGuardSlots];
std::mutex gGuardMutex;
struct sigaction gPreviousBus {};
uintptr_t gPageSize = 4096;

void onBusError(int, siginfo_t* info, void*) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (GuardSlot& g : gGuards) {
    const uintptr_t b = g.begin.load(std::memory_order_acquire);
    if (b == 0 || at < b || at >= g.end.load(std::memory_order_acquire))
      continue;
    void* page = reinterpret_cast<void*>(at & ~(gPageSize - 1));
    if (::mmap(page, gPageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      g.changed->store(true);
      return;
    }
  }
  // Not a guarded mapping: the fault repeats under the handler that was there before.
  ::sigaction(SIGBUS, &gPreviousBus, nullptr);
}

void installBusHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    gPageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction sa {};
    sa.sa_sigaction = onBusError;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, &gPreviousBus);
  });
}

// Guards [p, p + n) until unguard; a mapping beyond the slots stays unguarded.
GuardSlot* guard(const char* p, size_t n, std::atomic<bool>* changed) {
  installBusHandler();
  std::lock_guard<std::mutex> lock(gGuardMutex);
  for (GuardSlot& g : gGuards)
    if (g.begin.load() == 0) {
      g.changed = changed;
      g.end.store(reinterpret_cast<uintptr_t>(p) + n, std::memory_order_release);
      g.begin.store(reinterpret_cast<uintptr_t>(p), std::memory_order_release);
      return &g;
    }
  return nullptr;
}

void unguard(GuardSlot* g) {
  if (!g)
    return;
  std::lock_guard<std::mutex> lock(gGuardMutex);
  g->begin.store(0);
  g->end.store(0);
}

// Whether a file of `size` bytes may be mapped whole: under an address-space limit, only
// when that leaves at least as much room again for the rest of the run (the columns, the
// procedure's memory); a larger file is read piece by piece.
bool roomForWhole(size_t size) { return size <= addressSpaceLeft() / 2; }

} // namespace

MappedFile::~MappedFile() {
  unguard(guard_);
  if (data_ && size_ > 0)
    ::munmap(data_, size_);
  if (fd_ >= 0)
    ::close(fd_);
}

namespace {

// "its N bytes cannot be mapped into memory: REASON".
std::string sizedReadError(size_t size, int err) {
  return "its " + std::to_string(size) +
         " bytes cannot be mapped into memory: " + std::strerror(err);
}

} // namespace

bool MappedFile::open(const std::string& path, uint64_t mapBytes, CsvError* error) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    const int err = errno;
    const bool sized = ::stat(path.c_str(), &st) == 0;
    *error = {0, "it cannot be opened" +
                     (sized ? " (" + std::to_string(st.st_size) + " bytes)" : std::string()) +
                     ": " + std::strerror(err)};
    return false;
  }
  size_ = static_cast<size_t>(st.st_size);
  if (size_ == 0)
    return true;
  if ((mapBytes > 0 && size_ > mapBytes) || !roomForWhole(size_))
    return true; // read piece by piece
  void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
  if (p == MAP_FAILED && errno == ENOMEM)
    return true; // no room for the whole file: it is read piece by piece
  if (p == MAP_FAILED) {
    *error = {0, sizedReadError(size_, errno)};
    return false;
  }
  data_ = static_cast<char*>(p);
  guard_ = guard(data_, size_, &changed_);
  ::madvise(data_, size_, MADV_SEQUENTIAL);
  return true;
}

void MappedFile::release(size_t begin, size_t end) const {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t b = (begin + page - 1) / page * page;
  const size_t e = end / page * page;
  if (data_ && e > b)
    ::madvise(data_ + b, e - b, MADV_DONTNEED);
}

bool MappedFile::mapPiece(size_t begin, size_t end, MappedPiece* piece) const {
  installBusHandler(); // which sets the page size
  const size_t from = begin / gPageSize * gPageSize;
  void* p = ::mmap(nullptr, end - from, PROT_READ, MAP_PRIVATE, fd_, static_cast<off_t>(from));
  if (p == MAP_FAILED) {
    const int err = errno;
    // A piece the address space has no room for is a memory request like any other: the
    // step's note then gives its size and the run's limit.
    if (err == ENOMEM)
      noteFailedRequest(end - from);
    std::lock_guard<std::mutex> lock(gGuardMutex);
    if (pieceErrno_.load() == 0) {
      pieceFrom_ = from;
      pieceBytes_ = end - from;
      pieceErrno_.store(err);
    }
    return false;
  }
  piece->data_ = static_cast<char*>(p);
  piece->size_ = end - from;
  piece->origin_ = reinterpret_cast<uintptr_t>(p) - from;
  piece->guard_ = guard(piece->data_, piece->size_, &changed_);
  return true;
}

std::string MappedFile::readError() const {
  std::lock_guard<std::mutex> lock(gGuardMutex);
  const int err = pieceErrno_.load();
  if (err == 0)
    return std::string();
  return "a piece of " + std::to_string(pieceBytes_) + " bytes at offset " +
         std::to_string(pieceFrom_) + " (of its " + std::to_string(size_) +
         " bytes) cannot be mapped into memory: " + std::strerror(err);
}

size_t MappedFile::readStart(char* out, size_t n) const {
  const ssize_t got = ::pread(fd_, out, n, 0);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

MappedPiece::~MappedPiece() {
  unguard(guard_);
  if (data_)
    ::munmap(data_, size_);
}

} // namespace qrxhost
