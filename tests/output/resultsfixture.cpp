// The printer fixture: host control block, output manager, zeroed context and fit.
#include "resultsfixture.h"

#include "host/hostcore.h"
#include "host/output/rvqoutput.h"
#include "support/hoststubs.h"
#include "support/wobmth.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace restest {

void ResultsFixture::SetUp() {
  v_global_gcb_anchor = qrxhost::hostControlBlock();
  qrxhost::discardOutputs();
  qrxhost::injectOutputFailure(-1, 0, 0);
  doc = qrxhost::beginStepOutput();
  ctx = std::make_unique<VsfContext>();
  design = std::make_unique<LevDesign>();
  RvqObject* block = nullptr;
  xobinit(&block, 0);
  ASSERT_NE(block, nullptr);
  RvqAttr a[] = {rvqString(143, "rvq", 3), rvqString(146, "manager", 7), rvqHandle(144, nullptr)};
  ASSERT_EQ(wobmth(block, nullptr, 147, 3, a), 0);
  ctx->outputManager = static_cast<RvqObject*>(a[2].value.ptr);
  ctx->design.design = design.get();
  pool = xmpoolc(nullptr, 1024, 0);
  ASSERT_NE(pool, nullptr);
  ctx->model.pool = pool;
  ctx->model.options = &ctx->options;
  ctx->model.fuzz = 1e-8;
  ctx->options.method = VsfMethod::Forward;
  ctx->options.select = VsfCriterion::Sbc;
  ctx->stmt.proc.nameLen = 20;
}

void ResultsFixture::TearDown() {
  qrxhost::injectOutputFailure(-1, 0, 0);
  if (pool != nullptr)
    xmpoold(pool);
  qrxhost::discardOutputs();
}

void ResultsFixture::setEffects(const std::vector<std::string>& effectNames) {
  names = effectNames;
  effects.assign(names.size(), LevEffect{});
  // Every effect after the intercept is one continuous variable of its own name.
  variables.assign(names.size(), HostVariable{});
  numerics.assign(names.size(), LevVariable{});
  for (size_t i = 0; i < names.size(); ++i) {
    effects[i].name = names[i].data();
    effects[i].firstColumn = static_cast<int32_t>(i);
    effects[i].columnCount = 1;
    variables[i].name = names[i].data();
    variables[i].nameLength = static_cast<int16_t>(names[i].size());
    variables[i].type = 1;
    numerics[i].var = &variables[i];
    if (i > 0) {
      effects[i].continuousCount = 1;
      effects[i].continuous = intArray(1, static_cast<int32_t>(i));
    }
  }
  design->numerics = numerics.data();
  design->numericCount = static_cast<int32_t>(numerics.size());
  design->effects = effects.data();
  design->effectCount = static_cast<int32_t>(effects.size());
  design->columnCount = static_cast<int32_t>(effects.size());
  design->parmLabelStyle = 1;
  VsfModel& m = ctx->model;
  m.effectCount = static_cast<int32_t>(effects.size());
  m.parmCount = m.effectCount;
  m.parmOffset = intArray(effects.size());
  for (int32_t i = 0; i < m.effectCount; ++i)
    m.parmOffset[i] = i;
  m.effectStatus = byteArray(effects.size(), 0);
  m.beta = doubleArray(effects.size());
  m.stdBeta = doubleArray(effects.size());
  m.betaVariance = doubleArray(effects.size(), -1.0);
  m.candidateValue = doubleArray(effects.size(), hostMissing());
  m.inModelList = intArray(effects.size());
}

void ResultsFixture::setHistory(const std::vector<int32_t>& effect,
                                const std::vector<int32_t>& effectCount,
                                const std::vector<int32_t>& rank, const std::vector<double>& sse) {
  VsfModel& m = ctx->model;
  const size_t n = effect.size();
  m.history.stepCount = static_cast<int32_t>(n);
  m.history.stepEffect = intArray(n);
  m.history.stepEffects = intArray(n + 1) + 1;
  m.history.stepRank = intArray(n + 1) + 1;
  m.history.stepSSE = doubleArray(n + 1) + 1;
  m.history.stepSSE[-1] = m.totalSS;
  for (size_t i = 0; i < n; ++i) {
    m.history.stepEffect[i] = effect[i];
    m.history.stepEffects[i] = effectCount[i];
    m.history.stepRank[i] = rank[i];
    m.history.stepSSE[i] = sse[i];
  }
}

double* ResultsFixture::doubleArray(size_t n, double value) {
  doubles.emplace_back(n, value);
  return doubles.back().data();
}
int32_t* ResultsFixture::intArray(size_t n, int32_t value) {
  ints.emplace_back(n, value);
  return ints.back().data();
}
uint8_t* ResultsFixture::byteArray(size_t n, uint8_t value) {
  bytes.emplace_back(n, value);
  return bytes.back().data();
}

minijson::Value ResultsFixture::output() {
  qrxhost::endStepOutput();
  std::string json = qrxhost::renderJsonNodes(*static_cast<qrxhost::OutputDocument*>(doc));
  minijson::Value v;
  std::string error;
  EXPECT_TRUE(minijson::Parser(json).parse(&v, &error)) << error << "\n" << json;
  return v;
}

namespace {
void collect(const minijson::Value& node, const std::string& name,
             std::vector<const minijson::Value*>& out) {
  if (node.kind == minijson::Value::Array) {
    for (const auto& item : node.items)
      collect(item, name, out);
    return;
  }
  if (node.kind != minijson::Value::Object)
    return;
  if ((node["kind"].s == "table" || node["kind"].s == "factoid") && node["name"].s == name)
    out.push_back(&node);
  if (node.has("children"))
    collect(node["children"], name, out);
}
} // namespace

std::vector<const minijson::Value*> find(const minijson::Value& nodes, const std::string& name) {
  std::vector<const minijson::Value*> out;
  collect(nodes, name, out);
  return out;
}

int columnIndex(const minijson::Value& table, const std::string& column) {
  const auto& cols = table["columns"].items;
  for (size_t i = 0; i < cols.size(); ++i)
    if (cols[i]["name"].s == column)
      return static_cast<int>(i);
  return -1;
}

std::vector<std::string> columnNames(const minijson::Value& table) {
  std::vector<std::string> out;
  for (const auto& c : table["columns"].items)
    out.push_back(c["name"].s);
  return out;
}

std::string cell(const minijson::Value& table, size_t row, const std::string& column) {
  int k = columnIndex(table, column);
  if (k < 0)
    return "<no column " + column + ">";
  std::string s = table["rows"][row][static_cast<size_t>(k)].s;
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  return s;
}

double number(const minijson::Value& table, size_t row, const std::string& column) {
  int k = columnIndex(table, column);
  if (k < 0)
    return std::numeric_limits<double>::quiet_NaN();
  const minijson::Value& v = table["rows"][row][static_cast<size_t>(k)];
  if (v.kind == minijson::Value::Null)
    return std::numeric_limits<double>::quiet_NaN();
  if (v.kind == minijson::Value::String) {
    if (v.s == "Infinity")
      return std::numeric_limits<double>::infinity();
    if (v.s == "-Infinity")
      return -std::numeric_limits<double>::infinity();
  }
  return v.n;
}

} // namespace restest
