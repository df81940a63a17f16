// Page files of a BY group: the page-file vector, creating a page file through qkupath and
// qkpgf, releasing it, reopening it for reading, and the serial and per-worker page
// visitors. Page contents are the kernels' and the reading pass's business.
#include "data/vsfutilfile.h"

#include "data/vsfpage.h"
#include "data/vsfpassstate.h"
#include "data/vsfthread.h"
#include "support/groupname.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/qknr.h"
#include "support/qkupath.h"
#include "support/seams.h"
#include "support/sizetext.h"
#include "support/stepcodes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

QkPgfExtension* pgfOf(QkExtensionSet* exts) {
  return reinterpret_cast<QkPgfExtension*>(exts->qkpgf);
}
QkUpathExtension* upathOf(QkExtensionSet* exts) {
  return reinterpret_cast<QkUpathExtension*>(exts->qkupath);
}

// Reports a failed creation of `rec` (`err` the reason the system gave): the failing call and
// status in the journal, then VsfMsg::UtilityFileNotCreated.
void reportCreateFailure(const QkExtensionSet* exts, const VsfUtilFile& rec, uint8_t createStatus,
                         int32_t rc, int err) {
  QkHandle* qk = Exported_QKHandle;
  if (createStatus != 0 && qk != nullptr && qk->journal != nullptr &&
      qk->journal->report != nullptr) {
    char text[96];
    std::snprintf(text, sizeof text,
                  createStatus == kVsfCreatePathFailed
                      ? "qkupathGetPathnameDirect failed with qkrc = %d"
                      : "qkpgfOpen failed with qkrc = %d",
                  rc);
    qk->journal->report(qk->journal, static_cast<uint32_t>(rc), 2, text);
  }
  vsfReportNotCreated(VsfMsg::UtilityFileNotCreated, exts, rec.path, rec.pathLength, err);
}

// Runs the kernel on one disk page: read, run, then write back (rewriting kernels) or
// release. The descriptor's number is set by the caller. The page service's codes keep their
// numbers as statuses: the pass's report names them.
template <class Run>
[[nodiscard]] VsfStatus visitDiskPage(QkPgfExtension* pgf, VsfUtilFile* rec, bool rewrite,
                                      Run run) {
  if (const int32_t rc = pgf->qkpgfReadPage(rec->file, &rec->page, 0); rc != 0)
    return statusFromCode(rc);
  if (const VsfStatus rc = run(); rc != VsfStatus::Ok) {
    pgf->qkpgfReleasePage(rec->file, rec->page.buffer, 0);
    return rc;
  }
  return statusFromCode(rewrite ? pgf->qkpgfWritePage(rec->file, &rec->page, 0)
                                : pgf->qkpgfReleasePage(rec->file, rec->page.buffer, 0));
}

} // namespace

VsfStatus vsfBagVecAlloc(VsfBagVec* vec, QkPool* pool, uint32_t count, uint32_t growth,
                         uint32_t flags) {
  vec->files = nullptr;
  if (count > 0) {
    vec->files = static_cast<VsfUtilFile*>(
        pool->allocate(pool, sizeof(VsfUtilFile) * count, flags | kQkZeroed));
    if (vec->files == nullptr)
      return VsfStatus::NoMemory;
  }
  vec->count = 0;
  vec->capacity = count;
  vec->largestPageSize = 0;
  vec->pool = pool;
  vec->growth = growth;
  vec->flags = flags;
  return VsfStatus::Ok;
}

