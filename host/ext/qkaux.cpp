// Tables of the "qkaux" extension: a hash map from the key bytes to a value block. Value
// blocks never move while the table lives, so callers may keep their addresses.
#include "host/ext/qkaux.h"

#include "support/qkaux.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

namespace qrxhost {
namespace {

struct HostAuxTable {
  QkAuxTable pub; // first, so that the record leads back to the table
  int32_t keySize = 0;
  int32_t valueSize = 0;
  std::unordered_map<std::string, std::unique_ptr<char[]>> entries;
};

HostAuxTable* tableOf(QkAuxTable* t) { return reinterpret_cast<HostAuxTable*>(t); }

void destroyTable(QkAuxTable* t) { delete tableOf(t); }

void* findKey(QkAuxTable* t, const void* key) {
  HostAuxTable* h = tableOf(t);
  if (key == nullptr)
    return nullptr;
  auto it = h->entries.find(std::string(static_cast<const char*>(key), size_t(h->keySize)));
  return it == h->entries.end() ? nullptr : it->second.get();
}

void* insertKey(QkAuxTable* t, const void* key, int32_t* added) {
  HostAuxTable* h = tableOf(t);
  if (added != nullptr)
    *added = 0;
  if (key == nullptr)
    return nullptr;
  try {
    auto [it, isNew] = h->entries.try_emplace(
        std::string(static_cast<const char*>(key), size_t(h->keySize)), nullptr);
    if (isNew) {
      it->second.reset(new char[size_t(h->valueSize)]());
      if (added != nullptr)
        *added = 1;
    }
    return it->second.get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int64_t countKeys(QkAuxTable* t) { return static_cast<int64_t>(tableOf(t)->entries.size()); }

QkAuxTable* createTable(QkAuxExtension*, int32_t keySize, int32_t valueSize) {
  if (keySize < 1 || valueSize < 1)
    return nullptr;
  auto* h = new (std::nothrow) HostAuxTable;
  if (h == nullptr)
    return nullptr;
  h->pub = QkAuxTable{destroyTable, findKey, insertKey, countKeys};
  h->keySize = keySize;
  h->valueSize = valueSize;
  return &h->pub;
}

void unloadQkaux(QkExtension* extension) { delete reinterpret_cast<QkAuxExtension*>(extension); }

} // namespace

QkExtension* loadQkaux() {
  auto* ext = new (std::nothrow) QkAuxExtension{};
  if (ext == nullptr)
    return nullptr;
  ext->base.name = "qkaux";
  ext->base.unload = unloadQkaux;
  ext->createTable = createTable;
  return &ext->base;
}

} // namespace qrxhost
