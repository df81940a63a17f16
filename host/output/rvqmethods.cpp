// The output manager's method bodies: making objects, binding and publishing tables,
// columns and rows, factoid entries, groups, text lines, level notes, views and graphs.
// Each body checks its attributes and turns the call into document nodes.
#include "host/output/rvqmethods.h"

#include "host/output/rvqattrs.h"
#include "host/output/rvqoutput.h"

#include <cmath>
#include <cstring>

namespace qrxhost {
namespace {

OutputState& state() { return *currentOutput()->state; }

// Appends a node to the innermost open group, or to the document's top level.
OutputNode* addNode(NodeKind kind) {
  OutputDocument* doc = currentOutput();
  auto& list =
      doc->state->openGroups.empty() ? doc->nodes : doc->state->openGroups.back()->node->children;
  list.push_back(std::make_unique<OutputNode>());
  list.back()->kind = kind;
  return list.back().get();
}

// The live object of `kind` behind a handle, or null.
ObjectRecord* liveObject(const void* handle, ObjKind kind) {
  auto* object = static_cast<const HostObject*>(handle);
  if (handle == nullptr || state().live.count(object) == 0 || object->kind != kind)
    return nullptr;
  return object->record;
}

int32_t missing(int32_t method, int32_t id, const char* what) {
  return outputFail(OUT_MISSING_ATTRIBUTE, method,
                    "attribute " + std::to_string(id) + " (" + what + ") is missing");
}

int32_t badHandle(int32_t method, int32_t id, const char* what) {
  return outputFail(OUT_BAD_HANDLE, method,
                    "attribute " + std::to_string(id) + " names no live " + what);
}

// Reads a switch (type 13) or an integer attribute whose value the manager does not use.
int32_t checkOnly(int32_t method, const RvqAttr& attr, uint16_t type) {
  return expectType(method, attr, type);
}

bool isPhantomTemplate(const std::string& path) {
  return path.find(".Phantom.") != std::string::npos;
}

std::string trimRight(const char* text, size_t length) {
  while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\0'))
    --length;
  return std::string(text, length);
}

// The current value of a bound variable.
int32_t readBound(int32_t method, const ColumnBinding& binding, OutputValue* out) {
  switch (binding.type) {
  case ColumnType::Char1: {
    char c;
    std::memcpy(&c, binding.address, 1);
    *out = trimRight(&c, 1);
    return 0;
  }
  case ColumnType::Int: {
    int32_t v;
    std::memcpy(&v, binding.address, sizeof v);
    *out = static_cast<int64_t>(v);
    return 0;
  }
  case ColumnType::Double: {
    double v;
    std::memcpy(&v, binding.address, sizeof v);
    if (std::isnan(v))
      *out = std::monostate{};
    else
      *out = v;
    return 0;
  }
  case ColumnType::Chars: {
    auto* text = static_cast<const char*>(binding.address);
    *out = trimRight(text, strnlen(text, static_cast<size_t>(binding.width)));
    return 0;
  }
  case ColumnType::Text: {
    RvqText* text;
    std::memcpy(&text, binding.address, sizeof text);
    if (text != nullptr && !isLiveText(text))
      return outputFail(OUT_BAD_HANDLE, method, "a text column holds no valid text handle");
    *out = text != nullptr ? text->text : std::string();
    return 0;
  }
  }
  return outputFail(OUT_BAD_VALUE, method, "unknown column type");
}

} // namespace

// ---------------------------------------------------------------------------------------
// Block and manager
// ---------------------------------------------------------------------------------------

int32_t createObject(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  std::string cls, kind, name, label, title, templ, description;
  bool haveClass = false, haveKind = false, haveName = false;
  RvqAttr* out = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case 143:
      rc = readCounted(method, a, &cls);
      haveClass = true;
      break;
    case 146:
      rc = readCounted(method, a, &kind);
      haveKind = true;
      break;
    case 144:
      rc = expectType(method, a, RVQ_HANDLE);
      out = &a;
      break;
    case 339:
      rc = readText(method, a, &templ);
      break;
    case 138:
      rc = readText(method, a, &name, &haveName);
      break;
    case 267:
      rc = readText(method, a, &title);
      break;
    case 296:
      rc = readText(method, a, &label);
      break;
    case 310:
      rc = readText(method, a, &description);
      break;
    case 148:
    case 336:
      rc = checkOnly(method, a, RVQ_INT);
      break;
    default:
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (!haveClass)
    return missing(method, 143, "object class");
  if (cls != "rvq")
    return outputFail(OUT_BAD_VALUE, method, "object class \"" + cls + "\" is not \"rvq\"");
  if (!haveKind)
    return missing(method, 146, "object kind");
  if (out == nullptr)
    return missing(method, 144, "returned handle");
  if (kind == "manager") {
    out->value.ptr = &makeObject(state(), ObjKind::Manager).object;
    return 0;
  }
  bool table = kind == "data";
  if (!table && kind != "factoid")
    return outputFail(OUT_BAD_VALUE, method, "object kind \"" + kind + "\" is not known");
  if (!haveName || name.empty())
    return missing(method, 138, "object name");
  OutputNode* node = addNode(table ? NodeKind::Table : NodeKind::Factoid);
  node->name = std::move(name);
  node->label = std::move(label);
  node->templ = std::move(templ);
  node->title = std::move(title);
  node->description = std::move(description);
  node->hidden = isPhantomTemplate(node->templ);
  ObjectRecord& record = makeObject(state(), table ? ObjKind::Table : ObjKind::Factoid);
  record.node = node;
  out->value.ptr = &record.object;
  return 0;
}

// The query slot: attribute 1334 is answered with 0.
int32_t queryManager(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    if (a.id != 1334)
      return outputFail(OUT_BAD_VALUE, method,
                        "attribute " + std::to_string(a.id) + " cannot be queried");
    if (int32_t rc = expectType(method, a, RVQ_FLAG))
      return rc;
    a.second.i32 = 0;
  }
  return 0;
}