VsfStatus vsfBagVecAddElt(VsfBagVec* vec, QkExtensionSet* exts, const VsfPerfSettings* perf,
                          int64_t request, VsfUtilFile** out) {
  *out = nullptr;
  if (vec->count >= vec->capacity) {
    uint32_t capacity = vec->capacity + (vec->growth == 0 ? 1 : vec->growth);
    void* grown =
        vec->files == nullptr
            ? vec->pool->allocate(vec->pool, sizeof(VsfUtilFile) * capacity, vec->flags | kQkZeroed)
            : vec->pool->reallocate(vec->pool, vec->files, sizeof(VsfUtilFile) * capacity,
                                    vec->flags | kQkZeroed);
    if (grown == nullptr)
      return VsfStatus::NoMemory;
    vec->files = static_cast<VsfUtilFile*>(grown);
    vec->capacity = capacity;
  }
  vec->pageService = exts->qkpgf;
  vec->pathService = exts->qkupath;
  VsfUtilFile* rec = &vec->files[vec->count++];
  *out = rec;
  std::memset(static_cast<void*>(rec), 0, sizeof *rec);
  uint8_t createStatus = 0;
  errno = 0;
  const int32_t rc = vsfCreateUtil(rec, exts, perf, request, &createStatus);
  if (rc != 0) {
    reportCreateFailure(exts, *rec, createStatus, rc, errno);
    return VsfStatus::UtilFileNotMade;
  }
  vec->largestPageSize = std::max(vec->largestPageSize, rec->page.pageSize);
  return VsfStatus::Ok;
}

VsfStatus vsfBagInit(VsfUtilFile* rec, QkExtensionSet* exts, const VsfPerfSettings* perf,
                     int64_t request) {
  std::memset(static_cast<void*>(rec), 0, sizeof *rec);
  uint8_t createStatus = 0;
  errno = 0;
  const int32_t rc = vsfCreateUtil(rec, exts, perf, request, &createStatus);
  if (rc != 0) {
    reportCreateFailure(exts, *rec, createStatus, rc, errno);
    return VsfStatus::UtilFileNotMade;
  }
  return VsfStatus::Ok;
}

void vsfBagRelease(VsfUtilFile* rec, QkExtensionSet* exts) { vsfFreeUtil(rec, exts); }

void vsfBagVecRelease(VsfBagVec* vec, QkExtensionSet* exts) {
  if (vec->files == nullptr)
    return;
  for (uint32_t i = 0; i < vec->count; ++i)
    vsfFreeUtil(&vec->files[i], exts);
  if (vec->pool != nullptr)
    vec->pool->free(vec->pool, vec->files);
  vec->files = nullptr;
  vec->capacity = 0;
  vec->count = 0;
}

QkChar* vsfNumberedPath(int64_t dirLength, const QkChar* dirName, const char* stem, int32_t number,
                        int64_t* length) {
  std::u32string out(dirName != nullptr ? dirName : U"", dirName != nullptr ? dirLength : 0);
  std::string name = "/";
  name += stem;
  name += std::to_string(number);
  name += ".utl";
  for (char c : name)
    out += static_cast<char32_t>(static_cast<unsigned char>(c));
  auto* path = new (std::nothrow) QkChar[out.size() + 1];
  if (path == nullptr)
    return nullptr;
  std::memcpy(path, out.data(), out.size() * sizeof(QkChar));
  path[out.size()] = 0;
  *length = static_cast<int64_t>(out.size());
  return path;
}

void vsfReportNotCreated(VsfMsg message, const QkExtensionSet* exts, const QkChar* path,
                         int64_t pathLength, int err) {
  std::string where;
  if (path != nullptr) {
    where = "the file " + qkUtf8(path, pathLength);
  } else if (exts != nullptr && exts->utilDir != nullptr) {
    where = "in the directory " + std::string(exts->utilDir, size_t(exts->utilDirLength));
  } else {
    char dir[4096];
    const int32_t n = xoption("UTILPATH", dir, static_cast<int32_t>(sizeof dir));
    where = n > 0 ? "in the directory " + std::string(dir, static_cast<size_t>(n))
                  : std::string("in the system's temporary directory");
  }
  const char* reason = err != 0 ? std::strerror(err) : "the file service gave no reason";
  vsfLog(message,
         {HostMsgArg(where.c_str(), static_cast<int32_t>(where.size())), HostMsgArg(reason)});
}

