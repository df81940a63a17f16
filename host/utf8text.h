// UTF-8 sequences in host texts: used where a text is cut or shown piece by piece, so that
// no character is split (JSON quoting, tokens of the statement parser).
#pragma once

#include <cstddef>
#include <string>

namespace qrxhost {

// Length of the valid UTF-8 sequence starting at s[i] (2 to 4), or 0 when there is none.
size_t utf8Sequence(const std::string& s, size_t i);

} // namespace qrxhost
