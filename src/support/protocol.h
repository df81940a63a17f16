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
enum VsfCvMethod : uint8_t { CV_NONE = 0, CV_RANDOM = 1, CV_BLOCK = 2, CV_SPLIT = 3, CV_INDEX = 4 };
// MODEL DROP=, HIERARCHY=, DETAILS= and L2SEARCH=.
enum VsfDrop : uint8_t { DROP_BEFOREADD = 1, DROP_COMPETITIVE = 2, DROP_AFTERADD = 3 };
enum VsfHierarchy : uint8_t { HIER_NONE = 0, HIER_SINGLE = 1, HIER_SINGLECLASS = 2 };
enum VsfDetails : uint8_t {
  DETAILS_NONE = 0,
  DETAILS_SUMMARY = 1,
  DETAILS_STEPS = 2,
  DETAILS_ALL = 3
};
enum VsfL2Search : uint8_t { L2S_NONE = 1, L2S_GOLDEN = 2, L2S_GRID = 3 };
// PERFORMANCE FULL_SWEEP$=.
enum VsfFullSweep : uint8_t { SWEEP_STEPADD = 0, SWEEP_NEVER = 1, SWEEP_ALWAYS = 2 };
// STEPAXIS= of PLOTS and of its plots: NUMBER, EFFECT, NORMB (0: not given, the graph chooses).
enum VsfStepAxis : int32_t { VSA_AUTO = 0, VSA_STEP = 1, VSA_STEPLABEL = 2, VSA_NORMBETA = 3 };
// ORDER= of EFFECTSELECTPCT, PARMDIST and PARMEST.
enum VsfOrder : uint8_t { ORDER_MODEL = 0, ORDER_ASCENDING = 1, ORDER_DESCENDING = 2 };
// PARMLABELSTYLE=.
enum VsfLabelStyle : uint8_t {
  LSTYLE_INTERLACED = 0,
  LSTYLE_SEPARATE = 1,
  LSTYLE_SEPARATECOMPACT = 2
};
// MODELAVERAGE AVERAGEMETHOD$=.
enum VsfAverageMethod : uint8_t {
  AVG_MEAN = 1,
  AVG_MEANNONZERO = 2,
  AVG_MEDIAN = 3,
  AVG_MEDIANNONZERO = 4
};
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

// Flags and slots of the procedure statement's node that the host parser itself uses, and
// those the grammar adds beside the numbered options: each plot option has a slot of its
// own, and the BY statement keeps its DESCENDING marks and NOTSORTED.
inline constexpr int kSlotByVariables = 0;     // BY variables
inline constexpr int kSlotDirectVariables = 1; // variables of effects not in CLASS
inline constexpr int kSlotClassVariables = 2;  // CLASS variables
inline constexpr int kSlotData = 11;           // DATA=
inline constexpr int kSlotCoefStepAxis = 72;   // PLOTS=COEFFICIENTS(STEPAXIS=)
inline constexpr int kSlotEmphasis = 73;       // PLOTS=SELECTOGRAM(EMPHASISFACTOR=)
inline constexpr int kSlotAseStepAxis = 74;    // PLOTS=ASE(STEPAXIS=)
inline constexpr int kSlotCritStepAxis = 75;   // PLOTS=CRITERIA(STEPAXIS=)
inline constexpr int kSlotByDescending = 76;   // one number per BY variable: 1 DESCENDING
inline constexpr int kFlagByNotsorted = 76;    // BY ... NOTSORTED

// Slots of the current statement that the effect callback reads or fills for grammars with
// factor statements and var=value items; this grammar has neither.
namespace EffectLibSlot {
inline constexpr int FactorNames = 1;       // a factor statement's names
inline constexpr int FactorPositions = 4;   // the positions of a statement's factors
inline constexpr int ModelClassEffects = 4; // MODEL: effects of CLASS variables only
inline constexpr int NestedValue = 9;       // a var=value item's value
} // namespace EffectLibSlot

