// The statement tokenizer: names, compound and format names, quoted strings, name
// literals, integers and numbers, punctuation; comments are dropped. Grammar matching and
// actions are the interpreter's (rdparse.cpp). Declared in host/parser/psparser.h.
#include "host/parser/psparser.h"
#include "host/utf8text.h"
#include "support/quotedtext.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace qrxhost {

namespace {

bool nameStart(const std::string& s, size_t j) {
  return !std::isdigit(static_cast<unsigned char>(s[j])) && nameCharBytes(s, j) > 0;
}

// The end of the run of name characters that starts at j.
size_t nameEnd(const std::string& s, size_t j) {
  while (j < s.size()) {
    const size_t n = nameCharBytes(s, j);
    if (n == 0)
      break;
    j += n;
  }
  return j;
}

bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// One token as the lexer makes it: `text` is valid only while the sink takes it.
struct Lexeme {
  int cls = 0;
  size_t begin = 0, end = 0; // the source characters
  std::string_view text;
  double number = 0;
  int line = 0, column = 0;
};

// The lexer hands each token to its sink (sink(const Lexeme&)), so that the caller keeps
// tokens in the form it needs and no per-token strings are made on the way.
template <class Sink> struct Lexer {
  Lexer(const std::string& text, int firstLine, int firstColumn, Sink& tokenSink, LexError* error)
      : s(text), line(firstLine), col(firstColumn), sink(tokenSink), err(error) {}

  const std::string& s;
  size_t i = 0;
  int line;
  int col;
  Sink& sink;
  LexError* err;
  // What the previous token was, for comment statements and signs.
  bool any = false;
  bool lastSemicolon = false;
  bool lastOpensSign = false;
  std::string scratch; // the text of the token being made when it differs from the source

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

  bool atStatementStart() const { return !any || lastSemicolon; }

  // A '-' directly before a digit is a sign after '=', '(', ',' or a number.
  bool signContext() const { return any && lastOpensSign; }

  void emit(const Lexeme& t) {
    any = true;
    lastSemicolon = t.text == ";";
    lastOpensSign =
        t.text == "=" || t.text == "(" || t.text == "," || t.cls == TC_INT || t.cls == TC_NBR;
    sink(t);
  }

  std::string_view source(size_t from, size_t to) const {
    return std::string_view(s).substr(from, to - from);
  }

  bool number(Lexeme& t) {
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
    t.end = j;
    scratch.assign(s, i, j - i);
    t.text = scratch;
    errno = 0;
    t.number = std::strtod(scratch.c_str(), nullptr);
    if (errno == ERANGE)
      return fail(PM_NUMBER, line, col, scratch);
    t.cls = isInt && t.number >= -2147483648.0 && t.number <= 2147483647.0 ? TC_INT : TC_NBR;
    advance(j - i);
    return true;
  }

  bool name(Lexeme& t) {
    size_t j = nameEnd(s, i);
    if (j < s.size() && s[j] == '$')
      ++j;
    t.cls = TC_NAMEX;
    if (j < s.size() && s[j] == '.' && s[j - 1] != '$') {
      if (j + 1 < s.size() && nameStart(s, j + 1)) {
        size_t k = nameEnd(s, j + 1);
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
    t.end = j;
    if (t.cls == TC_NAMEX && j - i > 32 + (s[j - 1] == '$' ? 1u : 0u))
      return fail(PM_NAMELENGTH, line, col, s.substr(i, j - i));
    scratch = nameUpper(s.substr(i, j - i));
    t.text = scratch;
    advance(j - i);
    return true;
  }

  bool quoted(Lexeme& t) {
    const int l = line, cc = col;
    scratch.clear();
    size_t j = quotedTextEnd(s, i, &scratch);
    if (j == std::string::npos)
      return fail(PM_UNTERMINATED, l, cc, std::string(1, s[i]));
    t.cls = TC_QS;
    if (j < s.size() && (s[j] == 'n' || s[j] == 'N') &&
        (j + 1 >= s.size() || nameCharBytes(s, j + 1) == 0)) {
      ++j;
      t.cls = TC_VLITERAL;
      if (scratch.empty() || scratch.size() > 32)
        return fail(PM_NAMELENGTH, l, cc, scratch);
    }
    t.end = j;
    t.text = scratch;
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
      Lexeme t;
      t.line = line;
      t.column = col;
      t.begin = i;
      if (nameStart(s, i)) {
        if (!name(t))
          return false;
      } else if (c == '\'' || c == '"') {
        if (!quoted(t))
          return false;
      } else if (digit(c) || (c == '.' && i + 1 < s.size() && digit(s[i + 1])) ||
                 (c == '-' && i + 1 < s.size() && signContext() &&
                  (digit(s[i + 1]) || (s[i + 1] == '.' && i + 2 < s.size() && digit(s[i + 2]))))) {
        if (!number(t))
          return false;
      } else {
        // '.' alone is a missing value; any other character that starts no token is
        // punctuation, taken whole: a message that shows it must not split it.
        size_t n = c == '.' ? 1 : std::max<size_t>(1, utf8Sequence(s, i));
        t.cls = c == '.' ? TC_MISSING : 0;
        t.end = i + n;
        t.text = source(i, i + n);
        advance(n);
      }
      emit(t);
    }
    Lexeme end;
    end.cls = TC_ENDJB;
    end.line = line;
    end.column = col;
    end.begin = end.end = s.size();
    sink(end);
    return true;
  }
};

} // namespace

bool tokenize(const std::string& text, int firstLine, int firstColumn, std::vector<LexToken>& out,
              LexError* error) {
  out.clear();
  auto keep = [&out, &text](const Lexeme& t) {
    LexToken k;
    k.cls = t.cls;
    k.text = std::string(t.text);
    k.raw = text.substr(t.begin, t.end - t.begin);
    k.number = t.number;
    k.line = t.line;
    k.column = t.column;
    k.offset = static_cast<int64_t>(t.begin);
    out.push_back(std::move(k));
  };
  Lexer<decltype(keep)> lx(text, firstLine, firstColumn, keep, error);
  return lx.run();
}

// The parser keeps each token once, as the module sees it; the texts go one after another
// into one buffer reserved for the whole step (they are never longer than the source), so
// the tokens' text pointers stay valid.
void loadParserText(HostParser* parser, const std::string& text, int firstLine, int firstColumn) {
  parser->sourceText = text;
  parser->pos = 0;
  parser->toks.clear();
  parser->tokenText.clear();
  parser->tokenText.shrink_to_fit();
  parser->tokenText.reserve(text.size() + 1);
  auto keep = [parser](const Lexeme& t) {
    HostToken h{};
    h.tokenClass = t.cls;
    h.line = t.line;
    h.column = t.column;
    h.length = static_cast<int32_t>(t.text.size());
    h.number = t.number;
    h.offset = static_cast<int64_t>(t.begin);
    h.text = parser->tokenText.data() + parser->tokenText.size();
    parser->tokenText.append(t.text);
    parser->toks.push_back(h);
  };
  Lexer<decltype(keep)> lx(parser->sourceText, firstLine, firstColumn, keep, &parser->lexError);
  parser->lexFailed = !lx.run();
  if (parser->lexFailed) {
    parser->toks.clear();
    parser->tokenText.clear();
    HostToken end{};
    end.tokenClass = TC_ENDJB;
    end.text = parser->tokenText.data();
    parser->toks.push_back(end);
  }
}

std::string_view tokenRaw(const HostParser& parser, size_t index) {
  const HostToken& t = parser.toks[index];
  const std::string& s = parser.sourceText;
  if (t.tokenClass == TC_ENDJB || t.offset < 0 || static_cast<size_t>(t.offset) >= s.size())
    return {};
  const size_t begin = static_cast<size_t>(t.offset);
  size_t end = begin + static_cast<size_t>(t.length);
  if (t.tokenClass == TC_QS || t.tokenClass == TC_VLITERAL) {
    end = quotedTextEnd(s, begin, nullptr) + (t.tokenClass == TC_VLITERAL ? 1 : 0);
  }
  return std::string_view(s).substr(begin, end - begin);
}

} // namespace qrxhost
