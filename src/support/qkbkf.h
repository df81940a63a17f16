// Entry table of the host extension "qkbkf": byte-block files without structure, written
// and read at positions the caller keeps. Layout only; the host builds the extension
// (host/ext/qkbkf.cpp).
#pragma once

#include "support/hostif.h"

struct QkBkfExtension;
struct QkBkfState; // the host's private state of one open byte file

// An open byte file: the service that made it first, so a holder of the handle can call it.
struct QkByteFile {
  QkBkfExtension* service;
  QkBkfState* state;
};

// A position token made by qkbkfSetPosition or qkbkfSeekEnd for the next write or read.
struct QkBkfPosition {
  int64_t offset;
};

// The 264-byte creation block; the caller fills the words it is told to, the rest is zero.
struct QkBkfCreateBlock {
  uint8_t bytes[264];
};

struct QkBkfExtension {
  QkExtension header;
  // Creates (or truncates) the file at path; *status receives 0 or the failure status.
  QkByteFile* (*qkbkfCreate)(QkBkfExtension* self, const QkChar* path, int64_t length,
                             const QkBkfCreateBlock* block, int32_t r1, int32_t r2,
                             const char* description, int32_t* status, int32_t r3);
  // Deletes the file at path (it must be closed).
  int32_t (*qkbkfDelete)(QkBkfExtension* self, const QkChar* path, int64_t length, int32_t r1,
                         int32_t r2);
  int32_t (*qkbkfClose)(QkByteFile* file);
  int32_t (*qkbkfSetPosition)(QkByteFile* file, const int64_t* position, QkBkfPosition* token,
                              int32_t reserved);
  int32_t (*qkbkfSeekEnd)(QkByteFile* file, QkBkfPosition* token, int32_t mode, int32_t reserved);
  int32_t (*qkbkfWrite)(QkByteFile* file, const void* data, int64_t length, int32_t r1,
                        QkBkfPosition* token, int32_t r2);
  // Reads up to *length bytes into *buffer; lowers *length to what was read.
  int32_t (*qkbkfRead)(QkByteFile* file, void** buffer, int64_t* length, int32_t r1,
                       QkBkfPosition* token, int32_t r2);
};

inline constexpr int32_t kQkBkfIoError = static_cast<int32_t>(0x803FC0C1u);
inline constexpr int32_t kQkBkfBadArgument = static_cast<int32_t>(0x803FC0C2u);
