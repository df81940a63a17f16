// Entry table of the host extension "qkupath": new file paths under the utility directory.
// The module sees only this layout; the host builds the extension (host/ext/qkupath.cpp).
#pragma once

#include "support/hostif.h"

// Entry table, after the common extension header.
struct QkUpathExtension {
  QkExtension header;
  // Makes a new, unused path under the directory that the host option `option` names (the
  // system temporary directory when the option is not set). The path is a string of host
  // characters of `*length` characters, terminated; free it with qkupathFreePathname.
  // Returns 0, or a non-zero status when no path can be made (the directory is missing).
  int32_t (*qkupathGetPathnameDirect)(QkUpathExtension* self, const QkChar* option,
                                      int32_t optionLength, int32_t flags, QkChar** path,
                                      int64_t* length, int32_t reserved);
  void (*qkupathFreePathname)(QkUpathExtension* self, QkChar* path);
  // The bytes free to the process on the file system of the directory that the host option
  // `option` names (the system temporary directory when the option is not set); -1 when that
  // cannot be told.
  int64_t (*qkupathFreeBytes)(QkUpathExtension* self, const QkChar* option, int32_t optionLength);
  // As qkupathGetPathnameDirect, but the path is made in the directory `dir`, a UTF-8 path of
  // `dirLength` bytes. Returns kQkUpathNoDirectory when `dir` is not a directory that this
  // process can write to.
  int32_t (*qkupathGetPathnameIn)(QkUpathExtension* self, const char* dir, int64_t dirLength,
                                  QkChar** path, int64_t* length);
};

// Status of a path request that found no usable utility directory.
inline constexpr int32_t kQkUpathNoDirectory = static_cast<int32_t>(0x803FC0A1u);
