// Page files and the page-file vector of a BY group: records, creation and release, and
// the two page visitors (all files serially; one file for a page worker). The page layout
// is vsfpage.h's; the frame that chooses between the visitors is vsfthread.h's.
//
// VsfUtilFile, in order:
//   file            the page file of the page-file service, null before creation/after release
//   page            descriptor handed to the service and every kernel: page number (from 1;
//                   while reading the last disk page written, while visiting the page
//                   visited), buffer, reserved, page size in force
//   words           unused
//   path, pathLength  the path from the path service
//   memPages        in-memory page table (grows to memLimit entries as pages come)
//   diskPageCount   pages in the disk file
//   columnCount     design columns of the BY group
//   memLimit        most pages kept in memory (at least 1)
//   memPageCount    pages held in memory
//   closed          set while the file is closed between writing and reading
#pragma once

#include "support/hostif.h"
#include "support/messages.h"
#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>
#include <functional>

// The host path option that names the directory of utility and scratch files when no
// directory of their own is given.
inline constexpr QkChar kVsfUtilpath[] = U"UTILPATH";

// "<dir>/<stem><number>.utl" in an exact-size buffer of host characters (new[]; the caller
// deletes it); null when there is no memory. The directory is never cut to a fixed width.
QkChar* vsfNumberedPath(int64_t dirLength, const QkChar* dirName, const char* stem, int32_t number,
                        int64_t* length);

struct VsfPassState;
struct VsfPerfSettings;

struct VsfUtilFile {
  QkPageFile* file;
  QkPageDescriptor page;
  int64_t words[2];
  QkChar* path;
  int64_t pathLength;
  void** memPages;
  int64_t diskPageCount;
  uint32_t columnCount;
  uint32_t pad;
  int64_t memLimit;
  int64_t memPageCount;
  uint8_t closed;
  uint8_t pathOwned;   // the path is the record's own numbered name, not the path service's
  int64_t memCapacity; // entries of the page table; it grows to memLimit as pages come
  QkPool* tablePool;   // the pool of the page table
};

// The growable vector of the page files of a BY group.
struct VsfBagVec {
  VsfUtilFile* files;       // contiguous records
  uint32_t count;           // records in use
  uint32_t capacity;        // records allocated
  uint32_t growth;          // records added when full
  uint32_t largestPageSize; // largest page size of its files
  QkPool* pool;             // pool of the array (the BY group's)
  uint32_t flags;           // allocation flags
  QkExtension* pageService; // the page-file service of its files (set by add)
  QkExtension* pathService; // the path service of its files' directory (set by add)
};

// The host extensions the data layer uses, in this order.
struct QkExtensionSet {
  QkHandle* qk;
  QkExtension* qkpgf;
  QkExtension* qkbkf;
  QkExtension* qkupath;
  QkExtension* qkavlt;
  // The directory of the page and scratch files when a statement names one (SHAREDDRIVE$=
  // of MODELAVERAGE), a UTF-8 path; null: the directory of the host option UTILPATH.
  const char* utilDir;
  int64_t utilDirLength;
};

// A new path for a page or scratch file in the extension set's utility directory, from the
// path service (free it with qkupathFreePathname); 0 or the service's status.
[[nodiscard]] int32_t vsfNewUtilPath(QkExtensionSet* exts, QkChar** path, int64_t* length);

// Logs `message` (VsfMsg::UtilityFileNotCreated or VsfMsg::ScratchFileNotCreated) for a
// page or scratch file that could not be made: its path, or the utility directory of `exts`
// when no path could be made there, and the reason the system gave (`err`, 0 when none).
void vsfReportNotCreated(VsfMsg message, const QkExtensionSet* exts, const QkChar* path,
                         int64_t pathLength, int err);

// The PERFORMANCE settings the page files read: UTIL_PAGESIZE$ in kilobytes (0 not given).
struct VsfPerfSettings {
  int32_t utilPageSize;
  // The bytes every row of the pass takes on a page (0: rows differ): a standard page is cut
  // to the rows it holds, leaving no tail shorter than a row.
  int64_t rowBytes = 0;
};

// Kernel forms: serial (model, page) and threaded (model, page, buffer, length).
using VsfSerialKernel = VsfStatus (*)(VsfPassState* model, QkPageDescriptor* page);
using VsfThreadedKernel = VsfStatus (*)(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                        int64_t length);

// The step that failed, as vsfCreateUtil and vsfCreateScratch report it.
enum : uint8_t { kVsfCreatePathFailed = 1, kVsfCreateOpenFailed = 2 };

[[nodiscard]] VsfStatus vsfBagVecAlloc(VsfBagVec* vec, QkPool* pool, uint32_t count,
                                       uint32_t growth, uint32_t flags);
// The free bytes vsfUtilFreeBytes gives when the path service cannot tell them.
inline constexpr int64_t kVsfFreeBytesUnknown = -1;
// The bytes free in the utility directory (seam::utilFreeBytes when set);
// kVsfFreeBytesUnknown when that cannot be told.
[[nodiscard]] int64_t vsfUtilFreeBytes(QkExtension* pathService);
// Logs VsfMsg::PagesDoNotFitOnDisk: `need` bytes for the pages, the directory of `file`, the
// bytes free there.
void vsfReportDiskShort(double need, const VsfUtilFile& file, int64_t free);

[[nodiscard]] VsfStatus vsfBagVecAddElt(VsfBagVec* vec, QkExtensionSet* exts,
                                        const VsfPerfSettings* perf, int64_t request,
                                        VsfUtilFile** out);
