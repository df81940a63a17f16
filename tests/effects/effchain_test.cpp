// Effect chains through the effect-syntax callback: bar expansion with @n, duplicates,
// crossing and nesting rules, list operators, refused variables and statements, names.
#include "fakehost.h"

#include "effects/effchain.h"
#include "effects/zeffect.h"

#include <gtest/gtest.h>

using efftest::FakeHost;
using Names = std::vector<std::string>;

namespace {

// a and b CLASS, c numeric: the usual set-up of the effect tests.
struct ChainTest : ::testing::Test {
  FakeHost host;
  void SetUp() override {
    host.addVar("y");
    host.addVar("a", 2, 4);
    host.addVar("b");
    host.addVar("c");
    host.addVar("d");
    host.addVar("name", 2, 12);
    host.setClass({"a", "b"});
  }
};

TEST_F(ChainTest, BarWithOrderLimitGivesCrossingsUpToTwoVariablesInOrder) {
  host.setClass({"a", "b", "c"});
  ParsedStatement* m = host.model("a|b|c @2");
  EXPECT_EQ(host.root.status, 0);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"a", "b", "a*b", "c", "a*c", "b*c"}));
}

TEST_F(ChainTest, BarWithContinuousVariableNamesItsDirectPartFirst) {
  // c numeric: the same six effects; a name lists direct variables before CLASS ones.
  ParsedStatement* m = host.model("a|b|c @2");
  EXPECT_EQ(host.root.status, 0);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"a", "b", "a*b", "c", "c*a", "c*b"}));
}

TEST_F(ChainTest, BarWithoutLimitGivesAllSevenEffects) {
  host.setClass({"a", "b", "c"});
  ParsedStatement* m = host.model("a|b|c");
  EXPECT_EQ(host.effectNames(m, 1), (Names{"a", "b", "a*b", "c", "a*c", "b*c", "a*b*c"}));
}

TEST_F(ChainTest, FourTermsWithLimitThreeDropTheFourWayCrossing) {
  ParsedStatement* m = host.model("a|b|c|d @3");
  Names names = host.effectNames(m, 1);
  EXPECT_EQ(names.size(), 14u); // 2^4 - 1 - 1
  for (const auto& n : names)
    EXPECT_LE(std::count(n.begin(), n.end(), '*'), 2) << n;
}

TEST_F(ChainTest, RepeatedEffectIsKeptOnce) {
  ParsedStatement* m = host.model("a b a");
  EXPECT_EQ(host.effectNames(m, 1), (Names{"a", "b"}));
  int chained = 0;
  for (EffectChainNode* e = host.root.effectState->chainHead; e; e = e->next)
    ++chained;
  EXPECT_EQ(chained, 2);
}

TEST_F(ChainTest, NamesResolvingToOneVariableAreDuplicates) {
  ParsedStatement* m = host.model("c C b*a a*b");
  EXPECT_EQ(host.effectNames(m, 1), (Names{"c", "a*b"}));
}

TEST_F(ChainTest, ContinuousSquareKeepsBothEntriesClassSquareKeepsOne) {
  ParsedStatement* m = host.model("c*c a*a");
  EffectChainNode* cc = host.root.effectState->chainHead;
  ASSERT_NE(cc, nullptr);
  EXPECT_EQ(cc->lists[0].count, 2);
  EffectChainNode* aa = cc->next;
  ASSERT_NE(aa, nullptr);
  EXPECT_EQ(aa->lists[1].count, 1);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"c*c", "a"}));
}

TEST_F(ChainTest, CrossingThatNestsACrossedVariableIsDiscarded) {
  ParsedStatement* m = host.model("a|b(a)");
  EXPECT_EQ(host.effectNames(m, 1), (Names{"a", "b(a)"}));
}

