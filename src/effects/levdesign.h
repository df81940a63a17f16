// The design descriptor built from the MODEL, CLASS and EFFECT statements: variables,
// constructed effects (splines, polynomials, lags, collections, multimember effects) and
// model effects. The effect library fills it at parse time; levelisation (src/design) adds
// levels, columns and statistics per BY group into the fields marked "levelisation".
#pragma once

#include "support/flagset.h"
#include "support/stepcodes.h"

#include <cstdint>

struct HostVariable;
struct EffectChainNode;
struct VmProvider;
struct QkPool;
struct EffectCell;  // design library: current value and GLM column of a model effect
struct InModelMask; // design library: which effects and variables the model uses

// Kinds of constructed effect; each has its row in kEffectKindTraits (effects/levkinds.h).
// The codes are the grammar's EFFECT kind codes.
enum class EffectVarKind : int32_t {
  MultiMember = 1,
  Collection = 2,
  Spline = 3,
  Polynomial = 4,
  Lag = 5,
  Last = Lag, // the highest code: a new kind moves it and adds its traits row
};

enum KnotMethod : uint8_t {
  KM_EQUAL = 1,
  KM_MULTISCALE = 2,
  KM_LIST = 3,
  KM_RANGEFRACTIONS = 4,
  KM_PERCENTILES = 5,
  KM_LISTWITHBOUNDARY = 6,
};

enum SplineBasis : uint8_t { SB_BSPLINE = 1, SB_TPF = 2, SB_NOT_GIVEN = 3 };

enum PolyStdKind : uint8_t { PS_NONE = 0, PS_CENTER = 1, PS_SCALE = 2, PS_CENTERSCALE = 3 };
enum PolyStdMethod : uint8_t { PM_MOMENTS = 1, PM_WMOMENTS = 2, PM_RANGE = 3 };

// ORDER codes of CLASS variables (letters) and reference-level selectors.
using OrderCode = int32_t;    // 'M' formatted, 'D' data, 'F' freq, 'I' internal, 'U' unset
using RefLevelCode = int32_t; // -1 FIRST, -2 LAST, -3 a quoted value

// Codings of CLASS variables (PARAM=), as stored in the variable record. GLM is the
// statement-wide indicator design: it is never stored for a variable.
enum ClassCoding : int32_t {
  CC_EFFECT = 0,
  CC_ORTHEFFECT = 1,
  CC_REFERENCE = 2,
  CC_ORTHREF = 3,
  CC_POLYNOMIAL = 4,
  CC_ORTHPOLY = 5,
  CC_GLM = 6,
  CC_ORDINAL = 7,
  CC_ORTHORDINAL = 8,
  CC_BATHTUB = 9,
  CC_ORTHBATHTUB = 10,
};

// The orthogonal codings: their coding rows come from the variable's coding matrix.
[[nodiscard]] inline bool classCodingOrthogonal(ClassCoding c) {
  return c == CC_ORTHEFFECT || c == CC_ORTHREF || c == CC_ORTHPOLY || c == CC_ORTHORDINAL ||
         c == CC_ORTHBATHTUB;
}

// The prefix of the numbered level names of the orthogonal codings and POLYNOMIAL ("OEFF"
// for OEFF1, OEFF2, ...), or null for the codings whose levels go by their values.
inline const char* classCodingLabelPrefix(ClassCoding c) {
  switch (c) {
  case CC_ORTHEFFECT:
    return "OEFF";
  case CC_ORTHREF:
    return "OREF";
  case CC_POLYNOMIAL:
    return "POLY";
  case CC_ORTHPOLY:
    return "OPOLY";
  case CC_ORTHORDINAL:
    return "OORD";
  case CC_ORTHBATHTUB:
    return "OBATH";
  default:
    return nullptr;
  }
}

// Options of one SPLINE constructed effect.
struct SplineInfo {
  uint8_t natural;
  uint8_t separate;
  uint8_t knotMethod; // KnotMethod
  uint8_t basis;      // SplineBasis
  uint8_t tpfTerms;   // 2 all terms, 1 NOINT, 0 NOPOWERS
  uint8_t dataBoundary;
  uint8_t split;
  int32_t startScale;
  int32_t endScale;
  int32_t knotCount;
  int32_t totalKnots;    // levelisation
  int32_t* varKnotCount; // levelisation fills; allocated at parse time
  int32_t* scale;        // MULTISCALE piece: its scale number; else null
  int32_t degree;
  int32_t columnsPerVariable; // levelisation
  double* degreeWork;         // levelisation
  double knotMin;             // missing when not given
  double knotMax;             // missing when not given
  double* knotList;           // LIST, RANGEFRACTIONS, LISTWITHBOUNDARY values (sorted)
  double* boundaryWork;       // levelisation
  double** varKnots;          // levelisation fills; allocated at parse time
};

