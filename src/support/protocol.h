// The numbers the module and the host agree on, named once: the output manager's method
// numbers and attribute ids, the grammar's action routines, and the flags and option slots
// that the grammar's actions fill and the statement readers read. Both sides include this
// header; neither writes one of these numbers as a literal.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------
// Output manager: method numbers (wobmth) and attribute ids (RvqAttr::id)
// ---------------------------------------------------------------------------------------

// Method numbers of the output objects. The namespaces give enumerator-like names that
// convert to the int32_t the call records carry.
namespace RvqMethod {
inline constexpr int32_t Query = 2;          // a class's query slot
inline constexpr int32_t Close = 4;          // close a group or release a factoid
inline constexpr int32_t Create = 147;       // make the manager, a table or a factoid
inline constexpr int32_t Entry = 164;        // a factoid entry
inline constexpr int32_t EndColumns = 298;   // a table's columns are all defined
inline constexpr int32_t EndRows = 299;      // a table's rows (a factoid's entries) are all in
inline constexpr int32_t OpenGroup = 300;    // open a group under the manager
inline constexpr int32_t SetDynamic = 316;   // a dynamic variable of a table or factoid
inline constexpr int32_t EmitRow = 329;      // a row from the bound variables
inline constexpr int32_t DefineColumn = 338; // a column of a table
inline constexpr int32_t TextLine = 358;     // a line of text or a rule
inline constexpr int32_t BindTable = 422;    // bind a table to its template
inline constexpr int32_t Publish = 428;      // publish a bound table
inline constexpr int32_t LevelNote = 439;    // a level note or mark
inline constexpr int32_t ReleaseView = 494;  // release a view
inline constexpr int32_t MakeView = 708;     // a view of a table's rows
inline constexpr int32_t MakeGraph = 2826;   // a graph from tables or views
} // namespace RvqMethod

// Value types of a table's columns (the value of RvqAttrId::ColumnType). Int binds an int32,
// Int64 an int64 (counts and sizes that outgrow 32 bits).
enum class RvqColumnType : int32_t {
  Char1 = 1,
  Int = 3,
  Int64 = 4,
  Double = 5,
  Chars = 6,
  Text = 66
};

// Attribute ids of the call records. Ids the host only checks the type of are named after
// where the module passes them.
namespace RvqAttrId {
inline constexpr uint16_t Receiver = 0;         // the handle record that opens some calls
inline constexpr uint16_t ColumnType = 103;     // a column's value type
inline constexpr uint16_t Where = 105;          // a view's row condition
inline constexpr uint16_t Name = 138;           // object, column or group name
inline constexpr uint16_t ObjectClass = 143;    // "rvq"
inline constexpr uint16_t ObjectKind = 146;     // "manager", "data" or "factoid"
inline constexpr uint16_t Handle = 144;         // the returned handle of a new object
inline constexpr uint16_t Placement = 148;      // -1: in order
inline constexpr uint16_t AttrList = 174;       // a nested list of records
inline constexpr uint16_t Title = 267;          // a factoid's title
inline constexpr uint16_t FormatCode = 270;     // the number format
inline constexpr uint16_t FormatWidth = 272;    // the format width of a factoid entry
inline constexpr uint16_t Align = 273;          // a text line's alignment
inline constexpr uint16_t RuleSpan = 280;       // a rule's span
inline constexpr uint16_t Bound = 285;          // a column's bound variable
inline constexpr uint16_t Numbered = 286;       // a group with a name stem and a number
inline constexpr uint16_t Value = 287;          // an entry value; a dynamic variable's value
inline constexpr uint16_t Stem = 288;           // a numbered group's name stem
inline constexpr uint16_t Width = 289;          // a character column's width
inline constexpr uint16_t Label = 296;          // a label
inline constexpr uint16_t View = 307;           // a graph's view
inline constexpr uint16_t Description = 310;    // a description
inline constexpr uint16_t DynamicName = 311;    // a dynamic variable's name
inline constexpr uint16_t ViewHandle = 321;     // a view's handle
inline constexpr uint16_t Variant = 336;        // a table variant
inline constexpr uint16_t Template = 339;       // a template path
inline constexpr uint16_t FormatName = 340;     // a factoid entry's format name
inline constexpr uint16_t NoteSwitch = 358;     // a level note's switch
inline constexpr uint16_t LineCount = 371;      // a text line's line count
inline constexpr uint16_t Footnote = 378;       // a published table's footnote
inline constexpr uint16_t GroupKind = 435;      // a group's kind switch
inline constexpr uint16_t DataSetGroup = 436;   // a group that names a data set
inline constexpr uint16_t GroupNumber = 437;    // a numbered group's number
inline constexpr uint16_t NoteLevel = 440;      // a level note's level
inline constexpr uint16_t LevelMark = 442;      // a level mark
inline constexpr uint16_t Table = 504;          // the table a bind call binds
inline constexpr uint16_t Text = 577;           // a text line's or note's text
inline constexpr uint16_t Rule = 580;           // a rule's character
inline constexpr uint16_t DataRef = 784;        // a data reference (bind: its out slot)
inline constexpr uint16_t Query = 1334;         // the manager's query switch
inline constexpr uint16_t VarDescriptor = 2224; // a design column's variable descriptor
inline constexpr uint16_t TitleNote = 2558;     // the note that is the step's title
inline constexpr uint16_t GraphsOnly = 2640;    // 1: the table only feeds graphs
inline constexpr uint16_t DataRefs = 2829;      // a graph's data references
} // namespace RvqAttrId

