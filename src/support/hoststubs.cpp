// The host service stubs. Every call from the module to the host passes through here, so
// the module never holds a host entry point of its own.
#include "support/hoststubs.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

HostControlBlock* v_global_gcb_anchor = nullptr;
void* v_global_pidb_anchor = nullptr;
QkHandle* Exported_QKHandle = nullptr;

HostMsgArg::HostMsgArg(const char* v)
    : kind(Str), s(v), len(v ? static_cast<int32_t>(std::strlen(v)) : 0) {}

double hostMissing() {
  double d;
  std::memcpy(&d, &kHostMissingBits, sizeof d);
  return d;
}

HostServiceGroups* hostGroups(HostGroup group) {
  HostControlBlock* cb = v_global_gcb_anchor;
  if (cb->groupBytes)
    cb->groupBytes[group] = 0;
  return cb->groups;
}

HostTaskBlock* hostCurrentTask() {
  HostControlBlock* cb = v_global_gcb_anchor;
  return cb->currentTask ? cb->currentTask : cb->task;
}

void xexit(int32_t code, int32_t flag) {
  hostGroups(HG_SUPERVISOR)->supervisor->xexit(code, flag);
  std::abort(); // the host's exit never returns
}
QkPool* xmpoolc(void* parent, int64_t blockSize, uint32_t flags) {
  return hostGroups(HG_SUPERVISOR)->supervisor->xmpoolc(parent, blockSize, flags);
}
void xmpoold(QkPool* pool) { hostGroups(HG_SUPERVISOR)->supervisor->xmpoold(pool); }
void xytexit(void (*routine)()) { hostGroups(HG_SUPERVISOR)->supervisor->xytexit(routine); }
void xpmlogv(int32_t set, int32_t number, const HostMsgArg* args, int32_t count) {
  hostGroups(HG_SUPERVISOR)->supervisor->xpmlog(set, number, args, count);
}
void xpmlog(int32_t set, int32_t number, std::initializer_list<HostMsgArg> args) {
  xpmlogv(set, number, args.begin(), static_cast<int32_t>(args.size()));
}
void xprrlog(int32_t flag, int32_t code) {
  hostGroups(HG_SUPERVISOR)->supervisor->xprrlog(flag, code);
}
int32_t xpmstr(char* buffer, int32_t size, int32_t set, int32_t number,
               std::initializer_list<HostMsgArg> args) {
  return hostGroups(HG_SUPERVISOR)
      ->supervisor->xpmstr(buffer, size, set, number, args.begin(),
                           static_cast<int32_t>(args.size()));
}
int32_t xoption(const char* name, char* buffer, int32_t capacity) {
  return hostGroups(HG_SUPERVISOR)->supervisor->xoption(name, buffer, capacity);
}
int32_t xmpoolcln(QkPool* pool, void (*cleanup)(void*), void* object) {
  return hostGroups(HG_SUPERVISOR)->supervisor->xmpoolcln(pool, cleanup, object);
}
void xprogress(const char* text, int32_t length) {
  const HostServiceGroups* groups = hostGroups(HG_SUPERVISOR);
  if (groups->supervisor != nullptr && groups->supervisor->xprogress != nullptr)
    groups->supervisor->xprogress(text, length);
}

HostMacroTable* xalanch(void* taskWord) { return hostGroups(HG_MACRO)->macro->xalanch(taskWord); }
int32_t xjsympc(HostMacroTable* anchor, const char* name, int32_t nameLength, int32_t scope,
                int32_t flags, const char* value, int32_t valueLength) {
  return hostGroups(HG_MACRO)->macro->xjsympc(anchor, name, nameLength, scope, flags, value,
                                              valueLength);
}
int32_t xjsympn(HostMacroTable* anchor, const char* name, int32_t nameLength, int32_t scope,
                int32_t flags, double value) {
  return hostGroups(HG_MACRO)->macro->xjsympn(anchor, name, nameLength, scope, flags, value);
}
int32_t xjsymget(HostMacroTable* anchor, const char* name, int32_t nameLength, char* buffer,
                 int32_t capacity) {
  return hostGroups(HG_MACRO)->macro->xjsymget(anchor, name, nameLength, buffer, capacity);
}

double zdattim() { return hostGroups(HG_TIME)->time->zdattim(); }
double wzdttme() { return hostGroups(HG_TIME)->time->zdattim(); }
void xebug(const char* text) { hostGroups(HG_INTERNAL)->internalError->xebug(text); }

