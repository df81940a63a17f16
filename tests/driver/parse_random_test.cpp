// Mutated programs through the whole statement front end (parser, effect callback and
// readers): every run ends either with its settings read or with a raised return code,
// and never with a crash or sanitizer report.
#include "parse_harness.h"

#include <gtest/gtest.h>

#include <random>

using parsetest::parse;

namespace {

const char* kSeeds[] = {
    "data=d plots(unpack)=(coefficients(stepaxis=normb) criteria); class a b(param=ref) /"
    " delimiter='|'; model y = x1 x2|x3 a*b x1(a) x1-x3 x: @2 / selection=lasso(adaptive stop=l1"
    " l1=0.5) stats=(all) details=steps(anova candidates(show=3));",
    "data=d; freq f; weight w; effect s = spline(x1 / knotmethod=list(1 2 to 10 by 2));"
    " model y = s x2 / selection=elasticnet(l2=0.5) cvmethod=index(k) choose=cv;"
    " output out=o pred=p resid; score data=d out=s pred; partition rolevar=r(train='TRAIN');"
    " performance cpucount=max details; modelaverage nthreads$=2 tables(only)=(parmest all);",
};

const char* kPieces[] = {";",  "=",   "(",    ")",          "/",        "*",       "|",       "-",
                         "@",  ":",   "'",    "\"",         " model ",  " class ", " x1",     " a",
                         " 0", " -1", " 1e9", " _numeric_", " effect ", " by ",    " data=d", "$",
                         ".",  ",",   " to ", "2147483648", "/*"};

std::string mutate(std::string s, std::mt19937& rng) {
  int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits && !s.empty(); ++e) {
    size_t at = rng() % s.size();
    switch (rng() % 3) {
    case 0:
      s.erase(at, 1 + rng() % 6);
      break;
    case 1:
      s.insert(at, kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])]);
      break;
    default:
      s[at] = static_cast<char>(rng() % 256);
    }
  }
  return s;
}

// A run either reads its settings, logging no error and keeping its return code below
// 1012, or it fails: then an error message says why and the return code is raised.
TEST(ParseRandom, MutatedProgramsEndCleanly) {
  std::mt19937 rng(20261207);
  int succeeded = 0, failed = 0;
  for (int i = 0; i < 400; ++i) {
    std::string text = mutate(kSeeds[i % 2], rng);
    auto r = parse(text);
    SCOPED_TRACE(testing::Message() << "result " << r.result << " exit " << r.exitCode
                                    << " return code " << r.ctx->returnCode << " for: " << text);
    if (r.result == 0 && r.exitCode < 0) {
      ++succeeded;
      EXPECT_FALSE(r.ctx->syntaxError);
      EXPECT_FALSE(r.anyError());
      EXPECT_LT(r.ctx->returnCode, 1012);
    } else {
      ++failed;
      EXPECT_TRUE(r.anyError());
      EXPECT_TRUE(r.ctx->returnCode >= 1012 || r.exitCode >= 1012);
    }
  }
  // the mutations reach both outcomes
  EXPECT_GT(succeeded, 0);
  EXPECT_GT(failed, 200);
}

// The programs the mutations start from are valid: their failures come from the mutations.
TEST(ParseRandom, SeedProgramsAreRead) {
  for (const char* seed : kSeeds) {
    auto r = parse(seed);
    EXPECT_EQ(r.result, 0) << seed;
    EXPECT_EQ(r.exitCode, -1) << seed;
    EXPECT_FALSE(r.anyError()) << seed;
  }
}

} // namespace