// The entries of the statement hook table (ParseHookTable) the host parser calls.
namespace HookEntry {
inline constexpr int EndOfStep = 0; // before the ';' or QUIT that ends the step
inline constexpr int Statement = 1; // around every statement
inline constexpr int Run = 2;       // before the RUN that ends the step
inline constexpr int Attribute = 4; // after an attribute statement (none in this grammar)
inline constexpr int Where = 5;     // before a WHERE statement (none in this grammar)
} // namespace HookEntry

// ---------------------------------------------------------------------------------------
// Option codes that the statement readers set and the data layer reads
// ---------------------------------------------------------------------------------------

// CVMETHOD=: the settings and the data pass keep these codes.
enum class VsfCvMethod : uint8_t { None = 0, Random = 1, Block = 2, Split = 3, Index = 4 };
// MODEL DROP=, HIERARCHY=, DETAILS= and L2SEARCH=.
enum class VsfDrop : uint8_t { BeforeAdd = 1, Competitive = 2, AfterAdd = 3 };
enum class VsfHierarchy : uint8_t { None = 0, Single = 1, SingleClass = 2 };
enum class VsfDetails : uint8_t { None = 0, Summary = 1, Steps = 2, All = 3 };
enum class VsfL2Search : uint8_t { None = 1, Golden = 2, Grid = 3 };
// PERFORMANCE FULL_SWEEP$=.
enum class VsfFullSweep : uint8_t { StepAdd = 0, Never = 1, Always = 2 };
// STEPAXIS= of PLOTS and of its plots: NUMBER, EFFECT, NORMB (0: not given, the graph chooses).
enum class VsfStepAxis : uint8_t { Auto = 0, Step = 1, StepLabel = 2, NormBeta = 3 };
// ORDER= of EFFECTSELECTPCT, PARMDIST and PARMEST.
enum class VsfOrder : uint8_t { Model = 0, Ascending = 1, Descending = 2 };
// PARMLABELSTYLE=.
enum VsfLabelStyle : uint8_t {
  LSTYLE_INTERLACED = 0,
  LSTYLE_SEPARATE = 1,
  LSTYLE_SEPARATECOMPACT = 2
};
// MODELAVERAGE AVERAGEMETHOD$=.
enum class VsfAverageMethod : uint8_t { Mean = 1, MeanNonzero = 2, Median = 3, MedianNonzero = 4 };
// CLASS ORDER=, as list codes.
enum VsfClassOrder : uint8_t {
  CORDER_FORMATTED = 0,
  CORDER_DATA = 1,
  CORDER_FREQ = 2,
  CORDER_INTERNAL = 3
};
// CLASS REF=, as list codes (the list keeps them negated: -1 FIRST, -2 LAST, -3 a value).
enum VsfClassRef : uint8_t { REF_FIRST = 1, REF_LAST = 2, REF_VALUE = 3 };
// The list code of CLASS DESCENDING, MISSING and SPLIT: the option is given.
inline constexpr int kClassOptionGiven = 1;
// CODE LOOKUP= (handed on to the post-fit module).
enum VsfLookup : uint8_t {
  LOOKUP_AUTO = 0,
  LOOKUP_SELECT = 1,
  LOOKUP_LINEAR = 2,
  LOOKUP_BINARY = 4
};

// ---------------------------------------------------------------------------------------
// The grammar: action routines (#c in the rule text), and the flags and slots they fill
// ---------------------------------------------------------------------------------------

// The action routines of the grammar notation (support/grammar.h) that the host parser runs.
namespace GrammarAction {
inline constexpr int ProcStatement = 1;   // the procedure statement opens the step
inline constexpr int IntoProcNode = 2;    // BY, CLASS, FREQ, WEIGHT fill the procedure's node
inline constexpr int NewNode = 3;         // a statement node named by its argument
inline constexpr int EndStatement = 4;    // the statement is complete
inline constexpr int SetFlag = 5;         // (flag)
inline constexpr int StoreValue = 6;      // (slot, form): the token that follows
inline constexpr int AppendValue = 7;     // (slot, form): appended to a list
inline constexpr int StartList = 8;       // (slot, kind): the list that follows
inline constexpr int ItemStart = 9;       // a variable item starts
inline constexpr int VariableItem = 10;   // (list kind): a variable item ends
inline constexpr int CatalogPart = 13;    // host's own name handling
inline constexpr int DataSetStart = 15;   // a data-set name starts
inline constexpr int NameToken = 16;      // host's own name handling
inline constexpr int DataSet = 17;        // (slot, 1 open | 2 create, ...)
inline constexpr int DefaultDataSet = 18; // (slot, 1 input | 2 output, ...)
inline constexpr int NumberList = 19;     // (item part)
inline constexpr int Range = 20;          // (min[, max]) of the number that follows
inline constexpr int ListCode = 22;       // (code) appended to the current list
inline constexpr int TokenSave = 23;      // host's own token saving
inline constexpr int AppendName = 25;     // (1 upper-cased | 2 as typed)
inline constexpr int NameStart = 26;      // host's own name handling
inline constexpr int By = 29;             // (BY item part)
inline constexpr int NameClass = 30;      // host's own token-class handling
inline constexpr int ClassPosition = 31;  // (slot): the next CLASS variable's position
inline constexpr int StoreCode = 33;      // (slot, code)
inline constexpr int ListText = 35;       // the token's text into the current list
inline constexpr int DataSetOptions = 36; // (2): the options after a data-set name
inline constexpr int SetSwitch = 38;      // (flag), as SetFlag
inline constexpr int Effect = 39;         // (code[, operand]) for the effect callback
} // namespace GrammarAction