int32_t vsfNewUtilPath(QkExtensionSet* exts, QkChar** path, int64_t* length) {
  QkUpathExtension* up = upathOf(exts);
  if (up == nullptr)
    return kQkNoObject;
  if (exts->utilDir != nullptr)
    return up->qkupathGetPathnameIn == nullptr
               ? kQkNoObject
               : up->qkupathGetPathnameIn(up, exts->utilDir, exts->utilDirLength, path, length);
  return up->qkupathGetPathnameDirect(up, kVsfUtilpath, 8, -1, path, length, 0);
}

namespace {

[[nodiscard]] int32_t createUtil(VsfUtilFile* rec, QkExtensionSet* exts,
                                 const VsfPerfSettings* perf, int64_t request,
                                 uint8_t* createStatus, int64_t dirLength, const QkChar* dirName,
                                 int32_t number) {
  *createStatus = 0;
  QkUpathExtension* up = upathOf(exts);
  QkPgfExtension* pgf = pgfOf(exts);
  if ((number == 0 && up == nullptr) || pgf == nullptr)
    return kQkNoObject;
  if (number != 0) {
    rec->path = vsfNumberedPath(dirLength, dirName, "util_", number, &rec->pathLength);
    if (rec->path == nullptr) {
      *createStatus = kVsfCreatePathFailed;
      return kVsfNoMemory;
    }
    rec->pathOwned = 1;
  } else {
    int32_t rc = vsfNewUtilPath(exts, &rec->path, &rec->pathLength);
    if (rc != 0) {
      rec->path = nullptr;
      rec->pathLength = 0;
      *createStatus = kVsfCreatePathFailed;
      return rc;
    }
  }
  int32_t rc;
  QkPageFile* file = pgf->qkpgfCreate(pgf, 0);
  if (file == nullptr)
    return kQkNoObject;
  rec->file = file; // released by vsfFreeUtil whatever happens below
  rc = pgf->qkpgfSetPath(file, rec->path, rec->pathLength, 0);
  uint32_t sizes[3] = {0, 0, 0};
  if (rc == 0)
    rc = pgf->qkpgfGetAttributes(file, sizes, 0);
  if (rc != 0)
    return rc;
  // A page holds at least one row: never below the request, which is sized for one row.
  auto r = static_cast<uint64_t>(request < 1 ? 1 : request);
  uint64_t pageSize, companion;
  if (r <= sizes[0]) {
    pageSize = companion = sizes[0];
  } else if (r <= sizes[1]) {
    pageSize = companion = sizes[1];
  } else {
    pageSize = r;
    companion = sizes[2];
  }
  // Rows of one size: the default page, cut after the rows it holds. Sizes set by hand (the
  // PERFORMANCE page size, or a host whose standard sizes are all one) stay as given.
  if (perf != nullptr && perf->rowBytes > 0 && pageSize == sizes[0] && sizes[0] != sizes[1])
    pageSize = companion = vsfPageSizeFor(static_cast<uint32_t>(pageSize), perf->rowBytes);
  if (perf != nullptr && perf->utilPageSize > 0 &&
      static_cast<uint64_t>(perf->utilPageSize) * 1024u >= r) {
    pageSize = static_cast<uint64_t>(perf->utilPageSize) * 1024u;
    companion = sizes[2];
  }
  if (pageSize > 0x7FFFFFF8u)
    return kQkPgfBadState;
  QkPgfAttributes attrs{};
  attrs.pageSize = static_cast<uint32_t>(pageSize);
  attrs.companionSize = static_cast<uint32_t>(companion);
  rc = pgf->qkpgfSetAttributes(file, &attrs, 0);
  if (rc != 0)
    return rc;
  file->accessMode = kQkPgfCreate;
  file->count = number != 0 ? 2 : 1;
  file->sharing = kQkPgfRandom;
  file->update = number != 0 ? kQkPgfRewrite : kQkPgfReadOnly;
  file->flagA = 1;
  file->flagB = 1;
  rc = pgf->qkpgfOpen(file, 0);
  if (rc != 0) {
    *createStatus = kVsfCreateOpenFailed;
    return rc;
  }
  rec->page = QkPageDescriptor{};
  rec->page.pageSize = file->pageSize;
  rec->words[0] = rec->words[1] = 0;
  rec->diskPageCount = 0;
  rec->columnCount = 0;
  rec->memLimit = 0;
  rec->memPageCount = 0;
  rec->closed = 0;
  return 0;
}

} // namespace

