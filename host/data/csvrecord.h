// The pieces of CSV text as the reader meets them: fields and records, their unescaped
// texts, and which texts are numbers or missing values. Inline, so that the block reader
// (csvblocks.cpp) keeps them in its hot loop; the blocks and the table are left to others.
#pragma once

#include "host/data/csvfile.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

namespace qrxhost {
class MappedFile;
} // namespace qrxhost

namespace qrxhost::csvread {

inline bool validUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra;
    if (c < 0x80)
      extra = 0;
    else if (c >= 0xC2 && c <= 0xDF)
      extra = 1;
    else if (c >= 0xE0 && c <= 0xEF)
      extra = 2;
    else if (c >= 0xF0 && c <= 0xF4)
      extra = 3;
    else
      return false;
    if (i + extra >= s.size() && extra > 0)
      return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2)
        return false;
    i += extra + 1;
  }
  return true;
}

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view trimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b]))
    ++b;
  while (e > b && isBlank(s[e - 1]))
    --e;
  return s.substr(b, e - b);
}

inline size_t rtrimmedSize(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && isBlank(s[e - 1]))
    --e;
  return e;
}

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

inline bool equalsNoCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size())
    return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i])
      return false;
  return true;
}

enum class NumberText { kNumber, kNotNumber, kTooLarge };

// Checks the number syntax on a trimmed view and converts it. Infinities and decimal
// numbers beyond the largest double are numbers the host cannot hold; numbers too small
// in magnitude read as zero (or a subnormal).
inline NumberText classifyNumber(std::string_view t, double* value) {
  if (t.empty())
    return NumberText::kNotNumber;
  size_t i = 0;
  if (t[i] == '+' || t[i] == '-')
    ++i;
  if (equalsNoCase(t.substr(i), "inf") || equalsNoCase(t.substr(i), "infinity"))
    return NumberText::kTooLarge;
  size_t digits = 0;
  while (i < t.size() && isDigit(t[i])) {
    ++i;
    ++digits;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && isDigit(t[i])) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0)
    return NumberText::kNotNumber;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
      ++i;
    size_t expDigits = 0;
    while (i < t.size() && isDigit(t[i])) {
      ++i;
      ++expDigits;
    }
    if (expDigits == 0)
      return NumberText::kNotNumber;
  }
  if (i != t.size())
    return NumberText::kNotNumber;
  std::string_view body = t[0] == '+' ? t.substr(1) : t;
  double v = 0;
  auto res = std::from_chars(body.data(), body.data() + body.size(), v);
  if (res.ec == std::errc::result_out_of_range)
    v = std::strtod(std::string(body).c_str(), nullptr); // over- or underflow: which one
  else if (res.ec != std::errc() || res.ptr != body.data() + body.size())
    return NumberText::kNotNumber;
  if (!std::isfinite(v))
    return NumberText::kTooLarge;
  *value = v;
  return NumberText::kNumber;
}

// Empty and "." are missing, quoted or not (writers that quote every field quote them).
inline bool isMissingText(std::string_view trimmed) { return trimmed.empty() || trimmed == "."; }

// The spellings other programs write for a missing number: NA, NaN and N/A in any case.
// They are missing in a numeric column; a character column keeps them as text.
inline bool isMissingNumberText(std::string_view trimmed) {
  return equalsNoCase(trimmed, "na") || equalsNoCase(trimmed, "nan") ||
         equalsNoCase(trimmed, "n/a");
}

// ---- records ----------------------------------------------------------------------------

// The text being read; `start` is past a byte-order mark. A file too large to map whole
// has `file` set and `t` null: each block maps its own piece of it (csvblocks.cpp).
struct Text {
  const char* t = nullptr;
  size_t n = 0;
  size_t start = 0;
  const MappedFile* file = nullptr;
};

// One field of a record: its raw text (between the quotes for a quoted field) and the
// number of doubled quotes in it.
struct Field {
  std::string_view raw;
  bool quoted = false;
  size_t pairs = 0;
};

struct SyntaxError {
  bool set = false;
  CsvError error;
};

// Skips empty lines (LF or CRLF alone) at a record boundary.
inline void skipEmptyLines(const Text& x, size_t* i, int64_t* line) {
  while (*i < x.n) {
    if (x.t[*i] == '\n') {
      ++*line;
      ++*i;
    } else if (x.t[*i] == '\r' && *i + 1 < x.n && x.t[*i + 1] == '\n') {
      ++*line;
      *i += 2;
    } else {
      break;
    }
  }
}

