// The data page layout, as the reading pass writes it and every pass reads it:
//
//   bytes 0-7       row count, a double holding an integer
//   from 8 upward   each row's doubles, packed in row order:
//                   [weight][frequency][resample frequency] response, dense values,
//                   stored (non-zero) sparse values
//   from P8 down    each row's int32 codes, the first row's block ending at P8 (the page
//                   size rounded down to 8), each later row's block below the one before;
//                   within a block the first code is highest:
//                   [fold][role] one cumulative count per sparse effect, one column index
//                   per stored sparse value
//
// A row goes onto a page when 4 bytes more than the row are free. Also here: the page
// writer of the reading pass (pages k go to file k mod F as its page k div F, in memory
// below the file's limit, else as disk page j - limit + 1) and a cursor over a page's rows.
#pragma once

#include "data/vsfutilfile.h"
#include "support/stepcodes.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

// What a BY group's rows hold (the same on every page of the group).
struct VsfRowLayout {
  int32_t entryCount;
  const int32_t* denseOffset; // per entry, -1 sparse
  const int32_t* sparseList;  // the sparse entries in order
  int32_t sparseCount;
  int32_t denseColumns;
  uint8_t hasWeight, hasFreq, hasResample, hasFold, hasRole;
  int32_t codeCapacity; // the reading pass's staging room for codes (2N + 3)

  [[nodiscard]] int32_t fixedDoubles() const {
    return hasWeight + hasFreq + hasResample + 1 + denseColumns;
  }
  [[nodiscard]] int32_t fixedCodes() const { return hasFold + hasRole + sparseCount; }
};

// Page buffers made ready ahead of the page writer: taken from the page pool and written once
// by the threads that have time, so that the writer's first touch of a page costs no fault.
// They are cut from blocks of at least `target` pages and kVsfReserveBlockBytes (fewer where
// the allowance runs out): one allocation per block rather than one per page, since every
// growth of a thread's heap changes the address space and stalls the page faults of all
// threads. One thread makes a block while the reserve is short; the others go on with their
// rows. Pages held in memory are never freed one by one: the blocks go with the page pool.
inline constexpr size_t kVsfReserveBlockBytes = size_t{4} << 20;

struct VsfPageReserve {
  QkPool* pool = nullptr;
  uint32_t pageSize = 0;
  int32_t target = 0; // buffers to keep ready
  // Buffers it may still make: no more than the pages the files hold in memory, so that
  // under a small memory figure its blocks take no memory the plan gave elsewhere, nor than
  // the pages the rows to come can fill, so that wide pages are not touched for nothing.
  int64_t allowance = 0;
  int64_t making = 0; // buffers a thread is making now
  std::mutex mutex;
  std::vector<void*> ready;
};

// The most pages that `rows` rows of at most rowBytes bytes each open when they are written
// one after another (a page already open may take some of them first): a page closes only
// when a row no longer fits, so each but the last holds as many rows of rowBytes as fit.
[[nodiscard]] int64_t vsfPagesForRows(uint32_t pageSize, int64_t rows, int64_t rowBytes);

// Sets up a reserve of pages of pageSize from `pool` for `rows` rows of at most rowBytes
// bytes each: `ahead` buffers kept ready, and no more made in all than the pages those rows
// can fill or than the files still hold in memory (`inMemory`). False when it would make none.
[[nodiscard]] bool vsfPageReserveStart(VsfPageReserve* reserve, QkPool* pool, uint32_t pageSize,
                                       int64_t inMemory, int64_t rows, int64_t rowBytes,
                                       int64_t ahead);
// Keeps `target` buffers ready, counting those another thread is making (called by the
// reading threads between their blocks); false when the pool gives no more memory or the
// allowance is spent with none in the making (the writer then allocates for itself).
[[nodiscard]] bool vsfPageReserveTopUp(VsfPageReserve* reserve);
// Forgets the buffers not taken (their blocks go with the page pool).
void vsfPageReserveRelease(VsfPageReserve* reserve);

