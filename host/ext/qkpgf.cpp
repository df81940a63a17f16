// The "qkpgf" extension: files of fixed-size pages addressed by number from 1. Page n lives
// at (n - 1) x page size of a real file (positioned reads and writes); the first pages are
// kept in memory and reach the file only when a close keeps it, so a kept file is whole and
// can be reopened by this object or opened by another. Paths come from the caller.
#include "host/ext/qkpgf.h"

#include "host/ext/qkupath.h"
#include "host/seams.h"
#include "host/supervisor.h"
#include "support/qkpgf.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

struct QkPgfState {
  std::string path;
  uint32_t sizes[3];
  uint32_t pageSize = 0;
  int64_t memoryPages = 0;
  bool attributesSet = false;
  bool open = false;
  bool readOnly = false;
  bool onDisk = false; // this object made the file and it exists on disk
  bool shared = false; // opened a file another object made (never deleted from here)
  int fd = -1;
  int64_t lastPage = 0; // the highest page number written
  std::vector<std::unique_ptr<unsigned char[]>> memory;
  std::unique_ptr<unsigned char[]> buffer;
};

namespace qrxhost {
namespace {

std::atomic<int> gLiveFiles{0};
std::atomic<uint32_t> gDefaultSize{16384};
std::atomic<uint32_t> gSecondSize{65536};
std::atomic<uint32_t> gCompanionSize{8192};
std::atomic<int64_t> gMemoryPages{2};

bool fullWrite(int fd, const unsigned char* data, size_t n, off_t at) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, data, n, at);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0) {
      if (w == 0)
        errno = EIO; // nothing written and no reason given: report it as an I/O error
      return false;
    }
    data += w;
    n -= static_cast<size_t>(w);
    at += w;
  }
  return true;
}

bool fullRead(int fd, unsigned char* data, size_t n, off_t at) {
  while (n > 0) {
    ssize_t r = ::pread(fd, data, n, at);
    if (r < 0 && errno == EINTR)
      continue;
    if (r <= 0)
      return false;
    data += r;
    n -= static_cast<size_t>(r);
    at += r;
  }
  return true;
}

QkPageFile* create(QkPgfExtension*, int32_t) {
  auto* file = new (std::nothrow) QkPageFile{};
  if (file == nullptr)
    return nullptr;
  file->state = new (std::nothrow) QkPgfState{};
  if (file->state == nullptr) {
    delete file;
    return nullptr;
  }
  file->state->sizes[0] = gDefaultSize;
  file->state->sizes[1] = gSecondSize;
  file->state->sizes[2] = gCompanionSize;
  // Host option PAGEFILE_PAGESIZE=n (bytes) makes every standard size n, so that whole runs
  // can be tested with the smallest pages.
  if (auto v = hostOption("PAGEFILE_PAGESIZE"); v && !v->empty()) {
    char* end = nullptr;
    unsigned long n = std::strtoul(v->c_str(), &end, 10);
    if (end != v->c_str() && *end == '\0' && n >= 8 && n <= 0x7FFFFFF8ul)
      for (uint32_t& size : file->state->sizes)
        size = static_cast<uint32_t>(n);
  }
  return file;
}

int32_t setPath(QkPageFile* file, const QkChar* path, int64_t length, int32_t) {
  if (file == nullptr || path == nullptr || length <= 0)
    return kQkPgfBadState;
  if (file->state->open)
    return kQkPgfBadState;
  file->state->path = pathToNarrow(path, length);
  return 0;
}

int32_t getAttributes(QkPageFile* file, uint32_t sizes[3], int32_t) {
  if (file == nullptr || sizes == nullptr)
    return kQkPgfBadState;
  for (int i = 0; i < 3; ++i)
    sizes[i] = file->state->sizes[i];
  return 0;
}

int32_t setAttributes(QkPageFile* file, const QkPgfAttributes* attrs, int32_t) {
  if (file == nullptr || attrs == nullptr || attrs->pageSize == 0 || file->state->open)
    return kQkPgfBadState;
  file->state->pageSize = attrs->pageSize;
  file->state->attributesSet = true;
  return 0;
}

void forgetDiskFile(QkPgfState* s) {
  if (s->fd >= 0) {
    ::close(s->fd);
    s->fd = -1;
  }
  if (s->onDisk) {
    ::unlink(s->path.c_str());
    s->onDisk = false;
    utilityFileGone(s->path);
  }
}

