// The shared set-up of the design-library tests (see designfixture.h).
#include "designfixture.h"
#include <unistd.h>

#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/supervisor.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace designtest {

namespace fs = std::filesystem;

DesignFixture::DesignFixture() {
  HostControlBlock* cb = qrxhost::hostControlBlock();
  v_global_gcb_anchor = cb;
  Exported_QKHandle = cb->qkHandle;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir = fs::temp_directory_path() /
        ("qrx_design_" + std::string(info ? info->test_suite_name() : "x") + "_" +
         std::string(info ? info->name() : "x") + "_" +
         std::to_string(static_cast<long>(::getpid())));
  fs::remove_all(dir);
  fs::create_directories(dir);
  qrxhost::setWorkDir(dir.string());
  qrxhost::resetStepState();
  qrxhost::takeLog();
  block.pool = cb->defaultPool;
  ctx.library = &block;
  ctx.design = &des;
  des.orderDefault = 'M';
}

DesignFixture::~DesignFixture() {
  zlevtrm(&ctx, kLevReleaseAll);
  qrxhost::endStepDataSets();
  qrxhost::clearLibraries();
  qrxhost::takeLog();
  qrxhost::resetStepState();
  std::error_code ec;
  fs::remove_all(dir, ec);
}

void DesignFixture::data(const std::string& csv, const std::string& name) {
  std::ofstream(dir / (name + ".csv")) << csv;
  ds = xdsopen(name.c_str(), static_cast<int32_t>(name.size()));
  ASSERT_NE(ds, nullptr);
  block.data = ds;
}

HostVariable* DesignFixture::describe(const std::string& name) {
  int32_t number = 0;
  (void)xvfind(ds, name.c_str(), static_cast<int32_t>(name.size()), &number, 0);
  EXPECT_GT(number, 0) << name;
  HostVariable* var = nullptr;
  (void)xvname(ds, number, &var);
  return var;
}

LevDesign* DesignFixture::design(const std::vector<std::string>& classes,
                                 const std::vector<std::string>& numerics,
                                 const std::vector<EffectSpec>& effects, bool noIntercept) {
  classNames = classes;
  numericNames = numerics;
  classStore.assign(classes.size(), LevVariable{});
  numericStore.assign(numerics.size(), LevVariable{});
  for (size_t i = 0; i < classes.size(); ++i) {
    LevVariable& v = classStore[i];
    v.var = describe(classes[i]);
    v.levelWidth = -1;
    v.order = 'U';
    v.referenceSelector = -2;
    v.cprefix = v.lprefix = -1;
  }
  for (size_t j = 0; j < numerics.size(); ++j)
    numericStore[j].var = describe(numerics[j]);
  des.classCount = static_cast<int32_t>(classes.size());
  des.classes = classStore.data();
  des.numericCount = static_cast<int32_t>(numerics.size());
  des.numerics = numericStore.data();
  std::vector<EffectSpec> all;
  if (!noIntercept)
    all.push_back({"Intercept", {}, {}, {}});
  all.insert(all.end(), effects.begin(), effects.end());
  effectStore.assign(all.size(), LevEffect{});
  lists.reserve(all.size() * 4);
  names.reserve(all.size());
  auto list = [&](const std::vector<std::string>& vars, bool cls) {
    std::vector<int32_t> out;
    for (const auto& v : vars)
      out.push_back(cls ? classIndex(v) : numericIndex(v));
    lists.push_back(out);
    return lists.back().empty() ? nullptr : lists.back().data();
  };
  for (size_t e = 0; e < all.size(); ++e) {
    LevEffect& ef = effectStore[e];
    names.push_back(all[e].name);
    ef.name = names.back().data();
    ef.continuousCount = static_cast<int32_t>(all[e].continuous.size());
    ef.continuous = list(all[e].continuous, false);
    ef.crossedCount = static_cast<int32_t>(all[e].crossed.size());
    ef.crossed = list(all[e].crossed, true);
    ef.nestedCount = static_cast<int32_t>(all[e].nested.size());
    ef.nested = list(all[e].nested, true);
    std::vector<std::string> both = all[e].crossed;
    both.insert(both.end(), all[e].nested.begin(), all[e].nested.end());
    ef.allClassCount = static_cast<int32_t>(both.size());
    ef.allClass = list(both, true);
  }
  des.effectCount = static_cast<int32_t>(all.size());
  des.effects = effectStore.data();
  if (noIntercept)
    des.designFlags.set(LevDesignFlag::NoIntercept);
  return &des;
}

void DesignFixture::response(const std::string& name) {
  responseStore.assign(1, LevVariable{});
  responseStore[0].var = describe(name);
  ctx.responses = responseStore.data();
  ctx.responseCount = 1;
}

void DesignFixture::responses(const std::vector<std::string>& names) {
  responseStore.assign(names.size(), LevVariable{});
  for (size_t i = 0; i < names.size(); ++i)
    responseStore[i].var = describe(names[i]);
  ctx.responses = responseStore.data();
  ctx.responseCount = static_cast<int32_t>(names.size());
}

void DesignFixture::weight(const std::string& name) {
  weightStore.assign(1, LevVariable{});
  weightStore[0].var = describe(name);
  ctx.weights = weightStore.data();
  ctx.weightCount = 1;
}

void DesignFixture::freq(const std::string& name) {
  freqStore.assign(1, LevVariable{});
  freqStore[0].var = describe(name);
  ctx.freq = freqStore.data();
}

int32_t DesignFixture::classIndex(const std::string& name) const {
  auto it = std::find(classNames.begin(), classNames.end(), name);
  EXPECT_NE(it, classNames.end()) << name;
  return static_cast<int32_t>(it - classNames.begin());
}

int32_t DesignFixture::numericIndex(const std::string& name) const {
  auto it = std::find(numericNames.begin(), numericNames.end(), name);
  EXPECT_NE(it, numericNames.end()) << name;
  return static_cast<int32_t>(it - numericNames.begin());
}

LevVariable* DesignFixture::cls(const std::string& name) { return &des.classes[classIndex(name)]; }

LevBuild DesignFixture::levelise() {
  block.pool = xmpoolc(nullptr, 1024, 0x1004);
  return zlevrgi(&ctx);
}

void DesignFixture::end() { zlevtrm(&ctx, kLevReleaseAll); }

std::vector<RowOut> DesignFixture::rows() {
  std::vector<RowOut> out;
  EXPECT_EQ(zlevGetInit(&ctx), VsfStatus::Ok);
  while (zlevGetNext(&ctx) != 0) {
    RowOut r;
    r.status = zlevrgd(&ctx, &r.y, ctx.weights ? &r.w : nullptr, ctx.freq ? &r.f : nullptr);
    r.x.assign(static_cast<size_t>(des.columnCount), -99.0);
    zlevrgx(&ctx, nullptr, nullptr, r.x.data());
    out.push_back(r);
  }
  return out;
}

std::vector<std::string> DesignFixture::levels(const std::string& name) {
  std::vector<std::string> out;
  const LevVariable* v = cls(name);
  for (int32_t k = 0; k < v->levelCount; ++k) {
    std::string s(v->levelTexts[k], static_cast<size_t>(v->levelWidth));
    s.erase(s.find_last_not_of(' ') + 1);
    out.push_back(s);
  }
  return out;
}

std::vector<MsgId> DesignFixture::messages() {
  std::vector<MsgId> out;
  for (const auto& r : qrxhost::takeLog())
    if (r.numbered)
      out.push_back(MsgId::of(r));
  return out;
}

} // namespace designtest
