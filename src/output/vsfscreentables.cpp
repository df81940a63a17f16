// The screening tables: the "ScreeningInfo" factoid (which rule ran and how many candidates it
// kept) and the "SISCorrelation" table (the candidates by their SIS statistic, the kept ones
// and up to five of the screened-out ones). The ranking itself is the path's (vsfscreen.cpp).
#include "output/vsfscreentables.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfresults.h"
#include "support/messages.h"
#include "support/nomemory.h"

#include <algorithm>
#include <vector>

namespace {
// Screened-out candidates the SIS table shows below the kept ones.
constexpr int32_t kShownOut = 5;
} // namespace

VsfStatus vsfpScreenInfo(VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  const VsfModel* m = &ctx->model;
  if (o.screen == VsfScreenMethod::None)
    return VsfStatus::Ok;
  VsfOut out(ctx);
  if (!out.createFactoid("ScreeningInfo", "Stat.VARSIFTER.ScreeningInfo",
                         msgText(VsfMsg::ScreeningInformation),
                         msgText(VsfMsg::ScreeningInformation)))
    return VsfStatus::Ok;
  if (o.screen != VsfScreenMethod::Base && o.screen != VsfScreenMethod::Sis) {
    out.entry(VsfMsg::ScreeningMethod,
              rvqTextHandle(RvqAttrId::Value, msgText(VsfMsg::ScreenSafeScreening)));
  } else {
    out.entry(VsfMsg::ScreeningMethod,
              rvqTextHandle(RvqAttrId::Value, msgText(VsfMsg::ScreenSureIndependence)));
    const RvqAttr pvalue3 = rvqTextHandle(RvqAttrId::FormatName, vsfText("pvalue.3"));
    if (m->screen.screenKeepRatio == -1)
      out.entry(VsfMsg::ScreenKeepNumber,
                rvqInt(RvqAttrId::Value,
                       o.screen == VsfScreenMethod::Sis ? o.keepNum : m->screen.screenKeep));
    else
      out.entry(VsfMsg::ScreenKeepRatio, rvqDouble(RvqAttrId::Value, m->screen.screenKeepRatio),
                {pvalue3});
    const int32_t K = m->screen.screenKeep;
    out.entry(VsfMsg::ScreenNumberEffectsKept, rvqInt(RvqAttrId::Value, K));
    const int32_t candidates = m->effectCount - m->includeCount;
    const double kept = candidates > 0 ? static_cast<double>(K) / candidates : 0.0;
    out.entry(VsfMsg::ScreenFractionEffectsKept, rvqDouble(RvqAttrId::Value, kept), {pvalue3});
  }
  out.endRows();
  out.release();
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfpSISInfo(VsfContext* ctx) {
  const VsfModel* m = &ctx->model;
  const int32_t W = vsfLongestEffectName(ctx);
  if (W == 0 || m->screen.screenStat == nullptr || m->screenPass.screenInList == nullptr)
    return VsfStatus::NoMemory;
  const int32_t candidates = m->effectCount - m->includeCount;
  const int32_t K = m->screen.screenKeep;
  const int32_t shown = std::min(K + kShownOut, candidates);
  std::vector<char> name(static_cast<size_t>(W));
  int32_t rank = 0, out1 = 0;
  double stat = 0;
  VsfOut out(ctx);
  if (!out.create("SISCorrelation", msgText(VsfMsg::ScreenSisCorrelation)))
    return VsfStatus::Ok;
  out.intColumn("Rank", &rank);
  out.charColumn("Effect", name.data(), W);
  out.numberColumn("absCorr", &stat);
  out.intColumn("corrOut", &out1);
  out.endColumns();
  out.bind("Stat.VARSIFTER.SISCorr",
           {vsfaDyn("printFootnote"), rvqInt(RvqAttrId::Value, K < candidates ? 1 : 0)});
  for (int32_t r = 0; r < shown; ++r) {
    rank = r + 1;
    int32_t length = 0;
    const char* text = vsfEffectName(ctx, m->screenPass.screenInList[r], &length);
    vsfFill(name.data(), W, text, length);
    stat = m->screen.screenStat[r];
    out1 = rank > K ? 1 : 0;
    out.emit();
  }
  out.endRows();
  out.publish();
  out.finish();
  return VsfStatus::Ok;
}
