// The procedure-statement reader: data sets, BY set-up, FREQ and WEIGHT records, name
// length, seed, MAXMACRO, printing, parameter-label style and OUTDESIGN=, and the PLOTS=
// settings. The node also carries BY, CLASS, FREQ and WEIGHT; CLASS is parse_class's.
// Declared in driver/vsfreaders.h.
#include "driver/vsfparse.h"
#include "driver/vsfreaders.h"
#include "driver/vsfselg.h"
#include "driver/vsfslots.h"
#include "effects/levdesign.h"
#include "output/vsfcontext.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/parsedstmt.h"
#include "support/protocol.h"

#include <cstring>

namespace {

HostDataSet* slotDataSet(const ParsedStatement* s, ProcSlot k) {
  return slotDataSet(stmtSlot(s, k));
}
[[nodiscard]] int32_t listCount(const OptionSlot* sl, uint8_t kind) { return slotCount(sl, kind); }

} // namespace

// A zeroed 160-byte variable record from the main pool, filled from the data set.
VsfStatus vsfVariableRecord(VsfContext* ctx, int32_t number, HostVariable** out) {
  auto* rec = static_cast<HostVariable*>(
      ctx->mainPool->allocate(ctx->mainPool, sizeof(HostVariable), kQkZeroed));
  if (!rec)
    return VsfStatus::NoMemory;
  std::memset(static_cast<void*>(rec), 0, sizeof *rec);
  HostVariable* v = nullptr;
  if (xvname(ctx->data, number, &v) == 0 && v)
    *rec = *v;
  *out = rec;
  return VsfStatus::Ok;
}