int32_t bindTable(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  if (count < 2)
    return missing(method, 504, "data object");
  if (attrs[0].id != 0)
    return missing(method, 0, "returned bound handle");
  if (int32_t rc = expectType(method, attrs[0], RVQ_HANDLE))
    return rc;
  ObjectRecord* table = nullptr;
  bool templGiven = false;
  std::string templ, label;
  Dynamics dynamics;
  RvqText** slot = nullptr;
  for (int32_t i = 1; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    if (a.id == 504 || (i == 1 && a.id == 0)) {
      if ((rc = expectType(method, a, RVQ_HANDLE)) != 0)
        return rc;
      table = liveObject(a.value.ptr, ObjKind::Table);
      if (table == nullptr)
        return badHandle(method, a.id, "table");
      continue;
    }
    switch (a.id) {
    case 339:
      rc = readText(method, a, &templ, &templGiven);
      break;
    case 311:
      rc = readDynamic(method, attrs, count, &i, &dynamics);
      break;
    case 296:
      rc = readText(method, a, &label);
      break;
    case 2640:
      rc = checkOnly(method, a, RVQ_FLAG);
      break;
    case 784:
      if (a.type == RVQ_TEXT) {
        slot = static_cast<RvqText**>(a.value.ptr);
      } else {
        RvqText* ignored;
        rc = readTextHandle(method, a, &ignored);
      }
      break;
    default:
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (table == nullptr)
    return missing(method, 504, "data object");
  if (table->bound)
    return outputFail(OUT_BAD_SEQUENCE, method, "table " + table->node->name + " is bound twice");
  OutputNode* node = table->node;
  if (templGiven)
    node->templ = std::move(templ);
  node->hidden = isPhantomTemplate(node->templ);
  if (!label.empty())
    node->label = std::move(label);
  for (auto& [name, value] : dynamics) {
    Dynamics* target = &node->dynamics;
    bool replaced = false;
    for (auto& [existing, old] : *target)
      if (existing == name) {
        old = value;
        replaced = true;
      }
    if (!replaced)
      target->emplace_back(name, value);
  }
  table->bound = true;
  ObjectRecord& bound = makeObject(state(), ObjKind::Bound);
  bound.table = table;
  attrs[0].value.ptr = &bound.object;
  if (slot != nullptr)
    *slot = makeText(node->name, node);
  return 0;
}

int32_t publishTable(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  if (count < 1 || attrs[0].id != 0)
    return missing(method, 0, "bound handle");
  if (int32_t rc = expectType(method, attrs[0], RVQ_HANDLE))
    return rc;
  ObjectRecord* bound = liveObject(attrs[0].value.ptr, ObjKind::Bound);
  if (bound == nullptr)
    return badHandle(method, 0, "bound output");
  std::string footnote;
  for (int32_t i = 1; i < count; ++i) {
    if (attrs[i].id == 378) {
      if (int32_t rc = readText(method, attrs[i], &footnote))
        return rc;
    }
  }
  OutputNode* node = bound->table->node;
  if (node->published)
    return outputFail(OUT_BAD_SEQUENCE, method, "table " + node->name + " is published twice");
  node->published = true;
  node->footnote = std::move(footnote);
  bound->table->phase = TablePhase::Ended;
  return 0;
}

int32_t textLine(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  std::string text;
  bool haveText = false, isRule = false;
  char align = 'l', rule = '-';
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case 371:
    case 280:
      rc = checkOnly(method, a, RVQ_INT);
      break;
    case 273:
      if ((rc = expectType(method, a, RVQ_CHAR)) == 0)
        align = a.value.ch;
      break;
    case 577:
      rc = readText(method, a, &text);
      haveText = true;
      break;
    case 580:
      if ((rc = expectType(method, a, RVQ_CHAR)) == 0) {
        rule = a.value.ch;
        isRule = true;
      }
      break;
    default:
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (!haveText && !isRule)
    return missing(method, 577, "text");
  OutputNode* node = addNode(NodeKind::Text);
  if (isRule) {
    node->rule = rule != '\0' ? rule : '-';
  } else {
    node->text = std::move(text);
    node->align = align == 'c' || align == 'C' ? 'c' : 'l';
  }
  return 0;
}

int32_t openGroup(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  std::string name, stem, label;
  double number = 0.0;
  bool haveNumber = false;
  RvqAttr* out = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case 144:
      rc = expectType(method, a, RVQ_HANDLE);
      out = &a;
      break;
    case 138:
      rc = readText(method, a, &name);
      break;
    case 288:
      rc = readText(method, a, &stem);
      break;
    case 296:
      rc = readText(method, a, &label);
      break;
    case 286:
    case 435:
      rc = checkOnly(method, a, RVQ_FLAG);
      break;
    case 437:
      if ((rc = expectType(method, a, RVQ_DOUBLE)) == 0) {
        number = a.value.f64;
        haveNumber = std::isfinite(number);
      }
      break;
    default:
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (out == nullptr)
    return missing(method, 144, "returned group handle");
  if (name.empty() && !stem.empty() && haveNumber)
    name = stem + std::to_string(static_cast<long long>(number));
  if (name.empty())
    return missing(method, 138, "group name");
  OutputNode* node = addNode(NodeKind::Group);
  node->name = std::move(name);
  node->label = std::move(label);
  ObjectRecord& record = makeObject(state(), ObjKind::Group);
  record.node = node;
  state().openGroups.push_back(&record);
  out->value.ptr = &record.object;
  return 0;
}

// A level note (440 with text 577) or a level mark (442). The first record of the call is
// the manager's own and callers leave it unset, so a record is read only when its id is
// one of this method's and its value type fits; any other record is passed over.
int32_t levelNote(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  int32_t level = 0;
  bool haveMark = false, haveText = false;
  std::string text;
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    if ((a.id == 440 || a.id == 442 || a.id == 148) && a.type == RVQ_INT) {
      if (a.id == 440)
        level = a.value.i32;
      if (a.id == 442)
        haveMark = true;
    } else if (a.id == 577 && a.type == RVQ_TEXTHANDLE) {
      bool present = false;
      if (int32_t rc = readText(method, a, &text, &present))
        return rc;
      haveText = haveText || present;
    }
  }
  if (haveText) {
    OutputNode* node = addNode(NodeKind::Text);
    node->text = std::move(text);
    node->level = level;
    return 0;
  }
  if (!haveMark)
    return missing(method, 442, "level or note text");
  return 0;
}

int32_t makeView(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  RvqText* data = nullptr;
  std::string where;
  RvqAttr* out = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case 784:
      rc = readTextHandle(method, a, &data);
      break;
    case 105:
      rc = readText(method, a, &where);
      break;
    case 321:
      rc = expectType(method, a, RVQ_BOUND);
      out = &a;
      break;
    default:
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (data == nullptr || data->data == nullptr)
    return missing(method, 784, "data reference");
  if (out == nullptr)
    return missing(method, 321, "returned view handle");
  ObjectRecord& view = makeObject(state(), ObjKind::View);
  view.node = data->data;
  view.where = std::move(where);
  out->value.ptr = &view.object;
  return 0;
}

int32_t releaseView(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    if (a.id != 321)
      continue;
    if (int32_t rc = expectType(method, a, RVQ_BOUND))
      return rc;
    ObjectRecord* view = liveObject(a.value.ptr, ObjKind::View);
    if (view == nullptr)
      return badHandle(method, 321, "view");
    state().live.erase(&view->object);
    return 0;
  }
  return missing(method, 321, "view handle");
}