// The arguments of the action routines, other than flags, slots and option codes.
// NewNode(n): a statement node with slots 0 to n.
namespace NodeSlots {
inline constexpr int Proc = 76;         // the procedure statement (BY, CLASS, FREQ, WEIGHT too)
inline constexpr int Performance = 5;   // PERFORMANCE
inline constexpr int Partition = 6;     // PARTITION
inline constexpr int Store = 7;         // STORE
inline constexpr int Output = 11;       // OUTPUT and SCORE
inline constexpr int Code = 20;         // CODE
inline constexpr int ModelAverage = 23; // MODELAVERAGE
inline constexpr int Effect = 25;       // EFFECT
inline constexpr int Model = 38;        // MODEL
} // namespace NodeSlots
// Range(kRangeNone): the number that follows has no bounds to check.
inline constexpr int kRangeNone = 65535;
// StoreValue(slot, form), AppendValue(slot, form): the token stored. The host parser stores
// a number for Number and the token's text for the others.
namespace ValueForm {
inline constexpr int Number = 1; // a number
inline constexpr int Name = 2;   // a name (CODE FILE=fileref)
inline constexpr int Quoted = 3; // a quoted string or name (CODE FILE=, GROUP=)
inline constexpr int Text = 5;   // the token's text (quoted strings, formats)
} // namespace ValueForm
// StartList(slot, kind): what the list holds. The host parser tells Numbers apart only: a
// number list refuses name items.
namespace ListKind {
inline constexpr int Values = 1;    // variables or option codes
inline constexpr int Variables = 3; // a statement's variable list
inline constexpr int Numbers = 4;   // a number list
inline constexpr int StoreName = 6; // the STORE statement's and CODE METABASE='s name
inline constexpr int Names = 9;     // names (outputs, effects)
} // namespace ListKind
// DataSet(slot, access, ...), DefaultDataSet(slot, access, ...).
namespace DataSetAccess {
inline constexpr int Open = 1;   // an input data set
inline constexpr int Create = 2; // an output data set
} // namespace DataSetAccess
// DataSetOptions(at): before the '(' that follows a data-set name, and after it (the host
// parser reads the options there).
namespace DataSetOptionsAt {
inline constexpr int Before = 1;
inline constexpr int Inside = 2;
} // namespace DataSetOptionsAt
// NumberList(part): the parts of a number-list item.
namespace NumberItem {
inline constexpr int Start = 1; // the first number
inline constexpr int To = 2;    // TO's number
inline constexpr int By = 3;    // BY's number
inline constexpr int End = 4;   // the item is complete
inline constexpr int Name = 5;  // a name item (ALT or a name)
} // namespace NumberItem
// By(part): the parts of a BY item.
namespace ByPart {
inline constexpr int End = 0;        // the statement's items are complete
inline constexpr int Item = 1;       // an item starts
inline constexpr int Descending = 2; // DESCENDING before the item
inline constexpr int NotSorted = 3;  // NOTSORTED
} // namespace ByPart
// AppendName(case): the name the token before holds.
namespace NameCase {
inline constexpr int Upper = 1;   // upper-cased
inline constexpr int AsTyped = 2; // as the user wrote it (a name the step creates)
} // namespace NameCase

// Effect(code, operand): the effect callback's actions.
namespace EffectCode {
inline constexpr int NewTerm = 0;           // a term (a new effect node) starts
inline constexpr int Variable = 1;          // a variable of the term
inline constexpr int Nested = 2;            // a nested variable in parentheses
inline constexpr int NestedValue = 3;       // the nested variable is a var=value item
inline constexpr int EndEffect = 4;         // an effect written without bars ends
inline constexpr int EndTerm = 5;           // a term ends
inline constexpr int EndExpression = 6;     // an effect expression ends
inline constexpr int ListMode = 7;          // (EffectListMode)
inline constexpr int DirectRestriction = 8; // (0: none)
inline constexpr int NodeType = 9;          // (the node's type)
inline constexpr int ListItem = 10;         // (EffectItem) a bar or a variable list's kind
inline constexpr int OrderLimit = 12;       // '@n': the number that follows
inline constexpr int AfterEffects = 11;     // a statement keyword after effects
inline constexpr int FactorsSlot = 13;      // (slot) names of factors
inline constexpr int EffectStatement = 14;  // the EFFECT statement begins
inline constexpr int SharedOn = 16;         // the effects of the statement share one chain
inline constexpr int SharedOff = 17;        // and no more
} // namespace EffectCode
// Effect(ListItem, item): a bar between terms, or a variable list whose kind (HostListKind)
// is the item plus one.
namespace EffectItem {
inline constexpr int Bar = 0;            // '|'
inline constexpr int Numbered = 1;       // a1-a3
inline constexpr int Positional = 2;     // a--c
inline constexpr int NumericRange = 3;   // a-NUMERIC-c
inline constexpr int CharacterRange = 4; // a-CHARACTER-c
inline constexpr int Prefix = 5;         // a:
inline constexpr int Numeric = 6;        // _NUMERIC_
inline constexpr int Character = 7;      // _CHARACTER_
} // namespace EffectItem
// Effect(ListMode, mode).
namespace EffectListMode {
inline constexpr int Ordinary = 0;    // effects of variables
inline constexpr int NoVariables = 1; // effects without variables
inline constexpr int ClassList = 2;   // variables go to the CLASS list, not linked
} // namespace EffectListMode
inline constexpr int kNoDirectRestriction = 0; // Effect(DirectRestriction, 0)

