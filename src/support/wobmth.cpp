// Output-object method dispatch along the class chain, and the output-failure exit.
#include "support/wobmth.h"

#include "support/hoststubs.h"
#include "support/stepcodes.h"

#include <cstring>

int32_t wobmth(RvqObject* object, RvqClass* cls, int32_t method, int32_t count, RvqAttr* attrs) {
  for (RvqClass* c = cls ? cls : object->cls; c != nullptr; c = c->parent) {
    if (c->buckets == nullptr)
      continue;
    for (RvqMethodEntry* e = c->buckets[static_cast<uint32_t>(method) & c->hashMask]; e != nullptr;
         e = e->next) {
      if (e->method == method)
        return e->descriptor->function(object, e->context, e->descriptor->number, count, attrs);
    }
  }
  return kRvqNoMethod;
}

int32_t wobquery(RvqObject* object, int32_t count, RvqAttr* attrs) {
  RvqClass* c = object->cls;
  if (c->queryDescriptor == nullptr)
    return kRvqNoMethod;
  return c->queryDescriptor->function(object, c->queryContext, RvqMethod::Query, count, attrs);
}

int32_t wobclose(RvqObject* object) {
  RvqClass* c = object->cls;
  if (c->closeDescriptor == nullptr)
    return kRvqNoMethod;
  return c->closeDescriptor->function(object, c->closeContext, RvqMethod::Close, 0, nullptr);
}

bool rvqIsLogOnly(int32_t code) {
  uint32_t u = static_cast<uint32_t>(code);
  return ((u >> 11) & 0x7FF) == 63 && (u & 0x7FF) == 53;
}

void zrvqexit(int32_t code) {
  xprrlog(0, code);
  if (rvqIsLogOnly(code))
    return;
  xexit(StepRc::OutputFailed, 0);
}

static RvqAttr blankAttr(uint16_t id, uint16_t type) {
  RvqAttr a;
  std::memset(&a, 0, sizeof a);
  a.id = id;
  a.type = type;
  return a;
}
RvqAttr rvqInt(uint16_t id, int32_t value) {
  RvqAttr a = blankAttr(id, RVQ_INT);
  a.value.i32 = value;
  return a;
}
RvqAttr rvqDouble(uint16_t id, double value) {
  RvqAttr a = blankAttr(id, RVQ_DOUBLE);
  a.value.f64 = value;
  return a;
}
RvqAttr rvqString(uint16_t id, const char* text, uint16_t length) {
  RvqAttr a = blankAttr(id, RVQ_STRING);
  a.value.counted.length = length;
  a.second.text = text;
  return a;
}
RvqAttr rvqHandle(uint16_t id, void* handle) {
  RvqAttr a = blankAttr(id, RVQ_HANDLE);
  a.value.ptr = handle;
  return a;
}
RvqAttr rvqFlag(uint16_t id, int32_t value) {
  RvqAttr a = blankAttr(id, RVQ_FLAG);
  a.second.i32 = value;
  return a;
}
RvqAttr rvqTextHandle(uint16_t id, RvqText* text) {
  RvqAttr a = blankAttr(id, RVQ_TEXTHANDLE);
  a.value.ptr = text;
  return a;
}
RvqAttr rvqBound(uint16_t id, void* address) {
  RvqAttr a = blankAttr(id, RVQ_BOUND);
  a.value.ptr = address;
  return a;
}
RvqAttr rvqChar(uint16_t id, char c) {
  RvqAttr a = blankAttr(id, RVQ_CHAR);
  a.value.ch = c;
  return a;
}

RvqAttr rvqColumnType(RvqColumnType type) {
  return rvqInt(RvqAttrId::ColumnType, static_cast<int32_t>(type));
}
