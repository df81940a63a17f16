// Host-format records of a parse: the parsed statement nodes with their flags and option
// slots, name lists, the parse root, the statement hook table, the token record and the
// effect-action protocol, and the host parser service group. The host allocates and owns
// all of them; the module reads them (statement readers) and the effect callback fills
// effect lists in them.
#pragma once

#include "support/grammar.h"
#include "support/hostif.h"
#include "support/protocol.h"

#include <cstdint>
#include <type_traits>

// ---------------------------------------------------------------------------------------
// Statement nodes
// ---------------------------------------------------------------------------------------

struct NameListBlock;

// One option slot of a statement (24 bytes). A number or enumeration code is a double in
// `value.number`; a list keeps its count and capacity in `value.list` and its items at
// `items`; a quoted string keeps its length in `value.list.count` and its characters at
// `items.text`; a data set keeps its handle in `value.dataSet`.
struct OptionSlot {
  uint8_t present; // non-zero when an action stored a value (3 for a list the effect
                   // callback made)
  uint8_t kind;    // OptionSlotKind; for slot 9 of a var=value item: 1 when the value is a
                   // number
  uint8_t reserved[6];
  union Value {
    double number;
    struct List {
      int32_t count;
      int32_t capacity;
    } list;
    HostDataSet* dataSet;
    int64_t word;
  } value;
  union Items {
    void* any;
    int32_t* ints;        // variable numbers (1-based) or CLASS positions
    double* doubles;      // number lists, CPREFIX=/LPREFIX= values
    char* text;           // a quoted string (not terminated; length in value.list.count)
    NameListBlock* names; // a name list
    void** pointers;      // effect lists: EffectChainNode pointers
  } items;
};
static_assert(sizeof(OptionSlot) == 24, "OptionSlot is a 24-byte host record");

// What an option slot holds.
enum OptionSlotKind : uint8_t {
  OSK_NONE = 0,
  OSK_NUMBER = 1,   // value.number
  OSK_TEXT = 2,     // quoted string
  OSK_DATASET = 3,  // value.dataSet
  OSK_INTLIST = 4,  // i32 items
  OSK_DBLLIST = 5,  // double items
  OSK_NAMELIST = 6, // items.names
  OSK_PTRLIST = 7,  // pointer items (effect lists)
  OSK_VARLIST = 11, // variable-number list made by the effect callback
};

// One parsed statement. Flag k (from 0) is bit 0x80 >> (k % 8) of flags[k / 8].
struct ParsedStatement {
  ParsedStatement* next; // next node in statement order
  char name[32];         // upper case, blank-padded
  uint8_t flags[40];
  OptionSlot* slots; // slots 0 .. slotCount-1
  // Host's part of the node.
  int32_t slotCount;
  int32_t line; // where the statement starts in the program
  int32_t column;
  uint8_t syntaxError; // the statement had a syntax error
  uint8_t reserved[3];
};

// Flag or slot k of a node by its number, for code that reads a node without naming its
// statement (the host parser and its tests). The statement readers use the typed accessors
// below.
[[nodiscard]] inline bool stmtFlagAt(const ParsedStatement* s, int k) {
  return s && k >= 0 && k < kStmtFlagCount && (s->flags[k / 8] & (0x80u >> (k % 8))) != 0;
}
// The slot k of a statement when an action stored a value in it, else null.
[[nodiscard]] inline const OptionSlot* stmtSlotAt(const ParsedStatement* s, int k) {
  if (!s || !s->slots || k < 0 || k >= s->slotCount || !s->slots[k].present)
    return nullptr;
  return &s->slots[k];
}
// The slot's number when present, else the default.
[[nodiscard]] inline double stmtNumberAt(const ParsedStatement* s, int k, double dflt) {
  const OptionSlot* slot = stmtSlotAt(s, k);
  return slot ? slot->value.number : dflt;
}

