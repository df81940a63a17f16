// Effect records on hand-built designs: the level tables of split effects, the Shell sort
// of the splitter, the grouping of cells into records, and names of split records whose
// numbered level labels are long.
#include "host/hostcore.h"
#include "output/vsfcontext.h"
#include "output/vsfeffects.h"
#include "output/vsfresults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A design of CLASS variables and model effects built by hand, with its context.
class HandDesign {
public:
  HandDesign() {
    v_global_gcb_anchor = qrxhost::hostControlBlock();
    pool_ = v_global_gcb_anchor->defaultPool;
    ctx_ = static_cast<VsfContext*>(std::calloc(1, sizeof(VsfContext)));
    ctx_->design.design = &design_;
    ctx_->mainPool = pool_;
  }
  ~HandDesign() { std::free(ctx_); }

  // A CLASS variable: name, level count, coding, reference level index, level texts.
  int32_t addClass(const char* name, int32_t levels, int32_t coding, int32_t reference,
                   std::vector<std::string> texts = {}) {
    vars_.push_back(HostVariable{});
    HostVariable& hv = vars_.back();
    hv.name = name;
    hv.nameLength = static_cast<int16_t>(std::strlen(name));
    hv.type = 2;
    LevVariable v{};
    v.levelCount = levels;
    v.coding = static_cast<ClassCoding>(coding);
    v.referenceSelector = reference;
    texts_.push_back(texts);
    classes_.push_back(v);
    return static_cast<int32_t>(classes_.size()) - 1;
  }
  // A model effect of crossed and nested CLASS variables.
  void addEffect(const char* name, std::vector<int32_t> crossed, std::vector<int32_t> nested,
                 int32_t columns) {
    lists_.push_back(std::move(crossed));
    lists_.push_back(std::move(nested));
    LevEffect e{};
    e.name = const_cast<char*>(name);
    e.columnCount = columns;
    effects_.push_back(e);
  }
  // Fixes the addresses once everything is added.
  VsfContext* finish(LevDesignFlags flags = {}) {
    for (size_t i = 0; i < classes_.size(); ++i) {
      classes_[i].var = &vars_[i];
      if (!texts_[i].empty()) {
        textPtrs_.emplace_back();
        for (std::string& t : texts_[i])
          textPtrs_.back().push_back(t.data());
        classes_[i].levelTexts = textPtrs_.back().data();
        classes_[i].levelWidth = static_cast<int32_t>(texts_[i][0].size());
      }
    }
    for (size_t e = 0; e < effects_.size(); ++e) {
      std::vector<int32_t>& c = lists_[2 * e];
      std::vector<int32_t>& n = lists_[2 * e + 1];
      effects_[e].crossedCount = static_cast<int32_t>(c.size());
      effects_[e].crossed = c.data();
      effects_[e].nestedCount = static_cast<int32_t>(n.size());
      effects_[e].nested = n.data();
      effects_[e].allClassCount = static_cast<int32_t>(c.size() + n.size());
    }
    design_.designFlags = flags;
    design_.classCount = static_cast<int32_t>(classes_.size());
    design_.classes = classes_.data();
    design_.effectCount = static_cast<int32_t>(effects_.size());
    design_.effects = effects_.data();
    return ctx_;
  }
  LevEffect& effect(size_t e) { return effects_[e]; }
  LevVariable& cls(size_t i) { return classes_[i]; }
  LevDesign& design() { return design_; }
  QkPool* pool() { return pool_; }

  // The rows of an effect's level table.
  std::vector<std::vector<int32_t>> rows(size_t e) {
    const LevEffect& ef = effects_[e];
    std::vector<std::vector<int32_t>> out;
    if (ef.levelIndexTable == nullptr)
      return out;
    const int32_t nc = ef.crossedCount + ef.nestedCount;
    int64_t count = 1;
    for (int32_t i = 0; i < ef.crossedCount; ++i)
      count *= classes_[ef.crossed[i]].levelCount - 1;
    for (int32_t i = 0; i < ef.nestedCount; ++i)
      count *= classes_[ef.nested[i]].levelCount;
    for (int64_t r = 0; r < count; ++r)
      out.emplace_back(ef.levelIndexTable + r * nc, ef.levelIndexTable + (r + 1) * nc);
    return out;
  }

private:
  QkPool* pool_ = nullptr;
  VsfContext* ctx_ = nullptr;
  LevDesign design_{};
  std::vector<HostVariable> vars_;
  std::vector<LevVariable> classes_;
  std::vector<std::vector<std::string>> texts_;
  std::vector<std::vector<char*>> textPtrs_;
  std::vector<LevEffect> effects_;
  std::vector<std::vector<int32_t>> lists_;
};

