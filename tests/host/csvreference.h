// A plain reference reader for CSV data sets, for the property tests of the threaded reader:
// one character at a time over the whole text, numbers checked by a regular expression and
// converted with strtod. Slow and simple on purpose; it states the rules once more.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace csvref {

struct Table {
  bool ok = false;
  int errorLine = 0;
  std::string errorText;
  std::vector<std::string> names;
  std::vector<bool> numeric;
  std::vector<int> lengths;
  std::vector<std::vector<double>> nums; // missing as NaN here
  std::vector<std::vector<bool>> missing;
  std::vector<std::vector<std::string>> strs;
  std::vector<int> lines;
};

struct RefRecord {
  int line;
  std::vector<std::string> fields;
};

inline std::string lowered(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

inline std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos)
    return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// 0 number, 1 not a number, 2 a number beyond the largest double
inline int classify(const std::string& t, double* v) {
  static const std::regex number("[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?");
  static const std::regex infinite("[+-]?(inf|infinity)");
  if (std::regex_match(lowered(t), infinite))
    return 2;
  if (!std::regex_match(t, number))
    return 1;
  *v = std::strtod(t.c_str(), nullptr);
  return std::isinf(*v) ? 2 : 0;
}

inline bool fail(Table* out, int line, const std::string& text) {
  out->errorLine = line;
  out->errorText = text;
  return false;
}