int32_t xbynext(HostByHandle* by) { return hostGroups(HG_DATASET)->dataSet->xbynext(by); }
void xvputt(HostDataSet* out) { hostGroups(HG_DATASET)->dataSet->xvputt(out); }
int32_t xvfind(HostDataSet* data, const char* name, int32_t length, int32_t* number,
               int32_t flags) {
  return hostGroups(HG_DATASET)->dataSet->xvfind(data, name, length, number, flags);
}
int32_t xvname(HostDataSet* data, int32_t number, HostVariable** out) {
  return hostGroups(HG_DATASET)->dataSet->xvname(data, number, out);
}
int32_t xffile(HostDataSet* data, int32_t purpose, const int32_t* numbers, int32_t n) {
  return hostGroups(HG_DATASET)->dataSet->xffile(data, purpose, numbers, n);
}
HostDataSet* xdsopen(const char* name, int32_t length) {
  return hostGroups(HG_DATASET)->dataSet->xdsopen(name, length);
}
int32_t xdsnvar(HostDataSet* data) { return hostGroups(HG_DATASET)->dataSet->xdsnvar(data); }
int64_t xdsnobs(HostDataSet* data) { return hostGroups(HG_DATASET)->dataSet->xdsnobs(data); }
HostByHandle* xdsby(HostDataSet* data) { return hostGroups(HG_DATASET)->dataSet->xdsby(data); }
int32_t xbyset(HostDataSet* data, const int32_t* numbers, const uint8_t* descending, int32_t count,
               int32_t notsorted) {
  return hostGroups(HG_DATASET)->dataSet->xbyset(data, numbers, descending, count, notsorted);
}
int32_t xbyrewind(HostByHandle* by) { return hostGroups(HG_DATASET)->dataSet->xbyrewind(by); }
int32_t xbyline(HostByHandle* by, char* buffer, int32_t capacity) {
  return hostGroups(HG_DATASET)->dataSet->xbyline(by, buffer, capacity);
}
int32_t xobsnext(HostDataSet* data) { return hostGroups(HG_DATASET)->dataSet->xobsnext(data); }
double xobsnum(HostDataSet* data, int32_t number) {
  return hostGroups(HG_DATASET)->dataSet->xobsnum(data, number);
}
int32_t xobschar(HostDataSet* data, int32_t number, const char** text) {
  return hostGroups(HG_DATASET)->dataSet->xobschar(data, number, text);
}
void xdsclose(HostDataSet* data) { hostGroups(HG_DATASET)->dataSet->xdsclose(data); }
HostDataSet* xdscreate(const char* name, int32_t length) {
  return hostGroups(HG_DATASET)->dataSet->xdscreate(name, length);
}
int32_t xdsdefvar(HostDataSet* out, const char* name, int32_t length, int32_t type,
                  int32_t varLength) {
  return hostGroups(HG_DATASET)->dataSet->xdsdefvar(out, name, length, type, varLength);
}
int32_t xdsputn(HostDataSet* out, int32_t number, double value) {
  return hostGroups(HG_DATASET)->dataSet->xdsputn(out, number, value);
}
int32_t xdsputc(HostDataSet* out, int32_t number, const char* text, int32_t length) {
  return hostGroups(HG_DATASET)->dataSet->xdsputc(out, number, text, length);
}
int32_t xdsappend(HostDataSet* out) { return hostGroups(HG_DATASET)->dataSet->xdsappend(out); }
int32_t xdsname(HostDataSet* data, char* buffer, int32_t capacity) {
  return hostGroups(HG_DATASET)->dataSet->xdsname(data, buffer, capacity);
}
int32_t xvgeti(HostDataSet* data, int32_t capacity, HostReadVector** out) {
  return hostGroups(HG_DATASET)->dataSet->xvgeti(data, capacity, out);
}
int32_t xvgetd(HostReadVector* vector, int32_t number, int32_t offset, int32_t flags,
               int32_t length, int32_t type) {
  return hostGroups(HG_DATASET)->dataSet->xvgetd(vector, number, offset, flags, length, type);
}
int32_t xvgete(HostReadVector* vector) { return hostGroups(HG_DATASET)->dataSet->xvgete(vector); }
int32_t xyvget(HostReadVector* vector, void* record) {
  return hostGroups(HG_DATASET)->dataSet->xyvget(vector, record);
}
bool hostHasBlockReads() {
  const HostDataSetServices* ds = hostGroups(HG_DATASET)->dataSet;
  return ds->xobsspan != nullptr && ds->xobsskip != nullptr && ds->xyvgetn != nullptr;
}
int32_t xobsspan(HostDataSet* data, int64_t* next, int64_t* count) {
  return hostGroups(HG_DATASET)->dataSet->xobsspan(data, next, count);
}
int64_t xobsskip(HostDataSet* data, int64_t n) {
  return hostGroups(HG_DATASET)->dataSet->xobsskip(data, n);
}
int32_t xyvgetn(HostReadVector* vector, int64_t first, int32_t count, void* records,
                int64_t stride) {
  return hostGroups(HG_DATASET)->dataSet->xyvgetn(vector, first, count, records, stride);
}
int32_t xobsdone(HostDataSet* data, int64_t next) {
  const HostDataSetServices* ds = hostGroups(HG_DATASET)->dataSet;
  return ds->xobsdone != nullptr ? ds->xobsdone(data, next) : 0;
}
int32_t xdsdefend(HostDataSet* out) {
  const HostDataSetServices* ds = hostGroups(HG_DATASET)->dataSet;
  return ds->xdsdefend != nullptr ? ds->xdsdefend(out) : 0;
}
int32_t xdsoutname(HostDataSet* out, int32_t number, const char* defined, int32_t definedLength,
                   char* buffer, int32_t capacity) {
  const HostDataSetServices* ds = hostGroups(HG_DATASET)->dataSet;
  if (ds->xdsoutname != nullptr)
    return ds->xdsoutname(out, number, buffer, capacity);
  const int32_t n = std::max(0, std::min(definedLength, capacity));
  if (n > 0)
    std::memcpy(buffer, defined, static_cast<size_t>(n));
  return n;
}
void xvgett(HostReadVector* vector) { hostGroups(HG_DATASET)->dataSet->xvgett(vector); }
void zname(int32_t mode, char* text, int32_t length) {
  hostGroups(HG_DATASET)->dataSet->zname(mode, text, length);
}
int32_t xopnt(HostDataSet* data, int64_t obs) {
  return hostGroups(HG_DATASET)->dataSet->xopnt(data, obs);
}
int32_t xoget(HostDataSet* data) { return hostGroups(HG_DATASET)->dataSet->xoget(data); }
int32_t xvget1v(HostDataSet* data, int32_t number, int32_t width, char* out) {
  return hostGroups(HG_DATASET)->dataSet->xvget1v(data, number, width, out);
}
int32_t xbylist(HostDataSet* data, HostDataSet* other) {
  return hostGroups(HG_DATASET)->dataSet->xbylist(data, other);
}
int32_t xbysync(HostByHandle* by, HostDataSet* other) {
  return hostGroups(HG_DATASET)->dataSet->xbysync(by, other);
}
int32_t xbyrwnd(HostDataSet* data, int32_t code) {
  return hostGroups(HG_DATASET)->dataSet->xbyrwnd(data, code);
}
int32_t xvallvr(HostDataSet* data) { return hostGroups(HG_DATASET)->dataSet->xvallvr(data); }
int32_t xvsele(HostDataSet* data) { return hostGroups(HG_DATASET)->dataSet->xvsele(data); }
int32_t xoinfo(HostDataSet* data, int32_t item, char* buffer, int32_t capacity) {
  return hostGroups(HG_DATASET)->dataSet->xoinfo(data, item, buffer, capacity);
}