// Options and term table of one POLYNOMIAL constructed effect.
struct PolyInfo {
  uint8_t noSeparate;
  uint8_t standardize; // PolyStdKind
  uint8_t reserved;    // levelisation
  uint8_t expand;
  uint8_t includeName;
  uint8_t stdMethod; // PolyStdMethod
  int32_t nVariables;
  int32_t degree;
  int32_t mdegree;
  int32_t nTerms;
  int32_t* degreeCount;   // [degree]
  int32_t* degreeStart;   // [degree + 1]
  int32_t* termList;      // variables of every term, term after term (list positions)
  int32_t* multiplyStart; // [degree x nVariables]
  void* basisWork;        // levelisation
  double* centers;
  double* scales;
  double* statistics;
  const char* prefix;
  int32_t prefixLength;
  const char* exponent;
  int32_t exponentLength;
  const char* product;
  int32_t productLength;
  int32_t* variables; // numeric variable index of each polynomial variable
};

// One level value of a CLASS variable (levelisation): the value of a numeric variable, or
// the text and its length of a character variable. 16 bytes.
struct LevLevelValue {
  union {
    double value;
    const char* text;
  };
  int32_t length;
};

// A subject of a LAG design: a tree node (left, right, balance) whose key, from byte
// kLagSubjectKeyOffset, is the 0-based level index of each WITHIN variable (i32 each).
inline constexpr int32_t kLagSubjectKeyOffset = 24;

// The subjects-by-periods layout of one LAG effect for a BY group (levelisation).
struct LagDesignBlock {
  uint32_t rowCount;
  int32_t* periods;
  void* subjectTree;
};

// Options of one LAG constructed effect.
struct LagSpec {
  int32_t nlag;
  int32_t withinCount;
  int32_t* within;        // CLASS indexes
  int32_t laggedVariable; // CLASS index
  int32_t periodVariable; // CLASS index
  int32_t periodCount;    // levelisation
  int32_t roleVariable;   // numeric index, -1 when none
  uint8_t levels;         // DETAILS(LEVELS)
  void* work;             // 24-byte area for levelisation
  LagDesignBlock design;  // levelisation
  LagDesignBlock* second;
  LagDesignBlock* score;
  // design library (per BY group): the lagged level of the current observation (-1 not
  // computed, -2 no earlier period) and the WITHIN key buffer of the group lookups.
  int32_t lagged;
  char* key;
};

// Mean/variance work blocks of the standardised polynomials (MOMENTS and WMOMENTS).
struct NumericUsageBlock {
  double* first;  // one entry per numeric variable
  double* second; // one entry per numeric variable
  double frequencySum;
  double observationCount;
  double weightTotal;
  int32_t listedCount;
  int32_t* list; // marks, then the indexes of the marked numeric variables
};

// One numeric or CLASS variable of the design.
// A slot of a CLASS variable's hashed level values (design/levkeys.h): the value's hash tag
// and first bytes inline, with a reference to all its bytes.
struct LevLookupSlot {
  uint32_t tag;      // 0: a free slot; else the high bits of the value's hash
  int32_t level;     // the level's final index (in the table of the levels met: unused)
  const void* item;  // the value's bytes (in the table of the levels met: its tree node)
  char head[15];     // the value's first bytes
  uint8_t blankTail; // 1: its bytes past the head are blanks (or it has none)
};
static_assert(sizeof(LevLookupSlot) == 32, "two slots to a cache line");

