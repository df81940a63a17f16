// Quoted strings as every statement writes them, paths and texts alike: 'text' or "text",
// where the quote that opens the string stands doubled inside it for one of itself and the
// other quote character is an ordinary one ("o'brien", 'say "hi"', 'it''s').
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The quoted string that opens at s[at]: the index after its closing quote, or npos when it
// never closes; its value is appended to *value when one is given.
size_t quotedTextEnd(std::string_view s, size_t at, std::string* value);

// Whether `text` is one whole quoted string; its value into *value.
bool quotedTextValue(std::string_view text, std::string* value);

// `value` written as a quoted string in single quotes, a single quote inside doubled:
// quotedTextValue reads it back as it was.
std::string quotedText(std::string_view value);
