// Parameter and level names: prefixes under VALIDVARNAME, numeric-looking level texts,
// label composition and effect names of crossed factors and continuous parts.
#include "fakehost.h"

#include "effects/zmn.h"

#include <gtest/gtest.h>

#include <cstring>

using efftest::FakeHost;

namespace {

std::string field(const char* text, int n) {
  std::string s(text, static_cast<size_t>(n));
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  return s;
}

void setField(char* target, int n, const std::string& text) {
  std::memset(target, ' ', static_cast<size_t>(n));
  std::memcpy(target, text.data(), text.size());
}

struct NamesTest : ::testing::Test {
  FakeHost host;
  std::vector<ClassLevelEntry> levels;

  ClassNameRecord* variable(const std::string& name, const std::vector<std::string>& values,
                            int nfl, bool numeric = true) {
    ClassNameRecord* r = zmnalcl(1, nullptr);
    setField(r->name, 32, name);
    r->nfl = nfl;
    r->numeric = numeric ? 1 : 0;
    levels.assign(values.size(), ClassLevelEntry{});
    for (size_t i = 0; i < values.size(); ++i) {
      ClassLevelEntry& e = levels[i];
      setField(e.cls, 32, values[i]);
      setField(e.label, 256, values[i]);
      setField(e.longLabel, 256, values[i]);
      setField(e.nameText, 32, values[i]);
      setField(e.name, 32, "");
      e.owner = r;
      e.next = i + 1 < values.size() ? &levels[i + 1] : nullptr;
    }
    r->levels = levels.data();
    return r;
  }
};

TEST_F(NamesTest, AllocatedRecordsAreBlankWithPrefixesUnset) {
  ClassNameRecord* r = zmnalcl(2, nullptr);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[1].cprefix, -1);
  EXPECT_EQ(r[1].lprefix, -1);
  EXPECT_EQ(field(r[1].label, 256), "");
  EXPECT_EQ(r[1].name[0], ' ');
  EXPECT_EQ(r[1].levels, nullptr);
}

TEST_F(NamesTest, V6NamesTakeAShortPrefixAndMapNumbers) {
  host.validVarName = "V6";
  ClassNameRecord* age = variable("AGE", {"25", "-1.5"}, 3);
  zmnprcl(age, 1);
  EXPECT_EQ(field(levels[0].name, 32), "AGE25");
  EXPECT_EQ(field(levels[1].name, 32), "AGEN1D5");
}

TEST_F(NamesTest, V6PrefixLeavesRoomForTheLevelText) {
  host.validVarName = "V6";
  ClassNameRecord* r = variable("LONGNAME1", {"7"}, 3);
  zmnprcl(r, 1);
  // P = 8 - 3 = 5 characters of the name, then the level text.
  EXPECT_EQ(field(levels[0].name, 32), "LONGN7");
}

TEST_F(NamesTest, V6NamesAreCutToEightCharacters) {
  host.validVarName = "V6";
  ClassNameRecord* r = variable("LONGNAME1", {"12345"}, 1);
  zmnprcl(r, 1);
  // P = 8 - max(1, 2) = 6: LONGNA12345, then the V6 name rule keeps eight characters.
  EXPECT_EQ(field(levels[0].name, 32), "LONGNA12");
  host.validVarName = "V7";
  ClassNameRecord* s = variable("LONGNAME1", {"12345"}, 1);
  zmnprcl(s, 1);
  EXPECT_EQ(field(levels[0].name, 32), "LONGNAME112345");
}

TEST_F(NamesTest, AnyKeepsTheLevelCharacters) {
  host.validVarName = "ANY";
  ClassNameRecord* age = variable("AGE", {"-1.5"}, 4);
  zmnprcl(age, 1);
  EXPECT_EQ(field(levels[0].name, 32), "AGE-1.5");
}

TEST_F(NamesTest, V7MakesInvalidCharactersUnderscores) {
  ClassNameRecord* r = variable("G", {"a b", "x/y"}, 3, false);
  zmnprcl(r, 1);
  EXPECT_EQ(field(levels[0].name, 32), "Ga_b");
  EXPECT_EQ(field(levels[1].name, 32), "Gx_y");
}

TEST_F(NamesTest, NumericLookingTextsOnly) {
  char text[32];
  setField(text, 32, "1E5");
  zmzname(0, text, 32, 0);
  EXPECT_EQ(field(text, 32), "1E5");
  setField(text, 32, "E5.");
  zmzname(0, text, 32, 0);
  EXPECT_EQ(field(text, 32), "E5.");
  setField(text, 32, "  +2.5");
  zmzname(0, text, 32, 0);
  EXPECT_EQ(field(text, 32), "P2D5");
}

