// The threaded levelisation and effect-level passes against the serial ones on random data
// with many levels: level texts, their order under every ORDER= code ascending and
// descending, representative values, frequencies and first appearances, and the GLM
// combination tables, over 1, 2, 4 and 8 workers; a worker that fails in either pass is
// reported (174/66 and its status message, return code 1012) and the serial redo gives the
// serial result.
#include "designfixture.h"

#include "design/levthread.h"
#include "support/hoststubs.h"
#include "support/testhooks.h"
#include "support/ztree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>

void levRegisterForwarders(LevRegContext* ctx, LevelizeContext* lctx);

using designtest::DesignFixture;

namespace {

// 2400 rows: g 300 character levels, h numbers of which several print alike (BEST12) but
// differ, c a character variable with blanks, a FREQ variable with zeros.
std::string randomData() {
  std::mt19937 rng(26);
  std::ostringstream s;
  s << "g,h,c,f,x,y\n";
  for (int i = 0; i < 2400; ++i) {
    char g[8];
    std::snprintf(g, sizeof g, "L%03u", static_cast<unsigned>(rng() % 300));
    const unsigned k = rng() % 90;
    char h[40];
    if (k < 80)
      std::snprintf(h, sizeof h, "%.2f", 0.25 * k);
    else // one printed level, ten raw values
      std::snprintf(h, sizeof h, "0.12345678901%02u", k - 80);
    const char* c[] = {"alpha", "beta", "gamma", "", "delta"};
    s << g << "," << h << "," << c[rng() % 5] << "," << (rng() % 4) << "," << (rng() % 100) / 7.0
      << "," << (rng() % 1000) / 10.0 << "\n";
  }
  return s.str();
}

// What a levelisation leaves that later passes and tables read.
struct Outcome {
  std::vector<std::vector<std::string>> levels; // per CLASS variable, in level order
  std::vector<std::vector<std::string>> values; // their representative values
  std::vector<std::vector<int32_t>> combinations;
  LevBuild result = LevBuild::NoLevels;
  bool operator==(const Outcome&) const = default;
};

struct ThreadTest : ::testing::Test {
  DesignFixture f;
  void SetUp() override {
    f.data(randomData());
    f.design({"g", "h", "c"}, {"x"},
             {{"g", {}, {"g"}, {}},
              {"h", {}, {"h"}, {}},
              {"g*c", {}, {"g", "c"}, {}},
              {"c(h)", {}, {"c"}, {"h"}},
              {"x", {"x"}, {}, {}}});
    f.response("y");
    f.freq("f");
    f.des.freqVariable = f.ctx.freq;
    f.messages();
  }
  void TearDown() override { testHooks().reset(); }

