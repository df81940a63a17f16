// The output document of one procedure step: the tree of groups, tables, factoids, text
// lines and graphs that the output manager builds from the module's method calls. The
// renderers read it; the protocol state (objects, handles, texts) lives in rvqobjects.h.
#pragma once

#include "support/protocol.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace qrxhost {

// One value of a cell, a dynamic variable or a factoid entry. A missing number is
// std::monostate (rendered "." in the listing, null in JSON).
using OutputValue = std::variant<std::monostate, int64_t, double, std::string>;

// How a number is displayed: a format code (attribute 270; -1 when none), a display width
// (attribute 272; 0 when none) and a format name (attribute 340; empty when none).
struct OutputFormat {
  int32_t code = -1;
  int32_t width = 0;
  std::string name;
};

// Column types of a table, as the module declares them.
using ColumnType = RvqColumnType;

struct OutputColumn {
  std::string name;
  std::string label; // the header where one is given
  ColumnType type = ColumnType::Double;
  int32_t width = 0; // declared width of a character column
  OutputFormat format;
  std::string columnTemplate;
  std::vector<std::pair<std::string, OutputValue>> dynamics;
};

struct FactoidEntry {
  std::string label;
  OutputValue value;
  OutputFormat format;
};

enum class NodeKind { Group, Table, Factoid, Text, Graph };

// One node of the document. The fields used depend on the kind.
struct OutputNode {
  NodeKind kind = NodeKind::Text;
  std::string name;
  std::string label;
  std::string templ; // template path
  // group
  std::vector<std::unique_ptr<OutputNode>> children;
  // table
  bool hidden = false;     // a data-only table that feeds graphs (its template says so)
  bool graphsOnly = false; // bound with switch 2640 on: kept out of the listing and the page
  bool published = false;  // only published tables are rendered
  std::string description;
  std::string footnote;
  std::vector<std::pair<std::string, OutputValue>> dynamics; // table and graph
  std::vector<OutputColumn> columns;
  std::vector<std::vector<OutputValue>> rows;
  // factoid
  std::string title;
  std::vector<FactoidEntry> entries;
  // text line, rule line or level note
  std::string text;
  char align = 'l';  // 'c' centres the line in the listing
  char rule = '\0';  // a rule line repeats this character
  int32_t level = 0; // outline level of a level note
  // graph
  std::vector<std::string> data;          // names of the tables whose data the graph reads
  std::vector<const OutputNode*> sources; // those tables, in the same order
  std::string viewWhere;                  // the filter of the step-range view, when one is used
};

struct OutputState;

// The document of one step. `nodes` are the top-level nodes in the order they were made.
struct OutputDocument {
  OutputDocument();
  ~OutputDocument();
  OutputDocument(const OutputDocument&) = delete;
  OutputDocument& operator=(const OutputDocument&) = delete;

  std::vector<std::unique_ptr<OutputNode>> nodes;
  // The manager's protocol state while the step runs (null once the step has ended).
  std::unique_ptr<OutputState> state;
};

// The documents of the steps run so far in this process (kept until discardOutputs()).
const std::vector<std::unique_ptr<OutputDocument>>& stepOutputs();

} // namespace qrxhost