// The PERFORMANCE statement.
namespace PerfFlag {
inline constexpr int Threads = 1;          // THREADS, THREADS=YES
inline constexpr int NoThreads = 2;        // THREADS=NO, NOTHREADS
inline constexpr int CpuMin = 3;           // CPUCOUNT=MIN
inline constexpr int CpuMax = 4;           // CPUCOUNT=MAX
inline constexpr int CpuActual = 5;        // CPUCOUNT=ACTUAL
inline constexpr int Details = 6;          // DETAILS
inline constexpr int NoTiming = 7;         // NOTIMING$
inline constexpr int PerfStatus = 8;       // PERFSTATUS$
inline constexpr int AllDetails = 9;       // ALLDETAILS$
inline constexpr int Force = 10;           // FORCE$
inline constexpr int SscpFull = 11;        // BUILDSSCP=FULL
inline constexpr int UtilRandom = 12;      // UTIL_RANDOM$
inline constexpr int AllSparse = 13;       // ALLSPARSE$
inline constexpr int AllDense = 14;        // ALLDENSE$
inline constexpr int SscpIncremental = 15; // BUILDSSCP=INCREMENTAL
inline constexpr int UtilDetails = 16;     // UTIL_DETAILS$
} // namespace PerfFlag
namespace PerfSlot {
inline constexpr int CpuCount = 1;     // CPUCOUNT=n
inline constexpr int UtilBuffers = 3;  // UTIL_BUFFERS$=
inline constexpr int UtilPageSize = 4; // UTIL_PAGESIZE$=
inline constexpr int FullSweep = 5;    // FULL_SWEEP$=
} // namespace PerfSlot

