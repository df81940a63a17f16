// Compiles the rule text of a grammar descriptor into a tree of sequence, choice, option,
// repetition, terminal, action and rule-reference nodes, and computes the FIRST sets
// that the recursive-descent interpreter (rdparse.cpp) chooses its way by.
// Declared in host/parser/psparser.h.
#include "host/parser/psparser.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>

namespace qrxhost {

namespace {

const std::map<std::string, int>& classNames() {
  static const std::map<std::string, int> m = {
      {"ENDJB", TC_ENDJB},       {"NAMEX", TC_NAMEX},     {"QS", TC_QS},
      {"INT", TC_INT},           {"NBR", TC_NBR},         {"COMPOUND", TC_COMPOUND},
      {"FMT", TC_FMT},           {"DATE", TC_DATE},       {"TIME", TC_TIME},
      {"DATETIME", TC_DATETIME}, {"MISSING", TC_MISSING}, {"VLITERAL", TC_VLITERAL},
      {"CATNAME", TC_CATNAME},   {"QRXDS", TC_QRXDS}};
  return m;
}

struct RuleParser {
  CompiledGrammar& g;
  const char* p;
  std::string& problem;

  GNode* make(GKind k) {
    g.nodes.push_back(std::make_unique<GNode>());
    g.nodes.back()->kind = k;
    return g.nodes.back().get();
  }
  void skip() {
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
      ++p;
  }
  bool bad(const std::string& what) {
    if (problem.empty())
      problem = what + " near \"" + std::string(p).substr(0, 30) + "\"";
    return false;
  }

  // alternatives := sequence { '|' sequence }
  GNode* alternatives() {
    GNode* first = sequence();
    if (!first)
      return nullptr;
    skip();
    if (*p != '|')
      return first;
    GNode* alt = make(GKind::Alt);
    alt->kids.push_back(first);
    while (*p == '|') {
      ++p;
      GNode* next = sequence();
      if (!next)
        return nullptr;
      alt->kids.push_back(next);
      skip();
    }
    return alt;
  }

