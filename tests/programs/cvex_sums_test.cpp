// External cross validation's fold fits take their moments, X'X and held-out sums from the
// folds' cross products, formed in one pass, instead of transforming the pages and passing
// over them at every step. End to end through qrx on the diabetes data: LAR, LASSO, LASSO
// and LAR with least-squares coefficients, weights, SPLIT folds and the elastic net's L2
// search give the output of the fits on the pages (the _testroadcvexsums switch at 0) to
// rounding, on one thread and on four; and the two roads are distinct computations.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace {

using qrxrun::Value;

const char* const kHead = "libname ex 'examples';\n";

// Least-squares coefficients form the full X'X when asked to (BUILDSSCP=FULL).
std::string cvexPrograms(const std::string& perf) {
  const std::string x = "age sex bmi bp s1-s6", full = " buildsscp=full";
  const std::pair<std::string, std::string> models[] = {
      {"model y = " + x + " / selection=lasso(choose=cvex stop=none showcvex) cvmethod=random(5);",
       ""},
      {"model y = " + x + " / selection=lar(choose=cvex stop=none showcvex) cvmethod=split(4);",
       ""},
      {"model y = " + x +
           " / selection=lasso(choose=cvex stop=none lscoeffs showcvex l1choice=norm) "
           "cvmethod=random(3);",
       full},
      {"weight bmi;\n  model y = age sex bp s1-s6 / selection=lasso(choose=cvex stop=none "
       "showcvex l1choice=value) cvmethod=random(4);",
       ""},
      {"model y = " + x +
           " / selection=lar(choose=cvex stop=none lscoeffs showcvex) "
           "cvmethod=random(10);",
       full},
      {"model y = " + x +
           " / selection=elasticnet(choose=cvex stop=none showcvex) "
           "cvmethod=random(5);",
       ""},
  };
  std::string program;
  for (const auto& [model, extra] : models)
    program += "proc varsifter data=ex.diabetes seed=11;\n  " + model + "\n  performance " + perf +
               extra + ";\nrun;\n";
  return program;
}

struct Agreement {
  int numbers = 0, distinct = 0;
};

// Walks two outputs together: the same shape and texts, numbers equal to rounding.
void expectAgree(const Value& a, const Value& b, const std::string& at, Agreement& n) {
  ASSERT_EQ(a.kind, b.kind) << at;
  switch (a.kind) {
  case Value::Number: {
    ++n.numbers;
    const double d = std::fabs(a.n - b.n);
    n.distinct += d != 0.0 ? 1 : 0;
    EXPECT_TRUE(d <= 1e-8 * std::max(std::fabs(a.n), std::fabs(b.n)) || d <= 1e-10)
        << at << ": " << a.n << " against " << b.n;
    break;
  }
  case Value::Array:
    ASSERT_EQ(a.items.size(), b.items.size()) << at;
    for (size_t i = 0; i < a.items.size(); ++i)
      expectAgree(a.items[i], b.items[i], at + "/" + std::to_string(i), n);
    break;
  case Value::Object:
    ASSERT_EQ(a.members.size(), b.members.size()) << at;
    for (const auto& [key, value] : a.members) {
      ASSERT_TRUE(b.has(key)) << at << "/" << key;
      expectAgree(value, b[key], at + "/" + key, n);
    }
    break;
  default:
    EXPECT_EQ(qrxrun::dumpOutput(a), qrxrun::dumpOutput(b)) << at;
  }
}

void expectSameAsPages(const std::string& perf, const std::string& tag) {
  const std::string program = cvexPrograms(perf);
  const auto sums = qrxrun::run(kHead + program, tag + "x");
  const auto pages =
      qrxrun::run(std::string(kHead) + "%let _testroadcvexsums = 0;\n" + program, tag + "p");
  for (const auto* r : {&sums, &pages}) {
    ASSERT_EQ(r->status, 0) << r->log;
    ASSERT_EQ(r->json["steps"].items.size(), 6u);
  }
  for (size_t s = 0; s < 6; ++s) {
    const Value& a = sums.json["steps"][s]["output"];
    ASSERT_NE(qrxrun::findTable(a, "CVExternal"), nullptr) << "step " << s + 1;
    Agreement n;
    expectAgree(a, pages.json["steps"][s]["output"], "step " + std::to_string(s + 1), n);
    EXPECT_GT(n.distinct, 0) << "step " << s + 1 << ": the fold fits took one road";
  }
}

TEST(CVExSums, FoldFitsGiveTheOutputOfTheFitsOnThePagesOnOneThread) {
  expectSameAsPages("nothreads", "cvexsums1");
}

TEST(CVExSums, FoldFitsGiveTheOutputOfTheFitsOnThePagesOnFourThreads) {
  expectSameAsPages("threads cpucount=4", "cvexsums4");
}

} // namespace