int32_t makeGraph(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  std::string name, label, description, templ, where;
  std::vector<std::string> data;
  Dynamics dynamics;
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case 138:
      rc = readText(method, a, &name);
      break;
    case 296:
      rc = readText(method, a, &label);
      break;
    case 310:
      rc = readText(method, a, &description);
      break;
    case 339:
      rc = readText(method, a, &templ);
      break;
    case 2829: {
      if ((rc = expectType(method, a, RVQ_DATAREFS)) != 0)
        break;
      uint16_t n = a.value.counted.length;
      auto* refs = static_cast<RvqText**>(a.second.ptr);
      if (n > 0 && refs == nullptr)
        return outputFail(OUT_BAD_VALUE, method, "a data list without references");
      for (uint16_t k = 0; k < n; ++k) {
        if (refs[k] == nullptr || !isLiveText(refs[k]) || refs[k]->data == nullptr)
          return badHandle(method, 2829, "data reference");
        data.push_back(refs[k]->data->name);
      }
      break;
    }
    case 307: {
      if ((rc = expectType(method, a, RVQ_BOUND)) != 0)
        break;
      ObjectRecord* view = liveObject(a.value.ptr, ObjKind::View);
      if (view == nullptr)
        return badHandle(method, 307, "view");
      data.push_back(view->node->name);
      where = view->where;
      break;
    }
    case 311:
      rc = readDynamic(method, attrs, count, &i, &dynamics);
      break;
    case 174: {
      if ((rc = expectType(method, a, RVQ_LIST)) != 0)
        break;
      int32_t n = a.value.counted.length;
      auto* list = static_cast<RvqAttr*>(a.second.ptr);
      if (n > 0 && list == nullptr)
        return outputFail(OUT_BAD_VALUE, method, "an attribute list without records");
      for (int32_t k = 0; k < n && rc == 0; ++k) {
        if (list[k].id == 311)
          rc = readDynamic(method, list, n, &k, &dynamics);
      }
      break;
    }
    default:
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (name.empty())
    return missing(method, 138, "graph name");
  OutputNode* node = addNode(NodeKind::Graph);
  node->name = std::move(name);
  node->label = std::move(label);
  node->description = std::move(description);
  node->templ = std::move(templ);
  node->data = std::move(data);
  node->dynamics = std::move(dynamics);
  node->viewWhere = std::move(where);
  return 0;
}