int32_t openFile(QkPageFile* file, int32_t) {
  if (file == nullptr)
    return kQkNoObject;
  QkPgfState* s = file->state;
  if (s->open || s->path.empty())
    return kQkPgfBadState;
  if (file->accessMode == kQkPgfCreate) {
    if (!s->attributesSet)
      s->pageSize = s->sizes[0];
    int fd = openUtilityFile(s->path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC);
    if (fd < 0)
      return kQkPgfIoError;
    s->fd = fd;
    s->onDisk = true;
    utilityFileMade(s->path);
    s->memoryPages = gMemoryPages;
    s->memory.clear();
    s->lastPage = 0;
    s->readOnly = false;
  } else if (file->accessMode == kQkPgfReopen) {
    s->readOnly = file->update != kQkPgfRewrite;
    int fd = ::open(s->path.c_str(), (s->readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0)
      return kQkPgfIoError;
    if (!s->onDisk) {
      // A file that another object made and kept: every page is in the file.
      if (!s->attributesSet)
        s->pageSize = s->sizes[0];
      struct stat st;
      if (s->pageSize == 0 || ::fstat(fd, &st) != 0) {
        ::close(fd);
        return kQkPgfIoError;
      }
      s->shared = true;
      s->memoryPages = 0;
      s->memory.clear();
      s->lastPage = static_cast<int64_t>(st.st_size) / s->pageSize;
    }
    s->fd = fd;
  } else {
    return kQkPgfBadState;
  }
  if (!s->buffer)
    s->buffer.reset(new (std::nothrow) unsigned char[s->pageSize]);
  if (!s->buffer) {
    forgetDiskFile(s);
    return kQkPgfIoError;
  }
  file->pageSize = s->pageSize;
  s->open = true;
  return 0;
}

int32_t newPage(QkPageFile* file, void** buffer, int32_t) {
  if (file == nullptr || buffer == nullptr || !file->state->open)
    return kQkPgfBadState;
  *buffer = file->state->buffer.get();
  return 0;
}

int32_t writePage(QkPageFile* file, QkPageDescriptor* page, int32_t) {
  if (file == nullptr || page == nullptr || page->buffer == nullptr)
    return kQkPgfBadState;
  QkPgfState* s = file->state;
  if (!s->open || s->readOnly)
    return kQkPgfBadState;
  int64_t n = page->pageNumber;
  if (n < 1 || n > s->lastPage + 1)
    return kQkPgfBadPage;
  if (!utilityIoAllowed())
    return kQkPgfIoError;
  auto* data = static_cast<const unsigned char*>(page->buffer);
  if (n <= s->memoryPages) {
    auto idx = static_cast<size_t>(n - 1);
    assert(s->memory.size() >= idx && "the pages before it are held");
    if (s->memory.size() <= idx) {
      std::unique_ptr<unsigned char[]> p(new (std::nothrow) unsigned char[s->pageSize]);
      if (!p) {
        errno = ENOMEM;
        return kQkPgfIoError;
      }
      s->memory.push_back(std::move(p));
    }
    if (s->memory[idx].get() != data)
      std::memcpy(s->memory[idx].get(), data, s->pageSize);
  } else {
    off_t at = static_cast<off_t>(n - 1) * static_cast<off_t>(s->pageSize);
    if (!fullWrite(s->fd, data, s->pageSize, at))
      return kQkPgfIoError;
  }
  if (n > s->lastPage)
    s->lastPage = n;
  return 0;
}

int32_t readPage(QkPageFile* file, QkPageDescriptor* page, int32_t) {
  if (file == nullptr || page == nullptr)
    return kQkPgfBadState;
  QkPgfState* s = file->state;
  if (!s->open)
    return kQkPgfBadState;
  int64_t n = page->pageNumber;
  if (n < 1 || n > s->lastPage)
    return kQkPgfBadPage;
  if (!utilityIoAllowed())
    return kQkPgfIoError;
  if (n <= static_cast<int64_t>(s->memory.size())) {
    page->buffer = s->memory[static_cast<size_t>(n - 1)].get();
    assert(page->buffer != nullptr && "a held page has its memory");
    return 0;
  }
  assert(s->fd >= 0 && s->buffer && "an open file has its descriptor and page buffer");
  off_t at = static_cast<off_t>(n - 1) * static_cast<off_t>(s->pageSize);
  if (!fullRead(s->fd, s->buffer.get(), s->pageSize, at))
    return kQkPgfIoError;
  page->buffer = s->buffer.get();
  return 0;
}

int32_t releasePage(QkPageFile* file, void* buffer, int32_t) {
  if (file == nullptr || buffer == nullptr || !file->state->open)
    return kQkPgfBadState;
  return 0;
}

int32_t closeFile(QkPageFile* file, int32_t deleteFlag, int32_t) {
  if (file == nullptr)
    return kQkNoObject;
  QkPgfState* s = file->state;
  if (!s->open)
    return kQkPgfBadState;
  s->open = false;
  int32_t rc = 0;
  // A kept file gets the pages held in memory, so that it is whole on disk.
  if (deleteFlag != 1 && !s->readOnly)
    for (size_t i = 0; i < s->memory.size() && rc == 0; ++i)
      if (!utilityIoAllowed() ||
          !fullWrite(s->fd, s->memory[i].get(), s->pageSize,
                     static_cast<off_t>(i) * static_cast<off_t>(s->pageSize)))
        rc = kQkPgfIoError;
  if (s->fd >= 0 && ::close(s->fd) != 0)
    rc = kQkPgfIoError;
  s->fd = -1;
  if (deleteFlag == 1) {
    forgetDiskFile(s);
    s->memory.clear();
    s->lastPage = 0;
  }
  return rc;
}

int32_t deleteFile(QkPageFile* file, int32_t) {
  if (file == nullptr)
    return kQkNoObject;
  QkPgfState* s = file->state;
  if (s->open)
    return kQkPgfBadState;
  forgetDiskFile(s);
  s->memory.clear();
  s->lastPage = 0;
  return 0;
}

void destroy(QkPageFile* file, int32_t) {
  if (file == nullptr)
    return;
  forgetDiskFile(file->state);
  delete file->state;
  delete file;
}

void unload(QkExtension* self) { delete reinterpret_cast<QkPgfExtension*>(self); }

} // namespace

