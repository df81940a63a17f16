// The output manager's methods on the output-object block and the manager: making
// objects, binding and publishing tables, text lines, groups, level notes, views and
// graphs; and the helpers that every method body shares. Table, factoid and group
// methods are in rvqtable.cpp. Declared in host/output/rvqmethods.h.
#include "host/output/rvqmethods.h"

#include "host/output/rvqattrs.h"
#include "host/output/rvqoutput.h"

#include <cmath>
#include <cstring>

namespace qrxhost {

OutputState& outputState() { return *currentOutput()->state; }

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
  if (handle == nullptr || outputState().live.count(object) == 0 || object->kind != kind)
    return nullptr;
  return object->record;
}

int32_t missingAttr(int32_t method, int32_t id, const char* what) {
  return outputFail(OUT_MISSING_ATTRIBUTE, method,
                    "attribute " + std::to_string(id) + " (" + what + ") is missing");
}

int32_t badHandle(int32_t method, int32_t id, const char* what) {
  return outputFail(OUT_BAD_HANDLE, method,
                    "attribute " + std::to_string(id) + " names no live " + what);
}

bool isPhantomTemplate(const std::string& path) {
  return path.find(".Phantom.") != std::string::npos;
}

// ---------------------------------------------------------------------------------------
// Block and manager
// ---------------------------------------------------------------------------------------

int32_t createObject(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  std::string cls, kind, name, label, title, templ, description;
  bool haveClass = false, haveKind = false, haveName = false;
  const TextAttr texts[] = {{RvqAttrId::Template, &templ},
                            {RvqAttrId::Name, &name, &haveName},
                            {RvqAttrId::Title, &title},
                            {RvqAttrId::Label, &label},
                            {RvqAttrId::Description, &description}};
  RvqAttr* out = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case RvqAttrId::ObjectClass:
      rc = readCounted(method, a, &cls);
      haveClass = true;
      break;
    case RvqAttrId::ObjectKind:
      rc = readCounted(method, a, &kind);
      haveKind = true;
      break;
    case RvqAttrId::Handle:
      rc = expectType(method, a, RVQ_HANDLE);
      out = &a;
      break;
    case RvqAttrId::Placement:
    case RvqAttrId::Variant:
      rc = expectType(method, a, RVQ_INT);
      break;
    default:
      rc = readTextAttr(method, a, texts);
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (!haveClass)
    return missingAttr(method, RvqAttrId::ObjectClass, "object class");
  if (cls != "rvq")
    return outputFail(OUT_BAD_VALUE, method, "object class \"" + cls + "\" is not \"rvq\"");
  if (!haveKind)
    return missingAttr(method, RvqAttrId::ObjectKind, "object kind");
  if (out == nullptr)
    return missingAttr(method, RvqAttrId::Handle, "returned handle");
  if (kind == "manager") {
    out->value.ptr = &makeObject(outputState(), ObjKind::Manager).object;
    return 0;
  }
  bool table = kind == "data";
  if (!table && kind != "factoid")
    return outputFail(OUT_BAD_VALUE, method, "object kind \"" + kind + "\" is not known");
  if (!haveName || name.empty())
    return missingAttr(method, RvqAttrId::Name, "object name");
  OutputNode* node = addNode(table ? NodeKind::Table : NodeKind::Factoid);
  node->name = std::move(name);
  node->label = std::move(label);
  node->templ = std::move(templ);
  node->title = std::move(title);
  node->description = std::move(description);
  node->hidden = isPhantomTemplate(node->templ);
  ObjectRecord& record = makeObject(outputState(), table ? ObjKind::Table : ObjKind::Factoid);
  record.node = node;
  out->value.ptr = &record.object;
  return 0;
}

