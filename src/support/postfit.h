// The post-fit bridge as the module and the sibling module `qrxauxmd` share it: the bridge
// object with its method table, the saved statement texts, the description of the selected
// model handed over after each fit, and the host's module-loading services (group 12).
// The module fills the bridge's hand-over fields; the sibling fills the rest.
//
//   PostFitBridge field  meaning
//   module               the sibling's handle (written by the host's module loader)
//   save                 the run's saved statement texts while the sibling looks at them
//   methods              the sibling's method table (written by its entry routine)
//   returnCode           the sibling's return code, read after the finish entry
//   statistics           error variance (second double) and its degrees of freedom (fifth)
//   handedWord           cleared at each hand-over
//   model                the selected model of the group being handed over, or null
//   own                  the sibling's private state
#pragma once

#include "support/hostif.h"

#include <cstdint>

struct PostFitBridge;

// One saved statement text: NUL-terminated, ending in one ';'.
struct TokenSaveText {
  char* text;
  int32_t length;
  TokenSaveText* next;
};

struct HostParser;

// The token save of a parse run: the statement being written and the list of the closed ones.
struct TokenSave {
  char* buffer; // the current statement's text
  int64_t length;
  int64_t capacity;
  int32_t statementCount;
  HostParser* anchor;
  TokenSaveText* head;
  TokenSaveText* tail;
  int32_t hostSwitchWasOn;
};

// Items handed to the bridge's set entry after a fit, in this order: 3; with the full-model
// switch 7, 13 (GLM designs), 14 and 15; last 25. N is PostFitModel::reducedColumnCount, the
// columns of the reduced design: the selected effects' design blocks in design order.
//
// Item 7 is the swept cross-products matrix of the selected model over the N reduced
// columns and the response (index N), as a packed lower triangle row after row (element
// (i, j), j <= i, at i(i+1)/2 + j). Its N x N block is the generalised inverse of X'X on the
// data's scale, so that the covariance of the estimates is the error variance times it; row
// N holds minus the estimates and (N, N) the error sum of squares. Rows of aliased columns
// are 0.
enum PostFitItem : int32_t {
  PFI_ESTIMATES = 3,        // double[N]: estimates of the reduced design
  PFI_COVARIANCE = 7,       // double[(N + 1)(N + 2) / 2]: the swept triangle above
  PFI_EFFECT_MEANS = 13,    // double[model effects]: frequency-weighted means (GLM)
  PFI_WEIGHTED_MEANS = 14,  // double[numeric variables]: weighted means
  PFI_FREQUENCY_MEANS = 15, // double[numeric variables]: frequency-weighted means
  PFI_STATISTICS = 25,      // the model's statistics block
};

// The sibling's method table.
struct PostFitBridgeMethods {
  void (*cleanup)(PostFitBridge* bridge, int32_t flags);                                 // slot 0
  int32_t (*run)(PostFitBridge* bridge, int32_t which, void* argument);                  // slot 1
  int32_t (*set)(PostFitBridge* bridge, int32_t item, const void* value, int32_t flags); // 2
  int32_t (*runModel)(PostFitBridge* bridge);                                            // slot 3
  int32_t (*finish)(PostFitBridge* bridge, int32_t flags);                               // slot 4
  void* reserved[3];                      // slots 5 to 7
  void (*byStart)(PostFitBridge* bridge); // slot 8
};

// A CLASS variable of the selected model.
struct PostFitClass {
  const char* name;
  uint8_t numeric;        // levels are the BEST12. texts of the numbers
  uint8_t missingIsLevel; // MISSING: a missing value is a level of its own
  uint8_t needed;         // a selected effect has it (else only constructed effects use it)
  int32_t levelWidth;     // the formatted value is cut to this width
  const char* coding;     // "GLM", "EFFECT", "REFERENCE", ...
  int32_t levelCount;
  const char* const* levels; // the level texts, left-justified, trailing blanks cut
  const double* values;      // numeric: each level's value as read
  int32_t reference;         // the reference level, -1 when the coding has none
  int32_t codingColumns;     // columns of the coding rows (0 under GLM)
  const double* codingRows;  // levelCount x codingColumns
};

// Kinds of constructed effect, spline bases and polynomial standardisations as the
// description gives them (the design's own codes).
enum PostFitKind : int32_t {
  PFK_MULTIMEMBER = 1,
  PFK_COLLECTION = 2,
  PFK_SPLINE = 3,
  PFK_POLYNOMIAL = 4,
  PFK_LAG = 5,
};
enum PostFitBasis : uint8_t { PFB_BSPLINE = 1, PFB_TPF = 2 };
enum PostFitStandardize : uint8_t {
  PFS_NONE = 0,
  PFS_CENTER = 1,
  PFS_SCALE = 2,
  PFS_CENTERSCALE = 3,
};

