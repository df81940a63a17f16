// Parameter names and labels: INTERLACED names made unique (the counter rules and the
// 32-character limit), SEPARATE and SEPARATECOMPACT labels aligned on the effect names,
// the CLASS delimiter, prefixed name parts of orthogonal codings, short names that stay
// unique across effects, and the single-level note.
#include "designfixture.h"

#include "design/levnames.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using designtest::DesignFixture;
using Texts = std::vector<std::string>;

namespace {

// Runs UniqDups over the given names.
Texts unique(DesignFixture& f, const Texts& names) {
  f.des.columnCount = static_cast<int32_t>(names.size());
  f.des.columnNames = levArray<char*>(f.block.pool, names.size());
  for (size_t k = 0; k < names.size(); ++k) {
    f.des.columnNames[k] = levArray<char>(f.block.pool, names[k].size() + 1);
    std::memcpy(f.des.columnNames[k], names[k].data(), names[k].size());
  }
  UniqDups(&f.ctx);
  Texts out;
  for (size_t k = 0; k < names.size(); ++k)
    out.emplace_back(f.des.columnNames[k]);
  return out;
}

TEST(Names, DuplicatesGetCounters) {
  DesignFixture f;
  f.block.pool = xmpoolc(nullptr, 1024, 0x1004);
  EXPECT_EQ(unique(f, {"A", "A", "A"}), (Texts{"A", "A2", "A3"}));
  EXPECT_EQ(unique(f, {"A2", "A", "A"}), (Texts{"A2", "A", "A3"}));
  EXPECT_EQ(unique(f, {"N", "B", "N", "B"}), (Texts{"N", "B", "N2", "B2"}));
}

TEST(Names, LongDuplicatesAreCutToMakeRoomForTheCounter) {
  DesignFixture f;
  f.block.pool = xmpoolc(nullptr, 1024, 0x1004);
  const std::string longName(32, 'v');
  Texts names(99, "");
  for (size_t k = 0; k < names.size(); ++k)
    names[k] = std::string("c").append(std::to_string(k));
  names[10] = longName;
  names[20] = longName;
  Texts out = unique(f, names);
  EXPECT_EQ(out[10], longName);
  EXPECT_EQ(out[20], std::string(31, 'v') + "2");
}

struct Labels : ::testing::Test {
  DesignFixture f;
  void SetUp() override {
    f.data("A,B,x,y\n1,u,1,1\n2,v,2,2\n2,u,3,3\n");
    f.design({"A", "B"}, {"x"},
             {{"A", {}, {"A"}, {}}, {"A*B", {}, {"A", "B"}, {}}, {"x", {"x"}, {}, {}}});
    f.response("y");
    f.des.designFlags.set(LevDesignFlag::NonGlm);
    f.cls("A")->coding = CC_REFERENCE;
    f.cls("B")->coding = CC_REFERENCE;
  }
  Texts labels() const {
    Texts out;
    for (int32_t k = 0; k < f.des.columnCount; ++k)
      out.emplace_back(f.des.columnLabels[k]);
    return out;
  }
  Texts names() const {
    Texts out;
    for (int32_t k = 0; k < f.des.columnCount; ++k)
      out.emplace_back(f.des.columnNames[k]);
    return out;
  }
};

TEST_F(Labels, SeparateAlignsLevelTextsOnTheLongestEffectName) {
  f.des.parmLabelStyle = 1;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  // Effects Intercept, A, A*B, x; W = 9 ("Intercept"). Levels A: 1 2 (ref 2), B: u v (ref v).
  // Labels run to W at least: the continuous effect x is padded like the Intercept.
  EXPECT_EQ(labels(), (Texts{"Intercept", "A         1", "A*B       1 u", "x        "}));
  // Names: the label's first 32 characters made a valid name.
  EXPECT_EQ(names(), (Texts{"Intercept", "A_1", "A_B_1_u", "x"}));
}

TEST_F(Labels, SeparateCompactAndTheDelimiter) {
  f.des.parmLabelStyle = 2;
  f.des.delimiter = ':';
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(labels(), (Texts{"Intercept", "A 1", "A*B 1:u", "x"}));
}

TEST_F(Labels, OrthogonalCodingsNameLevelsByNumber) {
  f.des.parmLabelStyle = 2;
  f.cls("A")->coding = CC_ORTHEFFECT;
  f.cls("B")->coding = CC_ORTHPOLY;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(labels(), (Texts{"Intercept", "A OEFF1", "A*B OEFF1 OPOLY1", "x"}));
  char out[64];
  const int32_t levels[2] = {0, 0};
  int32_t n = zlevEfLevelLabel(&f.des, &f.des.effects[2], out, levels);
  EXPECT_EQ(std::string(out, static_cast<size_t>(n)), " OEFF1 OPOLY1");
  EXPECT_GE(zlevLenLevelLabel(&f.des, &f.des.effects[2], levels), n);
}

TEST_F(Labels, ShortNamesStayUniqueAcrossEffects) {
  f.des.parmLabelStyle = 1;
  f.des.shortParmNames = 1;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  Texts got = names();
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()).size(), got.size());
  EXPECT_EQ(got[0].substr(0, 2), "_X");
}

TEST_F(Labels, InterlacedNamesAreUniqueAndStartWithTheIntercept) {
  f.des.parmLabelStyle = 0;
  f.des.designFlags.clear(LevDesignFlag::NonGlm);
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  Texts got = names();
  ASSERT_EQ(f.des.columnCount, 1 + 2 + 3 + 1);
  EXPECT_EQ(got[0], "Intercept");
  EXPECT_EQ(std::string(f.des.columnLabels[0]), "Intercept");
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()).size(), got.size());
  // Every name is a valid name; the labels carry the level texts.
  for (const std::string& n : got)
    for (char c : n)
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '_') << n;
  EXPECT_NE(std::string(f.des.columnLabels[1]).find('1'), std::string::npos);
  EXPECT_NE(std::string(f.des.columnLabels[3]).find('u'), std::string::npos);
  EXPECT_EQ(got[1], "A1");
  EXPECT_EQ(std::string(f.des.columnLabels[1]), "A 1");
  // A continuous variable without a label is labelled by its name.
  EXPECT_EQ(std::string(f.des.columnLabels[6]), "x");
}

TEST(Names, SingleLevelNote) {
  DesignFixture f;
  f.data("A,y\nonly,1\nonly,2\n");
  f.design({"A"}, {}, {{"A", {}, {"A"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  f.messages();
  zlevchk(&f.ctx);
  EXPECT_EQ(f.messages(), std::vector<MsgId>{LevMsg::ClassVariableOneLevel});
}

} // namespace

namespace {

TEST_F(Labels, NamesAfterTheFitWhenTheGroupLeftThemToLaterPasses) {
  // The MODEL statement's flag leaves tables and names to the passes after the fit.
  f.des.designFlags.set(LevDesignFlag::ByGroup);
  f.des.parmLabelStyle = 2;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.des.columnNames, nullptr);
  zlevParmName(&f.ctx, 0, nullptr);
  EXPECT_EQ(labels(), (Texts{"Intercept", "A 1", "A*B 1 u", "x"}));
  f.des.parmLabelStyle = 0;
  zlevParmName(&f.ctx, 0, nullptr);
  EXPECT_EQ(std::string(f.des.columnLabels[1]), "A 1");
}

} // namespace
