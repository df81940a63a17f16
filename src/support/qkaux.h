// The qkaux extension: keyed lookup tables of fixed-size byte keys, each key owning a
// zero-filled value block of a fixed size. A table belongs to one thread. The host
// implements it (loaded by name "qkaux" through QkHandle::qkExtensionLoad).
#pragma once

#include "support/hostif.h"

#include <cstdint>

struct QkAuxTable {
  void (*destroy)(QkAuxTable* table);
  // The value block of `key` (keySize bytes), or null when the key is absent.
  void* (*find)(QkAuxTable* table, const void* key);
  // The value block of `key`, made zero-filled when the key is new (*added is then 1, else
  // 0); null when out of memory.
  void* (*insert)(QkAuxTable* table, const void* key, int32_t* added);
  // Number of keys held.
  int64_t (*count)(QkAuxTable* table);
};

struct QkAuxExtension {
  QkExtension base;
  // A table of keys of keySize bytes and values of valueSize bytes; null for sizes below 1
  // or when out of memory.
  QkAuxTable* (*createTable)(QkAuxExtension* extension, int32_t keySize, int32_t valueSize);
};
