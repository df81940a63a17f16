// CSV parsing and writing for the host's data sets. Fields follow the usual rules: commas
// separate, double quotes enclose fields that hold commas, quotes ("") or line breaks.
#include "host/data/csvfile.h"
#include "support/hostif.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

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

std::string trim(const std::string& s) {
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

struct Field {
  std::string text;
  bool quoted = false;
};

// Splits the text into records of fields. Reports an unterminated quote with the line
// where the quoted field starts, and a character after a closing quote.
bool splitRecords(const std::string& text, std::vector<std::vector<Field>>* records,
                  std::vector<int>* lines, CsvError* error) {
  size_t i = 0;
  int line = 1;
  const size_t n = text.size();
  if (n >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    i = 3; // byte-order mark
  while (i < n) {
    // skip empty lines between records
    if (text[i] == '\n') {
      ++line;
      ++i;
      continue;
    }
    if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') {
      ++line;
      i += 2;
      continue;
    }
    std::vector<Field> record;
    int recordLine = line;
    for (;;) {
      Field f;
      if (i < n && text[i] == '"') {
        f.quoted = true;
        int quoteLine = line;
        ++i;
        for (;;) {
          if (i >= n) {
            *error = {quoteLine, "the quoted value that starts here is not closed"};
            return false;
          }
          char c = text[i];
          if (c == '"') {
            if (i + 1 < n && text[i + 1] == '"') {
              f.text += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          if (c == '\n')
            ++line;
          f.text += c;
          ++i;
        }
        // only blanks may follow the closing quote before the separator
        while (i < n && (text[i] == ' ' || text[i] == '\t'))
          ++i;
        if (i < n && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
          *error = {line, "unexpected character after a closing quote"};
          return false;
        }
      } else {
        while (i < n && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
          if (text[i] == '"') {
            *error = {line, "a quote inside an unquoted value"};
            return false;
          }
          f.text += text[i++];
        }
      }
      record.push_back(std::move(f));
      if (i < n && text[i] == ',') {
        ++i;
        continue;
      }
      if (i < n && text[i] == '\r') {
        ++i;
        if (i < n && text[i] != '\n') {
          *error = {line, "a carriage return inside a value"};
          return false;
        }
      }
      if (i < n && text[i] == '\n') {
        ++i;
        ++line;
      }
      break;
    }
    records->push_back(std::move(record));
    lines->push_back(recordLine);
  }
  return true;
}

bool isMissingText(const Field& f, const std::string& trimmed) {
  return trimmed.empty() || (!f.quoted && trimmed == ".");
}

} // namespace

bool parseCsvNumber(const std::string& text, double* value) {
  std::string t = trim(text);
  if (t.empty())
    return false;
  size_t i = 0;
  if (t[i] == '+' || t[i] == '-')
    ++i;
  size_t digits = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
    ++i;
    ++digits;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0)
    return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
      ++i;
    size_t expDigits = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
      ++i;
      ++expDigits;
    }
    if (expDigits == 0)
      return false;
  }
  if (i != t.size())
    return false;
  double v = std::strtod(t.c_str(), nullptr);
  if (!std::isfinite(v))
    return false;
  *value = v;
  return true;
}

bool parseCsv(const std::string& text, CsvTable* out, CsvError* error) {
  std::vector<std::vector<Field>> records;
  std::vector<int> lines;
  if (!splitRecords(text, &records, &lines, error))
    return false;
  if (records.empty()) {
    *error = {1, "the file has no header line of variable names"};
    return false;
  }
  const std::vector<Field>& header = records[0];
  std::map<std::string, int> seen;
  out->columns.clear();
  for (size_t c = 0; c < header.size(); ++c) {
    std::string name = trim(header[c].text);
    if (!validUtf8(name)) {
      *error = {lines[0], "the name of column " + std::to_string(c + 1) +
                              " holds a byte that is not UTF-8"};
      return false;
    }
    if (name.empty()) {
      *error = {lines[0], "column " + std::to_string(c + 1) + " has no name"};
      return false;
    }
    if (name.size() > 32) {
      *error = {lines[0], "the name " + name + " is longer than 32 characters"};
      return false;
    }
    if (!seen.emplace(upper(name), static_cast<int>(c)).second) {
      *error = {lines[0], "the name " + name + " is given twice"};
      return false;
    }
    CsvColumn col;
    col.name = name;
    out->columns.push_back(std::move(col));
  }
  const size_t ncol = header.size();
  const size_t nrow = records.size() - 1;
  // First pass: check the shape and decide each column's type.
  std::vector<bool> numeric(ncol, true);
  for (size_t r = 1; r < records.size(); ++r) {
    if (records[r].size() != ncol) {
      *error = {lines[r], "the row has " + std::to_string(records[r].size()) +
                              " values but the header names " + std::to_string(ncol) +
                              " variables"};
      return false;
    }
    for (size_t c = 0; c < ncol; ++c) {
      if (!numeric[c])
        continue;
      const Field& f = records[r][c];
      std::string t = trim(f.text);
      double v;
      if (!isMissingText(f, t) && !parseCsvNumber(t, &v))
        numeric[c] = false;
    }
  }
  for (size_t c = 0; c < ncol; ++c) {
    CsvColumn& col = out->columns[c];
    col.numeric = numeric[c];
    col.length = col.numeric ? 8 : 1;
    if (col.numeric)
      col.nums.reserve(nrow);
    else
      col.strs.reserve(nrow);
  }
  for (size_t r = 1; r < records.size(); ++r) {
    for (size_t c = 0; c < ncol; ++c) {
      CsvColumn& col = out->columns[c];
      const Field& f = records[r][c];
      std::string t = trim(f.text);
      if (col.numeric) {
        double v = hostMissing();
        if (!isMissingText(f, t))
          parseCsvNumber(t, &v);
        col.nums.push_back(v);
      } else {
        // character values keep leading blanks; trailing blanks carry nothing
        std::string s = isMissingText(f, t) ? std::string() : f.text;
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
          s.pop_back();
        col.length = std::max<int32_t>(col.length, static_cast<int32_t>(s.size()));
        col.strs.push_back(std::move(s));
      }
    }
  }
  out->lines.assign(lines.begin() + 1, lines.end());
  out->nobs = static_cast<int64_t>(nrow);
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
