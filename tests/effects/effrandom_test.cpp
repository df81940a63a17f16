// Randomised MODEL effect lists through the callback: whatever the mix of crossings,
// nestings, bars, ranges and @n, the statement either parses into distinct effects whose
// names fit NAMELEN and whose sizes respect @n, or stops with a numbered message.
#include "fakehost.h"

#include "effects/effchain.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using efftest::FakeHost;

namespace {

std::string randomEffects(std::mt19937& rng, int* limit) {
  static const char* const names[] = {
      "a", "b", "g", "x", "z", "longvariablename1", "longvariablename2", "v1", "v2", "v3"};
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::string out;
  int effects = 1 + pick(5);
  *limit = 0;
  for (int e = 0; e < effects; ++e) {
    if (pick(6) == 0) {
      out += " v1-v3";
      continue;
    }
    int terms = 1 + pick(4);
    for (int t = 0; t < terms; ++t) {
      if (t > 0)
        out += "|";
      int vars = 1 + pick(3);
      for (int v = 0; v < vars; ++v)
        out += std::string(v ? "*" : (t ? "" : " ")) + names[pick(10)];
      if (pick(4) == 0)
        out += std::string("(") + names[pick(3)] + ")";
    }
    if (e == 0 && terms > 1 && pick(2) == 0) {
      // @n limits its own bar expression: such a statement holds that expression alone.
      *limit = 1 + pick(3);
      out += " @" + std::to_string(*limit);
      break;
    }
  }
  return out;
}

TEST(RandomModelTest, ParsesIntoDistinctFittingEffectsOrStopsWithAMessage) {
  std::mt19937 rng(20261207);
  int parsed = 0;
  for (int round = 0; round < 400; ++round) {
    FakeHost host;
    for (const char* v :
         {"y", "a", "b", "g", "x", "z", "longvariablename1", "longvariablename2", "v1", "v2", "v3"})
      host.addVar(v);
    host.setClass({"a", "b", "g", "longvariablename1"});
    int limit = 0;
    std::string effects = randomEffects(rng, &limit);
    ParsedStatement* m = host.model(effects);
    SCOPED_TRACE(effects);
    if (host.root.status != 0) {
      ASSERT_FALSE(host.messages.empty());
      EXPECT_EQ(host.messages.back().set, 174);
      continue;
    }
    ++parsed;
    const OptionSlot& slot = m->slots[1];
    std::set<std::string> seen;
    for (int32_t i = 0; i < slot.value.list.count; ++i) {
      auto* e = static_cast<EffectChainNode*>(slot.items.pointers[i]);
      std::string name(e->name, static_cast<size_t>(e->nameLength));
      EXPECT_TRUE(name.size() <= 20 || name == "LONGNAME EFFECT") << name;
      if (limit > 0) {
        EXPECT_LE(effVariableCount(e), limit) << name;
      }
      for (int32_t j = 0; j < i; ++j)
        EXPECT_NE(EqualEffects(e, static_cast<EffectChainNode*>(slot.items.pointers[j]), false), 0)
            << name;
      seen.insert(name);
    }
    // The chain and the slot hold the same effects in the same order.
    int32_t k = 0;
    for (EffectChainNode* e = host.root.effectState->chainHead; e != nullptr; e = e->next, ++k)
      ASSERT_EQ(static_cast<void*>(e), slot.items.pointers[k]);
    EXPECT_EQ(k, slot.value.list.count);
  }
  EXPECT_GT(parsed, 200); // most statements are valid: the checks above did run
}

} // namespace
