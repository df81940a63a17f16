// The upper case in which names are compared, against pairs taken from the Unicode
// character charts: letters of several scripts, the letters left alone, and bytes that are
// not UTF-8.
#include "host/utf8text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using qrxhost::nameUpper;

TEST(NameCase, UpperCaseOfNamesKeepsTheirLength) {
  const std::pair<std::string, std::string> cases[] = {
      {"x_1b", "X_1B"},
      {"\xc3\xa4rger", "\xc3\x84RGER"},                         // ärger: ÄRGER
      {"gr\xc3\xb6\xc3\x9f", "GR\xc3\x96\xc3\x9f"},             // größ: GRÖß (no upper ß)
      {"\xc3\xbf", "\xc5\xb8"},                                 // ÿ: Ÿ (U+0178)
      {"\xc5\x82\xc3\xb3\xc5\xba", "\xc5\x81\xc3\x93\xc5\xb9"}, // łóź: ŁÓŹ
      {"\xcf\x89\xce\xac\xcf\x82", "\xce\xa9\xce\x86\xcf\x82"}, // ωάς: ΩΆς (final sigma kept)
      {"\xd0\xb6\xd1\x91\xd2\x91", "\xd0\x96\xd0\x81\xd2\x90"}, // жёґ: ЖЁҐ
      {"\xd5\xa1", "\xd4\xb1"},                                 // Armenian ա: Ա
      {"\xc4\xb1\xc5\xbf", "\xc4\xb1\xc5\xbf"}, // dotless i, long s: not made ASCII letters
      {"\xc9\x90", "\xc9\x90"},                 // U+0250: its upper case is longer
      {std::string("a\xff") + "b\xc3", std::string("A\xff") + "B\xc3"}, // not UTF-8
  };
  for (const auto& [name, upper] : cases)
    EXPECT_EQ(nameUpper(name), upper) << name;
}
