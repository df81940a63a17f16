// The fake host control block of the driver tests.
#include "fakehost.h"

#include "driver/vsfmain.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace fakehost {
namespace {

State gState;
HostControlBlock gCb;
HostServiceGroups gGroups;
uint8_t gGroupBytes[HG_COUNT];
HostTaskBlock gTask;
HostSupervisorServices gSupervisor;
HostMacroVariableServices gMacro;
HostTimeService gTime;
HostInternalErrorService gInternal;
HostDataSetServices gDataSet;
HostObjectServices gObject;
QkHandle gQk;
int gMacroAnchor;

// Pools: a list of blocks freed on destroy.
struct FakePool {
  QkPool pool;
  std::vector<void*> blocks;
};
void* poolAllocate(QkPool* p, size_t size, uint32_t) {
  auto* fp = reinterpret_cast<FakePool*>(p);
  void* b = std::calloc(1, size ? size : 1);
  fp->blocks.push_back(b);
  return b;
}
void poolFree(QkPool*, void*) {}
void poolDestroy(QkPool* p) {
  auto* fp = reinterpret_cast<FakePool*>(p);
  for (void* b : fp->blocks)
    std::free(b);
  delete fp;
  gState.livePools--;
}
QkPool* newPool() {
  auto* fp = new FakePool{};
  fp->pool.allocate = poolAllocate;
  fp->pool.free = poolFree;
  fp->pool.destroy = poolDestroy;
  gState.livePools++;
  return &fp->pool;
}
QkPool* gDefaultPool;

// Extensions.
void extUnload(QkExtension* e) {
  gState.liveExtensions--;
  delete e;
}
QkExtension* extLoad(QkHandle*, const QkChar* name, int32_t length, int32_t) {
  std::string n;
  for (int i = 0; i < length; ++i)
    n.push_back(static_cast<char>(name[i]));
  if (gState.missingExtension && n == gState.missingExtension)
    return nullptr;
  if (n != "qkpgf" && n != "qkbkf" && n != "qkupath" && n != "qkavlt")
    return nullptr; // the fake knows only the extensions loaded at start
  gState.liveExtensions++;
  auto* e = new QkExtension{};
  e->unload = extUnload;
  return e;
}

// Output objects: block -> manager; manager answers 439; groups close.
RvqClass gBlockClass, gManagerClass, gGroupClass;
RvqMethodEntry* gBlockBuckets[1];
RvqMethodEntry* gManagerBuckets[1];
RvqMethodEntry gCreateEntry, gLevelEntry;
RvqMethodDescriptor gCreateDesc, gLevelDesc, gQueryDesc, gCloseDesc;
RvqObject gBlock{&gBlockClass};
RvqObject gManager{&gManagerClass};
std::vector<std::unique_ptr<RvqObject>> gGroups2;

int32_t createMethod(RvqObject*, void*, int32_t, int32_t count, RvqAttr* attrs) {
  for (int i = 0; i < count; ++i)
    if (attrs[i].id == 144)
      attrs[i].value.ptr = &gManager;
  return 0;
}
int32_t levelMethod(RvqObject*, void*, int32_t, int32_t, RvqAttr*) {
  gState.levelMarkCalls++;
  return gState.levelMarkResult;
}
int32_t queryMethod(RvqObject*, void*, int32_t, int32_t count, RvqAttr* attrs) {
  if (count > 0)
    attrs[0].second.i32 = 7;
  return 0;
}
int32_t closeMethod(RvqObject*, void*, int32_t, int32_t, RvqAttr*) {
  gState.groupCloses++;
  return 0;
}

void setupObjects() {
  gCreateDesc = {createMethod, nullptr, 147};
  gLevelDesc = {levelMethod, nullptr, 439};
  gQueryDesc = {queryMethod, nullptr, 2};
  gCloseDesc = {closeMethod, nullptr, 4};
  gCreateEntry = {nullptr, nullptr, &gCreateDesc, 147};
  gLevelEntry = {nullptr, nullptr, &gLevelDesc, 439};
  gBlockBuckets[0] = &gCreateEntry;
  gManagerBuckets[0] = &gLevelEntry;
  gBlockClass = RvqClass{};
  gBlockClass.buckets = gBlockBuckets;
  gBlockClass.hashMask = 0;
  gManagerClass = RvqClass{};
  gManagerClass.buckets = gManagerBuckets;
  gManagerClass.hashMask = 0;
  gManagerClass.queryDescriptor = &gQueryDesc;
  gGroupClass = RvqClass{};
  gGroupClass.closeDescriptor = &gCloseDesc;
}

} // namespace