int32_t vsfCreateUtil(VsfUtilFile* rec, QkExtensionSet* exts, const VsfPerfSettings* perf,
                      int64_t request, uint8_t* createStatus) {
  return createUtil(rec, exts, perf, request, createStatus, 0, nullptr, 0);
}

int32_t vsfCreateUtil_(VsfUtilFile* rec, QkExtensionSet* exts, const VsfPerfSettings* perf,
                       int64_t request, uint8_t* createStatus, int64_t dirLength,
                       const QkChar* dirName, int32_t number) {
  return createUtil(rec, exts, perf, request, createStatus, dirLength, dirName, number);
}

int32_t vsfOpenSharedUtil(VsfUtilFile* rec, QkExtensionSet* exts, int64_t dirLength,
                          const QkChar* dirName, int32_t number, uint32_t pageSize) {
  QkPgfExtension* pgf = pgfOf(exts);
  if (pgf == nullptr)
    return kQkNoObject;
  rec->path = vsfNumberedPath(dirLength, dirName, "util_", number, &rec->pathLength);
  if (rec->path == nullptr)
    return kVsfNoMemory;
  rec->pathOwned = 1;
  QkPageFile* file = pgf->qkpgfCreate(pgf, 0);
  if (file == nullptr)
    return kQkNoObject;
  rec->file = file;
  int32_t rc = pgf->qkpgfSetPath(file, rec->path, rec->pathLength, 0);
  if (rc != 0)
    return rc;
  QkPgfAttributes attrs{};
  attrs.pageSize = attrs.companionSize = pageSize;
  rc = pgf->qkpgfSetAttributes(file, &attrs, 0);
  if (rc != 0)
    return rc;
  file->accessMode = kQkPgfReopen;
  file->sharing = kQkPgfRandom;
  file->update = kQkPgfReadOnly;
  rc = pgf->qkpgfOpen(file, 0);
  if (rc != 0)
    return rc;
  rec->page = QkPageDescriptor{};
  rec->page.pageSize = file->pageSize;
  return 0;
}

void vsfFreeUtil(VsfUtilFile* rec, QkExtensionSet* exts) {
  if (rec == nullptr)
    return;
  QkPgfExtension* pgf = pgfOf(exts);
  if (rec->file != nullptr && pgf != nullptr) {
    if (rec->closed)
      pgf->qkpgfDelete(rec->file, 0);
    else
      pgf->qkpgfClose(rec->file, 1, 0);
    pgf->qkpgfDestroy(rec->file, 0);
  }
  rec->file = nullptr;
  QkUpathExtension* up = upathOf(exts);
  if (rec->path != nullptr && rec->pathOwned)
    delete[] rec->path;
  else if (rec->path != nullptr && up != nullptr)
    up->qkupathFreePathname(up, rec->path);
  rec->path = nullptr;
  rec->pathLength = 0;
  rec->pathOwned = 0;
}

int32_t vsfReopenUtil(VsfUtilFile* rec, QkExtensionSet* exts, int32_t access, bool rewrite,
                      int32_t* step) {
  QkPgfExtension* pgf = pgfOf(exts);
  rec->closed = 1;
  int32_t rc = pgf->qkpgfClose(rec->file, 0, 0);
  if (rc != 0) {
    *step = 1;
    return rc;
  }
  rec->file->accessMode = kQkPgfReopen;
  rec->file->sharing = access;
  rec->file->update = rewrite ? kQkPgfRewrite : kQkPgfReadOnly;
  rc = pgf->qkpgfOpen(rec->file, 0);
  if (rc != 0) {
    *step = 2;
    return rc;
  }
  rec->closed = 0;
  return 0;
}

