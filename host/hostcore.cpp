// Builds the control block: the service-group vectors, the group bytes, the task-block
// chain, the default pool and the kernel handle. Groups of other host parts are installed
// in installOtherGroups() below; their services live in their own files.
#include "host/hostcore.h"
#include "host/data/dataset.h"
#include "host/ext/qkmemfig.h"
#include "host/hostlog.h"
#include "host/kernel.h"
#include "host/macros.h"
#include "host/modules/modload.h"
#include "host/output/rvqoutput.h"
#include "host/parser/psparser.h"
#include "host/pools.h"
#include "host/sort.h"
#include "host/supervisor.h"
#include "host/trees.h"

#include <chrono>
#include <mutex>

namespace qrxhost {
namespace {

int32_t hostWkread(int32_t set, int32_t number, const char** text, int32_t* length) {
  const MessageDef* def = findMessage(set, number);
  if (!def) {
    if (text)
      *text = nullptr;
    if (length)
      *length = 0;
    return -1;
  }
  if (text)
    *text = def->text.c_str();
  if (length)
    *length = static_cast<int32_t>(def->text.size());
  return 0;
}

double hostZdattim() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

void hostXebug(const char* text) {
  logLine(HostSeverity::Error,
          std::string("An internal error has occurred: ") + (text ? text : "(no text)"));
  raiseStepReturnCode(StepRc::Error);
}

// Module routines are plain functions in this host: the callable is the routine itself.
int32_t hostVir2g(HostRoutine routine, HostRoutine* callable) {
  if (!routine || !callable)
    return -1;
  *callable = routine;
  return 0;
}

HostCoreServices makeCore() {
  HostCoreServices c{};
  c.wkread = hostWkread;
  c.vir2g = hostVir2g;
  c.wmrlmem = hostMemoryFigure;
  return c;
}

HostCoreServices gCore = makeCore();
HostTimeService makeTime() {
  HostTimeService t{};
  t.zdattim = hostZdattim;
  return t;
}
HostInternalErrorService makeInternal() {
  HostInternalErrorService e{};
  e.xebug = hostXebug;
  return e;
}
HostTimeService gTime = makeTime();
HostInternalErrorService gInternal = makeInternal();

// The task blocks of a step. The chain that leads from the control block's task word to
// the procedure's context store goes through words 9, 10 and 4; every other link points
// at a spare block whose links point at itself, so any walk down the chain stays inside.
struct TaskChain {
  HostTaskBlock top{}, w9{}, w10{}, w4{}, spare{};
  void link() {
    for (HostTaskBlock* b : {&top, &w9, &w10, &w4, &spare}) {
      *b = HostTaskBlock{};
      b->word4 = b->word9 = b->word10 = &spare;
    }
    top.word9 = &w9;
    w9.word10 = &w10;
    w10.word4 = &w4;
    top.macroWord = &top; // handed to xalanch; the macro table is one per run
  }
};

TaskChain gChain;

// Groups that other parts of the host provide are installed here.
void installOtherGroups(HostServiceGroups& groups) {
  groups.tree = treeServices();
  groups.sort = sortServices();
  groups.object = outputObjectServices();
  groups.rvqText = rvqTextServices();
  groups.parser = parserServices();
  groups.module = moduleServices();
}

HostControlBlock* build() {
  static HostServiceGroups groups{};
  static uint8_t groupBytes[HG_COUNT];
  static HostControlBlock cb{};
  groups.core = &gCore;
  groups.supervisor = supervisorServices();
  groups.macro = macroServices();
  groups.time = &gTime;
  groups.internalError = &gInternal;
  groups.dataSet = dataSetServices();
  installOtherGroups(groups);
  for (uint8_t& b : groupBytes)
    b = 1;
  gChain.link();
  cb.groups = &groups;
  cb.groupBytes = groupBytes;
  cb.task = &gChain.top;
  cb.defaultPool = createArenaPool("host default pool", /*counted=*/false);
  cb.currentTask = nullptr;
  cb.qkHandle = kernelHandle();
  return &cb;
}

std::mutex gSourceMutex;
StepSource gSource;

} // namespace

HostControlBlock* hostControlBlock() {
  static HostControlBlock* cb = build();
  return cb;
}

void resetTaskBlocks() {
  HostControlBlock* cb = hostControlBlock();
  gChain.link();
  cb->task = &gChain.top;
  cb->currentTask = nullptr;
  clearArenaPool(cb->defaultPool);
}

void setCurrentStepSource(const StepSource& source) {
  std::lock_guard<std::mutex> lock(gSourceMutex);
  gSource = source;
}

void setCurrentStepSource(StepSource&& source) {
  std::lock_guard<std::mutex> lock(gSourceMutex);
  gSource = std::move(source);
}

const StepSource& currentStepSource() { return gSource; }

} // namespace qrxhost
