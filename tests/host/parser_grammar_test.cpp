// The recursive-descent interpretation of rule-text grammars: alternatives, options,
// repetitions, hidden keywords, the node actions, variable and number lists, range
// checks, syntax errors with their positions and recovery, hooks and traces.
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/parser/psparser.h"
#include "host/supervisor.h"
#include "support/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace qrxhost;
namespace fs = std::filesystem;

namespace {

const GrammarRule kRules[] = {
    {"statement", "( tstmt | vstmt )"},
    {"tstmt", "#3(9) 'TEST' { 'FLAG'/'HIDDEN$' #5(3) | 'NUM' '=' #20(1,10) #6(2,1) INT"
              " | 'TXT' '=' #7(4,5) QS | 'LIST' '(' #8(5,4) numitems ')'"
              " | 'NAMES' '=' #8(6,9) { #26(1) NAMEX #25(1) }"
              " | 'MODE' '=' ( 'A' #33(7,1) | 'B' #33(7,2) | 'CEE$' #33(7,3) ) } #4"},
    {"numitems", "{ #19(1) number [ 'TO' #19(2) number [ 'BY' #19(3) number ] ] #19(4) [ ',' ] }"},
    {"number", "( INT | NBR )"},
    {"vstmt", "#3(3) 'VARS' #8(1,3) { varitem } #4"},
    {"varitem",
     "( '_NUMERIC_' #10(7) | '_CHARACTER_'/'_CHAR_' #10(8) | '_ALL_' #10(9)"
     " | #9 ( NAMEX | VLITERAL ) ( ':' #10(6) | '-' ( '-' vname #10(3)"
     " | 'NUMERIC' '-' vname #10(4) | 'CHARACTER'/'CHAR' '-' vname #10(5) | vname #10(2) )"
     " | #10(1) ) )"},
    {"vname", "( NAMEX | VLITERAL )"},
};

int gBefore = 0, gAfter = 0, gEnd = 0;
int32_t before() { return ++gBefore, 0; }
int32_t after() { return ++gAfter, 0; }
int32_t atEnd() { return ++gEnd, 0; }

class Grammar : public ::testing::Test {
protected:
  HostParser parser;
  ParseRoot root{};
  VsfGrammar grammar{};
  std::vector<LogRecord> log;

