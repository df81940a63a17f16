// The qkfmtr extension: formats a variable's unformatted value as the host's formatted read
// gives it (the same text that a read with formatted values returns). A formatter belongs to
// one thread. The host implements it (loaded by name "qkfmtr").
#pragma once

#include "support/hostif.h"

#include <cstdint>

// Statuses of a format call besides 0.
inline constexpr uint32_t kQkFmtrBadArgument = 0x803FE801u;

struct QkFormatter {
  void (*destroy)(QkFormatter* formatter);
  // Formats `value` of variable `var`: for a numeric variable `value` points at the double,
  // for a character variable at `length` bytes. The text goes into `width` bytes of `out`,
  // blank-padded or cut. 0, or a status.
  uint32_t (*format)(QkFormatter* formatter, const HostVariable* var, const void* value,
                     int32_t length, char* out, int32_t width);
};

struct QkFmtrExtension {
  QkExtension base;
  // A formatter for the session's locale (the kernel's locale object; may be null).
  QkFormatter* (*createFormatter)(QkFmtrExtension* extension, void* locale);
};