  GNode* sequence() {
    GNode* seq = make(GKind::Seq);
    for (;;) {
      skip();
      char c = *p;
      if (c == '\0' || c == '|' || c == ')' || c == ']' || c == '}')
        return seq;
      GNode* item = nullptr;
      if (c == '(' || c == '[' || c == '{') {
        char close = c == '(' ? ')' : c == '[' ? ']' : '}';
        ++p;
        GNode* inner = alternatives();
        if (!inner)
          return nullptr;
        skip();
        if (*p != close) {
          bad(std::string("missing ") + close);
          return nullptr;
        }
        ++p;
        if (c == '(') {
          item = inner;
        } else {
          item = make(c == '[' ? GKind::Opt : GKind::Rep);
          item->kids.push_back(inner);
        }
      } else if (c == '\'') {
        item = make(GKind::Word);
        for (;;) {
          ++p;
          const char* end = std::strchr(p, '\'');
          if (!end) {
            bad("unterminated keyword");
            return nullptr;
          }
          std::string w(p, end);
          for (char& ch : w)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
          item->words.push_back(w);
          // A hidden keyword is accepted with or without its '$'.
          if (w.size() > 1 && w.back() == '$')
            item->words.push_back(w.substr(0, w.size() - 1));
          p = end + 1;
          if (*p == '/' && p[1] == '\'') {
            ++p;
            continue;
          }
          break;
        }
      } else if (c == '#') {
        ++p;
        item = make(GKind::Action);
        char* end = nullptr;
        item->action = static_cast<int>(std::strtol(p, &end, 10));
        if (end == p) {
          bad("action without a number");
          return nullptr;
        }
        p = end;
        if (*p == '(') {
          ++p;
          for (;;) {
            long v = std::strtol(p, &end, 10);
            if (end == p) {
              bad("bad action argument");
              return nullptr;
            }
            item->args.push_back(static_cast<int>(v));
            p = end;
            if (*p == ',') {
              ++p;
              continue;
            }
            if (*p == ')') {
              ++p;
              break;
            }
            bad("bad action arguments");
            return nullptr;
          }
        }
      } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        const char* s = p;
        while (*p && (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_'))
          ++p;
        std::string id(s, p);
        auto it = classNames().find(id);
        if (it != classNames().end()) {
          item = make(GKind::Class);
          item->tokenClass = it->second;
        } else {
          item = make(GKind::Ref);
          item->refName = id;
        }
      } else {
        bad("unexpected character");
        return nullptr;
      }
      seq->kids.push_back(item);
    }
  }
};

void computeFirst(CompiledGrammar& g, GNode* n, int depth);

void addFirst(GNode* to, const GNode* from) {
  to->firstWords.insert(from->firstWords.begin(), from->firstWords.end());
  to->firstClasses |= from->firstClasses;
}

void computeFirst(CompiledGrammar& g, GNode* n, int depth) {
  if (n->firstDone || depth > 200)
    return;
  switch (n->kind) {
  case GKind::Word:
    n->firstWords.insert(n->words.begin(), n->words.end());
    n->nullable = false;
    break;
  case GKind::Class:
    n->firstClasses = 1u << n->tokenClass;
    n->nullable = false;
    break;
  case GKind::Action:
    n->nullable = true;
    break;
  case GKind::Ref: {
    GNode* body = g.ruleBodies[n->rule];
    computeFirst(g, body, depth + 1);
    addFirst(n, body);
    n->nullable = body->nullable;
    break;
  }
  case GKind::Seq:
    n->nullable = true;
    for (GNode* k : n->kids) {
      computeFirst(g, k, depth + 1);
      addFirst(n, k);
      if (!k->nullable) {
        n->nullable = false;
        break;
      }
    }
    break;
  case GKind::Alt:
    n->nullable = false;
    for (GNode* k : n->kids) {
      computeFirst(g, k, depth + 1);
      addFirst(n, k);
      n->nullable = n->nullable || k->nullable;
    }
    break;
  case GKind::Opt:
  case GKind::Rep:
    computeFirst(g, n->kids[0], depth + 1);
    addFirst(n, n->kids[0]);
    n->nullable = true;
    break;
  }
  n->firstDone = true;
}

} // namespace

std::unique_ptr<CompiledGrammar> compileGrammar(const GrammarRule* rules, int count,
                                                std::string* problem) {
  auto g = std::make_unique<CompiledGrammar>();
  g->source = rules;
  std::string why;
  std::map<std::string, int> index;
  for (int r = 0; r < count; ++r) {
    if (!rules[r].name || !rules[r].body || index.count(rules[r].name)) {
      why = std::string("rule ") + (rules[r].name ? rules[r].name : "?") + " is not valid";
      break;
    }
    index[rules[r].name] = r;
    g->ruleNames.push_back(rules[r].name);
    RuleParser rp{*g, rules[r].body, why};
    GNode* body = rp.alternatives();
    rp.skip();
    if (body && *rp.p != '\0')
      rp.bad("unbalanced bracket");
    if (!body || !why.empty()) {
      why = std::string("rule ") + rules[r].name + ": " + why;
      break;
    }
    g->ruleBodies.push_back(body);
  }
  if (why.empty() && count <= 0)
    why = "no rules";
  if (why.empty()) {
    for (auto& n : g->nodes) {
      if (n->kind != GKind::Ref)
        continue;
      auto it = index.find(n->refName);
      if (it == index.end()) {
        why = "unknown rule " + n->refName;
        break;
      }
      n->rule = it->second;
    }
  }
  if (!why.empty()) {
    if (problem)
      *problem = why;
    return nullptr;
  }
  for (auto& n : g->nodes)
    computeFirst(*g, n.get(), 0);
  return g;
}

} // namespace qrxhost
