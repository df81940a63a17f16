// The checked manager calls and the table, factoid, group and note sequences that every
// printer follows. What a printer shows is its own file's business.
#include "output/vsfprint.h"

#include "output/vsfcontext.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/wobmth.h"

#include <algorithm>
#include <cstring>
#include <limits>

double vsfPlusInfinity() { return std::numeric_limits<double>::infinity(); }
double vsfMinusInfinity() { return -std::numeric_limits<double>::infinity(); }
double vsfUnavailable() { return hostMissing(); }

RvqText* vsfText(const char* text, int32_t length) { return rvqtxt(text, length); }

int32_t vsfMsgLength(VsfMsg m) {
  const char* text = nullptr;
  int32_t length = 0;
  if (wkread(msgSet(m), static_cast<int32_t>(m), &text, &length) != 0 || text == nullptr ||
      length < 0)
    return 0;
  return length;
}

void vsfFill(char* field, int32_t width, const char* text, int32_t length) {
  if (width <= 0)
    return;
  std::memset(field, ' ', static_cast<size_t>(width));
  if (text != nullptr && length > 0)
    std::memcpy(field, text, static_cast<size_t>(std::min(width, length)));
}

void vsfMsgCopy(VsfMsg m, char* field, int32_t width) {
  const char* text = nullptr;
  int32_t length = 0;
  if (wkread(msgSet(m), static_cast<int32_t>(m), &text, &length) != 0)
    length = 0;
  vsfFill(field, width, text, length);
}

void vsfCallArray(RvqObject* object, int32_t method, RvqAttr* attrs, int32_t n) {
  if (object == nullptr)
    return;
  const int32_t rc = wobmth(object, nullptr, method, n, attrs);
  if (rc < 0)
    zrvqexit(rc);
}

namespace {
constexpr int32_t kMaxAttrs = 32;

[[nodiscard]] int32_t copyAttrs(std::initializer_list<RvqAttr> list, RvqAttr* out, int32_t at = 0) {
  for (const RvqAttr& a : list)
    if (at < kMaxAttrs)
      out[at++] = a;
  return at;
}
} // namespace

void vsfCall(RvqObject* object, int32_t method, std::initializer_list<RvqAttr> attrs) {
  RvqAttr a[kMaxAttrs];
  int32_t n = copyAttrs(attrs, a);
  vsfCallArray(object, method, a, n);
}

void* vsfCallHandle(RvqObject* object, int32_t method, std::initializer_list<RvqAttr> attrs,
                    int32_t slot) {
  RvqAttr a[kMaxAttrs];
  int32_t n = copyAttrs(attrs, a);
  if (object == nullptr || slot >= n)
    return nullptr;
  a[slot].value.ptr = nullptr;
  vsfCallArray(object, method, a, n);
  return a[slot].value.ptr;
}

RvqAttr vsfaName(const char* name) { return rvqTextHandle(RvqAttrId::Name, vsfText(name)); }
RvqAttr vsfaLabel(RvqText* label) { return rvqTextHandle(RvqAttrId::Label, label); }
RvqAttr vsfaTemplate(const char* path) { return rvqTextHandle(RvqAttrId::Template, vsfText(path)); }
RvqAttr vsfaDyn(const char* name) { return rvqTextHandle(RvqAttrId::DynamicName, vsfText(name)); }
RvqAttr vsfaBound(void* address) { return rvqBound(RvqAttrId::Bound, address); }
RvqAttr vsfaDataRef(RvqText** slot) {
  RvqAttr a = rvqBound(RvqAttrId::DataRef, slot);
  a.type = 67;
  return a;
}

VsfOut::VsfOut(VsfContext* context)
    : ctx(context), start(zdattim()), outermost(context->printDepth == 0) {
  ctx->printStart = start;
  ++ctx->printDepth;
}

VsfOut::~VsfOut() {
  if (!finished)
    --ctx->printDepth;
}

