// STORE after a fit on the structured road (a many-level CLASS effect kept as its diagonal
// and cross block): the item store's estimates, covariance, error variance and degrees of
// freedom are those of the packed triangle's road, also for a chosen step before the last,
// and the covariance is numpy's inverse of X'X times the error variance.
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using minijson::Value;

// The item store of `body` on DATA=d, with `hooks` as the test hooks.
Value storeOf(const std::string& data, const std::string& body, const char* hooks,
              const std::string& tag) {
  const qrxrun::ProgramRun r = structuredcheck::runHooked(
      hooks, "proc varsifter data=d;\n" + body + "  store out=ms;\nrun;\n", data, tag, {"ms.json"});
  EXPECT_EQ(r.status, 0) << body << "\n" << r.log;
  Value store;
  std::string error;
  EXPECT_TRUE(
      minijson::Parser(r.files.count("ms.json") ? r.files.at("ms.json") : "").parse(&store, &error))
      << body << ": " << error;
  return store;
}

} // namespace

// 120 levels: FORWARD, and STEPWISE and BACKWARD whose chosen step lies before the last,
// under the GLM and the effect coding. The whole item store agrees with the packed road's
// within 1e-9 and is not the same to the last bit (the structured road was taken).
TEST(StructuredStore, ItemStoreIsThePackedRoads) {
  const std::string data = synthdata::manyLevelsCsv();
  for (const std::string coding : {"", " / param=effect"})
    for (const std::string selection :
         {"forward(select=sbc)", "stepwise(select=sl sle=0.9 sls=0.9 choose=sbc)",
          "backward(select=sl sls=1e-300 choose=aic)"}) {
      const std::string body =
          "  class g" + coding + ";\n  model y = x2 g x1 x3 / selection=" + selection + ";\n";
      const Value packed = storeOf(data, body, "structuredColumns=1000000", "sspacked");
      const Value structured = storeOf(data, body, "structuredColumns=10", "ssstruct");
      ASSERT_EQ(structured["groups"].items.size(), 1u) << body;
      const Value& g = structured["groups"].items[0];
      ASSERT_TRUE(g.has("covariance")) << body;
      EXPECT_GE(g["covariance"].items.size(), 120u) << body;
      qrxrun::expectClose(structured, packed, 1e-9, body);
      EXPECT_NE(qrxrun::dumpOutput(structured), qrxrun::dumpOutput(packed)) << body;
    }
}

// Every effect in the model (12 levels, the road taken from 5 columns): the covariance is
// the error variance times numpy's inverse of X'X (scripts/gen_store_cov_ref.py), 0 for the
// GLM coding's aliased level.
TEST(StructuredStore, CovarianceIsTheInverseOfXpx) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/storecov/";
  const std::string data = qrxrun::readFile(dir + "data.csv");
  for (const std::string coding : {"glm", "effect"}) {
    const Value store =
        storeOf(data,
                "  class g" + std::string(coding == "effect" ? " / param=effect" : "") +
                    ";\n  model y = g x1 x2 / selection=forward(select=sl sle=0.99);\n",
                "structuredColumns=5", "sscov" + coding);
    ASSERT_EQ(store["groups"].items.size(), 1u) << coding;
    const auto& cov = store["groups"].items[0]["covariance"].items;
    const auto want = qrxrun::csvRows(qrxrun::readFile(dir + coding + ".csv"));
    ASSERT_EQ(cov.size(), want.size()) << coding;
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(cov[i].items.size(), want[i].size()) << coding;
      for (size_t j = 0; j < want[i].size(); ++j)
        EXPECT_NEAR(cov[i].items[j].n, std::stod(want[i][j]), 1e-10) << coding << " " << i << j;
    }
  }
}

// The effect coding with levels whose rows are all held out for testing: the swept column of
// the first such level is solved in the level indicators' coordinates, and the covariance
// handed over is still the packed road's.
TEST(StructuredStore, EffectCodingWithEmptyLevelsIsThePackedRoads) {
  const std::string data = synthdata::effectEmptyCsv();
  const std::string body = "  class g / param=effect;\n  model y = x1 g / "
                           "selection=forward(select=sl sle=0.99);\n"
                           "  partition rolevar=keep(train='1' test='0');\n";
  const Value packed = storeOf(data, body, "structuredColumns=1000000", "sepacked");
  const Value structured = storeOf(data, body, "structuredColumns=10", "sestruct");
  ASSERT_EQ(structured["groups"].items.size(), 1u);
  ASSERT_TRUE(structured["groups"].items[0].has("covariance"));
  qrxrun::expectClose(structured, packed, 1e-9, body);
  EXPECT_NE(qrxrun::dumpOutput(structured), qrxrun::dumpOutput(packed));
}
