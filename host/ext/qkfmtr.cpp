// Formatters of the "qkfmtr" extension: the text of an unformatted value as the host's
// formatted read gives it (host/data/readvec.h's rule), so that values formatted here and
// values read formatted form the same levels.
#include "host/ext/qkfmtr.h"

#include "host/data/readvec.h"
#include "support/qkfmtr.h"

#include <cstring>
#include <new>
#include <string>

namespace qrxhost {
namespace {

void destroyFormatter(QkFormatter* f) { delete f; }

uint32_t formatValue(QkFormatter*, const HostVariable* var, const void* value, int32_t length,
                     char* out, int32_t width) {
  if (var == nullptr || value == nullptr || out == nullptr || width <= 0)
    return kQkFmtrBadArgument;
  std::string text;
  if (var->type == 1) {
    double x;
    std::memcpy(&x, value, sizeof x);
    text = formattedNumber(x, width);
  } else {
    text = formattedText(static_cast<const char*>(value), length < 0 ? 0 : length, width);
  }
  std::memcpy(out, text.data(), static_cast<size_t>(width));
  return 0;
}

QkFormatter* createFormatter(QkFmtrExtension*, void*) {
  return new (std::nothrow) QkFormatter{destroyFormatter, formatValue};
}

void unloadQkfmtr(QkExtension* extension) { delete reinterpret_cast<QkFmtrExtension*>(extension); }

} // namespace

QkExtension* loadQkfmtr() {
  auto* ext = new (std::nothrow) QkFmtrExtension{};
  if (ext == nullptr)
    return nullptr;
  ext->base.name = "qkfmtr";
  ext->base.unload = unloadQkfmtr;
  ext->createFormatter = createFormatter;
  return &ext->base;
}

} // namespace qrxhost