  void SetUp() override {
    v_global_gcb_anchor = hostControlBlock();
    // One directory per process: ctest runs the tests of this file in parallel processes.
    fs::path dir = fs::temp_directory_path() / ("qrx_parser_grammar_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "g.csv") << "x1,x2,x3,name,y,z9\n1,2,3,a,4,5\n";
    setWorkDir(dir.string());
    clearHostOptions();
    takeLog();
  }
  void TearDown() override {
    endStepDataSets();
    fs::remove_all(fs::temp_directory_path() /
                   ("qrx_parser_grammar_" + std::to_string(::getpid())));
  }

  int32_t run(const std::string& text, int mode = 0) {
    grammar.tableFormat = kGrammarRuleText;
    grammar.tokenClassCount = TC_COUNT;
    grammar.rules = kRules;
    grammar.ruleCount = sizeof kRules / sizeof kRules[0];
    loadParserText(&parser, text, 1, 1);
    grammar.parseAnchor = &parser;
    root = ParseRoot{};
    root.dataSet = dataSetServices()->xdsopen("g", 1);
    ParseHookTable hooks{};
    hooks.entries[HookEntry::Statement].before = before;
    hooks.entries[HookEntry::Statement].after = after;
    hooks.entries[HookEntry::Run].before = atEnd;
    gBefore = gAfter = gEnd = 0;
    int32_t rc = parserServices()->xsproc(&grammar, &root, mode, &hooks, nullptr, nullptr);
    log = takeLog();
    return rc;
  }

  ParsedStatement* nth(int i) {
    ParsedStatement* s = root.first;
    while (s && i-- > 0)
      s = s->next;
    return s;
  }
  const LogRecord* msg(int number) {
    for (const auto& r : log)
      if (r.numbered && r.set == kParserMsgSet && r.number == number)
        return &r;
    return nullptr;
  }
  std::vector<int> ints(const OptionSlot& s) {
    return std::vector<int>(s.items.ints, s.items.ints + s.value.list.count);
  }
};

TEST_F(Grammar, FlagsSlotsAndHiddenKeywords) {
  ASSERT_EQ(run("test flag num=7 txt='hi there' mode=b; test hidden$; test hidden;"), 0);
  ParsedStatement* s = nth(0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::string(s->name, 5), "TEST ");
  EXPECT_TRUE(stmtFlagAt(s, 3));
  EXPECT_FALSE(stmtFlagAt(s, 2));
  EXPECT_DOUBLE_EQ(stmtNumberAt(s, 2, 0), 7);
  const OptionSlot* txt = stmtSlotAt(s, 4);
  ASSERT_NE(txt, nullptr);
  EXPECT_EQ(std::string(txt->items.text, txt->value.list.count), "hi there");
  EXPECT_DOUBLE_EQ(stmtNumberAt(s, 7, 0), 2);
  EXPECT_EQ(stmtSlotAt(s, 5), nullptr);
  // The hidden keyword with and without its '$' leaves the same node.
  EXPECT_EQ(std::memcmp(nth(1)->flags, nth(2)->flags, sizeof nth(1)->flags), 0);
  EXPECT_TRUE(stmtFlagAt(nth(2), 3));
  EXPECT_EQ(gBefore, 3);
  EXPECT_EQ(gAfter, 3);
  EXPECT_EQ(gEnd, 1);
}

TEST_F(Grammar, NumberAndNameLists) {
  ASSERT_EQ(run("test list(1 to 5 by 2, 10 0.5) names=a bb ccc;"), 0);
  const OptionSlot* l = stmtSlotAt(nth(0), 5);
  ASSERT_NE(l, nullptr);
  std::vector<double> got(l->items.doubles, l->items.doubles + l->value.list.count);
  EXPECT_EQ(got, (std::vector<double>{1, 3, 5, 10, 0.5}));
  const OptionSlot* n = stmtSlotAt(nth(0), 6);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->value.list.count, 3);
}

TEST_F(Grammar, NumberListWithZeroStepIsRefused) {
  EXPECT_NE(run("test list(1 to 5 by 0);"), 0);
  EXPECT_NE(msg(PM_NUMLIST), nullptr);
}

TEST_F(Grammar, VariableListItems) {
  ASSERT_EQ(run("vars x1-x3; vars x2--name; vars x: ; vars _numeric_; vars _character_;"
                " vars x1-numeric-y; vars 'name'n;"),
            0)
      << (log.empty() ? "" : log[0].text);
  EXPECT_EQ(ints(nth(0)->slots[1]), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(ints(nth(1)->slots[1]), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(ints(nth(2)->slots[1]), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(ints(nth(3)->slots[1]), (std::vector<int>{1, 2, 3, 5, 6}));
  EXPECT_EQ(ints(nth(4)->slots[1]), (std::vector<int>{4}));
  EXPECT_EQ(ints(nth(5)->slots[1]), (std::vector<int>{1, 2, 3, 5}));
  EXPECT_EQ(ints(nth(6)->slots[1]), (std::vector<int>{4}));
}

TEST_F(Grammar, BadVariablesAreReportedAndTheNextStatementParsed) {
  EXPECT_EQ(run("vars nosuch;\nvars x3-x1; vars x1;"), 1);
  const LogRecord* notFound = msg(PM_VARIABLE);
  ASSERT_NE(notFound, nullptr);
  EXPECT_EQ(notFound->values[2].s, "nosuch"); // as the program writes it
  EXPECT_NE(msg(PM_VARLIST), nullptr);
  EXPECT_EQ(nth(0)->syntaxError, 1);
  EXPECT_EQ(nth(1)->syntaxError, 1);
  EXPECT_EQ(nth(2)->syntaxError, 0);
  EXPECT_EQ(ints(nth(2)->slots[1]), (std::vector<int>{1}));
}

TEST_F(Grammar, SyntaxErrorNamesTokenLineAndColumn) {
  EXPECT_EQ(run("test flag;\n  test num=x;\ntest flag;"), 1);
  const LogRecord* e = msg(PM_SYNTAX);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->values[0].i, 2);
  EXPECT_EQ(e->values[1].i, 12);
  EXPECT_EQ(e->values[2].s, "x");
  EXPECT_EQ(nth(1)->syntaxError, 1);
  ASSERT_NE(nth(2), nullptr); // parsing resumed after the ';'
  EXPECT_TRUE(stmtFlagAt(nth(2), 3));
}

TEST_F(Grammar, UnknownStatementAndRangeCheck) {
  EXPECT_EQ(run("tset flag; test num=11; test num=10;"), 1);
  const LogRecord* s = msg(PM_STATEMENT);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->values[0].i, 1);
  EXPECT_EQ(s->values[1].i, 1);
  EXPECT_EQ(s->values[2].s, "tset");
  const LogRecord* r = msg(PM_RANGE);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->values[1].i, 21);
  EXPECT_DOUBLE_EQ(stmtNumberAt(nth(1), 2, 0), 10);
}

TEST_F(Grammar, TraceModes) {
  run("test flag;", 3);
  int syn = 0, sem = 0;
  for (const auto& r : log)
    if (r.numbered && r.number == PM_TRACE) {
      syn += r.text.find("SYN:") != std::string::npos;
      sem += r.text.find("SEM:") != std::string::npos;
    }
  EXPECT_EQ(syn, 2); // TEST, FLAG
  EXPECT_EQ(sem, 3); // 3(9), 5(3), 4
  run("test flag;", 0);
  for (const auto& r : log)
    EXPECT_NE(r.number, PM_TRACE);
}

TEST_F(Grammar, BadRuleTextIsReportedNotParsed) {
  static const GrammarRule bad[] = {{"statement", "( 'A' | missing"}};
  grammar.tableFormat = kGrammarRuleText;
  grammar.rules = bad;
  grammar.ruleCount = 1;
  loadParserText(&parser, "a;", 1, 1);
  grammar.parseAnchor = &parser;
  root = ParseRoot{};
  EXPECT_LT(parserServices()->xsproc(&grammar, &root, 0, nullptr, nullptr, nullptr), 0);
  log = takeLog();
  EXPECT_NE(msg(PM_INTERNAL), nullptr);
}

TEST_F(Grammar, UnterminatedStringReported) {
  EXPECT_EQ(run("test txt='abc;"), 1);
  const LogRecord* e = msg(PM_UNTERMINATED);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->values[1].i, 10);
}

} // namespace

