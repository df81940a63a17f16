// The design descriptor: variables and level widths, constructed effects from EFFECT
// statements (splines, polynomials, lags, collections, multimember effects), model effects
// with their split combinations and names.
#include "failingpool.h"
#include "fakehost.h"

#include "effects/levmod.h"
#include "effects/levmodef.h"
#include "effects/levnames.h"
#include "effects/levpoly.h"
#include "effects/levspline.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using efftest::FakeHost;
using Names = std::vector<std::string>;

namespace {

struct DesignTest : ::testing::Test {
  FakeHost host;
  LevDesign design{};
  ParsedStatement* modelStmt = nullptr;

  void SetUp() override {
    for (const char* v : {"y", "b", "c", "x", "x1", "x2", "x3", "z", "w1", "w2", "g", "t", "s"})
      host.addVar(v);
    host.addVar("a", 2, 4);
    host.addVar("name", 2, 30);
    host.setClass({"a", "b"});
    design.levelWidthOption = -1; // no TRUNCATE
  }
  // EFFECT name = kind(vars) with options set by `options` on the node.
  ParsedStatement* effect(const std::string& name, EffectVarKind kind, const Names& vars) {
    ParsedStatement* s = host.addStatement("EFFECT");
    host.setNameList(s, 1, {name});
    host.setNumber(s, 2, static_cast<int>(kind));
    host.setVarList(s, 3, vars);
    return s;
  }
  VsfStatus build(const std::string& effects, int nameLen = 20) {
    modelStmt = host.model(effects, nameLen);
    EXPECT_EQ(host.root.status, 0);
    return zlevmod(&design, host.dataSet, 1, 2, modelStmt, 1, 0, 0);
  }
  Names effectNames() const {
    Names names;
    for (int32_t i = 0; i < design.effectCount; ++i)
      names.emplace_back(design.effects[i].name ? design.effects[i].name : "(null)");
    return names;
  }
  Names constructedNames() const {
    Names names;
    for (int32_t i = 0; i < design.constructedCount; ++i)
      names.emplace_back(design.constructed[i].name, design.constructed[i].nameLength);
    return names;
  }
};

TEST_F(DesignTest, ContinuousEffectsGiveInterceptThenEffects) {
  ASSERT_EQ(build("x1 x2"), VsfStatus::Ok);
  EXPECT_EQ(effectNames(), (Names{"Intercept", "x1", "x2"}));
  EXPECT_EQ(design.numericCount, 2);
  EXPECT_EQ(design.effects[2].continuousCount, 1);
  EXPECT_EQ(design.effects[2].continuous[0], 1);
  EXPECT_EQ(design.effects[0].continuousCount, 0);
  EXPECT_EQ(design.nameLen, 20);
}

TEST_F(DesignTest, BarExpansionWithInterceptInFront) {
  host.setClass({"a", "b", "c"});
  ASSERT_EQ(build("a|b|c @2"), VsfStatus::Ok);
  EXPECT_EQ(effectNames(), (Names{"Intercept", "a", "b", "a*b", "c", "a*c", "b*c"}));
  const LevEffect& ab = design.effects[3];
  EXPECT_EQ(ab.crossedCount, 2);
  EXPECT_EQ(ab.allClassCount, 2);
  EXPECT_EQ(ab.constructedCount, 0);
  EXPECT_EQ(ab.levelVars, ab.allClass); // shared, not a copy
}

TEST_F(DesignTest, ClassLevelWidthsAndOffsets) {
  host.addVar("f", 1, 8, 8);
  host.setClass({"name", "b", "f"});
  ASSERT_EQ(build("x"), VsfStatus::Ok);
  ASSERT_EQ(design.classCount, 3);
  EXPECT_EQ(design.classes[0].levelWidth, 30);
  EXPECT_EQ(design.classes[1].levelWidth, 12);
  EXPECT_EQ(design.classes[2].levelWidth, 8);
  EXPECT_EQ(design.classes[1].levelTextOffset, 30);
  EXPECT_EQ(design.classes[2].levelTextOffset, 42);
  EXPECT_EQ(design.totalLevelWidth, 50);
  EXPECT_EQ(design.maxLevelWidth, 30);
  EXPECT_EQ(design.classes[0].order, 'U');
  EXPECT_EQ(design.classes[0].referenceSelector, -2);
  EXPECT_EQ(design.classes[0].cprefix, -1);
}

TEST_F(DesignTest, TruncateOptionGivesOneWidthForAll) {
  host.setClass({"name", "b"});
  design.levelWidthOption = 0;
  ASSERT_EQ(build("x"), VsfStatus::Ok);
  EXPECT_EQ(design.classes[0].levelWidth, 16);
  EXPECT_EQ(design.classes[1].levelWidth, 16);
  LevDesign five{};
  five.levelWidthOption = 5;
  five.effectStatementsDone = 1;
  ASSERT_EQ(zlevmod(&five, host.dataSet, 1, 2, modelStmt, 1, 0, 0), VsfStatus::Ok);
  EXPECT_EQ(five.classes[0].levelWidth, 5);
  EXPECT_EQ(five.totalLevelWidth, 10);
}

TEST_F(DesignTest, NoClassStatementGivesNoClassRecords) {
  host.holder->slots[2] = OptionSlot{};
  ASSERT_EQ(build("x"), VsfStatus::Ok);
  EXPECT_EQ(design.classCount, 0);
  EXPECT_EQ(design.totalLevelWidth, 0);
}

TEST_F(DesignTest, PolynomialTermsInGradedOrder) {
  ParsedStatement* p = effect("p", EffectVarKind::Polynomial, {"x1", "x2"});
  host.setNumber(p, 15, 2);
  ASSERT_EQ(build("p"), VsfStatus::Ok);
  EXPECT_EQ(constructedNames(), (Names{"x1", "x2", "x1^2", "x1*x2", "x2^2"}));
  EXPECT_EQ(effectNames(), (Names{"Intercept", "x1", "x2", "x1^2", "x1*x2", "x2^2"}));
  EXPECT_EQ(design.constructedMap[0].parts, 5);
  EXPECT_EQ(design.constructed[0].firstPart, 1);
  EXPECT_EQ(design.constructed[3].continuation, 1);
  EXPECT_EQ(design.constructed[3].numericCount, 2);
  for (int32_t i = 0; i < 5; ++i)
    EXPECT_EQ(design.constructed[i].columnCount, 1);
  EXPECT_EQ(design.effects[1].splitCopy, 0);
  EXPECT_EQ(design.effects[2].splitCopy, 1);
}

TEST_F(DesignTest, PolynomialWithoutSeparationIsOneRecordOfAllTerms) {
  ParsedStatement* p = effect("p", EffectVarKind::Polynomial, {"x1", "x2"});
  host.setNumber(p, 15, 2);
  FakeHost::setFlag(p, 20);
  ASSERT_EQ(build("p"), VsfStatus::Ok);
  ASSERT_EQ(design.constructedCount, 1);
  const LevEftVar& r = design.constructed[0];
  EXPECT_EQ(std::string(r.name, static_cast<size_t>(r.nameLength)), "p");
  EXPECT_EQ(r.columnCount, 5);
  Names labels;
  for (int i = 0; i < 5; ++i)
    labels.emplace_back(r.termLabels[i], static_cast<size_t>(r.termLabelLengths[i]));
  EXPECT_EQ(labels, (Names{"x1", "x2", "x1^2", "x1*x2", "x2^2"}));
  EXPECT_EQ(r.maxLabelLength, 5);
  EXPECT_EQ(effectNames(), (Names{"Intercept", "p"}));
}

TEST_F(DesignTest, PolynomialLabelStyles) {
  ParsedStatement* e = effect("e", EffectVarKind::Polynomial, {"x", "y"});
  host.setNumber(e, 15, 3);
  host.setNumber(e, 21, 1);
  ParsedStatement* f = effect("f", EffectVarKind::Polynomial, {"x"});
  host.setNumber(f, 15, 2);
  FakeHost::setFlag(f, 24);
  ParsedStatement* g = effect("q", EffectVarKind::Polynomial, {"x", "y"});
  host.setNumber(g, 15, 3);
  FakeHost::setFlag(g, 23);
  host.setText(g, 18, "**");
  FakeHost::setFlag(g, 26);
  ParsedStatement* h = effect("p", EffectVarKind::Polynomial, {"x"});
  host.setNumber(h, 15, 2);
  FakeHost::setFlag(h, 25);
  FakeHost::setFlag(h, 21);
  ASSERT_EQ(build("x"), VsfStatus::Ok);
  Names names = constructedNames();
  // MDEGREE=1: only x, y and x*y; EXPAND: x*x; EXPONENT='**' without product: x**2y;
  // INCLUDENAME with STANDARDIZE: p_s_x and p_s_x^2.
  EXPECT_EQ(names, (Names{"x", "y", "x*y", "x", "x*x", "x", "y", "x**2", "xy", "y**2", "x**3",
                          "x**2y", "xy**2", "y**3", "p_s_x", "p_s_x^2"}));
  const PolyInfo* std = design.constructed[14].poly;
  EXPECT_EQ(std->standardize, PS_CENTERSCALE);
  EXPECT_EQ(std->stdMethod, PM_RANGE);
  EXPECT_NE(std->centers, nullptr);
  EXPECT_NE(std->scales, nullptr);
}

TEST_F(DesignTest, PolynomialWithClassVariableIsRefused) {
  effect("p", EffectVarKind::Polynomial, {"x", "b"});
  EXPECT_NE(build("x"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::PolynomialEffectCannotContain), 1);
  EXPECT_EQ(design.worstReturnCode, 1012);
}

TEST_F(DesignTest, CharacterVariableInSplineOrPolynomialIsRefused) {
  effect("sp", EffectVarKind::Spline, {"x", "name"});
  EXPECT_NE(build("x"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::ConstructedVariableIsCharacter), 1);
  EXPECT_EQ(design.worstReturnCode, 1012);
  for (int32_t i = 0; i < design.numericCount; ++i)
    EXPECT_NE(design.numerics[i].var, nullptr);
}

TEST_F(DesignTest, SplitSplineGivesOneRecordPerColumn) {
  ParsedStatement* s = effect("sp", EffectVarKind::Spline, {"x"});
  FakeHost::setFlag(s, 3);
  ASSERT_EQ(build("sp"), VsfStatus::Ok);
  Names expected;
  for (int i = 1; i <= 7; ++i)
    expected.push_back("sp:" + std::to_string(i));
  EXPECT_EQ(constructedNames(), expected);
  Names effects = expected;
  effects.insert(effects.begin(), "Intercept");
  EXPECT_EQ(effectNames(), effects);
  for (int32_t i = 1; i < 8; ++i)
    EXPECT_EQ(design.effects[i].constructed[0], i - 1);
  EXPECT_EQ(design.constructed[0].partTotal, 7);
  EXPECT_EQ(design.constructed[0].firstPart, 1);
  EXPECT_EQ(design.constructed[6].firstPart, 0);
  EXPECT_EQ(design.constructed[6].continuation, 1);
  EXPECT_NE(design.constructed[6].spline, design.constructed[0].spline);
}

TEST_F(DesignTest, MultiscaleSplineIsSplitByVariableAndScale) {
  ParsedStatement* s = effect("sp", EffectVarKind::Spline, {"x", "z"});
  host.setNumber(s, 13, KM_MULTISCALE);
  host.setNumber(s, 11, 0);
  host.setNumber(s, 12, 1);
  ASSERT_EQ(build("sp"), VsfStatus::Ok);
  EXPECT_EQ(constructedNames(), (Names{"sp_x_S0", "sp_x_S1", "sp_z_S0", "sp_z_S1"}));
  ASSERT_NE(design.constructed[3].spline->scale, nullptr);
  EXPECT_EQ(*design.constructed[3].spline->scale, 1);
  EXPECT_EQ(design.constructed[2].numeric[0], design.constructed[0].numeric[1]);
}

TEST_F(DesignTest, SelectionSplitFlagSplitsEverySpline) {
  effect("sp", EffectVarKind::Spline, {"x"});
  design.designFlags2 = LevDesignFlag2::SplineSplit;
  ASSERT_EQ(build("sp"), VsfStatus::Ok);
  EXPECT_EQ(design.constructedCount, 7);
  EXPECT_TRUE(design.constructed[0].spline->split);
  EXPECT_TRUE(design.constructed[0].spline->separate);
}

TEST_F(DesignTest, KnotListDropsSurplusRepeats) {
  ParsedStatement* s = effect("sp", EffectVarKind::Spline, {"x"});
  host.setNumber(s, 13, KM_LIST);
  host.setDoubles(s, 9, {5, 1, 1, 1, 1, 1, 3});
  ASSERT_EQ(build("sp"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::SplineKnotRepeatsCut), 1);
  const SplineInfo* info = design.constructed[0].spline;
  ASSERT_EQ(info->knotCount, 6);
  std::vector<double> knots(info->knotList, info->knotList + 6);
  EXPECT_EQ(knots, (std::vector<double>{1, 1, 1, 1, 3, 5}));
  EXPECT_EQ(design.worstReturnCode, 4);
}

TEST_F(DesignTest, ListWithBoundaryNeedsTwiceTheDegreeValues) {
  ParsedStatement* s = effect("sp", EffectVarKind::Spline, {"x"});
  host.setNumber(s, 13, KM_LISTWITHBOUNDARY);
  host.setDoubles(s, 9, {1, 2, 3, 4, 5});
  EXPECT_NE(build("sp"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::ListwithboundaryTooFewValues), 1);
  EXPECT_EQ(design.worstReturnCode, 1012);
}

TEST_F(DesignTest, ListWithBoundaryUnderTpfBecomesList) {
  ParsedStatement* s = effect("sp", EffectVarKind::Spline, {"x"});
  host.setNumber(s, 13, KM_LISTWITHBOUNDARY);
  host.setNumber(s, 10, SB_TPF);
  host.setDoubles(s, 9, {1, 2, 3, 4, 5});
  ASSERT_EQ(build("sp"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::KnotmethodListwithboundaryNotAvailable), 1);
  EXPECT_EQ(design.constructed[0].spline->knotMethod, KM_LIST);
}

TEST_F(DesignTest, MultimemberWeightCountMustMatch) {
  ParsedStatement* s = effect("mm", EffectVarKind::MultiMember, {"a", "b", "c"});
  host.setVarList(s, 4, {"w1", "w2"});
  EXPECT_NE(build("x"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::MultimemberWeightCountWrong), 1);
  EXPECT_EQ(design.worstReturnCode, 1012);
}

TEST_F(DesignTest, MultimemberNeedsClassVariables) {
  effect("mm", EffectVarKind::MultiMember, {"a", "x", "z"});
  EXPECT_NE(build("x"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::MultimemberVariableNotClass), 2);
}

TEST_F(DesignTest, MultimemberMarksItsMembers) {
  ParsedStatement* s = effect("mm", EffectVarKind::MultiMember, {"a", "b"});
  host.setVarList(s, 4, {"w1", "w2"});
  ASSERT_EQ(build("mm"), VsfStatus::Ok);
  EXPECT_EQ(design.classes[0].multimemberMember, 1);
  EXPECT_EQ(design.constructed[0].classCount, 2);
  EXPECT_EQ(design.constructed[0].numericCount, 2);
  EXPECT_EQ(design.numericCount, 2); // the weights; the model has no direct variable
}

TEST_F(DesignTest, CollectionDropsRepeatsAndRefusesCharacterVariables) {
  effect("col", EffectVarKind::Collection, {"x", "x", "z"});
  ASSERT_EQ(build("col"), VsfStatus::Ok);
  EXPECT_EQ(design.constructed[0].numericCount, 2);
  FakeHost other;
  other.addVar("x");
  other.addVar("name", 2, 8);
  ParsedStatement* s = other.addStatement("EFFECT");
  other.setNameList(s, 1, {"col"});
  other.setNumber(s, 2, static_cast<int>(EffectVarKind::Collection));
  other.setVarList(s, 3, {"x", "name"});
  ParsedStatement* m = other.model("x");
  LevDesign d{};
  EXPECT_NE(zlevmod(&d, other.dataSet, 1, 2, m, 1, 0, 0), VsfStatus::Ok);
  EXPECT_EQ(other.count(EffMsg::CollectionVariableCharacterNotClass), 1);
}

TEST_F(DesignTest, LagAddsPeriodAndWithinAsReferenceClassVariables) {
  ParsedStatement* s = effect("lg", EffectVarKind::Lag, {"a"});
  host.setVarList(s, 24, {"t"});
  host.setVarList(s, 23, {"s", "g"});
  ASSERT_EQ(build("x"), VsfStatus::Ok);
  ASSERT_EQ(design.classCount, 5);
  EXPECT_EQ(design.classes[2].coding, 2);
  const LagSpec* lag = design.constructed[0].lag;
  EXPECT_EQ(lag->periodVariable, 2);
  EXPECT_EQ(lag->withinCount, 2);
  EXPECT_EQ(lag->laggedVariable, 0);
  EXPECT_EQ(lag->nlag, 1);
  EXPECT_EQ(lag->roleVariable, -1);
  EXPECT_EQ(design.lagListCount, 1);
}

TEST_F(DesignTest, LagWithoutPeriodOrWithinIsRefused) {
  ParsedStatement* s = effect("lg", EffectVarKind::Lag, {"a"});
  host.setVarList(s, 23, {"s"});
  EXPECT_NE(build("x"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::LagEffectNeedsPeriod), 1);
}

TEST_F(DesignTest, EffectStatementWithoutVariablesEndsWith3000) {
  effect("e", EffectVarKind::Collection, {});
  EXPECT_NE(build("x"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::EffectStatementNoVariables), 1);
  EXPECT_EQ(design.worstReturnCode, 3000);
}

TEST_F(DesignTest, CrossingTwoSplitEffectsVariesTheSecondFastest) {
  ParsedStatement* p = effect("p", EffectVarKind::Polynomial, {"x1"});
  host.setNumber(p, 15, 2);
  ParsedStatement* q = effect("q", EffectVarKind::Polynomial, {"x2"});
  host.setNumber(q, 15, 3);
  ASSERT_EQ(build("p*q"), VsfStatus::Ok);
  EXPECT_EQ(effectNames(), (Names{"Intercept", "x1*x2", "x1*x2^2", "x1*x2^3", "x1^2*x2",
                                  "x1^2*x2^2", "x1^2*x2^3"}));
  EXPECT_EQ(design.partCounts[0], 6);
  EXPECT_EQ(design.effects[5].constructed[0], 1);
  EXPECT_EQ(design.effects[5].constructed[1], 3);
}

TEST_F(DesignTest, LevelListHoldsSharedClassVariableOnceAtTheEnd) {
  host.setClass({"a", "b", "g"});
  effect("c1", EffectVarKind::Collection, {"g", "x"});
  effect("c2", EffectVarKind::Collection, {"g", "b", "z"});
  ASSERT_EQ(build("c1*c2*g"), VsfStatus::Ok);
  const LevEffect& e = design.effects[1];
  std::vector<int32_t> levels(e.levelVars, e.levelVars + e.levelVarCount);
  EXPECT_EQ(levels, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(std::string(e.name), "c1*c2*g");
}

TEST_F(DesignTest, MadeNamesAreCutToNamelen) {
  host.setClass({"a", "b", "g"});
  effect("spline1", EffectVarKind::Collection, {"x"});
  effect("spline2", EffectVarKind::Collection, {"z"});
  effect("spline3", EffectVarKind::Collection, {"y"});
  ASSERT_EQ(build("spline1*spline2*b spline1*spline3*a"), VsfStatus::Ok);
  EXPECT_EQ(std::string(design.effects[1].name), "spline1*spline2*b");
  // spline1*spline3*a is 17 characters; with NAMELEN 20 it is whole.
  LevEffect e{};
  int32_t cons[2] = {0, 1};
  int32_t cls[1] = {2};
  e.constructed = cons;
  e.constructedCount = 2;
  e.crossed = cls;
  e.crossedCount = 1;
  effect("unused", EffectVarKind::Collection, {"x"});
  design.nameLen = 16;
  zlevMakeEffectName(&design, &e);
  EXPECT_EQ(std::string(e.name), "spline1*spline2*");
}

// Spline option conflicts, one statement at a time.
struct SplineOptionTest : DesignTest {
  SplineInfo info{};
  ParsedStatement* s = nullptr;
  void SetUp() override {
    DesignTest::SetUp();
    s = host.addStatement("EFFECT");
  }
  VsfStatus parse() { return zlevParseSpline(&design, &info, 1, s, "sp", 2); }
};

TEST_F(SplineOptionTest, NaturalSplineTakesTpfBasis) {
  FakeHost::setFlag(s, 1);
  EXPECT_EQ(parse(), VsfStatus::Ok);
  EXPECT_EQ(info.basis, SB_TPF);
  EXPECT_EQ(info.degree, 3);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(SplineOptionTest, NaturalSplineRefusesBsplineAndOtherDegrees) {
  FakeHost::setFlag(s, 1);
  host.setNumber(s, 10, SB_BSPLINE);
  host.setNumber(s, 5, 2);
  EXPECT_EQ(parse(), VsfStatus::Ok);
  EXPECT_EQ(info.basis, SB_TPF);
  EXPECT_EQ(info.degree, 3);
  EXPECT_EQ(host.count(EffMsg::NaturalSplineBasisIgnored), 1);
  EXPECT_EQ(host.count(EffMsg::NaturalSplineDegreeIgnored), 1);
  EXPECT_EQ(design.worstReturnCode, 4);
}

TEST_F(SplineOptionTest, TpfMultiscaleBecomesEqual) {
  host.setNumber(s, 10, SB_TPF);
  host.setNumber(s, 13, KM_MULTISCALE);
  host.setNumber(s, 12, 4);
  EXPECT_EQ(parse(), VsfStatus::Ok);
  EXPECT_EQ(info.knotMethod, KM_EQUAL);
  EXPECT_EQ(info.knotCount, 3);
  EXPECT_EQ(info.endScale, 0);
  EXPECT_EQ(host.count(EffMsg::KnotmethodMultiscaleNotAvailable), 1);
}

TEST_F(SplineOptionTest, BsplineMultiscaleDefaultsAndSeparates) {
  host.setNumber(s, 13, KM_MULTISCALE);
  EXPECT_EQ(parse(), VsfStatus::Ok);
  EXPECT_EQ(info.startScale, 0);
  EXPECT_EQ(info.endScale, 7);
  EXPECT_TRUE(info.separate);
}

TEST_F(SplineOptionTest, DataBoundaryClearsKnotLimitsOnce) {
  FakeHost::setFlag(s, 7);
  host.setNumber(s, 6, 0.0);
  EXPECT_EQ(parse(), VsfStatus::Ok);
  EXPECT_TRUE(isHostMissing(info.knotMin));
  EXPECT_TRUE(isHostMissing(info.knotMax));
  EXPECT_EQ(host.count(EffMsg::KnotminKnotmaxIgnoredWithDataboundary), 1);
  EXPECT_EQ(host.count(EffMsg::KnotminKnotmaxIgnoredKnotmethod), 0);
}

TEST_F(SplineOptionTest, NaturalSplineWithEqualKnotsFails) {
  FakeHost::setFlag(s, 1);
  host.setNumber(s, 13, KM_LIST);
  host.setDoubles(s, 9, {1, 2, 2, 3});
  EXPECT_EQ(parse(), VsfStatus::ReportedFailure);
  EXPECT_EQ(host.count(EffMsg::NaturalSplineRepeatedKnots), 1);
  EXPECT_EQ(design.worstReturnCode, 1012);
}

TEST(SplineSortTest, ShellSortAgreesWithStdSort) {
  std::mt19937 rng(7);
  for (int n : {0, 1, 2, 3, 7, 8, 9, 100, 257}) {
    std::vector<double> v(static_cast<size_t>(n));
    for (auto& x : v)
      x = static_cast<double>(rng() % 20);
    std::vector<double> expected = v;
    std::sort(expected.begin(), expected.end());
    zlevQSort(v.data(), n);
    EXPECT_EQ(v, expected) << n;
  }
}

TEST(BinomialTest, MatchesPascalTriangleAndSaturates) {
  // Pascal's rule as the independent reference.
  std::vector<std::vector<int64_t>> pascal(40, std::vector<int64_t>(40, 0));
  for (int n = 0; n < 40; ++n) {
    pascal[n][0] = 1;
    for (int k = 1; k <= n; ++k)
      pascal[n][k] = pascal[n - 1][k - 1] + (k <= n - 1 ? pascal[n - 1][k] : 0);
  }
  for (int n = 1; n < 34; ++n)
    for (int k = 0; k <= n; ++k)
      EXPECT_EQ(zlevBinCoef(n, k), pascal[n][k]) << n << " " << k;
  EXPECT_EQ(zlevBinCoef(100, 50), 2147483647);
}

} // namespace

namespace {

TEST_F(DesignTest, CharacterDesignRoleVariableIsRefused) {
  ParsedStatement* s = effect("lg", EffectVarKind::Lag, {"a"});
  host.setVarList(s, 24, {"t"});
  host.setVarList(s, 23, {"s"});
  host.setVarList(s, 25, {"name"});
  EXPECT_NE(build("x"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::ConstructedVariableIsCharacter), 1);
  EXPECT_EQ(design.worstReturnCode, 1012);
}

TEST_F(DesignTest, RecordCountIsWhatWasBuilt) {
  // LISTWITHBOUNDARY with a B-spline makes knots - degree + 1 columns per variable: with six
  // knots and degree 3, four records, though the options as written count ten.
  ParsedStatement* s = effect("sp", EffectVarKind::Spline, {"x"});
  host.setNumber(s, 13, KM_LISTWITHBOUNDARY);
  host.setDoubles(s, 9, {0, 0, 0, 1, 1, 1});
  FakeHost::setFlag(s, 3);
  ASSERT_EQ(build("sp"), VsfStatus::Ok);
  EXPECT_EQ(design.constructedCount, 4);
  EXPECT_EQ(constructedNames(), (Names{"sp:1", "sp:2", "sp:3", "sp:4"}));
  for (int32_t i = 0; i < design.constructedCount; ++i)
    EXPECT_EQ(design.constructed[i].kind, EffectVarKind::Spline);
}

TEST_F(DesignTest, PolynomialWithTooManyTermsIsRefused) {
  Names many;
  for (int i = 0; i < 40; ++i) {
    many.push_back(std::string("v").append(std::to_string(i)));
    host.addVar(many.back());
  }
  ParsedStatement* p = effect("p", EffectVarKind::Polynomial, many);
  host.setNumber(p, 15, 20);
  EXPECT_NE(build("x"), VsfStatus::Ok);
  EXPECT_EQ(host.count(EffMsg::PolynomialEffectMoreTerms), 1);
  EXPECT_EQ(design.worstReturnCode, 1012);
}

TEST_F(DesignTest, ConstructedEffectAsRangeEndIsASyntaxError) {
  effect("spl", EffectVarKind::Collection, {"x"});
  host.model("spl-x1");
  EXPECT_EQ(host.count(EffMsg::OneListOperatorPerList), 1);
  EXPECT_EQ(host.root.status, 2000); // the parse fails (3000), the run is not ended here
}

} // namespace

namespace {

int32_t g_extraNumber = 0;
void describeExtra(void* argument, void*, HostVariable* record, int32_t*) {
  // As the MODEL reader's callback does: the host's description of the variable.
  HostVariable* var = nullptr;
  (void)xvname(nullptr, *static_cast<int32_t*>(argument), &var);
  *record = *var;
}

TEST_F(DesignTest, ExtraClassVariableComesAfterTheClassStatement) {
  g_extraNumber = host.varNumber("g");
  ExtraVariableSource extra{};
  extra.classCount = 1;
  extra.classArgument = &g_extraNumber;
  extra.callback = describeExtra;
  design.extra = &extra;
  ASSERT_EQ(build("x"), VsfStatus::Ok);
  ASSERT_EQ(design.classCount, 3);
  EXPECT_EQ(design.classes[2].var->number, g_extraNumber);
  EXPECT_EQ(design.classes[2].levelWidth, 12);
  EXPECT_EQ(design.classes[2].levelTextOffset, 4 + 12);
  EXPECT_EQ(design.classes[2].order, 'U');
}

TEST_F(DesignTest, EffectNamedLikeInterceptIsTheInterceptName) {
  // Trailing blanks do not count in the comparison.
  LevEffect e{};
  EffectChainNode node{};
  char name[] = "Intercept  ";
  node.name = name;
  node.nameLength = 11;
  zlevglmAddLater(&design, &e, &node);
  EXPECT_STREQ(e.name, "Intercept");
}

} // namespace

namespace {

// Crossing split effects multiplies their part counts; past 2^24 records for one effect the
// build stops with a message that names the effect.
TEST_F(DesignTest, CrossingPastThePartLimitIsNamed) {
  const char* vars[] = {"x1", "x2", "z"};
  const char* names[] = {"p", "q", "r"};
  for (int i = 0; i < 3; ++i) {
    ParsedStatement* s = effect(names[i], EffectVarKind::Polynomial, {vars[i]});
    host.setNumber(s, 15, 300);
  }
  EXPECT_EQ(build("p*q*r"), VsfStatus::ReportedFailure);
  EXPECT_EQ(host.count(EffMsg::TooManyEffectParts), 1);
  // The limit of one effect stopped it, not that of the whole model.
  EXPECT_EQ(host.count(EffMsg::TooManyModelRecords), 0);
}

} // namespace

namespace {

// Every kind of EFFECT statement, each used by the model, built with the pool running dry at
// every allocation in turn: each failing build reports out of memory, with no user message
// and no raised return code, until one build has memory enough and succeeds.
TEST(DesignMemoryTest, EveryAllocationFailureOfTheBuildIsOutOfMemory) {
  bool succeeded = false;
  int failures = 0;
  for (int n = 0; n < 2000 && !succeeded; ++n) {
    SCOPED_TRACE("allocations allowed: " + std::to_string(n));
    FakeHost host;
    for (const char* v : {"y", "b", "x", "x1", "x2", "z", "w1", "w2", "g", "t", "s", "r"})
      host.addVar(v);
    host.addVar("a", 2, 4);
    host.setClass({"a", "b"});
    auto effect = [&](const std::string& name, EffectVarKind kind, const Names& vars) {
      ParsedStatement* s = host.addStatement("EFFECT");
      host.setNameList(s, 1, {name});
      host.setNumber(s, 2, static_cast<int>(kind));
      host.setVarList(s, 3, vars);
      return s;
    };
    host.setVarList(effect("mm", EffectVarKind::MultiMember, {"a", "b"}), 4, {"w1", "w2"});
    effect("col", EffectVarKind::Collection, {"x", "b", "z"});
    ParsedStatement* sp = effect("sp", EffectVarKind::Spline, {"x", "z"});
    host.setNumber(sp, 13, KM_MULTISCALE);
    host.setNumber(sp, 11, 0);
    host.setNumber(sp, 12, 1);
    FakeHost::setFlag(sp, 3);
    ParsedStatement* p = effect("p", EffectVarKind::Polynomial, {"x1", "x2"});
    host.setNumber(p, 15, 2);
    FakeHost::setFlag(p, 21); // STANDARDIZE(METHOD=MOMENTS)
    host.setNumber(p, 20, PM_MOMENTS);
    ParsedStatement* lg = effect("lg", EffectVarKind::Lag, {"a"});
    host.setVarList(lg, 24, {"t"});
    host.setVarList(lg, 23, {"s", "g"});
    host.setVarList(lg, 25, {"r"});
    ParsedStatement* model = host.model("x mm col sp p lg b*p");
    ASSERT_EQ(host.root.status, 0);
    host.messages.clear();

    FailingPool dry(v_global_gcb_anchor->defaultPool, n);
    v_global_gcb_anchor->defaultPool = dry.get();
    LevDesign design{};
    const VsfStatus r = zlevmod(&design, host.dataSet, 1, 2, model, 1, 0, 0);
    v_global_gcb_anchor->defaultPool = dry.inner;
    succeeded = r == VsfStatus::Ok;
    if (!succeeded) {
      ++failures;
      EXPECT_EQ(r, VsfStatus::NoMemory);
      EXPECT_EQ(design.worstReturnCode, 0);
      for (const efftest::Message& m : host.messages)
        ADD_FAILURE() << "message " << m.set << "/" << m.number;
    }
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GT(failures, 100); // the build of all five kinds takes a few hundred blocks
}

} // namespace
