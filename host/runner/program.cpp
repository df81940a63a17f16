// The program splitter: comment blanking, statement cutting and the recognition of PROC
// steps and the host statements OPTIONS, LIBNAME and %PUT.
#include "host/runner/program.h"

#include "host/data/dataset.h"
#include "host/textcase.h"
#include "support/quotedtext.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace qrxhost {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

struct Statement {
  size_t begin = 0; // first non-blank character
  size_t end = 0;   // the terminating ';' (or the text's end)
  int line = 1, column = 1;
  bool terminated = false;
};

// Cuts the text into statements at semicolons outside quotes, one at a time, so that a
// program of many statements is never held as a list of them. An unclosed quote ends the
// cutting with a problem at the line where the quote opens.
class StatementCursor {
public:
  explicit StatementCursor(const std::string& t) : t_(t) {}

  bool next(Statement* s, std::vector<ProgramProblem>* problems) {
    const std::string& t = t_;
    while (i_ < t.size() && isBlank(t[i_]))
      advance();
    if (i_ >= t.size())
      return false;
    s->begin = i_;
    s->line = line_;
    s->column = col_;
    while (i_ < t.size() && t[i_] != ';') {
      if (t[i_] == '\'' || t[i_] == '"') {
        if (!skipQuoted(problems))
          return false;
        continue;
      }
      advance();
    }
    s->end = i_;
    s->terminated = i_ < t.size();
    if (i_ < t.size())
      advance();
    return true;
  }

private:
  void advance() {
    if (t_[i_++] == '\n') {
      ++line_;
      col_ = 1;
    } else {
      ++col_;
    }
  }

  // A quoted string with doubled quotes inside; false (with a problem) when it never closes.
  bool skipQuoted(std::vector<ProgramProblem>* problems) {
    const size_t end = quotedTextEnd(t_, i_, nullptr);
    if (end == std::string::npos) {
      problems->push_back({line_, RunnerMsg::OpenQuote, ""});
      return false;
    }
    while (i_ < end)
      advance();
    return true;
  }

  const std::string& t_;
  size_t i_ = 0;
  int line_ = 1, col_ = 1;
};

// Splits statement text into words: runs of non-blank characters, quoted strings kept
// whole, '=' a word of its own.
std::vector<std::string> words(const std::string& s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    if (isBlank(s[i])) {
      ++i;
      continue;
    }
    if (s[i] == '=') {
      out.push_back("=");
      ++i;
      continue;
    }
    std::string w;
    while (i < s.size() && !isBlank(s[i]) && s[i] != '=') {
      if (s[i] == '\'' || s[i] == '"') {
        const size_t e = std::min(quotedTextEnd(s, i, nullptr), s.size());
        w.append(s, i, e - i);
        i = e;
        continue;
      }
      w += s[i++];
    }
    out.push_back(w);
  }
  return out;
}

// A word's value: a quoted string's, else the word as written.
std::string unquote(const std::string& w) {
  std::string value;
  return quotedTextValue(w, &value) ? value : w;
}

// The first word of a statement (letters, digits, underscores, and a leading %).
std::string keyword(const std::string& t, size_t begin, size_t end) {
  size_t i = begin;
  if (i < end && t[i] == '%')
    ++i;
  while (i < end && (std::isalnum(static_cast<unsigned char>(t[i])) || t[i] == '_'))
    ++i;
  return asciiUpper(t.substr(begin, i - begin));
}

ProgramItem invalid(const Statement& st, const std::string& message,
                    RunnerMsg number = RunnerMsg::BadStatement) {
  ProgramItem item;
  item.messageNumber = number;
  item.kind = ProgramItem::Invalid;
  item.line = st.line;
  item.column = st.column;
  item.message = message;
  return item;
}

