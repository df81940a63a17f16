// libFuzzer target: feeds program text to the host statement parser interpreting the
// procedure's grammar. The host services the parser calls (log, options, data sets) are
// small fakes here, so the target builds from the parser and grammar sources alone.
#include "driver/vsfselg.h"
#include "host/data/dataset.h"
#include "host/data/dsoptions.h"
#include "host/hostapi.h"
#include "host/hostlog.h"
#include "host/parser/psparser.h"
#include "support/hoststubs.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

// ---- fakes of the host and module services the parser reaches ----

HostControlBlock* v_global_gcb_anchor = nullptr;
QkHandle* Exported_QKHandle = nullptr; // no kernel: the case tables alone upper-case names

HostMsgArg::HostMsgArg(const char* v)
    : kind(Str), s(v), len(v ? static_cast<int32_t>(std::strlen(v)) : 0) {}
double hostMissing() {
  double d;
  std::memcpy(&d, &kHostMissingBits, sizeof d);
  return d;
}

namespace qrxhost {
void logMessage(int, int, const HostMsgArg* args, int count) {
  // Touch every value as the catalogue would when formatting.
  for (int i = 0; i < count; ++i)
    if (args[i].kind == HostMsgArg::Str && args[i].s && args[i].len > 0)
      (void)args[i].s[args[i].len - 1];
}
std::optional<std::string> hostOption(const std::string&) { return std::nullopt; }
const StepSource& currentStepSource() {
  static StepSource s;
  return s;
}
std::string defaultOutputName() { return "DATA1"; }
bool claimOutput(HostDataSet*, const OutputMaker&) { return true; }
bool applyDataSetOptions(HostDataSet*, std::unique_ptr<DataSetOptions>) { return true; }
} // namespace qrxhost

namespace {
struct FakeDataSet {
  int dummy;
};
FakeDataSet gData, gOut;
const char* kNames[] = {"Y", "X1", "X2", "X3", "X4", "X5", "A", "B", "C", "W"};
const int kVars = 10;
HostVariable gVar;
} // namespace

void xexit(int32_t, int32_t) { std::abort(); }
void* xtalloc(int64_t size, uint32_t) { return std::calloc(1, static_cast<size_t>(size)); }
void xtfree(void* p) { std::free(p); }
HostDataSet* xdsopen(const char* name, int32_t length) {
  if (length == 1 && (name[0] == 'd' || name[0] == 'D'))
    return reinterpret_cast<HostDataSet*>(&gData);
  return nullptr;
}
HostDataSet* xdscreate(const char*, int32_t) { return reinterpret_cast<HostDataSet*>(&gOut); }
void xdsclose(HostDataSet*) {}
int32_t xdsnvar(HostDataSet* ds) {
  return ds == reinterpret_cast<HostDataSet*>(&gData) ? kVars : 0;
}
int32_t xvfind(HostDataSet* ds, const char* name, int32_t length, int32_t* number, int32_t) {
  *number = 0;
  if (ds != reinterpret_cast<HostDataSet*>(&gData))
    return 0;
  for (int i = 0; i < kVars; ++i)
    if (static_cast<int32_t>(std::strlen(kNames[i])) == length &&
        strncasecmp(kNames[i], name, static_cast<size_t>(length)) == 0)
      *number = i + 1;
  return 0;
}
int32_t xvname(HostDataSet* ds, int32_t number, HostVariable** out) {
  if (ds != reinterpret_cast<HostDataSet*>(&gData) || number < 1 || number > kVars)
    return 1;
  gVar = HostVariable{};
  gVar.name = kNames[number - 1];
  gVar.nameLength = static_cast<int16_t>(std::strlen(kNames[number - 1]));
  gVar.type = number >= 7 && number <= 9 ? 2 : 1;
  gVar.number = number;
  *out = &gVar;
  return 0;
}

// ---- the target ----

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static VsfGrammar* grammar = vsfselg();
  static HostParser parser;
  std::string text(reinterpret_cast<const char*>(data), size);
  qrxhost::loadParserText(&parser, "VARSIFTER " + text, 1, 1);
  grammar->parseAnchor = &parser;
  ParseRoot root{};
  qrxhost::parserServices()->xsproc(grammar, &root, 0, nullptr, nullptr, nullptr);
  // Walk what the parse left: every present slot's list must be readable.
  for (ParsedStatement* s = root.first; s; s = s->next)
    for (int k = 0; k < s->slotCount; ++k) {
      const OptionSlot& sl = s->slots[k];
      if (sl.kind == OSK_INTLIST || sl.kind == OSK_DBLLIST)
        for (int i = 0; i < sl.value.list.count; ++i)
          (void)(sl.kind == OSK_INTLIST ? sl.items.ints[i] : sl.items.doubles[i]);
      if (sl.kind == OSK_TEXT && sl.value.list.count > 0)
        (void)sl.items.text[sl.value.list.count - 1];
    }
  return 0;
}