TEST_F(ChainTest, NestedDirectVariableIsRefused) {
  host.model("b(c)");
  EXPECT_EQ(host.count(EffMsg::ContinuousVariableCannotNest), 1);
  EXPECT_EQ(host.root.status, 2000);
}

TEST_F(ChainTest, OrderLimitWithoutOperatorLogsAndIsIgnored) {
  ParsedStatement* m = host.model("c @2");
  EXPECT_EQ(host.count(EffMsg::OrderLimitWithoutBar), 1);
  EXPECT_EQ(host.root.status, 0);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"c"}));
}

TEST_F(ChainTest, CharacterVariableAsContinuousEffectIsRefused) {
  host.model("c name");
  EXPECT_EQ(host.count(EffMsg::CharacterVariableNotContinuous), 1);
  EXPECT_EQ(host.root.status, 2000);
  ASSERT_FALSE(host.messages.empty());
  EXPECT_EQ(host.messages.back().values, (Names{"name"}));
  // The direct list is set back: only c remains.
  EXPECT_EQ(host.holder->slots[1].value.list.count, 1);
}

TEST_F(ChainTest, UnknownNameIsRefused) {
  host.model("c nosuch");
  EXPECT_EQ(host.count(EffMsg::VariableNotFound), 1);
  EXPECT_EQ(host.root.status, 2000);
}

TEST_F(ChainTest, EffectStatementAfterModelIsRefused) {
  host.model("c");
  host.effectStmt("sp", EffectVarKind::Spline, {"c"});
  EXPECT_EQ(host.count(EffMsg::StatementKeywordAfterEffects), 1);
  ASSERT_FALSE(host.messages.empty());
  EXPECT_EQ(host.messages.back().values, (Names{"EFFECT"}));
  EXPECT_EQ(host.root.status, 2000);
}

// The host's list growth fails: a refused list ends the run with 2000, any other failure
// with 1016; the host has said why, so the callback adds no message of its own. Both the
// variable lists and the statement's effect list grow this way.
TEST_F(ChainTest, FailedListGrowthEndsTheRunWithTheHostsCode) {
  struct Case {
    const char* effects;
    int32_t result;
    int exitCode;
  };
  for (const Case& c :
       {Case{"c", -1, 2000}, Case{"c", -3, 1016}, Case{"b", -1, 2000}, Case{"b", -7, 1016}}) {
    SCOPED_TRACE(std::string(c.effects) + " " + std::to_string(c.result));
    host.messages.clear();
    host.addlstResult = c.result;
    int code = 0;
    try {
      host.model(c.effects);
    } catch (const efftest::ExitCalled& e) {
      code = e.code;
    }
    host.addlstResult = 0;
    EXPECT_EQ(code, c.exitCode);
    EXPECT_TRUE(host.messages.empty());
  }
}

TEST_F(ChainTest, RangeAndBarInOneEffectIsRefused) {
  host.model("c-d|b");
  EXPECT_EQ(host.count(EffMsg::OneListOperatorPerList), 1);
  EXPECT_EQ(host.root.status, 2000);
}

TEST_F(ChainTest, NumberedRangeGivesMainEffectsInOrder) {
  host.addVar("x1");
  host.addVar("x2");
  host.addVar("x3");
  ParsedStatement* m = host.model("x1-x3 c");
  EXPECT_EQ(host.root.status, 0);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"x1", "x2", "x3", "c"}));
  // The range ends were taken out of the direct list again and re-added in range order.
  const OptionSlot& direct = host.holder->slots[1];
  ASSERT_EQ(direct.value.list.count, 4);
  EXPECT_EQ(direct.items.ints[0], host.varNumber("x1"));
  EXPECT_EQ(direct.items.ints[2], host.varNumber("x3"));
}