ProgramItem parseOptions(const Statement& st, const std::string& body) {
  ProgramItem item;
  item.kind = ProgramItem::Options;
  item.line = st.line;
  item.column = st.column;
  std::vector<std::string> w = words(body);
  for (size_t i = 0; i < w.size();) {
    if (!validName(w[i]))
      return invalid(st, "OPTIONS: '" + w[i] + "' is not an option name");
    std::string name = asciiUpper(w[i]);
    if (i + 1 < w.size() && w[i + 1] == "=") {
      if (i + 2 >= w.size() || w[i + 2] == "=")
        return invalid(st, "OPTIONS: the option " + name + " has no value after '='");
      item.options.emplace_back(name, unquote(w[i + 2]));
      i += 3;
    } else {
      item.options.emplace_back(name, "");
      i += 1;
    }
  }
  if (item.options.empty())
    return invalid(st, "OPTIONS: no option is given");
  return item;
}

ProgramItem parseLibname(const Statement& st, const std::string& body) {
  std::vector<std::string> w = words(body);
  if (w.size() != 2 || !validLibraryName(w[0]))
    return invalid(st, std::string("LIBNAME: expected a library name (") + kLibraryNameRule +
                           ") and a directory, as in LIBNAME mylib 'dir';");
  ProgramItem item;
  item.kind = ProgramItem::Libname;
  item.line = st.line;
  item.column = st.column;
  item.name = asciiUpper(w[0]);
  item.value = unquote(w[1]);
  if (item.value.empty())
    return invalid(st, "LIBNAME: the directory is empty");
  return item;
}

// %LET name = value; the value runs from after '=' to the ';' with the blanks around it
// cut, and may be empty.
ProgramItem parseLet(const Statement& st, const std::string& body) {
  const std::string rest = body.substr(4);
  const size_t eq = rest.find('=');
  auto trim = [](const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
      return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
  };
  const std::string name = trim(eq == std::string::npos ? rest : rest.substr(0, eq));
  if (eq == std::string::npos || !validName(name))
    return invalid(st, "%LET: expected a macro variable name (at most 32 letters, digits or "
                       "underscores, not starting with a digit), '=' and a value, as in "
                       "%LET name = value;");
  ProgramItem item;
  item.kind = ProgramItem::Let;
  item.line = st.line;
  item.column = st.column;
  item.name = name;
  item.value = trim(rest.substr(eq + 1));
  return item;
}

// OPTIONS, LIBNAME, %PUT and %LET as items; false for any other statement.
bool hostStatement(const Statement& st, const std::string& body, const std::string& kw,
                   ProgramItem* out) {
  if (kw == "OPTIONS") {
    *out = parseOptions(st, body.substr(7));
    return true;
  }
  if (kw == "LIBNAME") {
    *out = parseLibname(st, body.substr(7));
    return true;
  }
  if (kw == "%LET") {
    *out = parseLet(st, body);
    return true;
  }
  if (kw == "%PUT") {
    ProgramItem item;
    item.kind = ProgramItem::Put;
    item.line = st.line;
    item.column = st.column;
    std::string rest = body.substr(4);
    size_t b = rest.find_first_not_of(" \t\r\n");
    item.message = b == std::string::npos ? std::string() : rest.substr(b);
    while (!item.message.empty() && isBlank(item.message.back()))
      item.message.pop_back();
    *out = std::move(item);
    return true;
  }
  return false;
}

} // namespace

bool validLibraryName(const std::string& name) { return validName(name) && name.size() <= 8; }

std::string stripComments(const std::string& text, std::vector<ProgramProblem>* problems) {
  std::string t = text;
  stripCommentsInPlace(t, problems);
  return t;
}

