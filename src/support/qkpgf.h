// Entry table and objects of the host extension "qkpgf": files of fixed-size pages that are
// addressed by number (from 1), kept across close and reopen. Layout only; the host builds
// the extension (host/ext/qkpgf.cpp).
//
// QkPageFile fields the caller sets before qkpgfOpen:
//   accessMode  kQkPgfCreate a new file, kQkPgfReopen the file that a close kept
//   count       1
//   sharing     kQkPgfRandom on create; on reopen the utility access setting
//   update      kQkPgfRewrite pages may be rewritten in place, kQkPgfReadOnly not
//   flagA/B     1 on create
// and the field the extension sets: pageSize, the page size in force after opening.
#pragma once

#include "support/hostif.h"

struct QkPgfState; // the host's private state of one page file

// How qkpgfOpen opens the file (QkPageFile::accessMode).
enum QkPgfAccessMode : int32_t { kQkPgfReopen = 1, kQkPgfCreate = 2 };
// How the pages will be visited (QkPageFile::sharing): in any order, or in sequence.
enum QkPgfSharing : int32_t { kQkPgfRandom = 2, kQkPgfSequential = 4 };
// Whether a reopened file's pages may be written again (QkPageFile::update).
enum QkPgfUpdate : int32_t { kQkPgfReadOnly = 0, kQkPgfRewrite = 2 };

struct QkPageFile {
  int32_t accessMode;
  int32_t count;
  int32_t sharing;
  int32_t update;
  uint8_t flagA;
  uint8_t flagB;
  uint8_t pad[2];
  uint32_t pageSize; // in force after qkpgfOpen
  QkPgfState* state;
};

// The page descriptor: page number (from 1), the page buffer, a reserved word, the page
// size in bytes. The page-file records of the data layer embed it.
struct QkPageDescriptor {
  int64_t pageNumber;
  void* buffer;
  void* reserved;
  uint32_t pageSize;
  uint32_t pad;
};

// The 104-byte attribute block of qkpgfSetAttributes: page size, companion size, 0, rest 0.
struct QkPgfAttributes {
  uint32_t pageSize;
  uint32_t companionSize;
  uint32_t reserved;
  uint8_t rest[92];
};
static_assert(sizeof(QkPgfAttributes) == 104, "the attribute block is 104 bytes");

struct QkPgfExtension {
  QkExtension header;
  QkPageFile* (*qkpgfCreate)(QkPgfExtension* self, int32_t reserved);
  int32_t (*qkpgfSetPath)(QkPageFile* file, const QkChar* path, int64_t length, int32_t reserved);
  // Three sizes: [0] the default page size, [1] a second standard size, [2] the companion.
  int32_t (*qkpgfGetAttributes)(QkPageFile* file, uint32_t sizes[3], int32_t reserved);
  int32_t (*qkpgfSetAttributes)(QkPageFile* file, const QkPgfAttributes* attrs, int32_t reserved);
  int32_t (*qkpgfOpen)(QkPageFile* file, int32_t reserved);
  // A page buffer of the page size for the next write; the caller clears it.
  int32_t (*qkpgfNewPage)(QkPageFile* file, void** buffer, int32_t reserved);
  // Stores the descriptor's buffer as page pageNumber (new or rewritten in place).
  int32_t (*qkpgfWritePage)(QkPageFile* file, QkPageDescriptor* page, int32_t reserved);
  // Points the descriptor's buffer at page pageNumber as last written.
  int32_t (*qkpgfReadPage)(QkPageFile* file, QkPageDescriptor* page, int32_t reserved);
  // Gives a page buffer back without writing it.
  int32_t (*qkpgfReleasePage)(QkPageFile* file, void* buffer, int32_t reserved);
  // Closes the file; deleteFlag 1 deletes it, 0 keeps it for a reopen.
  int32_t (*qkpgfClose)(QkPageFile* file, int32_t deleteFlag, int32_t reserved);
  // Deletes a closed file.
  int32_t (*qkpgfDelete)(QkPageFile* file, int32_t reserved);
  // Releases the object (deleting the file if it still exists).
  void (*qkpgfDestroy)(QkPageFile* file, int32_t reserved);
};

// Statuses of the page-file service.
inline constexpr int32_t kQkNoObject = static_cast<int32_t>(0x803FC009u);
inline constexpr int32_t kQkPgfIoError = static_cast<int32_t>(0x803FC0B1u);
inline constexpr int32_t kQkPgfBadPage = static_cast<int32_t>(0x803FC0B2u);
inline constexpr int32_t kQkPgfBadState = static_cast<int32_t>(0x803FC0B3u);
