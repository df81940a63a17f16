// Reads the data-set options in parentheses after a data-set name, token by token, into
// their parsed form (dsoptions.h): the option names, their values and the WHERE expression.
// The grammar's actions around the parentheses and the data sets are rdparse.cpp's.
// Declared in host/parser/psparser.h.
#include "host/data/dsoptions.h"
#include "host/parser/psparser.h"
#include "support/hostif.h"

#include <cmath>

namespace qrxhost {

namespace {

struct OptionReader {
  HostParser& ps;
  OptionProblem* problem;
  int depth = 0; // parentheses and NOTs open around the current WHERE term

  const HostToken& tok(size_t ahead = 0) const {
    const size_t i = std::min(ps.pos + ahead, ps.toks.size() - 1);
    return ps.toks[i];
  }
  std::string_view text(size_t ahead = 0) const { return tokenText(tok(ahead)); }
  std::string raw(size_t ahead = 0) const {
    return std::string(tokenRaw(ps, std::min(ps.pos + ahead, ps.toks.size() - 1)));
  }
  bool isPunct(std::string_view p, size_t ahead = 0) const {
    return tok(ahead).tokenClass == 0 && text(ahead) == p;
  }
  bool isWord(std::string_view w, size_t ahead = 0) const {
    return tok(ahead).tokenClass == TC_NAMEX && text(ahead) == w;
  }
  OptionWord here() const { return {std::string(text()), tok().line, tok().column}; }

  bool fail(ParserMsg msg, std::string detail, std::string detail2 = std::string()) {
    *problem = {msg, tok().line, tok().column, std::move(detail), std::move(detail2)};
    return false;
  }
  bool expect(const std::string& what) {
    const std::string found = tok().tokenClass == TC_ENDJB ? "end of step" : raw();
    return fail(PM_SYNTAX, found, what);
  }
  bool punct(std::string_view p) {
    if (!isPunct(p))
      return expect(std::string(p));
    ++ps.pos;
    return true;
  }

  // A variable name: as typed for a name, the text of a name literal.
  bool isName(size_t ahead = 0) const {
    return tok(ahead).tokenClass == TC_NAMEX || tok(ahead).tokenClass == TC_VLITERAL;
  }
  OptionWord name() {
    OptionWord w = here();
    if (tok().tokenClass == TC_NAMEX)
      w.text = raw();
    ++ps.pos;
    return w;
  }

  // KEEP= and DROP=: names up to the next option or the closing parenthesis.
  bool names(const std::string& key, std::vector<OptionWord>* out) {
    out->clear();
    while (isName() && !(tok().tokenClass == TC_NAMEX && isPunct("=", 1))) {
      out->push_back(name());
      if (isPunct("-") || isPunct(":"))
        return fail(PM_DSOPTVALUE,
                    key + "=" + out->back().text + raw() + (isPunct(":") ? "" : raw(1)),
                    "variable lists and ranges are not taken in " + key + "=; list each name");
    }
    return !out->empty() || expect("a variable name");
  }

  bool renames(DataSetOptions* o) {
    o->rename.clear();
    if (!punct("("))
      return false;
    do {
      if (!isName())
        return expect("a variable name");
      OptionWord from = name();
      if (!punct("="))
        return false;
      if (!isName())
        return expect("a variable name");
      o->rename.emplace_back(std::move(from), name());
    } while (!isPunct(")"));
    ++ps.pos;
    return true;
  }

  bool wholeNumber(int64_t least, int64_t* out) {
    const double v = tok().number;
    if (tok().tokenClass == TC_NBR && v == std::floor(v) && v > 0 &&
        text().find('.') == std::string_view::npos)
      return v <= 2147483647 ? expect("a whole number written in digits")
                             : fail(PM_RANGE, std::string(text()), "at most 2147483647");
    if (tok().tokenClass != TC_INT)
      return expect("an integer");
    if (tok().number < static_cast<double>(least))
      return fail(PM_RANGE, std::string(text()), "at least " + std::to_string(least));
    *out = static_cast<int64_t>(tok().number);
    ++ps.pos;
    return true;
  }

  // ---- WHERE expressions ----

  using Node = std::unique_ptr<WhereNode>;