TEST_F(Grammar, SyntaxErrorListsNeitherFormOfAHiddenKeyword) {
  EXPECT_EQ(run("test mode=cee; test mode=cee$; test mode=5;"), 1);
  EXPECT_EQ(nth(0)->syntaxError, 0);
  EXPECT_EQ(nth(1)->syntaxError, 0);
  const LogRecord* e = msg(PM_SYNTAX);
  ASSERT_NE(e, nullptr);
  ASSERT_GE(e->values.size(), 4u);
  EXPECT_EQ(e->values[3].s, "A, B");
}

// A word that no option of the statement takes, where the options may go on, is met by the
// end the statement expects and by every option it could have taken there (no hidden one);
// an error inside an option names what that option takes, not the statement's options.
TEST_F(Grammar, MisspelledOptionIsMetByTheOptionsOfTheStatement) {
  EXPECT_EQ(run("test flag nmu=3; test num=x; vars x1 x2 =;"), 1);
  std::vector<const LogRecord*> errors;
  for (const LogRecord& r : log)
    if (r.set == kParserMsgSet && r.number == PM_SYNTAX)
      errors.push_back(&r);
  ASSERT_EQ(errors.size(), 3u);
  ASSERT_GE(errors[0]->values.size(), 4u);
  EXPECT_EQ(errors[0]->values[2].s, "nmu");
  EXPECT_EQ(errors[0]->values[3].s, "; or one of the options FLAG, LIST, MODE, NAMES, NUM, TXT");
  EXPECT_EQ(errors[1]->values[3].s.find("FLAG"), std::string::npos) << errors[1]->values[3].s;
  // a list of names ends where a name cannot come: there is no option to name
  EXPECT_EQ(errors[2]->values[3].s.find("one of the options"), std::string::npos)
      << errors[2]->values[3].s;
}
