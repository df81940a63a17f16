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
constexpr int32_t kSet = 848;

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

RvqText* msg(int32_t number) { return rvqmsg(kSet, number); }

RvqText* msgs(int32_t number, std::initializer_list<HostMsgArg> args) {
  return rvqmsgs(kSet, number, args);
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
  RvqAttr a = attr(2224, RVQ_VALUE7);
  a.value.ptr = var;
  return a;
}

RvqObject* createData(RvqObject* parent, const char* name, RvqText* description, RvqText* label) {
  RvqAttr a[] = {rvqString(143, "rvq", 3),       rvqString(146, "data", 4),
                 rvqHandle(144, nullptr),        rvqInt(148, -1),
                 rvqTextHandle(138, text(name)), rvqTextHandle(310, description),
                 rvqTextHandle(296, label)};
  check(wobmth(parent, nullptr, 147, 7, a));
  return static_cast<RvqObject*>(a[2].value.ptr);
}

void column(RvqObject* data, int32_t type, const char* name, void* bound, int32_t width) {
  if (type == 6)
    call(data, 338,
         {rvqInt(103, type), rvqTextHandle(138, text(name)), rvqInt(289, width),
          rvqBound(285, bound)});
  else
    call(data, 338, {rvqInt(103, type), rvqTextHandle(138, text(name)), rvqBound(285, bound)});
}

void variableColumn(RvqObject* data, int32_t type, const char* name, HostVariable* var,
                    const char* templateColumn, void* bound) {
  // The type and the name go beside the descriptor (a variable's column is named after it).
  RvqText* columnName = name != nullptr  ? text(name)
                        : var != nullptr ? text(var->name, var->nameLength)
                                         : text("");
  std::vector<RvqAttr> a = {rvqInt(103, type), rvqTextHandle(138, columnName), descriptor(var)};
  if (templateColumn != nullptr)
    a.push_back(rvqTextHandle(339, text(templateColumn)));
  if (type == 6)
    a.push_back(rvqInt(289, var != nullptr ? var->length : 1));
  a.push_back(rvqBound(285, bound));
  call(data, 338, a);
}

void dynamic(RvqObject* data, const char* name, int32_t value) {
  call(data, 316, {rvqTextHandle(311, text(name)), rvqInt(287, value)});
}

void endColumns(RvqObject* data) { call(data, 298, {}); }

RvqObject* bind(RvqObject* parent, RvqObject* data, RvqText* label, const char* templ,
                const char* extraName, RvqText* extraValue) {
  std::string full = std::string("Stat.VARSIFTER.") + templ;
  std::vector<RvqAttr> a = {rvqHandle(0, nullptr), rvqHandle(0, data),
                            rvqTextHandle(311, text("Header", 6)), rvqTextHandle(287, label)};
  if (extraName != nullptr) {
    a.push_back(rvqTextHandle(311, text(extraName)));
    a.push_back(rvqTextHandle(287, extraValue));
  }
  a.push_back(rvqTextHandle(339, text(full.c_str())));
  check(wobmth(parent, nullptr, 422, static_cast<int32_t>(a.size()), a.data()));
  return static_cast<RvqObject*>(a[0].value.ptr);
}

void row(RvqObject* data) { call(data, 329, {}); }

void finish(RvqObject* parent, RvqObject* data, RvqObject* table) {
  call(data, 299, {});
  call(parent, 428, {rvqHandle(0, table)});
}

RvqObject* openGroup(RvqObject* parent, RvqText* name, int32_t flag, uint16_t textId,
                     RvqText* label) {
  RvqAttr a[] = {rvqHandle(144, nullptr), rvqTextHandle(138, name), rvqFlag(286, flag),
                 rvqTextHandle(textId, label)};
  check(wobmth(parent, nullptr, 300, 4, a));
  return static_cast<RvqObject*>(a[0].value.ptr);
}

void endObject(RvqObject* object) {
  if (object != nullptr)
    check(wobclose(object));
}

RvqObject* createFactoid(RvqObject* parent, const char* templ, const char* name, RvqText* title,
                         RvqText* description) {
  std::string full = std::string("Stat.VARSIFTER.") + templ;
  RvqAttr a[] = {rvqString(143, "rvq", 3),
                 rvqString(146, "factoid", 7),
                 rvqHandle(144, nullptr),
                 rvqTextHandle(339, text(full.c_str())),
                 rvqInt(148, -1),
                 rvqTextHandle(138, text(name)),
                 rvqTextHandle(267, title),
                 rvqTextHandle(296, title),
                 rvqTextHandle(310, description)};
  check(wobmth(parent, nullptr, 147, 9, a));
  return static_cast<RvqObject*>(a[2].value.ptr);
}

void entry(RvqObject* factoid, RvqText* label, int32_t value) {
  call(factoid, 164, {rvqTextHandle(296, label), rvqInt(287, value)});
}

void entry(RvqObject* factoid, RvqText* label, RvqText* value) {
  call(factoid, 164, {rvqTextHandle(296, label), rvqTextHandle(287, value)});
}

void endFactoid(RvqObject* factoid) {
  call(factoid, 299, {});
  endObject(factoid);
}

} // namespace effout