TEST_F(ChainTest, ConstructedEffectNamesComeFromEffectStatements) {
  host.effectStmt("spl", EffectVarKind::Spline, {"c"});
  ParsedStatement* m = host.model("spl spl*a");
  EXPECT_EQ(host.root.status, 0);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"spl", "spl*a"}));
  EffectChainNode* e = host.root.effectState->chainHead;
  ASSERT_EQ(e->lists[1].count, 1);
  EXPECT_EQ(e->lists[1].items[0], kEffFirstConstructed);
}

TEST_F(ChainTest, EffectStatementNamedLikeAVariableIsRefused) {
  host.effectStmt("c", EffectVarKind::Spline, {"d"});
  host.model("d");
  EXPECT_EQ(host.count(EffMsg::EffectNameIsVariable), 1);
  EXPECT_EQ(host.root.status, 2000);
}

TEST_F(ChainTest, TwoEffectStatementsWithOneNameAreRefused) {
  host.effectStmt("sp", EffectVarKind::Spline, {"c"});
  host.effectStmt("sp", EffectVarKind::Spline, {"d"});
  host.model("c");
  EXPECT_EQ(host.count(EffMsg::EffectDefinedTwice), 1);
}

TEST_F(ChainTest, SecondSetUpLeavesTheInstalledCallback) {
  auto other = [](HostParser*, const HostToken*, const EffectAction*) {};
  host.root.effectAction = other;
  zefprsi(20, 1);
  zefprsf(&host.root);
  EXPECT_EQ(host.root.effectAction, static_cast<EffectActionFn>(other));
  host.root.effectAction = nullptr;
  zefprsf(&host.root);
  EXPECT_EQ(host.root.effectAction, &zeffect);
}

// Names fitted into NAMELEN.
struct NameTest : ::testing::Test {
  FakeHost host;
};

TEST_F(NameTest, LongestComponentsAreShortenedFirst) {
  host.addVar("ABCDEFGHIJKLMNOP");
  host.addVar("XYZ");
  host.addVar("Q");
  host.setClass({"ABCDEFGHIJKLMNOP", "XYZ", "Q"});
  ParsedStatement* m = host.model("ABCDEFGHIJKLMNOP*XYZ ABCDEFGHIJKLMNOP*XYZ*Q");
  EXPECT_EQ(host.effectNames(m, 1), (Names{"ABCDEFGHIJKLMNOP*XYZ", "ABCDEFGHIJKLMN*XYZ*Q"}));
  EXPECT_EQ(host.count(EffMsg::EffectNameTooLong), 0);
}

TEST_F(NameTest, EquallyLongComponentsCutEarlierFirst) {
  host.addVar("AAAAAAAAAA");
  host.addVar("BBBBBBBBBB");
  host.setClass({"AAAAAAAAAA", "BBBBBBBBBB"});
  // L = 11 + 11 - 1 = 21 > 20: one cut suffices, on the first name.
  ParsedStatement* m = host.model("AAAAAAAAAA*BBBBBBBBBB");
  EXPECT_EQ(host.effectNames(m, 1), (Names{"AAAAAAAAA*BBBBBBBBBB"}));
}

TEST_F(NameTest, UnfittableNameIsLongnameEffect) {
  std::vector<std::string> vars;
  std::string effect;
  for (char c = 'a'; c <= 'k'; ++c) {
    vars.emplace_back(1, c);
    host.addVar(vars.back());
    effect += (effect.empty() ? "" : "*") + vars.back();
  }
  host.setClass(vars);
  // Eleven one-letter names need 21 characters: nothing can be cut below one character.
  ParsedStatement* m = host.model(effect);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"LONGNAME EFFECT"}));
  EXPECT_EQ(host.count(EffMsg::EffectNameTooLong), 1);
}

TEST_F(NameTest, MoreThanSixteenComponentsIsLongnameWithoutFitting) {
  std::vector<std::string> vars;
  std::string effect;
  for (int i = 0; i < 17; ++i) {
    vars.push_back(std::string("v").append(std::to_string(i)));
    host.addVar(vars.back());
    effect += (effect.empty() ? "" : "*") + vars.back();
  }
  host.setClass(vars);
  ParsedStatement* m = host.model(effect, 200);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"LONGNAME EFFECT"}));
  EXPECT_EQ(host.count(EffMsg::EffectNameTooLong), 1);
}

