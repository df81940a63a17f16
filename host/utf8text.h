// UTF-8 sequences in host texts: used where a text is cut or shown piece by piece, so that
// no character is split (JSON quoting, tokens of the statement parser), and the one rule by
// which names are written and compared without regard to case, UTF-8 letters included.
#pragma once

#include <cstddef>
#include <string>

namespace qrxhost {

// Length of the valid UTF-8 sequence starting at s[i] (2 to 4), or 0 when there is none.
size_t utf8Sequence(const std::string& s, size_t i);

// The bytes of the name character at s[j]: an ASCII letter, digit or underscore, or a whole
// UTF-8 character beyond ASCII (so that a variable such as größe from a CSV header can be
// named as it is written); 0 when s[j] starts none.
size_t nameCharBytes(const std::string& s, size_t j);

// A name in upper case, the form in which names are compared: ASCII letters, and the simple
// upper-case mappings of the letters of Latin-1 Supplement, Latin Extended-A, Greek and
// Cyrillic (U+0400 to U+052F). Mappings that would turn a letter into an ASCII one (dotless
// i, long s) and letters without a one-letter upper case (sharp s) are left as they are, as
// is every other byte.
std::string nameUpper(std::string s);

} // namespace qrxhost