void xobinit(RvqObject** out, int32_t flags) { hostGroups(HG_OBJECT)->object->xobinit(out, flags); }
RvqText* rvqmsg(int32_t set, int32_t number) {
  return hostGroups(HG_RVQTEXT)->rvqText->rvqmsg(set, number);
}
RvqText* rvqmsgs(int32_t set, int32_t number, std::initializer_list<HostMsgArg> args) {
  return hostGroups(HG_RVQTEXT)
      ->rvqText->rvqmsgs(set, number, args.begin(), static_cast<int32_t>(args.size()));
}
RvqText* rvqtxt(const char* text, int32_t length) {
  return hostGroups(HG_RVQTEXT)->rvqText->rvqtxt(text, length);
}
RvqText* rvqtxts(const char* text, int32_t length) {
  return hostGroups(HG_RVQTEXT)->rvqText->rvqtxts(text, length);
}
int32_t wkread(int32_t set, int32_t number, const char** text, int32_t* length) {
  return hostGroups(HG_CORE)->core->wkread(set, number, text, length);
}
int32_t vir2g(HostRoutine routine, HostRoutine* callable) {
  return hostGroups(HG_CORE)->core->vir2g(routine, callable);
}
QkExtension* qkLoadByName(QkHandle* qk, const char* name) {
  if (qk == nullptr || name == nullptr)
    return nullptr;
  QkChar wide[16];
  int32_t n = 0;
  for (; name[n] != '\0' && n < 15; ++n)
    wide[n] = static_cast<QkChar>(static_cast<unsigned char>(name[n]));
  wide[n] = 0;
  return qk->qkExtensionLoad(qk, wide, n, 0);
}

int32_t wmrlmem(int64_t* kilobytes) {
  HostCoreServices* core = hostGroups(HG_CORE)->core;
  // A host without a memory figure gives none: the caller reports it.
  return core->wmrlmem != nullptr ? core->wmrlmem(kilobytes) : -1;
}

void* ztrebld(void** root, void* node, int32_t length, int32_t offset) {
  return hostGroups(HG_TREE)->tree->ztrebld(root, node, length, offset);
}
void ztrelst(void** root) { hostGroups(HG_TREE)->tree->ztrelst(root); }
int32_t zsortap(HostSortBlock* block) { return hostGroups(HG_SORT)->sort->zsortap(block); }
