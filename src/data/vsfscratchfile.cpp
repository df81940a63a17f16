// Scratch files of the step and resample records over the "qkbkf" extension: creation
// under a numbered name or a utility path, positioned writes and reads that advance the
// caller's running position, the end marker, and release. Record layouts are the writers'.
#include "data/vsfscratchfile.h"

#include "data/vsfutilfile.h"
#include "support/nomemory.h"
#include "support/qkupath.h"

#include <cassert>
#include <cstring>

namespace {

const char kDescription[] = "Scratch file for varsifter";

enum : uint8_t { kFromPathService = 1, kOwnBuffer = 2 };

QkBkfCreateBlock creationBlock() {
  QkBkfCreateBlock b{};
  auto put = [&b](int at, int32_t v) { std::memcpy(&b.bytes[at], &v, sizeof v); };
  put(32, 3);
  put(36, 0);
  put(48, 1);
  put(52, 0);
  put(200, 1);
  return b;
}

} // namespace

int32_t vsfCreateScratch(VsfScratch* scratch, QkExtensionSet* exts, int32_t index,
                         int64_t dirLength, const QkChar* dirName, int32_t resample,
                         uint8_t* status) {
  *status = 0;
  auto* bkf = reinterpret_cast<QkBkfExtension*>(exts->qkbkf);
  if (index != 0) {
    scratch->path = vsfNumberedPath(dirLength, dirName, resample != 0 ? "resample_" : "scratch_",
                                    index, &scratch->pathLength);
    if (scratch->path == nullptr) {
      *status = kVsfCreatePathFailed;
      return kVsfNoMemory;
    }
    scratch->pathOrigin = kOwnBuffer;
  } else {
    int32_t rc = vsfNewUtilPath(exts, &scratch->path, &scratch->pathLength);
    if (rc != 0) {
      scratch->path = nullptr;
      scratch->pathLength = 0;
      *status = kVsfCreatePathFailed;
      return rc;
    }
    scratch->pathOrigin = kFromPathService;
  }
  if (bkf == nullptr) {
    *status = kVsfCreateOpenFailed;
    return kQkNoObject;
  }
  QkBkfCreateBlock block = creationBlock();
  int32_t rc = 0;
  scratch->file =
      bkf->qkbkfCreate(bkf, scratch->path, scratch->pathLength, &block, 0, 0, kDescription, &rc, 0);
  if (rc == 0 && scratch->file == nullptr)
    rc = kQkNoObject;
  if (rc != 0) {
    scratch->file = nullptr;
    *status = kVsfCreateOpenFailed;
    return rc;
  }
  return 0;
}

int32_t vsfWriteScratch(QkByteFile* file, const void* data, int64_t length, int64_t* position) {
  if (file == nullptr)
    return kQkBkfBadArgument;
  assert(length >= 0 && *position >= 0 && "a block at a place in the scratch file");
  QkBkfExtension* bkf = file->service;
  QkBkfPosition token{};
  int32_t rc = bkf->qkbkfSetPosition(file, position, &token, 0);
  if (rc == 0)
    rc = bkf->qkbkfWrite(file, data, length, 0, &token, 0);
  if (rc == 0)
    *position += length;
  return rc;
}

int32_t vsfReadScratch(QkByteFile* file, void* buffer, int64_t length, int64_t* position) {
  if (file == nullptr)
    return kQkBkfBadArgument;
  assert(length >= 0 && *position >= 0 && "a block at a place in the scratch file");
  QkBkfExtension* bkf = file->service;
  QkBkfPosition token{};
  int32_t rc = bkf->qkbkfSetPosition(file, position, &token, 0);
  int64_t got = length;
  if (rc == 0)
    rc = bkf->qkbkfRead(file, &buffer, &got, 0, &token, 0);
  if (rc == 0)
    *position += got;
  return rc;
}

void vsfCloseScratch(VsfScratch* scratch, QkExtensionSet*) {
  if (scratch->file != nullptr)
    scratch->file->service->qkbkfClose(scratch->file);
  scratch->file = nullptr;
}

void vsfFreeScratch(VsfScratch* scratch, QkExtensionSet* exts) {
  auto* bkf = reinterpret_cast<QkBkfExtension*>(exts->qkbkf);
  if (scratch->file != nullptr) {
    bkf = scratch->file->service;
    bkf->qkbkfClose(scratch->file);
    scratch->file = nullptr;
  }
  if (scratch->path != nullptr) {
    if (bkf != nullptr)
      bkf->qkbkfDelete(bkf, scratch->path, scratch->pathLength, 0, 0);
    if (scratch->pathOrigin == kFromPathService) {
      auto* up = reinterpret_cast<QkUpathExtension*>(exts->qkupath);
      if (up != nullptr)
        up->qkupathFreePathname(up, scratch->path);
    } else {
      delete[] scratch->path;
    }
  }
  scratch->path = nullptr;
  scratch->pathLength = 0;
  scratch->pathOrigin = 0;
}

int32_t vsfEofMarker(QkByteFile* file) {
  if (file == nullptr)
    return kQkBkfBadArgument;
  QkBkfExtension* bkf = file->service;
  QkBkfPosition token{};
  int32_t rc = bkf->qkbkfSeekEnd(file, &token, 2, 0);
  if (rc != 0)
    return rc;
  const uint64_t bits = 0x7FEFFFFFFFFFFFFFull; // the largest double
  return bkf->qkbkfWrite(file, &bits, 8, 0, &token, 0);
}