// A flag of a statement, named by its statement's enum of flags.
template <StmtFlagKey F> [[nodiscard]] bool stmtFlag(const ParsedStatement* s, F flag) {
  return stmtFlagAt(s, keyOf(flag));
}
// An option slot when an action stored a value in it, else null.
template <StmtSlotKey S>
[[nodiscard]] const OptionSlot* stmtSlot(const ParsedStatement* s, S slot) {
  return stmtSlotAt(s, keyOf(slot));
}
// The slot's number when present, else the default.
template <StmtSlotKey S>
[[nodiscard]] double stmtNumber(const ParsedStatement* s, S slot, double dflt) {
  return stmtNumberAt(s, keyOf(slot), dflt);
}
// The number or enumeration code in the slot as an integer; `dflt` when no action stored one.
template <StmtSlotKey S>
[[nodiscard]] int32_t stmtInt(const ParsedStatement* s, S slot, int32_t dflt) {
  return static_cast<int32_t>(stmtNumber(s, slot, dflt));
}

// The option code the grammar stored in the slot, as its enumeration; `dflt` when no action
// stored one.
template <class E, StmtSlotKey S>
[[nodiscard]] E stmtCode(const ParsedStatement* s, S slot, E dflt) {
  static_assert(std::is_enum_v<E>, "an option code is an enumeration");
  return static_cast<E>(stmtInt(s, slot, static_cast<int32_t>(dflt)));
}

// A name list: a chain of blocks. Each block holds the index (from 0 across the chain) of
// the last name it holds and its names, each a length byte followed by the characters.
struct NameListBlock {
  void* reserved;
  NameListBlock* next;
  int64_t used;      // bytes of `names` in use
  int64_t lastIndex; // index of the last name in this block (-1 when empty)
  uint8_t names[224];
};

// ---------------------------------------------------------------------------------------
// Tokens and the parse anchor
// ---------------------------------------------------------------------------------------

// One token of the program text.
struct HostToken {
  int32_t tokenClass; // GrammarTokenClass; punctuation and keywords are TC_NAMEX or
                      // punctuation (0) with their text
  int32_t line;
  int32_t column;
  int32_t length;   // length of text
  double number;    // INT and NBR: the value
  int64_t offset;   // byte offset in the step text
  const char* text; // the token text as written (quoted strings: without the quotes,
                    // doubled quotes made single); not terminated
};

// The host parser's token stream of a parse (opaque to the module).
struct HostParser;

// ---------------------------------------------------------------------------------------
// The effect-action protocol
// ---------------------------------------------------------------------------------------

// The action record the host passes with each effect action (action routine 39).
struct EffectAction {
  int32_t reserved;
  int16_t code;    // the effect action code
  int16_t operand; // its operand (0 when the grammar gives none)
};

// The callback the host calls for effect actions: the parser (its token stream is used for
// peeking), the look-ahead token and the action.
using EffectActionFn = void (*)(HostParser* parser, const HostToken* token,
                                const EffectAction* action);

// The module's effect-syntax callback (effects subsystem).
void zeffect(HostParser* parser, const HostToken* token, const EffectAction* action);

// ---------------------------------------------------------------------------------------
// Statement hooks
// ---------------------------------------------------------------------------------------

using ParseHookFn = int32_t (*)();

struct ParseHookEntry {
  int32_t code;
  ParseHookFn after;  // after a statement
  ParseHookFn before; // before a statement
};

// Eight entries, named by HookEntry (support/protocol.h).
struct ParseHookTable {
  ParseHookEntry entries[8];
};

// ---------------------------------------------------------------------------------------
// The parse root
// ---------------------------------------------------------------------------------------

struct EffectParseState;
struct BridgeParseState;

// The host's state of the parse under way, found through the task block (hostParseRoot).
// A parse's status (ParseRoot::status): failed once a statement error was met. An effect
// list's error stores the StepRc it raises there instead.
enum ParseStatus : int16_t { kParseOk = 0, kParseFailed = 1 };

struct ParseRoot {
  ParsedStatement* first;   // the first node (the procedure statement); also the list
                            // holder: slot 1 direct variables, slot 2 CLASS variables
  ParsedStatement* last;    // the last node made
  ParsedStatement* current; // the node being parsed
  int16_t status;           // a ParseStatus
  int16_t reserved1[3];
  HostDataSet* dataSet; // the data set whose variables are looked up
  int16_t effectSlot;   // the option slot of the current node that receives effects
  int16_t reserved2[3];
  EffectParseState* effectState; // the effect callback's state
  BridgeParseState* driverState; // the host-parser driver's state while a parse runs
  void* logLine;
  void* printLine;
  void* outputBlock;
  void* messageLine;
  uint8_t syntaxTrace;   // DEBUG contains SYN
  uint8_t semanticTrace; // DEBUG contains SEM (also the effect callback's trace)
  uint8_t reserved3[6];
  EffectActionFn effectAction; // the callback for effect actions (action 39)
  HostParser* parser;          // the token stream of the parse under way
};

