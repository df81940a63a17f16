// The observation source: several WEIGHT variables give their mean (missing when one is),
// a read record with both extra response-side variables holds every value, reading across
// BY groups sees the whole data set, letters fill only what they name, and zlevtrm's stages.
#include "designfixture.h"

#include "design/levlevel.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <cstring>

using designtest::DesignFixture;

namespace {

TEST(Source, SeveralWeightsGiveTheirMean) {
  DesignFixture f;
  f.data("a,y,w1,w2\nu,1,1,3\nv,2,2,.\n");
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  static LevVariable weights[2];
  std::memset(weights, 0, sizeof weights);
  int32_t n1 = 0, n2 = 0;
  (void)xvfind(f.ds, "w1", 2, &n1, 0);
  (void)xvfind(f.ds, "w2", 2, &n2, 0);
  EXPECT_EQ(xvname(f.ds, n1, &weights[0].var), 0);
  EXPECT_EQ(xvname(f.ds, n2, &weights[1].var), 0);
  f.ctx.weights = weights;
  f.ctx.weightCount = 2;
  f.des.designFlags.set(LevDesignFlag::NoRowBuffers);
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  auto rows = f.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].w, 2.0);
  EXPECT_TRUE(rows[0].status.empty());
  EXPECT_TRUE(isHostMissing(rows[1].w));
  EXPECT_TRUE(rows[1].status.has(LevRowStatus::Weight));
}

TEST(Source, ExtraVariablesAllFitInTheRecord) {
  DesignFixture f;
  f.data("a,x,y,e1,e2,ex,fr\nu,1,1,10,20,30,2\nv,2,2,11,.,31,1\n");
  f.design({"a"}, {"x"}, {{"a", {}, {"a"}, {}}, {"x", {"x"}, {}, {}}});
  f.response("y");
  f.freq("fr");
  static LevVariable extras[3];
  std::memset(extras, 0, sizeof extras);
  const char* names[3] = {"e1", "e2", "ex"};
  for (int k = 0; k < 3; ++k) {
    int32_t n = 0;
    (void)xvfind(f.ds, names[k], 2, &n, 0);
    EXPECT_EQ(xvname(f.ds, n, &extras[k].var), 0);
  }
  f.ctx.extraResponse1 = &extras[0];
  f.ctx.extraResponse2 = &extras[1];
  f.ctx.extraExplanatory = &extras[2];
  f.des.designFlags.set(LevDesignFlag::NonGlm); // no level-combination pass: every row is coded
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  auto rows = f.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].status.empty());
  EXPECT_EQ(rows[0].f, 2.0);
  // The second extra response-side value is missing in row 2: bit 4.
  EXPECT_TRUE(rows[1].status == LevRowStatus::Response);
  EXPECT_EQ(extras[0].value, 11.0);
  EXPECT_EQ(extras[2].value, 31.0);
  // Letters fill only what they name: "b" fills the character CLASS value alone.
  EXPECT_EQ(zlevGetInit(&f.ctx), VsfStatus::Ok);
  ASSERT_EQ(zlevGetNext(&f.ctx), 1);
  ASSERT_EQ(zlevGetNext(&f.ctx), 1);
  char buffer[8] = "???????";
  LevCharValue entry{buffer, 1};
  void* dest[1] = {&entry};
  EXPECT_EQ(zlevGetVals(&f.ctx, "b", dest), 1);
  EXPECT_EQ(buffer[0], 'v');
  EXPECT_EQ(buffer[1], '?');
}

TEST(Source, AcrossByGroupsReadsTheWholeDataSet) {
  DesignFixture f;
  f.data("g,a,y\n1,u,1\n1,v,2\n2,w,3\n");
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  int32_t g = 0;
  (void)xvfind(f.ds, "g", 1, &g, 0);
  ASSERT_EQ(xbyset(f.ds, &g, nullptr, 1, 0), 0);
  ASSERT_EQ(xbynext(xdsby(f.ds)), 1);
  f.des.designFlags.set(LevDesignFlag::AcrossBy);
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.levels("a"), (std::vector<std::string>{"u", "v", "w"}));
  f.end();
  // After zlevtrm(all) the per-group callbacks come back.
  f.des.designFlags.clear(LevDesignFlag::AcrossBy);
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.levels("a"), (std::vector<std::string>{"u", "v"}));
}