  static Node make(WhereNode::Kind kind) {
    auto n = std::make_unique<WhereNode>();
    n->kind = kind;
    return n;
  }

  bool either(Node* out, bool (OptionReader::*part)(Node*), WhereNode::Kind kind,
              std::string_view word, std::string_view symbol) {
    if (!(this->*part)(out))
      return false;
    while (isWord(word) || isPunct(symbol)) {
      ++ps.pos;
      Node next;
      if (!(this->*part)(&next))
        return false;
      if ((*out)->kind != kind) {
        Node joined = make(kind);
        joined->kids.push_back(std::move(*out));
        *out = std::move(joined);
      }
      (*out)->kids.push_back(std::move(next));
    }
    return true;
  }
  bool orExpr(Node* out) { return either(out, &OptionReader::andExpr, WhereNode::Or, "OR", "|"); }
  bool andExpr(Node* out) {
    return either(out, &OptionReader::notExpr, WhereNode::And, "AND", "&");
  }

  // One level deeper into the WHERE expression: evaluating and freeing it recurse as deep
  // as it nests, so an expression nested past kMaxNesting is refused where it goes too deep.
  bool deeper() {
    if (++depth <= kMaxNesting)
      return true;
    return fail(PM_NESTING, "the WHERE= expression", std::to_string(kMaxNesting));
  }

  bool notExpr(Node* out) {
    if (isWord("NOT") || ((isPunct("^") || isPunct("~")) && !isPunct("=", 1))) {
      if (!deeper())
        return false;
      ++ps.pos;
      *out = make(WhereNode::Not);
      (*out)->kids.emplace_back();
      const bool ok = notExpr(&(*out)->kids[0]);
      --depth;
      return ok;
    }
    return comparison(out);
  }

  // The comparison operator at the current token, consumed; false when there is none.
  bool compareOp(WhereNode::Op* op) {
    static const std::pair<const char*, WhereNode::Op> words[] = {
        {"EQ", WhereNode::EQ}, {"NE", WhereNode::NE}, {"LT", WhereNode::LT},
        {"LE", WhereNode::LE}, {"GT", WhereNode::GT}, {"GE", WhereNode::GE}};
    for (const auto& [w, o] : words)
      if (isWord(w)) {
        *op = o;
        ++ps.pos;
        return true;
      }
    const bool eqNext = isPunct("=", 1);
    if (isPunct("=")) {
      *op = WhereNode::EQ;
    } else if ((isPunct("^") || isPunct("~") || isPunct("!")) && eqNext) {
      *op = WhereNode::NE;
    } else if (isPunct("<")) {
      *op = eqNext ? WhereNode::LE : isPunct(">", 1) ? WhereNode::NE : WhereNode::LT;
    } else if (isPunct(">")) {
      *op = eqNext ? WhereNode::GE : WhereNode::GT;
    } else {
      return false;
    }
    const bool two = eqNext || (isPunct("<") && isPunct(">", 1));
    ps.pos += two && !isPunct("=") ? 2 : 1;
    return true;
  }

  bool comparison(Node* out) {
    if (isPunct("(")) {
      if (!deeper())
        return false;
      ++ps.pos;
      const bool ok = orExpr(out) && punct(")");
      --depth;
      return ok;
    }
    if (!operand(out))
      return false;
    const bool negated = isWord("NOT") && isWord("IN", 1);
    if (isWord("IN") || negated) {
      ps.pos += negated ? 2 : 1;
      Node in = make(WhereNode::In);
      in->kids.push_back(std::move(*out));
      if (!punct("("))
        return false;
      do {
        in->kids.emplace_back();
        if (!operand(&in->kids.back(), false))
          return false;
        if (isPunct(","))
          ++ps.pos;
      } while (!isPunct(")"));
      ++ps.pos;
      *out = std::move(in);
      if (negated) {
        Node no = make(WhereNode::Not);
        no->kids.push_back(std::move(*out));
        *out = std::move(no);
      }
      return true;
    }
    WhereNode::Op op;
    if (!compareOp(&op))
      return true;
    Node cmp = make(WhereNode::Compare);
    cmp->op = op;
    cmp->kids.push_back(std::move(*out));
    cmp->kids.emplace_back();
    if (!operand(&cmp->kids.back()))
      return false;
    *out = std::move(cmp);
    return true;
  }