// The query slot: attribute 1334 is answered with 0.
int32_t queryManager(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    if (a.id != RvqAttrId::Query)
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
    return missingAttr(method, RvqAttrId::Table, "data object");
  if (attrs[0].id != RvqAttrId::Receiver)
    return missingAttr(method, RvqAttrId::Receiver, "returned bound handle");
  if (int32_t rc = expectType(method, attrs[0], RVQ_HANDLE))
    return rc;
  ObjectRecord* table = nullptr;
  bool templGiven = false;
  std::string templ, label;
  Dynamics dynamics;
  const TextAttr texts[] = {{RvqAttrId::Template, &templ, &templGiven}, {RvqAttrId::Label, &label}};
  RvqText** slot = nullptr;
  int32_t graphsOnly = -1; // switch 2640: 1 keeps the table out of the listing
  for (int32_t i = 1; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    if (a.id == RvqAttrId::Table || (i == 1 && a.id == RvqAttrId::Receiver)) {
      if ((rc = expectType(method, a, RVQ_HANDLE)) != 0)
        return rc;
      table = liveObject(a.value.ptr, ObjKind::Table);
      if (table == nullptr)
        return badHandle(method, a.id, "table");
      continue;
    }
    switch (a.id) {
    case RvqAttrId::DynamicName:
      rc = readDynamic(method, attrs, count, &i, &dynamics);
      break;
    case RvqAttrId::GraphsOnly:
      rc = expectType(method, a, RVQ_FLAG);
      graphsOnly = a.second.i32;
      break;
    case RvqAttrId::DataRef:
      if (a.type == RVQ_TEXT) {
        slot = static_cast<RvqText**>(a.value.ptr);
      } else {
        RvqText* ignored;
        rc = readTextHandle(method, a, &ignored);
      }
      break;
    default:
      rc = readTextAttr(method, a, texts);
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (table == nullptr)
    return missingAttr(method, RvqAttrId::Table, "data object");
  if (table->bound)
    return outputFail(OUT_BAD_SEQUENCE, method, "table " + table->node->name + " is bound twice");
  OutputNode* node = table->node;
  if (templGiven)
    node->templ = std::move(templ);
  // A graph's data table is hidden by its template unless the bind's switch 2640 says
  // to show it (the procedure's SHOWINTERNALTABLES$ turns the switch off).
  node->hidden = isPhantomTemplate(node->templ) && graphsOnly != 0;
  node->graphsOnly = graphsOnly > 0;
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
  ObjectRecord& bound = makeObject(outputState(), ObjKind::Bound);
  bound.table = table;
  attrs[0].value.ptr = &bound.object;
  if (slot != nullptr)
    *slot = makeText(node->name, node);
  return 0;
}

int32_t publishTable(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  if (count < 1 || attrs[0].id != RvqAttrId::Receiver)
    return missingAttr(method, RvqAttrId::Receiver, "bound handle");
  if (int32_t rc = expectType(method, attrs[0], RVQ_HANDLE))
    return rc;
  ObjectRecord* bound = liveObject(attrs[0].value.ptr, ObjKind::Bound);
  if (bound == nullptr)
    return badHandle(method, RvqAttrId::Receiver, "bound output");
  std::string footnote;
  for (int32_t i = 1; i < count; ++i) {
    if (attrs[i].id == RvqAttrId::Footnote) {
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
    case RvqAttrId::LineCount:
    case RvqAttrId::RuleSpan:
      rc = expectType(method, a, RVQ_INT);
      break;
    case RvqAttrId::Align:
      if ((rc = expectType(method, a, RVQ_CHAR)) == 0)
        align = a.value.ch;
      break;
    case RvqAttrId::Text:
      rc = readText(method, a, &text);
      haveText = true;
      break;
    case RvqAttrId::Rule:
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
    return missingAttr(method, RvqAttrId::Text, "text");
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
  const TextAttr texts[] = {
      {RvqAttrId::Name, &name}, {RvqAttrId::Stem, &stem}, {RvqAttrId::Label, &label}};
  RvqAttr* out = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case RvqAttrId::Handle:
      rc = expectType(method, a, RVQ_HANDLE);
      out = &a;
      break;
    case RvqAttrId::Numbered:
    case RvqAttrId::GroupKind:
      rc = expectType(method, a, RVQ_FLAG);
      break;
    case RvqAttrId::GroupNumber:
      if ((rc = expectType(method, a, RVQ_DOUBLE)) == 0) {
        number = a.value.f64;
        haveNumber = std::isfinite(number);
      }
      break;
    default:
      rc = readTextAttr(method, a, texts);
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (out == nullptr)
    return missingAttr(method, RvqAttrId::Handle, "returned group handle");
  if (name.empty() && !stem.empty() && haveNumber)
    name = stem + std::to_string(static_cast<long long>(number));
  if (name.empty())
    return missingAttr(method, RvqAttrId::Name, "group name");
  OutputNode* node = addNode(NodeKind::Group);
  node->name = std::move(name);
  node->label = std::move(label);
  ObjectRecord& record = makeObject(outputState(), ObjKind::Group);
  record.node = node;
  outputState().openGroups.push_back(&record);
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
    if ((a.id == RvqAttrId::NoteLevel || a.id == RvqAttrId::LevelMark ||
         a.id == RvqAttrId::Placement) &&
        a.type == RVQ_INT) {
      if (a.id == RvqAttrId::NoteLevel)
        level = a.value.i32;
      if (a.id == RvqAttrId::LevelMark)
        haveMark = true;
    } else if (a.id == RvqAttrId::Text && a.type == RVQ_TEXTHANDLE) {
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
    return missingAttr(method, RvqAttrId::LevelMark, "level or note text");
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
    case RvqAttrId::DataRef:
      rc = readTextHandle(method, a, &data);
      break;
    case RvqAttrId::Where:
      rc = readText(method, a, &where);
      break;
    case RvqAttrId::ViewHandle:
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
    return missingAttr(method, RvqAttrId::DataRef, "data reference");
  if (out == nullptr)
    return missingAttr(method, RvqAttrId::ViewHandle, "returned view handle");
  ObjectRecord& view = makeObject(outputState(), ObjKind::View);
  view.node = data->data;
  view.where = std::move(where);
  out->value.ptr = &view.object;
  return 0;
}

int32_t releaseView(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    if (a.id != RvqAttrId::ViewHandle)
      continue;
    if (int32_t rc = expectType(method, a, RVQ_BOUND))
      return rc;
    ObjectRecord* view = liveObject(a.value.ptr, ObjKind::View);
    if (view == nullptr)
      return badHandle(method, RvqAttrId::ViewHandle, "view");
    outputState().live.erase(&view->object);
    return 0;
  }
  return missingAttr(method, RvqAttrId::ViewHandle, "view handle");
}

int32_t makeGraph(HostObject*, int32_t method, int32_t count, RvqAttr* attrs) {
  std::string name, label, description, templ, where;
  std::vector<std::string> data;
  std::vector<const OutputNode*> sources;
  Dynamics dynamics;
  const TextAttr texts[] = {{RvqAttrId::Name, &name},
                            {RvqAttrId::Label, &label},
                            {RvqAttrId::Description, &description},
                            {RvqAttrId::Template, &templ}};
  for (int32_t i = 0; i < count; ++i) {
    RvqAttr& a = attrs[i];
    int32_t rc = 0;
    switch (a.id) {
    case RvqAttrId::DataRefs: {
      if ((rc = expectType(method, a, RVQ_DATAREFS)) != 0)
        break;
      uint16_t n = a.value.counted.length;
      auto* refs = static_cast<RvqText**>(a.second.ptr);
      if (n > 0 && refs == nullptr)
        return outputFail(OUT_BAD_VALUE, method, "a data list without references");
      for (uint16_t k = 0; k < n; ++k) {
        if (refs[k] == nullptr || !isLiveText(refs[k]) || refs[k]->data == nullptr)
          return badHandle(method, RvqAttrId::DataRefs, "data reference");
        data.push_back(refs[k]->data->name);
        sources.push_back(refs[k]->data);
      }
      break;
    }
    case RvqAttrId::View: {
      if ((rc = expectType(method, a, RVQ_BOUND)) != 0)
        break;
      ObjectRecord* view = liveObject(a.value.ptr, ObjKind::View);
      if (view == nullptr)
        return badHandle(method, RvqAttrId::View, "view");
      data.push_back(view->node->name);
      sources.push_back(view->node);
      where = view->where;
      break;
    }
    case RvqAttrId::DynamicName:
      rc = readDynamic(method, attrs, count, &i, &dynamics);
      break;
    case RvqAttrId::AttrList: {
      if ((rc = expectType(method, a, RVQ_LIST)) != 0)
        break;
      int32_t n = a.value.counted.length;
      auto* list = static_cast<RvqAttr*>(a.second.ptr);
      if (n > 0 && list == nullptr)
        return outputFail(OUT_BAD_VALUE, method, "an attribute list without records");
      for (int32_t k = 0; k < n && rc == 0; ++k) {
        if (list[k].id == RvqAttrId::DynamicName)
          rc = readDynamic(method, list, n, &k, &dynamics);
      }
      break;
    }
    default:
      rc = readTextAttr(method, a, texts);
      break;
    }
    if (rc != 0)
      return rc;
  }
  if (name.empty())
    return missingAttr(method, RvqAttrId::Name, "graph name");
  OutputNode* node = addNode(NodeKind::Graph);
  node->name = std::move(name);
  node->label = std::move(label);
  node->description = std::move(description);
  node->templ = std::move(templ);
  node->data = std::move(data);
  node->sources = std::move(sources);
  node->dynamics = std::move(dynamics);
  node->viewWhere = std::move(where);
  return 0;
}

} // namespace qrxhost