int State::count(MsgId id) const {
  int n = 0;
  for (const auto& m : log)
    n += id.is(m.set, m.number);
  return n;
}

State& state() { return gState; }

RvqObject* newGroupObject() {
  gGroups2.push_back(std::make_unique<RvqObject>(RvqObject{&gGroupClass}));
  return gGroups2.back().get();
}

State& install() {
  if (gDefaultPool != nullptr) {
    gDefaultPool->destroy(gDefaultPool);
    gDefaultPool = nullptr;
  }
  gState = State{};
  gGroups2.clear();
  std::memset(gGroupBytes, 1, sizeof gGroupBytes);
  gSupervisor = HostSupervisorServices{};
  gSupervisor.xexit = [](int32_t code, int32_t) { throw ExitCalled{code}; };
  gSupervisor.xmpoolc = [](void*, int64_t, uint32_t) { return newPool(); };
  gSupervisor.xmpoold = [](QkPool* p) { p->destroy(p); };
  gSupervisor.xytexit = [](void (*routine)()) { gState.endOfTask = routine; };
  gSupervisor.xpmlog = [](int32_t set, int32_t number, const HostMsgArg*, int32_t) {
    gState.log.push_back({set, number});
  };
  gSupervisor.xprrlog = [](int32_t, int32_t code) { gState.statusLog.push_back(code); };
  gSupervisor.xpmstr = [](char* buffer, int32_t size, int32_t, int32_t, const HostMsgArg*,
                          int32_t) {
    if (size > 0)
      buffer[0] = '\0';
    return 0;
  };
  gMacro = HostMacroVariableServices{};
  gMacro.xalanch = [](void*) { return reinterpret_cast<HostMacroTable*>(&gMacroAnchor); };
  // Reads find only what the run set (by number) itself.
  gMacro.xjsymget = [](HostMacroTable*, const char* name, int32_t len, char* buffer,
                       int32_t capacity) -> int32_t {
    auto it = gState.macros.find(std::string(name, static_cast<size_t>(len)));
    if (it == gState.macros.end())
      return -1;
    const std::string text = std::to_string(it->second);
    const int32_t n = std::min<int32_t>(static_cast<int32_t>(text.size()), capacity);
    std::memcpy(buffer, text.data(), static_cast<size_t>(n));
    return n;
  };
  gMacro.xjsympn = [](HostMacroTable*, const char* name, int32_t len, int32_t, int32_t,
                      double value) {
    gState.macros[std::string(name, len)] = value;
    return 0;
  };
  gTime.zdattim = []() { return 1000.0; };
  gInternal.xebug = [](const char* text) { gState.internalErrors.emplace_back(text); };
  gDataSet = HostDataSetServices{};
  gDataSet.xbynext = [](HostByHandle*) -> int32_t {
    if (gState.byYielded >= gState.byGroups)
      return 0;
    gState.byYielded++;
    return 1;
  };
  gDataSet.xvputt = [](HostDataSet*) {};
  gObject.xobinit = [](RvqObject** out, int32_t) {
    *out = gState.noObjectBlock ? nullptr : &gBlock;
  };
  setupObjects();

  gQk = QkHandle{};
  gQk.createPool = [](QkHandle*, QkPoolAttributes*, void*, const char*) { return newPool(); };
  gQk.qkExtensionLoad = extLoad;

  gGroups = HostServiceGroups{};
  gGroups.supervisor = &gSupervisor;
  gGroups.macro = &gMacro;
  gGroups.time = &gTime;
  gGroups.internalError = &gInternal;
  gGroups.dataSet = &gDataSet;
  gGroups.object = &gObject;

  gTask = HostTaskBlock{};
  gCb = HostControlBlock{};
  gCb.groups = &gGroups;
  gCb.groupBytes = gGroupBytes;
  gCb.task = &gTask;
  gCb.qkHandle = &gQk;
  mcn_main(&gCb, nullptr);
  // The default pool is the host's and lives for the whole session: not counted.
  gDefaultPool = newPool();
  gState.livePools--;
  gCb.defaultPool = gDefaultPool;
  return gState;
}

int runMain() {
  int code = -1;
  try {
    pcn_QRXVARSF.main(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  } catch (const ExitCalled& e) {
    code = e.code;
  }
  if (gState.endOfTask)
    gState.endOfTask();
  return code;
}

} // namespace fakehost
