// Output-object sequences shared by the constructed-effect detail tables. Every call goes
// through wobmth; a negative status goes to zrvqexit, which ends the run unless the host
// reports its one ignorable status.
#include "effects/effout.h"

#include "support/hoststubs.h"
#include "support/wobmth.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace effout {

namespace {

RvqAttr attr(uint16_t id, uint16_t type) {
  RvqAttr a;
  std::memset(&a, 0, sizeof a);
  a.id = id;
  a.type = type;
  return a;
}

void check(int32_t status) {
  if (status < 0)
    zrvqexit(status);
}
} // namespace

RvqText* text(const char* t, int32_t length) {
  return rvqtxt(t, length < 0 ? static_cast<int32_t>(std::strlen(t)) : length);
}

RvqText* textf(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0)
    n = 0;
  if (n >= static_cast<int>(sizeof buffer))
    n = static_cast<int>(sizeof buffer) - 1;
  return rvqtxts(buffer, n);
}

void call(RvqObject* object, int32_t method, std::initializer_list<RvqAttr> attrs) {
  std::vector<RvqAttr> list(attrs);
  call(object, method, list);
}

void call(RvqObject* object, int32_t method, std::vector<RvqAttr>& attrs) {
  check(wobmth(object, nullptr, method, static_cast<int32_t>(attrs.size()),
               attrs.empty() ? nullptr : attrs.data()));
}

RvqAttr descriptor(HostVariable* var) {
  RvqAttr a = attr(RvqAttrId::VarDescriptor, RVQ_VALUE7);
  a.value.ptr = var;
  return a;
}

RvqObject* createData(RvqObject* parent, const char* name, RvqText* description, RvqText* label) {
  RvqAttr a[] = {rvqString(RvqAttrId::ObjectClass, "rvq", 3),
                 rvqString(RvqAttrId::ObjectKind, "data", 4),
                 rvqHandle(RvqAttrId::Handle, nullptr),
                 rvqInt(RvqAttrId::Placement, -1),
                 rvqTextHandle(RvqAttrId::Name, text(name)),
                 rvqTextHandle(RvqAttrId::Description, description),
                 rvqTextHandle(RvqAttrId::Label, label)};
  check(wobmth(parent, nullptr, RvqMethod::Create, 7, a));
  return static_cast<RvqObject*>(a[2].value.ptr);
}

void column(RvqObject* data, RvqColumnType type, const char* name, void* bound, int32_t width) {
  if (type == RvqColumnType::Chars)
    call(data, RvqMethod::DefineColumn,
         {rvqColumnType(type), rvqTextHandle(RvqAttrId::Name, text(name)),
          rvqInt(RvqAttrId::Width, width), rvqBound(RvqAttrId::Bound, bound)});
  else
    call(data, RvqMethod::DefineColumn,
         {rvqColumnType(type), rvqTextHandle(RvqAttrId::Name, text(name)),
          rvqBound(RvqAttrId::Bound, bound)});
}

void variableColumn(RvqObject* data, RvqColumnType type, const char* name, HostVariable* var,
                    const char* templateColumn, void* bound) {
  // The type and the name go beside the descriptor (a variable's column is named after it).
  RvqText* columnName = name != nullptr  ? text(name)
                        : var != nullptr ? text(var->name, var->nameLength)
                                         : text("");
  std::vector<RvqAttr> a = {rvqColumnType(type), rvqTextHandle(RvqAttrId::Name, columnName),
                            descriptor(var)};
  if (templateColumn != nullptr)
    a.push_back(rvqTextHandle(RvqAttrId::Template, text(templateColumn)));
  if (type == RvqColumnType::Chars)
    a.push_back(rvqInt(RvqAttrId::Width, var != nullptr ? var->length : 1));
  a.push_back(rvqBound(RvqAttrId::Bound, bound));
  call(data, RvqMethod::DefineColumn, a);
}

