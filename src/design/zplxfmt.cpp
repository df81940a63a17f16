// The formatter context of the threaded levelisation: the qkfmtr extension loaded once per
// BY group, one formatter per worker, and the call that formats one value.
// Declared in design/levfmt.h.
#include "design/levfmt.h"

#include "support/hoststubs.h"

#include <algorithm>
#include <cstring>

FormatContext* zplxfmt(const HostVariable* const* variables, const int32_t* widths, int32_t count,
                       int32_t threads, FormatFailure* failure) {
  *failure = FormatFailure::BadArguments;
  if (variables == nullptr || widths == nullptr || count < 1 || threads < 1)
    return nullptr;
  *failure = FormatFailure::NoResource;
  QkHandle* qk = Exported_QKHandle;
  QkPoolAttributes attrs{1, 0, {0, 0}};
  QkPool* pool = qk != nullptr ? qk->createPool(qk, &attrs, nullptr, "Format pool") : nullptr;
  if (pool == nullptr)
    return nullptr;
  auto* fc = static_cast<FormatContext*>(pool->allocate(pool, sizeof(FormatContext), kQkZeroed));
  auto* ext = reinterpret_cast<QkFmtrExtension*>(qkLoadByName(qk, "qkfmtr"));
  if (fc == nullptr || ext == nullptr) {
    if (ext != nullptr)
      ext->base.unload(&ext->base);
    pool->destroy(pool);
    return nullptr;
  }
  fc->pool = pool;
  fc->threadCount = threads;
  fc->variableCount = count;
  fc->extension = ext;
  fc->variables = static_cast<const HostVariable**>(
      pool->allocate(pool, sizeof(HostVariable*) * size_t(count), kQkZeroed));
  fc->widths = static_cast<int32_t*>(pool->allocate(pool, sizeof(int32_t) * size_t(count), 0));
  fc->records = static_cast<FormatRecord*>(
      pool->allocate(pool, sizeof(FormatRecord) * size_t(threads), kQkZeroed));
  int32_t widest = 1;
  for (int32_t i = 0; fc->widths != nullptr && fc->variables != nullptr && i < count; ++i) {
    fc->variables[i] = variables[i];
    fc->widths[i] = widths[i];
    widest = std::max(widest, widths[i]);
  }
  bool ok = fc->variables != nullptr && fc->widths != nullptr && fc->records != nullptr;
  for (int32_t t = 0; ok && t < threads; ++t) {
    FormatRecord& r = fc->records[t];
    r.formatter = ext->createFormatter(ext, qk->locale);
    r.out = static_cast<char*>(pool->allocate(pool, size_t(widest), kQkZeroed));
    ok = r.formatter != nullptr && r.out != nullptr;
  }
  if (!ok) {
    zplxftrm(&fc);
    return nullptr;
  }
  *failure = FormatFailure::None;
  return fc;
}

void zplxftrm(FormatContext** context) {
  FormatContext* fc = context != nullptr ? *context : nullptr;
  if (fc == nullptr)
    return;
  for (int32_t t = 0; fc->records != nullptr && t < fc->threadCount; ++t)
    if (fc->records[t].formatter != nullptr)
      fc->records[t].formatter->destroy(fc->records[t].formatter);
  if (fc->extension != nullptr)
    fc->extension->base.unload(&fc->extension->base);
  QkPool* pool = fc->pool;
  pool->destroy(pool);
  *context = nullptr;
}

int32_t QKFormatToPLX(const FormatContext* fc, FormatRecord* record, int32_t index,
                      const void* value, int32_t length) {
  if (fc == nullptr || record == nullptr || record->formatter == nullptr)
    return 1;
  if (index < 0 || index >= fc->variableCount)
    return 2;
  const int32_t width = fc->widths[index];
  if (record->formatter->format(record->formatter, fc->variables[index], value, length, record->out,
                                width) != 0)
    return 3;
  record->length = width;
  return 0;
}