TEST(Source, EndingTheContext) {
  zlevtrm(nullptr, kLevReleaseAll); // nothing happens
  DesignFixture f;
  f.data("a,y\nu,1\n");
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  ASSERT_NE(f.block.pool, v_global_gcb_anchor->defaultPool);
  zlevtrm(&f.ctx, LevRelease::WorkArrays);
  EXPECT_EQ(f.ctx.levelIndex, nullptr);
  EXPECT_NE(f.ctx.getInit, nullptr);
  zlevtrm(&f.ctx, kLevReleaseAll);
  EXPECT_EQ(f.block.pool, v_global_gcb_anchor->defaultPool);
  EXPECT_EQ(f.block.plainVector, nullptr);
  EXPECT_EQ(f.block.formattedVector, nullptr);
  EXPECT_EQ(f.ctx.getInit, nullptr);
  EXPECT_EQ(f.des.classes[0].levelCount, 0);
  EXPECT_EQ(f.des.columnCount, 0);
}

// A source that cannot start the group over fails the pass by name, once logged, with the
// design's return code raised.
TEST(Source, ARefusedRewindIsReportedAsAFailure) {
  DesignFixture f;
  f.data("a,y\nu,1\n");
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  using Init = VsfStatus (*)(LevRegContext*);
  Init refuse = [](LevRegContext*) { return VsfStatus::DataNotReadable; };
  f.ctx.getInit = reinterpret_cast<HostRoutine>(refuse);
  EXPECT_EQ(zlevGetInit(&f.ctx), VsfStatus::ReportedFailure);
  EXPECT_EQ(f.messages(), std::vector<MsgId>{LevMsg::GroupNotReread});
  EXPECT_GE(f.des.worstReturnCode, codeOf(StepRc::Error));
}

TEST(Source, ANarrowLevelWidthWarnsOnceAndCutsValues) {
  DesignFixture f;
  f.data("a,y\nlongvalue1,1\nlongvalue2,2\nshort,3\n");
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  f.cls("a")->levelWidth = 4;
  f.messages();
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.levels("a"), (std::vector<std::string>{"long", "shor"}));
  EXPECT_EQ(f.messages(), std::vector<MsgId>{LevMsg::ClassValuesCutToWidth});
  f.end();
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_TRUE(f.messages().empty());
}

int32_t noValues(LevRegContext*, const char*, void* const*) { return 0; }

// An observation whose values cannot be fetched is reported once and left out, never read
// from the values the buffers still hold from the one before.
TEST(Source, AnObservationThatCannotBeReadIsReportedAndLeftOut) {
  DesignFixture f;
  f.data("a,y\np,1\nq,2\n");
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  f.messages();
  f.ctx.getVals = nullptr;
  ASSERT_EQ(vir2g(reinterpret_cast<HostRoutine>(&noValues), &f.ctx.getVals), 0);
  ASSERT_EQ(zlevGetInit(&f.ctx), VsfStatus::Ok);
  int rows = 0;
  for (; zlevGetNext(&f.ctx) == 1; ++rows)
    EXPECT_TRUE(zlevrgd(&f.ctx, nullptr, nullptr, nullptr) ==
                (LevRowStatus::Explanatory | LevRowStatus::Response));
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(f.messages(), std::vector<MsgId>{LevMsg::ObservationNotRead});
  EXPECT_EQ(f.des.worstReturnCode, 1012);
}

} // namespace

namespace {

TEST(Source, ADesignWithoutVariablesStillGetsColumnsAndFitCallbacks) {
  DesignFixture f;
  f.data("y\n1\n2\n");
  f.design({}, {}, {});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.des.columnCount, 1);
  EXPECT_NE(f.ctx.fit.getY, nullptr);
  EXPECT_NE(f.ctx.fit.getW, nullptr);
  auto rows = f.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].y, 2.0);
  EXPECT_EQ(rows[1].x, std::vector<double>{1.0});
}

} // namespace
