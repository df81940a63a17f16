// Every alias and hidden keyword of every statement leaves the node of its advertised
// keyword: each group of spellings is parsed in the same statement and the nodes compared.
#include "parse_harness.h"

#include "support/driverresult.h"
#include "support/parsedstmt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using parsetest::parse;

namespace {

// A printable summary of a node: its name, flags and present slots with their values.
std::string signature(const ParsedStatement* s) {
  if (!s)
    return "(none)";
  std::string out(s->name, 32);
  char buf[64];
  for (int k = 0; k < 320; ++k)
    if (stmtFlagAt(s, k)) {
      std::snprintf(buf, sizeof buf, " f%d", k);
      out += buf;
    }
  for (int k = 0; k < s->slotCount; ++k) {
    const OptionSlot* sl = stmtSlotAt(s, k);
    if (!sl)
      continue;
    std::snprintf(buf, sizeof buf, " s%d:%d:", k, sl->kind);
    out += buf;
    switch (sl->kind) {
    case OSK_NUMBER:
      std::snprintf(buf, sizeof buf, "%g", sl->value.number);
      out += buf;
      break;
    case OSK_INTLIST:
      for (int i = 0; i < sl->value.list.count; ++i)
        out += std::to_string(sl->items.ints[i]) + ",";
      break;
    case OSK_DBLLIST:
      for (int i = 0; i < sl->value.list.count; ++i)
        out += std::to_string(sl->items.doubles[i]) + ",";
      break;
    case OSK_DATASET:
      out += "ds";
      break;
    case OSK_TEXT:
      out += std::string(sl->items.text, sl->value.list.count);
      break;
    default:
      out += std::to_string(sl->value.list.count);
    }
  }
  return out;
}

struct Group {
  const char* statement; // the program after "data=d;" with %s for the spelling
  const char* node;      // node to compare
  std::vector<const char*> spellings;
};

std::string fill(const char* pattern, const char* word) {
  std::string s(pattern);
  size_t at = s.find("%s");
  return s.substr(0, at) + word + s.substr(at + 2);
}

const std::vector<Group>& groups() {
  static const std::vector<Group> g = {
      // procedure statement
      {"data=d %s=e; model y=x1;",
       "VARSIFTER",
       {"valdata", "validdata$", "validdata", "vdata$", "vdata"}},
      {"data=d %s=e; model y=x1;", "VARSIFTER", {"testdata", "tdata$", "tdata"}},
      {"data=d %s=(criteria); model y=x1;", "VARSIFTER", {"plots", "plot"}},
      {"data=d %s=separate; model y=x1;", "VARSIFTER", {"parmlabelstyle", "lstyle$", "lstyle"}},
      {"data=d parmlabelstyle=%s; model y=x1;",
       "VARSIFTER",
       {"interlaced", "interlace$", "interlace"}},
      {"data=d parmlabelstyle=%s; model y=x1;",
       "VARSIFTER",
       {"separate", "separated$", "separated"}},
      {"data=d parmlabelstyle=%s; model y=x1;",
       "VARSIFTER",
       {"separatecompact", "separatedcompact$", "separatedcompact"}},
      {"data=d %s=o; model y=x1;", "VARSIFTER", {"outdesign", "design$", "design"}},
      {"data=d %s; model y=x1;", "VARSIFTER", {"showinternaltables$", "showinternaltables"}},
      {"data=d plots(%s)=all; model y=x1;", "VARSIFTER", {"unpack", "unpackpanel"}},
      {"data=d plots(%s)=all; model y=x1;", "VARSIFTER", {"logp", "logpvalue$", "logpvalue"}},
      {"data=d plots(stepaxis=%s)=all; model y=x1;",
       "VARSIFTER",
       {"normb", "normbeta$", "normbeta"}},
      {"data=d plots=%s; model y=x1;",
       "VARSIFTER",
       {"coefficients", "coefficientpanel$", "coefficient$", "coefficient"}},
      {"data=d plots=%s; model y=x1;", "VARSIFTER", {"candidates", "candidatesplot$"}},
      {"data=d plots=%s; model y=x1;", "VARSIFTER", {"ase", "aseplot$", "aseplot"}},
      {"data=d plots=%s; model y=x1;", "VARSIFTER", {"criteria", "criterionpanel$", "criterion$"}},
      {"data=d plots=%s; model y=x1;",
       "VARSIFTER",
       {"effectselectpct", "selectpct", "effectselectpctplot$"}},
      {"data=d plots=%s; model y=x1;",
       "VARSIFTER",
       {"parmdist", "parmdistribution", "parmdistpanel$"}},
      {"data=d plots=coefficients(%s); model y=x1;", "VARSIFTER", {"unpack", "unpackpanel"}},
      {"data=d plots=selectogram$(%s); model y=x1;", "VARSIFTER", {"normalizedcriteria", "normc"}},
      {"data=d plots=selectogram$(%s=0.5); model y=x1;",
       "VARSIFTER",
       {"emphasisfactor", "emphasis"}},
      {"data=d plots=parmdist(%s=5); model y=x1;", "VARSIFTER", {"minpct", "minpercent$"}},
      // BY, CLASS, FREQ, WEIGHT
      {"data=d; %s f; model y=x1;", "VARSIFTER", {"freq", "frequency"}},
      {"data=d; %s w; model y=x1;", "VARSIFTER", {"weight", "weights$", "weights"}},
      {"data=d; class a(%s=ref); model y=x1;", "VARSIFTER", {"param", "coding"}},
      {"data=d; class a / param=%s; model y=x1;", "VARSIFTER", {"ref", "reference"}},
      {"data=d; class a / param=%s; model y=x1;", "VARSIFTER", {"poly", "polynomial"}},
      {"data=d; class a / param=%s; model y=x1;",
       "VARSIFTER",
       {"ordinal", "ord", "thermometer", "therm"}},
      {"data=d; class a / param=%s; model y=x1;", "VARSIFTER", {"orthordinal", "orthotherm"}},
      {"data=d; class a / param=%s; model y=x1;", "VARSIFTER", {"bath$", "bathtub$", "bathtub"}},
      {"data=d; class a / param=%s; model y=x1;", "VARSIFTER", {"orthbath$", "orthbathtub$"}},
      {"data=d; class a(%s=first); model y=x1;", "VARSIFTER", {"ref", "reference"}},
      {"data=d; class a / %s; model y=x1;", "VARSIFTER", {"descending", "desc"}},
      {"data=d; class a / %s; model y=x1;", "VARSIFTER", {"showcoding", "show"}},
      // MODEL
      {"data=d; model y=x1 / %s=(all);", "MODEL", {"stats", "statistics", "stat"}},
      {"data=d; model y=x1 / stats=%s;", "MODEL", {"sl", "significancelevel"}},
      {"data=d; model y=x1 / details=steps(%s);", "MODEL", {"fit", "fitstats", "fitstatistics"}},
      {"data=d; model y=x1 / details=steps(%s);", "MODEL", {"parmest", "parameterestimates"}},
      {"data=d; model y=x1 / %s=single;", "MODEL", {"hierarchy", "hier"}},
      {"data=d; model y=x1 / %s=block;", "MODEL", {"cvmethod", "xvmethod$", "xvmethod"}},
      {"data=d; model y=x1 / %s;", "MODEL", {"showpvalues", "showpvals"}},
      {"data=d; model y=x1 / %s=0.2;", "MODEL", {"slentry", "sle"}},
      {"data=d; model y=x1 / %s=0.2;", "MODEL", {"slstay", "sls"}},
      {"data=d; model y=x1 / %s=3;", "MODEL", {"maxsteps", "maxstep"}},
      {"data=d; model y=x1 / select=%s;", "MODEL", {"cv", "crossvalidate", "xvalidate$"}},
      {"data=d; model y=x1 / choose=%s;", "MODEL", {"cvex", "cvexternal", "excv"}},
      {"data=d; model y=x1 / selection=lasso(%s);", "MODEL", {"lscoeffs", "leastsquarescoeffs"}},
      {"data=d; model y=x1 / selection=lasso(adaptive(%s=e));", "MODEL", {"inest", "in"}},
      {"data=d; model y=x1 / selection=%s;", "MODEL", {"qklasso$", "qklasso"}},
      {"data=d; model y=x1 / %s;", "MODEL", {"nostandardize$", "nostandardize"}},
      // EFFECT
      {"data=d; effect e = %s(x1 x2); model y=x1;", "EFFECT", {"multimember", "mm"}},
      {"data=d; effect e = %s(x1 x2); model y=x1;",
       "EFFECT",
       {"collection", "variables$", "vars$", "vars"}},
      {"data=d; effect e = %s(x1); model y=x1;", "EFFECT", {"spline", "spl"}},
      {"data=d; effect e = %s(x1); model y=x1;", "EFFECT", {"poly", "polynomial"}},
      {"data=d; effect e = spline(x1 / %s); model y=x1;",
       "EFFECT",
       {"naturalcubic", "natural", "restricted"}},
      {"data=d; effect e = spline(x1 / knotmethod=multiscale(%s=1)); model y=x1;",
       "EFFECT",
       {"startlevel", "startscale$"}},
      {"data=d; effect e = poly(x1 / %s=2); model y=x1;", "EFFECT", {"mdegree", "monomialdegree"}},
      {"data=d; effect e = mm(x1 x2 / %s); model y=x1;", "EFFECT", {"stdize", "rowstd"}},
      // PARTITION, OUTPUT, SCORE
      {"data=d; model y=x1; partition %s=r(train='TRAIN');",
       "PARTITION",
       {"rolevar", "role", "var"}},
      {"data=d; model y=x1; partition %s(validate=0.2);",
       "PARTITION",
       {"fraction", "frac$", "frac"}},
      {"data=d; model y=x1; partition fraction(%s=0.2);",
       "PARTITION",
       {"validate", "val$", "valid$"}},
      {"data=d; model y=x1; output out=o %s=p1;", "OUTPUT", {"pred", "predicted", "p"}},
      {"data=d; model y=x1; output out=o %s=r1;", "OUTPUT", {"resid", "residual", "r"}},
      {"data=d; model y=x1; output out=o %s;", "OUTPUT", {"samplepred", "sp"}},
      {"data=d; model y=x1; output out=o %s;", "OUTPUT", {"samplefreq", "sf"}},
      {"data=d; model y=x1; output out=o %s;", "OUTPUT", {"stddev", "standarddeviation"}},
      {"data=d; model y=x1; output out=o %s;", "OUTPUT", {"upper", "upperquantile$", "uquant$"}},
      {"data=d; model y=x1; output out=o %s;", "OUTPUT", {"lower", "lowerquantile$", "lquant$"}},
      {"data=d; model y=x1; score data=e out=s %s;", "SCORE", {"median", "med"}},
      // PERFORMANCE, MODELAVERAGE
      {"data=d; model y=x1; performance %s;", "PERFORMANCE", {"alldetails$", "alldetails"}},
      {"data=d; model y=x1; performance %s=4;", "PERFORMANCE", {"util_buffers$", "util_buffers"}},
      {"data=d; model y=x1; modelaverage %s=srs;",
       "MODELAVERAGE",
       {"sampling", "samplingmethod", "samplemethod$"}},
      {"data=d; model y=x1; modelaverage sampling=urs(%s=50);",
       "MODELAVERAGE",
       {"pct", "percentage", "percent", "samppercent$"}},
      {"data=d; model y=x1; modelaverage sampling=urs(%s=5);",
       "MODELAVERAGE",
       {"size", "sampsize$"}},
      {"data=d; model y=x1; modelaverage %s=all;", "MODELAVERAGE", {"tables", "show"}},
      {"data=d; model y=x1; modelaverage %s=50;", "MODELAVERAGE", {"parmthreshold$", "threshold$"}},
      {"data=d; model y=x1; modelaverage averagemethod$=%s;",
       "MODELAVERAGE",
       {"meannonzero", "meannz"}},
      {"data=d; model y=x1; modelaverage tables=%s;",
       "MODELAVERAGE",
       {"effectselectpct", "effectselpercent$"}},
  };
  return g;
}

TEST(ParseAliases, EverySpellingLeavesTheSameNode) {
  for (const Group& g : groups()) {
    std::string want;
    for (const char* word : g.spellings) {
      std::string text = fill(g.statement, word);
      auto r = parse(text);
      EXPECT_FALSE(r.ctx->syntaxError) << text;
      for (const auto& rec : r.log)
        EXPECT_NE(rec.set, 612) << text << ": " << rec.text;
      std::string sig = signature(parsetest::node(g.node));
      if (want.empty())
        want = sig;
      else
        EXPECT_EQ(sig, want) << text;
    }
  }
}

TEST(ParseAliases, HiddenAliasesCountAsTheirStatement) {
  // WEIGHTS and FREQUENCY are counted like WEIGHT and FREQ: a repeat is refused.
  auto r = parse("data=d; weight w; weights$ w; model y=x1;");
  EXPECT_TRUE(r.has(VsfMsg::OnlyOneWeightStatement));
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
  r = parse("data=d; frequency f; freq f; model y=x1;");
  EXPECT_TRUE(r.has(VsfMsg::OnlyOneFreqStatement));
}

} // namespace