// ---------------------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------------------

int32_t defineColumn(HostObject* self, int32_t method, int32_t count, RvqAttr* attrs) {
  ObjectRecord* table = self->record;
  if (table->phase != TablePhase::Columns)
    return outputFail(OUT_BAD_SEQUENCE, method,
                      "a column of table " + table->node->name + " after its columns ended");
  OutputColumn column;
  bool haveType = false;
  int32_t type = 0;
  const void* address = nullptr;
  bool haveAddress = false;
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case 103:
      rc = readInt(method, a, &type);
      haveType = true;
      break;
    case 138:
      rc = readText(method, a, &column.name);
      break;
    case 289:
      rc = readInt(method, a, &column.width);
      break;
    case 270:
      rc = readInt(method, a, &column.format.code);
      break;
    case 311:
      rc = readDynamic(method, attrs, count, &i, &column.dynamics);
      break;
    case 296:
      rc = readText(method, a, &column.label);
      break;
    case 339:
      rc = readText(method, a, &column.columnTemplate);
      break;
    case 285:
      if ((rc = expectType(method, a, RVQ_BOUND)) == 0) {
        address = a.value.ptr;
        haveAddress = true;
      }
      break;
    default:
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (!haveType)
    return missing(method, 103, "column type");
  if (type != 1 && type != 3 && type != 5 && type != 6 && type != 66)
    return outputFail(OUT_BAD_VALUE, method,
                      "column type " + std::to_string(type) + " is not known");
  if (column.name.empty())
    return missing(method, 138, "column name");
  column.type = static_cast<ColumnType>(type);
  if (column.type == ColumnType::Chars) {
    if (column.width <= 0 || column.width > 32767)
      return outputFail(OUT_BAD_VALUE, method,
                        "character column " + column.name + " needs a width (289) of 1 to 32767");
  } else if (column.type == ColumnType::Char1) {
    column.width = 1;
  }
  if (!haveAddress || address == nullptr)
    return missing(method, 285, "bound variable");
  table->bindings.push_back(ColumnBinding{column.type, column.width, address});
  table->node->columns.push_back(std::move(column));
  return 0;
}

