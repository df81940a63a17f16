// The statement tokenizer: token classes, positions, quoting, signs, comments and the
// errors of unterminated text and over-long names.
#include "host/parser/psparser.h"

#include <gtest/gtest.h>

using qrxhost::LexError;
using qrxhost::LexToken;
using qrxhost::tokenize;

namespace {

std::vector<LexToken> lex(const std::string& text, LexError* err = nullptr) {
  std::vector<LexToken> out;
  LexError e;
  bool ok = tokenize(text, 1, 1, out, err ? err : &e);
  if (!ok && !err)
    ADD_FAILURE() << "tokenize failed: " << e.detail;
  return out;
}

TEST(ParserTokenizer, ClassesTextAndPositions) {
  auto t = lex("model y=x1 / sle=0.15 stop=3;\n  out=work.o fmt=best12. n='a''b' v='my var'n;");
  ASSERT_GE(t.size(), 20u);
  EXPECT_EQ(t[0].cls, TC_NAMEX);
  EXPECT_EQ(t[0].text, "MODEL");
  EXPECT_EQ(t[0].raw, "model");
  EXPECT_EQ(t[0].line, 1);
  EXPECT_EQ(t[0].column, 1);
  EXPECT_EQ(t[2].text, "=");
  EXPECT_EQ(t[2].cls, 0);
  EXPECT_EQ(t[3].column, 9);
  EXPECT_EQ(t[7].cls, TC_NBR);
  EXPECT_DOUBLE_EQ(t[7].number, 0.15);
  EXPECT_EQ(t[10].cls, TC_INT);
  EXPECT_DOUBLE_EQ(t[10].number, 3);
  EXPECT_EQ(t[12].line, 2);
  EXPECT_EQ(t[12].column, 3);
  EXPECT_EQ(t[14].cls, TC_COMPOUND);
  EXPECT_EQ(t[14].raw, "work.o");
  EXPECT_EQ(t[17].cls, TC_FMT);
  EXPECT_EQ(t[20].cls, TC_QS);
  EXPECT_EQ(t[20].text, "a'b");
  EXPECT_EQ(t[23].cls, TC_VLITERAL);
  EXPECT_EQ(t[23].text, "my var");
  EXPECT_EQ(t.back().cls, TC_ENDJB);
}

TEST(ParserTokenizer, SignsOnlyAfterValuePositions) {
  auto t = lex("l2=-1.5 x1-x3 (1 -2) a--b");
  EXPECT_EQ(t[2].cls, TC_NBR);
  EXPECT_DOUBLE_EQ(t[2].number, -1.5);
  EXPECT_EQ(t[3].text, "X1"); // x1-x3 keeps its dash
  EXPECT_EQ(t[4].text, "-");
  EXPECT_EQ(t[8].cls, TC_INT); // -2 after a number is a signed number
  EXPECT_DOUBLE_EQ(t[8].number, -2);
  EXPECT_EQ(t[11].text, "-");
  EXPECT_EQ(t[12].text, "-");
}

TEST(ParserTokenizer, CommentsAreDropped) {
  auto t = lex("/* a ; 'b */ model y=x; * it's a comment statement; run");
  std::vector<std::string> texts;
  for (const auto& k : t)
    texts.push_back(k.text);
  std::vector<std::string> want = {"MODEL", "Y", "=", "X", ";", "RUN", ""};
  EXPECT_EQ(texts, want);
}

TEST(ParserTokenizer, HiddenSuffixAndLargeIntegers) {
  auto t = lex("weights$ 3000000000 .");
  EXPECT_EQ(t[0].text, "WEIGHTS$");
  EXPECT_EQ(t[1].cls, TC_NBR); // beyond 32 bits: a number, not an integer
  EXPECT_EQ(t[2].cls, TC_MISSING);
}

TEST(ParserTokenizer, ErrorsCarryPositions) {
  LexError e;
  std::vector<LexToken> out;
  EXPECT_FALSE(tokenize("a = 'open\nmore", 3, 5, out, &e));
  EXPECT_EQ(e.message, qrxhost::PM_UNTERMINATED);
  EXPECT_EQ(e.line, 3);
  EXPECT_EQ(e.column, 9);
  EXPECT_FALSE(tokenize("x /* never closed", 1, 1, out, &e));
  EXPECT_EQ(e.message, qrxhost::PM_UNTERMINATED);
  EXPECT_FALSE(tokenize(std::string(40, 'v'), 1, 1, out, &e));
  EXPECT_EQ(e.message, qrxhost::PM_NAMELENGTH);
  EXPECT_FALSE(tokenize("1e999", 1, 1, out, &e));
}

TEST(ParserTokenizer, ArbitraryBytesNeverFail) {
  std::string s;
  for (int i = 1; i < 256; ++i)
    if (i != '\'' && i != '"' && i != '*' && i != '/')
      s += static_cast<char>(i);
  std::vector<LexToken> out;
  LexError e;
  EXPECT_TRUE(tokenize(s, 1, 1, out, &e));
  EXPECT_EQ(out.back().cls, TC_ENDJB);
}

// The parser's token stream holds each token once: the same classes, texts and positions
// as the tokenizer's list, and the source characters of every token found back from it.
TEST(ParserTokenizer, ParserStreamMatchesTheTokenList) {
  const std::string text = "proc x data=Work.In;\n title 'it''s' \"my v\"n -1.5e3 .;\n m y = A1;";
  std::vector<LexToken> list = lex(text);
  HostParser p;
  qrxhost::loadParserText(&p, text, 4, 3);
  ASSERT_FALSE(p.lexFailed);
  ASSERT_EQ(p.toks.size(), list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(list[i].raw);
    const HostToken& t = p.toks[i];
    EXPECT_EQ(t.tokenClass, list[i].cls);
    EXPECT_EQ(qrxhost::tokenText(t), list[i].text);
    EXPECT_EQ(qrxhost::tokenRaw(p, i), list[i].raw);
    EXPECT_EQ(t.offset, list[i].offset);
    EXPECT_EQ(t.number, list[i].number);
  }
  // Positions start where the step starts (line 4, column 3) and count the source's lines.
  EXPECT_EQ(p.toks[0].line, 4);
  EXPECT_EQ(p.toks[0].column, 3);
  EXPECT_EQ(qrxhost::tokenRaw(p, 7), "'it''s'");
  EXPECT_EQ(qrxhost::tokenText(p.toks[7]), "it's");
  EXPECT_EQ(p.toks[7].line, 5);
  EXPECT_EQ(qrxhost::tokenRaw(p, 8), "\"my v\"n");
  EXPECT_EQ(qrxhost::tokenRaw(p, 4), "Work.In");
  EXPECT_EQ(qrxhost::tokenText(p.toks[4]), "WORK.IN");
}

} // namespace