// A quoted field from its opening quote; false (with the error) when it is not closed or
// something other than blanks follows the closing quote.
inline bool quotedField(const Text& x, size_t* at, int64_t* line, Field* f, SyntaxError* err) {
  size_t i = *at;
  const int64_t quoteLine = *line;
  const size_t begin = ++i;
  f->quoted = true;
  for (;;) {
    const void* q = i < x.n ? std::memchr(x.t + i, '"', x.n - i) : nullptr;
    const size_t next = q ? static_cast<size_t>(static_cast<const char*>(q) - x.t) : x.n;
    *line += std::count(x.t + i, x.t + next, '\n');
    i = next;
    if (i >= x.n) {
      *err = {true,
              {static_cast<int>(quoteLine), "the quoted value that starts here is not closed"}};
      return false;
    }
    if (i + 1 < x.n && x.t[i + 1] == '"') {
      ++f->pairs;
      i += 2;
      continue;
    }
    break;
  }
  f->raw = std::string_view(x.t + begin, i - begin);
  ++i; // the closing quote
  // only blanks may follow the closing quote before the separator
  while (i < x.n && isBlank(x.t[i]))
    ++i;
  if (i < x.n && x.t[i] != ',' && x.t[i] != '\n' && x.t[i] != '\r') {
    *err = {true, {static_cast<int>(*line), "unexpected character after a closing quote"}};
    return false;
  }
  *at = i;
  return true;
}

inline bool unquotedField(const Text& x, size_t* at, int64_t line, Field* f, SyntaxError* err) {
  size_t i = *at;
  const size_t begin = i;
  while (i < x.n && x.t[i] != ',' && x.t[i] != '\n' && x.t[i] != '\r') {
    if (x.t[i] == '"') {
      *err = {true, {static_cast<int>(line), "a quote inside an unquoted value"}};
      return false;
    }
    ++i;
  }
  f->raw = std::string_view(x.t + begin, i - begin);
  *at = i;
  return true;
}

// The end of a field: true when another field follows in the same record.
inline bool fieldSeparator(const Text& x, size_t* i, int64_t* line, SyntaxError* err) {
  if (*i < x.n && x.t[*i] == ',') {
    ++*i;
    return true;
  }
  if (*i < x.n && x.t[*i] == '\r') {
    ++*i;
    if (*i < x.n && x.t[*i] != '\n') {
      *err = {true, {static_cast<int>(*line), "a carriage return inside a value"}};
      return false;
    }
  }
  if (*i < x.n && x.t[*i] == '\n') {
    ++*i;
    ++*line;
  }
  return false;
}

// Parses the record that starts at *i, handing each field to onField(index, field, i) where
// i is the position after the field; onField may consume a field itself and move i (the
// numeric fast path). Returns the number of fields, or -1 on a syntax error.
template <class OnField>
int64_t parseRecord(const Text& x, size_t* i, int64_t* line, SyntaxError* err, OnField&& onField) {
  for (int64_t field = 0;; ++field) {
    Field f;
    if (*i < x.n && x.t[*i] == '"') {
      if (!quotedField(x, i, line, &f, err))
        return -1;
      onField(field, f, nullptr);
    } else if (!onField(field, f, i)) {
      if (!unquotedField(x, i, *line, &f, err))
        return -1;
      onField(field, f, nullptr);
    }
    if (err->set)
      return -1;
    if (!fieldSeparator(x, i, line, err))
      return err->set ? -1 : field + 1;
  }
}

// The text of a field as a character value: unescaped, without trailing blanks; missing
// texts give the empty value.
inline size_t characterSize(const Field& f) {
  if (!f.quoted || f.pairs == 0) {
    const std::string_view tv = trimView(f.raw);
    return isMissingText(tv) ? 0 : rtrimmedSize(f.raw);
  }
  return rtrimmedSize(f.raw) - f.pairs; // the pairs lie before any trailing blank
}

inline char* writeCharacter(const Field& f, size_t size, char* out) {
  if (f.pairs == 0) {
    std::memcpy(out, f.raw.data(), size);
    return out + size;
  }
  for (size_t k = 0, w = 0; w < size; ++k, ++w) {
    out[w] = f.raw[k];
    if (f.raw[k] == '"')
      ++k; // the second quote of a pair
  }
  return out + size;
}

inline std::string unescaped(const Field& f) {
  if (f.pairs == 0)
    return std::string(f.raw);
  std::string s(f.raw.size() - f.pairs, '\0');
  for (size_t k = 0, w = 0; k < f.raw.size(); ++k, ++w) {
    s[w] = f.raw[k];
    if (f.raw[k] == '"')
      ++k;
  }
  return s;
}

} // namespace qrxhost::csvread