void vsfBagVecRelease(VsfBagVec* vec, QkExtensionSet* exts);
[[nodiscard]] VsfStatus vsfBagInit(VsfUtilFile* rec, QkExtensionSet* exts,
                                   const VsfPerfSettings* perf, int64_t request);
void vsfBagRelease(VsfUtilFile* rec, QkExtensionSet* exts);
[[nodiscard]] int32_t vsfCreateUtil(VsfUtilFile* rec, QkExtensionSet* exts,
                                    const VsfPerfSettings* perf, int64_t request,
                                    uint8_t* createStatus);
void vsfFreeUtil(VsfUtilFile* rec, QkExtensionSet* exts);
// As vsfCreateUtil, but with number not 0 the file is "<dir>/util_<number>.utl" (the
// directory never cut), and the open fields are 2, 2, 2.
[[nodiscard]] int32_t vsfCreateUtil_(VsfUtilFile* rec, QkExtensionSet* exts,
                                     const VsfPerfSettings* perf, int64_t request,
                                     uint8_t* createStatus, int64_t dirLength,
                                     const QkChar* dirName, int32_t number);
// Opens the existing numbered page file "<dir>/util_<number>.utl" for reading, with the
// given page size. 0 or the failing status.
[[nodiscard]] int32_t vsfOpenSharedUtil(VsfUtilFile* rec, QkExtensionSet* exts, int64_t dirLength,
                                        const QkChar* dirName, int32_t number, uint32_t pageSize);

// Closes a file that received disk pages and reopens it for reading (update 2 when later
// passes rewrite pages, else 0; access the utility access setting). 0, or the status of the
// close (*step 1) or of the open (*step 2).
[[nodiscard]] int32_t vsfReopenUtil(VsfUtilFile* rec, QkExtensionSet* exts, int32_t access,
                                    bool rewrite, int32_t* step);

// True for the kernels that rewrite pages in place (the page transforms and the
// resample-frequency kernel), serial or threaded form.
[[nodiscard]] bool vsfKernelRewritesPages(const void* kernel);
// True for the resample-frequency kernel (serial form).
[[nodiscard]] bool vsfIsResampleKernel(VsfSerialKernel kernel);

// Whether every page of every file is held in memory.
[[nodiscard]] bool vsfAllPagesInMemory(const VsfBagVec* vec);
// Calls visit(f, j, k) for the pages held in memory in the order their rows were read, page k
// being page j = k / F of file f = k % F, until the pages end or visit returns false.
template <class Visit> void vsfEachPageInReadOrder(const VsfBagVec* vec, Visit visit) {
  const uint32_t F = vec->count;
  for (int64_t k = 0; F > 0; ++k) {
    const auto f = static_cast<uint32_t>(k % F);
    const int64_t j = k / F;
    if (j >= vec->files[f].memPageCount || !visit(f, j, k))
      return;
  }
}

// Calls visit(f, j) for the pages past those vsfEachPageInReadOrder visits, in the order
// their rows were read (held in memory or on disk), until the pages end or visit returns
// false.
template <class Visit> void vsfEachLaterPageInReadOrder(const VsfBagVec* vec, Visit visit) {
  const uint32_t F = vec->count;
  auto held = [vec, F](int64_t k) { return k / F < vec->files[k % F].memPageCount; };
  int64_t k = 0;
  while (F > 0 && held(k))
    ++k;
  for (; F > 0; ++k) {
    const VsfUtilFile& file = vec->files[k % F];
    const int64_t j = k / F;
    if (j >= file.memPageCount + file.diskPageCount || !visit(static_cast<uint32_t>(k % F), j))
      return;
  }
}

// Runs run(page) on page j of file f (a disk page read first and released after, through the
// file's own descriptor: one caller per file at a time); Ok, run's status or the page
// service's.
[[nodiscard]] VsfStatus vsfWithPage(VsfBagVec* vec, uint32_t f, int64_t j,
                                    const std::function<VsfStatus(const QkPageDescriptor&)>& run);

[[nodiscard]] VsfStatus vsfUtilRead(VsfPassState* model, VsfSerialKernel kernel);
// A page's call of a pass's kernel, in whichever form the visitor makes it.
using VsfPageRun = std::function<VsfStatus(QkPageDescriptor* page)>;
// vsfUtilRead calling kernel(page) on every page; `identity` (the pair's serial form) tells
// what the pass does to the pages.
[[nodiscard]] VsfStatus vsfUtilReadWith(VsfPassState* model, const void* identity,
                                        const VsfPageRun& kernel);
// vsfUtilReadByThreadsStoppable calling kernel(page) on every page of `rec`; `identity` (the
// pair's threaded form) tells what the pass does to the pages.
[[nodiscard]] VsfStatus vsfUtilReadFileWith(VsfPassState* model, const void* identity,
                                            VsfUtilFile* rec, const int32_t* stop,
                                            const VsfPageRun& kernel);
[[nodiscard]] VsfStatus vsfUtilReadByThreads(VsfPassState* model, VsfThreadedKernel kernel,
                                             double* buffer, int64_t length, VsfUtilFile* rec);
// The same, stopping before a page when *stop has become non-zero (another worker failed).
[[nodiscard]] VsfStatus vsfUtilReadByThreadsStoppable(VsfPassState* model, VsfThreadedKernel kernel,
                                                      double* buffer, int64_t length,
                                                      VsfUtilFile* rec, const int32_t* stop);