// The procedure statement and its PLOTS= option. The node's own slots (DATA=, BY, and the
// plot options' STEPAXIS= and EMPHASISFACTOR=) are named above; FREQ and WEIGHT fill it too.
namespace ProcFlag {
inline constexpr int Unpack = 1;          // PLOTS(UNPACK)
inline constexpr int LogP = 2;            // PLOTS(LOGPVALUE$)
inline constexpr int SelgLogP = 10;       // SELECTOGRAM(LOGPVALUE$)
inline constexpr int SelgNormc = 11;      // SELECTOGRAM(NORMALIZEDCRITERIA)
inline constexpr int CandLogP = 14;       // CANDIDATES(LOGPVALUE$)
inline constexpr int CoefUnpack = 18;     // COEFFICIENTS(UNPACK)
inline constexpr int CoefLogP = 51;       // COEFFICIENTS(LOGPVALUE$)
inline constexpr int CritUnpack = 52;     // CRITERIA(UNPACK)
inline constexpr int NoPrint = 53;        // NOPRINT
inline constexpr int PlotNone = 54;       // PLOTS=NONE
inline constexpr int CritPlot = 55;       // PLOTS=CRITERIA
inline constexpr int AsePlot = 56;        // PLOTS=ASE
inline constexpr int PlotAll = 57;        // PLOTS=ALL
inline constexpr int PlotRequests = 58;   // PLOTS=
inline constexpr int Plots = 59;          // PLOTS
inline constexpr int CoefPlot = 60;       // PLOTS=COEFFICIENTS
inline constexpr int SelgPlot = 61;       // PLOTS=SELECTOGRAM$
inline constexpr int CandPlot = 62;       // PLOTS=CANDIDATES
inline constexpr int ShowInternal = 63;   // SHOWINTERNALTABLES$
inline constexpr int ShortParmNames = 64; // SHORTPARMNAMES$
inline constexpr int Separator = 65;      // PARMLABELSTYLE=INTERLACED(SEPARATOR=)
inline constexpr int OutDesign = 66;      // OUTDESIGN
inline constexpr int FullModel = 67;      // OUTDESIGN(FULLMODEL)
inline constexpr int AddInputVars = 68;   // OUTDESIGN(ADDINPUTVARS)
inline constexpr int Prefix = 69;         // OUTDESIGN(PREFIX)
inline constexpr int PrefixName = 70;     // OUTDESIGN(PREFIX=)
inline constexpr int Names = 71;          // OUTDESIGN(NAMES)
inline constexpr int EspPlot = 72;        // PLOTS=EFFECTSELECTPCT
inline constexpr int PdPlot = 73;         // PLOTS=PARMDIST
inline constexpr int PdUnpack = 74;       // PARMDIST(UNPACK)
inline constexpr int PdNoBox = 75;        // PARMDIST(NOBOXPLOTS)
} // namespace ProcFlag
namespace ProcSlot {
inline constexpr int Freq = 5;            // FREQ variable
inline constexpr int Weight = 6;          // WEIGHT variable
inline constexpr int ParmLabelStyle = 7;  // PARMLABELSTYLE=
inline constexpr int ShortParmNames = 8;  // SHORTPARMNAMES$=
inline constexpr int Separator = 9;       // PARMLABELSTYLE=INTERLACED(SEPARATOR=)
inline constexpr int MaxMacro = 10;       // MAXMACRO=
inline constexpr int Candidates = 12;     // PLOTS(CANDIDATES=)
inline constexpr int SelgCandidates = 13; // SELECTOGRAM(CANDIDATES=)
inline constexpr int CandShow = 46;       // CANDIDATES(SHOW=)
inline constexpr int MaxStepLabel = 47;   // PLOTS(MAXSTEPLABEL=)
inline constexpr int MaxParmLabel = 48;   // PLOTS(MAXPARMLABEL=)
inline constexpr int ValData = 49;        // VALDATA=
inline constexpr int TestData = 50;       // TESTDATA=
inline constexpr int Seed = 51;           // SEED=
inline constexpr int StepAxis = 53;       // PLOTS(STEPAXIS=)
inline constexpr int CoefLabelGap = 54;   // COEFFICIENTS(LABELGAP=)
inline constexpr int NameLen = 55;        // NAMELEN=
inline constexpr int OutDesign = 56;      // OUTDESIGN=
inline constexpr int Prefix = 57;         // OUTDESIGN(PREFIX=)
inline constexpr int StartStep = 58;      // PLOTS(STARTSTEP=)
inline constexpr int EndStep = 59;        // PLOTS(ENDSTEP=)
inline constexpr int CoefStart = 60;      // COEFFICIENTS(STARTSTEP=)
inline constexpr int CoefEnd = 61;        // COEFFICIENTS(ENDSTEP=)
inline constexpr int AseStart = 62;       // ASE(STARTSTEP=)
inline constexpr int AseEnd = 63;         // ASE(ENDSTEP=)
inline constexpr int CritStart = 64;      // CRITERIA(STARTSTEP=)
inline constexpr int CritEnd = 65;        // CRITERIA(ENDSTEP=)
inline constexpr int EspMinPct = 66;      // EFFECTSELECTPCT(MINPCT=)
inline constexpr int EspOrder = 67;       // EFFECTSELECTPCT(ORDER=)
inline constexpr int PdMinPct = 68;       // PARMDIST(MINPCT=)
inline constexpr int PdOrder = 69;        // PARMDIST(ORDER=)
inline constexpr int PdPerPanel = 70;     // PARMDIST(PLOTSPERPANEL=)
} // namespace ProcSlot