// ---------------------------------------------------------------------------------------
// Keys of a statement node: each statement's flags and option slots are an enum class of
// their own, declared by StmtKeys below with the node it reads, so that a flag cannot be
// read as a slot nor a slot of one statement's node beyond that node's last slot.
// ---------------------------------------------------------------------------------------

// A node has 40 bytes of flags (ParsedStatement::flags).
inline constexpr int kStmtFlagCount = 320;

// What an enum class names on a node; specialised once for every enum of flags or slots.
template <class E> struct StmtKeys {
  static constexpr bool isFlag = false;
  static constexpr bool isSlot = false;
};
template <class E>
concept StmtFlagKey = StmtKeys<E>::isFlag;
template <class E>
concept StmtSlotKey = StmtKeys<E>::isSlot;
template <class E>
concept StmtKey = StmtFlagKey<E> || StmtSlotKey<E>;

// The number of a flag or slot as the grammar's actions carry it.
template <StmtKey E> [[nodiscard]] constexpr int keyOf(E key) { return static_cast<int>(key); }

// Bases of the StmtKeys specialisations: the highest enumerator (Last) must fit the flag bits,
// or the slots 0 .. lastSlot that NewNode(lastSlot) gives the statement's node.
template <class E> struct FlagKeys {
  static constexpr bool isFlag = true;
  static constexpr bool isSlot = false;
  static_assert(static_cast<int>(E::Last) < kStmtFlagCount, "a flag beyond the node's bits");
};
template <class E, int lastSlot> struct SlotKeys {
  static constexpr bool isFlag = false;
  static constexpr bool isSlot = true;
  static_assert(static_cast<int>(E::Last) <= lastSlot, "a slot beyond the statement's node");
};

// Slots of the current statement that the effect callback reads or fills for grammars with
// factor statements and var=value items; this grammar has neither.
enum class EffectLibSlot : int {
  FactorNames = 1,       // a factor statement's names
  FactorPositions = 4,   // the positions of a statement's factors
  ModelClassEffects = 4, // MODEL: effects of CLASS variables only
  NestedValue = 9,       // a var=value item's value
  Last = NestedValue     // the highest
};
template <> struct StmtKeys<EffectLibSlot> : SlotKeys<EffectLibSlot, NodeSlots::Model> {};

// The PERFORMANCE statement.
enum class PerfFlag : int {
  Threads = 1,          // THREADS, THREADS=YES
  NoThreads = 2,        // THREADS=NO, NOTHREADS
  CpuMin = 3,           // CPUCOUNT=MIN
  CpuMax = 4,           // CPUCOUNT=MAX
  CpuActual = 5,        // CPUCOUNT=ACTUAL
  Details = 6,          // DETAILS
  NoTiming = 7,         // NOTIMING$
  PerfStatus = 8,       // PERFSTATUS$
  AllDetails = 9,       // ALLDETAILS$
  Force = 10,           // FORCE$
  SscpFull = 11,        // BUILDSSCP=FULL
  UtilRandom = 12,      // UTIL_RANDOM$
  AllSparse = 13,       // ALLSPARSE$
  AllDense = 14,        // ALLDENSE$
  SscpIncremental = 15, // BUILDSSCP=INCREMENTAL
  UtilDetails = 16,     // UTIL_DETAILS$
  Last = UtilDetails    // the highest
};
template <> struct StmtKeys<PerfFlag> : FlagKeys<PerfFlag> {};
enum class PerfSlot : int {
  CpuCount = 1,     // CPUCOUNT=n
  UtilBuffers = 3,  // UTIL_BUFFERS$=
  UtilPageSize = 4, // UTIL_PAGESIZE$=
  FullSweep = 5,    // FULL_SWEEP$=
  Last = FullSweep  // the highest
};
template <> struct StmtKeys<PerfSlot> : SlotKeys<PerfSlot, NodeSlots::Performance> {};