struct LevVariable {
  HostVariable* var;  // host description; its number field holds the variable number
  int32_t levelCount; // levelisation
  double centre;      // levelisation
  double halfRange;   // levelisation
  int32_t levelWidth;
  int32_t levelTextOffset;
  OrderCode order;
  ClassCoding coding;
  int32_t descending;
  int32_t multimemberMember;
  char* referenceText;
  RefLevelCode referenceSelector;
  int32_t missing;
  int32_t cprefix;
  int32_t lprefix;
  int32_t split;
  // levelisation:
  char** levelTexts; // each text of the level width
  void* levelValues; // LevLevelValue entries in level order
  int32_t widestLevel;
  double* codingMatrix;
  // design library (per BY group unless said):
  char** lookup;             // the level-value pointers sorted by their bytes
  int32_t* lookupIndex;      // final level index of each lookup entry
  LevLookupSlot* lookupHash; // the level values open-addressed by their bytes' hash
  int32_t lookupHashMask;    // slots - 1 (a power of two, at least twice the levels)
  int32_t levelLabelWidth;
  int32_t longestLevelLength;  // longest unformatted length among the levels
  int32_t keepJustification;   // 1: level values are not left-justified
  int32_t widthWarned;         // the level-width warning was written (whole run)
  RefLevelCode savedReference; // the statements' reference code, restored every BY group
  int32_t keepReference;       // 1: the GLM design keeps the reference level in place
  double value;                // current value when an extra variable of the design context
};

// One constructed effect (or one part of a split one).
struct LevEftVar {
  char* name;
  int32_t nameLength;
  char* label; // display label: the EFFECT statement's name
  int32_t labelLength;
  EffectVarKind kind;
  int32_t numericCount;
  int32_t* numeric; // numeric LevVariable indexes
  int32_t classCount;
  int32_t* classes; // CLASS LevVariable indexes
  int32_t columnCount;
  int32_t currentColumnCount;
  int32_t variableCount;
  double* memberValues; // MULTIMEMBER
  int32_t partTotal;
  int32_t firstPartIndex;
  int32_t partCount; // on a statement's first record
  uint8_t splitPart;
  uint8_t continuation;
  uint8_t firstPart;
  uint8_t details;
  uint8_t noEffect;
  uint8_t stdize;
  char delimiter;
  double* termValues; // POLYNOMIAL: this part's entry (or all entries with NOSEPARATE)
  SplineInfo* spline;
  PolyInfo* poly;
  LagSpec* lag;
  // POLYNOMIAL with NOSEPARATE: the label of every term and the longest label.
  char** termLabels;
  int32_t* termLabelLengths;
  int32_t maxLabelLength;
  // levelisation: column names (MULTIMEMBER, COLLECTION).
  int32_t* columnNameLengths;
  char** columnNames;
  // design library (per BY group): the current row's column values (a continuation piece
  // points into its parent's), their count, the columns-computed flag of the row, the
  // MULTIMEMBER weight total of the row and each member's map from its levels to the union
  // levels.
  double* values;
  int32_t valueCount;
  uint8_t columnsDone;
  double memberTotal;
  int32_t** memberMaps;
  // MULTIMEMBER, COLLECTION: per CLASS member, column -> member level (-1 elsewhere).
  int32_t** inverseMaps;
};

// One MODEL effect of the selection (the Intercept record first).
struct LevEffect {
  char* name;
  char* givenName;
  int32_t firstColumn; // levelisation
  int32_t columnCount; // levelisation
  int32_t continuousCount;
  int32_t* continuous;
  int32_t crossedCount;
  int32_t* crossed;
  int32_t nestedCount;
  int32_t* nested;
  int32_t constructedCount;
  int32_t* constructed;
  int32_t allClassCount;
  int32_t* allClass;
  int32_t levelVarCount; // level-variable list (zlevPrepLevList)
  int32_t* levelVars;
  void* levels;               // levelisation
  int32_t* work;              // second half of the all-CLASS allocation
  int32_t* constructedSource; // the design's constructed-effect record count
  struct LevDesign* design;
  uint8_t splitCopy;
  EffectChainNode* parsed;
  // design library (per BY group):
  int32_t classColumnCount;
  int32_t combinationCount;
  int32_t columnRowWidth;
  int32_t* combinationTable; // GLM: level combinations met in the data
  int32_t* nonSingularTable; // full-rank codings
  int32_t* columnTable;      // one row per column
  uint8_t allMissing;        // a MULTIMEMBER effect's members are all missing
  double* columnMeans;
  // Split effects (per BY group, full-rank codings): per column of the CLASS part, the
  // level of each crossed then nested CLASS variable (vsfLevels).
  int32_t* levelIndexTable;
};

// One EFFECT statement's records in the design.
struct ConstructedEffectEntry {
  int32_t first;
  int32_t parts;
};