// The parse root of the current task (null before xinit).
inline ParseRoot* hostParseRoot() {
  HostTaskBlock* task = hostCurrentTask();
  return task ? static_cast<ParseRoot*>(task->parseRoot) : nullptr;
}

// ---------------------------------------------------------------------------------------
// Variable lists produced by the host's list expander (zaddvar)
// ---------------------------------------------------------------------------------------

struct HostVarList {
  int32_t count;
  int32_t capacity;
  int32_t* numbers; // 1-based variable numbers (mode 3)
  char** names;     // terminated names (mode 7: names of a numbered range)
  int32_t* nameLengths;
};

// zaddvar list kinds: 1 single variable, 2 numbered range (a1-a3), 3 positional range
// (a--c), 4 numeric range (a-numeric-c), 5 character range, 6 name prefix (a:),
// 7 _NUMERIC_, 8 _CHARACTER_, 9 _ALL_.
enum HostListKind : int32_t {
  HLK_SINGLE = 1,
  HLK_NUMBERED = 2,
  HLK_POSITIONAL = 3,
  HLK_NUMERIC_RANGE = 4,
  HLK_CHARACTER_RANGE = 5,
  HLK_PREFIX = 6,
  HLK_NUMERIC = 7,
  HLK_CHARACTER = 8,
  HLK_ALL = 9,
};

// ---------------------------------------------------------------------------------------
// Group 31: statement parser and tokens
// ---------------------------------------------------------------------------------------

struct HostParserServices {
  // Runs the parse of the current step's statements: grammar, parse root, mode (bit 1 the
  // syntax trace, bit 0 the semantic trace), hook table, two reserved words. Returns 0,
  // or non-zero when a statement had a syntax error.
  int32_t (*xsproc)(VsfGrammar* grammar, ParseRoot* root, int32_t mode, ParseHookTable* hooks,
                    void* reserved1, void* reserved2);
  // The parse anchor of the current step (its token stream).
  HostParser* (*xtanch)();
  // The current token (the look-ahead of the parse).
  const HostToken* (*xttkcur)(HostParser* parser);
  // Peeks the token `ahead` places after the current one (1 = the next one).
  const HostToken* (*yttkpk)(HostParser* parser, int32_t ahead);
  // Resets the peek position to the current token.
  void (*ytokrla)(HostParser* parser);
  // The numeric value of a token (INT, NBR); the missing value for others.
  double (*xtoknum)(const HostToken* token);
  // Makes room for `more` items of `itemSize` bytes in a list slot of the current parse;
  // 0, or negative when no memory is left.
  int32_t (*zaddlst)(OptionSlot* slot, int32_t itemSize, int32_t more);
  // Expands a variable list over a data set (mode 3: numbers) or a numbered range as
  // names (mode 7, no data set): first and second name, list kind. Returns 0, or an error
  // code that zadverr reports.
  int32_t (*zaddvar)(HostDataSet* ds, HostVarList* out, int32_t mode, int32_t flags,
                     const char* first, int32_t firstLength, const char* second,
                     int32_t secondLength, int32_t listKind);
  // Reports the error code of zaddvar with a message (and sets the parse status).
  void (*zadverr)(ParseRoot* root, HostDataSet* ds, int32_t flags, const char* first,
                  int32_t firstLength, const char* second, int32_t secondLength, HostVarList* list,
                  int32_t reserved, int32_t listKind, int32_t code);
  // Formats a number into `width` characters (negative: left-aligned) with at most
  // `decimals` decimals (99: as many as needed); returns the length written.
  int32_t (*xpfs)(char* buffer, int32_t width, int32_t decimals, double value);
  // Asks whether token-save switch `which` is on; switches it.
  int32_t (*xttkqsp)(HostParser* parser, int32_t which);
  void (*xttksp)(HostParser* parser, int32_t which, int32_t on);
  // Allocates from the task's pool (zeroed), and frees.
  void* (*xtalloc)(int64_t size, uint32_t flags);
  void (*xtfree)(void* block);
  // Reads a host option as text (DEBUG ...); length, -1 when unknown.
  int32_t (*xoptcgt)(const char* name, char* buffer, int32_t capacity);
};