// The procedure statement and its PLOTS= option; BY, FREQ, WEIGHT and CLASS fill its node
// too. The host parser itself fills the BY, DATA= and variable-list slots and NOTSORTED; the
// grammar adds a slot of its own to each plot option's STEPAXIS= and EMPHASISFACTOR=.
enum class ProcFlag : int {
  Unpack = 1,          // PLOTS(UNPACK)
  LogP = 2,            // PLOTS(LOGPVALUE$)
  SelgLogP = 10,       // SELECTOGRAM(LOGPVALUE$)
  SelgNormc = 11,      // SELECTOGRAM(NORMALIZEDCRITERIA)
  CandLogP = 14,       // CANDIDATES(LOGPVALUE$)
  CoefUnpack = 18,     // COEFFICIENTS(UNPACK)
  CoefLogP = 51,       // COEFFICIENTS(LOGPVALUE$)
  CritUnpack = 52,     // CRITERIA(UNPACK)
  NoPrint = 53,        // NOPRINT
  PlotNone = 54,       // PLOTS=NONE
  CritPlot = 55,       // PLOTS=CRITERIA
  AsePlot = 56,        // PLOTS=ASE
  PlotAll = 57,        // PLOTS=ALL
  PlotRequests = 58,   // PLOTS=
  Plots = 59,          // PLOTS
  CoefPlot = 60,       // PLOTS=COEFFICIENTS
  SelgPlot = 61,       // PLOTS=SELECTOGRAM$
  CandPlot = 62,       // PLOTS=CANDIDATES
  ShowInternal = 63,   // SHOWINTERNALTABLES$
  ShortParmNames = 64, // SHORTPARMNAMES$
  Separator = 65,      // PARMLABELSTYLE=INTERLACED(SEPARATOR=)
  OutDesign = 66,      // OUTDESIGN
  FullModel = 67,      // OUTDESIGN(FULLMODEL)
  AddInputVars = 68,   // OUTDESIGN(ADDINPUTVARS)
  Prefix = 69,         // OUTDESIGN(PREFIX)
  PrefixName = 70,     // OUTDESIGN(PREFIX=)
  Names = 71,          // OUTDESIGN(NAMES)
  EspPlot = 72,        // PLOTS=EFFECTSELECTPCT
  PdPlot = 73,         // PLOTS=PARMDIST
  PdUnpack = 74,       // PARMDIST(UNPACK)
  PdNoBox = 75,        // PARMDIST(NOBOXPLOTS)
  ByNotsorted = 76,    // BY ... NOTSORTED
  Last = ByNotsorted   // the highest
};
enum class ProcSlot : int {
  ByVariables = 0,     // BY variables
  DirectVariables = 1, // variables of effects not in CLASS
  ClassVariables = 2,  // CLASS variables
  Freq = 5,            // FREQ variable
  Weight = 6,          // WEIGHT variable
  ParmLabelStyle = 7,  // PARMLABELSTYLE=
  ShortParmNames = 8,  // SHORTPARMNAMES$=
  Separator = 9,       // PARMLABELSTYLE=INTERLACED(SEPARATOR=)
  MaxMacro = 10,       // MAXMACRO=
  Data = 11,           // DATA=
  Candidates = 12,     // PLOTS(CANDIDATES=)
  SelgCandidates = 13, // SELECTOGRAM(CANDIDATES=)
  CandShow = 46,       // CANDIDATES(SHOW=)
  MaxStepLabel = 47,   // PLOTS(MAXSTEPLABEL=)
  MaxParmLabel = 48,   // PLOTS(MAXPARMLABEL=)
  ValData = 49,        // VALDATA=
  TestData = 50,       // TESTDATA=
  Seed = 51,           // SEED=
  StepAxis = 53,       // PLOTS(STEPAXIS=)
  CoefLabelGap = 54,   // COEFFICIENTS(LABELGAP=)
  NameLen = 55,        // NAMELEN=
  OutDesign = 56,      // OUTDESIGN=
  Prefix = 57,         // OUTDESIGN(PREFIX=)
  StartStep = 58,      // PLOTS(STARTSTEP=)
  EndStep = 59,        // PLOTS(ENDSTEP=)
  CoefStart = 60,      // COEFFICIENTS(STARTSTEP=)
  CoefEnd = 61,        // COEFFICIENTS(ENDSTEP=)
  AseStart = 62,       // ASE(STARTSTEP=)
  AseEnd = 63,         // ASE(ENDSTEP=)
  CritStart = 64,      // CRITERIA(STARTSTEP=)
  CritEnd = 65,        // CRITERIA(ENDSTEP=)
  EspMinPct = 66,      // EFFECTSELECTPCT(MINPCT=)
  EspOrder = 67,       // EFFECTSELECTPCT(ORDER=)
  PdMinPct = 68,       // PARMDIST(MINPCT=)
  PdOrder = 69,        // PARMDIST(ORDER=)
  PdPerPanel = 70,     // PARMDIST(PLOTSPERPANEL=)
  CoefStepAxis = 72,   // PLOTS=COEFFICIENTS(STEPAXIS=)
  Emphasis = 73,       // PLOTS=SELECTOGRAM(EMPHASISFACTOR=)
  AseStepAxis = 74,    // PLOTS=ASE(STEPAXIS=)
  CritStepAxis = 75,   // PLOTS=CRITERIA(STEPAXIS=)
  ByDescending = 76,   // one number per BY variable: 1 DESCENDING
  Last = ByDescending  // the highest
};
template <> struct StmtKeys<ProcFlag> : FlagKeys<ProcFlag> {};
template <> struct StmtKeys<ProcSlot> : SlotKeys<ProcSlot, NodeSlots::Proc> {};

