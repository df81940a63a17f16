// CSV parsing and writing for the host's data sets. Fields follow the usual rules: commas
// separate, double quotes enclose fields that hold commas, quotes ("") or line breaks.
#include "host/data/csvfile.h"
#include "support/hostif.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>

namespace qrxhost {
namespace {

bool validUtf8(const std::string& s) {
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

std::string_view trimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t'))
    ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
    --e;
  return s.substr(b, e - b);
}

std::string upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A field as a view: into the file's text, or into `unescaped` for quoted fields that
// held doubled quotes (a deque keeps those strings in place).
struct Field {
  std::string_view text;
  bool quoted = false;
};

struct Records {
  std::vector<Field> fields;  // all fields, record after record
  std::vector<size_t> starts; // index of each record's first field; one extra at the end
  std::vector<int> lines;     // line where each record starts
  std::deque<std::string> unescaped;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool equalsNoCase(std::string_view text, std::string_view lower) {
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
NumberText classifyNumber(std::string_view t, double* value) {
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

bool numberOf(std::string_view t, double* value) {
  return classifyNumber(t, value) == NumberText::kNumber;
}

// Splits the text into records of fields. Reports an unterminated quote with the line
// where the quoted field starts, and a character after a closing quote.
bool splitRecords(const std::string& text, Records* out, CsvError* error) {
  size_t i = 0;
  int line = 1;
  const size_t n = text.size();
  const char* t = text.data();
  if (n >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    i = 3; // byte-order mark
  while (i < n) {
    // skip empty lines between records
    if (t[i] == '\n') {
      ++line;
      ++i;
      continue;
    }
    if (t[i] == '\r' && i + 1 < n && t[i + 1] == '\n') {
      ++line;
      i += 2;
      continue;
    }
    out->starts.push_back(out->fields.size());
    out->lines.push_back(line);
    for (;;) {
      Field f;
      if (i < n && t[i] == '"') {
        f.quoted = true;
        int quoteLine = line;
        size_t begin = ++i;
        bool doubled = false;
        for (;;) {
          if (i >= n) {
            *error = {quoteLine, "the quoted value that starts here is not closed"};
            return false;
          }
          if (t[i] == '"') {
            if (i + 1 < n && t[i + 1] == '"') {
              doubled = true;
              i += 2;
              continue;
            }
            break;
          }
          if (t[i] == '\n')
            ++line;
          ++i;
        }
        std::string_view raw(t + begin, i - begin);
        ++i; // the closing quote
        if (doubled) {
          std::string u;
          u.reserve(raw.size());
          for (size_t k = 0; k < raw.size(); ++k) {
            u += raw[k];
            if (raw[k] == '"')
              ++k; // the second quote of a pair
          }
          out->unescaped.push_back(std::move(u));
          f.text = out->unescaped.back();
        } else {
          f.text = raw;
        }
        // only blanks may follow the closing quote before the separator
        while (i < n && (t[i] == ' ' || t[i] == '\t'))
          ++i;
        if (i < n && t[i] != ',' && t[i] != '\n' && t[i] != '\r') {
          *error = {line, "unexpected character after a closing quote"};
          return false;
        }
      } else {
        size_t begin = i;
        while (i < n && t[i] != ',' && t[i] != '\n' && t[i] != '\r') {
          if (t[i] == '"') {
            *error = {line, "a quote inside an unquoted value"};
            return false;
          }
          ++i;
        }
        f.text = std::string_view(t + begin, i - begin);
      }
      out->fields.push_back(f);
      if (i < n && t[i] == ',') {
        ++i;
        continue;
      }
      if (i < n && t[i] == '\r') {
        ++i;
        if (i < n && t[i] != '\n') {
          *error = {line, "a carriage return inside a value"};
          return false;
        }
      }
      if (i < n && t[i] == '\n') {
        ++i;
        ++line;
      }
      break;
    }
  }
  out->starts.push_back(out->fields.size());
  return true;
}

// Empty and "." are missing, quoted or not (writers that quote every field quote them).
bool isMissingText(const Field&, std::string_view trimmed) {
  return trimmed.empty() || trimmed == ".";
}

// The spellings other programs write for a missing number: NA, NaN and N/A in any case.
// They are missing in a numeric column; a character column keeps them as text.
bool isMissingNumberText(std::string_view trimmed) {
  return equalsNoCase(trimmed, "na") || equalsNoCase(trimmed, "nan") ||
         equalsNoCase(trimmed, "n/a");
}

// The first value of a column that is a number the host cannot hold; an error only when
// the column turns out numeric (a character column keeps such texts).
struct Unholdable {
  size_t record = 0; // 0: none
  std::string text;
};

// Reads the numeric value of a field into *value (missing for the missing spellings).
// False when the field is not a number.
bool readNumericField(const Field& f, size_t record, double* value, Unholdable* bad) {
  const std::string_view tv = trimView(f.text);
  *value = hostMissing();
  if (isMissingText(f, tv) || isMissingNumberText(tv))
    return true;
  switch (classifyNumber(tv, value)) {
  case NumberText::kNumber:
    return true;
  case NumberText::kNotNumber:
    return false;
  case NumberText::kTooLarge:
    break;
  }
  if (bad->record == 0)
    *bad = {record, std::string(tv)};
  return true;
}

// The error for the earliest number the host cannot hold in a numeric column, if any.
bool reportUnholdable(const std::vector<Unholdable>& bad, const std::vector<bool>& numeric,
                      const Records& rec, const CsvTable& table, CsvError* error) {
  size_t best = bad.size();
  for (size_t c = 0; c < bad.size(); ++c)
    if (numeric[c] && bad[c].record != 0 &&
        (best == bad.size() || bad[c].record < bad[best].record))
      best = c;
  if (best == bad.size())
    return false;
  *error = {rec.lines[bad[best].record], "column " + std::to_string(best + 1) + " (" +
                                             table.columns[best].name + "): the value \"" +
                                             bad[best].text +
                                             "\" is a number beyond the largest that can be held"};
  return true;
}

} // namespace

bool parseCsvNumber(const std::string& text, double* value) {
  return numberOf(trimView(text), value);
}

bool parseCsv(const std::string& text, CsvTable* out, CsvError* error) {
  Records rec;
  if (!splitRecords(text, &rec, error))
    return false;
  const size_t nrec = rec.lines.size();
  if (nrec == 0) {
    *error = {1, "the file has no header line of variable names"};
    return false;
  }
  const size_t ncol = rec.starts[1] - rec.starts[0];
  std::map<std::string, int> seen;
  out->columns.clear();
  for (size_t c = 0; c < ncol; ++c) {
    std::string name(trimView(rec.fields[c].text));
    if (!validUtf8(name)) {
      *error = {rec.lines[0],
                "the name of column " + std::to_string(c + 1) + " holds a byte that is not UTF-8"};
      return false;
    }
    if (name.empty()) {
      *error = {rec.lines[0], "column " + std::to_string(c + 1) + " has no name"};
      return false;
    }
    if (name.size() > 32) {
      *error = {rec.lines[0], "the name " + name + " is longer than 32 characters"};
      return false;
    }
    if (!seen.emplace(upper(name), static_cast<int>(c)).second) {
      *error = {rec.lines[0], "the name " + name + " is given twice"};
      return false;
    }
    CsvColumn col;
    col.name = name;
    col.nums.reserve(nrec - 1);
    out->columns.push_back(std::move(col));
  }
  // One pass: check the shape and read numbers while every value of a column is one.
  std::vector<bool> numeric(ncol, true);
  std::vector<Unholdable> unholdable(ncol);
  for (size_t r = 1; r < nrec; ++r) {
    size_t first = rec.starts[r], count = rec.starts[r + 1] - first;
    if (count != ncol) {
      *error = {rec.lines[r], "the row has " + std::to_string(count) +
                                  " values but the header names " + std::to_string(ncol) +
                                  " variables"};
      return false;
    }
    for (size_t c = 0; c < ncol; ++c) {
      if (!numeric[c])
        continue;
      double v;
      if (!readNumericField(rec.fields[first + c], r, &v, &unholdable[c])) {
        numeric[c] = false;
        std::vector<double>().swap(out->columns[c].nums);
        continue;
      }
      out->columns[c].nums.push_back(v);
    }
  }
  if (reportUnholdable(unholdable, numeric, rec, *out, error))
    return false;
  for (size_t c = 0; c < ncol; ++c) {
    CsvColumn& col = out->columns[c];
    col.numeric = numeric[c];
    col.length = col.numeric ? 8 : 1;
    if (col.numeric)
      continue;
    col.strs.reserve(nrec - 1);
    for (size_t r = 1; r < nrec; ++r) {
      const Field& f = rec.fields[rec.starts[r] + c];
      // character values keep leading blanks; trailing blanks carry nothing
      std::string_view v = isMissingText(f, trimView(f.text)) ? std::string_view() : f.text;
      while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
        v.remove_suffix(1);
      col.length = std::max<int32_t>(col.length, static_cast<int32_t>(v.size()));
      col.strs.emplace_back(v);
    }
  }
  out->lines.assign(rec.lines.begin() + 1, rec.lines.end());
  out->nobs = static_cast<int64_t>(nrec - 1);
  return true;
}

bool readCsvFile(const std::string& path, CsvTable* out, CsvError* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = {0, "the file cannot be opened"};
    return false;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) {
    *error = {0, "the file cannot be read"};
    return false;
  }
  out->file = path;
  return parseCsv(ss.str(), out, error);
}

std::string formatCsvNumber(double value) {
  if (isHostMissing(value) || std::isnan(value))
    return std::string();
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

std::string csvField(const std::string& text) {
  bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
  for (char c : text)
    if (c == ',' || c == '"' || c == '\n' || c == '\r')
      quote = true;
  if (!quote)
    return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"')
      out += '"';
    out += c;
  }
  out += '"';
  return out;
}

} // namespace qrxhost
