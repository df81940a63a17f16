// The default shape of the cross products through qrx: LASSO and FORWARD over the ten
// diabetes measurements form the packed X'X once (PerfSettings says "Built in full", and
// note 848/4001 stays for a full build the user asked for) and give the tables that the
// passes per step (BUILDSSCP=INCREMENTAL) give, to rounding; a CLASS variable keeps the
// passes per step.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using minijson::Value;

const std::string kLib = "libname ex '" + std::string(QRX_SOURCE_DIR) + "/examples';\n";

qrxrun::ProgramRun fit(const std::string& selection, const std::string& extra,
                       const std::string& tag) {
  return qrxrun::runProgram(kLib + "proc varsifter data=ex.diabetes;\n" + extra +
                                "  model y = age sex bmi bp s1-s6 / selection=" + selection +
                                ";\n" + "run;\n",
                            tag, {});
}

void expectSameEstimates(const qrxrun::ProgramRun& a, const qrxrun::ProgramRun& b) {
  const Value* pa = qrxrun::findTable(a.json["steps"][0]["output"], "ParameterEstimates");
  const Value* pb = qrxrun::findTable(b.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(pa, nullptr) << a.log;
  ASSERT_NE(pb, nullptr) << b.log;
  ASSERT_EQ((*pa)["rows"].items.size(), (*pb)["rows"].items.size());
  for (size_t r = 0; r < (*pa)["rows"].items.size(); ++r) {
    EXPECT_EQ(qrxrun::text(*pa, r, "Parameter"), qrxrun::text(*pb, r, "Parameter"));
    const double v = qrxrun::number(*pa, r, "Estimate");
    EXPECT_NEAR(v, qrxrun::number(*pb, r, "Estimate"), 1e-9 * (1.0 + std::fabs(v))) << r;
  }
}

// The PerfSettings entry that says how the cross-products matrix was built.
std::string crossProducts(const qrxrun::ProgramRun& r) {
  const std::vector<const Value*> perf = qrxrun::tablesOf(r, "PerfSettings");
  if (perf.empty())
    return "";
  for (const Value& e : (*perf[0])["entries"].items)
    if (e["label"].s == "Cross-Products Matrix")
      return e["value"].s;
  return "";
}

} // namespace

TEST(PackedDefault, StepwiseKindsFormThePackedMatrixWithTheSameResults) {
  for (const std::string sel : {"lasso(choose=sbc)", "forward(select=sbc)"}) {
    const qrxrun::ProgramRun packed = fit(sel, "  performance details;\n", "packed");
    const qrxrun::ProgramRun passes =
        fit(sel, "  performance details buildsscp=incremental;\n", "passes");
    const qrxrun::ProgramRun asked = fit(sel, "  performance buildsscp=full;\n", "asked");
    ASSERT_EQ(packed.status, 0) << packed.log;
    ASSERT_EQ(passes.status, 0) << passes.log;
    EXPECT_EQ(crossProducts(packed), "Built in full") << sel;
    EXPECT_NE(crossProducts(passes), "Built in full") << sel;
    EXPECT_EQ(qrxrun::messageCount(packed.json["steps"][0], 848, 4001), 0) << sel;
    EXPECT_EQ(qrxrun::messageCount(asked.json["steps"][0], 848, 4001), 1) << sel;
    expectSameEstimates(packed, passes);
  }
  // With a CLASS variable the number of columns is not known in advance: passes per step.
  const qrxrun::ProgramRun cls =
      fit("forward(select=sbc)", "  class sex;\n  performance details;\n", "packedclass");
  ASSERT_EQ(cls.status, 0) << cls.log;
  EXPECT_NE(crossProducts(cls), "Built in full");
}