int32_t endColumns(HostObject* self, int32_t method, int32_t, RvqAttr*) {
  ObjectRecord* table = self->record;
  if (table->phase != TablePhase::Columns)
    return outputFail(OUT_BAD_SEQUENCE, method,
                      "the columns of table " + table->node->name + " ended twice");
  table->phase = TablePhase::Rows;
  return 0;
}

int32_t emitRow(HostObject* self, int32_t method, int32_t, RvqAttr*) {
  ObjectRecord* table = self->record;
  if (table->phase == TablePhase::Ended)
    return outputFail(OUT_BAD_SEQUENCE, method,
                      "a row of table " + table->node->name + " after its rows ended");
  table->phase = TablePhase::Rows;
  std::vector<OutputValue> row(table->bindings.size());
  for (size_t c = 0; c < table->bindings.size(); ++c) {
    if (int32_t rc = readBound(method, table->bindings[c], &row[c]))
      return rc;
  }
  table->node->rows.push_back(std::move(row));
  return 0;
}

int32_t endRows(HostObject* self, int32_t, int32_t, RvqAttr*) {
  self->record->phase = TablePhase::Ended;
  return 0;
}

int32_t setDynamic(HostObject* self, int32_t method, int32_t count, RvqAttr* attrs) {
  bool any = false;
  for (int32_t i = 0; i < count; ++i) {
    if (attrs[i].id != 311)
      continue;
    if (int32_t rc = readDynamic(method, attrs, count, &i, &self->record->node->dynamics))
      return rc;
    any = true;
  }
  return any ? 0 : missing(method, 311, "dynamic variable name");
}

// ---------------------------------------------------------------------------------------
// Factoids and groups
// ---------------------------------------------------------------------------------------

int32_t factoidEntry(HostObject* self, int32_t method, int32_t count, RvqAttr* attrs) {
  ObjectRecord* factoid = self->record;
  if (factoid->phase == TablePhase::Ended)
    return outputFail(OUT_BAD_SEQUENCE, method,
                      "an entry of factoid " + factoid->node->name + " after its entries ended");
  FactoidEntry entry;
  bool haveValue = false;
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case 296:
      rc = readText(method, a, &entry.label);
      break;
    case 287:
      if (a.type == RVQ_FLAG)
        rc = outputFail(OUT_BAD_ATTRIBUTE, method, "a factoid entry value cannot be a switch");
      else
        rc = readValue(method, a, &entry.value);
      haveValue = true;
      break;
    case 272:
      rc = readInt(method, a, &entry.format.width);
      break;
    case 270:
      rc = readInt(method, a, &entry.format.code);
      break;
    case 340:
      rc = readText(method, a, &entry.format.name);
      break;
    default:
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (!haveValue)
    return missing(method, 287, "entry value");
  factoid->node->entries.push_back(std::move(entry));
  return 0;
}

int32_t endEntries(HostObject* self, int32_t, int32_t, RvqAttr*) {
  self->record->phase = TablePhase::Ended;
  return 0;
}

int32_t releaseFactoid(HostObject* self, int32_t, int32_t, RvqAttr*) {
  self->record->phase = TablePhase::Ended;
  state().live.erase(self);
  return 0;
}

// Closes the group and any group opened inside it that is still open.
int32_t closeGroup(HostObject* self, int32_t method, int32_t, RvqAttr*) {
  auto& open = state().openGroups;
  for (size_t k = open.size(); k-- > 0;) {
    if (open[k] != self->record)
      continue;
    while (open.size() > k) {
      state().live.erase(&open.back()->object);
      open.pop_back();
    }
    return 0;
  }
  return outputFail(OUT_BAD_SEQUENCE, method, "group " + self->record->node->name + " is not open");
}

} // namespace qrxhost
