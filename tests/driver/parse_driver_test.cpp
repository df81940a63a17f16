// The parse driver: statement counts, syntax errors with their position, the readers'
// order, the hooks' hand-over of errors, name lists, statement lookup and the token save.
#include "parse_harness.h"

#include "driver/vsfparse.h"
#include "support/driverresult.h"
#include "support/parsedstmt.h"
#include "support/vsfmethods.h"

#include <gtest/gtest.h>

#include <cstring>

using parsetest::parse;

namespace {

TEST(ParseDriver, NoModelStatement) {
  auto r = parse("data=d;");
  EXPECT_TRUE(r.has(VsfMsg::ModelStatementRequired));
  EXPECT_EQ(r.result, codeOf(DriverResult::NoModelStatement));
  EXPECT_EQ(r.ctx->returnCode, 3000);
}

TEST(ParseDriver, BareModelIsStepwiseSbc) {
  auto r = parse("data=d; model y = x1 x2;");
  ASSERT_EQ(r.result, 0);
  const VsfModelOptions& o = r.ctx->options;
  EXPECT_EQ(o.method, VsfMethod::Stepwise);
  EXPECT_EQ(o.select, VsfCriterion::Sbc);
  EXPECT_EQ(o.stop, VsfCriterion::Sbc);
  EXPECT_EQ(o.choose, VsfCriterion::NoneGiven);
  EXPECT_DOUBLE_EQ(o.slEntry, 0.15);
  EXPECT_DOUBLE_EQ(o.slStay, 0.15);
  EXPECT_DOUBLE_EQ(o.fuzz, 1e-12);
  EXPECT_EQ(o.forcedIn, 1);
  EXPECT_EQ(r.ctx->returnCode, 0);
  EXPECT_FALSE(r.anyError());
}

TEST(ParseDriver, StatementCounts) {
  auto r = parse("data=d; model y = x1; model y = x2;");
  EXPECT_TRUE(r.has(VsfMsg::OnlyOneModelStatement));
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
  EXPECT_EQ(r.ctx->returnCode, 3000);

  r = parse("data=d; model y = x1; class a;");
  EXPECT_TRUE(r.has(VsfMsg::ClassStatementAfterModel));
  EXPECT_EQ(r.result, codeOf(DriverResult::ClassAfterModel));
  r = parse("data=d; class a; model y = x1 a;");
  EXPECT_FALSE(r.has(VsfMsg::ClassStatementAfterModel));
  EXPECT_EQ(r.result, 0);

  // Every failing check logs; the last one gives the result.
  r = parse("data=d; partition fraction(test=0.1); partition fraction(test=0.2);");
  EXPECT_TRUE(r.has(VsfMsg::ModelStatementRequired));
  EXPECT_TRUE(r.has(VsfMsg::OnlyOnePartitionStatement));
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));

  const std::pair<const char*, VsfMsg> repeats[] = {
      {"weight w; weight w;", VsfMsg::OnlyOneWeightStatement},
      {"freq f; freq f;", VsfMsg::OnlyOneFreqStatement},
      {"performance; performance;", VsfMsg::OnlyOnePerformanceStatement},
      {"output out=o; output out=o2;", VsfMsg::OnlyOneOutputStatement},
      {"modelaverage; modelaverage;", VsfMsg::OnlyOneModelaverageStatement}};
  for (const auto& [statements, message] : repeats) {
    r = parse(std::string("data=d; model y = x1; ") + statements);
    EXPECT_TRUE(r.has(message)) << statements;
    EXPECT_EQ(r.result, codeOf(DriverResult::Refused)) << statements;
  }
}

TEST(ParseDriver, SyntaxErrorStopsBeforeTheReaders) {
  auto r = parse("data=d;\n  modle y=x1;\nmodel y=x1;");
  const auto* e = r.find(qrxhost::PM_STATEMENT);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->values[0].i, 2); // line
  EXPECT_EQ(e->values[1].i, 3); // column
  EXPECT_EQ(e->values[2].s, "modle");
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
  EXPECT_EQ(r.ctx->returnCode, 3000);
  EXPECT_TRUE(r.ctx->syntaxError);
  EXPECT_EQ(vsfMethodTraits(r.ctx->options.method), nullptr); // no reader ran
  EXPECT_EQ(r.ctx->postFit, nullptr);
}

TEST(ParseDriver, ProcedureStatementOnlyFirst) {
  auto r = parse("data=d; varsifter data=d; model y=x1;");
  const auto* e = r.find(qrxhost::PM_STATEMENT);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->values[1].i, 24);
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
}

TEST(ParseDriver, SyntaxErrorInsideOptions) {
  auto r = parse("data=d; model y=x1 / selection=forwrd;");
  const auto* e = r.find(qrxhost::PM_SYNTAX);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->values[0].i, 1);
  EXPECT_EQ(e->values[1].i, 47); // after "PROC VARSIFTER data=d; model y=x1 / selection="
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
  // A value outside its range is a syntax error of the statement too.
  r = parse("data=d namelen=300; model y=x1;");
  EXPECT_TRUE(r.has(qrxhost::PM_RANGE));
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
}

TEST(ParseDriver, MissingDataSetAndVariables) {
  auto r = parse("data=nosuch; model y=x1;");
  EXPECT_TRUE(r.anyError());
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
  r = parse("model y=x1;");
  EXPECT_TRUE(r.has(qrxhost::PM_NODEFAULTDATA));
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
  r = parse("data=d; model y=nosuch;");
  EXPECT_TRUE(r.anyError());
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
}