// The MODELAVERAGE statement.
enum class AverageFlag : int {
  Statement = 1,       // set by the statement itself
  Details = 2,         // DETAILS
  InMemory = 5,        // INMEMORY$=YES
  Srs = 7,             // SAMPLING=SRS
  SharedDrive = 9,     // SHAREDDRIVE$=
  StaticSchedule = 10, // SCHEDULE$=STATIC
  EspTable = 11,       // TABLES=EFFECTSELECTPCT
  MsfTable = 12,       // TABLES=MODELSELECTFREQ
  PestTable = 13,      // TABLES=PARMEST
  AllTables = 14,      // TABLES=ALL
  MsfAll = 15,         // MODELSELECTFREQ(ALL)
  TablesOnly = 16,     // TABLES(ONLY)
  NoTables = 17,       // TABLES=NONE
  AverageMethod = 18,  // AVERAGEMETHOD$=
  Refit = 19,          // REFIT
  NonzeroParms = 43,   // PARMEST(NONZEROPARMS)
  PestAll = 44,        // PARMEST(ALL)
  EspAll = 45,         // EFFECTSELECTPCT(ALL)
  RefitAll = 46,       // REFIT(ALL)
  Last = RefitAll      // the highest
};
template <> struct StmtKeys<AverageFlag> : FlagKeys<AverageFlag> {};
enum class AverageSlot : int {
  Threads = 1,        // NTHREADS$=
  Samples = 2,        // NSAMPLES=
  Alpha = 3,          // ALPHA=
  ParmThreshold = 4,  // PARMTHRESHOLD$=
  SampleSize = 5,     // SAMPLING(SIZE=)
  SamplePct = 6,      // SAMPLING(PCT=)
  SharedDrive = 8,    // SHAREDDRIVE$=
  ScheduleChunk = 9,  // SCHEDULE$=n
  EspMinPct = 10,     // EFFECTSELECTPCT(MINPCT=)
  EspOrder = 11,      // EFFECTSELECTPCT(ORDER=)
  AverageMethod = 12, // AVERAGEMETHOD$=
  TrimPercent = 13,   // AVERAGEMETHOD$=MEAN(TRIMPERCENT=)
  MinModelFreq = 16,  // SUBSET(MINMODELFREQ=)
  MsfBest = 17,       // MODELSELECTFREQ(BEST=)
  PestMinPct = 18,    // PARMEST(MINPCT=)
  PestOrder = 19,     // PARMEST(ORDER=)
  SubsetBest = 20,    // SUBSET(BEST=)
  RefitMinPct = 21,   // REFIT(MINPCT=)
  RefitSamples = 22,  // REFIT(NSAMPLES=)
  RefitBest = 23,     // REFIT(BEST=)
  Last = RefitBest    // the highest
};
template <> struct StmtKeys<AverageSlot> : SlotKeys<AverageSlot, NodeSlots::ModelAverage> {};

// The OUTPUT and SCORE statements: a statistic's flag is also the slot of its name.
enum class OutputFlag : int {
  Pred = 2,       // PRED
  Resid = 3,      // RESID
  SamplePred = 4, // SAMPLEPRED
  SampleFreq = 5, // SAMPLEFREQ (OUTPUT only)
  StdDev = 6,     // STDDEV
  Upper = 7,      // UPPER
  Lower = 8,      // LOWER
  Median = 9,     // MEDIAN
  Last = Median   // the highest
};
enum class OutputSlot : int {
  Out = 1,        // OUTPUT OUT=
  ScoreData = 1,  // SCORE DATA=
  ScoreOut = 11,  // SCORE OUT=
  Last = ScoreOut // the highest
};
template <> struct StmtKeys<OutputFlag> : FlagKeys<OutputFlag> {};
template <> struct StmtKeys<OutputSlot> : SlotKeys<OutputSlot, NodeSlots::Output> {};
// The slot of the name given to a statistic.
[[nodiscard]] constexpr OutputSlot statNameSlot(OutputFlag stat) {
  static_assert(keyOf(OutputFlag::Last) <= NodeSlots::Output, "a name slot beyond the node");
  return static_cast<OutputSlot>(keyOf(stat));
}

// The PARTITION statement: a role's flag and the slot of its value or fraction share a number.
enum class PartitionFlag : int {
  Train = 2,            // ROLEVAR=(TRAIN=)
  Validate = 3,         // ROLEVAR=(VALIDATE=)
  Test = 4,             // ROLEVAR=(TEST=)
  ValidateFraction = 5, // FRACTION(VALIDATE=)
  TestFraction = 6,     // FRACTION(TEST=)
  Last = TestFraction   // the highest
};
enum class PartitionSlot : int {
  RoleVar = 1,   // ROLEVAR=
  Last = RoleVar // the highest
};
template <> struct StmtKeys<PartitionFlag> : FlagKeys<PartitionFlag> {};
template <> struct StmtKeys<PartitionSlot> : SlotKeys<PartitionSlot, NodeSlots::Partition> {};
// The slot that holds the value or fraction of a role's flag.
[[nodiscard]] constexpr PartitionSlot roleSlot(PartitionFlag role) {
  static_assert(keyOf(PartitionFlag::Last) <= NodeSlots::Partition, "a role slot beyond the node");
  return static_cast<PartitionSlot>(keyOf(role));
}

