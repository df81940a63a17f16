// The program splitter: comment blanking, statement cutting and the recognition of PROC
// steps and the host statements OPTIONS, LIBNAME and %PUT.
#include "host/runner/program.h"

#include <cctype>

namespace qrxhost {
namespace {

std::string upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

struct Statement {
  size_t begin = 0; // first non-blank character
  size_t end = 0;   // the terminating ';' (or the text's end)
  int line = 1, column = 1;
  bool terminated = false;
};

// Cuts the text into statements at semicolons outside quotes.
std::vector<Statement> cutStatements(const std::string& t, std::vector<ProgramProblem>* problems) {
  std::vector<Statement> out;
  size_t i = 0;
  int line = 1, col = 1;
  auto advance = [&](size_t k) {
    if (t[k] == '\n') {
      ++line;
      col = 1;
    } else {
      ++col;
    }
  };
  while (i < t.size()) {
    while (i < t.size() && isBlank(t[i]))
      advance(i++);
    if (i >= t.size())
      break;
    Statement s;
    s.begin = i;
    s.line = line;
    s.column = col;
    while (i < t.size() && t[i] != ';') {
      if (t[i] == '\'' || t[i] == '"') {
        char q = t[i];
        int qline = line;
        advance(i++);
        for (;;) {
          if (i >= t.size()) {
            problems->push_back({qline, 9, ""});
            return out;
          }
          if (t[i] == q) {
            if (i + 1 < t.size() && t[i + 1] == q) { // doubled quote inside the string
              advance(i++);
              advance(i++);
              continue;
            }
            advance(i++);
            break;
          }
          advance(i++);
        }
        continue;
      }
      advance(i++);
    }
    s.end = i;
    s.terminated = i < t.size();
    if (i < t.size())
      advance(i++);
    out.push_back(s);
  }
  return out;
}

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
        char q = s[i];
        w += s[i++];
        while (i < s.size()) {
          w += s[i];
          if (s[i] == q) {
            if (i + 1 < s.size() && s[i + 1] == q) {
              w += s[++i];
              ++i;
              continue;
            }
            ++i;
            break;
          }
          ++i;
        }
        continue;
      }
      w += s[i++];
    }
    out.push_back(w);
  }
  return out;
}

bool isQuoted(const std::string& w) {
  return w.size() >= 2 && (w.front() == '\'' || w.front() == '"') && w.back() == w.front();
}

std::string unquote(const std::string& w) {
  if (!isQuoted(w))
    return w;
  std::string out;
  char q = w.front();
  for (size_t i = 1; i + 1 < w.size(); ++i) {
    out += w[i];
    if (w[i] == q && i + 2 < w.size() && w[i + 1] == q)
      ++i;
  }
  return out;
}

bool validName(const std::string& s) {
  if (s.empty() || s.size() > 32 || std::isdigit(static_cast<unsigned char>(s[0])))
    return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
      return false;
  return true;
}

// The first word of a statement (letters, digits, underscores, and a leading %).
std::string keyword(const std::string& s) {
  size_t i = 0;
  if (i < s.size() && s[i] == '%')
    ++i;
  while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_'))
    ++i;
  return upper(s.substr(0, i));
}

ProgramItem invalid(const Statement& st, const std::string& message, int number = 3) {
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
    std::string name = upper(w[i]);
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
  item.name = upper(w[0]);
  item.value = unquote(w[1]);
  if (item.value.empty())
    return invalid(st, "LIBNAME: the directory is empty");
  return item;
}

// %LET name = value; the value runs from after '=' to the ';' with the blanks around it
// cut, and may be empty.
ProgramItem parseLet(const Statement &st, const std::string &body) {
  const std::string rest = body.substr(4);
  const size_t eq = rest.find('=');
  auto trim = [](const std::string &s) {
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
        problems->push_back({start, 5, ""});
        for (size_t k = i; k < t.size(); ++k)
          blank(k);
        return t;
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
  return t;
}

std::vector<ProgramItem> splitProgram(const std::string& text,
                                      std::vector<ProgramProblem>* problems) {
  std::vector<ProgramItem> items;
  std::string t = stripComments(text, problems);
  if (!problems->empty())
    return items;
  std::vector<Statement> sts = cutStatements(t, problems);
  if (!problems->empty())
    return items;
  auto bodyOf = [&](const Statement& st) { return t.substr(st.begin, st.end - st.begin); };
  for (size_t k = 0; k < sts.size(); ++k) {
    const Statement& st = sts[k];
    std::string body = bodyOf(st);
    std::string kw = keyword(body);
    if (kw == "PROC") {
      ProgramItem item;
      item.kind = ProgramItem::Step;
      item.line = st.line;
      item.column = st.column;
      std::vector<std::string> w = words(body);
      item.procedure = w.size() >= 2 ? upper(w[1]) : std::string();
      // The step runs to the RUN or QUIT that ends it; a new PROC also ends it, and so
      // does the end of the program (the step is then not terminated).
      size_t end = t.size();
      size_t next = sts.size();
      item.terminated = false;
      std::string stepText = t; // host statements of the step are blanked out of it
      for (size_t j = k + 1; j < sts.size(); ++j) {
        std::string jbody = bodyOf(sts[j]);
        std::string jk = keyword(jbody);
        ProgramItem host;
        if (hostStatement(sts[j], jbody, jk, &host)) {
          // global statements inside a step take effect before the step runs
          item.before.push_back(std::move(host));
          size_t stop = std::min(sts[j].end + 1, stepText.size());
          for (size_t c = sts[j].begin; c < stop; ++c)
            if (stepText[c] != '\n' && stepText[c] != '\r')
              stepText[c] = ' ';
          continue;
        }
        if (jk == "RUN" || jk == "QUIT") {
          end = sts[j].begin;
          next = j + 1;
          item.terminated = true;
          break;
        }
        if (jk == "PROC") {
          end = sts[j].begin;
          next = j;
          item.terminated = true;
          break;
        }
      }
      item.text = stepText.substr(st.begin, end - st.begin);
      while (!item.text.empty() && isBlank(item.text.back()))
        item.text.pop_back();
      items.push_back(std::move(item));
      k = next - 1;
      continue;
    }
    ProgramItem host;
    if (hostStatement(st, body, kw, &host)) {
      items.push_back(std::move(host));
    } else if (kw == "RUN" || kw == "QUIT" || body.empty()) {
      continue; // outside a step these end nothing and do nothing
    } else {
      std::string first = kw.empty() ? body.substr(0, body.find_first_of(" \t\r\n")) : kw;
      items.push_back(invalid(st, first, 2));
    }
  }
  return items;
}

} // namespace qrxhost
