// The host's statement parser: tokenizer, the compiled form of a rule-text grammar, the
// token stream of a parse and the service group (31) that the module calls. The node
// actions and the recursive-descent interpreter live in rdparse.cpp, the services in
// psservices.cpp; the module's grammar and readers are the module's.
#pragma once

#include "support/parsedstmt.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qrxhost {

// Messages of the host parser (set 612).
inline constexpr int kParserMsgSet = 612;
enum ParserMsg : int {
  PM_SYNTAX = 1,        // found token, expecting ...
  PM_STATEMENT = 2,     // statement not valid in this procedure
  PM_RANGE = 3,         // value out of range
  PM_VARIABLE = 4,      // variable not found
  PM_UNTERMINATED = 5,  // unterminated string or comment
  PM_NAMELENGTH = 6,    // name too long
  PM_NODATA = 7,        // variable list without a data set
  PM_VARLIST = 8,       // variable list not valid
  PM_NODEFAULTDATA = 9, // no DATA= data set
  PM_NUMLIST = 10,      // number list not valid
  PM_NUMBER = 11,       // a number too large or too small to hold
  PM_NESTING = 12,      // an expression nested deeper than kMaxNesting
  PM_TRACE = 20,        // a trace line
  PM_INTERNAL = 21,     // the grammar itself is not valid
  PM_DSOPTION = 23,     // not a data-set option
  PM_DSOPTVALUE = 24,   // a data-set option not valid here
  PM_NUMLISTNAME = 25,  // a name item in a list of numbers
  PM_MACROREF = 26,     // a macro reference in a procedure step
};

// How deep parentheses and NOTs may nest in an expression of a statement: the parser and the
// evaluation recurse once per level, and a limit far above any written program keeps a
// generated one from running out of stack.
inline constexpr int kMaxNesting = 200;

// ---------------------------------------------------------------------------------------
// Tokenizer
// ---------------------------------------------------------------------------------------

struct LexToken {
  int cls = 0;       // GrammarTokenClass, or 0 for punctuation, TC_ENDJB for the end
  std::string text;  // upper-cased for names; as written (unquoted) for strings
  std::string raw;   // the source characters
  double number = 0; // INT, NBR
  int line = 0;
  int column = 0;
  int64_t offset = 0;
};

struct LexError {
  ParserMsg message = PM_SYNTAX;
  int line = 0;
  int column = 0;
  std::string detail;
};

// Splits program text into tokens; the first character is at (firstLine, firstColumn).
// Comment statements ("* ... ;") and /* */ comments are dropped. The last token is the
// end marker (class TC_ENDJB, empty text). False with *error filled on bad text.
bool tokenize(const std::string& text, int firstLine, int firstColumn, std::vector<LexToken>& out,
              LexError* error);

// ---------------------------------------------------------------------------------------
// Compiled grammar
// ---------------------------------------------------------------------------------------

enum class GKind { Seq, Alt, Opt, Rep, Word, Class, Action, Ref };

struct GNode {
  GKind kind = GKind::Seq;
  std::vector<GNode*> kids;
  std::vector<std::string> words; // Word: accepted spellings (upper case)
  int tokenClass = 0;             // Class
  int action = 0;                 // Action: routine code
  std::vector<int> args;          // Action arguments
  std::string refName;            // Ref
  int rule = -1;                  // Ref: rule index
  // FIRST set.
  bool firstDone = false;
  bool nullable = false;
  std::set<std::string, std::less<>> firstWords;
  uint32_t firstClasses = 0;
};

struct CompiledGrammar {
  std::vector<std::unique_ptr<GNode>> nodes;
  std::vector<std::string> ruleNames;
  std::vector<GNode*> ruleBodies;
  const GrammarRule* source = nullptr;
};

// Compiles the rules; null after a logged message when a rule is not valid.
std::unique_ptr<CompiledGrammar> compileGrammar(const GrammarRule* rules, int count,
                                                std::string* problem);

// ---------------------------------------------------------------------------------------
// Data-set options
// ---------------------------------------------------------------------------------------

struct DataSetOptions;
// A fault in data-set options: the message, where, and its two texts.
struct OptionProblem {
  ParserMsg optionMessage = PM_SYNTAX;
  int line = 0;
  int column = 0;
  std::string detail, detail2;
};

// Reads the data-set options that follow "(" at the parser's position, up to the ")" that
// closes them, which is left to read. False with *problem set at the first fault.
bool readDataSetOptions(HostParser& ps, DataSetOptions* out, OptionProblem* problem);

// ---------------------------------------------------------------------------------------
// Parse memory: everything a parse makes lives until the next parse begins
// ---------------------------------------------------------------------------------------

void* parseAlloc(size_t size);
void parseArenaReset();

// The service group of the host parser.
HostParserServices* parserServices();

// Runs the recursive-descent parse of the step's statements over the grammar (rdparse.cpp);
// 0, 1 when a statement had an error, -1 when the grammar is not a rule-text grammar.
int32_t runStatementParse(VsfGrammar* grammar, ParseRoot* root, int32_t mode,
                          ParseHookTable* hooks);

} // namespace qrxhost

// The token stream of one step (the module sees it as an opaque type).
struct HostParser {
  // Each token once, as the module sees it: a deque, so that the tokens never move (the
  // module keeps pointers to them) and a long step is never copied to grow the list.
  std::deque<HostToken> toks;
  std::string tokenText; // the tokens' texts one after another (toks point into it)
  size_t pos = 0;
  ParseRoot* root = nullptr;
  std::string sourceText; // the step text that was tokenized
  bool tokenSave = false; // the token-save switch (30)
  bool lexFailed = false;
  qrxhost::LexError lexError;
};

namespace qrxhost {
// Makes the parser's token stream from text (used by xtanch and by tests).
void loadParserText(HostParser* parser, const std::string& text, int firstLine, int firstColumn);
// A token's source characters (a quoted string with its quotes; empty for the end).
std::string_view tokenRaw(const HostParser& parser, size_t index);
// A token's text: names upper-cased, quoted strings without their quotes.
inline std::string_view tokenText(const HostToken& token) {
  return {token.text, static_cast<size_t>(token.length)};
}
} // namespace qrxhost