struct VsfPageWriter {
  int64_t pageNumber;   // the open page's number k
  int64_t pagesWritten; // pages closed so far
  unsigned char* page;
  uint32_t pageSize;
  int64_t next;   // next free byte for doubles
  int64_t lowest; // lowest byte used by codes
  int32_t rows;
  int32_t maxRows;
  bool open;
  VsfPageReserve* reserve; // buffers made ready for the pages held in memory, or null
};

[[nodiscard]] inline int64_t vsfPageEnd(uint32_t pageSize) {
  return static_cast<int64_t>(pageSize) & ~int64_t{7};
}

// The smallest page that holds as many rows of rowBytes bytes each as a page of pageSize.
[[nodiscard]] inline uint32_t vsfPageSizeFor(uint32_t pageSize, int64_t rowBytes) {
  const int64_t rows = rowBytes > 0 ? (vsfPageEnd(pageSize) - 8 - 4) / rowBytes : 0;
  if (rows < 1)
    return pageSize;
  return static_cast<uint32_t>((8 + rows * rowBytes + 4 + 7) & ~int64_t{7});
}

inline void vsfPageWriterStart(VsfPageWriter* w, VsfBagVec*) {
  std::memset(static_cast<void*>(w), 0, sizeof *w);
}

// Opens page k = pagesWritten: 0, -2 (page pool), or -7 (page-file service).
[[nodiscard]] VsfStatus vsfPageOpen(VsfPageWriter* w, VsfBagVec* bags, QkPool* pagePool);
// Places a row when it fits (4 spare bytes); false when it does not.
[[nodiscard]] bool vsfPagePut(VsfPageWriter* w, const double* doubles, int32_t nd,
                              const int32_t* codes, int32_t nc);
// Closes the open page into its file: Ok, or PageNotWritten after
// VsfMsg::UtilityPageNotWritten
// or VsfMsg::PagesDoNotFitOnDisk (the utility directory has too little room left).
[[nodiscard]] VsfStatus vsfPageClose(VsfPageWriter* w, VsfBagVec* bags);

// Reads (write false) or writes page page.pageNumber of a page file through the page-file
// service; on failure logs the file's path, the page's size in bytes and the system's reason,
// and returns the service's status.
[[nodiscard]] int32_t vsfFilePage(QkPgfExtension* pgf, VsfUtilFile* file, bool write);

// The multi-file forms of the interface.
[[nodiscard]] VsfStatus startNewPageInMultiFiles(VsfBagVec* bags, int64_t k, QkPool* pagePool,
                                                 void** page, double** firstDouble,
                                                 unsigned char** end);
[[nodiscard]] VsfStatus vsfWritePageInMultiFiles(VsfBagVec* bags, int64_t k, void* page);
// The same two steps for a single page file (page k is that file's page k).
[[nodiscard]] VsfStatus StartNewPage(VsfUtilFile* file, QkExtension* pageService, int64_t k,
                                     QkPool* pagePool, void** page, double** firstDouble,
                                     unsigned char** end);
[[nodiscard]] VsfStatus vsfWritePage(VsfUtilFile* file, QkExtension* pageService, int64_t k,
                                     void* page);

// Walks the rows of a page: after vsfRowCursorNext, doubles points at the row's first
// double and codeEnd one past its first code (the first code is codeEnd[-1]).
struct VsfRowCursor {
  unsigned char* page;
  int64_t rows;
  int64_t row;
  double* doubles;
  int32_t* codeEnd;
  double* nextDoubles;
  int32_t* nextCodeEnd;
  int32_t nd, nc;
};

void vsfRowCursorStart(VsfRowCursor* c, void* page, uint32_t pageSize);
[[nodiscard]] bool vsfRowCursorNext(VsfRowCursor* c, const VsfRowLayout* layout);