void stripCommentsInPlace(std::string& t, std::vector<ProgramProblem>* problems) {
  size_t i = 0;
  int line = 1;
  bool statementStart = true; // nothing but blanks since the last ';'
  if (t.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    t.replace(0, 3, "   "); // a byte-order mark is no part of the first statement
    i = 3;
  }
  auto blank = [&](size_t k) {
    if (t[k] != '\n' && t[k] != '\r')
      t[k] = ' ';
  };
  while (i < t.size()) {
    char c = t[i];
    if (c == '\n') {
      ++line;
      ++i;
      continue;
    }
    if (c == '/' && i + 1 < t.size() && t[i + 1] == '*') {
      int start = line;
      size_t close = t.find("*/", i + 2);
      if (close == std::string::npos) {
        problems->push_back({start, RunnerMsg::OpenComment, ""});
        for (size_t k = i; k < t.size(); ++k)
          blank(k);
        return;
      }
      for (size_t k = i; k < close + 2; ++k) {
        if (t[k] == '\n')
          ++line;
        blank(k);
      }
      i = close + 2;
      continue;
    }
    if (c == '*' && statementStart) {
      // a comment statement: up to and including the next ';'
      size_t k = i;
      while (k < t.size() && t[k] != ';') {
        if (t[k] == '\n')
          ++line;
        blank(k);
        ++k;
      }
      if (k < t.size())
        blank(k);
      i = k + 1;
      continue;
    }
    if (c == '\'' || c == '"') {
      statementStart = false;
      size_t k = i + 1;
      while (k < t.size() && t[k] != c) {
        if (t[k] == '\n')
          ++line;
        ++k;
      }
      i = k < t.size() ? k + 1 : k; // an unclosed quote is reported by the splitter
      continue;
    }
    if (c == ';')
      statementStart = true;
    else if (!isBlank(c))
      statementStart = false;
    ++i;
  }
}

struct ProgramSplitter::State {
  std::string text; // the program with its comments blanked
  std::vector<ProgramProblem> problems;
  StatementCursor cursor{text};
  Statement pending; // a statement read ahead: the PROC that ended the step before it
  bool hasPending = false;

  std::string body(const Statement& st) const { return text.substr(st.begin, st.end - st.begin); }
  std::string keywordOf(const Statement& st) const { return keyword(text, st.begin, st.end); }

  bool nextStatement(Statement* st) {
    if (hasPending) {
      *st = pending;
      hasPending = false;
      return true;
    }
    return cursor.next(st, &problems);
  }

  void step(const Statement& st, ProgramItem* item);
};

// A PROC step: it runs to the RUN or QUIT that ends it; a new PROC also ends it, and so
// does the end of the program (the step is then not terminated). Host statements inside
// it are items of the step, blanked out of its text.
void ProgramSplitter::State::step(const Statement& st, ProgramItem* item) {
  item->kind = ProgramItem::Step;
  item->line = st.line;
  item->column = st.column;
  std::vector<std::string> w = words(body(st));
  item->procedure = w.size() >= 2 ? asciiUpper(w[1]) : std::string();
  item->terminated = false;
  size_t end = text.size();
  std::vector<std::pair<size_t, size_t>> blanked; // host statements: [begin, end)
  Statement s;
  while (nextStatement(&s)) {
    std::string kw = keywordOf(s);
    ProgramItem host;
    if (hostStatement(s, body(s), kw, &host)) {
      // global statements inside a step take effect before the step runs
      item->before.push_back(std::move(host));
      blanked.emplace_back(s.begin, std::min(s.end + 1, text.size()));
      continue;
    }
    if (kw == "RUN" || kw == "QUIT" || kw == "PROC") {
      end = s.begin;
      item->terminated = true;
      if (kw == "PROC") {
        pending = s;
        hasPending = true;
      }
      break;
    }
  }
  item->text = text.substr(st.begin, end - st.begin);
  for (const auto& [b, e] : blanked)
    for (size_t c = b; c < e && c < end; ++c)
      if (item->text[c - st.begin] != '\n' && item->text[c - st.begin] != '\r')
        item->text[c - st.begin] = ' ';
  while (!item->text.empty() && isBlank(item->text.back()))
    item->text.pop_back();
}