using Rows = std::vector<std::vector<int32_t>>;

TEST(SplitLevelTables, CrossedNestedAndCodings) {
  HandDesign h;
  const int32_t a = h.addClass("A", 3, 0, 2); // EFFECT, last level the reference
  const int32_t b = h.addClass("B", 2, 0, 1);
  const int32_t af = h.addClass("AF", 3, 2, 0);   // REFERENCE, REF=FIRST
  const int32_t one = h.addClass("ONE", 1, 0, 0); // a single level
  const int32_t op = h.addClass("OP", 4, 5, 3);   // ORTHPOLY: parameter numbers
  h.addEffect("Intercept", {}, {}, 1);
  h.addEffect("A*B", {a, b}, {}, 2);
  h.addEffect("AF*B", {af, b}, {}, 2);
  h.addEffect("B(A)", {b}, {a}, 3);
  h.addEffect("ONE*A", {one, a}, {}, 0);
  h.addEffect("OP", {op}, {}, 3);
  VsfContext* ctx = h.finish(LevDesignFlag::NonGlm);
  ASSERT_EQ(vsfLevels(ctx, nullptr, h.pool()), VsfStatus::Ok);
  EXPECT_EQ(h.effect(0).levelIndexTable, nullptr);
  EXPECT_EQ(h.rows(1), (Rows{{0, 0}, {1, 0}}));
  EXPECT_EQ(h.rows(2), (Rows{{1, 0}, {2, 0}}));
  EXPECT_EQ(h.rows(3), (Rows{{0, 0}, {0, 1}, {0, 2}}));
  EXPECT_EQ(h.effect(4).levelIndexTable, nullptr);
  EXPECT_EQ(h.rows(5), (Rows{{0}, {1}, {2}}));
}

TEST(SplitLevelTables, NoClassVariables) {
  HandDesign h;
  h.addEffect("Intercept", {}, {}, 1);
  VsfContext* ctx = h.finish(LevDesignFlag::NonGlm);
  EXPECT_EQ(vsfLevels(ctx, nullptr, h.pool()), VsfStatus::NoMemory);
}

TEST(SplitSort, AgreesWithTheLibrarySortAndKeepsPairs) {
  std::mt19937 gen(20261207);
  for (int32_t n : {0, 1, 2, 3, 7, 16, 17, 100, 1000}) {
    std::uniform_int_distribution<int32_t> key(-5, 20);
    std::vector<int32_t> keys(static_cast<size_t>(n)), cells(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
      keys[static_cast<size_t>(i)] = key(gen);
      cells[static_cast<size_t>(i)] = i;
    }
    std::vector<std::pair<int32_t, int32_t>> pairs;
    for (int32_t i = 0; i < n; ++i)
      pairs.emplace_back(keys[static_cast<size_t>(i)], i);
    vsfqsort(keys.data(), n, cells.data());
    std::vector<int32_t> expected = keys;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(keys, expected) << n;
    std::vector<std::pair<int32_t, int32_t>> after;
    for (int32_t i = 0; i < n; ++i)
      after.emplace_back(keys[static_cast<size_t>(i)], cells[static_cast<size_t>(i)]);
    std::sort(pairs.begin(), pairs.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, pairs) << n;
  }
}