TEST_F(NamesTest, LevelLabelJoinsVariableLabel) {
  ClassNameRecord* sex = variable("SEX", {"F"}, 1, false);
  setField(sex->label, 256, "Sex");
  zmnprcl(sex, 1);
  EXPECT_EQ(field(levels[0].label, 256), "Sex F");
  ClassNameRecord* other = variable("SEX", {"F"}, 1, false);
  setField(other->label, 256, "Sex");
  other->lprefix = 0;
  zmnprcl(other, 1);
  EXPECT_EQ(field(levels[0].label, 256), "F");
}

TEST_F(NamesTest, LongLabelsAreShortenedToFit) {
  ClassNameRecord* r = variable("V", {std::string(200, 'L')}, 1, false);
  setField(r->label, 256, std::string(200, 'v'));
  zmnprcl(r, 1);
  std::string label = field(levels[0].label, 256);
  EXPECT_EQ(label.size(), 256u);
  // First cut: the level label keeps 128 - 1 characters and the variable label 128.
  EXPECT_EQ(label.substr(0, 128), std::string(128, 'v'));
  EXPECT_EQ(label[128], ' ');
}

TEST_F(NamesTest, TwoFactorEffectNameAndLabel) {
  ClassNameRecord* recs = zmnalcl(2, nullptr);
  setField(recs[0].name, 32, "A");
  setField(recs[1].name, 32, "B");
  recs[0].nfl = recs[1].nfl = 1;
  ClassLevelEntry a1{}, b2{};
  for (auto [e, owner, v] : {std::tuple{&a1, &recs[0], "1"}, std::tuple{&b2, &recs[1], "2"}}) {
    setField(e->cls, 32, v);
    setField(e->label, 256, v);
    setField(e->longLabel, 256, std::string("lvl ") + v);
    setField(e->nameText, 32, v);
    setField(e->name, 32, "");
    e->owner = owner;
  }
  ClassLevelEntry* factors[2] = {&a1, &b2};
  EffectNameRecord r{};
  r.factors = factors;
  r.nways = 2;
  r.prefixCount = 2;
  zmname(&r, 1);
  EXPECT_EQ(field(r.name, 32), "A1B2");
  EXPECT_EQ(field(r.label, 256), "lvl 1 * lvl 2");
}

TEST_F(NamesTest, ContinuousPartsKeepOneCharacterEach) {
  char parts[3][288];
  const char* names[3] = {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "SECONDPART", "THIRD"};
  char* pointers[3];
  for (int i = 0; i < 3; ++i) {
    setField(parts[i], 32, names[i]);
    setField(parts[i] + 32, 256, "");
    pointers[i] = parts[i];
  }
  EffectNameRecord r{};
  r.continuous = pointers;
  r.continuousCount = 3;
  zmname(&r, 1);
  std::string name = field(r.name, 32);
  // Part k of n takes at most 33 + k - n - (length so far) characters: 26 (all of the
  // first), then 33 + 1 - 3 - 26 = 5, then 33 + 2 - 3 - 31 = 1.
  EXPECT_EQ(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZSECONT");
  EXPECT_LE(name.size(), 32u);
  // Blank labels fall back to the names.
  EXPECT_EQ(field(r.label, 256), "ABCDEFGHIJKLMNOPQRSTUVWXYZ * SECONDPART * THIRD");
}

TEST_F(NamesTest, ConcatenationHelpers) {
  char target[10];
  setField(target, 10, "ab");
  EXPECT_EQ(zmnlcon(target, "cd  ", 10, 4, "--", 2), 2);
  EXPECT_EQ(field(target, 10), "ab--cd");
  setField(target, 10, "");
  zmnlcon(target, "xy", 10, 2, "--", 2);
  EXPECT_EQ(field(target, 10), "xy");
  zmnconc(target, "abc  ", "defghijk ", 6, 5, 9);
  EXPECT_EQ(field(target, 6), "abcdef");
  zmncomp(target, "a b ", "c d", 10, 4, 3);
  EXPECT_EQ(field(target, 10), "abcd");
  char just[32];
  zmnjust("   xy                           ", just);
  EXPECT_EQ(field(just, 32), "xy");
}

} // namespace
