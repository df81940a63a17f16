// The statement tokenizer: names, compound and format names, quoted strings, name
// literals, integers and numbers, punctuation; comments are dropped. Grammar matching and
// actions are the interpreter's (rdparse.cpp).
#include "host/parser/psparser.h"
#include "host/utf8text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace qrxhost {

namespace {

bool nameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool nameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string upper(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

struct Lexer {
  const std::string &s;
  size_t i = 0;
  int line;
  int col;
  std::vector<LexToken> &out;
  LexError *err;

  bool fail(ParserMsg msg, int l, int c, std::string detail) {
    if (err) {
      err->message = msg;
      err->line = l;
      err->column = c;
      err->detail = std::move(detail);
    }
    return false;
  }

  void advance(size_t n) {
    for (size_t k = 0; k < n && i < s.size(); ++k, ++i) {
      if (s[i] == '\n') {
        ++line;
        col = 1;
      } else {
        ++col;
      }
    }
  }

  bool atStatementStart() const { return out.empty() || out.back().text == ";"; }

  // A '-' directly before a digit is a sign after '=', '(', ',' or a number.
  bool signContext() const {
    if (out.empty())
      return false;
    const LexToken &p = out.back();
    return p.text == "=" || p.text == "(" || p.text == "," || p.cls == TC_INT || p.cls == TC_NBR;
  }

  bool number(LexToken &t) {
    size_t j = i;
    if (s[j] == '-')
      ++j;
    bool isInt = true;
    while (j < s.size() && digit(s[j]))
      ++j;
    if (j < s.size() && s[j] == '.') {
      isInt = false;
      ++j;
      while (j < s.size() && digit(s[j]))
        ++j;
    }
    if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
      size_t k = j + 1;
      if (k < s.size() && (s[k] == '+' || s[k] == '-'))
        ++k;
      if (k < s.size() && digit(s[k])) {
        isInt = false;
        j = k;
        while (j < s.size() && digit(s[j]))
          ++j;
      }
    }
    t.raw = s.substr(i, j - i);
    t.text = t.raw;
    errno = 0;
    t.number = std::strtod(t.raw.c_str(), nullptr);
    if (errno == ERANGE)
      return fail(PM_NUMBER, line, col, t.raw);
    t.cls = isInt && t.number >= -2147483648.0 && t.number <= 2147483647.0 ? TC_INT : TC_NBR;
    advance(j - i);
    return true;
  }

  bool run() {
    while (i < s.size()) {
      char c = s[i];
      if (std::isspace(static_cast<unsigned char>(c)) || c == '\0') {
        advance(1);
        continue;
      }
      if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
        int l = line, cc = col;
        size_t end = s.find("*/", i + 2);
        if (end == std::string::npos)
          return fail(PM_UNTERMINATED, l, cc, "/*");
        advance(end + 2 - i);
        continue;
      }
      if (c == '*' && atStatementStart()) {
        int l = line, cc = col;
        size_t end = s.find(';', i);
        if (end == std::string::npos)
          return fail(PM_UNTERMINATED, l, cc, "*");
        advance(end + 1 - i);
        continue;
      }
      LexToken t;
      t.line = line;
      t.column = col;
      t.offset = static_cast<int64_t>(i);
      if (nameStart(c)) {
        size_t j = i + 1;
        while (j < s.size() && nameChar(s[j]))
          ++j;
        if (j < s.size() && s[j] == '$')
          ++j;
        t.cls = TC_NAMEX;
        if (j < s.size() && s[j] == '.' && s[j - 1] != '$') {
          if (j + 1 < s.size() && nameStart(s[j + 1])) {
            size_t k = j + 1;
            while (k < s.size() && nameChar(s[k]))
              ++k;
            if (k - j - 1 > 32)
              return fail(PM_NAMELENGTH, line, col, s.substr(i, k - i));
            t.cls = TC_COMPOUND;
            j = k;
          } else {
            ++j; // a format name: name. or name.d
            while (j < s.size() && digit(s[j]))
              ++j;
            t.cls = TC_FMT;
          }
        }
        t.raw = s.substr(i, j - i);
        if (t.cls == TC_NAMEX && t.raw.size() > 32 + (t.raw.back() == '$' ? 1u : 0u))
          return fail(PM_NAMELENGTH, line, col, t.raw);
        t.text = upper(t.raw);
        advance(j - i);
      } else if (c == '\'' || c == '"') {
        int l = line, cc = col;
        size_t j = i + 1;
        std::string v;
        for (;;) {
          if (j >= s.size())
            return fail(PM_UNTERMINATED, l, cc, std::string(1, c));
          if (s[j] == c) {
            if (j + 1 < s.size() && s[j + 1] == c) {
              v += c;
              j += 2;
              continue;
            }
            ++j;
            break;
          }
          v += s[j++];
        }
        t.cls = TC_QS;
        if (j < s.size() && (s[j] == 'n' || s[j] == 'N') &&
            (j + 1 >= s.size() || !nameChar(s[j + 1]))) {
          ++j;
          t.cls = TC_VLITERAL;
          if (v.empty() || v.size() > 32)
            return fail(PM_NAMELENGTH, l, cc, v);
        }
        t.raw = s.substr(i, j - i);
        t.text = v;
        advance(j - i);
      } else if (digit(c) || (c == '.' && i + 1 < s.size() && digit(s[i + 1])) ||
                 (c == '-' && i + 1 < s.size() && signContext() &&
                  (digit(s[i + 1]) || (s[i + 1] == '.' && i + 2 < s.size() && digit(s[i + 2]))))) {
        if (!number(t))
          return false;
      } else if (c == '.') {
        t.cls = TC_MISSING;
        t.raw = t.text = ".";
        advance(1);
      } else {
        // A character that starts no token, whole: a message that shows it must not split it.
        size_t n = std::max<size_t>(1, utf8Sequence(s, i));
        t.cls = 0;
        t.raw = t.text = s.substr(i, n);
        advance(n);
      }
      out.push_back(std::move(t));
    }
    LexToken end;
    end.cls = TC_ENDJB;
    end.line = line;
    end.column = col;
    end.offset = static_cast<int64_t>(s.size());
    out.push_back(end);
    return true;
  }
};

} // namespace

bool tokenize(const std::string &text, int firstLine, int firstColumn, std::vector<LexToken> &out,
              LexError *error) {
  out.clear();
  Lexer lx{text, 0, firstLine, firstColumn, out, error};
  return lx.run();
}

} // namespace qrxhost
