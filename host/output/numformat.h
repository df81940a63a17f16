// Number display of the output renderers: the host's default BEST-style format, fixed
// decimals, and the few named formats that the module passes. The listing and the JSON
// column descriptions use it; nothing here knows about documents.
#pragma once

#include "host/output/outputdoc.h"

#include <string>

namespace qrxhost {

// The default width of numbers without a format.
inline constexpr int kBestWidth = 12;

// The most significant digits of `value` that fit in `width` characters: plain notation
// when it fits, else scientific notation ("1.2345679E13"); trailing zeros are dropped.
// Missing (NaN) is "."; a number that cannot fit at all is a row of '*'.
std::string formatBest(double value, int width = kBestWidth);
// `decimals` digits after the point, at most `width` characters, else BEST of that width.
std::string formatFixed(double value, int decimals, int width = kBestWidth);
// A p-value with `decimals` decimals (4 when below 1); values below 10^-decimals print as
// "<.0001" (for 4). `width` 0 means as wide as the decimals need.
std::string formatPValue(double value, int decimals, int width = 0);
// `decimals` decimals, unless that leaves the value fewer than three significant digits:
// then `digits` significant digits in BEST style ("1.2345E-7").
std::string formatDecimalsOrSignificant(double value, int decimals, int digits);
// A value as the listing shows it under a format: numbers by the format, texts as they
// are, missing as ".".
std::string formatValue(const OutputValue& value, const OutputFormat& format);
// The name of a column's or entry's format as the JSON record shows it ("BEST12.",
// "12.", "12.4", a format name as given; "$w." for character columns).
std::string formatName(const OutputFormat& format, ColumnType type);

} // namespace qrxhost
