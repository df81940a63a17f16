// JSON text of the output renderers: quoting of texts (valid JSON from any bytes) and of
// numbers. renderJsonNodes (rvqoutput.h) writes the document's nodes with them.
#pragma once

#include "host/output/outputdoc.h"

#include <string>

namespace qrxhost {

// `text` as a JSON string literal. Valid UTF-8 passes through; control characters are
// escaped; a byte that is not part of valid UTF-8 is taken as Latin-1 (\u00XX).
std::string jsonQuote(const std::string& text);
// A value as JSON: numbers in shortest round-trip form, texts quoted, missing as null;
// infinities as the strings "Infinity" and "-Infinity".
std::string jsonValue(const OutputValue& value);

} // namespace qrxhost