void dynamic(RvqObject* data, const char* name, int32_t value) {
  call(data, RvqMethod::SetDynamic,
       {rvqTextHandle(RvqAttrId::DynamicName, text(name)), rvqInt(RvqAttrId::Value, value)});
}

void endColumns(RvqObject* data) { call(data, RvqMethod::EndColumns, {}); }

RvqObject* bind(RvqObject* parent, RvqObject* data, RvqText* label, const char* templ,
                const char* extraName, RvqText* extraValue) {
  std::string full = std::string("Stat.VARSIFTER.") + templ;
  std::vector<RvqAttr> a = {rvqHandle(RvqAttrId::Receiver, nullptr),
                            rvqHandle(RvqAttrId::Receiver, data),
                            rvqTextHandle(RvqAttrId::DynamicName, text("Header", 6)),
                            rvqTextHandle(RvqAttrId::Value, label)};
  if (extraName != nullptr) {
    a.push_back(rvqTextHandle(RvqAttrId::DynamicName, text(extraName)));
    a.push_back(rvqTextHandle(RvqAttrId::Value, extraValue));
  }
  a.push_back(rvqTextHandle(RvqAttrId::Template, text(full.c_str())));
  check(wobmth(parent, nullptr, RvqMethod::BindTable, static_cast<int32_t>(a.size()), a.data()));
  return static_cast<RvqObject*>(a[0].value.ptr);
}

void row(RvqObject* data) { call(data, RvqMethod::EmitRow, {}); }

void finish(RvqObject* parent, RvqObject* data, RvqObject* table) {
  call(data, RvqMethod::EndRows, {});
  call(parent, RvqMethod::Publish, {rvqHandle(RvqAttrId::Receiver, table)});
}

RvqObject* openGroup(RvqObject* parent, RvqText* name, int32_t flag, uint16_t textId,
                     RvqText* label) {
  RvqAttr a[] = {rvqHandle(RvqAttrId::Handle, nullptr), rvqTextHandle(RvqAttrId::Name, name),
                 rvqFlag(RvqAttrId::Numbered, flag), rvqTextHandle(textId, label)};
  check(wobmth(parent, nullptr, RvqMethod::OpenGroup, 4, a));
  return static_cast<RvqObject*>(a[0].value.ptr);
}

void endObject(RvqObject* object) {
  if (object != nullptr)
    check(wobclose(object));
}

RvqObject* createFactoid(RvqObject* parent, const char* templ, const char* name, RvqText* title,
                         RvqText* description) {
  std::string full = std::string("Stat.VARSIFTER.") + templ;
  RvqAttr a[] = {rvqString(RvqAttrId::ObjectClass, "rvq", 3),
                 rvqString(RvqAttrId::ObjectKind, "factoid", 7),
                 rvqHandle(RvqAttrId::Handle, nullptr),
                 rvqTextHandle(RvqAttrId::Template, text(full.c_str())),
                 rvqInt(RvqAttrId::Placement, -1),
                 rvqTextHandle(RvqAttrId::Name, text(name)),
                 rvqTextHandle(RvqAttrId::Title, title),
                 rvqTextHandle(RvqAttrId::Label, title),
                 rvqTextHandle(RvqAttrId::Description, description)};
  check(wobmth(parent, nullptr, RvqMethod::Create, 9, a));
  return static_cast<RvqObject*>(a[2].value.ptr);
}

void entry(RvqObject* factoid, RvqText* label, int32_t value) {
  call(factoid, RvqMethod::Entry,
       {rvqTextHandle(RvqAttrId::Label, label), rvqInt(RvqAttrId::Value, value)});
}

void entry(RvqObject* factoid, RvqText* label, RvqText* value) {
  call(factoid, RvqMethod::Entry,
       {rvqTextHandle(RvqAttrId::Label, label), rvqTextHandle(RvqAttrId::Value, value)});
}

void endFactoid(RvqObject* factoid) {
  call(factoid, RvqMethod::EndRows, {});
  endObject(factoid);
}

} // namespace effout
