// UTF-8 sequences in host texts: used where a text is cut or shown piece by piece, so that
// no character is split (JSON quoting, tokens of the statement parser), and the one rule by
// which names are written and compared without regard to case, UTF-8 letters included.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qrxhost {

// Length of the valid UTF-8 sequence starting at s[i] (2 to 4), or 0 when there is none.
size_t utf8Sequence(const std::string& s, size_t i);

// The bytes of the name character at s[j]: an ASCII letter, digit or underscore, or a whole
// UTF-8 character beyond ASCII (so that a variable such as größe from a CSV header can be
// named as it is written); 0 when s[j] starts none.
size_t nameCharBytes(const std::string& s, size_t j);

// A name in upper case, the form in which names are compared: ASCII letters, and every
// other letter by the simple upper-case mapping of the host's case tables (Latin, Greek,
// Cyrillic, Armenian, ... below U+10000). A mapping that would change the letter's length in
// bytes is not made (dotless i and long s would become ASCII letters; a few IPA letters
// such as U+0250 map beyond U+0800), so a name keeps the length it is written with. Bytes
// that are not UTF-8 are left as they are.
std::string nameUpper(const std::string& s);

// `s` with each control byte below 0x20 other than a tab (a NUL byte, say) written as <0xNN>,
// so that a message quoting a value shows the whole of it and where such a byte stands.
std::string visibleText(std::string_view s);

} // namespace qrxhost