// The MODELAVERAGE statement.
namespace AverageFlag {
inline constexpr int Statement = 1;       // set by the statement itself
inline constexpr int Details = 2;         // DETAILS
inline constexpr int InMemory = 5;        // INMEMORY$=YES
inline constexpr int Srs = 7;             // SAMPLING=SRS
inline constexpr int SharedDrive = 9;     // SHAREDDRIVE$=
inline constexpr int StaticSchedule = 10; // SCHEDULE$=STATIC
inline constexpr int EspTable = 11;       // TABLES=EFFECTSELECTPCT
inline constexpr int MsfTable = 12;       // TABLES=MODELSELECTFREQ
inline constexpr int PestTable = 13;      // TABLES=PARMEST
inline constexpr int AllTables = 14;      // TABLES=ALL
inline constexpr int MsfAll = 15;         // MODELSELECTFREQ(ALL)
inline constexpr int TablesOnly = 16;     // TABLES(ONLY)
inline constexpr int NoTables = 17;       // TABLES=NONE
inline constexpr int AverageMethod = 18;  // AVERAGEMETHOD$=
inline constexpr int Refit = 19;          // REFIT
inline constexpr int NonzeroParms = 43;   // PARMEST(NONZEROPARMS)
inline constexpr int PestAll = 44;        // PARMEST(ALL)
inline constexpr int EspAll = 45;         // EFFECTSELECTPCT(ALL)
inline constexpr int RefitAll = 46;       // REFIT(ALL)
} // namespace AverageFlag
namespace AverageSlot {
inline constexpr int Threads = 1;        // NTHREADS$=
inline constexpr int Samples = 2;        // NSAMPLES=
inline constexpr int Alpha = 3;          // ALPHA=
inline constexpr int ParmThreshold = 4;  // PARMTHRESHOLD$=
inline constexpr int SampleSize = 5;     // SAMPLING(SIZE=)
inline constexpr int SamplePct = 6;      // SAMPLING(PCT=)
inline constexpr int SharedDrive = 8;    // SHAREDDRIVE$=
inline constexpr int ScheduleChunk = 9;  // SCHEDULE$=n
inline constexpr int EspMinPct = 10;     // EFFECTSELECTPCT(MINPCT=)
inline constexpr int EspOrder = 11;      // EFFECTSELECTPCT(ORDER=)
inline constexpr int AverageMethod = 12; // AVERAGEMETHOD$=
inline constexpr int TrimPercent = 13;   // AVERAGEMETHOD$=MEAN(TRIMPERCENT=)
inline constexpr int MinModelFreq = 16;  // SUBSET(MINMODELFREQ=)
inline constexpr int MsfBest = 17;       // MODELSELECTFREQ(BEST=)
inline constexpr int PestMinPct = 18;    // PARMEST(MINPCT=)
inline constexpr int PestOrder = 19;     // PARMEST(ORDER=)
inline constexpr int SubsetBest = 20;    // SUBSET(BEST=)
inline constexpr int RefitMinPct = 21;   // REFIT(MINPCT=)
inline constexpr int RefitSamples = 22;  // REFIT(NSAMPLES=)
inline constexpr int RefitBest = 23;     // REFIT(BEST=)
} // namespace AverageSlot

// The OUTPUT and SCORE statements: a statistic's flag is also the slot of its name.
namespace OutputFlag {
inline constexpr int Pred = 2;       // PRED
inline constexpr int Resid = 3;      // RESID
inline constexpr int SamplePred = 4; // SAMPLEPRED
inline constexpr int SampleFreq = 5; // SAMPLEFREQ (OUTPUT only)
inline constexpr int StdDev = 6;     // STDDEV
inline constexpr int Upper = 7;      // UPPER
inline constexpr int Lower = 8;      // LOWER
inline constexpr int Median = 9;     // MEDIAN
} // namespace OutputFlag
namespace OutputSlot {
inline constexpr int Out = 1;       // OUTPUT OUT=
inline constexpr int ScoreData = 1; // SCORE DATA=
inline constexpr int ScoreOut = 11; // SCORE OUT=
} // namespace OutputSlot

// The PARTITION statement: a role's flag is also the slot of its value or fraction.
namespace PartitionFlag {
inline constexpr int Train = 2;            // ROLEVAR=(TRAIN=)
inline constexpr int Validate = 3;         // ROLEVAR=(VALIDATE=)
inline constexpr int Test = 4;             // ROLEVAR=(TEST=)
inline constexpr int ValidateFraction = 5; // FRACTION(VALIDATE=)
inline constexpr int TestFraction = 6;     // FRACTION(TEST=)
} // namespace PartitionFlag
namespace PartitionSlot {
inline constexpr int RoleVar = 1; // ROLEVAR=
} // namespace PartitionSlot

