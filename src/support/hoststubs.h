// The host service stubs: one forwarding function per host service that the module calls.
// Each reads the control block through v_global_gcb_anchor, clears its group's byte and
// calls the host's entry with the arguments unchanged.
#pragma once

#include "support/hostif.h"
#include "support/stepcodes.h"

#include <initializer_list>
#include <new>

[[noreturn]] void xexit(int32_t code, int32_t flag);
// Ends the run with a named return code.
[[noreturn]] inline void xexit(StepRc rc, int32_t flag) { xexit(codeOf(rc), flag); }
QkPool* xmpoolc(void* parent, int64_t blockSize, uint32_t flags);
void xmpoold(QkPool* pool);
void xytexit(void (*routine)());
void xpmlog(int32_t set, int32_t number, std::initializer_list<HostMsgArg> args = {});
void xpmlogv(int32_t set, int32_t number, const HostMsgArg* args, int32_t count);
void xprrlog(int32_t flag, int32_t code);
[[nodiscard]] int32_t xpmstr(char* buffer, int32_t size, int32_t set, int32_t number,
                             std::initializer_list<HostMsgArg> args = {});
[[nodiscard]] int32_t xoption(const char* name, char* buffer, int32_t capacity);
[[nodiscard]] int32_t xmpoolcln(QkPool* pool, void (*cleanup)(void*), void* object);
void xprogress(const char* text, int32_t length);

// Makes a T in the pool (zeroed storage); its destructor runs when the pool is destroyed.
// Null when the pool cannot give the block.
template <class T, class... Args> T* poolNew(QkPool* pool, Args&&... args) {
  void* block = pool ? pool->allocate(pool, sizeof(T), kQkZeroed) : nullptr;
  if (!block)
    return nullptr;
  T* object = new (block) T(static_cast<Args&&>(args)...);
  // Registering a cleanup on a live pool cannot fail.
  (void)xmpoolcln(
      pool, [](void* p) { static_cast<T*>(p)->~T(); }, object);
  return object;
}

HostMacroTable* xalanch(void* taskWord);
[[nodiscard]] int32_t xjsympc(HostMacroTable* anchor, const char* name, int32_t nameLength,
                              int32_t scope, int32_t flags, const char* value, int32_t valueLength);
[[nodiscard]] int32_t xjsympn(HostMacroTable* anchor, const char* name, int32_t nameLength,
                              int32_t scope, int32_t flags, double value);
[[nodiscard]] int32_t xjsymget(HostMacroTable* anchor, const char* name, int32_t nameLength,
                               char* buffer, int32_t capacity);

double zdattim();
// The current date-time in seconds, as the core group's clock; the host keeps one clock
// (the time group's), so this forwards there.
double wzdttme();
void xebug(const char* text);

[[nodiscard]] int32_t xbynext(HostByHandle* by);
void xvputt(HostDataSet* out);
[[nodiscard]] int32_t xvfind(HostDataSet* data, const char* name, int32_t length, int32_t* number,
                             int32_t flags);
[[nodiscard]] int32_t xvname(HostDataSet* data, int32_t number, HostVariable** out);
[[nodiscard]] int32_t xffile(HostDataSet* data, int32_t purpose, const int32_t* numbers, int32_t n);
HostDataSet* xdsopen(const char* name, int32_t length);
[[nodiscard]] int32_t xdsnvar(HostDataSet* data);
[[nodiscard]] int64_t xdsnobs(HostDataSet* data);
HostByHandle* xdsby(HostDataSet* data);
[[nodiscard]] int32_t xbyset(HostDataSet* data, const int32_t* numbers, const uint8_t* descending,
                             int32_t count, int32_t notsorted);
[[nodiscard]] int32_t xbyrewind(HostByHandle* by);
[[nodiscard]] int32_t xbyline(HostByHandle* by, char* buffer, int32_t capacity);
[[nodiscard]] int32_t xobsnext(HostDataSet* data);
double xobsnum(HostDataSet* data, int32_t number);
[[nodiscard]] int32_t xobschar(HostDataSet* data, int32_t number, const char** text);
void xdsclose(HostDataSet* data);
HostDataSet* xdscreate(const char* name, int32_t length);
[[nodiscard]] int32_t xdsdefvar(HostDataSet* out, const char* name, int32_t length, int32_t type,
                                int32_t varLength);
// The row putters are left free to drop: a row is filled by many of them, their only
// failures are a closed output or an unknown column, and the xdsappend that ends the row
// fails on a closed output and is reported (vsfAppendRow).
int32_t xdsputn(HostDataSet* out, int32_t number, double value);
int32_t xdsputc(HostDataSet* out, int32_t number, const char* text, int32_t length);
[[nodiscard]] int32_t xdsappend(HostDataSet* out);
[[nodiscard]] int32_t xvgeti(HostDataSet* data, int32_t capacity, HostReadVector** out);
[[nodiscard]] int32_t xvgetd(HostReadVector* vector, int32_t number, int32_t offset, int32_t flags,
                             int32_t length, int32_t type);