// The records of the text: a state machine over its characters.
inline bool splitText(const std::string& s, std::vector<RefRecord>* recs, Table* out) {
  size_t i = s.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int line = 1;
  while (i < s.size()) {
    if (s[i] == '\n' || (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) {
      i += s[i] == '\r' ? 2 : 1;
      ++line;
      continue;
    }
    RefRecord rec{line, {}};
    bool more = true;
    while (more) {
      std::string v;
      if (i < s.size() && s[i] == '"') {
        int start = line;
        ++i;
        for (;;) {
          if (i >= s.size())
            return fail(out, start, "the quoted value that starts here is not closed");
          char c = s[i++];
          if (c == '"' && i < s.size() && s[i] == '"') {
            v += '"';
            ++i;
          } else if (c == '"') {
            break;
          } else {
            line += c == '\n';
            v += c;
          }
        }
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
          ++i;
        if (i < s.size() && s[i] != ',' && s[i] != '\n' && s[i] != '\r')
          return fail(out, line, "unexpected character after a closing quote");
      } else {
        while (i < s.size() && s[i] != ',' && s[i] != '\n' && s[i] != '\r') {
          if (s[i] == '"')
            return fail(out, line, "a quote inside an unquoted value");
          v += s[i++];
        }
      }
      rec.fields.push_back(v);
      if (i < s.size() && s[i] == ',') {
        ++i;
        continue;
      }
      more = false;
      if (i < s.size() && s[i] == '\r' && ++i < s.size() && s[i] != '\n')
        return fail(out, line, "a carriage return inside a value");
      if (i < s.size() && s[i] == '\n') {
        ++i;
        ++line;
      }
    }
    recs->push_back(rec);
  }
  return true;
}

inline bool checkHeader(const RefRecord& h, Table* out) {
  std::set<std::string> seen;
  for (size_t c = 0; c < h.fields.size(); ++c) {
    std::string name = trimmed(h.fields[c]);
    // UTF-8: continuation bytes where expected, no overlong two-byte forms, lead bytes to F4
    for (size_t k = 0; k < name.size();) {
      unsigned char b = static_cast<unsigned char>(name[k]);
      size_t extra = b < 0x80                 ? 0
                     : b >= 0xC2 && b <= 0xDF ? 1
                     : b >= 0xE0 && b <= 0xEF ? 2
                     : b >= 0xF0 && b <= 0xF4 ? 3
                                              : 9;
      bool good = extra != 9 && k + extra < name.size() + (extra == 0);
      for (size_t m = 1; good && m <= extra; ++m)
        good = (static_cast<unsigned char>(name[k + m]) & 0xC0) == 0x80;
      if (!good)
        return fail(out, h.line,
                    "the name of column " + std::to_string(c + 1) +
                        " holds a byte that is not UTF-8");
      k += extra + 1;
    }
    if (name.empty()) {
      // An empty header takes VARn, with _2, _3, ... while the header holds that name.
      std::set<std::string> given;
      for (const std::string& f : h.fields) {
        std::string g = trimmed(f);
        for (char& ch : g)
          ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        given.insert(g);
      }
      const std::string base = "VAR" + std::to_string(c + 1);
      name = base;
      for (int k = 2; given.count(name) != 0; ++k)
        name = base + "_" + std::to_string(k);
    }
    if (name.size() > 32)
      return fail(out, h.line, "the name " + name + " is longer than 32 characters");
    std::string key = name;
    for (char& ch : key)
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (!seen.insert(key).second)
      return fail(out, h.line, "the name " + name + " is given twice");
    out->names.push_back(name);
  }
  return true;
}

// One column over all rows: its type, values and length; the first number too large to hold
// (record index) when the column is numeric.
inline size_t readColumn(const std::vector<RefRecord>& recs, size_t c, Table* out,
                         std::string* bad) {
  bool numeric = true;
  size_t badRecord = 0;
  std::vector<double> nums;
  std::vector<bool> miss;
  for (size_t r = 1; r < recs.size() && numeric; ++r) {
    std::string t = trimmed(recs[r].fields[c]);
    std::string low = lowered(t);
    double v = NAN;
    bool m = t.empty() || t == "." || low == "na" || low == "nan" || low == "n/a";
    int k = m ? 0 : classify(t, &v);
    if (k == 1)
      numeric = false;
    if (k == 2 && badRecord == 0) {
      badRecord = r;
      *bad = t;
    }
    nums.push_back(v);
    miss.push_back(m || k == 2);
  }
  out->numeric.push_back(numeric);
  out->nums.push_back(numeric ? nums : std::vector<double>());
  out->missing.push_back(numeric ? miss : std::vector<bool>());
  std::vector<std::string> strs;
  int length = numeric ? 8 : 1;
  for (size_t r = 1; r < recs.size() && !numeric; ++r) {
    std::string t = trimmed(recs[r].fields[c]);
    std::string v = t.empty() || t == "." ? "" : recs[r].fields[c];
    v.erase(v.find_last_not_of(" \t") + 1);
    length = std::max(length, static_cast<int>(v.size()));
    strs.push_back(v);
  }
  out->strs.push_back(strs);
  out->lengths.push_back(length);
  return numeric ? badRecord : 0;
}

inline Table parse(const std::string& text) {
  Table out;
  std::vector<RefRecord> recs;
  if (!splitText(text, &recs, &out))
    return out;
  if (recs.empty()) {
    fail(&out, 1, "the file has no header line of variable names");
    return out;
  }
  if (!checkHeader(recs[0], &out))
    return out;
  const size_t ncol = recs[0].fields.size();
  for (size_t r = 1; r < recs.size(); ++r) {
    out.lines.push_back(recs[r].line);
    if (recs[r].fields.size() != ncol) {
      fail(&out, recs[r].line,
           "the row has " + std::to_string(recs[r].fields.size()) +
               " values but the header names " + std::to_string(ncol) + " variables");
      return out;
    }
  }
  size_t firstBad = 0, badColumn = 0;
  std::string badText;
  for (size_t c = 0; c < ncol; ++c) {
    std::string text1;
    size_t b = readColumn(recs, c, &out, &text1);
    if (b != 0 && (firstBad == 0 || b < firstBad)) {
      firstBad = b;
      badColumn = c;
      badText = text1;
    }
  }
  if (firstBad != 0) {
    fail(&out, recs[firstBad].line,
         "column " + std::to_string(badColumn + 1) + " (" + out.names[badColumn] +
             "): the value \"" + badText + "\" is a number beyond the largest that can be held");
    return out;
  }
  out.ok = true;
  return out;
}

} // namespace csvref
