// The page writer of the reading pass and the row cursor over a page, on the layout of
// vsfpage.h. Which rows to write and what they hold is the reading pass's.
#include "data/vsfpage.h"

#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/qknr.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Disk pages of a file between two looks at the utility directory's free space.
constexpr int64_t kDiskCheckPages = 256;

// Whether the utility directory has room for the next pages of `file`: looked at every
// kDiskCheckPages pages, so that a pass whose rows could not be counted ahead stops with
// twice that room left rather than fill the disk.
bool diskRoom(const VsfBagVec* bags, const VsfUtilFile& file) {
  if ((file.page.pageNumber - 1) % kDiskCheckPages != 0)
    return true;
  const int64_t free = vsfUtilFreeBytes(bags->pathService);
  const double chunk = static_cast<double>(kDiskCheckPages) * file.page.pageSize;
  if (free < 0 || static_cast<double>(free) >= 2.0 * chunk)
    return true;
  double written = 0.0;
  for (uint32_t f = 0; f < bags->count; ++f)
    written += static_cast<double>(bags->files[f].diskPageCount) * bags->files[f].page.pageSize;
  vsfReportDiskShort(written + 2.0 * chunk, file, free);
  return false;
}

} // namespace

VsfStatus startNewPageInMultiFiles(VsfBagVec* bags, int64_t k, QkPool* pagePool, void** page,
                                   double** firstDouble, unsigned char** end) {
  assert(k >= 0 && bags->count > 0 && "a page number and a file to hold it");
  VsfUtilFile& file = bags->files[k % bags->count];
  const int64_t j = k / bags->count;
  const uint32_t size = file.page.pageSize;
  void* buffer = nullptr;
  assert(vsfPageEnd(size) > 8 && "a page holds its row count and more");
  if (j < file.memLimit) {
    buffer = pagePool->allocate(pagePool, size, kQkZeroed);
    if (buffer == nullptr)
      return VsfStatus::NoMemory;
  } else {
    auto* pgf = reinterpret_cast<QkPgfExtension*>(bags->pageService);
    if (pgf->qkpgfNewPage(file.file, &buffer, 0) != 0 || buffer == nullptr)
      return VsfStatus::NoPage;
    std::memset(buffer, 0, size);
  }
  *page = buffer;
  *firstDouble = reinterpret_cast<double*>(static_cast<unsigned char*>(buffer) + 8);
  *end = static_cast<unsigned char*>(buffer) + vsfPageEnd(size);
  return VsfStatus::Ok;
}

VsfStatus vsfWritePageInMultiFiles(VsfBagVec* bags, int64_t k, void* page) {
  assert(k >= 0 && bags->count > 0 && "a page number and a file to hold it");
  VsfUtilFile& file = bags->files[k % bags->count];
  const int64_t j = k / bags->count;
  // A file's pages are visited in the order of their slots: a page out of turn would be read
  // with another page's rows.
  assert((j < file.memLimit ? j == file.memPageCount : j - file.memLimit == file.diskPageCount) &&
         "a file's pages are written in order");
  if (j < file.memLimit) {
    if (file.memPageCount == file.memCapacity) {
      int64_t grown = std::min(file.memLimit, std::max<int64_t>(2 * file.memCapacity, 1));
      void* table = file.tablePool->reallocate(file.tablePool, file.memPages,
                                               sizeof(void*) * static_cast<size_t>(grown), 0);
      if (table == nullptr)
        return VsfStatus::NoMemory;
      file.memPages = static_cast<void**>(table);
      file.memCapacity = grown;
    }
    file.memPages[file.memPageCount++] = page;
    return VsfStatus::Ok;
  }
  auto* pgf = reinterpret_cast<QkPgfExtension*>(bags->pageService);
  file.page.pageNumber = j - file.memLimit + 1;
  file.page.buffer = page;
  if (!diskRoom(bags, file))
    return VsfStatus::PageNotWritten;
  if (vsfFilePage(pgf, &file, true) != 0)
    return VsfStatus::PageNotWritten;
  file.diskPageCount = file.page.pageNumber;
  return VsfStatus::Ok;
}

namespace {

// Logs a failed page read or write of `file` with the reason the system gave (`err`).
void reportPageFailure(VsfMsg msg, const VsfUtilFile& file, int err) {
  const std::string path = qkUtf8(file.path, file.path != nullptr ? file.pathLength : 0);
  const char* reason = err != 0 ? std::strerror(err) : "the page-file service gave no reason";
  vsfLog(msg, {HostMsgArg(path.c_str(), static_cast<int32_t>(path.size())),
               HostMsgArg(static_cast<int64_t>(file.page.pageSize)), HostMsgArg(reason)});
}

} // namespace

