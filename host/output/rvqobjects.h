// The output manager's objects and protocol state: host objects in the host-interface
// layout, the records behind them, text handles, and the per-step state that owns them.
// The classes and method bodies are in rvqobjects.cpp; the document nodes in outputdoc.h.
#pragma once

#include "host/output/outputdoc.h"
#include "support/hostif.h"

#include <deque>
#include <string>
#include <unordered_set>
#include <vector>

// A text handle: the text and, for a data reference, the table whose data it names.
struct RvqText {
  std::string text;
  qrxhost::OutputNode* data = nullptr;
};

namespace qrxhost {

enum class ObjKind : int32_t { Block, Manager, Table, Factoid, Group, Bound, View };

struct ObjectRecord;

// What the module holds: the class pointer first, as every host object starts.
struct HostObject {
  RvqObject head;
  ObjKind kind;
  ObjectRecord* record;
};

enum class TablePhase { Columns, Rows, Ended };

// A column's bound variable, read at each emitted row.
struct ColumnBinding {
  ColumnType type;
  int32_t width;
  const void* address;
};

struct ObjectRecord {
  HostObject object{};
  OutputNode* node = nullptr; // table, factoid or group (graph-less views keep none)
  TablePhase phase = TablePhase::Columns;
  bool bound = false;
  std::vector<ColumnBinding> bindings;
  ObjectRecord* table = nullptr; // a bound output's table
  std::string where;             // a view's filter
};

// The protocol state of one step's output. Objects and texts live until the step ends.
struct OutputState {
  std::deque<ObjectRecord> objects;
  std::unordered_set<const HostObject*> live;
  std::deque<RvqText> texts;
  std::unordered_set<const RvqText*> liveTexts;
  std::vector<ObjectRecord*> openGroups;
  HostObject* block = nullptr;
};

// Makes a host object of `kind` in the state; it is live until released or the step ends.
ObjectRecord& makeObject(OutputState& state, ObjKind kind);
// The block that xobinit hands out for the current document.
HostObject* outputBlock(OutputDocument& document);
// Makes a text handle owned by the current document (or by the process when no step runs).
RvqText* makeText(std::string text, OutputNode* data = nullptr);
// True when `text` was made by the text services and is still valid.
bool isLiveText(const RvqText* text);

// Closes the groups still open (innermost first).
void closeOpenGroups(OutputState& state);

} // namespace qrxhost