  Outcome run(int32_t workers) {
    f.ctx.threadsAllowed = workers > 0 ? 1 : 0;
    f.ctx.workerCount = workers;
    Outcome o;
    o.result = f.levelise();
    for (const char* name : {"g", "h", "c"}) {
      o.levels.push_back(f.levels(name));
      const LevVariable* v = f.cls(name);
      const auto* values = static_cast<const LevLevelValue*>(v->levelValues);
      std::vector<std::string> vals;
      for (int32_t k = 0; k < v->levelCount; ++k) {
        if (v->var->type == 1) {
          char text[40];
          std::snprintf(text, sizeof text, "%.17g", values[k].value);
          vals.emplace_back(text);
        } else {
          vals.emplace_back(values[k].text, static_cast<size_t>(values[k].length));
        }
      }
      o.values.push_back(vals);
    }
    for (int32_t e = 0; e < f.des.effectCount; ++e) {
      const LevEffect& ef = f.des.effects[e];
      std::vector<int32_t> table{ef.combinationCount};
      if (ef.combinationTable != nullptr)
        table.insert(table.end(), ef.combinationTable,
                     ef.combinationTable + ef.combinationCount * ef.allClassCount);
      o.combinations.push_back(table);
    }
    f.end();
    return o;
  }
};

TEST_F(ThreadTest, EveryOrderAndWorkerCountGivesTheSerialResult) {
  for (const char order : {'D', 'F', 'I', 'M', 'X', 'Y', 'Z'})
    for (int descending : {0, 1}) {
      for (const char* name : {"g", "h", "c"}) {
        f.cls(name)->order = order;
        f.cls(name)->descending = descending;
      }
      const Outcome serial = run(0);
      ASSERT_EQ(serial.result, LevBuild::Ready);
      ASSERT_GE(serial.levels[0].size(), 290u);
      ASSERT_EQ(serial.levels[1].size(), 81u); // the ten close numbers print as one level
      for (int32_t workers : {1, 2, 4, 8})
        EXPECT_TRUE(run(workers) == serial)
            << "ORDER=" << order << " DESCENDING=" << descending << " workers " << workers;
      EXPECT_TRUE(f.messages().empty());
    }
}

// Frequencies, first appearances and representative values straight from the level trees.
TEST_F(ThreadTest, LevelStatisticsEqualTheSerialPass) {
  auto collect = [&](int32_t workers) {
    f.ctx.threadsAllowed = workers > 0;
    f.ctx.workerCount = workers;
    f.block.pool = xmpoolc(nullptr, 1024, 0x1004);
    LevelizeContext* l = zlevini(f.ds, &f.des);
    levRegisterForwarders(&f.ctx, l);
    const int32_t threaded = zlevrinit(&f.ctx, l);
    EXPECT_EQ(threaded, workers > 0 ? 1 : 0);
    if (threaded == 0) {
      for (int32_t i = 0; i < f.des.classCount; ++i)
        EXPECT_EQ(xffile(f.ds, 70, &f.des.classes[i].var->number, 1), 0);
    }
    zlevadd(f.ds, l, &f.des);
    std::vector<std::string> out;
    for (int32_t i = 0; i < f.des.classCount; ++i) {
      out.push_back("count " + std::to_string(l->levelCounts[i]));
      for (void* n = ztreord(l->trees[i]); n != nullptr; n = ztreord(l->trees[i])) {
        const auto* node = static_cast<const LevelNode*>(n);
        const LevVariable& v = f.des.classes[i];
        std::string value = v.var->type == 1
                                ? std::to_string(node->internal.number)
                                : std::string(node->internal.text, size_t(node->internalLength));
        out.push_back(std::string(node->formatted, size_t(v.levelWidth)) + "|" + value + "|" +
                      std::to_string(node->frequency) + "|" +
                      std::to_string(node->firstAppearance));
      }
    }
    xmpoold(l->pool);
    CleanupEThreads(&f.ctx);
    f.end();
    return out;
  };
  const std::vector<std::string> serial = collect(0);
  EXPECT_GT(serial.size(), 380u);
  for (int32_t workers : {1, 3, 8})
    EXPECT_EQ(collect(workers), serial) << workers << " workers";
}

// Faults met for real by a worker: an allocation that fails, a floating-point fault caught
// by the worker's math-error check, any other fault; in the level pass (the first buffers)
// and in the effect-level pass (the last buffer).
TEST_F(ThreadTest, AFailedWorkerIsReportedAndThePassRedoneSerially) {
  const Outcome serial = run(0);
  // Armed past the last buffer, the hook only counts them.
  testHooks().levelFaultBuffer = INT64_MAX;
  run(4);
  const int64_t last = testHooks().levelBuffersHandedOver;
  ASSERT_GE(last, 8 + 2) << "a few buffers a worker in each pass";
  struct Case {
    int64_t buffer;
    WorkerFault fault;
    EffMsg message;
  } cases[] = {
      {1, WorkerFault::NoMemory, EffMsg::LevelisationWorkerOutOfMemory},
      {2, WorkerFault::Invalid, EffMsg::LevelisationWorkerStoppedFloatingPointErrorInvalid},
      {3, WorkerFault::DivideByZero, EffMsg::LevelisationWorkerStoppedFloatingPointErrorDivision},
      {2, WorkerFault::Overflow, EffMsg::LevelisationWorkerStoppedFloatingPointErrorOverflow},
      {2, WorkerFault::Exception, EffMsg::LevelisationWorkerStoppedFault},
      {last, WorkerFault::Overflow, EffMsg::LevelisationWorkerStoppedFloatingPointErrorOverflow},
      {last, WorkerFault::NoMemory, EffMsg::LevelisationWorkerOutOfMemory},
  };
  for (const Case& c : cases) {
    testHooks().levelFaultBuffer = c.buffer;
    testHooks().levelWorkerFault = c.fault;
    testHooks().levelBuffersHandedOver = 0;
    f.des.worstReturnCode = 0;
    EXPECT_TRUE(run(4) == serial) << "buffer " << c.buffer;
    const std::vector<MsgId> logged = f.messages();
    EXPECT_EQ(
        std::count(logged.begin(), logged.end(), MsgId(EffMsg::LevelisationRedoneOnMainThread)), 1)
        << "buffer " << c.buffer;
    EXPECT_EQ(std::count(logged.begin(), logged.end(), c.message), 1) << "buffer " << c.buffer;
    EXPECT_EQ(f.des.worstReturnCode, 1012);
  }
}

} // namespace