bool VsfOut::create(const char* name, RvqText* label, std::initializer_list<RvqAttr> extra) {
  RvqAttr a[kMaxAttrs];
  int32_t n = 0;
  a[n++] = rvqString(RvqAttrId::ObjectClass, "rvq", 3);
  a[n++] = rvqString(RvqAttrId::ObjectKind, "data", 4);
  a[n++] = rvqHandle(RvqAttrId::Handle, nullptr);
  a[n++] = rvqInt(RvqAttrId::Placement, -1);
  a[n++] = vsfaName(name);
  if (label != nullptr)
    a[n++] = vsfaLabel(label);
  n = copyAttrs(extra, a, n);
  vsfCallArray(ctx->outputManager, RvqMethod::Create, a, n);
  table = static_cast<RvqObject*>(a[2].value.ptr);
  return table != nullptr;
}

bool VsfOut::createFactoid(const char* name, const char* templ, RvqText* label, RvqText* title) {
  RvqAttr a[kMaxAttrs];
  int32_t n = 0;
  a[n++] = rvqString(RvqAttrId::ObjectClass, "rvq", 3);
  a[n++] = rvqString(RvqAttrId::ObjectKind, "factoid", 7);
  a[n++] = rvqHandle(RvqAttrId::Handle, nullptr);
  a[n++] = vsfaTemplate(templ);
  a[n++] = rvqInt(RvqAttrId::Placement, -1);
  a[n++] = vsfaName(name);
  if (title != nullptr)
    a[n++] = rvqTextHandle(RvqAttrId::Title, title);
  a[n++] = vsfaLabel(label);
  vsfCallArray(ctx->outputManager, RvqMethod::Create, a, n);
  table = static_cast<RvqObject*>(a[2].value.ptr);
  return table != nullptr;
}

void VsfOut::column(std::initializer_list<RvqAttr> attrs) {
  vsfCall(table, RvqMethod::DefineColumn, attrs);
}

void VsfOut::numberColumn(const char* name, double* value) {
  column({rvqColumnType(RvqColumnType::Double), vsfaName(name), vsfaBound(value)});
}

void VsfOut::intColumn(const char* name, int32_t* value, bool formatZero) {
  if (formatZero)
    column({rvqColumnType(RvqColumnType::Int), vsfaName(name), rvqInt(RvqAttrId::FormatCode, 0),
            vsfaBound(value)});
  else
    column({rvqColumnType(RvqColumnType::Int), vsfaName(name), vsfaBound(value)});
}

void VsfOut::charColumn(const char* name, char* buffer, int32_t width) {
  column({rvqColumnType(RvqColumnType::Chars), vsfaName(name), rvqInt(RvqAttrId::Width, width),
          vsfaBound(buffer)});
}

void VsfOut::endColumns() { vsfCall(table, RvqMethod::EndColumns, {}); }

void VsfOut::bind(const char* templ, std::initializer_list<RvqAttr> extra, bool dataUnder504) {
  if (table == nullptr)
    return;
  RvqAttr a[kMaxAttrs];
  int32_t n = 0;
  a[n++] = rvqHandle(RvqAttrId::Receiver, nullptr);
  a[n++] = rvqHandle(dataUnder504 ? 504 : 0, table);
  a[n++] = vsfaTemplate(templ);
  n = copyAttrs(extra, a, n);
  vsfCallArray(ctx->outputManager, RvqMethod::BindTable, a, n);
  bound = static_cast<RvqObject*>(a[0].value.ptr);
}

void VsfOut::bind(const char* templ, const RvqAttr* extra, int32_t count) {
  if (table == nullptr)
    return;
  RvqAttr a[kMaxAttrs];
  int32_t n = 0;
  a[n++] = rvqHandle(RvqAttrId::Receiver, nullptr);
  a[n++] = rvqHandle(RvqAttrId::Table, table);
  a[n++] = vsfaTemplate(templ);
  for (int32_t i = 0; i < count && n < kMaxAttrs; ++i)
    a[n++] = extra[i];
  vsfCallArray(ctx->outputManager, RvqMethod::BindTable, a, n);
  bound = static_cast<RvqObject*>(a[0].value.ptr);
}