bool vsfKernelRewritesPages(const void* kernel) {
  return vsfKernelPageUse(kernel) != VsfPageUse::Reads;
}

bool vsfIsResampleKernel(VsfSerialKernel kernel) {
  return vsfKernelPageUse(reinterpret_cast<const void*>(kernel)) == VsfPageUse::Resamples;
}

bool vsfAllPagesInMemory(const VsfBagVec* vec) {
  for (uint32_t f = 0; f < vec->count; ++f)
    if (vec->files[f].diskPageCount != 0)
      return false;
  return true;
}

namespace {

// Every page in the order its rows were read. With the pages in memory a pass then sums the
// rows in the order a single thread's one file holds them, whatever the number of files.
[[nodiscard]] VsfStatus visitInReadOrder(VsfPassState* model, const VsfPageRun& kernel) {
  VsfBagVec* vec = model->bags;
  VsfStatus rc = VsfStatus::Ok;
  vsfEachPageInReadOrder(vec, [&](uint32_t f, int64_t j, int64_t) {
    VsfUtilFile* rec = &vec->files[f];
    rec->page.buffer = rec->memPages[j];
    rec->page.pageNumber = 0;
    rc = kernel(&rec->page);
    return rc == VsfStatus::Ok;
  });
  return rc;
}

} // namespace

VsfStatus vsfUtilRead(VsfPassState* model, VsfSerialKernel kernel) {
  return vsfUtilReadWith(model, reinterpret_cast<const void*>(kernel),
                         [&](QkPageDescriptor* page) { return kernel(model, page); });
}

VsfStatus vsfUtilReadWith(VsfPassState* model, const void* identity, const VsfPageRun& kernel) {
  VsfBagVec* vec = model->bags;
  if (model->resampler != nullptr)
    model->resampler->freqReadPos = model->resampler->freqStartPos;
  if (vec == nullptr || vec->files == nullptr || vec->count == 0)
    return VsfStatus::Ok;
  auto* pgf = reinterpret_cast<QkPgfExtension*>(vec->pageService);
  const uint32_t F = vec->count;
  bool rewrite = vsfKernelRewritesPages(identity);
  if (vsfKernelPageUse(identity) == VsfPageUse::Resamples) {
    // Reading order: page j of every file in file order, in memory first, then on disk.
    VsfUtilFile* files = vec->files;
    for (int64_t j = 0; j < files[0].memPageCount; ++j)
      for (uint32_t f = 0; f < F; ++f) {
        if (files[f].memPageCount <= j)
          break;
        files[f].page.buffer = files[f].memPages[j];
        files[f].page.pageNumber = 0;
        VsfStatus rc = kernel(&files[f].page);
        if (rc != VsfStatus::Ok)
          return rc;
      }
    for (int64_t n = 1; n <= files[0].diskPageCount; ++n)
      for (uint32_t f = 0; f < F; ++f) {
        if (files[f].diskPageCount < n)
          break;
        files[f].page.pageNumber = n;
        VsfStatus rc = visitDiskPage(pgf, &files[f], true, [&] { return kernel(&files[f].page); });
        if (rc != VsfStatus::Ok)
          return rc;
      }
    return VsfStatus::Ok;
  }
  if (vsfAllPagesInMemory(vec))
    return visitInReadOrder(model, kernel);
  for (uint32_t f = 0; f < F; ++f) {
    VsfUtilFile* rec = &vec->files[f];
    for (int64_t j = 0; j < rec->memPageCount; ++j) {
      rec->page.buffer = rec->memPages[j];
      rec->page.pageNumber = 0;
      VsfStatus rc = kernel(&rec->page);
      if (rc != VsfStatus::Ok)
        return rc;
    }
    for (int64_t n = 1; n <= rec->diskPageCount; ++n) {
      rec->page.pageNumber = n;
      VsfStatus rc = visitDiskPage(pgf, rec, rewrite, [&] { return kernel(&rec->page); });
      if (rc != VsfStatus::Ok)
        return rc;
    }
  }
  return VsfStatus::Ok;
}

