// Constructed-effect detail tables through the host's output manager: the frame prints only
// for DETAILS, level tables join level names, spline knot and basis tables, polynomial
// details and scaling, lag information and design.
#include "fakehost.h"

#include "effects/levmod.h"
#include "effects/zleveftprint.h"
#include "host/hostapi.h"
#include "host/minijson.h"
#include "host/output/rvqoutput.h"
#include "support/hoststubs.h"
#include "support/wobmth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using efftest::FakeHost;
using minijson::Value;

namespace {

// The output manager's reason for a rejected call, for the failure message.
std::string lastRejection;
void noteRejection(int32_t, int32_t code) { lastRejection = qrxhost::outputStatusText(code); }

struct PrintTest : ::testing::Test {
  FakeHost host;
  LevDesign design{};
  qrxhost::OutputDocument* doc = nullptr;
  RvqObject* manager = nullptr;
  std::vector<std::unique_ptr<char[]>> keep;
  std::vector<std::unique_ptr<char*[]>> keepNames;
  std::vector<std::unique_ptr<int32_t[]>> keepLengths;

  void SetUp() override {
    for (const char* v : {"y", "x", "z", "w1", "w2", "t", "s"})
      host.addVar(v);
    host.addVar("a", 2, 4);
    host.addVar("b", 2, 4);
    host.setClass({"a", "b"});
    design.levelWidthOption = -1;
    auto* groups = v_global_gcb_anchor->groups;
    groups->object = qrxhost::outputObjectServices();
    groups->rvqText = qrxhost::rvqTextServices();
    groups->supervisor->xprrlog = noteRejection;
    qrxhost::discardOutputs();
    doc = qrxhost::beginStepOutput();
    RvqObject* block = nullptr;
    xobinit(&block, 0);
    ASSERT_NE(block, nullptr);
    RvqAttr a[] = {rvqString(143, "rvq", 3), rvqString(146, "manager", 7), rvqHandle(144, nullptr)};
    ASSERT_EQ(wobmth(block, nullptr, 147, 3, a), 0);
    manager = static_cast<RvqObject*>(a[2].value.ptr);
  }
  void TearDown() override { qrxhost::discardOutputs(); }