// A constructed effect (or one part of a split one) as a row's values make it: the values
// of its source record (itself, or the part that computes them all), of which it takes
// columnCount from offset.
struct PostFitConstructed {
  const char* name;
  int32_t kind;         // PostFitKind
  uint8_t reproducible; // 0: its values need more than the row (LAG) or are not described
  int32_t valueCount;
  int32_t offset;
  int32_t columnCount;
  int32_t numericCount;    // SPLINE and COLLECTION: their variables; POLYNOMIAL: its
  const int32_t* numerics; // variables in polynomial order (indexes into the numerics)
  int32_t classCount;      // COLLECTION
  const int32_t* classes;  // indexes into PostFitModel::classes
  // SPLINE
  uint8_t basis; // PostFitBasis
  uint8_t natural;
  uint8_t tpfTerms; // 2 all terms, 1 NOINT, 0 NOPOWERS
  int32_t degree;   // also POLYNOMIAL
  int32_t columnsPerVariable;
  const int32_t* knotCounts;  // per variable
  const double* const* knots; // per variable
  // POLYNOMIAL
  uint8_t standardize;   // PostFitStandardize
  const double* centers; // per polynomial variable
  const double* scales;
  int32_t termCount;
  const int32_t* termStarts;    // termCount + 1 offsets into termVariables
  const int32_t* termVariables; // positions among the polynomial variables
  // MULTIMEMBER: the numerics are the members' weights (member k's when k < numericCount)
  uint8_t stdize;            // the weights are divided by their sum
  uint8_t noEffect;          // a row with every member missing is kept, with zero values
  const int32_t* memberMaps; // per member, per level of its CLASS variable: the union column
};

// A selected effect: its block of columns is the product of its continuous values times the
// CLASS part looked up by the level combination of its CLASS variables, crossed with the
// values of its constructed effects from the last to the first; without CLASS and
// continuous variables the last constructed effect's values start the block.
struct PostFitEffect {
  const char* name;
  int32_t classCount;
  const int32_t* classes; // indexes into PostFitModel::classes, crossed then nested
  int32_t continuousCount;
  const int32_t* continuous; // indexes into PostFitModel::numerics, in multiplication order
  int32_t constructedCount;
  const int32_t* constructed; // indexes into PostFitModel::constructed
  uint8_t guard;              // not selected: only its inputs are checked
  uint8_t classPart;          // the block starts with the CLASS part
  int32_t classColumns;       // width of the CLASS part
  int32_t columnCount;
  int32_t comboCount;         // -1: the CLASS part could not be tabulated
  const int32_t* comboLevels; // comboCount x classCount level indexes
  // The CLASS part of each combination, its columns that are not 0 only: combination r's
  // entries are comboColumns / comboValues [comboStarts[r], comboStarts[r + 1]).
  const int64_t* comboStarts; // comboCount + 1
  const int32_t* comboColumns;
  const double* comboValues;
};

struct PostFitParameter {
  const char* name; // the reduced design's parameter name
  int32_t effect;   // index into PostFitModel::effects
  int32_t column;   // column within the effect's block
  double estimate;
  int32_t reducedColumn; // its index in items 3 and 7
};

// The selected model of one group, in the order the procedure sums its prediction.
struct PostFitModel {
  const char* response;
  uint8_t noIntercept;
  int32_t byIndex;            // 1-based BY group, 0 without BY groups
  int32_t byCount;            // BY variables: names, and the group's values (numbers, or
  const char* const* byNames; // texts with trailing blanks cut)
  const uint8_t* byNumeric;
  const double* byNumbers;
  const char* const* byTexts;
  int32_t numericCount;
  const char* const* numerics;
  int32_t classCount;
  const PostFitClass* classes;
  int32_t constructedCount;
  const PostFitConstructed* constructed;
  int32_t effectCount;
  const PostFitEffect* effects;
  int32_t parameterCount;
  const PostFitParameter* parameters;
  int32_t reducedColumnCount; // N of items 3 and 7
};

struct PostFitBridge {
  void* module;
  TokenSave* save;
  PostFitBridgeMethods* methods;
  int32_t returnCode;
  struct {
    double values[8];
  } statistics;
  int64_t handedWord;
  const PostFitModel* model;
  void* own;
};

// The sibling's entry routine: fills the bridge's method table; 0 on success.
using PostFitEntry = int32_t (*)(PostFitBridge* bridge, void* output);

// Group 12: loading sibling modules by name.
struct HostModuleServices {
  // Loads module `name` into *handle; 0 on success.
  int32_t (*wiloadv)(void** handle, const char* name, int32_t a, int32_t b, int32_t c, int32_t d);
  // The entry routine of a loaded module into *entry; 0 on success.
  int32_t (*viidb2g)(void* handle, PostFitEntry* entry);
  // Writes an unnumbered trace line to the log.
  void (*xpslog)(const char* text);
};
