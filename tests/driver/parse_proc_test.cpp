// The procedure-statement, PLOTS= and CLASS readers: data sets, BY, FREQ/WEIGHT records,
// defaults, OUTDESIGN=, the plot settings with their range corrections and messages, and
// the CLASS codings, orders, references, prefixes, MISSING and delimiter.
#include "parse_harness.h"

#include "effects/levdesign.h"
#include "effects/levmod.h"
#include "support/driverresult.h"

#include <gtest/gtest.h>

#include <cstring>

using parsetest::parse;

namespace {

const LevVariable* classVar(const VsfContext* ctx, int number) {
  int at = levClassIndex(ctx->design.design, number);
  return at >= 0 ? &ctx->design.design->classes[at] : nullptr;
}

TEST(ParseProc, DefaultsAndDataSets) {
  auto r = parse("data=d; model y=x1;");
  ASSERT_EQ(r.result, 0);
  VsfContext* c = r.ctx;
  EXPECT_NE(c->data, nullptr);
  EXPECT_NE(c->byHandle, nullptr);
  EXPECT_EQ(c->maxMacro, 100);
  EXPECT_EQ(c->stmt.proc.nameLen, 20);
  EXPECT_EQ(c->stmt.proc.byCount, 0);
  EXPECT_EQ(c->stmt.proc.valData, nullptr);
  EXPECT_EQ(c->noprint, 0);
  EXPECT_EQ(c->seed, 0);
  EXPECT_EQ(c->design.design->levelWidthOption, -1);
  EXPECT_EQ(c->design.design->parmLabelStyle, 1);
  EXPECT_EQ(c->stmt.proc.outDesignDefaultPrefix, 1);

  r = parse("data=d valdata=e testdata=e namelen=30 seed=123 maxmacro=-5 noprint"
            " parmlabelstyle=interlaced(separator='#'); model y=x1;");
  ASSERT_EQ(r.result, 0);
  c = r.ctx;
  EXPECT_NE(c->stmt.proc.valData, nullptr);
  EXPECT_NE(c->stmt.proc.testData, nullptr);
  EXPECT_EQ(c->stmt.proc.nameLen, 30);
  EXPECT_EQ(c->seed, 123);
  EXPECT_EQ(c->maxMacro, -5); // no lower bound
  EXPECT_EQ(c->noprint, 1);
  EXPECT_EQ(c->design.design->parmLabelStyle, 0);
  ASSERT_EQ(c->design.design->separatorLength, 1);
  EXPECT_EQ(c->design.design->separatorText[0], '#');
}

TEST(ParseProc, ByFreqWeight) {
  auto r = parse("data=d; by g descending k notsorted; freq f; weight w; model y=x1;");
  ASSERT_EQ(r.result, 0);
  const VsfProcSettings& p = r.ctx->stmt.proc;
  ASSERT_EQ(p.byCount, 2);
  EXPECT_EQ(p.byNumbers[0], 11);
  EXPECT_EQ(p.byNumbers[1], 12);
  EXPECT_EQ(p.byDescending[0], 0);
  EXPECT_EQ(p.byDescending[1], 1);
  EXPECT_EQ(p.byNotsorted, 1);
  EXPECT_TRUE(p.freqGiven && p.weightGiven && p.freqOrWeight);
  ASSERT_NE(p.freqVar, nullptr);
  EXPECT_EQ(p.freqVar->number, 9);
  EXPECT_EQ(p.weightVar->number, 8);
  r = parse("data=d; by g k x1; model y=x1;");
  EXPECT_EQ(r.ctx->stmt.proc.byCount, 3);
  // Data not in BY order is refused by the data set's BY set-up.
  r = parse("data=d; by k; model y=x1;");
  EXPECT_TRUE(r.anyError());
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
}

TEST(ParseProc, OutDesignAndShortNames) {
  auto r =
      parse("data=d outdesign(fullmodel names prefix=col)=od shortparmnames$='s_'; model y=x1;");
  ASSERT_EQ(r.result, 0);
  const VsfProcSettings& p = r.ctx->stmt.proc;
  EXPECT_NE(p.outDesign, nullptr);
  EXPECT_EQ(r.ctx->options.hasOutDesign, 1);
  EXPECT_EQ(p.outDesignFull, 1);
  EXPECT_EQ(p.outDesignNames, 1);
  EXPECT_EQ(p.outDesignDefaultPrefix, 0);
  ASSERT_EQ(p.outDesignPrefixLength, 3);
  EXPECT_EQ(std::string(p.outDesignPrefix, 3), "col");
  EXPECT_EQ(r.ctx->design.design->shortParmNames, 1);
  EXPECT_EQ(r.ctx->design.design->shortNameLength, 2);
}

TEST(ParsePlots, DefaultsWithoutPlots) {
  auto r = parse("data=d; model y=x1;");
  const VsfPlotSettings& g = r.ctx->stmt.plots;
  EXPECT_EQ(g.coefLevel + g.aseLevel + g.critLevel + g.selgLevel + g.candLevel, 0);
  EXPECT_EQ(g.maxStepLabel, 20);
  EXPECT_EQ(g.maxParmLabel, 32);
  EXPECT_DOUBLE_EQ(g.coefLabelGap, 0.05);
  EXPECT_DOUBLE_EQ(g.selgEmphasis, 1.0);
  EXPECT_EQ(g.pdPerPanel, 9);
  EXPECT_DOUBLE_EQ(g.espMinPct, -1.0);
  EXPECT_EQ(g.espOrder, VsfOrder::Descending);
  EXPECT_EQ(g.startStep, -1);
  EXPECT_EQ(g.endStep, 2147483647);
}

TEST(ParsePlots, LevelsAndMessages) {
  auto r = parse("data=d plots=all; model y=x1;");
  const VsfPlotSettings* g = &r.ctx->stmt.plots;
  EXPECT_EQ(g->coefLevel, 2);
  EXPECT_EQ(g->critLevel, 2);
  EXPECT_EQ(g->espLevel, 2); // by ALL, no MODELAVERAGE needed
  EXPECT_FALSE(r.has(VsfMsg::PlotsEffectselectpctNeedsModelaverage));
  r = parse("data=d plots=(all coefficients); model y=x1;");
  EXPECT_EQ(r.ctx->stmt.plots.coefLevel, 3);
  r = parse("data=d plots=(none criteria); model y=x1;");
  EXPECT_TRUE(r.has(OptionMsg::PlotsNoneTurnsOff));
  EXPECT_EQ(r.ctx->stmt.plots.graphicsEnabled, 0);
  r = parse("data=d plots(unpack); model y=x1;");
  EXPECT_TRUE(r.has(OptionMsg::PlotsWithoutList));
  EXPECT_EQ(r.ctx->stmt.plots.graphicsEnabled, 0);
  r = parse("data=d noprint plots=all; model y=x1;");
  EXPECT_TRUE(r.has(OptionMsg::GraphsOffUnderNoprint));
  r = parse("data=d plots(startstep=5 endstep=2)=criteria; model y=x1;");
  EXPECT_TRUE(r.has(VsfMsg::StartstepLargerThanEndstep));
  EXPECT_EQ(r.ctx->stmt.plots.startStep, -1);
  EXPECT_EQ(r.ctx->stmt.plots.endStep, 2147483647);
  EXPECT_EQ(r.ctx->stmt.plots.pdPerPanel, 0); // left unread after the correction
  r = parse("data=d plots=effectselectpct; model y=x1;");
  EXPECT_TRUE(r.has(VsfMsg::PlotsEffectselectpctNeedsModelaverage));
  EXPECT_EQ(r.ctx->stmt.plots.espLevel, 0);
  EXPECT_EQ(r.ctx->returnCode, 4);
  r = parse("data=d plots=parmdist; model y=x1;");
  EXPECT_TRUE(r.has(VsfMsg::PlotsParmdistNeedsModelaverage));
  EXPECT_EQ(r.ctx->returnCode, 0);
  r = parse("data=d plots=effectselectpct(minpct=5 order=ascending); model y=x1; modelaverage;");
  EXPECT_EQ(r.ctx->stmt.plots.espLevel, 1);
  EXPECT_DOUBLE_EQ(r.ctx->stmt.plots.espMinPct, 5);
  EXPECT_EQ(r.ctx->stmt.plots.espOrder, VsfOrder::Ascending);
}

TEST(ParsePlots, OwnSlotsForEachOption) {
  // Each option keeps its own value: the label style, the coefficient plot's step axis, the
  // short-name text, the emphasis factor and the ASE and criterion step axes.
  auto r = parse("data=d parmlabelstyle=separatecompact shortparmnames$='abc'"
                 " plots(stepaxis=number)=(coefficients(stepaxis=normb labelgap=10)"
                 " selectogram$(emphasis=0.25) ase(stepaxis=effect) criteria(stepaxis=normb));"
                 " model y=x1;");
  ASSERT_EQ(r.result, 0);
  const VsfPlotSettings& g = r.ctx->stmt.plots;
  EXPECT_EQ(r.ctx->design.design->parmLabelStyle, 2);
  EXPECT_EQ(r.ctx->design.design->shortNameLength, 3);
  EXPECT_EQ(g.coefStepAxis, VsfStepAxis::NormBeta);
  EXPECT_DOUBLE_EQ(g.coefLabelGap, 0.1);
  EXPECT_DOUBLE_EQ(g.selgEmphasis, 0.25);
  EXPECT_EQ(g.aseStepAxis, VsfStepAxis::StepLabel);
  EXPECT_EQ(g.critStepAxis, VsfStepAxis::NormBeta);
  r = parse("data=d plots(stepaxis=effect)=(ase criteria); model y=x1;");
  EXPECT_EQ(r.ctx->stmt.plots.aseStepAxis, VsfStepAxis::StepLabel);
  EXPECT_EQ(r.ctx->stmt.plots.critStepAxis, VsfStepAxis::StepLabel);
  EXPECT_EQ(r.ctx->design.design->parmLabelStyle, 1);
}

TEST(ParseClass, DefaultsAndCodings) {
  auto r = parse("data=d; class a b; model y=a b;");
  ASSERT_EQ(r.result, 0);
  LevDesign* d = r.ctx->design.design;
  EXPECT_FALSE(has(d->designFlags, LevDesignFlag::NonGlm));
  const LevVariable* a = classVar(r.ctx, 5);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->coding, 0);
  EXPECT_EQ(a->order, 'M');
  EXPECT_EQ(a->descending, 0);
  EXPECT_EQ(a->cprefix, -1);
  EXPECT_EQ(a->lprefix, -1);
  EXPECT_EQ(r.ctx->stmt.cls.delimiter, ' ');

