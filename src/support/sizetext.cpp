// Byte counts in KB, MB or GB with one decimal, for messages. Declared in support/sizetext.h.
#include "support/sizetext.h"

#include <cstdio>

void vsfSizeText(double bytes, char* text, size_t capacity) {
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  double v = bytes / 1024.0;
  int unit = 0;
  while (v >= 1024.0 && unit < 3) {
    v /= 1024.0;
    ++unit;
  }
  std::snprintf(text, capacity, "%.1f %s", v, kUnits[unit]);
}