  ParsedStatement* effect(const std::string& name, EffectVarKind kind,
                          const std::vector<std::string>& vars) {
    ParsedStatement* s = host.addStatement("EFFECT");
    host.setNameList(s, 1, {name});
    host.setNumber(s, 2, static_cast<int>(kind));
    host.setVarList(s, 3, vars);
    FakeHost::setFlag(s, 4); // DETAILS
    return s;
  }
  void build(const std::string& effects) {
    ParsedStatement* m = host.model(effects);
    ASSERT_EQ(zlevmod(&design, host.dataSet, 1, 2, m, 1, 0, 0), VsfStatus::Ok);
  }
  Value print() {
    try {
      zlevPrintEftDetails(manager, &design);
    } catch (const efftest::ExitCalled& e) {
      ADD_FAILURE() << "run ended with " << e.code << ": " << lastRejection;
    }
    qrxhost::endStepOutput();
    std::string json = qrxhost::renderJsonNodes(*doc);
    Value v;
    std::string error;
    EXPECT_TRUE(minijson::Parser(json).parse(&v, &error)) << error << "\n" << json;
    return v;
  }
  char* text(const std::string& s) {
    keep.emplace_back(new char[s.size() + 1]);
    std::memcpy(keep.back().get(), s.c_str(), s.size() + 1);
    return keep.back().get();
  }
  // Level names of a MULTIMEMBER or COLLECTION record, as levelisation fills them.
  void setColumns(LevEftVar& r, const std::vector<std::string>& names) {
    r.columnCount = static_cast<int32_t>(names.size());
    keepNames.emplace_back(new char*[names.size()]);
    keepLengths.emplace_back(new int32_t[names.size()]);
    r.columnNames = keepNames.back().get();
    r.columnNameLengths = keepLengths.back().get();
    for (size_t i = 0; i < names.size(); ++i) {
      r.columnNames[i] = text(names[i]);
      r.columnNameLengths[i] = static_cast<int32_t>(names[i].size());
    }
  }
};

// All tables of a node tree, depth first.
void tables(const Value& node, std::vector<const Value*>& out) {
  if (node.kind == Value::Array) {
    for (const auto& item : node.items)
      tables(item, out);
    return;
  }
  if (node["kind"].s == "table" || node["kind"].s == "factoid")
    out.push_back(&node);
  if (node.has("children"))
    tables(node["children"], out);
}

std::vector<std::string> columnNames(const Value& table) {
  std::vector<std::string> names;
  for (const auto& c : table["columns"].items)
    names.push_back(c["name"].s);
  return names;
}

TEST_F(PrintTest, NothingWithoutDetails) {
  ParsedStatement* s = host.addStatement("EFFECT");
  host.setNameList(s, 1, {"col"});
  host.setNumber(s, 2, static_cast<int>(EffectVarKind::Collection));
  host.setVarList(s, 3, {"a", "x"});
  build("x");
  Value v = print();
  EXPECT_TRUE(v.items.empty());
}

TEST_F(PrintTest, MultimemberLevelTableJoinsLevelNames) {
  ParsedStatement* s = effect("mm", EffectVarKind::MultiMember, {"a", "b"});
  host.setText(s, 14, ",");
  build("x");
  setColumns(design.constructed[0], {"p", "q", "r"});
  Value v = print();
  std::vector<const Value*> found;
  tables(v, found);
  ASSERT_EQ(found.size(), 1u);
  const Value& t = *found[0];
  EXPECT_EQ(t["name"].s, "MMLevelInfo");
  EXPECT_EQ(t["template"].s, "Stat.VARSIFTER.LevelInfo");
  EXPECT_EQ(columnNames(t), (std::vector<std::string>{"Levels", "Values"}));
  ASSERT_EQ(t["rows"].items.size(), 1u);
  EXPECT_EQ(t["rows"][0][0].n, 3);
  EXPECT_EQ(t["rows"][0][1].s, "p,q,r");
  EXPECT_EQ(t["dynamics"]["WD"].n, 5);
}

TEST_F(PrintTest, LongLevelListEndsWithDots) {
  effect("col", EffectVarKind::Collection, {"a", "b"});
  build("x");
  std::vector<std::string> names(40, std::string(9, 'n'));
  setColumns(design.constructed[0], names);
  Value v = print();
  std::vector<const Value*> found;
  tables(v, found);
  ASSERT_EQ(found.size(), 1u);
  std::string values = (*found[0])["rows"][0][1].s;
  EXPECT_LE(values.size(), 253u);
  EXPECT_EQ(values.substr(values.size() - 4), " ...");
  // 25 names of 9 and their blanks fill 249; the 26th does not fit in the 4 left.
  EXPECT_EQ(values.size(), 25u * 10u - 1u + 4u);
  EXPECT_EQ((*found[0])["dynamics"]["WD"].n, 50);
}

// The Values text of a COLLECTION effect with these level names; false: no Values column.
struct LevelText : PrintTest {
  std::pair<bool, std::string> values(const std::vector<std::string>& names) {
    effect("col", EffectVarKind::Collection, {"a", "b"});
    build("x");
    setColumns(design.constructed[0], names);
    Value v = print();
    std::vector<const Value*> found;
    tables(v, found);
    EXPECT_EQ(found.size(), 1u);
    if (found.empty() || columnNames(*found[0]).size() < 2)
      return {false, ""};
    return {true, (*found[0])["rows"][0][1].s};
  }
};

// A first name of 253 fills the text; the cut mark takes the tail of the name.
TEST_F(LevelText, FirstNameOf253) {
  EXPECT_EQ(values({std::string(253, 'm'), "p", "q"}),
            std::make_pair(true, std::string(249, 'm') + " ..."));
}
TEST_F(LevelText, FirstNameOf253Alone) {
  EXPECT_EQ(values({std::string(253, 'm')}), std::make_pair(true, std::string(253, 'm')));
}
TEST_F(LevelText, FirstNameOf252) {
  EXPECT_EQ(values({std::string(252, 'm'), "p"}),
            std::make_pair(true, std::string(249, 'm') + " ..."));
}
// The mark never ends past 253: a name that leaves it no room gives way to it.
TEST_F(LevelText, FirstNameOf249Fits) {
  EXPECT_EQ(values({std::string(249, 'm'), "p"}),
            std::make_pair(true, std::string(249, 'm') + " p"));
}
TEST_F(LevelText, FirstNameOf249) {
  EXPECT_EQ(values({std::string(249, 'm'), "p", "q"}),
            std::make_pair(true, std::string(249, 'm') + " ..."));
}
// A first name of 254 gives no Values column at all.
TEST_F(LevelText, FirstNameOf254) { EXPECT_FALSE(values({std::string(254, 'm'), "p"}).first); }

TEST_F(PrintTest, SplineVariablesWithDifferentKnotCounts) {
  effect("sp", EffectVarKind::Spline, {"x", "z"});
  build("sp");
  SplineInfo* info = design.constructed[0].spline;
  // The tables run over the first variable's five knots; z has three.
  static double xKnots[5] = {0, 1, 2, 3, 4};
  static double zKnots[3] = {10, 11, 12};
  static double* perVariable[2] = {xKnots, zKnots};
  static int32_t counts[2] = {5, 3};
  info->varKnots = perVariable;
  info->varKnotCount = counts;
  info->degree = 1;
  Value v = print();
  std::vector<const Value*> found;
  tables(v, found);
  ASSERT_EQ(found.size(), 3u);
  const Value& k = *found[0];
  ASSERT_EQ(columnNames(k),
            (std::vector<std::string>{"KnotNumber", "Boundary", "x", "z", "Control"}));
  ASSERT_EQ(k["rows"].items.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(k["rows"][i][2].n, static_cast<double>(i));
    if (i < 3)
      EXPECT_EQ(k["rows"][i][3].n, 10.0 + static_cast<double>(i));
    else
      EXPECT_EQ(k["rows"][i][3].kind, Value::Null) << "z has no knot " << i;
  }
  // z's basis rows past its own knots have no bounds.
  const Value& zb = *found[2];
  EXPECT_EQ(zb["name"].s, "BSplineDetails");
  ASSERT_EQ(zb["rows"].items.size(), 5u);
  EXPECT_EQ(zb["rows"][1][2].n, 10.0);
  EXPECT_EQ(zb["rows"][1][3].n, 12.0);
  EXPECT_EQ(zb["rows"][4][3].kind, Value::Null);
}

TEST_F(PrintTest, BsplineKnotsAndBasisRows) {
  effect("sp", EffectVarKind::Spline, {"x"});
  build("sp");
  LevEftVar& r = design.constructed[0];
  SplineInfo* info = r.spline;
  // Knot placement as levelisation does it: nine knots of one variable.
  static double knots[9] = {0, 0, 0, 1, 2, 3, 4, 4, 4};
  static double* perVariable[1] = {knots};
  static int32_t counts[1] = {9};
  info->varKnots = perVariable;
  info->varKnotCount = counts;
  design.numerics[0].centre = 2.0;
  design.numerics[0].halfRange = 2.0;
  Value v = print();
  std::vector<const Value*> found;
  tables(v, found);
  ASSERT_EQ(found.size(), 2u);
  const Value& k = *found[0];
  EXPECT_EQ(k["name"].s, "SplineKnots");
  EXPECT_EQ(columnNames(k), (std::vector<std::string>{"KnotNumber", "Boundary", "x", "Control"}));
  ASSERT_EQ(k["rows"].items.size(), 9u);
  std::vector<int> boundary;
  for (const auto& row : k["rows"].items)
    boundary.push_back(static_cast<int>(row[1].n));
  EXPECT_EQ(boundary, (std::vector<int>{1, 1, 1, 0, 0, 0, 1, 1, 1}));
  const Value& b = *found[1];
  EXPECT_EQ(b["name"].s, "BSplineDetails");
  ASSERT_EQ(b["rows"].items.size(), 7u);
  std::vector<std::string> support;
  for (const auto& row : b["rows"].items)
    support.push_back(row[4].s);
  EXPECT_EQ(support, (std::vector<std::string>{"1-4", "1-5", "2-6", "3-7", "4-8", "5-9", "6-9"}));
}

TEST_F(PrintTest, TpfBasisRowsLowerThePowerOnRepeatedKnots) {
  ParsedStatement* s = effect("sp", EffectVarKind::Spline, {"x"});
  host.setNumber(s, 10, SB_TPF);
  build("sp");
  static double knots[3] = {1, 2, 2};
  static double* perVariable[1] = {knots};
  static int32_t counts[1] = {3};
  design.constructed[0].spline->varKnots = perVariable;
  design.constructed[0].spline->varKnotCount = counts;
  Value v = print();
  std::vector<const Value*> found;
  tables(v, found);
  ASSERT_EQ(found.size(), 2u);
  const Value& t = *found[1];
  EXPECT_EQ(t["name"].s, "TPFSplineDetails");
  std::vector<int> powers, columns;
  for (const auto& row : t["rows"].items) {
    columns.push_back(static_cast<int>(row[1].n));
    powers.push_back(static_cast<int>(row[2].n));
  }
  EXPECT_EQ(columns, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(powers, (std::vector<int>{0, 1, 2, 3, 3, 3, 2}));
}

TEST_F(PrintTest, PolynomialDetailsAndScaling) {
  ParsedStatement* p = effect("p", EffectVarKind::Polynomial, {"x", "z"});
  host.setNumber(p, 15, 2);
  FakeHost::setFlag(p, 21); // STANDARDIZE
  host.setNumber(p, 20, PM_MOMENTS);
  build("p");
  design.numerics[0].centre = 1.0;
  design.numerics[0].halfRange = 0.5;
  design.numerics[1].centre = 10.0;
  design.numerics[1].halfRange = 2.0;
  NumericUsageBlock* block = design.usage[0];
  ASSERT_NE(block, nullptr);
  block->first[0] = 3.0;
  block->second[0] = 7.0;
  block->weightTotal = 4.0;
  block->observationCount = 4.0;
  block->frequencySum = 4.0;
  Value v = print();
  std::vector<const Value*> found;
  tables(v, found);
  ASSERT_EQ(found.size(), 2u);
  const Value& f = *found[0];
  EXPECT_EQ(f["name"].s, "PolynomialDetails");
  EXPECT_EQ(f["entries"].items.size(), 5u); // 951, 952, 954, 955, 959
  const Value& t = *found[1];
  EXPECT_EQ(columnNames(t),
            (std::vector<std::string>{"Variable", "Minimum", "Maximum", "nObs", "SumFreqs", "Sum",
                                      "SumSq", "Center", "Scale"}));
  ASSERT_EQ(t["rows"].items.size(), 2u);
  const Value& row = t["rows"][0];
  EXPECT_EQ(row[0].s, "x");
  EXPECT_DOUBLE_EQ(row[1].n, 0.5);
  EXPECT_DOUBLE_EQ(row[2].n, 1.5);
  // Sum = c W + A = 1*4 + 3; SumSq = (W c + 2 A) c + B = (4 + 6) * 1 + 7.
  EXPECT_DOUBLE_EQ(row[5].n, 7.0);
  EXPECT_DOUBLE_EQ(row[6].n, 17.0);
}

TEST_F(PrintTest, LagInformationAndDesignLevels) {
  ParsedStatement* s = effect("lg", EffectVarKind::Lag, {"a"});
  host.setVarList(s, 24, {"t"});
  host.setVarList(s, 23, {"s"});
  FakeHost::setFlag(s, 1); // DETAILS(LEVELS)
  build("x");
  LagSpec* lag = design.constructed[0].lag;
  lag->periodCount = 2;
  static int32_t matrix[4] = {1, 2, 0, 1};
  lag->design.rowCount = 2;
  lag->design.periods = matrix;
  Value v = print();
  std::vector<const Value*> found;
  tables(v, found);
  ASSERT_EQ(found.size(), 2u);
  const Value& f = *found[0];
  EXPECT_EQ(f["name"].s, "LagInfo");
  EXPECT_EQ(f["entries"].items.size(), 4u); // 982, 983, 984, 986
  const Value& t = *found[1];
  EXPECT_EQ(t["name"].s, "LagDesignLevels");
  ASSERT_EQ(t["rows"].items.size(), 2u);
  EXPECT_EQ(t["rows"][0][0].n, 1);
  EXPECT_EQ(t["rows"][1][1].kind, Value::Null); // no observation in period 1
  EXPECT_EQ(t["rows"][1][2].n, 1);
}

} // namespace
