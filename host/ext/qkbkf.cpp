// The "qkbkf" extension: plain byte files at caller-kept positions, with positioned reads
// and writes (pread/pwrite). Files are created by path and deleted by path; the counter of
// live files and the fault hook are those of the page-file extension.
#include "host/ext/qkbkf.h"

#include "host/ext/qkpgf.h"
#include "host/ext/qkupath.h"
#include "support/qkbkf.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

struct QkBkfState {
  int fd = -1;
  std::string path;
};

namespace qrxhost {
namespace {

// Paths of files this extension made and has not deleted, so that a delete of a path it
// did not make is refused and the live-file counter stays right.
std::mutex gMutex;
std::set<std::string>& madePaths() {
  static std::set<std::string> paths;
  return paths;
}

QkByteFile* create(QkBkfExtension* self, const QkChar* path, int64_t length,
                   const QkBkfCreateBlock*, int32_t, int32_t, const char*, int32_t* status,
                   int32_t) {
  int32_t dummy;
  if (status == nullptr)
    status = &dummy;
  if (path == nullptr || length <= 0) {
    *status = kQkBkfBadArgument;
    return nullptr;
  }
  std::string p = pathToNarrow(path, length);
  int fd = openUtilityFile(p, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC);
  if (fd < 0) {
    *status = kQkBkfIoError;
    return nullptr;
  }
  auto* f = new (std::nothrow) QkByteFile{self, new (std::nothrow) QkBkfState{}};
  if (f != nullptr && f->state == nullptr) {
    delete f;
    f = nullptr;
  }
  if (f == nullptr) {
    ::close(fd);
    ::unlink(p.c_str());
    *status = kQkBkfIoError;
    return nullptr;
  }
  f->state->fd = fd;
  f->state->path = p;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (madePaths().insert(p).second)
      utilityFileMade(p);
  }
  *status = 0;
  return f;
}

int32_t deleteByPath(QkBkfExtension*, const QkChar* path, int64_t length, int32_t, int32_t) {
  if (path == nullptr || length <= 0)
    return kQkBkfBadArgument;
  std::string p = pathToNarrow(path, length);
  std::lock_guard<std::mutex> lock(gMutex);
  if (madePaths().erase(p) == 0)
    return kQkBkfBadArgument;
  ::unlink(p.c_str());
  utilityFileGone(p);
  return 0;
}

int32_t closeFile(QkByteFile* file) {
  if (file == nullptr)
    return kQkBkfBadArgument;
  int rc = ::close(file->state->fd);
  delete file->state;
  delete file;
  return rc == 0 ? 0 : kQkBkfIoError;
}

int32_t setPosition(QkByteFile* file, const int64_t* position, QkBkfPosition* token, int32_t) {
  if (file == nullptr || position == nullptr || token == nullptr || *position < 0)
    return kQkBkfBadArgument;
  token->offset = *position;
  return 0;
}

int32_t seekEnd(QkByteFile* file, QkBkfPosition* token, int32_t, int32_t) {
  if (file == nullptr || token == nullptr)
    return kQkBkfBadArgument;
  struct stat st;
  if (::fstat(file->state->fd, &st) != 0)
    return kQkBkfIoError;
  token->offset = st.st_size;
  return 0;
}

int32_t writeBytes(QkByteFile* file, const void* data, int64_t length, int32_t,
                   QkBkfPosition* token, int32_t) {
  if (file == nullptr || token == nullptr || length < 0 || (length > 0 && data == nullptr))
    return kQkBkfBadArgument;
  if (!utilityIoAllowed())
    return kQkBkfIoError;
  auto* p = static_cast<const unsigned char*>(data);
  off_t at = token->offset;
  int64_t left = length;
  while (left > 0) {
    ssize_t w = ::pwrite(file->state->fd, p, static_cast<size_t>(left), at);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0)
      return kQkBkfIoError;
    p += w;
    left -= w;
    at += w;
  }
  token->offset = at;
  return 0;
}

int32_t readBytes(QkByteFile* file, void** buffer, int64_t* length, int32_t, QkBkfPosition* token,
                  int32_t) {
  if (file == nullptr || buffer == nullptr || *buffer == nullptr || length == nullptr ||
      token == nullptr || *length < 0)
    return kQkBkfBadArgument;
  if (!utilityIoAllowed())
    return kQkBkfIoError;
  auto* p = static_cast<unsigned char*>(*buffer);
  off_t at = token->offset;
  int64_t got = 0;
  while (got < *length) {
    ssize_t r = ::pread(file->state->fd, p + got, static_cast<size_t>(*length - got), at + got);
    if (r < 0 && errno == EINTR)
      continue;
    if (r < 0)
      return kQkBkfIoError;
    if (r == 0)
      break; // end of file: the caller gets what there was
    got += r;
  }
  *length = got;
  token->offset = at + got;
  return 0;
}

void unload(QkExtension* self) { delete reinterpret_cast<QkBkfExtension*>(self); }

} // namespace

QkExtension* makeQkbkf() {
  auto* e = new QkBkfExtension{};
  e->header.name = "qkbkf";
  e->header.unload = unload;
  e->qkbkfCreate = create;
  e->qkbkfDelete = deleteByPath;
  e->qkbkfClose = closeFile;
  e->qkbkfSetPosition = setPosition;
  e->qkbkfSeekEnd = seekEnd;
  e->qkbkfWrite = writeBytes;
  e->qkbkfRead = readBytes;
  return &e->header;
}

} // namespace qrxhost
