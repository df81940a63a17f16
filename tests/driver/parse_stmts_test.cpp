// The PERFORMANCE, OUTPUT, SCORE, PARTITION and MODELAVERAGE readers and the thread
// queries.
#include "parse_harness.h"

#include "driver/vsfreaders.h"
#include "host/supervisor.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/testthread.h"

#include <gtest/gtest.h>

#include <cstring>

using parsetest::parse;

namespace {

TEST(ParsePerformance, ThreadsAndCpuCount) {
  auto r = parse("data=d; model y=x1;", "", {{"CPUCOUNT", "6"}});
  EXPECT_EQ(r.ctx->perf.threadCount, 6);
  EXPECT_EQ(r.ctx->perf.statement, nullptr);
  EXPECT_EQ(r.ctx->perf.threadingOn, 1);
  EXPECT_EQ(r.ctx->perf.details + r.ctx->perf.timing, 0);
  EXPECT_EQ(r.ctx->stmt.perfOptions.utilBuffers, 0);

  r = parse("data=d; model y=x1; performance cpucount=max;");
  EXPECT_EQ(r.ctx->perf.threadCount, 1024);
  r = parse("data=d; model y=x1; performance cpucount=min;");
  EXPECT_EQ(r.ctx->perf.threadCount, 1);
  r = parse("data=d; model y=x1; performance cpucount=8;");
  EXPECT_EQ(r.ctx->perf.threadCount, 8);
  r = parse("data=d; model y=x1; performance cpucount=actual;");
  EXPECT_EQ(r.ctx->perf.threadCount, r.ctx->perf.actualCpuCount);
  EXPECT_GE(r.ctx->perf.actualCpuCount, 1);
  r = parse("data=d; model y=x1; performance cpucount=2000;");
  EXPECT_TRUE(r.has(qrxhost::PM_RANGE));

  r = parse("data=d; model y=x1; performance threads nothreads;");
  EXPECT_EQ(r.ctx->perf.threadingOn, 0);
  r = parse("data=d; model y=x1; performance nothreads threads;");
  EXPECT_EQ(r.ctx->perf.threadingOn, 0);
  r = parse("data=d; model y=x1; performance threads=no;");
  EXPECT_EQ(r.ctx->perf.threadingOn, 0);
  r = parse("data=d; model y=x1;", "", {{"THREADS", "0"}});
  EXPECT_EQ(r.ctx->perf.threadingOn, 0);
  r = parse("data=d; model y=x1; performance threads;", "", {{"THREADS", "NO"}});
  EXPECT_EQ(r.ctx->perf.threadingOn, 1);
}

TEST(ParsePerformance, DetailsAndHiddenOptions) {
  auto r = parse("data=d; model y=x1; performance alldetails$;");
  EXPECT_EQ(r.ctx->perf.details, 1);
  EXPECT_EQ(r.ctx->perf.allDetails, 1);
  EXPECT_EQ(r.ctx->perf.timing, 1);
  r = parse("data=d; model y=x1; performance alldetails$ notiming$;");
  EXPECT_EQ(r.ctx->perf.timing, 0);
  r = parse("data=d; model y=x1; performance buildsscp=incremental util_buffers$=3"
            " util_pagesize$=64 util_random$ allsparse$ util_details$ full_sweep$=always"
            " perfstatus$ force$;");
  const VsfPerfOptions& o = r.ctx->stmt.perfOptions;
  EXPECT_EQ(o.sscpIncremental, 1);
  EXPECT_EQ(o.utilBuffers, 3);
  EXPECT_EQ(o.utilPageSize, 64);
  EXPECT_EQ(o.utilAccess, 2);
  EXPECT_EQ(o.allSparse, 1);
  EXPECT_EQ(o.utilDetails, 1);
  EXPECT_EQ(o.fullSweep, VsfFullSweep::Always);
  EXPECT_EQ(r.ctx->perf.status + r.ctx->perf.force, 2);
}

TEST(ParsePerformance, BadHostOptionIsAnInternalError) {
  auto r = parse("data=d; model y=x1;", "", {{"CPUCOUNT", "lots"}});
  EXPECT_EQ(r.exitCode, 1012);
}

TEST(ThreadQueries, TestThreadMacros) {
  parse("data=d; model y=x1;");
  HostMacroTable* t = xalanch(hostCurrentTask()->macroWord);
  auto set = [&](const char* name, const char* value) {
    EXPECT_EQ(xjsympc(t, name, static_cast<int32_t>(std::strlen(name)), 0, 0, value,
                      static_cast<int32_t>(std::strlen(value))),
              0);
  };
  EXPECT_EQ(ztestthread("zlev", 4), -1);
  set("_testthread", "0");
  set("_testthreadzlev", "2");
  EXPECT_EQ(ztestthread("zlev", 4), 1);
  EXPECT_EQ(ztestthread(nullptr, 0), 0);
  set("_testthread", ".");
  set("_testthreadzlev", "0");
  EXPECT_EQ(ztestthread("zlev", 4), 0);
}

TEST(ParseOutput, StatisticsAndNames) {
  auto r = parse("data=d; model y=x1; output out=o pred resid=res sp;");
  ASSERT_EQ(r.result, 0);
  const VsfOutputSpec& s = r.ctx->stmt.output;
  EXPECT_NE(s.out, nullptr);
  EXPECT_EQ(s.columnCount, 2);
  EXPECT_EQ(s.stat(VsfOutputStatIndex::Pred).on, 1);
  EXPECT_EQ(s.stat(VsfOutputStatIndex::Pred).nameLength, 0);
  ASSERT_EQ(s.stat(VsfOutputStatIndex::Resid).nameLength, 3);
  EXPECT_EQ(std::string(s.stat(VsfOutputStatIndex::Resid).name, 3), "res");
  EXPECT_EQ(s.stat(VsfOutputStatIndex::SamplePred).on, 1);
  EXPECT_EQ(r.ctx->options.hasOutput, 1);
}

TEST(ParseScore, RecordsInStatementOrder) {
  auto r = parse("data=d; model y=x1; score data=e out=s1 pred; score data=d out=s2 med=m;");
  ASSERT_EQ(r.result, 0);
  ASSERT_EQ(r.ctx->scoreCount, 2);
  const VsfScoreSpec* s = r.ctx->scores;
  EXPECT_NE(s[0].data, s[1].data);
  EXPECT_EQ(s[0].spec.stat(VsfOutputStatIndex::Pred).on, 1);
  EXPECT_EQ(s[0].spec.stat(VsfOutputStatIndex::SampleFreq).on, 0); // never on for SCORE
  EXPECT_EQ(s[1].spec.stat(VsfOutputStatIndex::Median).on, 1);
  EXPECT_EQ(s[1].spec.columnCount, 1);
  r = parse("data=d; model y=x1; score data=e out=s1 sf;");
  EXPECT_TRUE(r.has(qrxhost::PM_SYNTAX)); // SAMPLEFREQ is no SCORE option
  r = parse("data=d; model y=x1;");
  EXPECT_EQ(r.ctx->scoreCount, 0);
}

TEST(ParsePartition, FractionsAndRoles) {
  auto r = parse("data=d; model y=x1; partition fraction(validate=0.3 test=0.2);");
  ASSERT_EQ(r.result, 0);
  EXPECT_DOUBLE_EQ(r.ctx->options.validateFraction, 0.3);
  EXPECT_DOUBLE_EQ(r.ctx->options.testFraction, 0.2);
  EXPECT_DOUBLE_EQ(r.ctx->options.trainFraction, 1 - 0.2 - 0.3);
  EXPECT_TRUE(r.ctx->stmt.partition.validationAsked && r.ctx->stmt.partition.testAsked);

  r = parse("data=d; model y=x1; partition fraction(validate=0.5 test=0.5);");
  EXPECT_TRUE(r.has(VsfMsg::PartitionLeavesNoTraining));
  EXPECT_EQ(r.result, codeOf(DriverResult::PartitionNoTraining));
  EXPECT_EQ(r.ctx->returnCode, 1012);

  r = parse("data=d testdata=e; model y=x1; partition fraction(test=0.2);");
  EXPECT_TRUE(r.has(VsfMsg::TestGivenTwice));
  EXPECT_EQ(r.result, codeOf(DriverResult::TestRowsTwice));
  EXPECT_EQ(r.ctx->returnCode, 3000);
  r = parse("data=d valdata=e; model y=x1; partition fraction(validate=0.2);");
  EXPECT_TRUE(r.has(VsfMsg::ValidationGivenTwice));
  EXPECT_EQ(r.result, codeOf(DriverResult::ValidationRowsTwice));

  r = parse("data=d; model y=x1; partition rolevar=r;");
  EXPECT_TRUE(r.has(VsfMsg::PartitionRoleWithoutValues));
  EXPECT_EQ(r.result, codeOf(DriverResult::PartitionNoRole));

  r = parse("data=d; model y=x1; partition rolevar=r(train='  a ' test='   ');");
  ASSERT_EQ(r.result, 0);
  const VsfPartitionSettings& p = r.ctx->stmt.partition;
  EXPECT_EQ(p.roleVar, 10);
  EXPECT_EQ(p.trainLength, 1);
  EXPECT_EQ(p.trainText[0], 'a');
  EXPECT_EQ(p.testLength, -3);
  EXPECT_TRUE(p.testAsked);
  EXPECT_FALSE(p.validationAsked);
}

TEST(ParseModelAverage, DefaultsAndThreadSplit) {
  auto r = parse("data=d; model y=x1; modelaverage;");
  ASSERT_EQ(r.result, 0);
  const VsfModelAverageSettings* a = &r.ctx->stmt.ma;
  EXPECT_EQ(a->nSamples, 100);
  EXPECT_EQ(a->threads, 1);
  EXPECT_DOUBLE_EQ(a->alpha, 0.5);
  EXPECT_DOUBLE_EQ(a->sampleFraction, 1.0);
  EXPECT_EQ(a->espLevel + a->msfLevel + a->pestLevel, 3);
  EXPECT_DOUBLE_EQ(a->espMinPct, 20);
  EXPECT_DOUBLE_EQ(a->pestMinPct, 20);
  EXPECT_EQ(a->msfBest, 20);
  EXPECT_EQ(a->scheduleChunk, 5);
  EXPECT_EQ(a->refitBest, -1);
  EXPECT_DOUBLE_EQ(a->refitMinPct, 0.2);

  r = parse("data=d seed=77; model y=x1; modelaverage nthreads$=8 nsamples=20;");
  a = &r.ctx->stmt.ma;
  EXPECT_EQ(a->threads, 8);
  EXPECT_EQ(a->samplesPerThread, 20 / 8);
  EXPECT_EQ(a->remainder, 20 % 8);
  EXPECT_EQ(a->scheduleChunk, 2);
  EXPECT_EQ(a->multithreaded, 1);
  EXPECT_EQ(a->seed, 77);
  r = parse("data=d; model y=x1; modelaverage nthreads=50 nsamples=20;");
  EXPECT_EQ(r.ctx->stmt.ma.threads, 20);
  EXPECT_EQ(r.ctx->stmt.ma.samplesPerThread, 1);
  // No threads asked is one thread: the samples are still divided without fault.
  r = parse("data=d; model y=x1; modelaverage nthreads=0 nsamples=7;");
  EXPECT_EQ(r.ctx->stmt.ma.threads, 1);
  EXPECT_EQ(r.ctx->stmt.ma.samplesPerThread, 7);
}

TEST(ParseModelAverage, SamplingTablesAndRefusals) {
  auto r = parse("data=d; model y=x1; modelaverage sampling=srs;");
  EXPECT_DOUBLE_EQ(r.ctx->stmt.ma.sampleFraction, 0.75);
  r = parse("data=d; model y=x1; modelaverage sampling=urs(size=50 pct=30);");
  EXPECT_TRUE(r.has(VsfMsg::BothSizePctGiven));
  EXPECT_DOUBLE_EQ(r.ctx->stmt.ma.sampleSize, 0);
  EXPECT_DOUBLE_EQ(r.ctx->stmt.ma.sampleFraction, 0.3);
  r = parse("data=d; model y=x1; modelaverage tables(only)=parmest;");
  EXPECT_EQ(r.ctx->stmt.ma.espLevel, 0);
  EXPECT_EQ(r.ctx->stmt.ma.msfLevel, 0);
  EXPECT_EQ(r.ctx->stmt.ma.pestLevel, 1);
  r = parse("data=d; model y=x1; modelaverage tables=none;");
  EXPECT_EQ(r.ctx->stmt.ma.espLevel + r.ctx->stmt.ma.pestLevel, 0);
  EXPECT_FALSE(r.has(VsfMsg::TablesNoneOverridesNamed));
  r = parse("data=d; model y=x1; modelaverage tables=(none parmest);");
  EXPECT_TRUE(r.has(VsfMsg::TablesNoneOverridesNamed));
  r = parse("data=d; model y=x1; modelaverage refit(all) schedule$=static;");
  EXPECT_EQ(r.ctx->stmt.ma.refitBest, -1);
  EXPECT_DOUBLE_EQ(r.ctx->stmt.ma.refitMinPct, 0);
  EXPECT_EQ(r.ctx->stmt.ma.scheduleChunk, -1);
  EXPECT_EQ(r.ctx->stmt.ma.refitChunk, -1);
  r = parse("data=d; model y=x1; modelaverage alpha=0;");
  EXPECT_TRUE(r.has(VsfMsg::AlphaNotPositive));
  EXPECT_EQ(r.result, codeOf(DriverResult::OutOfRange));
  r = parse("data=d; model y=x1; modelaverage sampling=urs(pct=0);");
  EXPECT_TRUE(r.has(VsfMsg::SamplingPercentageNotPositive));
  EXPECT_EQ(r.result, codeOf(DriverResult::OutOfRange));
  r = parse("data=d; model y=x1 / selection=elasticnet; modelaverage;");
  EXPECT_TRUE(r.has(VsfMsg::ModelAveragingNotWithL2Search));
  EXPECT_EQ(r.result, codeOf(DriverResult::AveragingCombination));
  EXPECT_EQ(r.ctx->returnCode, 3000);
  r = parse("data=d; model y=x1; modelaverage shareddrive$='/nonexistent/qrx';");
  EXPECT_TRUE(r.has(VsfMsg::SharedDriveNotUsable));
  EXPECT_EQ(r.result, codeOf(DriverResult::SharedDriveNotUsable));
}

} // namespace