TEST(SplitRecords, SixCellsInThreeRecordsOfFourParameters) {
  HandDesign h;
  const int32_t a = h.addClass("A", 3, 0, 2, {"a1  ", "a2  ", "a3  "});
  const int32_t b = h.addClass("B", 2, 0, 1, {"b1", "b2"});
  h.cls(a).split = 1;
  h.addEffect("Intercept", {}, {}, 1);
  h.addEffect("A*B", {a, b}, {}, 12); // two parameters per cell
  // GLM cells in an order that is not the order of A's levels.
  std::vector<int32_t> table = {2, 0, 0, 1, 1, 0, 0, 0, 2, 1, 1, 1};
  h.effect(1).combinationTable = table.data();
  h.effect(1).combinationCount = 6;
  VsfContext* ctx = h.finish();
  ctx->options.forcedIn = 1;
  ASSERT_EQ(vsfSplitEffects(ctx, h.pool()), VsfStatus::Ok);
  ASSERT_EQ(ctx->effectRecordCount, 4);
  EXPECT_EQ(ctx->enteredFirstBoundary, 1);
  const std::vector<std::vector<int32_t>> columns = {{1, 3, 7, 9}, {2, 5, 8, 11}, {0, 4, 6, 10}};
  const char* names[] = {"A_a1*B", "A_a2*B", "A_a3*B"};
  for (int32_t k = 0; k < 3; ++k) {
    const VsfEffectRecord& r = ctx->effectRecords[1 + k];
    EXPECT_EQ(r.effect, 1);
    EXPECT_EQ(r.parmCount, 4);
    EXPECT_EQ(std::vector<int32_t>(r.columns, r.columns + 4), columns[static_cast<size_t>(k)]);
    EXPECT_EQ(r.splitVars[0], a);
    EXPECT_EQ(r.splitLevels[0], k);
    std::string name(r.name, static_cast<size_t>(r.nameLength));
    EXPECT_EQ(name.substr(0, name.find_last_not_of(' ') + 1), names[k]);
  }
  EXPECT_EQ(std::string(ctx->effectRecords[0].name), "Intercept");
  EXPECT_GE(ctx->longestEffectName, 6);
}

// A split CLASS effect whose only level in the group is its reference has no columns and no
// cells: it makes no record, and the entered-first boundary counts the records before it.
TEST(SplitRecords, AnEffectWithoutCellsMakesNoRecord) {
  for (int32_t forcedIn : {1, 2}) {
    HandDesign h;
    const int32_t one = h.addClass("ONE", 1, 0, 0, {"u"}); // EFFECT, its level the reference
    const int32_t a = h.addClass("A", 3, 0, 2, {"a1", "a2", "a3"});
    h.cls(one).split = 1;
    h.cls(a).split = 1;
    h.addEffect("Intercept", {}, {}, 1);
    h.addEffect("ONE", {one}, {}, 0);
    h.addEffect("A", {a}, {}, 2);
    h.addEffect("ONE*A", {one, a}, {}, 0);
    h.effect(2).classColumnCount = 2;
    VsfContext* ctx = h.finish(LevDesignFlag::NonGlm);
    ctx->options.forcedIn = forcedIn;
    ASSERT_EQ(vsfSplitEffects(ctx, h.pool()), VsfStatus::Ok);
    ASSERT_EQ(ctx->effectRecordCount, 3) << forcedIn;
    EXPECT_EQ(ctx->enteredFirstBoundary, 1) << forcedIn;
    const char* names[] = {"Intercept", "A_a1", "A_a2"};
    for (int32_t k = 0; k < 3; ++k) {
      const VsfEffectRecord& r = ctx->effectRecords[k];
      EXPECT_EQ(r.effect, k == 0 ? 0 : 2);
      EXPECT_EQ(r.parmCount, 1);
      std::string name(r.name, static_cast<size_t>(r.nameLength));
      EXPECT_EQ(name.substr(0, name.find_last_not_of(' ') + 1), names[k]);
    }
  }
}

TEST(SplitRecords, NumberedLabelsOfHighLevelsFitTheirNames) {
  HandDesign h;
  const int32_t a = h.addClass("A", 200000, 5, 0); // ORTHPOLY
  h.addEffect("Intercept", {}, {}, 1);
  h.addEffect("A", {a}, {}, 199999);
  VsfContext* ctx = h.finish(LevDesignFlag::NonGlm);
  int32_t vars[3] = {a, a, a};
  int32_t levels[3] = {8, 9999, 123455};
  VsfEffectRecord records[4] = {};
  records[0].effect = 0;
  for (int k = 0; k < 3; ++k) {
    records[1 + k].effect = 1;
    records[1 + k].splitCount = 1;
    records[1 + k].splitVars = &vars[k];
    records[1 + k].splitLevels = &levels[k];
  }
  ctx->effectRecords = records;
  ctx->effectRecordCount = 4;
  ASSERT_EQ(vsfMakeEffectNames(ctx, h.pool()), VsfStatus::Ok);
  const char* expected[] = {"A_OPOLY9", "A_OPOLY10000", "A_OPOLY123456"};
  for (int k = 0; k < 3; ++k) {
    const VsfEffectRecord& r = records[1 + k];
    ASSERT_GE(r.nameLength, static_cast<int32_t>(std::strlen(expected[k])));
    std::string name(r.name, static_cast<size_t>(r.nameLength));
    EXPECT_EQ(name.substr(0, name.find_last_not_of(' ') + 1), expected[k]);
  }
  EXPECT_GE(ctx->longestEffectName, 13);
}

} // namespace
