// Every numbered message that the module (src/) or the host (host/) can log has a text in
// the catalogue. The sources are scanned: each call of a logging or message-text service
// has its set and number traced back through literals, named constants, ternaries, local
// variables, record fields, tables and the parameters of wrapper functions and lambdas to
// the numbers written at their call sites. A call the scan cannot trace fails the test, so a
// new way of logging has to be made traceable before its numbers can go without a text.
#include "host/catalog.h"
#include "host/hostapi.h"
#include "sourcescan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

namespace {

using namespace srcscan;
namespace fs = std::filesystem;

using Pair = std::pair<int, int>;
using Pairs = std::set<Pair>;

// Where the scan stands: a file, an offset in it, and the expressions still to trace.
struct Site {
  const Source* file;
  size_t pos;
};

class Scanner {
public:
  explicit Scanner(std::vector<Source> files) : files_(std::move(files)) {
    for (const Source& f : files_)
      collectConstants(f);
  }

  // Every (set, number) logged through the named services; the argument positions of
  // set and number are given per service.
  Pairs scan(const std::map<std::string, std::pair<int, int>>& services) {
    Pairs all;
    for (const auto& entry : services)
      services_.insert(entry.first);
    for (const Source& f : files_)
      for (const auto& [name, where] : services)
        for (size_t pos : callSites(f, name)) {
          std::vector<std::string> args = callArgs(f, pos);
          if (static_cast<int>(args.size()) <= std::max(where.first, where.second))
            continue; // a declaration of the service itself
          Pairs p = trace({&f, pos}, args[where.first], args[where.second], 0);
          all.insert(p.begin(), p.end());
        }
    return all;
  }

  const std::vector<std::string>& failures() const { return failures_; }

  // Numbers the scan cannot bound by itself (a code added to a base, a table indexed by a
  // criterion), given by hand per file and expression as written there.
  void allow(const std::string& file, const std::string& expr, std::set<int> numbers) {
    allowed_[{file, expr}] = std::move(numbers);
  }
  // The hand-given entries that no call used: stale, to be removed.
  std::vector<std::string> unusedAllowances() const {
    std::vector<std::string> out;
    for (const auto& [key, numbers] : allowed_)
      if (!used_.count(key))
        out.push_back(key.first + ": " + key.second);
    return out;
  }

private:
  std::vector<Source> files_;
  std::map<std::string, std::map<std::string, std::set<std::string>>> constants_; // by file
  std::vector<std::string> failures_;
  std::set<std::string> services_;
  std::vector<Site> stack_; // the sites a trace came through, the call first
  std::map<std::pair<std::string, std::string>, std::set<int>> allowed_;
  std::set<std::pair<std::string, std::string>> used_;
  std::map<std::string, std::optional<std::set<int>>> fields_;
  std::map<std::pair<const Source*, std::string>, bool> declared_;
  std::map<std::string, std::set<int>> enums_; // enumerators by enumeration name

  static std::string where(Site s) {
    int line =
        1 + static_cast<int>(std::count(s.file->code.begin(), s.file->code.begin() + s.pos, '\n'));
    return s.file->path + ":" + std::to_string(line);
  }

  // A failure names where the scan stood and the calls it came through.
  void fail(Site s, const std::string& why) {
    std::string path;
    for (auto it = stack_.rbegin(); it != stack_.rend(); ++it)
      path += " <- " + where(*it);
    failures_.push_back(where(s) + ": " + why + (path.empty() ? "" : " (via" + path + ")"));
  }

