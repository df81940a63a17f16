// The same selection on one thread, on 2, 4 and 8 page workers, with threading off and with
// pages forced to disk (small pages, one kept in memory per file), with dense and sparse
// storage of the CLASS effects: the same effects in the same order and the same criteria.
#include "selection/fitfixture.h"

#include "host/ext/qkpgf.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace fittest;

namespace {

struct Snapshot {
  std::vector<int32_t> effects, ranks;
  std::vector<double> sse, press;
  uint8_t stopReason = 0;
};

Snapshot run(const Design& d, FitSetup s) {
  Fit fit(d, s);
  fit.go();
  EXPECT_EQ(fit.readRc, 0);
  EXPECT_EQ(fit.initRc, VsfStatus::Ok);
  EXPECT_EQ(fit.processRc, VsfStatus::Ok);
  Snapshot out;
  VsfModel& m = fit.m();
  EXPECT_EQ(m.fitStatus, VsfFitStatus::Done);
  for (int32_t i = 0; i < m.history.stepCount; ++i) {
    out.effects.push_back(m.history.stepEffect[i]);
    out.ranks.push_back(m.history.stepRank[i]);
    out.sse.push_back(m.history.stepSSE[i]);
    if (m.history.stepPress != nullptr)
      out.press.push_back(m.history.stepPress[i]);
  }
  out.stopReason = m.stop.stopReason;
  return out;
}

// tol: 1e-12, except for the full model of the uncentred diabetes design (BACKWARD), whose
// SSE is about a tenth of y'y and whose X'X is ill-conditioned: the differently ordered
// sums of the page workers reach its SSE and PRESS at about 5e-12.
void expectSame(const Snapshot& a, const Snapshot& b, const std::string& tag, double tol) {
  EXPECT_EQ(a.effects, b.effects) << tag;
  EXPECT_EQ(a.ranks, b.ranks) << tag;
  EXPECT_EQ(a.stopReason, b.stopReason) << tag;
  ASSERT_EQ(a.sse.size(), b.sse.size()) << tag;
  for (size_t i = 0; i < a.sse.size(); ++i)
    EXPECT_LE(std::fabs(a.sse[i] - b.sse[i]), tol * std::fabs(a.sse[i])) << tag << " step " << i;
  ASSERT_EQ(a.press.size(), b.press.size()) << tag;
  for (size_t i = 0; i < a.press.size(); ++i)
    EXPECT_LE(std::fabs(a.press[i] - b.press[i]), tol * std::fabs(a.press[i])) << tag;
}

struct Threads : ::testing::Test {
  void SetUp() override { datatest::setUpHost(); }
  void TearDown() override { EXPECT_EQ(qrxhost::liveUtilityFiles(), 0); }
};

TEST_F(Threads, SelectionsAgreeAcrossWorkersDiskPagesAndStorage) {
  for (const char* data : {"diabetes", "classdata"}) {
    const Design d = readDesign(data);
    for (VsfMethod method : {VsfMethod::Forward, VsfMethod::Backward, VsfMethod::Stepwise}) {
      for (bool full : {true, false}) {
        FitSetup base;
        base.method = method;
        base.select =
            method == VsfMethod::Backward ? 9 : 4; // BACKWARD by PRESS: a PRESS pass per trial
        base.full = full;
        const Snapshot serial = run(d, base);
        const double tol =
            (method == VsfMethod::Backward && std::string(data) == "diabetes") ? 1e-11 : 1e-12;
        ASSERT_GT(serial.effects.size(), 1u);
        for (int32_t threads : {0, 2, 4, 8}) {
          for (bool disk : {false, true}) {
            FitSetup s = base;
            s.threads = threads;
            s.disk = disk;
            expectSame(serial, run(d, s),
                       std::string(data) + " method " + methodName(method) + " threads " +
                           std::to_string(threads) + (disk ? " disk" : "") + (full ? " full" : ""),
                       tol);
          }
        }
        if (std::string(data) == "classdata") {
          FitSetup s = base;
          s.sparse = true;
          s.threads = 4;
          s.disk = true;
          expectSame(serial, run(d, s),
                     std::string("sparse CLASS effects, method ") + methodName(method), tol);
        }
      }
    }
  }
}

} // namespace