int32_t vsfFilePage(QkPgfExtension* pgf, VsfUtilFile* file, bool write) {
  errno = 0;
  const int32_t rc = write ? pgf->qkpgfWritePage(file->file, &file->page, 0)
                           : pgf->qkpgfReadPage(file->file, &file->page, 0);
  if (rc != 0)
    reportPageFailure(write ? VsfMsg::UtilityPageNotWritten : VsfMsg::UtilityPageNotRead, *file,
                      errno);
  return rc;
}

namespace {

VsfBagVec single(VsfUtilFile* file, QkExtension* pageService) {
  VsfBagVec v{};
  v.files = file;
  v.count = v.capacity = 1;
  v.pageService = pageService;
  return v;
}

} // namespace

VsfStatus StartNewPage(VsfUtilFile* file, QkExtension* pageService, int64_t k, QkPool* pagePool,
                       void** page, double** firstDouble, unsigned char** end) {
  VsfBagVec v = single(file, pageService);
  return startNewPageInMultiFiles(&v, k, pagePool, page, firstDouble, end);
}

VsfStatus vsfWritePage(VsfUtilFile* file, QkExtension* pageService, int64_t k, void* page) {
  VsfBagVec v = single(file, pageService);
  return vsfWritePageInMultiFiles(&v, k, page);
}

namespace {

// The buffers of the next block this thread makes, at most `wanted`, taken from what the reserve
// may still make; 0 when those ready and those other threads are making reach the target, or
// when it may make no more. Buffers in the making count as ready: every worker that found the
// reserve short would otherwise add a block of its own, touching wide pages for no row.
size_t claimBlock(VsfPageReserve* reserve, size_t wanted) {
  std::lock_guard<std::mutex> lock(reserve->mutex);
  if (reserve->ready.size() + static_cast<size_t>(reserve->making) >=
      static_cast<size_t>(reserve->target))
    return 0;
  const size_t count =
      std::min<size_t>(wanted, static_cast<size_t>(std::max<int64_t>(reserve->allowance, 0)));
  reserve->allowance -= static_cast<int64_t>(count);
  reserve->making += static_cast<int64_t>(count);
  return count;
}

} // namespace

int64_t vsfPagesForRows(uint32_t pageSize, int64_t rows, int64_t rowBytes) {
  assert(rows >= 0 && rowBytes > 0 && "a count of rows of some bytes each");
  // A row goes on while 4 bytes more than it are free past the row count.
  const int64_t perPage = std::max<int64_t>((vsfPageEnd(pageSize) - 8 - 4) / rowBytes, 1);
  return (rows + perPage - 1) / perPage;
}

bool vsfPageReserveStart(VsfPageReserve* reserve, QkPool* pool, uint32_t pageSize, int64_t inMemory,
                         int64_t rows, int64_t rowBytes, int64_t ahead) {
  reserve->pool = pool;
  reserve->pageSize = pageSize;
  if (pageSize == 0 || rowBytes <= 0)
    return false;
  reserve->allowance = std::min(std::max<int64_t>(inMemory, 0),
                                vsfPagesForRows(pageSize, std::max<int64_t>(rows, 0), rowBytes));
  reserve->target =
      static_cast<int32_t>(std::clamp<int64_t>(std::min(ahead, reserve->allowance), 0, INT32_MAX));
  return reserve->target > 0;
}

bool vsfPageReserveTopUp(VsfPageReserve* reserve) {
  assert(reserve->pageSize > 0 && reserve->target >= 0 && "a reserve of pages of one size");
  // Blocks of at least kVsfReserveBlockBytes: fewer, larger blocks, each a mapping of its
  // own, keep the threads' first touches from queueing behind one another as much.
  const size_t wanted = std::max(static_cast<size_t>(reserve->target),
                                 (kVsfReserveBlockBytes + reserve->pageSize - 1) /
                                     static_cast<size_t>(reserve->pageSize));
  for (;;) {
    const size_t count = claimBlock(reserve, wanted);
    if (count == 0) {
      std::lock_guard<std::mutex> lock(reserve->mutex);
      return reserve->making > 0 || reserve->ready.size() >= static_cast<size_t>(reserve->target);
    }
    auto* block = static_cast<unsigned char*>(
        reserve->pool->allocate(reserve->pool, count * reserve->pageSize, kQkZeroed));
    if (block != nullptr)
      std::memset(block, 0, count * reserve->pageSize); // the first touch, here, not in the writer
    std::lock_guard<std::mutex> lock(reserve->mutex);
    reserve->making -= static_cast<int64_t>(count);
    if (block == nullptr)
      return false;
    for (size_t i = 0; i < count; ++i)
      reserve->ready.push_back(block + i * reserve->pageSize);
  }
}

void vsfPageReserveRelease(VsfPageReserve* reserve) {
  std::lock_guard<std::mutex> lock(reserve->mutex);
  reserve->ready.clear();
}