  // Named integer constants: enumerators and constexpr/const integers, per file.
  void collectConstants(const Source& f) {
    static const std::regex constant(
        R"((?:constexpr|const)\s+[A-Za-z_:0-9]+\s+([A-Za-z_][A-Za-z_0-9]*)\s*=\s*(-?\d+)\s*;)");
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), constant), end; it != end; ++it)
      constants_[f.path][(*it)[1]].insert((*it)[2]);
    static const std::regex enumBody(
        R"(\benum\s+(?:class\s+)?([A-Za-z_][A-Za-z_0-9]*)?[^;{]*\{([^}]*)\})");
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), enumBody), end; it != end; ++it) {
      long next = 0;
      std::set<int>& all = enums_[(*it)[1].matched ? (*it)[1].str() : std::string()];
      for (const std::string& item : splitArgs((*it)[2])) {
        if (item.empty())
          continue;
        size_t eq = item.find('=');
        std::string name = trim(item.substr(0, eq));
        if (eq != std::string::npos) {
          std::string value = trim(item.substr(eq + 1));
          char* endp = nullptr;
          long v = std::strtol(value.c_str(), &endp, 0);
          if (endp == nullptr || *endp != '\0')
            continue; // an enumerator defined by an expression: not a message number
          next = v;
        }
        all.insert(static_cast<int>(next));
        constants_[f.path][name].insert(std::to_string(next++));
      }
    }
  }

  // Offsets of the calls of `name` (not its definitions or declarations).
  static std::vector<size_t> callSites(const Source& f, const std::string& name,
                                       bool* defines = nullptr, bool memberCalls = false) {
    std::vector<size_t> out;
    for (size_t pos = f.code.find(name); pos != std::string::npos;
         pos = f.code.find(name, pos + 1)) {
      if (pos > 0 && identChar(f.code[pos - 1]))
        continue;
      size_t after = pos + name.size();
      while (after < f.code.size() && std::isspace(static_cast<unsigned char>(f.code[after])))
        ++after;
      if (after >= f.code.size() || f.code[after] != '(' || identChar(f.code[pos + name.size()]))
        continue;
      if (pos >= 2 && (f.code.compare(pos - 2, 2, "->") == 0 || f.code[pos - 1] == '.')) {
        // a call through the service vector (the stubs forward their own parameters), or
        // of a member function
        if (memberCalls)
          out.push_back(pos);
        continue;
      }
      size_t b = pos;
      while (b > 0 && std::isspace(static_cast<unsigned char>(f.code[b - 1])))
        --b;
      size_t a = b;
      while (a > 0 && (identChar(f.code[a - 1]) || f.code[a - 1] == ':'))
        --a;
      std::string before = f.code.substr(a, b - a);
      if (!before.empty() && before.back() == ':' &&
          (before.size() < 2 || before[before.size() - 2] != ':'))
        before.clear(); // after a label: "case 3:", "default:"
      if (before.size() >= 2 && before.compare(before.size() - 2, 2, "::") == 0) {
        // a qualified name: "ns::name(" is a call, "Type ns::name(" a definition
        size_t t = a;
        while (t > 0 && std::isspace(static_cast<unsigned char>(f.code[t - 1])))
          --t;
        size_t u = t;
        while (u > 0 && identChar(f.code[u - 1]))
          --u;
        before = f.code.substr(u, t - u);
        a = u, b = t;
      }
      bool typed = !before.empty() && before != "return" && before != "else" && before != "do";
      if (typed || (b > 0 && (f.code[b - 1] == '*' || f.code[b - 1] == '&') && a == b)) {
        if (defines != nullptr)
          *defines = true;
        continue; // "void name(", "int32_t name(": a definition or declaration
      }
      out.push_back(pos);
    }
    return out;
  }

  static std::vector<std::string> callArgs(const Source& f, size_t pos) {
    size_t open = f.code.find('(', pos);
    size_t close = f.match[open];
    if (close == std::string::npos)
      return {};
    return splitArgs(f.code.substr(open + 1, close - open - 1));
  }

  // The function or lambda whose body holds `pos`: its name, parameter names and body.
  struct Enclosing {
    std::string name;
    std::vector<std::string> params;
    size_t bodyOpen = 0, bodyClose = 0;
    bool lambda = false;
    bool member = false; // a member function: called as object.name(...) elsewhere
  };

  static std::optional<Enclosing> enclosing(Site s, size_t from = std::string::npos) {
    const std::string& c = s.file->code;
    size_t depthPos = from == std::string::npos ? s.pos : from;
    // innermost unclosed '{' before depthPos
    int depth = 0;
    for (size_t i = depthPos; i-- > 0;) {
      if (c[i] == '}')
        ++depth;
      else if (c[i] == '{' && depth-- == 0) {
        std::optional<Enclosing> e = headOf(*s.file, i);
        if (e)
          return e;
        return enclosing(s, i); // a block of a statement, class or namespace: go outward
      }
    }
    return std::nullopt;
  }

  // The function whose locals a site sees: the one around it, or around its lambdas.
  static std::optional<Enclosing> scope(Site s) {
    std::optional<Enclosing> enc = enclosing(s);
    while (enc && enc->lambda) {
      std::optional<Enclosing> outer = enclosing(s, enc->bodyOpen);
      if (!outer)
        break;
      enc = outer;
    }
    return enc;
  }

  static std::optional<Enclosing> headOf(const Source& f, size_t brace) {
    const std::string& c = f.code;
    size_t i = brace;
    // skip qualifiers between the parameter list and the body
    size_t close = i;
    for (;;) {
      while (close > 0 && std::isspace(static_cast<unsigned char>(c[close - 1])))
        --close;
      size_t w = close;
      while (w > 0 && identChar(c[w - 1]))
        --w;
      std::string word = c.substr(w, close - w);
      if (word == "const" || word == "noexcept" || word == "mutable" || word == "override" ||
          word == "final")
        close = w;
      else
        break;
    }
    if (close == 0 || c[close - 1] != ')')
      return std::nullopt;
    --close;
    std::smatch m;
    size_t open = f.match[close];
    if (open == std::string::npos)
      return std::nullopt;
    size_t b = open;
    while (b > 0 && std::isspace(static_cast<unsigned char>(c[b - 1])))
      --b;
    Enclosing e;
    e.bodyOpen = brace;
    e.bodyClose = f.match[brace];
    if (b > 0 && c[b - 1] == ']') {
      e.lambda = true;
      static const std::regex named(R"(([A-Za-z_][A-Za-z_0-9]*)\s*=\s*$)");
      size_t lb = f.match[b - 1];
      std::string pre = c.substr(lb > 80 ? lb - 80 : 0, lb > 80 ? 80 : lb);
      if (std::regex_search(pre, m, named))
        e.name = m[1];
    } else {
      size_t a = b;
      while (a > 0 && identChar(c[a - 1]))
        --a;
      e.name = c.substr(a, b - a);
      if (e.name == "if" || e.name == "for" || e.name == "while" || e.name == "switch" ||
          e.name == "catch" || e.name.empty())
        return std::nullopt;
      e.member = (a >= 2 && c.compare(a - 2, 2, "::") == 0) || recordOf(f, a).has_value();
    }
    for (std::string p : splitArgs(c.substr(open + 1, close - open - 1))) {
      p = trim(p.substr(0, p.find('=')));
      size_t z = p.size();
      while (z > 0 && identChar(p[z - 1]))
        --z;
      e.params.push_back(p.substr(z));
    }
    return e;
  }

  // True when the value of `expr` depends on `word`: a record field or a table element
  // has its own values whatever record or index the expression names.
  static bool dependsOn(const std::string& expr, const std::string& word) {
    static const std::regex fieldOrElement(
        R"(^(?:.*(?:\.|->)[A-Za-z_][A-Za-z_0-9]*|[A-Za-z_][A-Za-z_0-9:]*\s*[\[(].*[\])])$)");
    if (std::regex_match(expr, fieldOrElement))
      return false;
    return mentions(expr, word);
  }

  static bool mentions(const std::string& expr, const std::string& word) {
    if (word.empty())
      return false;
    for (size_t p = expr.find(word); p != std::string::npos; p = expr.find(word, p + 1)) {
      size_t e = p + word.size();
      bool startOk =
          p == 0 || (!identChar(expr[p - 1]) && expr[p - 1] != '.' && expr[p - 1] != '>');
      if (startOk && (e >= expr.size() || !identChar(expr[e])))
        return true;
    }
    return false;
  }

  static std::string substitute(const std::string& expr, const std::string& word,
                                const std::string& by) {
    return std::regex_replace(expr, std::regex("(^|[^A-Za-z_0-9.>])" + word + "\\b"),
                              "$1(" + by + ")");
  }

  static std::string strip(std::string e) {
    e = trim(e);
    static const std::regex cast(R"(^static_cast<[^>]*>\s*\((.*)\)$)");
    std::smatch m;
    for (;;) {
      if (e.size() >= 2 && e.front() == '(' && e.back() == ')' &&
          splitArgs(e.substr(1, e.size() - 2)).size() == 1 && balanced(e.substr(1, e.size() - 2)))
        e = trim(e.substr(1, e.size() - 2));
      else if (std::regex_match(e, m, cast))
        e = trim(m[1]);
      else
        return e;
    }
  }

  static bool balanced(const std::string& s) {
    int d = 0;
    for (char c : s) {
      d += c == '(' ? 1 : c == ')' ? -1 : 0;
      if (d < 0)
        return false;
    }
    return d == 0;
  }

  // Splits "c ? a : b" at its top level; false when the expression is no conditional.
  static bool ternary(const std::string& e, std::string& cond, std::string& a, std::string& b) {
    int depth = 0, q = -1, nested = 0;
    for (size_t i = 0; i < e.size(); ++i) {
      char ch = e[i];
      if (ch == '(' || ch == '[' || ch == '{')
        ++depth;
      else if (ch == ')' || ch == ']' || ch == '}')
        --depth;
      else if (depth == 0 && ch == '?') {
        if (q < 0)
          q = static_cast<int>(i);
        else
          ++nested;
      } else if (depth == 0 && ch == ':' && q >= 0 && (i + 1 >= e.size() || e[i + 1] != ':') &&
                 (i == 0 || e[i - 1] != ':')) {
        if (nested-- > 0)
          continue;
        cond = trim(e.substr(0, q));
        a = trim(e.substr(q + 1, i - q - 1));
        b = trim(e.substr(i + 1));
        return true;
      }
    }
    return false;
  }

  // The values an expression without parameters of the enclosing function can take.
  std::optional<std::set<int>> values(Site s, const std::string& expr0, int depth) {
    std::string e = strip(expr0);
    auto given = allowed_.find({s.file->path, e});
    if (given != allowed_.end()) {
      used_.insert(given->first);
      return given->second;
    }
    std::set<int> out;
    std::string cond, a, b;
    if (depth > 12) {
      fail(s, "tracing '" + e + "' goes too deep");
      return std::nullopt;
    }
    if (ternary(e, cond, a, b)) {
      auto va = values(s, a, depth + 1), vb = values(s, b, depth + 1);
      if (!va || !vb)
        return std::nullopt;
      va->insert(vb->begin(), vb->end());
      return va;
    }
    static const std::regex literal(R"(^-?\d+$)"), offset(R"(^(.+?)\s*([+-])\s*(\d+)$)"),
        name(R"(^(?:[A-Za-z_][A-Za-z_0-9]*::)*([A-Za-z_][A-Za-z_0-9]*)$)"),
        member(R"(^.*(?:\.|->)([A-Za-z_][A-Za-z_0-9]*)$)"),
        element(R"(^([A-Za-z_][A-Za-z_0-9]*)\s*\[.*\]$)"),
        call(R"(^(?:[A-Za-z_][A-Za-z_0-9]*::)*([A-Za-z_][A-Za-z_0-9]*)\s*\(.*\)$)");
    std::smatch m;
    if (std::regex_match(e, literal))
      return std::set<int>{std::stoi(e)};
    if (e.size() >= 2 && e.front() == '{' && e.back() == '}') {
      // a list (or a row of a table): every element
      for (const std::string& item : splitArgs(e.substr(1, e.size() - 2))) {
        if (item.empty())
          continue;
        auto v = values(s, item, depth + 1);
        if (!v)
          return std::nullopt;
        out.insert(v->begin(), v->end());
      }
      return out;
    }
    if (std::regex_match(e, m, offset)) {
      auto base = values(s, m[1], depth + 1);
      if (!base)
        return std::nullopt;
      int k = std::stoi(m[3]) * (m[2] == "-" ? -1 : 1);
      for (int v : *base)
        out.insert(v + k);
      return out;
    }
    if (std::regex_match(e, m, name))
      return named(s, m[1], depth);
    if (std::regex_match(e, m, member))
      return field(s, m[1], depth);
    if (std::regex_match(e, m, element))
      return table(s, m[1], depth);
    if (std::regex_match(e, m, call))
      return returned(s, m[1], depth);
    fail(s, "cannot trace the message number or set '" + e + "'");
    return std::nullopt;
  }

  std::optional<std::set<int>> named(Site s, const std::string& n, int depth) {
    if (auto enc = scope(s)) {
      // "for (T n : list)": the elements of the list
      std::regex rangeFor(R"(\bfor\s*\(\s*(?:const\s+)?[A-Za-z_:0-9]+\s*&?\s*)" + n +
                          R"(\s*:\s*([^)]+)\))");
      const std::string code = s.file->code.substr(enc->bodyOpen, enc->bodyClose - enc->bodyOpen);
      std::smatch m;
      if (std::regex_search(code, m, rangeFor)) {
        Site at{s.file, enc->bodyOpen + static_cast<size_t>(m.position(1))};
        std::set<int> out;
        for (const Pair& q : trace(at, "0", m[1], depth + 1))
          out.insert(q.second);
        return out;
      }
      std::regex given("\\b" + n + R"(\s*(=[^=]|\{))");
      std::string body = s.file->code.substr(enc->bodyOpen, enc->bodyClose - enc->bodyOpen);
      if (std::regex_search(body, given))
        return local(s, n, depth); // a local variable of the function
    }
    auto own = constants_.find(s.file->path);
    if (own != constants_.end() && own->second.count(n))
      return toInts(own->second.at(n));
    std::set<std::string> found;
    for (const auto& [path, table] : constants_)
      if (table.count(n))
        found.insert(table.at(n).begin(), table.at(n).end());
    if (found.empty()) {
      fail(s, "'" + n + "' is no constant, local variable or parameter the scan can trace");
      return std::nullopt;
    }
    if (found.size() > 1) {
      fail(s, "the constant '" + n + "' has more than one value in the sources");
      return std::nullopt;
    }
    return toInts(found);
  }

  static std::set<int> toInts(const std::set<std::string>& s) {
    std::set<int> out;
    for (const auto& v : s)
      out.insert(std::stoi(v));
    return out;
  }

  // The right-hand side that starts at `from`: up to the ';', or the ',' or closing bracket
  // at its own level.
  static std::string rhsAt(const std::string& c, size_t from) {
    int depth = 0;
    size_t i = from;
    for (; i < c.size(); ++i) {
      char ch = c[i];
      if (ch == '(' || ch == '[' || ch == '{')
        ++depth;
      else if ((ch == ')' || ch == ']' || ch == '}') && depth-- == 0)
        break;
      else if (ch == ';' || (ch == ',' && depth == 0))
        break;
    }
    return trim(c.substr(from, i - from));
  }

  // Every value given to `n` in c[lo, hi): "n = value" and "n{value}"; `prefix` is what must
  // precede the name (a member access for a record field).
  bool assignments(const Source& f, size_t lo, size_t hi, const std::string& n,
                   const std::string& prefix, int depth, std::set<int>& out) {
    std::regex assign(prefix + "\\b" + n + R"(\s*(=[^=]|\{))");
    std::string part = f.code.substr(lo, hi - lo);
    bool any = false;
    for (std::sregex_iterator it(part.begin(), part.end(), assign), end; it != end; ++it) {
      size_t from = lo + static_cast<size_t>(it->position(1)) + 1;
      std::string rhs = rhsAt(f.code, from);
      if (rhs.empty())
        continue;
      any = true;
      for (const Pair& q : trace({&f, from}, "0", rhs, depth + 1))
        out.insert(q.second);
    }
    return any;
  }

  // The values of a local variable: what the function around `s` gives it.
  std::optional<std::set<int>> local(Site s, const std::string& n, int depth) {
    std::optional<Enclosing> enc = scope(s);
    std::set<int> out;
    if (!assignments(*s.file, enc->bodyOpen, enc->bodyClose, n, "", depth, out)) {
      fail(s, "the local '" + n + "' is never given a value the scan can see");
      return std::nullopt;
    }
    return out;
  }

  // The values of a record field. A field of an enumeration type can hold any of its
  // enumerators; an integer field holds what the tree assigns to it, field by field or in the
  // initializers of tables of its record. The field's name must be declared as an integer
  // or enumeration in one place only (a header, or the file that uses it), so that its
  // assignments are known to be its own.
  std::optional<std::set<int>> field(Site s, const std::string& n, int depth) {
    auto known = fields_.find(n);
    if (known != fields_.end())
      return known->second;
    return fields_[n] = fieldValues(s, n, depth);
  }

  std::optional<std::set<int>> fieldValues(Site s, const std::string& n, int depth) {
    std::regex decl(R"(\b([A-Za-z_][A-Za-z_0-9]*)\s+)" + n + R"(\s*(?:=[^=]|;|\{|:))");
    struct Decl {
      const Source* file;
      size_t pos;
      std::string type;
    };
    std::vector<Decl> decls;
    for (const Source& f : files_) {
      bool header = f.path.compare(f.path.size() - 2, 2, ".h") == 0;
      if (!sameTree(f, *s.file) || (!header && &f != s.file) || !has(f, n))
        continue;
      for (std::sregex_iterator it(f.code.begin(), f.code.end(), decl), end; it != end; ++it) {
        std::string t = (*it)[1];
        if ((isIntegerType(t) || enumerators(t)) && recordOf(f, it->position(0)))
          decls.push_back({&f, static_cast<size_t>(it->position(0)), t});
      }
    }
    if (decls.size() != 1) {
      fail(s, "the field '" + n + "' is declared as a number " + std::to_string(decls.size()) +
                  " times; give the message field a name of its own");
      return std::nullopt;
    }
    if (const std::set<int>* e = enumerators(decls[0].type))
      return *e;
    std::set<int> out;
    for (const Source& f : files_)
      if (sameTree(f, *s.file) && has(f, n))
        assignments(f, 0, f.code.size(), n, "(?:\\.|->)", depth, out);
    if (!tableColumn(*decls[0].file, decls[0].pos, depth, out))
      fail(s, "a table of the record that holds '" + n + "' cannot be read");
    return out;
  }

  // The record (struct or class) whose body holds `pos`, with the offset of its '{'.
  static std::optional<std::pair<std::string, size_t>> recordOf(const Source& f, size_t pos) {
    int depth = 0;
    for (size_t i = pos; i-- > 0;) {
      if (f.code[i] == '}')
        ++depth;
      else if (f.code[i] == '{' && depth-- == 0) {
        static const std::regex head(R"((?:struct|class)\s+([A-Za-z_][A-Za-z_0-9]*)[^;{}()]*$)");
        std::string before = f.code.substr(i > 120 ? i - 120 : 0, i > 120 ? 120 : i);
        std::smatch m;
        if (!std::regex_search(before, m, head))
          return std::nullopt;
        return std::make_pair(m[1].str(), i);
      }
    }
    return std::nullopt;
  }

  // The values a table of the record gives the field declared at `pos`:
  // "Record name[] = {{...}, {...}}", the field taken by its place among the record's fields.
  bool tableColumn(const Source& f, size_t pos, int depth, std::set<int>& out) {
    auto rec = recordOf(f, pos);
    size_t column = 0;
    int level = 0;
    for (size_t i = rec->second + 1; i < pos; ++i) {
      char c = f.code[i];
      level += (c == '{' || c == '(') ? 1 : (c == '}' || c == ')') ? -1 : 0;
      column += (c == ';' && level == 0) ? 1 : 0;
    }
    std::regex table("\\b" + rec->first + R"(\s+[A-Za-z_][A-Za-z_0-9]*\s*\[[^\]]*\]\s*=\s*\{)");
    for (const Source& g : files_) {
      if (!sameTree(g, f) || !has(g, rec->first))
        continue;
      for (std::sregex_iterator it(g.code.begin(), g.code.end(), table), end; it != end; ++it) {
        size_t open = static_cast<size_t>(it->position(0) + it->length(0) - 1);
        for (std::string row : splitArgs(g.code.substr(open + 1, g.match[open] - open - 1))) {
          if (row.empty())
            continue;
          if (row.front() != '{' || row.back() != '}')
            return false;
          std::vector<std::string> cells = splitArgs(row.substr(1, row.size() - 2));
          if (cells.size() <= column)
            return false;
          auto v = values({&g, open}, cells[column], depth + 1);
          if (!v)
            return false;
          out.insert(v->begin(), v->end());
        }
      }
    }
    return true;
  }

  static bool isIntegerType(const std::string& t) {
    return t == "int" || t == "int32_t" || t == "int16_t" || t == "int64_t" || t == "long" ||
           t == "uint8_t" || t == "uint16_t" || t == "uint32_t";
  }

  const std::set<int>* enumerators(const std::string& type) const {
    auto it = enums_.find(type);
    return it == enums_.end() ? nullptr : &it->second;
  }

  // The values a function returns: every return statement of its definition, in the same
  // file or elsewhere in the same tree.
  std::optional<std::set<int>> returned(Site s, const std::string& n, int depth) {
    for (const Source& f : files_) {
      if (!sameTree(f, *s.file) || !has(f, n) || (&f != s.file && !declaredInOwnHeader(f, n)))
        continue;
      std::regex def("[A-Za-z_0-9>*&]\\s+" + n + R"(\s*\()");
      for (std::sregex_iterator it(f.code.begin(), f.code.end(), def), end; it != end; ++it) {
        size_t open = static_cast<size_t>(it->position(0) + it->length(0) - 1);
        size_t close = f.match[open];
        size_t body = f.code.find_first_not_of(" \t\r\n", close + 1);
        if (close == std::string::npos || body == std::string::npos || f.code[body] != '{')
          continue;
        std::set<int> out;
        std::string text = f.code.substr(body, f.match[body] - body);
        static const std::regex ret(R"(\breturn\s+([^;]+);)");
        std::optional<Enclosing> fn = headOf(f, body);
        for (std::sregex_iterator r(text.begin(), text.end(), ret), rend; r != rend; ++r) {
          // A result made of the function's own arguments would need each call's arguments.
          for (const std::string& p : fn ? fn->params : std::vector<std::string>())
            if (dependsOn(strip((*r)[1]), p)) {
              fail(s, "the message number returned by '" + n + "' depends on its argument '" + p +
                          "'");
              return std::nullopt;
            }
          Pairs p =
              trace({&f, body + static_cast<size_t>(r->position(1))}, "0", (*r)[1], depth + 1);
          for (const Pair& q : p)
            out.insert(q.second);
        }
        return out;
      }
    }
    fail(s, "the function '" + n + "' has no definition the scan can see");
    return std::nullopt;
  }

  std::optional<std::set<int>> table(Site s, const std::string& n, int depth) {
    std::regex init("\\b" + n + R"((?:\s*\[[^\]]*\])+\s*=?\s*\{)");
    std::smatch m;
    for (const Source& f : files_) {
      if (!std::regex_search(f.code, m, init))
        continue;
      size_t open = static_cast<size_t>(m.position(0) + m.length(0) - 1);
      return values({&f, open}, f.code.substr(open, f.match[open] - open + 1), depth + 1);
    }
    fail(s, "the table '" + n + "' has no initializer the scan can see");
    return std::nullopt;
  }

  // The (set, number) pairs that the two expressions at `s` can take together.
  Pairs trace(Site s, const std::string& setExpr, const std::string& numExpr, int depth) {
    stack_.push_back(s);
    Pairs out = traceAt(s, setExpr, numExpr, depth);
    stack_.pop_back();
    return out;
  }

  Pairs traceAt(Site s, const std::string& setExpr, const std::string& numExpr, int depth) {
    Pairs out;
    if (depth > 12) {
      fail(s, "tracing goes too deep");
      return out;
    }
    std::string c1, a1, b1, c2, a2, b2;
    std::string se = strip(setExpr), ne = strip(numExpr);
    bool st = ternary(se, c1, a1, b1), nt = ternary(ne, c2, a2, b2);
    if (st || nt) {
      // the branches of a conditional; a set and a number chosen by one condition go together
      Pairs x = st && nt && c1 == c2 ? trace(s, a1, a2, depth + 1)
                : nt                 ? trace(s, se, a2, depth + 1)
                                     : trace(s, a1, ne, depth + 1);
      Pairs y = st && nt && c1 == c2 ? trace(s, b1, b2, depth + 1)
                : nt                 ? trace(s, se, b2, depth + 1)
                                     : trace(s, b1, ne, depth + 1);
      x.insert(y.begin(), y.end());
      return x;
    }
    // the parameters of the function around, and of the functions around a lambda
    for (std::optional<Enclosing> enc = enclosing(s); enc;
         enc = enc->lambda ? enclosing(s, enc->bodyOpen) : std::nullopt) {
      if (services_.count(enc->name))
        return out; // the forwarding stub of a service: its callers are scanned themselves
      for (size_t k = 0; k < enc->params.size(); ++k) {
        const std::string& p = enc->params[k];
        if (dependsOn(se, p) || dependsOn(ne, p))
          return throughCallers(s, *enc, k, se, ne, depth);
      }
    }
    auto sets = values(s, se, depth + 1);
    auto nums = values(s, ne, depth + 1);
    if (!sets || !nums)
      return out;
    for (int a : *sets)
      for (int b : *nums)
        if (b != 0) // 0 stands for "no message" where a number is chosen by a switch
          out.insert({a, b});
    return out;
  }

  // The parameter `k` of a wrapper: trace its argument at every call of the wrapper.
  Pairs throughCallers(Site s, const Enclosing& enc, size_t k, const std::string& setExpr,
                       const std::string& numExpr, int depth) {
    Pairs out;
    if (enc.name.empty()) {
      fail(s, "a message number comes from a parameter of an unnamed function");
      return out;
    }
    bool sawCall = false;
    bool shared = !enc.lambda && declaredInOwnHeader(*s.file, enc.name);
    for (const Source& f : files_) {
      // A member function is called as object.name(...) anywhere in the tree, and by its
      // plain name from its own class.
      if (enc.member && sameTree(f, *s.file)) {
        for (size_t pos : callSites(f, enc.name, nullptr, true)) {
          bool qualified = pos > 0 && (f.code[pos - 1] == '.' || f.code[pos - 1] == '>');
          if (!qualified && &f != s.file)
            continue;
          std::vector<std::string> args = callArgs(f, pos);
          if (args.size() <= k)
            continue;
          const std::string& p = enc.params[k];
          Pairs q = trace({&f, pos}, substitute(setExpr, p, args[k]),
                          substitute(numExpr, p, args[k]), depth + 1);
          out.insert(q.begin(), q.end());
        }
        continue;
      }
      if (enc.member)
        continue;
      if (&f != s.file && (!shared || sameTree(f, *s.file) == false || definesOwn(f, enc.name)))
        continue;
      for (size_t pos : callSites(f, enc.name)) {
        if (&f == s.file && enc.lambda && (pos < enc.bodyClose && pos > enc.bodyOpen))
          continue;
        std::vector<std::string> args = callArgs(f, pos);
        if (args.size() <= k)
          continue; // another overload or a call that leaves the parameter defaulted
        sawCall = true;
        const std::string& p = enc.params[k];
        Pairs q = trace({&f, pos}, substitute(setExpr, p, args[k]), substitute(numExpr, p, args[k]),
                        depth + 1);
        out.insert(q.begin(), q.end());
      }
    }
    (void)sawCall; // a wrapper without callers (a service entry) contributes nothing
    return out;
  }

  // A cheap test before a regular expression runs over a whole file.
  static bool has(const Source& f, const std::string& word) {
    return f.code.find(word) != std::string::npos;
  }

  static bool sameTree(const Source& a, const Source& b) {
    return a.path.substr(0, a.path.find('/')) == b.path.substr(0, b.path.find('/'));
  }

  // A source file (not a header) with its own function of that name: its calls are its own.
  static bool definesOwn(const Source& f, const std::string& name) {
    if (f.path.size() > 2 && f.path.compare(f.path.size() - 2, 2, ".h") == 0)
      return false;
    bool defines = false;
    callSites(f, name, &defines);
    return defines;
  }

  // A function that other files call: declared in the header of its own source file, or
  // defined in a header.
  bool declaredInOwnHeader(const Source& file, const std::string& name) {
    auto key = std::make_pair(&file, name);
    auto known = declared_.find(key);
    if (known != declared_.end())
      return known->second;
    return declared_[key] = searchOwnHeader(file, name);
  }

  bool searchOwnHeader(const Source& file, const std::string& name) const {
    std::string stem = file.path.substr(0, file.path.rfind('.'));
    for (const Source& f : files_)
      if ((&f == &file || f.path == stem + ".h") && f.path.size() > 2 && has(f, name) &&
          f.path.compare(f.path.size() - 2, 2, ".h") == 0 &&
          std::regex_search(f.code, std::regex("\\b" + name + "\\s*\\(")))
        return true;
    return false;
  }
};