VsfStatus vsfWithPage(VsfBagVec* vec, uint32_t f, int64_t j,
                      const std::function<VsfStatus(const QkPageDescriptor&)>& run) {
  VsfUtilFile* rec = &vec->files[f];
  if (j < rec->memPageCount) {
    QkPageDescriptor page = rec->page;
    page.buffer = rec->memPages[j];
    page.pageNumber = 0;
    return run(page);
  }
  auto* pgf = reinterpret_cast<QkPgfExtension*>(vec->pageService);
  rec->page.pageNumber = j - rec->memPageCount + 1;
  return visitDiskPage(pgf, rec, false, [&] { return run(rec->page); });
}

VsfStatus vsfUtilReadByThreadsStoppable(VsfPassState* model, VsfThreadedKernel kernel,
                                        double* buffer, int64_t length, VsfUtilFile* rec,
                                        const int32_t* stop) {
  return vsfUtilReadFileWith(
      model, reinterpret_cast<const void*>(kernel), rec, stop,
      [&](QkPageDescriptor* page) { return kernel(model, page, buffer, length); });
}

VsfStatus vsfUtilReadFileWith(VsfPassState* model, const void* identity, VsfUtilFile* rec,
                              const int32_t* stop, const VsfPageRun& kernel) {
  auto* pgf = reinterpret_cast<QkPgfExtension*>(model->bags->pageService);
  bool rewrite = vsfKernelRewritesPages(identity);
  auto stopped = [stop] { return stop != nullptr && __atomic_load_n(stop, __ATOMIC_ACQUIRE) != 0; };
  for (int64_t j = 0; j < rec->memPageCount; ++j) {
    if (stopped())
      return VsfStatus::Ok;
    rec->page.buffer = rec->memPages[j];
    rec->page.pageNumber = 0;
    VsfStatus rc = kernel(&rec->page);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  for (int64_t n = 1; n <= rec->diskPageCount; ++n) {
    if (stopped())
      return VsfStatus::Ok;
    rec->page.pageNumber = n;
    VsfStatus rc = visitDiskPage(pgf, rec, rewrite, [&] { return kernel(&rec->page); });
    if (rc != VsfStatus::Ok)
      return rc;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfUtilReadByThreads(VsfPassState* model, VsfThreadedKernel kernel, double* buffer,
                               int64_t length, VsfUtilFile* rec) {
  return vsfUtilReadByThreadsStoppable(model, kernel, buffer, length, rec, nullptr);
}

int64_t vsfUtilFreeBytes(QkExtension* pathService) {
  if (const int64_t forced = seam::utilFreeBytes(); forced >= 0)
    return forced;
  auto* up = reinterpret_cast<QkUpathExtension*>(pathService);
  if (up == nullptr || up->qkupathFreeBytes == nullptr)
    return kVsfFreeBytesUnknown;
  return up->qkupathFreeBytes(up, kVsfUtilpath, 8);
}

void vsfReportDiskShort(double need, const VsfUtilFile& file, int64_t free) {
  const std::string path = qkUtf8(file.path, file.path != nullptr ? file.pathLength : 0);
  const size_t slash = path.find_last_of('/');
  const std::string dir =
      slash == std::string::npos ? path : path.substr(0, std::max<size_t>(slash, 1));
  char needText[32], freeText[32];
  vsfSizeText(need, needText, sizeof needText);
  vsfSizeText(static_cast<double>(free), freeText, sizeof freeText);
  vsfLog(VsfMsg::PagesDoNotFitOnDisk,
         {HostMsgArg(needText), HostMsgArg(dir.c_str(), static_cast<int32_t>(dir.size())),
          HostMsgArg(freeText), vsfGroupName()});
}
