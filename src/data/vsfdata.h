// Data pages, page files, scratch files and the thread pool: the entries the driver calls.
#pragma once

#include "support/hostif.h"

struct VsfContext;

// One page file of the page-file vector.
struct VsfUtilFile;

// The page-file vector.
struct VsfBagVec {
  VsfUtilFile** files;
  int32_t count;
  int32_t capacity;
};

// A byte-block scratch file with a running position.
struct VsfScratch {
  QkExtension* file; // the open scratch file, null when none
  int64_t position;
  int64_t words[4];
};

// The thread-pool record.
struct ThreadPuddle {
  void* pool; // the pool handle; null when not running
  int32_t count;
};

struct QkExtensionSet {
  QkHandle* qk;
  QkExtension* qkpgf;
  QkExtension* qkbkf;
  QkExtension* qkupath;
  QkExtension* qkavlt;
};

int32_t vsfInitializeThreads(ThreadPuddle* puddle, int32_t count);
void vsfTerminateThreads(ThreadPuddle* puddle);
void zpudt(ThreadPuddle* puddle);
int32_t vsfData(VsfContext* context);
void vsfBagVecRelease(VsfBagVec* vec, QkExtensionSet* exts);
int32_t vsfCreateScratch(VsfScratch* scratch, QkExtensionSet* exts, int64_t w0, int64_t w1,
                         int64_t w2, int64_t w3, uint8_t* out);
void vsfFreeScratch(VsfScratch* scratch, QkExtensionSet* exts);