  // An operand of a comparison; arithmetic on it is refused as not taken, as KEEP= refuses
  // ranges, rather than left to a bare syntax error at its operator.
  bool operand(Node* out, bool variables = true) {
    if (!operandOnly(out, variables))
      return false;
    if (!variables || !(isPunct("+") || isPunct("-") || isPunct("*") || isPunct("/")))
      return true;
    const std::string& shown = (*out)->name.text.empty() ? (*out)->text : (*out)->name.text;
    return fail(PM_DSOPTVALUE, "WHERE=" + shown + std::string(raw()),
                "arithmetic is not taken in WHERE=; compare variables with constants");
  }

  // A variable (unless only constants may stand), a number, a missing value or a quoted string.
  bool operandOnly(Node* out, bool variables) {
    const int cls = tok().tokenClass;
    const bool minus = isPunct("-") && (tok(1).tokenClass == TC_INT || tok(1).tokenClass == TC_NBR);
    const OptionWord at = here();
    if (minus)
      ++ps.pos;
    if (tok().tokenClass == TC_INT || tok().tokenClass == TC_NBR) {
      *out = make(WhereNode::Number);
      (*out)->number = minus ? -tok().number : tok().number;
    } else if (cls == TC_MISSING) {
      *out = make(WhereNode::Number);
      (*out)->number = hostMissing();
    } else if (cls == TC_QS) {
      *out = make(WhereNode::String);
      (*out)->numeric = false;
      (*out)->text = std::string(text());
    } else if (variables && isName()) {
      *out = make(WhereNode::Variable);
      (*out)->name = name();
      return true;
    } else {
      return expect(variables ? "a variable, a number or a quoted string"
                              : "a number or a quoted string");
    }
    // Appended piece by piece: GCC 12's optimiser takes "-" + std::string for an overlapping
    // copy (-Wrestrict).
    std::string shown = minus ? "-" : "";
    shown += raw();
    (*out)->name = {std::move(shown), at.line, at.column};
    ++ps.pos;
    return true;
  }

  bool where(DataSetOptions* o) {
    o->where.reset();
    return punct("(") && orExpr(&o->where) && punct(")");
  }

  // ---- the options ----

  bool option(DataSetOptions* o) {
    if (tok().tokenClass != TC_NAMEX)
      return expect("a data set option");
    const OptionWord at = here();
    const std::string key = at.text;
    ++ps.pos;
    if (key != "KEEP" && key != "DROP" && key != "RENAME" && key != "WHERE" && key != "FIRSTOBS" &&
        key != "OBS" && key != "LABEL") {
      --ps.pos;
      return fail(PM_DSOPTION, raw());
    }
    if (!punct("="))
      return false;
    if (key == "KEEP" || key == "DROP")
      return names(key, key == "KEEP" ? &o->keep : &o->drop);
    if (key == "RENAME")
      return renames(o);
    if (key == "WHERE") {
      o->whereAt = at;
      return where(o);
    }
    if (key == "FIRSTOBS") {
      o->firstObsAt = at;
      return wholeNumber(1, &o->firstObs);
    }
    if (key == "OBS") {
      o->obsAt = at;
      if (isWord("MAX")) {
        ++ps.pos;
        o->obs = -1;
        return true;
      }
      return wholeNumber(0, &o->obs);
    }
    if (tok().tokenClass != TC_QS)
      return expect("a quoted string");
    o->label = std::string(text());
    o->hasLabel = true;
    ++ps.pos;
    return true;
  }
};

} // namespace

bool readDataSetOptions(HostParser& ps, DataSetOptions* out, OptionProblem* problem) {
  OptionReader r{ps, problem};
  while (!r.isPunct(")")) {
    if (r.tok().tokenClass == TC_ENDJB || r.isPunct(";"))
      return r.expect(")");
    if (!r.option(out))
      return false;
  }
  if (out->firstObsAt.line != 0 && out->obs >= 0 && out->obs < out->firstObs) {
    *problem = {PM_DSOPTVALUE, out->obsAt.line, out->obsAt.column,
                "OBS=" + std::to_string(out->obs),
                "it comes before FIRSTOBS=" + std::to_string(out->firstObs)};
    return false;
  }
  return true;
}

} // namespace qrxhost
