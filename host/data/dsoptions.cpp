// Data-set options against a data set's variables: which columns KEEP= and DROP= leave, the
// names RENAME= gives them, and the WHERE expression resolved and evaluated. Reading the
// options is the host parser's; applying them to the rows is dataset.cpp's.
#include "host/data/dsoptions.h"

#include "host/data/dataset.h"
#include "host/utf8text.h"
#include "support/hostif.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace qrxhost {

namespace {

// The columns named by a KEEP= or DROP= list; false at the first name that is no variable.
bool namedColumns(const std::map<std::string, int>& index, const std::vector<OptionWord>& words,
                  const char* option, std::set<int>* out, OptionMisfit* misfit) {
  for (const OptionWord& w : words) {
    auto it = index.find(nameUpper(w.text));
    if (it == index.end()) {
      *misfit = {w, option, "is not a variable of the data set"};
      return false;
    }
    out->insert(it->second);
  }
  return true;
}

// Gives each kept column its RENAME= name; false when an old name is not kept or a new name
// is not valid or names two variables.
bool renameColumns(const std::map<std::string, int>& index, const DataSetOptions& options,
                   OptionView* view, OptionMisfit* misfit) {
  std::set<int> renamed;
  for (const auto& [from, to] : options.rename) {
    auto it = index.find(nameUpper(from.text));
    if (it != index.end() && !renamed.insert(it->second).second) {
      *misfit = {from, "RENAME=", "is given a new name twice"};
      return false;
    }
    auto kept = it == index.end()
                    ? view->columns.end()
                    : std::find(view->columns.begin(), view->columns.end(), it->second);
    if (kept == view->columns.end()) {
      *misfit = {from, "RENAME=", "is not a variable of the data set that is kept"};
      return false;
    }
    if (!validVariableName(to.text)) {
      *misfit = {to, "RENAME=", "is not a valid variable name"};
      return false;
    }
    view->names[static_cast<size_t>(kept - view->columns.begin())] = to.text;
  }
  std::set<std::string> seen;
  for (size_t i = 0; i < view->names.size(); ++i)
    if (!seen.insert(nameUpper(view->names[i])).second) {
      for (const auto& [from, to] : options.rename)
        if (nameUpper(to.text) == nameUpper(view->names[i]))
          *misfit = {to, "RENAME=", "would name two variables of the data set"};
      return false;
    }
  return true;
}

// What a WHERE operand is, for a message: "a numeric variable", "a text", ...
std::string typeOf(const WhereNode& node) {
  if (node.kind == WhereNode::Variable)
    return node.numeric ? "a numeric variable" : "a character variable";
  return node.numeric ? "a number" : "a text";
}

// Resolves the variables of a WHERE expression against the names the data set is seen by,
// and checks that each comparison compares values of one type.
// A comparison of values of two types is blamed on its first operand, as written.
bool resolveWhere(WhereNode& node, const std::map<std::string, int>& seenAs,
                  const std::vector<OptionVariable>& vars, OptionMisfit* misfit) {
  if (node.kind == WhereNode::Variable) {
    auto it = seenAs.find(nameUpper(node.name.text));
    if (it == seenAs.end()) {
      *misfit = {node.name, "WHERE=", "is not a variable of the data set"};
      return false;
    }
    node.column = it->second;
    node.numeric = vars[static_cast<size_t>(it->second)].numeric;
    return true;
  }
  for (auto& kid : node.kids)
    if (!resolveWhere(*kid, seenAs, vars, misfit))
      return false;
  if (node.kind != WhereNode::Compare && node.kind != WhereNode::In)
    return true;
  const WhereNode& first = *node.kids[0];
  for (size_t k = 1; k < node.kids.size(); ++k)
    if (node.kids[k]->numeric != first.numeric) {
      const WhereNode& other = *node.kids[k];
      *misfit = {first.name, "WHERE=",
                 "is " + typeOf(first) + " and is compared with " + other.name.text + ", " +
                     typeOf(other)};
      return false;
    }
  return true;
}

struct WhereValue {
  bool numeric = true;
  double num = 0;
  std::string_view str;
};

WhereValue valueOf(const WhereNode& node, const WhereRow& row) {
  WhereValue v;
  v.numeric = node.numeric;
  if (node.kind == WhereNode::Variable) {
    if (node.numeric)
      v.num = row.num(node.column);
    else
      v.str = row.str(node.column);
  } else if (node.numeric) {
    v.num = node.number;
  } else {
    v.str = node.text;
  }
  if (!v.numeric)
    v.str = v.str.substr(0, v.str.find_last_not_of(' ') + 1);
  return v;
}

// -1, 0 or 1. A missing number is below every number; texts compare without trailing blanks.
int compareValues(const WhereValue& a, const WhereValue& b) {
  if (!a.numeric) {
    const int c = a.str.compare(b.str);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  const bool ma = isHostMissing(a.num) || a.num != a.num;
  const bool mb = isHostMissing(b.num) || b.num != b.num;
  if (ma || mb)
    return ma == mb ? 0 : ma ? -1 : 1;
  return a.num < b.num ? -1 : a.num > b.num ? 1 : 0;
}

bool truthOf(const WhereValue& v) {
  if (!v.numeric)
    return !v.str.empty();
  return !(isHostMissing(v.num) || v.num != v.num) && v.num != 0;
}

} // namespace

bool viewOptions(const std::vector<OptionVariable>& vars, DataSetOptions& options, OptionView* view,
                 OptionMisfit* misfit) {
  std::map<std::string, int> index;
  for (size_t c = 0; c < vars.size(); ++c)
    index.emplace(nameUpper(vars[c].name), static_cast<int>(c));
  std::set<int> keep, drop;
  if (!namedColumns(index, options.keep, "KEEP=", &keep, misfit) ||
      !namedColumns(index, options.drop, "DROP=", &drop, misfit))
    return false;
  view->columns.clear();
  view->names.clear();
  for (size_t c = 0; c < vars.size(); ++c) {
    const int k = static_cast<int>(c);
    if ((options.keep.empty() || keep.count(k)) && !drop.count(k)) {
      view->columns.push_back(k);
      view->names.push_back(vars[c].name);
    }
  }
  if (!renameColumns(index, options, view, misfit))
    return false;
  if (!options.where)
    return true;
  std::map<std::string, int> seenAs;
  for (size_t i = 0; i < view->columns.size(); ++i)
    seenAs.emplace(nameUpper(view->names[i]), view->columns[i]);
  return resolveWhere(*options.where, seenAs, vars, misfit);
}

bool whereHolds(const WhereNode& node, const WhereRow& row) {
  switch (node.kind) {
  case WhereNode::Or:
    return std::any_of(node.kids.begin(), node.kids.end(),
                       [&row](const auto& k) { return whereHolds(*k, row); });
  case WhereNode::And:
    return std::all_of(node.kids.begin(), node.kids.end(),
                       [&row](const auto& k) { return whereHolds(*k, row); });
  case WhereNode::Not:
    return !whereHolds(*node.kids[0], row);
  case WhereNode::In: {
    const WhereValue v = valueOf(*node.kids[0], row);
    for (size_t k = 1; k < node.kids.size(); ++k)
      if (compareValues(v, valueOf(*node.kids[k], row)) == 0)
        return true;
    return false;
  }
  case WhereNode::Compare: {
    const int c = compareValues(valueOf(*node.kids[0], row), valueOf(*node.kids[1], row));
    switch (node.op) {
    case WhereNode::EQ:
      return c == 0;
    case WhereNode::NE:
      return c != 0;
    case WhereNode::LT:
      return c < 0;
    case WhereNode::LE:
      return c <= 0;
    case WhereNode::GT:
      return c > 0;
    case WhereNode::GE:
      return c >= 0;
    }
    return false;
  }
  default:
    return truthOf(valueOf(node, row));
  }
}

} // namespace qrxhost