// Extra variables that the MODEL reader adds (a CV index variable).
using HostCallback = void (*)(void* argument, void* handle, HostVariable* record, int32_t* counter);
struct ExtraVariableSource {
  int32_t numericCount;
  int32_t classCount;
  void* numericArgument;
  void* classArgument;
  HostCallback callback;
};

// A 16-byte effect-level entry per model effect (levelisation).
struct LevEffectLevels {
  void* levels;
  int64_t count;
};

// The design's flags, asked by name (has(d->designFlags, LevDesignFlag::NonGlm)).
enum class LevDesignFlag : uint8_t {
  ByGroup = 0x01,      // levelise one BY group; names and tables wait (the MODEL reader sets it)
  AcrossBy = 0x02,     // levelise the whole data set once, names included
  NoRowBuffers = 0x08, // levelisation reads no response, weight or frequency
  NonGlm = 0x10,       // CLASS variables coded full rank, not by the GLM level combinations
  LevelTwo = 0x20,     // set by the MODEL reader: numeric variables alone need no pass
  NoIntercept = 0x40,  // the model has no intercept
};
constexpr bool isFlagEnum(LevDesignFlag) { return true; }
using LevDesignFlags = FlagSet<LevDesignFlag>;
// The second byte of flags.
enum class LevDesignFlag2 : uint8_t {
  SplineSplit = 0x20, // spline effects are split (a least-angle method)
};
using LevDesignFlags2 = FlagSet<LevDesignFlag2>;
// The flags above the first bytes.
enum class LevWideFlag : uint32_t {
  ZeroWeights = 0x1000,
  MissingPerVar = 0x4000,  // completeness is judged per variable, not over the whole row
  NameLengthened = 0x8000, // a parameter name was lengthened past its field
};
using LevWideFlags = FlagSet<LevWideFlag>;

// The design descriptor. Default-constructible plain record; allocated zeroed.
struct LevDesign {
  LevDesignFlags designFlags;
  LevDesignFlags2 designFlags2;
  int32_t classCount;
  LevVariable* classes;
  int32_t numericCount;
  LevVariable* numerics;
  int32_t constructedCount; // LevEftVar records
  uint8_t effectStatementsDone;
  LevEftVar* constructed;
  int32_t modelEffectCount; // effects on the MODEL statement's list
  int32_t* partCounts;
  ConstructedEffectEntry* constructedMap;
  int32_t effectCount; // LevEffect records, Intercept included
  LevEffect* effects;
  LevEffectLevels* effectLevels;
  OrderCode orderDefault;
  ClassCoding codingDefault;
  int32_t descendingDefault;
  RefLevelCode referenceDefault;
  int32_t cprefixDefault;
  int32_t lprefixDefault;
  char delimiter;
  int32_t missingDefault;
  int32_t levelWidthOption; // -1 TRUNCATE absent, 0 TRUNCATE alone (16), n
  int32_t maxLevelWidth;
  int32_t totalLevelWidth;
  int32_t nameLen;        // NAMELEN
  uint8_t parmLabelStyle; // 0 INTERLACED, 1 SEPARATE, 2 SEPARATECOMPACT
  uint8_t shortParmNames;
  const char* shortNameText;
  int32_t shortNameLength;
  const char* separatorText;
  int32_t separatorLength;
  ExtraVariableSource* extra;
  NumericUsageBlock* usage[2];
  int32_t lagListCount;
  LagSpec** lagList;
  int32_t worstReturnCode; // StepRc: Warning, Error, StatementError (EFFECT)
  // Levelisation and run state (src/design):
  int32_t columnCount;
  uint8_t modeFlags; // bit 0 normal BY-group run; bit 1 names of the whole data set
  uint8_t splitWarned;
  char** columnNames;
  char* levelText;
  // The memory provider the library allocated this design's records from.
  VmProvider* provider;
  // Design library:
  LevWideFlags wideFlags;
  EffectCell* cells;    // one per model effect
  InModelMask* inModel; // built on first use
  LevVariable* freqVariable;
  double freqValue;         // FREQ value of the current observation
  uint8_t constructedReady; // set once the lag tables exist
  char** columnLabels;
  int32_t nameCounters[2];
  int32_t longestName;
  int32_t longestLabel;
  void* filterWord;    // handed to the observation filter hook
  QkPool* libraryPool; // the per-BY-group pool (cleared when it is deleted)
};

// Raises the design's worst return code to at least `severity`.
inline void levRaise(LevDesign* design, StepRc severity) {
  raiseRc(design->worstReturnCode, severity);
}