// The MODEL statement.
enum class ModelFlag : int {
  NoInt = 1,           // NOINT
  Selection = 2,       // SELECTION=
  Select = 3,          // SELECT=
  Stop = 4,            // STOP=
  StatAll = 10,        // STATS=ALL
  StatSl = 11,         // STATS=SL
  StatF = 12,          // STATS=FVALUE
  StatAic = 13,        // STATS=AIC
  StatAicc = 14,       // STATS=AICC
  StatSbc = 15,        // STATS=SBC
  StatBic = 16,        // STATS=BIC
  StatCp = 17,         // STATS=CP
  StatPress = 18,      // STATS=PRESS
  StatRsquare = 19,    // STATS=RSQUARE
  StatAdjrsq = 20,     // STATS=ADJRSQ
  StatAse = 21,        // STATS=ASE
  StepItems = 22,      // DETAILS=STEPS(...)
  StepAll = 23,        // DETAILS=STEPS(ALL)
  StepAnova = 24,      // DETAILS=STEPS(ANOVA)
  StepFit = 25,        // DETAILS=STEPS(FITSTATISTICS)
  StepParmEst = 26,    // DETAILS=STEPS(PARAMETERESTIMATES)
  StepCandidates = 27, // DETAILS=STEPS(CANDIDATES)
  OrderSelect = 28,    // ORDERSELECT
  CandidatesAll = 29,  // CANDIDATES(SHOW=ALL)
  LsCoeffs = 30,       // LSCOEFFS
  Stb = 31,            // STB
  CvMethod = 32,       // CVMETHOD=
  CvBlock = 33,        // CVMETHOD=BLOCK
  CvSplit = 34,        // CVMETHOD=SPLIT
  CvDetails = 35,      // CVDETAILS
  CvPress = 36,        // CVDETAILS=CVPRESS
  CvCoeffs = 37,       // CVDETAILS=COEFFS
  CvAll = 38,          // CVDETAILS=ALL
  CvIndex = 39,        // CVMETHOD=INDEX(variable)
  ShowPValues = 40,    // SHOWPVALUES
  Adaptive = 41,       // ADAPTIVE
  NoStandardize = 42,  // NOSTANDARDIZE$
  EnScale = 76,        // ENSCALE
  ShowL2Search = 77,   // SHOWL2SEARCH$
  ShowCvex = 78,       // SHOWCVEX$
  ShowStepL1 = 79,     // SHOWSTEPL1$
  LinearCvex = 80,     // LINEARCVEX$
  ShowScreen = 81,     // SHOWSCREEN$
  Last = ShowScreen    // the highest
};
template <> struct StmtKeys<ModelFlag> : FlagKeys<ModelFlag> {};
enum class ModelSlot : int {
  Effects = 1,          // the effects after '='
  Response = 2,         // the response variables
  Steps = 4,            // STEPS=
  SlEntry = 5,          // SLENTRY=
  MaxSteps = 6,         // MAXSTEPS=
  Include = 7,          // INCLUDE=
  SlStay = 8,           // SLSTAY=
  Hierarchy = 9,        // HIERARCHY=
  Method = 10,          // SELECTION=: the method's code
  Select = 11,          // SELECT=: the criterion's code
  Stop = 12,            // STOP=: the criterion's code
  Details = 13,         // DETAILS=
  Choose = 14,          // CHOOSE=: the criterion's code
  Start = 15,           // START=
  StopCount = 16,       // STOP=n
  CandidatesShown = 17, // CANDIDATES(SHOW=n)
  Drop = 18,            // DROP=
  CvFolds = 20,         // CVMETHOD=...(k)
  CvIndexVar = 21,      // CVMETHOD=INDEX(variable)
  Gamma = 22,           // ADAPTIVE(GAMMA=)
  InEst = 23,           // ADAPTIVE(INEST=)
  Fuzz = 24,            // FUZZ=
  L2 = 25,              // L2=
  L2Steps = 26,         // L2STEPS=
  L2Search = 27,        // L2SEARCH=
  L2Low = 28,           // L2LOW=
  L2High = 29,          // L2HIGH=
  L1 = 30,              // L1=
  L1Choice = 31,        // L1CHOICE=
  Screen = 32,          // SCREEN=
  ScreenSteps = 33,     // SCREENSTEPS$=
  KeepNum = 34,         // SCREEN=SIS(KEEPNUM=)
  KeepRatio = 35,       // SCREEN=SIS(KEEPRATIO=)
  Rho = 36,             // RHO=
  Tol = 37,             // TOL=
  Last = Tol            // the highest
};
template <> struct StmtKeys<ModelSlot> : SlotKeys<ModelSlot, NodeSlots::Model> {};

// The CLASS statement, whose options fill the procedure statement's node. An option given
// for one variable records the variable's position (ClassPosition) in its Position slot and
// its value in the slot after it; the option given after '/' for all variables has its own.
enum class ClassFlag : int {
  Truncate = 40,   // TRUNCATE
  ShowCoding = 41, // SHOWCODING
  SplitAll = 42,   // SPLIT after '/'
  Last = SplitAll  // the highest
};
template <> struct StmtKeys<ClassFlag> : FlagKeys<ClassFlag> {};
enum class ClassSlot : int {
  CodingPosition = 14,     // PARAM= of a variable
  Coding = 15,             // its value
  CodingAll = 16,          // PARAM= after '/'
  OrderPosition = 17,      // ORDER= of a variable
  Order = 18,              // its value
  OrderAll = 19,           // ORDER= after '/'
  ReferencePosition = 20,  // REF= of a variable
  Reference = 21,          // its value
  ReferenceValue = 22,     // REF='value' of a variable
  ReferenceAll = 23,       // REF= after '/'
  DescendingPosition = 24, // DESCENDING of a variable
  Descending = 25,         // its value
  DescendingAll = 26,      // DESCENDING after '/'
  CprefixPosition = 27,    // CPREFIX= of a variable
  Cprefix = 28,            // its value
  CprefixAll = 29,         // CPREFIX= after '/'
  LprefixPosition = 30,    // LPREFIX= of a variable
  Lprefix = 31,            // its value
  LprefixAll = 32,         // LPREFIX= after '/'
  MissingPosition = 33,    // MISSING of a variable
  Missing = 34,            // its value
  MissingAll = 35,         // MISSING after '/'
  Truncate = 36,           // TRUNCATE=
  Delimiter = 37,          // DELIMITER=
  SplitPosition = 43,      // SPLIT of a variable
  Split = 44,              // its value
  Last = Split             // the highest
};
template <> struct StmtKeys<ClassSlot> : SlotKeys<ClassSlot, NodeSlots::Proc> {};

