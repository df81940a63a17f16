// Read vectors of input data sets, formatted values and the variable-name rewriting
// service: the members of the data-set group that the design library's observation
// source uses. Reading observations is dataset.cpp's, BY groups dsby.cpp's.
#pragma once

#include "support/hostif.h"

#include <string>

namespace qrxhost {

// Fills the read-vector and name members of the data-set service group.
void installReadVectorServices(HostDataSetServices* services);

// The formatted value of the current observation's variable `number` in `width` bytes:
// numbers in the default BEST-style format of width 12 (missing as "."), left-justified,
// then cut or blank-padded to the width; character values cut or blank-padded.
std::string formattedValue(HostDataSet* data, int32_t number, int32_t width);
// The same rule for a value in hand: a number, or `length` characters.
std::string formattedNumber(double value, int32_t width);
std::string formattedText(const char* text, int32_t length, int32_t width);

// Rewrites a blank-padded text into a valid variable name under VALIDVARNAME.
void validName(char* text, int32_t length);

} // namespace qrxhost