[[nodiscard]] int32_t xvgete(HostReadVector* vector);
[[nodiscard]] int32_t xyvget(HostReadVector* vector, void* record);
// True when the host offers the block reads (xobsspan, xobsskip, xyvgetn).
[[nodiscard]] bool hostHasBlockReads();
[[nodiscard]] int32_t xobsspan(HostDataSet* data, int64_t* next, int64_t* count);
[[nodiscard]] int64_t xobsskip(HostDataSet* data, int64_t n);
[[nodiscard]] int32_t xyvgetn(HostReadVector* vector, int64_t first, int32_t count, void* records,
                              int64_t stride);
// Gives up the observations before `next` (1-based) for the rest of the step (nothing in a
// host without the service).
[[nodiscard]] int32_t xobsdone(HostDataSet* data, int64_t next);
// Ends the definition of an output's variables (checks its data-set options; 0 in a host
// without the service).
[[nodiscard]] int32_t xdsdefend(HostDataSet* out);
// The written name of an output column (see HostDataSetServices); without the service, the
// name the column was defined with, which the caller passes as `defined`.
[[nodiscard]] int32_t xdsoutname(HostDataSet* out, int32_t number, const char* defined,
                                 int32_t definedLength, char* buffer, int32_t capacity);
void xvgett(HostReadVector* vector);
void zname(int32_t mode, char* text, int32_t length);
[[nodiscard]] int32_t xopnt(HostDataSet* data, int64_t obs);
[[nodiscard]] int32_t xoget(HostDataSet* data);
[[nodiscard]] int32_t xvget1v(HostDataSet* data, int32_t number, int32_t width, char* out);
[[nodiscard]] int32_t xdsname(HostDataSet* data, char* buffer, int32_t capacity);
[[nodiscard]] int32_t xbylist(HostDataSet* data, HostDataSet* other);
[[nodiscard]] int32_t xbysync(HostByHandle* by, HostDataSet* other);
[[nodiscard]] int32_t xbyrwnd(HostDataSet* data, int32_t code);
[[nodiscard]] int32_t xvallvr(HostDataSet* data);
[[nodiscard]] int32_t xvsele(HostDataSet* data);
[[nodiscard]] int32_t xoinfo(HostDataSet* data, int32_t item, char* buffer, int32_t capacity);
// A data set's name (xoinfo item 81) as a message argument; empty for a null handle.
struct HostDataSetName {
  char text[260];
  int32_t length = 0;
  explicit HostDataSetName(HostDataSet* data) {
    text[0] = '\0';
    if (data != nullptr) {
      const int32_t capacity = static_cast<int32_t>(sizeof text);
      const int32_t n = xoinfo(data, 81, text, capacity);
      length = n < 0 ? 0 : (n < capacity ? n : capacity - 1);
    }
  }
  HostMsgArg arg() const { return HostMsgArg(text, length); }
};

void xobinit(RvqObject** out, int32_t flags);
RvqText* rvqmsg(int32_t set, int32_t number);
RvqText* rvqmsgs(int32_t set, int32_t number, std::initializer_list<HostMsgArg> args);
RvqText* rvqtxt(const char* text, int32_t length);
RvqText* rvqtxts(const char* text, int32_t length);
[[nodiscard]] int32_t wkread(int32_t set, int32_t number, const char** text, int32_t* length);
[[nodiscard]] int32_t vir2g(HostRoutine routine, HostRoutine* callable);
[[nodiscard]] int32_t wmrlmem(int64_t* kilobytes);
// Loads a host extension by its (ASCII) name through the kernel handle; null when none.
QkExtension* qkLoadByName(QkHandle* qk, const char* name);

void* ztrebld(void** root, void* node, int32_t length, int32_t offset);
void ztrelst(void** root);
[[nodiscard]] int32_t zsortap(HostSortBlock* block);

// Marks a group as called (clears its byte in control-block word 1) and returns the groups.
HostServiceGroups* hostGroups(HostGroup group);

// Group 31: statement parser and tokens (forwarders in parserstubs.cpp).
struct VsfGrammar;
struct ParseRoot;
struct ParseHookTable;
struct HostParser;
struct HostToken;
struct OptionSlot;
struct HostVarList;
[[nodiscard]] int32_t xsproc(VsfGrammar* grammar, ParseRoot* root, int32_t mode,
                             ParseHookTable* hooks, void* reserved1, void* reserved2);
HostParser* xtanch();
const HostToken* xttkcur(HostParser* parser);
const HostToken* yttkpk(HostParser* parser, int32_t ahead);
void ytokrla(HostParser* parser);
double xtoknum(const HostToken* token);
[[nodiscard]] int32_t zaddlst(OptionSlot* slot, int32_t itemSize, int32_t more);
[[nodiscard]] int32_t zaddvar(HostDataSet* ds, HostVarList* out, int32_t mode, int32_t flags,
                              const char* first, int32_t firstLength, const char* second,
                              int32_t secondLength, int32_t listKind);
void zadverr(ParseRoot* root, HostDataSet* ds, int32_t flags, const char* first,
             int32_t firstLength, const char* second, int32_t secondLength, HostVarList* list,
             int32_t reserved, int32_t listKind, int32_t code);
[[nodiscard]] int32_t xpfs(char* buffer, int32_t width, int32_t decimals, double value);
[[nodiscard]] int32_t xttkqsp(HostParser* parser, int32_t which);
void xttksp(HostParser* parser, int32_t which, int32_t on);
void* xtalloc(int64_t size, uint32_t flags);
void xtfree(void* block);
[[nodiscard]] int32_t xoptcgt(const char* name, char* buffer, int32_t capacity);