// The module logs through the log and message-text services of the supervisor group; the
// host logs its own sets through logMessage.
const std::map<std::string, std::pair<int, int>> kModuleServices = {
    {"xpmlog", {0, 1}}, {"xpmlogv", {0, 1}}, {"xpmstr", {2, 3}}};
// Titles, labels and column headers of the output are message texts too.
const std::map<std::string, std::pair<int, int>> kModuleTextServices = {
    {"rvqmsg", {0, 1}}, {"rvqmsgs", {0, 1}}, {"wkread", {0, 1}}};
const std::map<std::string, std::pair<int, int>> kHostServices = {{"logMessage", {0, 1}}};

void expectCatalogued(const Pairs& logged) {
  for (const auto& [set, number] : logged)
    EXPECT_NE(qrxhost::findMessage(set, number), nullptr)
        << "message " << set << "/" << number << " is logged but has no catalogue text";
}

} // namespace

TEST(CatalogueScan, EveryMessageTheHostLogsOfItsOwnSetsHasAText) {
  CatalogueDir dir;
  Scanner scan(readTree("host"));
  Pairs logged = scan.scan(kHostServices);
  for (const std::string& f : scan.failures())
    ADD_FAILURE() << f;
  EXPECT_TRUE(logged.count({612, 1})); // the parser's syntax error, raised through a throw
  EXPECT_TRUE(logged.count({612, 5})); // the tokenizer's, kept in its error record
  expectCatalogued(logged);
}

