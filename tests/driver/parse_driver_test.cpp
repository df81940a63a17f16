// The parse driver: statement counts, syntax errors with their position, the readers'
// order, and the nodes that hidden keywords and aliases leave.
#include "parse_harness.h"

#include "driver/vsfparse.h"
#include "support/parsedstmt.h"

#include <gtest/gtest.h>

using parsetest::parse;

namespace {

TEST(ParseDriver, NoModelStatement) {
  auto r = parse("data=d;");
  EXPECT_TRUE(r.has(848, 141));
  EXPECT_EQ(r.result, -14);
  EXPECT_EQ(r.ctx->returnCode, 3000);
}

TEST(ParseDriver, BareModelIsStepwiseSbc) {
  auto r = parse("data=d; model y = x1 x2;");
  ASSERT_EQ(r.result, 0) << (r.log.empty() ? "" : r.log[0].text);
  const VsfModelOptions& o = r.ctx->options;
  EXPECT_EQ(o.method, VM_STEPWISE);
  EXPECT_EQ(o.select, VC_SBC);
  EXPECT_EQ(o.stop, VC_SBC);
  EXPECT_EQ(o.choose, 0);
  EXPECT_DOUBLE_EQ(o.slEntry, 0.15);
  EXPECT_DOUBLE_EQ(o.slStay, 0.15);
  EXPECT_DOUBLE_EQ(o.fuzz, 1e-12);
  EXPECT_EQ(o.forcedIn, 1);
}

} // namespace
