// A published table as a reader sees it, laid out from the template catalogue: its title,
// the shown columns with worded headers, spanning headers, the cells as display texts
// (the optimum of a criterion marked '*'), rows that want a rule above them, footnotes.
// The listing and the HTML page both draw from it, so they show the same thing.
#pragma once

#include "host/output/outputdoc.h"

#include <string>
#include <vector>

namespace qrxhost {

struct ViewColumn {
  size_t index = 0; // the column of the table
  std::string header;
  bool numeric = false; // right-aligned
};

struct ViewSpan {
  std::string header;
  size_t first = 0; // shown columns (indexes into TableView::columns)
  size_t last = 0;
};

struct TableView {
  std::string title;
  std::string title2; // empty when the table has no second heading line
  bool headers = true;
  std::vector<ViewColumn> columns;
  std::vector<ViewSpan> spans;
  std::vector<std::vector<std::string>> cells; // one per row, one per shown column
  std::vector<bool> ruleAbove;
  std::vector<std::string> footnotes;
};

// True for a table the listing and the page show: published, not data for graphs only.
bool displayedTable(const OutputNode& table);
TableView viewTable(const OutputNode& table);
// The worded header of one column of a table (its label or name when the catalogue has
// no entry for it).
std::string columnHeader(const OutputNode& table, const OutputColumn& column);
// The columns of a table that the catalogue has no entry for (all of them when it lacks the
// template); the marker columns Control and OptX need none.
std::vector<std::string> uncataloguedColumns(const OutputNode& table);
// The heading of a table or factoid: its title, else the catalogue's title when that comes
// out non-empty (it may carry dynamic values, such as a SCORE statement's number), else its
// label, else its name.
std::string factoidTitle(const OutputNode& factoid);
// The second heading line of a table from the catalogue (empty when it has none).
std::string secondTitle(const OutputNode& table);

} // namespace qrxhost