void VsfOut::emit() { vsfCall(table, RvqMethod::EmitRow, {}); }
void VsfOut::endRows() { vsfCall(table, RvqMethod::EndRows, {}); }

void VsfOut::publish(RvqText* footnote) {
  if (bound == nullptr)
    return;
  if (footnote != nullptr)
    vsfCall(ctx->outputManager, RvqMethod::Publish,
            {rvqHandle(RvqAttrId::Receiver, bound), rvqTextHandle(RvqAttrId::Footnote, footnote)});
  else
    vsfCall(ctx->outputManager, RvqMethod::Publish, {rvqHandle(RvqAttrId::Receiver, bound)});
}

void VsfOut::entry(VsfMsg label, RvqAttr value, std::initializer_list<RvqAttr> extra) {
  if (table == nullptr)
    return;
  RvqAttr a[kMaxAttrs];
  int32_t n = 0;
  a[n++] = vsfaLabel(msgText(label));
  value.id = RvqAttrId::Value;
  a[n++] = value;
  n = copyAttrs(extra, a, n);
  vsfCallArray(table, RvqMethod::Entry, a, n);
}

void VsfOut::release() {
  if (table != nullptr) {
    vsfCloseObject(table);
    table = nullptr;
  }
}

void VsfOut::finish() {
  if (finished)
    return;
  finished = true;
  --ctx->printDepth;
  ctx->printStart = zdattim() - start;
  if (outermost)
    ctx->printTime += ctx->printStart;
}

RvqObject* vsfOpenGroup(VsfContext* ctx, const char* name, std::initializer_list<RvqAttr> extra) {
  RvqAttr a[kMaxAttrs];
  int32_t n = 0;
  a[n++] = rvqHandle(RvqAttrId::Handle, nullptr);
  a[n++] = vsfaName(name);
  n = copyAttrs(extra, a, n);
  vsfCallArray(ctx->outputManager, RvqMethod::OpenGroup, a, n);
  return static_cast<RvqObject*>(a[0].value.ptr);
}

void vsfCloseObject(RvqObject* object) {
  if (object == nullptr)
    return;
  int32_t rc = wobclose(object);
  if (rc < 0)
    zrvqexit(rc);
}

// A level note heads the tables that follow it; under NOPRINT no table follows, so no note
// is given either and the listing stays empty.
void vsfLevelNote(VsfContext* ctx, int32_t level, RvqText* text, bool flag358) {
  if (ctx->noprint)
    return;
  if (flag358)
    vsfCall(ctx->outputManager, RvqMethod::LevelNote,
            {rvqInt(RvqAttrId::NoteLevel, level), rvqFlag(RvqAttrId::NoteSwitch, 1),
             rvqInt(RvqAttrId::Placement, -1), rvqTextHandle(RvqAttrId::Text, text)});
  else
    vsfCall(ctx->outputManager, RvqMethod::LevelNote,
            {rvqInt(RvqAttrId::NoteLevel, level), rvqInt(RvqAttrId::Placement, -1),
             rvqTextHandle(RvqAttrId::Text, text)});
}

void vsfLevelMark(VsfContext* ctx, int32_t level) {
  vsfCall(ctx->outputManager, RvqMethod::LevelNote, {rvqInt(RvqAttrId::LevelMark, level)});
}

void vsfTextLine(VsfContext* ctx, char option, RvqText* text) {
  vsfCall(ctx->outputManager, RvqMethod::TextLine,
          {rvqInt(RvqAttrId::LineCount, 1), rvqChar(RvqAttrId::Align, option),
           rvqTextHandle(RvqAttrId::Text, text)});
}
