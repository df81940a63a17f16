// Data-set options, the parenthesised list after a data-set name: KEEP=, DROP=, RENAME=,
// WHERE=, FIRSTOBS=, OBS= and LABEL=. This file holds their parsed form, the WHERE
// expression and its evaluation; the host parser reads them, dataset.cpp applies them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qrxhost {

// A name or value of an option as written, with where it was written.
struct OptionWord {
  std::string text;
  int line = 0;
  int column = 0;
};

// A WHERE expression: a tree of conditions over the variables named in it.
struct WhereNode {
  enum Kind { Or, And, Not, Compare, In, Variable, Number, String };
  enum Op { EQ, NE, LT, LE, GT, GE };
  Kind kind = Number;
  Op op = EQ;
  std::vector<std::unique_ptr<WhereNode>> kids; // operands; In: the value, then the list
  OptionWord name;                              // Variable: as written
  int column = -1;                              // Variable: its 0-based column in the data set
  bool numeric = true;                          // Variable, Number, String: the value's type
  double number = 0;
  std::string text;
};

struct DataSetOptions {
  std::vector<OptionWord> keep, drop;
  std::vector<std::pair<OptionWord, OptionWord>> rename; // old, new
  std::unique_ptr<WhereNode> where;
  OptionWord whereAt;
  int64_t firstObs = 1; // 1-based
  int64_t obs = -1;     // the last observation read; -1: MAX
  OptionWord firstObsAt, obsAt;
  std::string label;
  bool hasLabel = false;

  bool empty() const {
    return keep.empty() && drop.empty() && rename.empty() && !where && firstObsAt.line == 0 &&
           obsAt.line == 0 && !hasLabel;
  }
};

// A variable as options see it: its name and type.
struct OptionVariable {
  std::string name;
  bool numeric = true;
};

// Why options do not fit a data set: the word at fault, and what is wrong with it.
struct OptionMisfit {
  OptionWord at;
  std::string option; // "KEEP=", ...
  std::string why;
};

// The columns a data set keeps after KEEP= and DROP=, in the data set's order, with the
// names RENAME= gives them; resolves the WHERE expression against those names. False with
// *misfit set when a name is not a variable, a new name is not valid or taken, or WHERE
// compares values of different types.
struct OptionView {
  std::vector<int> columns;       // 0-based columns of the data set
  std::vector<std::string> names; // the name of each kept column
};
bool viewOptions(const std::vector<OptionVariable>& vars, DataSetOptions& options, OptionView* view,
                 OptionMisfit* misfit);

// The value of a WHERE expression for one observation: numbers and texts of the data set's
// columns (0-based) come from the two readers.
struct WhereRow {
  std::function<double(int)> num;
  std::function<std::string_view(int)> str;
};
bool whereHolds(const WhereNode& node, const WhereRow& row);

} // namespace qrxhost