// The EFFECT statement. SPLINE, POLY, LAG and the member kinds share the node: a number may
// name different options of different kinds.
enum class EffectFlag : int {
  Natural = 1,       // SPLINE NATURALCUBIC
  Levels = 1,        // LAG DETAILS(LEVELS)
  Separate = 2,      // SPLINE SEPARATE
  Split = 3,         // SPLINE SPLIT
  Details = 4,       // DETAILS
  NoInt = 5,         // SPLINE BASIS=TPF(NOINT)
  NoPowers = 6,      // SPLINE BASIS=TPF(NOPOWERS)
  DataBoundary = 7,  // SPLINE DATABOUNDARY
  NoEffect = 8,      // MULTIMEMBER NOEFFECT
  Stdize = 9,        // MULTIMEMBER STDIZE
  NoSeparate = 20,   // POLY NOSEPARATE
  Standardize = 21,  // POLY STANDARDIZE
  PrefixNone = 22,   // POLY STANDARDIZE(PREFIX=NONE)
  Exponent = 23,     // POLY LABELSTYLE=EXPONENT
  Expand = 24,       // POLY LABELSTYLE=EXPAND
  IncludeName = 25,  // POLY LABELSTYLE=INCLUDENAME
  ProductNone = 26,  // POLY LABELSTYLE=PRODUCTSYMBOL=NONE
  Last = ProductNone // the highest
};
template <> struct StmtKeys<EffectFlag> : FlagKeys<EffectFlag> {};
enum class EffectSlot : int {
  Name = 1,         // the effect's name
  Kind = 2,         // the kind's code
  Variables = 3,    // the variables in parentheses
  Weight = 4,       // MULTIMEMBER WEIGHT=
  SplineDegree = 5, // SPLINE DEGREE=
  KnotMin = 6,      // SPLINE KNOTMIN=
  KnotMax = 7,      // SPLINE KNOTMAX=
  KnotCount = 8,    // KNOTMETHOD=EQUAL(n), PERCENTILES(n)
  KnotList = 9,     // KNOTMETHOD=LIST(...), RANGEFRACTIONS(...)
  Basis = 10,       // SPLINE BASIS=
  StartScale = 11,  // KNOTMETHOD=MULTISCALE(STARTSCALE=)
  EndScale = 12,    // KNOTMETHOD=MULTISCALE(ENDSCALE=)
  KnotMethod = 13,  // KNOTMETHOD=
  Delimiter = 14,   // DETAILS(DELIMITER=)
  PolyDegree = 15,  // POLY DEGREE=
  StdKind = 16,     // POLY STANDARDIZE=
  Prefix = 17,      // POLY STANDARDIZE(PREFIX=)
  Exponent = 18,    // POLY LABELSTYLE=EXPONENT=
  Product = 19,     // POLY LABELSTYLE=PRODUCTSYMBOL=
  StdMethod = 20,   // POLY STANDARDIZE(METHOD=)
  MonoDegree = 21,  // POLY MDEGREE=
  Nlag = 22,        // LAG NLAG=
  Within = 23,      // LAG WITHIN=
  Period = 24,      // LAG PERIOD=
  Role = 25,        // LAG DESIGNROLE=
  Last = Role       // the highest
};
template <> struct StmtKeys<EffectSlot> : SlotKeys<EffectSlot, NodeSlots::Effect> {};

// Statements served by the sibling post-fit module (CODE among them) carry its code in a slot.
enum class PostFitSlot : int {
  Code = 1,   // the post-fit code
  Last = Code // the highest
};
template <> struct StmtKeys<PostFitSlot> : SlotKeys<PostFitSlot, NodeSlots::Store> {};
inline constexpr int kPostFitCode = 13165; // the code the sibling module answers to

// The STORE statement.
enum class StoreFlag : int {
  Label = 3,   // LABEL=
  Last = Label // the highest
};
template <> struct StmtKeys<StoreFlag> : FlagKeys<StoreFlag> {};
enum class StoreSlot : int {
  Name = 1,    // the store's name
  Label = 5,   // LABEL=
  Last = Label // the highest
};
template <> struct StmtKeys<StoreSlot> : SlotKeys<StoreSlot, NodeSlots::Store> {};

// The CODE statement.
enum class CodeFlag : int {
  Residuals = 11,   // RESIDUALS
  NoResiduals = 12, // NORESIDUALS
  Errors = 13,      // ERRORS
  NoErrors = 14,    // NOERRORS
  Dummies = 15,     // DUMMIES
  NoDummies = 16,   // NODUMMIES
  Impute = 17,      // IMPUTE
  Last = Impute     // the highest
};
template <> struct StmtKeys<CodeFlag> : FlagKeys<CodeFlag> {};
enum class CodeSlot : int {
  File = 11,     // FILE=
  Metabase = 12, // METABASE= (CATALOG=)
  Format = 13,   // FORMAT=
  LineSize = 14, // LINESIZE=
  Lookup = 15,   // LOOKUP=
  Group = 17,    // GROUP=
  Last = Group   // the highest
};
template <> struct StmtKeys<CodeSlot> : SlotKeys<CodeSlot, NodeSlots::Code> {};
