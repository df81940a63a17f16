// The grammar descriptor that the module hands to the host parser: per statement a rule
// written in the grammar notation below. The host compiles the rules once per parse and
// interprets them by recursive descent; the module never walks them itself.
#pragma once

#include <cstdint>

// Grammar notation (one rule body is a sequence of items):
//   'WORD'            a keyword or punctuation terminal, matched without regard to case;
//                     a keyword written with a trailing '$' is hidden: accepted with or
//                     without the '$'
//   'A'/'B'/'C'       one terminal with its aliases (any of them matches)
//   NAMEX QS INT NBR COMPOUND FMT DATE TIME DATETIME MISSING VLITERAL
//                     a token class (NAMEX matches any name, also one spelled like a keyword)
//   rulename          a reference to another rule (lower case)
//   #c or #c(a,b,...) action routine c with its arguments, run when the parse reaches it;
//                     the token it sees is the look-ahead (the token that follows)
//   [ ... ]           optional
//   { ... }           any number of repetitions
//   ( a | b | ... )   alternatives; the first one that can start with the look-ahead is
//                     taken (an exact keyword is preferred to a token class), an empty
//                     alternative when none can
// Statements are the alternatives of the start rule; each statement ends at ';'.
struct GrammarRule {
  const char* name; // lower-case rule name
  const char* body; // the rule in the notation above
};

// Token classes, in table order (terminal numbers 1 to 19).
enum GrammarTokenClass : int32_t {
  TC_ENDJB = 1,
  TC_NAMEX,
  TC_QS,
  TC_INT,
  TC_NBR,
  TC_COMPOUND,
  TC_FMT,
  TC_DATE,
  TC_TIME,
  TC_DATETIME,
  TC_MISSING,
  TC_VLITERAL,
  TC_CATNAME,
  TC_QRXDS,
  TC_RESERVED1,
  TC_RESERVED2,
  TC_RESERVED3,
  TC_RESERVED4,
  TC_RESERVED5,
  TC_COUNT = 19
};

// Value of VsfGrammar::tableFormat for rule-text grammars.
inline constexpr int16_t kGrammarRuleText = 2;

// The descriptor. The routine and anchor words are zero in the module's copy and filled on
// first use by the parse driver.
struct VsfGrammar {
  int16_t tableFormat;     // kGrammarRuleText
  int16_t tokenClassCount; // TC_COUNT
  int32_t ruleCount;
  const GrammarRule* rules; // rules[0] is the start rule (the statement alternatives)
  void* tokenRoutine;       // token routine registered by the parse driver
  void* semanticRoutine;    // semantic-action routine registered by the parse driver
  void* parseAnchor;        // the parse anchor (token stream) once the parse has begun
};