// The scan itself: a number reached only through a wrapper, a lambda, a switch or a table
// is found, and a call it cannot trace is reported rather than passed over.
TEST(CatalogueScan, TracesWrappersTablesAndReportsWhatItCannotTrace) {
  auto make = [](std::string path, std::string text) {
    Source f{std::move(path), blankComments(text), {}};
    matchBrackets(f);
    return f;
  };
  std::vector<Source> files;
  files.push_back(make("src/a.h", R"(
enum Code : int { C_X = 90, C_Y };
struct Rec { Code code = C_X; int32_t widthMessageNumber; };
)"));
  files.push_back(make("src/a.cpp", R"(
constexpr int32_t kSet = 848;
enum Msg { M_A = 40, M_B };
static const int32_t kTable[] = {61, 62};
static const int32_t kRows[2][2] = {{81, 82}, {83, 84}};
struct Out {
  void line(int32_t label) { xpmlog(848, label); }
};
void warn(Ctx* c, int32_t number) { xpmlog(kSet, number, {}); }
int f(Ctx* c, int k) {
  warn(c, 11);
  warn(c, k ? M_B : 12);
  auto check = [&](bool bad, int32_t message) { if (bad) xpmlog(174, message + 1); };
  check(true, 20);
  int32_t message = 0;
  switch (k) { case 1: message = 30; break; case 2: message = M_A; break; }
  if (message != 0) xpmlog(848, message);
  xpmlog(848, kTable[k]);
  xpmstr(buf, 10, 848, 70, {});
  v->widthMessageNumber = 5;
  xpmlog(own ? 172 : 172, own ? v->widthMessageNumber : 14);
  xpmlog(848, rec.code);
  xpmlog(848, kRows[k][1]);
  for (int32_t n : {71, 72})
    xpmlog(174, n);
  out.line(95);
  xpmlog(848, 700 + opts.mode);
  return 0;
}
)"));
  Scanner scan(files);
  scan.allow("src/a.cpp", "700 + opts.mode", {701, 702});
  Pairs got = scan.scan(kModuleServices);
  EXPECT_TRUE(scan.failures().empty()) << scan.failures().front();
  Pairs want = {{848, 11}, {848, 41}, {848, 12},  {174, 21}, {848, 30}, {848, 40},
                {848, 61}, {848, 62}, {848, 70},  {172, 5},  {172, 14}, {848, 90},
                {848, 91}, {848, 81}, {848, 82},  {848, 83}, {848, 84}, {174, 71},
                {174, 72}, {848, 95}, {848, 701}, {848, 702}};
  EXPECT_EQ(got, want);
  EXPECT_TRUE(scan.unusedAllowances().empty());

  std::vector<Source> opaque;
  opaque.push_back(make("src/b.cpp", "int g(Ctx* c) { xpmlog(848, lookup(c)); return 0; }\n"));
  Scanner blind(opaque);
  blind.scan(kModuleServices);
  ASSERT_EQ(blind.failures().size(), 1u);
  EXPECT_NE(blind.failures()[0].find("src/b.cpp:1"), std::string::npos);
}