// The MODEL statement. The flags of STATS= are consecutive from StatSl to StatAse: the
// reader reads them in that order.
namespace ModelFlag {
inline constexpr int NoInt = 1;           // NOINT
inline constexpr int Selection = 2;       // SELECTION=
inline constexpr int Select = 3;          // SELECT=
inline constexpr int Stop = 4;            // STOP=
inline constexpr int StatAll = 10;        // STATS=ALL
inline constexpr int StatSl = 11;         // STATS=SL
inline constexpr int StatF = 12;          // STATS=FVALUE
inline constexpr int StatAic = 13;        // STATS=AIC
inline constexpr int StatAicc = 14;       // STATS=AICC
inline constexpr int StatSbc = 15;        // STATS=SBC
inline constexpr int StatBic = 16;        // STATS=BIC
inline constexpr int StatCp = 17;         // STATS=CP
inline constexpr int StatPress = 18;      // STATS=PRESS
inline constexpr int StatRsquare = 19;    // STATS=RSQUARE
inline constexpr int StatAdjrsq = 20;     // STATS=ADJRSQ
inline constexpr int StatAse = 21;        // STATS=ASE
inline constexpr int StepItems = 22;      // DETAILS=STEPS(...)
inline constexpr int StepAll = 23;        // DETAILS=STEPS(ALL)
inline constexpr int StepAnova = 24;      // DETAILS=STEPS(ANOVA)
inline constexpr int StepFit = 25;        // DETAILS=STEPS(FITSTATISTICS)
inline constexpr int StepParmEst = 26;    // DETAILS=STEPS(PARAMETERESTIMATES)
inline constexpr int StepCandidates = 27; // DETAILS=STEPS(CANDIDATES)
inline constexpr int OrderSelect = 28;    // ORDERSELECT
inline constexpr int CandidatesAll = 29;  // CANDIDATES(SHOW=ALL)
inline constexpr int LsCoeffs = 30;       // LSCOEFFS
inline constexpr int Stb = 31;            // STB
inline constexpr int CvMethod = 32;       // CVMETHOD=
inline constexpr int CvBlock = 33;        // CVMETHOD=BLOCK
inline constexpr int CvSplit = 34;        // CVMETHOD=SPLIT
inline constexpr int CvDetails = 35;      // CVDETAILS
inline constexpr int CvPress = 36;        // CVDETAILS=CVPRESS
inline constexpr int CvCoeffs = 37;       // CVDETAILS=COEFFS
inline constexpr int CvAll = 38;          // CVDETAILS=ALL
inline constexpr int CvIndex = 39;        // CVMETHOD=INDEX(variable)
inline constexpr int ShowPValues = 40;    // SHOWPVALUES
inline constexpr int Adaptive = 41;       // ADAPTIVE
inline constexpr int NoStandardize = 42;  // NOSTANDARDIZE$
inline constexpr int EnScale = 76;        // ENSCALE
inline constexpr int ShowL2Search = 77;   // SHOWL2SEARCH$
inline constexpr int ShowCvex = 78;       // SHOWCVEX$
inline constexpr int ShowStepL1 = 79;     // SHOWSTEPL1$
inline constexpr int LinearCvex = 80;     // LINEARCVEX$
inline constexpr int ShowScreen = 81;     // SHOWSCREEN$
} // namespace ModelFlag
namespace ModelSlot {
inline constexpr int Effects = 1;          // the effects after '='
inline constexpr int Response = 2;         // the response variables
inline constexpr int Steps = 4;            // STEPS=
inline constexpr int SlEntry = 5;          // SLENTRY=
inline constexpr int MaxSteps = 6;         // MAXSTEPS=
inline constexpr int Include = 7;          // INCLUDE=
inline constexpr int SlStay = 8;           // SLSTAY=
inline constexpr int Hierarchy = 9;        // HIERARCHY=
inline constexpr int Method = 10;          // SELECTION=: the method's code
inline constexpr int Select = 11;          // SELECT=: the criterion's code
inline constexpr int Stop = 12;            // STOP=: the criterion's code
inline constexpr int Details = 13;         // DETAILS=
inline constexpr int Choose = 14;          // CHOOSE=: the criterion's code
inline constexpr int Start = 15;           // START=
inline constexpr int StopCount = 16;       // STOP=n
inline constexpr int CandidatesShown = 17; // CANDIDATES(SHOW=n)
inline constexpr int Drop = 18;            // DROP=
inline constexpr int CvFolds = 20;         // CVMETHOD=...(k)
inline constexpr int CvIndexVar = 21;      // CVMETHOD=INDEX(variable)
inline constexpr int Gamma = 22;           // ADAPTIVE(GAMMA=)
inline constexpr int InEst = 23;           // ADAPTIVE(INEST=)
inline constexpr int Fuzz = 24;            // FUZZ=
inline constexpr int L2 = 25;              // L2=
inline constexpr int L2Steps = 26;         // L2STEPS=
inline constexpr int L2Search = 27;        // L2SEARCH=
inline constexpr int L2Low = 28;           // L2LOW=
inline constexpr int L2High = 29;          // L2HIGH=
inline constexpr int L1 = 30;              // L1=
inline constexpr int L1Choice = 31;        // L1CHOICE=
inline constexpr int Screen = 32;          // SCREEN=
inline constexpr int ScreenSteps = 33;     // SCREENSTEPS$=
inline constexpr int KeepNum = 34;         // SCREEN=SIS(KEEPNUM=)
inline constexpr int KeepRatio = 35;       // SCREEN=SIS(KEEPRATIO=)
inline constexpr int Rho = 36;             // RHO=
inline constexpr int Tol = 37;             // TOL=
} // namespace ModelSlot

