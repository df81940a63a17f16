// The post-fit bridge at the end of the parse, against a stand-in sibling module: which
// statements load it, the saved texts its entry routine sees, the run routine under STORE and
// CODE, the clean-up before the 1012 end of a failing run, and load failures that are only
// traced.
#include "parse_harness.h"
#include "siblingswap.h"

#include "driver/vsfbridge.h"
#include "host/hostcore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using parsetest::parse;

namespace {

struct FakeSibling {
  int loads = 0;
  std::string loadedName;
  bool loadFails = false;
  int runResult = 0;
  std::vector<std::string> texts; // the saved statements the entry routine saw
  std::vector<std::string> calls;
};
FakeSibling gSibling;
PostFitBridgeMethods gFakeMethods;

int32_t fakeEntry(PostFitBridge* b, void*) {
  for (const TokenSaveText* t = b->save ? b->save->head : nullptr; t; t = t->next)
    gSibling.texts.emplace_back(t->text, size_t(t->length));
  b->methods = &gFakeMethods;
  return 0;
}

int32_t fakeLoad(void** handle, const char* name, int32_t, int32_t, int32_t, int32_t) {
  ++gSibling.loads;
  gSibling.loadedName = name;
  if (gSibling.loadFails)
    return 1;
  *handle = &gSibling;
  return 0;
}

int32_t fakeEntryOf(void*, PostFitEntry* entry) {
  *entry = fakeEntry;
  return 0;
}

// Installs the stand-in sibling in the host's module group for one test.
struct SiblingSwap {
  ModuleLoaderSwap loader{fakeLoad, fakeEntryOf};
  SiblingSwap() {
    gSibling = FakeSibling{};
    gFakeMethods = PostFitBridgeMethods{};
    gFakeMethods.cleanup = [](PostFitBridge*, int32_t) { gSibling.calls.push_back("cleanup"); };
    gFakeMethods.run = [](PostFitBridge* b, int32_t which, void*) {
      gSibling.calls.push_back("run " + std::to_string(which) + (b->save ? " saved" : ""));
      return gSibling.runResult;
    };
  }
};

TEST(PostFitBridge, OnlyPostFitStatementsLoadTheSibling) {
  SiblingSwap swap;
  auto r = parse("data=d; class a; model y=x1 a; output out=o p=p;");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.ctx->postFit, nullptr);
  EXPECT_EQ(gSibling.loads, 0);

  r = parse("data=d; model y=x1; code file='x.py';");
  EXPECT_EQ(r.result, 0);
  ASSERT_NE(r.ctx->postFit, nullptr);
  EXPECT_EQ(gSibling.loads, 1);
  EXPECT_EQ(gSibling.loadedName, "qrxauxmd");
  // The entry routine saw every statement's text, each ending in one ';'; the run routine
  // checks CODE while parsing too, and the texts are released before the bridge is returned.
  ASSERT_EQ(gSibling.texts.size(), 3u);
  EXPECT_EQ(gSibling.texts[0], "VARSIFTER DATA=D;");
  EXPECT_EQ(gSibling.texts[1], "MODEL Y=X1;");
  EXPECT_EQ(gSibling.texts[2], "CODE FILE='x.py';");
  EXPECT_EQ(gSibling.calls, std::vector<std::string>{"run -1 saved"});
  EXPECT_EQ(r.ctx->postFit->save, nullptr);
}

TEST(PostFitBridge, StoreRunsTheSiblingWhileParsing) {
  SiblingSwap swap;
  auto r = parse("data=d; model y=x1; store out=m;");
  EXPECT_EQ(r.result, 0);
  ASSERT_NE(r.ctx->postFit, nullptr);
  ASSERT_EQ(gSibling.calls.size(), 1u);
  EXPECT_EQ(gSibling.calls[0], "run -1 saved");
  EXPECT_EQ(r.ctx->postFit->save, nullptr);
}

TEST(PostFitBridge, FailingRunIsCleanedUpThenEndsWith1012) {
  SiblingSwap swap;
  gSibling.runResult = 3;
  auto r = parse("data=d; model y=x1; store out=m;");
  EXPECT_EQ(r.exitCode, 1012);
  ASSERT_EQ(gSibling.calls.size(), 2u);
  EXPECT_EQ(gSibling.calls[1], "cleanup");
}

TEST(PostFitBridge, LoadFailureIsTracedAndStoreThenEndsWith1012) {
  SiblingSwap swap;
  gSibling.loadFails = true;
  auto r = parse("data=d; model y=x1; code file='x.py';");
  EXPECT_EQ(r.result, 0);
  ASSERT_NE(r.ctx->postFit, nullptr);
  EXPECT_EQ(r.ctx->postFit->methods, nullptr);
  bool traced = false;
  for (const auto& rec : r.log)
    traced = traced || rec.text == "Failed to load qrxauxmd bridge.";
  EXPECT_TRUE(traced);
  // STORE needs the sibling's run routine: without one the run ends with 1012.
  r = parse("data=d; model y=x1; store out=m;");
  EXPECT_EQ(r.exitCode, 1012);
  EXPECT_TRUE(gSibling.calls.empty());
}

} // namespace
