// Anonymous mappings for large column arrays: allocation, release, and handing back the
// pages of values already read. Which arrays take a mapping is decided in colmem.h.
#include "host/data/colmem.h"
#include "host/pools.h"

#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace qrxhost {

namespace {
size_t systemPage() {
  static const size_t page = [] {
    const long p = ::sysconf(_SC_PAGESIZE);
    return p > 0 ? static_cast<size_t>(p) : size_t{4096};
  }();
  return page;
}
} // namespace

void* mapColumnBytes(size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    noteFailedRequest(bytes); // named by the step's note when it fails
    throw std::bad_alloc();
  }
  return p;
}

void unmapColumnBytes(void* block, size_t bytes) {
  if (block != nullptr)
    ::munmap(block, bytes);
}

void dropColumnBytes(const void* block, size_t upTo) {
  const size_t whole = upTo / systemPage() * systemPage();
  if (block != nullptr && whole > 0)
    ::madvise(const_cast<void*>(block), whole, MADV_DONTNEED);
}

} // namespace qrxhost