// The CLASS statement, whose options fill the procedure statement's node. An option given
// for one variable records the variable's position (ClassPosition) in its Position slot and
// its value in the slot after it; the option given after '/' for all variables has its own.
namespace ClassFlag {
inline constexpr int Truncate = 40;   // TRUNCATE
inline constexpr int ShowCoding = 41; // SHOWCODING
inline constexpr int SplitAll = 42;   // SPLIT after '/'
} // namespace ClassFlag
namespace ClassSlot {
inline constexpr int CodingPosition = 14;     // PARAM= of a variable
inline constexpr int Coding = 15;             // its value
inline constexpr int CodingAll = 16;          // PARAM= after '/'
inline constexpr int OrderPosition = 17;      // ORDER= of a variable
inline constexpr int Order = 18;              // its value
inline constexpr int OrderAll = 19;           // ORDER= after '/'
inline constexpr int ReferencePosition = 20;  // REF= of a variable
inline constexpr int Reference = 21;          // its value
inline constexpr int ReferenceValue = 22;     // REF='value' of a variable
inline constexpr int ReferenceAll = 23;       // REF= after '/'
inline constexpr int DescendingPosition = 24; // DESCENDING of a variable
inline constexpr int Descending = 25;         // its value
inline constexpr int DescendingAll = 26;      // DESCENDING after '/'
inline constexpr int CprefixPosition = 27;    // CPREFIX= of a variable
inline constexpr int Cprefix = 28;            // its value
inline constexpr int CprefixAll = 29;         // CPREFIX= after '/'
inline constexpr int LprefixPosition = 30;    // LPREFIX= of a variable
inline constexpr int Lprefix = 31;            // its value
inline constexpr int LprefixAll = 32;         // LPREFIX= after '/'
inline constexpr int MissingPosition = 33;    // MISSING of a variable
inline constexpr int Missing = 34;            // its value
inline constexpr int MissingAll = 35;         // MISSING after '/'
inline constexpr int Truncate = 36;           // TRUNCATE=
inline constexpr int Delimiter = 37;          // DELIMITER=
inline constexpr int SplitPosition = 43;      // SPLIT of a variable
inline constexpr int Split = 44;              // its value
} // namespace ClassSlot