VsfStatus parse_proc(VsfContext* ctx, ParsedStatement* first) {
  VsfProcSettings& p = ctx->stmt.proc;
  LevDesign* design = ctx->design.design;
  ctx->data = slotDataSet(first, ProcSlot::Data);
  if (ctx->design.library)
    ctx->design.library->data = ctx->data; // the design-row context reads DATA=
  p.valData = slotDataSet(first, ProcSlot::ValData);
  p.testData = slotDataSet(first, ProcSlot::TestData);

  // BY statement: variables, their DESCENDING marks and NOTSORTED.
  const OptionSlot* by = stmtSlot(first, ProcSlot::ByVariables);
  p.byCount = listCount(by, OSK_INTLIST);
  p.byNumbers = p.byCount ? by->items.ints : nullptr;
  p.byNotsorted = stmtFlag(first, ProcFlag::ByNotsorted);
  if (p.byCount) {
    p.byDescending = static_cast<uint8_t*>(
        ctx->mainPool->allocate(ctx->mainPool, static_cast<size_t>(p.byCount), kQkZeroed));
    if (!p.byDescending)
      return VsfStatus::NoMemory;
    const OptionSlot* desc = stmtSlot(first, ProcSlot::ByDescending);
    for (int32_t i = 0; i < p.byCount; ++i)
      p.byDescending[i] = i < listCount(desc, OSK_DBLLIST) && desc->items.doubles[i] != 0;
  }
  if (ctx->data) {
    if (p.byCount && xbyset(ctx->data, p.byNumbers, p.byDescending, p.byCount, p.byNotsorted) < 0) {
      vsfRaiseRC(ctx, StepRc::Error);
      return statusOf(DriverResult::Refused);
    }
    ctx->byHandle = xdsby(ctx->data);
  }

  ctx->maxMacro = static_cast<int32_t>(stmtNumber(first, ProcSlot::MaxMacro, 100));

  const OptionSlot* weight = stmtSlot(first, ProcSlot::Weight);
  const OptionSlot* freq = stmtSlot(first, ProcSlot::Freq);
  p.weightGiven = listCount(weight, OSK_INTLIST) == 1;
  p.freqGiven = listCount(freq, OSK_INTLIST) == 1;
  if (p.weightGiven && vsfVariableRecord(ctx, weight->items.ints[0], &p.weightVar) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  if (p.freqGiven && vsfVariableRecord(ctx, freq->items.ints[0], &p.freqVar) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  p.freqOrWeight = p.weightGiven || p.freqGiven;

  p.nameLen = static_cast<int32_t>(stmtNumber(first, ProcSlot::NameLen, 20));
  ctx->noprint = stmtFlag(first, ProcFlag::NoPrint);
  p.showInternal = stmtFlag(first, ProcFlag::ShowInternal);
  ctx->seed = static_cast<int64_t>(stmtNumber(first, ProcSlot::Seed, 0));

  if (design) {
    design->nameLen = p.nameLen;
    design->levelWidthOption = stmtFlag(first, ClassFlag::Truncate)
                                   ? static_cast<int32_t>(stmtNumber(first, ClassSlot::Truncate, 0))
                                   : -1;
    design->parmLabelStyle =
        static_cast<uint8_t>(stmtNumber(first, ProcSlot::ParmLabelStyle, LSTYLE_SEPARATE));
    design->shortParmNames = stmtFlag(first, ProcFlag::ShortParmNames);
    int32_t n = 0;
    const char* text = slotLastText(stmtSlot(first, ProcSlot::ShortParmNames), &n);
    design->shortNameLength = n;
    design->shortNameText = n ? text : nullptr;
    design->separatorLength = 0;
    design->separatorText = nullptr;
    if (stmtFlag(first, ProcFlag::Separator)) {
      text = slotLastText(stmtSlot(first, ProcSlot::Separator), &n);
      design->separatorLength = n;
      design->separatorText = text;
    }
  }

  if (stmtFlag(first, ProcFlag::OutDesign)) {
    p.outDesign = slotDataSet(first, ProcSlot::OutDesign);
    ctx->options.hasOutDesign = p.outDesign != nullptr;
  }
  p.outDesignFull = stmtFlag(first, ProcFlag::FullModel);
  p.outDesignAddInput = stmtFlag(first, ProcFlag::AddInputVars);
  p.outDesignNames = stmtFlag(first, ProcFlag::Names);
  ctx->options.outDesignNames = p.outDesignNames;
  p.outDesignDefaultPrefix = !stmtFlag(first, ProcFlag::Prefix);
  if (stmtFlag(first, ProcFlag::PrefixName)) {
    const OptionSlot* names = stmtSlot(first, ProcSlot::Prefix);
    const char* text = nullptr;
    int32_t len = 0;
    if (names && names->kind == OSK_NAMELIST && zgetnmr(names->items.names, 0, &text, &len) == 0) {
      p.outDesignPrefixZero = 0;
      p.outDesignPrefixLength = static_cast<int16_t>(len);
      p.outDesignPrefix = text;
    }
  }
  parse_plots(ctx, first);
  return VsfStatus::Ok;
}

namespace {

// A step range whose end is below its start becomes the whole range; true when corrected.
[[nodiscard]] bool fixRange(int32_t& start, int32_t& end) {
  if (end < start) {
    start = -1;
    end = 2147483647;
    return true;
  }
  return false;
}

} // namespace

void parse_plots(VsfContext* ctx, ParsedStatement* first) {
  VsfPlotSettings& g = ctx->stmt.plots;
  if (stmtFlag(first, ProcFlag::Plots)) {
    if (ctx->noprint) {
      vsfLog(OptionMsg::GraphsOffUnderNoprint);
      return;
    }
    if (stmtFlag(first, ProcFlag::PlotNone)) {
      g.graphicsEnabled = 0;
      if (stmtFlag(first, ProcFlag::CritPlot) || stmtFlag(first, ProcFlag::AsePlot) ||
          stmtFlag(first, ProcFlag::PlotAll) || stmtFlag(first, ProcFlag::CoefPlot) ||
          stmtFlag(first, ProcFlag::SelgPlot) || stmtFlag(first, ProcFlag::CandPlot))
        vsfLog(OptionMsg::PlotsNoneTurnsOff);
      return;
    }
    if (!g.graphicsEnabled) {
      vsfLog(OptionMsg::GraphsOffWithoutGraphics);
      return;
    }
    if (!stmtFlag(first, ProcFlag::PlotRequests)) {
      vsfLog(OptionMsg::PlotsWithoutList);
      g.graphicsEnabled = 0;
      return;
    }
  }
  uint8_t all = stmtFlag(first, ProcFlag::PlotAll) ? kPlotByAll : 0;
  auto level = [&](ProcFlag flag) {
    return static_cast<uint8_t>((stmtFlag(first, flag) ? kPlotByName : 0) + all);
  };

  g.unpack = stmtFlag(first, ProcFlag::Unpack);
  uint8_t logp = stmtFlag(first, ProcFlag::LogP);
  g.startStep = stmtInt(first, ProcSlot::StartStep, -1);
  g.endStep = stmtInt(first, ProcSlot::EndStep, 2147483647);
  bool corrected = fixRange(g.startStep, g.endStep);
  g.maxStepLabel = stmtInt(first, ProcSlot::MaxStepLabel, 20);
  g.maxParmLabel = stmtInt(first, ProcSlot::MaxParmLabel, 32);
  VsfStepAxis axis = stmtCode(first, ProcSlot::StepAxis, VsfStepAxis::Auto);
  int32_t candidates = stmtInt(first, ProcSlot::Candidates, 10);

  g.coefLevel = level(ProcFlag::CoefPlot);
  g.coefStepAxis = stmtCode(first, ProcSlot::CoefStepAxis, axis);
  g.coefUnpack = static_cast<uint8_t>(stmtFlag(first, ProcFlag::CoefUnpack) + g.unpack);
  g.coefLogp = static_cast<uint8_t>(stmtFlag(first, ProcFlag::CoefLogP) + logp);
  g.coefLabelGap = stmtNumber(first, ProcSlot::CoefLabelGap, 5) / 100.0;
  g.coefStart = stmtInt(first, ProcSlot::CoefStart, g.startStep);
  g.coefEnd = stmtInt(first, ProcSlot::CoefEnd, g.endStep);
  corrected = fixRange(g.coefStart, g.coefEnd) || corrected;

  g.selgLevel = level(ProcFlag::SelgPlot);
  g.selgLogp = stmtFlag(first, ProcFlag::SelgLogP) ? 1 : logp;
  g.selgNormc = stmtFlag(first, ProcFlag::SelgNormc);
  g.selgEmphasis = stmtNumber(first, ProcSlot::Emphasis, 1.0);
  g.selgCandidates = stmtInt(first, ProcSlot::SelgCandidates, candidates);

  g.candLevel = level(ProcFlag::CandPlot);
  g.candLogp = stmtFlag(first, ProcFlag::CandLogP) ? 1 : logp;
  g.candShow = stmtInt(first, ProcSlot::CandShow, candidates);

  g.aseLevel = level(ProcFlag::AsePlot);
  g.aseStepAxis = stmtCode(first, ProcSlot::AseStepAxis, axis);
  g.aseStart = stmtInt(first, ProcSlot::AseStart, g.startStep);
  g.aseEnd = stmtInt(first, ProcSlot::AseEnd, g.endStep);
  corrected = fixRange(g.aseStart, g.aseEnd) || corrected;

  g.critLevel = level(ProcFlag::CritPlot);
  g.critStepAxis = stmtCode(first, ProcSlot::CritStepAxis, axis);
  g.critUnpack = static_cast<uint8_t>(stmtFlag(first, ProcFlag::CritUnpack) + g.unpack);
  g.critStart = stmtInt(first, ProcSlot::CritStart, g.startStep);
  g.critEnd = stmtInt(first, ProcSlot::CritEnd, g.endStep);
  corrected = fixRange(g.critStart, g.critEnd) || corrected;

  if (corrected) {
    vsfLog(VsfMsg::StartstepLargerThanEndstep);
    return;
  }
  ParseRoot* root = hostParseRoot();
  bool modelAverage = root && findstmt(root->first, "MODELAVERAGE") != nullptr;

  g.espLevel = level(ProcFlag::EspPlot);
  g.espOrder = stmtCode(first, ProcSlot::EspOrder, VsfOrder::Descending);
  g.espMinPct = stmtNumber(first, ProcSlot::EspMinPct, -1.0);
  if (stmtFlag(first, ProcFlag::EspPlot) && !modelAverage) {
    g.espLevel = 0;
    vsfLog(VsfMsg::PlotsEffectselectpctNeedsModelaverage);
    vsfRaiseRC(ctx, StepRc::Warning);
  }
  g.pdLevel = level(ProcFlag::PdPlot);
  g.pdOrder = stmtCode(first, ProcSlot::PdOrder, VsfOrder::Descending);
  g.pdUnpack = static_cast<uint8_t>(stmtFlag(first, ProcFlag::PdUnpack) + g.unpack);
  g.pdMinPct = stmtNumber(first, ProcSlot::PdMinPct, -1.0);
  g.pdPerPanel = stmtInt(first, ProcSlot::PdPerPanel, 9);
  g.pdNoBox = stmtFlag(first, ProcFlag::PdNoBox);
  if (stmtFlag(first, ProcFlag::PdPlot) && !modelAverage) {
    g.pdLevel = 0;
    vsfLog(VsfMsg::PlotsParmdistNeedsModelaverage);
  }
}