ProgramSplitter::ProgramSplitter(std::string text) : state_(std::make_unique<State>()) {
  state_->text = std::move(text);
  stripCommentsInPlace(state_->text, &state_->problems);
  if (!state_->problems.empty())
    return;
  // Nothing runs when a quote never closes: the whole text is cut once to find out.
  StatementCursor check(state_->text);
  Statement st;
  while (check.next(&st, &state_->problems)) {
  }
}

ProgramSplitter::~ProgramSplitter() = default;

const std::vector<ProgramProblem>& ProgramSplitter::problems() const { return state_->problems; }

bool ProgramSplitter::next(ProgramItem* item) {
  State& s = *state_;
  if (!s.problems.empty())
    return false;
  Statement st;
  while (s.nextStatement(&st)) {
    *item = ProgramItem{};
    std::string kw = s.keywordOf(st);
    if (kw == "PROC") {
      s.step(st, item);
      return true;
    }
    if (kw == "RUN" || kw == "QUIT" || st.end == st.begin)
      continue; // outside a step these end nothing and do nothing
    std::string body = s.body(st);
    if (hostStatement(st, body, kw, item))
      return true;
    std::string first = kw.empty() ? body.substr(0, body.find_first_of(" \t\r\n")) : kw;
    *item = invalid(st, first, RunnerMsg::StatementOutsideStep);
    return true;
  }
  return false;
}

std::vector<ProgramItem> splitProgram(const std::string& text,
                                      std::vector<ProgramProblem>* problems) {
  ProgramSplitter splitter(text);
  problems->insert(problems->end(), splitter.problems().begin(), splitter.problems().end());
  std::vector<ProgramItem> items;
  ProgramItem item;
  while (splitter.next(&item))
    items.push_back(std::move(item));
  return items;
}

namespace {

bool wordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '&';
}

// The end of the word or quoted string at `b` of `t`.
size_t wordEnd(const std::string& t, size_t b) {
  if (b < t.size() && (t[b] == '\'' || t[b] == '"'))
    return std::min(quotedTextEnd(t, b, nullptr), t.size());
  size_t e = b;
  while (e < t.size() && wordChar(t[e]))
    ++e;
  return e;
}

} // namespace

std::vector<NamedWord> namedWords(const ProgramItem& step) {
  std::vector<NamedWord> words;
  const std::string& t = step.text;
  int line = step.line;
  std::string statement;
  bool afterKeyword = false; // the last word read was the statement's keyword
  for (size_t i = 0; i < t.size();) {
    const char c = t[i];
    if (c == ';')
      statement.clear();
    if (c == '\n')
      ++line;
    if (!wordChar(c) && c != '\'' && c != '"') {
      ++i;
      continue;
    }
    const size_t e = wordEnd(t, i);
    std::string word = t.substr(i, e - i);
    const int at = line;
    line += static_cast<int>(
        std::count(t.begin() + static_cast<long>(i), t.begin() + static_cast<long>(e), '\n'));
    size_t v = e;
    while (v < t.size() && (t[v] == ' ' || t[v] == '\t'))
      ++v;
    const bool keyword = statement.empty();
    if (keyword) {
      statement = asciiUpper(word);
    } else if (v < t.size() && t[v] == '=') {
      size_t b = v + 1;
      while (b < t.size() && (t[b] == ' ' || t[b] == '\t'))
        ++b;
      v = wordEnd(t, b);
      line += static_cast<int>(
          std::count(t.begin() + static_cast<long>(b), t.begin() + static_cast<long>(v), '\n'));
      words.push_back({statement, asciiUpper(word), t.substr(b, v - b), at});
    } else if (afterKeyword) {
      words.push_back({statement, std::string(), word, at});
    }
    afterKeyword = keyword;
    i = std::max(e, v);
  }
  std::erase_if(words, [](const NamedWord& w) {
    return w.word.empty() || w.word.find('&') != std::string::npos;
  });
  return words;
}

} // namespace qrxhost
