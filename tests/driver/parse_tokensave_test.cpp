// The token save: statements kept whole however long, each ending in exactly one ';'.
#include "parse_harness.h"

#include "driver/vsfparse.h"
#include "host/hostapi.h"
#include "host/hostcore.h"
#include "host/parser/psparser.h"
#include "support/parsedstmt.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> saved(const std::string& text) {
  parsetest::parse("data=d; model y=x1;"); // control block, task and parse root in place
  static HostParser p;
  qrxhost::loadParserText(&p, text, 1, 1);
  hostParseRoot()->parser = &p;
  TokenSave* s = zttksi(&p);
  std::vector<std::string> out;
  while (p.toks[p.pos].tokenClass != TC_ENDJB) {
    zttkus(s, &p.toks[p.pos], 0, 0);
    zttks(s);
    while (p.toks[p.pos].tokenClass != TC_ENDJB &&
           std::string(p.toks[p.pos].text, p.toks[p.pos].length) != ";")
      ++p.pos;
    if (p.toks[p.pos].tokenClass != TC_ENDJB)
      ++p.pos;
  }
  for (TokenSaveText* e = s->head; e; e = e->next)
    out.emplace_back(e->text, e->length);
  EXPECT_EQ(s->statementCount, static_cast<int32_t>(out.size()));
  zttkse(s);
  return out;
}

TEST(TokenSave, StatementsEndInOneSemicolon) {
  auto v = saved("code file = 'a b' ; store out=x(read=y) / label='l';");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0], "CODE FILE='a b';");
  // A ')' that closes the outermost parenthesis is written like a word.
  EXPECT_EQ(v[1], "STORE OUT=X(READ=Y ) / LABEL='l';");
}

TEST(TokenSave, LongStatementKeptWhole) {
  std::string text = "model y =";
  for (int i = 0; i < 120; ++i)
    text += " v" + std::to_string(i);
  text += ";";
  auto v = saved(text);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_GT(v[0].size(), 256u);
  EXPECT_EQ(v[0].substr(v[0].size() - 6), " V119;");
  EXPECT_EQ(v[0].find(";"), v[0].size() - 1);
}

} // namespace
