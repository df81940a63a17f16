// Value formatting for the levelisation workers: a FormatContext holds the host's formatter
// extension (qkfmtr) and one formatter record per worker, so that each worker formats the
// unformatted values it is handed without going back to the data set.
#pragma once

#include "effects/levdesign.h"
#include "support/hostif.h"
#include "support/qkfmtr.h"

#include <cstdint>

// One worker's formatter: the text of the last value formatted and its length.
struct FormatRecord {
  QkFormatter* formatter;
  char* out;      // the widest variable's width
  int32_t length; // of the last text
};

struct FormatContext {
  QkPool* pool; // the "Format pool"
  int32_t threadCount;
  int32_t variableCount;
  const HostVariable** variables; // per variable its host description
  int32_t* widths;                // per variable the width of its text
  QkFmtrExtension* extension;
  FormatRecord* records; // one per worker
};

// Why the formatter context could not be made.
enum class FormatFailure : int32_t { None = 0, NoResource = 1, BadArguments = 2 };

// Makes the context for `count` variables and `threads` workers; width option -1: each
// variable's own level width is given in `widths`. Null with *failure saying why.
FormatContext* zplxfmt(const HostVariable* const* variables, const int32_t* widths, int32_t count,
                       int32_t threads, FormatFailure* failure);
// Releases the context and clears the pointer.
void zplxftrm(FormatContext** context);
// Formats `value` (a double, or `length` bytes) of variable `index` into the record's output:
// 0 formatted; 1 no context or formatter; 2 index outside the variables; 3 the host failed.
[[nodiscard]] int32_t QKFormatToPLX(const FormatContext* context, FormatRecord* record,
                                    int32_t index, const void* value, int32_t length);