QkExtension* makeQkpgf() {
  auto* e = new QkPgfExtension{};
  e->header.name = "qkpgf";
  e->header.unload = unload;
  e->qkpgfCreate = create;
  e->qkpgfSetPath = setPath;
  e->qkpgfGetAttributes = getAttributes;
  e->qkpgfSetAttributes = setAttributes;
  e->qkpgfOpen = openFile;
  e->qkpgfNewPage = newPage;
  e->qkpgfWritePage = writePage;
  e->qkpgfReadPage = readPage;
  e->qkpgfReleasePage = releasePage;
  e->qkpgfClose = closeFile;
  e->qkpgfDelete = deleteFile;
  e->qkpgfDestroy = destroy;
  return &e->header;
}

int liveUtilityFiles() { return gLiveFiles.load(); }
bool utilityIoAllowed() {
  if (seam::failUtilityIo()) {
    errno = EIO; // the injected failure reads as the system's I/O error
    return false;
  }
  return true;
}
namespace {

std::mutex gLiveMutex;
std::set<std::string>& livePaths() {
  static std::set<std::string> paths;
  return paths;
}
} // namespace

void removeUtilityFiles(bool holdForExit) {
  gLiveMutex.lock();
  for (const std::string& path : livePaths())
    ::unlink(path.c_str());
  livePaths().clear();
  if (!holdForExit)
    gLiveMutex.unlock();
}

int openUtilityFile(const std::string& path, int flags) {
  std::lock_guard<std::mutex> lock(gLiveMutex);
  int fd = ::open(path.c_str(), flags, 0600);
  if (fd >= 0)
    livePaths().insert(path);
  return fd;
}

void utilityFileMade(const std::string& path) {
  static std::once_flag registered;
  {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    livePaths().insert(path);
  }
  std::call_once(registered, [] { std::atexit([] { removeUtilityFiles(); }); });
  ++gLiveFiles;
}

void utilityFileGone(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    livePaths().erase(path);
  }
  --gLiveFiles;
}

void setPageFileSizes(uint32_t defaultSize, uint32_t secondSize, uint32_t companionSize) {
  gDefaultSize = defaultSize;
  gSecondSize = secondSize;
  gCompanionSize = companionSize;
}
void setPageFileMemoryPages(int64_t pages) { gMemoryPages = pages < 0 ? 0 : pages; }
void resetPageFileSettings() {
  gDefaultSize = 16384;
  gSecondSize = 65536;
  gCompanionSize = 8192;
  gMemoryPages = 2;
  seam::clearUtilityIoFault();
}

} // namespace qrxhost