TEST_F(NameTest, NestedEffectIsWrittenWithParentheses) {
  host.addVar("x");
  host.addVar("A");
  host.addVar("B");
  host.setClass({"A", "B"});
  ParsedStatement* m = host.model("x(A) B(A)");
  EXPECT_EQ(host.effectNames(m, 1), (Names{"x(A)", "B(A)"}));
}

} // namespace

namespace {

TEST(ChainScaleTest, ManyVariablesKeepTheirPositionsAndDuplicatesDrop) {
  FakeHost host;
  std::string effects;
  for (int i = 1; i <= 300; ++i) {
    host.addVar(std::string("v").append(std::to_string(i)));
    effects += " v" + std::to_string(301 - i); // written in reverse order
  }
  effects += " v100 v50*v60 v60*v50 v7";
  ParsedStatement* m = host.model(effects);
  ASSERT_EQ(host.root.status, 0);
  Names names = host.effectNames(m, 1);
  ASSERT_EQ(names.size(), 301u);
  EXPECT_EQ(names.front(), "v300");
  EXPECT_EQ(names.back(), "v60*v50"); // list order: position 240 before 250
  // The direct list holds each variable once, in order of first appearance.
  const OptionSlot& direct = host.holder->slots[1];
  ASSERT_EQ(direct.value.list.count, 300);
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(direct.items.ints[i], 300 - i);
  // Positions in the effects refer to that list: v50 is at position 250.
  EffectChainNode* cross = host.root.effectState->chainHead;
  while (cross->next != nullptr)
    cross = cross->next;
  EXPECT_EQ(cross->lists[0].count, 2);
  EXPECT_EQ(cross->lists[0].items[0], 240); // v60
  EXPECT_EQ(cross->lists[0].items[1], 250); // v50
}

} // namespace

namespace {

struct ValueTest : ChainTest {};

TEST_F(ValueTest, NestedValueMovesTheVariableToTheValueList) {
  ParsedStatement* m = host.model("c(a*b=1)");
  ASSERT_EQ(host.root.status, 0);
  EffectChainNode* e = host.root.effectState->chainHead;
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->lists[2].count, 1); // a stays nested
  ASSERT_EQ(e->lists[3].count, 1); // b moved to the value list
  EXPECT_EQ(std::string(e->values[0].text, 16), "1               ");
  EXPECT_EQ(host.effectNames(m, 1), (Names{"c(a b=1)"}));
}

TEST_F(ValueTest, OneVariableWithTwoValuesInOneEffectIsRefused) {
  host.model("c(b=1*b=2)");
  EXPECT_EQ(host.count(EffMsg::NestingVariableTwoValues), 1);
  EXPECT_EQ(host.root.status, 2000);
}

TEST_F(ValueTest, CrossingWithConflictingValuesIsDroppedSilently) {
  host.addVar("e");
  host.setClass({"a", "b", "e"});
  ParsedStatement* m = host.model("a(b=1)|e(b=2)");
  EXPECT_EQ(host.root.status, 0);
  EXPECT_EQ(host.count(EffMsg::NestingVariableTwoValues), 0);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"a(b=1)", "e(b=2)"}));
}

} // namespace

namespace {

TEST_F(ValueTest, ValuesAreNeverCut) {
  // The value text (16 characters) alone passes NAMELEN 12: the names are cut to one
  // character each and the effect still cannot be named.
  ParsedStatement* m = host.model("c(b=1234567890123456)", 12);
  EXPECT_EQ(host.effectNames(m, 1), (Names{"LONGNAME EFFECT"}));
  EXPECT_EQ(host.count(EffMsg::EffectNameTooLong), 1);
}

} // namespace