namespace {

// A ready buffer for page k when it is held in memory and one is ready, else null.
void* reservedBuffer(VsfPageWriter* w, VsfBagVec* bags, int64_t k, QkPool* pagePool) {
  assert(k >= 0 && bags->count > 0 && "a page number and a file to hold it");
  VsfPageReserve* r = w->reserve;
  const VsfUtilFile& file = bags->files[k % bags->count];
  if (r == nullptr || r->pool != pagePool || k / bags->count >= file.memLimit ||
      file.page.pageSize != r->pageSize)
    return nullptr;
  std::lock_guard<std::mutex> lock(r->mutex);
  if (r->ready.empty())
    return nullptr;
  void* buffer = r->ready.back();
  r->ready.pop_back();
  return buffer;
}

} // namespace

VsfStatus vsfPageOpen(VsfPageWriter* w, VsfBagVec* bags, QkPool* pagePool) {
  assert(!w->open && "a page is closed before the next one opens");
  void* page = nullptr;
  double* first = nullptr;
  unsigned char* end = nullptr;
  const int64_t k = w->pagesWritten;
  VsfStatus rc = VsfStatus::Ok;
  if ((page = reservedBuffer(w, bags, k, pagePool)) != nullptr) {
    first = reinterpret_cast<double*>(static_cast<unsigned char*>(page) + 8);
    end =
        static_cast<unsigned char*>(page) + vsfPageEnd(bags->files[k % bags->count].page.pageSize);
  } else {
    rc = startNewPageInMultiFiles(bags, k, pagePool, &page, &first, &end);
  }
  if (rc == VsfStatus::NoMemory)
    return VsfStatus::NoPage; // a page that cannot be started
  if (rc != VsfStatus::Ok)
    return rc;
  w->pageNumber = k;
  w->page = static_cast<unsigned char*>(page);
  w->pageSize = bags->files[k % bags->count].page.pageSize;
  w->next = 8;
  w->lowest = end - w->page;
  assert(w->lowest >= w->next + 4 && "a new page has room past its row count");
  w->rows = 0;
  w->open = true;
  return VsfStatus::Ok;
}

bool vsfPagePut(VsfPageWriter* w, const double* doubles, int32_t nd, const int32_t* codes,
                int32_t nc) {
  assert(w->open && nd >= 0 && nc >= 0 && "a row of doubles and codes goes to an open page");
  const int64_t b = 8 * static_cast<int64_t>(nd) + 4 * static_cast<int64_t>(nc);
  if (w->next + b > w->lowest - 4)
    return false;
  std::memcpy(w->page + w->next, doubles, 8 * static_cast<size_t>(nd));
  w->next += 8 * nd;
  w->lowest -= 4 * nc;
  std::memcpy(w->page + w->lowest, codes, 4 * static_cast<size_t>(nc));
  ++w->rows;
  return true;
}

VsfStatus vsfPageClose(VsfPageWriter* w, VsfBagVec* bags) {
  assert(w->open && w->next <= w->lowest &&
         "an open page is closed, its doubles clear of its codes");
  double count = w->rows;
  std::memcpy(w->page, &count, sizeof count);
  VsfStatus rc = vsfWritePageInMultiFiles(bags, w->pageNumber, w->page);
  w->open = false;
  if (rc != VsfStatus::Ok)
    return rc;
  w->maxRows = std::max(w->maxRows, w->rows);
  ++w->pagesWritten;
  return VsfStatus::Ok;
}

void vsfRowCursorStart(VsfRowCursor* c, void* page, uint32_t pageSize) {
  assert(page != nullptr && vsfPageEnd(pageSize) > 8 && "a page holds its row count and more");
  c->page = static_cast<unsigned char*>(page);
  double count;
  std::memcpy(&count, c->page, sizeof count);
  // Every row holds at least its response, one double after the count.
  assert(count >= 0 && 8 * count <= static_cast<double>(vsfPageEnd(pageSize) - 8) &&
         "a page starts with its row count");
  c->rows = static_cast<int64_t>(count);
  c->row = 0;
  c->nextDoubles = reinterpret_cast<double*>(c->page + 8);
  c->nextCodeEnd = reinterpret_cast<int32_t*>(c->page + vsfPageEnd(pageSize));
}

bool vsfRowCursorNext(VsfRowCursor* c, const VsfRowLayout* L) {
  if (c->row >= c->rows)
    return false;
  c->doubles = c->nextDoubles;
  c->codeEnd = c->nextCodeEnd;
  int32_t stored = 0;
  if (L->sparseCount > 0)
    stored = c->codeEnd[-(L->hasFold + L->hasRole + L->sparseCount)];
  c->nd = L->fixedDoubles() + stored;
  c->nc = L->fixedCodes() + stored;
  c->nextDoubles = c->doubles + c->nd;
  c->nextCodeEnd = c->codeEnd - c->nc;
  assert(stored >= 0 &&
         reinterpret_cast<unsigned char*>(c->nextDoubles) <=
             reinterpret_cast<unsigned char*>(c->nextCodeEnd) &&
         "a row's doubles, stored from the front, stay clear of its codes, stored from the end");
  ++c->row;
  return true;
}