  r = parse("data=d; class a(param=ref) b / param=effect; model y=a b;");
  EXPECT_EQ(classVar(r.ctx, 5)->coding, 2);
  EXPECT_EQ(classVar(r.ctx, 6)->coding, 0);
  EXPECT_TRUE(has(r.ctx->design.design->designFlags, LevDesignFlag::NonGlm));
  EXPECT_FALSE(r.has(VsfMsg::ParamGivenForSomeClassOnly));

  r = parse("data=d; class a(param=ref) b; model y=a b;");
  EXPECT_TRUE(r.has(VsfMsg::ParamGivenForSomeClassOnly));
  EXPECT_EQ(classVar(r.ctx, 6)->coding, 0);

  r = parse("data=d; class a(param=ref) / param=glm; model y=a;");
  EXPECT_TRUE(r.has(VsfMsg::GlmCodingIgnoresParam));
  EXPECT_EQ(classVar(r.ctx, 5)->coding, 2);
}

TEST(ParseClass, OrderReferenceAndSwitches) {
  auto r = parse("data=d; class a(order=freq ref='  v') b(param=ordinal ref='q') c"
                 " / order=data ref=last descending split; model y=a b c;");
  ASSERT_EQ(r.result, 0);
  const LevVariable* a = classVar(r.ctx, 5);
  const LevVariable* b = classVar(r.ctx, 6);
  const LevVariable* c = classVar(r.ctx, 7);
  EXPECT_EQ(a->order, 'F');
  EXPECT_EQ(c->order, 'D');
  EXPECT_EQ(a->referenceSelector, -3);
  ASSERT_NE(a->referenceText, nullptr);
  EXPECT_STREQ(a->referenceText, "v");
  EXPECT_EQ(b->referenceSelector, -1); // ORDINAL forces FIRST
  EXPECT_EQ(c->referenceSelector, -2);
  EXPECT_EQ(a->descending + b->descending + c->descending, 3);
  EXPECT_EQ(a->split + c->split, 2);
  EXPECT_EQ(r.ctx->stmt.cls.splitAll, 1);
  EXPECT_EQ(r.ctx->options.split, 1);

  r = parse("data=d; class a(missing param=poly) b(split) / truncate=10 showcoding delimiter='|';"
            " model y=a b;");
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(classVar(r.ctx, 5)->missing, 0);
  EXPECT_TRUE(r.has(HostMsg::MissingIgnoredForPolyCoding));
  EXPECT_EQ(r.ctx->stmt.cls.splitCount, 1);
  EXPECT_EQ(r.ctx->stmt.cls.splitAll, 0);
  EXPECT_EQ(classVar(r.ctx, 6)->split, 1);
  EXPECT_EQ(r.ctx->design.design->levelWidthOption, 10);
  EXPECT_EQ(r.ctx->stmt.cls.showCoding, 1);
  EXPECT_EQ(r.ctx->stmt.cls.delimiter, '|');

  r = parse("data=d; class a / truncate delimiter='ab'; model y=a;");
  EXPECT_EQ(r.ctx->design.design->levelWidthOption, 0);
  EXPECT_TRUE(r.has(VsfMsg::DelimiterFirstCharacterOnly));
  EXPECT_EQ(r.ctx->stmt.cls.delimiter, 'a');
}

TEST(ParseClass, Prefixes) {
  auto r = parse("data=d; class a(cprefix=2) b / lprefix=0; model y=a b;");
  ASSERT_EQ(r.result, 0);
  EXPECT_TRUE(r.has(VsfMsg::CprefixOnlyWithInterlaced));
  EXPECT_TRUE(r.has(VsfMsg::LprefixOnlyWithInterlaced));
  EXPECT_EQ(r.ctx->returnCode, 4);
  EXPECT_EQ(classVar(r.ctx, 5)->cprefix, 2);
  EXPECT_EQ(classVar(r.ctx, 6)->cprefix, -1);
  EXPECT_EQ(classVar(r.ctx, 6)->lprefix, 0);
  r = parse("data=d parmlabelstyle=interlaced; class a(cprefix=1); model y=a;");
  EXPECT_FALSE(r.has(VsfMsg::CprefixOnlyWithInterlaced));
  EXPECT_EQ(r.ctx->returnCode, 0);
}

} // namespace