TEST(ParseDriver, EffectParserStartedAtEveryModel) {
  auto r = parse("data=d; model y = x1; model y = x2;");
  EXPECT_EQ(r.ctx->modelCount, 2);
  ParseRoot* root = hostParseRoot();
  ASSERT_NE(root, nullptr);
  EXPECT_NE(root->effectState, nullptr);
  EXPECT_NE(root->effectAction, nullptr);
}

TEST(ParseDriver, NameListsAndStatementLookup) {
  auto r = parse("data=d; model y=x1; output out=o pred=pname resid=rname;");
  ASSERT_EQ(r.result, 0);
  ParsedStatement* out = parsetest::node("OUTPUT");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(parsetest::node("NOSUCH"), nullptr);
  const OptionSlot* s = stmtSlot(out, statNameSlot(OutputFlag::Pred));
  ASSERT_NE(s, nullptr);
  const char* text = nullptr;
  int32_t len = 0;
  ASSERT_EQ(zgetnmr(s->items.names, 0, &text, &len), 0);
  EXPECT_EQ(std::string(text, len), "pname");
  EXPECT_EQ(zgetnmr(s->items.names, 1, &text, &len), 1);
  EXPECT_EQ(zgetnmr(nullptr, 0, &text, &len), 1);
}

TEST(ParseDriver, NameListAcrossBlocks) {
  // Build a chain by hand: names 0-1 in the first block, 2 in the second.
  NameListBlock b1{}, b2{};
  const char first[] = "\x02"
                       "ab"
                       "\x03"
                       "cde";
  std::memcpy(b1.names, first, 7);
  b1.used = 7;
  b1.lastIndex = 1;
  b1.next = &b2;
  b2.names[0] = 1;
  b2.names[1] = 'z';
  b2.used = 2;
  b2.lastIndex = 2;
  const char* t = nullptr;
  int32_t n = 0;
  ASSERT_EQ(zgetnmr(&b1, 1, &t, &n), 0);
  EXPECT_EQ(std::string(t, n), "cde");
  ASSERT_EQ(zgetnmr(&b1, 2, &t, &n), 0);
  EXPECT_EQ(std::string(t, n), "z");
  EXPECT_EQ(zgetnmr(&b1, 3, &t, &n), 1);
}

TEST(ParseDriver, DebugOptionTraces) {
  auto r = parse("data=d; model y=x1;", "syn,Sem");
  ParseRoot* root = hostParseRoot();
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(root->syntaxTrace);
  EXPECT_TRUE(root->semanticTrace);
  EXPECT_TRUE(r.has(qrxhost::PM_TRACE));
  r = parse("data=d; model y=x1;", " ");
  root = hostParseRoot();
  EXPECT_FALSE(root->syntaxTrace);
  EXPECT_FALSE(root->semanticTrace);
  EXPECT_FALSE(r.has(qrxhost::PM_TRACE));
}

TEST(ParseDriver, AParseWithoutAUsableGrammarFails) {
  auto r = parse("data=d; model y=x1;");
  ASSERT_EQ(r.result, 0);
  // No rule table: the host parser cannot start and leaves the parse status as it was.
  VsfGrammar broken{};
  char errorByte = 0;
  EXPECT_EQ(zxlpars(r.ctx, &broken, nullptr, &errorByte), nullptr);
  ParseRoot* root = hostParseRoot();
  ASSERT_NE(root, nullptr);
  EXPECT_NE(root->status, 0);
}

TEST(ParseDriver, PostFitStatementsMakeTheBridge) {
  auto r = parse("data=d; model y=x1; code file='x.txt';");
  ASSERT_NE(r.ctx->postFit, nullptr);
  ASSERT_NE(r.ctx->postFit->methods, nullptr);
  EXPECT_EQ(r.ctx->postFit->save, nullptr);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.ctx->returnCode, 0);
  r.ctx->postFit->methods->cleanup(r.ctx->postFit, 0);
}

} // namespace

namespace {

int32_t effectCount(const ParsedStatement* model) {
  const OptionSlot* s = model ? &model->slots[1] : nullptr;
  return s && s->present ? s->value.list.count : -1;
}

TEST(ParseDriver, EffectActionsReachTheCallbackInOrder) {
  auto r = parse("data=d; class a b c; model y = a|b|c @2;");
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(effectCount(parsetest::node("MODEL")), 6); // a b a*b c a*c b*c
  r = parse("data=d; class a; model y = x1 x2*x3 x1(a) x1-x3;");
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(effectCount(parsetest::node("MODEL")), 5); // x1 x2*x3 x1(a) x2 x3
  // A character variable as a continuous effect is refused by the callback.
  r = parse("data=d; model y = c;");
  EXPECT_TRUE(r.has(EffMsg::CharacterVariableNotContinuous));
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
  EXPECT_EQ(r.ctx->returnCode, 3000);
  // An EFFECT statement after the MODEL effects is refused too.
  r = parse("data=d; model y = x1; effect s = spline(x2);");
  EXPECT_TRUE(r.has(EffMsg::StatementKeywordAfterEffects));
  EXPECT_EQ(r.result, codeOf(DriverResult::Refused));
}

} // namespace
