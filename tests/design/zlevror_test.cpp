// Level orders under ORDER=DATA, FREQ, INTERNAL and FORMATTED with and without DESCENDING,
// ties under FREQ, reference levels under the GLM and full-rank designs, and the level
// collection itself (formatted values, missing values, frequencies).
#include "designfixture.h"

#include "design/levlevel.h"
#include "host/hostapi.h"

#include <gtest/gtest.h>

using designtest::DesignFixture;
using Texts = std::vector<std::string>;

namespace {

// a: first appearance c, a, d, b; frequencies a 1, b 2, c 2, d 1.
// n: values 10, 9, 100, 9, 10, 10 (formatted bytes order: 10, 100, 9).
const char* kData = "a,n,y\n"
                    "c,10,1\n"
                    "a,9,2\n"
                    "d,100,3\n"
                    "b,9,4\n"
                    "b,10,5\n"
                    "c,10,6\n";

struct Orders : ::testing::Test {
  DesignFixture f;
  void SetUp() override {
    f.data(kData);
    f.design({"a", "n"}, {}, {{"a", {}, {"a"}, {}}, {"n", {}, {"n"}, {}}});
    f.response("y");
    f.des.designFlags.set(
        LevDesignFlag::NonGlm); // keep the reference level where the order puts it
  }
  Texts run(int32_t order, int32_t descending, const char* var = "a") {
    f.cls("a")->order = order;
    f.cls("a")->descending = descending;
    f.cls("n")->order = order;
    f.cls("n")->descending = descending;
    EXPECT_EQ(f.levelise(), LevBuild::Ready);
    return f.levels(var);
  }
};

TEST_F(Orders, DataOrderIsFirstAppearanceAndDescendingReversesIt) {
  EXPECT_EQ(run('D', 0), (Texts{"c", "a", "d", "b"}));
  f.end();
  EXPECT_EQ(run('D', 1), (Texts{"b", "d", "a", "c"}));
}

TEST_F(Orders, FrequencyTiesFollowTheShellSortSwaps) {
  // Tree order a b c d with counts 1 2 2 1. The most frequent first; b and c tie and so do
  // a and d. Gap 2 swaps a with c (1 < 2), giving c b a d; gap 1 finds no pair out of order.
  // A stable sort would give b c a d instead.
  EXPECT_EQ(run('F', 0), (Texts{"c", "b", "a", "d"}));
  f.end();
  // Descending: the least frequent first. Gap 2: b (2) > d (1) swaps, giving a d c b; gap 1:
  // a-d tie, d (1) < c (2) keeps, c-b tie.
  EXPECT_EQ(run('F', 1), (Texts{"a", "d", "c", "b"}));
}

TEST(LevelOrder, TwoLevelsOfEqualFrequencyStayInFormattedOrder) {
  DesignFixture g;
  g.data("a,y\nz,1\nm,2\nm,3\nz,4\n");
  g.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  g.response("y");
  g.cls("a")->order = 'F';
  ASSERT_EQ(g.levelise(), LevBuild::Ready);
  EXPECT_EQ(g.levels("a"), (Texts{"m", "z"}));
}

TEST_F(Orders, InternalAndFormattedOrdersOfNumbers) {
  // INTERNAL sorts by value; FORMATTED on an unformatted number sorts by value as well.
  EXPECT_EQ(run('I', 0, "n"), (Texts{"9", "10", "100"}));
  f.end();
  EXPECT_EQ(run('I', 1, "n"), (Texts{"100", "10", "9"}));
  f.end();
  EXPECT_EQ(run('M', 0, "n"), (Texts{"9", "10", "100"}));
  f.end();
  EXPECT_EQ(run('M', 1, "n"), (Texts{"100", "10", "9"}));
  f.end();
  EXPECT_EQ(run('M', 0, "a"), (Texts{"a", "b", "c", "d"}));
  f.end();
  EXPECT_EQ(run('M', 1, "a"), (Texts{"d", "c", "b", "a"}));
}

TEST_F(Orders, AnUnsetOrderTakesTheDesignDefault) {
  f.des.orderDefault = 'D';
  EXPECT_EQ(run('U', 7), (Texts{"c", "a", "d", "b"}));
  EXPECT_EQ(f.cls("a")->order, 'D');
  EXPECT_EQ(f.cls("a")->descending, 0);
}

TEST(Levels, NumbersAreLevelsByTheirFormattedText) {
  DesignFixture f;
  // 1 and 1.0 (and 2.50 and 2.5) are one level each; the smaller internal value is kept.
  f.data("k,y\n1,1\n1.0,2\n2.50,3\n2.5,4\n");
  f.design({"k"}, {}, {{"k", {}, {"k"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.levels("k"), (Texts{"1", "2.5"}));
  const auto* internal = static_cast<const LevInternalValue*>(f.cls("k")->levelValues);
  EXPECT_EQ(internal[0].value, 1.0);
  EXPECT_EQ(internal[1].value, 2.5);
}

TEST(Levels, MissingValuesAreLevelsOnlyWithMissing) {
  for (int missing : {0, 1}) {
    DesignFixture f;
    f.data("a,k,y\nu,1,1\n,2,2\nv,.,3\nu,2,4\n");
    f.design({"a", "k"}, {}, {{"a", {}, {"a"}, {}}, {"k", {}, {"k"}, {}}});
    f.response("y");
    f.cls("a")->missing = missing;
    f.cls("k")->missing = missing;
    ASSERT_EQ(f.levelise(), LevBuild::Ready);
    if (missing) {
      EXPECT_EQ(f.levels("a"), (Texts{"", "u", "v"}));
      EXPECT_EQ(f.levels("k"), (Texts{".", "1", "2"}));
    } else {
      // Incomplete observations add nothing at all: v (with k missing) is not a level.
      EXPECT_EQ(f.levels("a"), (Texts{"u"}));
      EXPECT_EQ(f.levels("k"), (Texts{"1", "2"}));
    }
  }
}

TEST(Levels, FrequencyWeightsAndTheirTruncation) {
  DesignFixture f;
  // Counts with FREQ: p 2.7 -> 2, q 0.5 -> 0 and . -> 0, r 1 + 1.
  f.data("a,fr,y\np,2.7,1\nq,0.5,2\nr,1,3\nq,.,4\nr,1,5\n");
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  f.freq("fr");
  f.cls("a")->order = 'F';
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  // q exists with frequency 0 and comes last.
  EXPECT_EQ(f.levels("a"), (Texts{"p", "r", "q"}));
}

TEST(Levels, LookupFindsEveryLevelAndRejectsOthers) {
  DesignFixture f;
  std::string csv = "a,y\n";
  for (int i = 0; i < 40; ++i)
    csv.append("L")
        .append(std::to_string((i * 7) % 20))
        .append(",")
        .append(std::to_string(i))
        .append("\n");
  f.data(csv);
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  LevVariable* v = f.cls("a");
  ASSERT_EQ(v->levelCount, 20);
  ASSERT_NE(v->lookupHash, nullptr) << "rows find their level by hash";
  for (int32_t k = 0; k < v->levelCount; ++k) {
    std::string value(v->levelTexts[k], static_cast<size_t>(v->levelWidth));
    EXPECT_EQ(zlevlwh(nullptr, v, value.data()), k);
  }
  std::string other(static_cast<size_t>(v->levelWidth), ' ');
  other.replace(0, 3, "L99");
  EXPECT_EQ(zlevlwh(nullptr, v, other.data()), -1);
  // Right-justified input is left-justified before the lookup.
  std::string right(static_cast<size_t>(v->levelWidth), ' ');
  right.replace(right.size() - 2, 2, "L7");
  EXPECT_GE(zlevlwh(nullptr, v, right.data()), 0);
}

// Values that share their first 15 bytes or more (past what a lookup slot holds inline), and
// short values in a column as wide as the longest: each is its own level, found at its index;
// a value that matches a level's head only is none.
TEST(Levels, LookupTellsApartValuesThatShareTheirHead) {
  DesignFixture f;
  const std::string head = "ABCDEFGHIJKLMNOP";
  const std::vector<std::string> values = {
      head + "Q1", head + "Q2", head, head.substr(0, 15), "ABCDEFGHIJKLMNO ", "x", "y"};
  std::string csv = "a,y\n";
  for (int r = 0; r < 3; ++r)
    for (size_t i = 0; i < values.size(); ++i)
      csv += values[i] + "," + std::to_string(i) + "\n";
  f.data(csv);
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  LevVariable* v = f.cls("a");
  // "ABCDEFGHIJKLMNO " and "ABCDEFGHIJKLMNO" are one value once blank-padded.
  ASSERT_EQ(v->levelCount, 6);
  ASSERT_NE(v->lookupHash, nullptr);
  const auto width = static_cast<size_t>(v->levelWidth);
  for (int32_t k = 0; k < v->levelCount; ++k) {
    std::string value(v->levelTexts[k], width);
    EXPECT_EQ(zlevlwh(nullptr, v, value.data()), k) << value;
  }
  for (const std::string& miss : {head + "Q3", head + "Q", head.substr(0, 15) + "Z"}) {
    std::string value = miss;
    value.resize(width, ' ');
    EXPECT_EQ(zlevlwh(nullptr, v, value.data()), -1) << miss;
  }
}

// ---- reference levels -----------------------------------------------------------------

struct Reference : ::testing::Test {
  DesignFixture f;
  void SetUp() override {
    f.data("a,y\nb,1\na,2\nc,3\n");
    f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
    f.response("y");
  }
};

TEST_F(Reference, GlmMovesTheReferenceLevelLast) {
  f.cls("a")->referenceSelector = -1; // FIRST
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.levels("a"), (Texts{"b", "c", "a"}));
}

TEST_F(Reference, FullRankKeepsTheOrderAndPointsAtTheReference) {
  f.des.designFlags.set(LevDesignFlag::NonGlm);
  for (int32_t code : {-1, -2}) {
    f.cls("a")->referenceSelector = code;
    f.cls("a")->savedReference = 0;
    ASSERT_EQ(f.levelise(), LevBuild::Ready);
    EXPECT_EQ(f.levels("a"), (Texts{"a", "b", "c"}));
    EXPECT_EQ(f.cls("a")->referenceSelector, code == -1 ? 0 : 2);
    f.end();
  }
}

TEST_F(Reference, NamedReferenceWithBlanksAroundMatchesInBothDesigns) {
  // Leading and trailing blanks of the REF= text are ignored alike by the check of the
  // design context and by the level ordering.
  static char text[] = "  b  ";
  for (bool glm : {true, false}) {
    f.des.designFlags = glm ? LevDesignFlags{} : LevDesignFlag::NonGlm;
    f.cls("a")->referenceSelector = -3;
    f.cls("a")->referenceText = text;
    f.cls("a")->savedReference = 0;
    ASSERT_EQ(f.levelise(), LevBuild::Ready);
    if (glm) {
      EXPECT_EQ(f.levels("a"), (Texts{"a", "c", "b"}));
    } else {
      EXPECT_EQ(f.levels("a"), (Texts{"a", "b", "c"}));
      EXPECT_EQ(f.cls("a")->referenceSelector, 1);
    }
    f.end();
  }
}

TEST_F(Reference, AnUnknownReferenceSkipsTheGroupWith394) {
  static char text[] = "zz";
  f.cls("a")->referenceSelector = -3;
  f.cls("a")->referenceText = text;
  f.messages();
  EXPECT_EQ(f.levelise(), LevBuild::ReferenceNotLevel);
  EXPECT_EQ(f.messages(), std::vector<MsgId>{LevMsg::ReferenceLevelNotALevel});
  EXPECT_GE(f.des.worstReturnCode, 112);
}

TEST_F(Reference, TheStatementsCodeComesBackInEveryGroup) {
  f.cls("a")->referenceSelector = -1;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.cls("a")->savedReference, -1);
  f.end();
  EXPECT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.levels("a"), (Texts{"b", "c", "a"}));
}

TEST(ShellSortKeys, FrequencyThenSecondKeyInItsOwnDirection) {
  // Records of "X" keys: frequency (int64) then a 1-byte text. Most frequent first, ties by
  // ascending text ("-X" then "S").
  struct Rec {
    int64_t freq;
    char text[8];
  };
  Rec r[4] = {{1, "d"}, {3, "c"}, {3, "a"}, {2, "b"}};
  int64_t perm[4] = {0, 1, 2, 3};
  ShellSort(reinterpret_cast<char*>(r), 4, perm, "-X", "S", 9, 16);
  EXPECT_EQ(std::string(r[0].text), "a");
  EXPECT_EQ(std::string(r[1].text), "c");
  EXPECT_EQ(std::string(r[2].text), "b");
  EXPECT_EQ(std::string(r[3].text), "d");
  EXPECT_EQ(perm[0], 2);
  EXPECT_EQ(perm[3], 0);
}

} // namespace