// The EFFECT statement. SPLINE, POLY, LAG and the member kinds share the node: a number may
// name different options of different kinds.
namespace EffectFlag {
inline constexpr int Natural = 1;      // SPLINE NATURALCUBIC
inline constexpr int Levels = 1;       // LAG DETAILS(LEVELS)
inline constexpr int Separate = 2;     // SPLINE SEPARATE
inline constexpr int Split = 3;        // SPLINE SPLIT
inline constexpr int Details = 4;      // DETAILS
inline constexpr int NoInt = 5;        // SPLINE BASIS=TPF(NOINT)
inline constexpr int NoPowers = 6;     // SPLINE BASIS=TPF(NOPOWERS)
inline constexpr int DataBoundary = 7; // SPLINE DATABOUNDARY
inline constexpr int NoEffect = 8;     // MULTIMEMBER NOEFFECT
inline constexpr int Stdize = 9;       // MULTIMEMBER STDIZE
inline constexpr int NoSeparate = 20;  // POLY NOSEPARATE
inline constexpr int Standardize = 21; // POLY STANDARDIZE
inline constexpr int PrefixNone = 22;  // POLY STANDARDIZE(PREFIX=NONE)
inline constexpr int Exponent = 23;    // POLY LABELSTYLE=EXPONENT
inline constexpr int Expand = 24;      // POLY LABELSTYLE=EXPAND
inline constexpr int IncludeName = 25; // POLY LABELSTYLE=INCLUDENAME
inline constexpr int ProductNone = 26; // POLY LABELSTYLE=PRODUCTSYMBOL=NONE
} // namespace EffectFlag
namespace EffectSlot {
inline constexpr int Name = 1;         // the effect's name
inline constexpr int Kind = 2;         // the kind's code
inline constexpr int Variables = 3;    // the variables in parentheses
inline constexpr int Weight = 4;       // MULTIMEMBER WEIGHT=
inline constexpr int SplineDegree = 5; // SPLINE DEGREE=
inline constexpr int KnotMin = 6;      // SPLINE KNOTMIN=
inline constexpr int KnotMax = 7;      // SPLINE KNOTMAX=
inline constexpr int KnotCount = 8;    // KNOTMETHOD=EQUAL(n), PERCENTILES(n)
inline constexpr int KnotList = 9;     // KNOTMETHOD=LIST(...), RANGEFRACTIONS(...)
inline constexpr int Basis = 10;       // SPLINE BASIS=
inline constexpr int StartScale = 11;  // KNOTMETHOD=MULTISCALE(STARTSCALE=)
inline constexpr int EndScale = 12;    // KNOTMETHOD=MULTISCALE(ENDSCALE=)
inline constexpr int KnotMethod = 13;  // KNOTMETHOD=
inline constexpr int Delimiter = 14;   // DETAILS(DELIMITER=)
inline constexpr int PolyDegree = 15;  // POLY DEGREE=
inline constexpr int StdKind = 16;     // POLY STANDARDIZE=
inline constexpr int Prefix = 17;      // POLY STANDARDIZE(PREFIX=)
inline constexpr int Exponent = 18;    // POLY LABELSTYLE=EXPONENT=
inline constexpr int Product = 19;     // POLY LABELSTYLE=PRODUCTSYMBOL=
inline constexpr int StdMethod = 20;   // POLY STANDARDIZE(METHOD=)
inline constexpr int MonoDegree = 21;  // POLY MDEGREE=
inline constexpr int Nlag = 22;        // LAG NLAG=
inline constexpr int Within = 23;      // LAG WITHIN=
inline constexpr int Period = 24;      // LAG PERIOD=
inline constexpr int Role = 25;        // LAG DESIGNROLE=
} // namespace EffectSlot

// Statements served by the sibling post-fit module (CODE among them) carry its code in a slot.
inline constexpr int kSlotPostFit = 1;     // the post-fit code
inline constexpr int kPostFitCode = 13165; // the code the sibling module answers to

// The STORE statement.
namespace StoreFlag {
inline constexpr int Label = 3; // LABEL=
} // namespace StoreFlag
namespace StoreSlot {
inline constexpr int Name = 1;  // the store's name
inline constexpr int Label = 5; // LABEL=
} // namespace StoreSlot

// The CODE statement.
namespace CodeFlag {
inline constexpr int Residuals = 11;   // RESIDUALS
inline constexpr int NoResiduals = 12; // NORESIDUALS
inline constexpr int Errors = 13;      // ERRORS
inline constexpr int NoErrors = 14;    // NOERRORS
inline constexpr int Dummies = 15;     // DUMMIES
inline constexpr int NoDummies = 16;   // NODUMMIES
inline constexpr int Impute = 17;      // IMPUTE
} // namespace CodeFlag
namespace CodeSlot {
inline constexpr int File = 11;     // FILE=
inline constexpr int Metabase = 12; // METABASE= (CATALOG=)
inline constexpr int Format = 13;   // FORMAT=
inline constexpr int LineSize = 14; // LINESIZE=
inline constexpr int Lookup = 15;   // LOOKUP=
inline constexpr int Group = 17;    // GROUP=
} // namespace CodeSlot
