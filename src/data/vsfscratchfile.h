// Scratch files: byte-block files of the "qkbkf" extension for the step and resample
// records, created under a numbered name or a utility path, written and read at running
// positions that the callers keep, and released.
#pragma once

#include "support/hostif.h"
#include "support/qkbkf.h"

struct QkExtensionSet;

// VsfScratch, in order: the open file (null when closed), its path (host characters), the
// path length, and where the path came from (1 the path service, 2 the record's own buffer).
struct VsfScratch {
  QkByteFile* file;
  QkChar* path;
  int64_t pathLength;
  uint8_t pathOrigin;
};

// Creates a scratch file: index 0 under the utility directory, else "<dir>/scratch_<i>.utl"
// ("resample_" with the resample flag). 0, or the failing status with *status
// kVsfCreatePathFailed or kVsfCreateOpenFailed.
[[nodiscard]] int32_t vsfCreateScratch(VsfScratch* scratch, QkExtensionSet* exts, int32_t index,
                                       int64_t dirLength, const QkChar* dirName, int32_t resample,
                                       uint8_t* status);
[[nodiscard]] int32_t vsfWriteScratch(QkByteFile* file, const void* data, int64_t length,
                                      int64_t* position);
[[nodiscard]] int32_t vsfReadScratch(QkByteFile* file, void* buffer, int64_t length,
                                     int64_t* position);
void vsfFreeScratch(VsfScratch* scratch, QkExtensionSet* exts);
void vsfCloseScratch(VsfScratch* scratch, QkExtensionSet* exts);
[[nodiscard]] int32_t vsfEofMarker(QkByteFile* file);
