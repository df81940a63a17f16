// Quoted strings: reading one back to its value and writing a value as one. Declared in
// quotedtext.h.
#include "support/quotedtext.h"

#include <utility>

size_t quotedTextEnd(std::string_view s, size_t at, std::string* value) {
  const char q = s[at];
  for (size_t j = at + 1; j < s.size(); ++j) {
    if (s[j] == q) {
      if (j + 1 >= s.size() || s[j + 1] != q)
        return j + 1;
      ++j; // a doubled quote: one of itself
    }
    if (value != nullptr)
      *value += s[j];
  }
  return std::string_view::npos;
}

bool quotedTextValue(std::string_view text, std::string* value) {
  if (text.empty() || (text.front() != '\'' && text.front() != '"'))
    return false;
  std::string v;
  if (quotedTextEnd(text, 0, &v) != text.size())
    return false;
  *value = std::move(v);
  return true;
}

std::string quotedText(std::string_view value) {
  std::string out = "'";
  for (const char c : value) {
    if (c == '\'')
      out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}
