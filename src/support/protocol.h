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

// Attribute ids of the call records. Ids the host only checks the type of are named after
// where the module passes them.
namespace RvqAttrId {
inline constexpr uint16_t Receiver = 0;       // the handle record that opens some calls
inline constexpr uint16_t ColumnType = 103;   // a column's value type
inline constexpr uint16_t Where = 105;        // a view's row condition
inline constexpr uint16_t Name = 138;         // object, column or group name
inline constexpr uint16_t ObjectClass = 143;  // "rvq"
inline constexpr uint16_t ObjectKind = 146;   // "manager", "data" or "factoid"
inline constexpr uint16_t Handle = 144;       // the returned handle of a new object
inline constexpr uint16_t Placement = 148;    // -1: in order
inline constexpr uint16_t AttrList = 174;     // a nested list of records
inline constexpr uint16_t Title = 267;        // a factoid's title
inline constexpr uint16_t FormatCode = 270;   // the number format
inline constexpr uint16_t FormatWidth = 272;  // the format width of a factoid entry
inline constexpr uint16_t Align = 273;        // a text line's alignment
inline constexpr uint16_t RuleSpan = 280;     // a rule's span
inline constexpr uint16_t Bound = 285;        // a column's bound variable
inline constexpr uint16_t Numbered = 286;     // a group with a name stem and a number
inline constexpr uint16_t Value = 287;        // an entry value; a dynamic variable's value
inline constexpr uint16_t Stem = 288;         // a numbered group's name stem
inline constexpr uint16_t Width = 289;        // a character column's width
inline constexpr uint16_t Label = 296;        // a label
inline constexpr uint16_t View = 307;         // a graph's view
inline constexpr uint16_t Description = 310;  // a description
inline constexpr uint16_t DynamicName = 311;  // a dynamic variable's name
inline constexpr uint16_t ViewHandle = 321;   // a view's handle
inline constexpr uint16_t Variant = 336;      // a table variant
inline constexpr uint16_t Template = 339;     // a template path
inline constexpr uint16_t FormatName = 340;   // a factoid entry's format name
inline constexpr uint16_t NoteSwitch = 358;   // a level note's switch
inline constexpr uint16_t LineCount = 371;    // a text line's line count
inline constexpr uint16_t Footnote = 378;     // a published table's footnote
inline constexpr uint16_t GroupKind = 435;    // a group's kind switch
inline constexpr uint16_t DataSetGroup = 436; // a group that names a data set
inline constexpr uint16_t GroupNumber = 437;  // a numbered group's number
inline constexpr uint16_t NoteLevel = 440;    // a level note's level
inline constexpr uint16_t LevelMark = 442;    // a level mark
inline constexpr uint16_t Table = 504;        // the table a bind call binds
inline constexpr uint16_t Text = 577;         // a text line's or note's text
inline constexpr uint16_t Rule = 580;         // a rule's character
inline constexpr uint16_t DataRef = 784;      // a data reference (bind: its out slot)
inline constexpr uint16_t Query = 1334;       // the manager's query switch
inline constexpr uint16_t TitleNote = 2558;   // the note that is the step's title
inline constexpr uint16_t GraphsOnly = 2640;  // 1: the table only feeds graphs
inline constexpr uint16_t DataRefs = 2829;    // a graph's data references
} // namespace RvqAttrId

// ---------------------------------------------------------------------------------------
// Option codes that the statement readers set and the data layer reads
// ---------------------------------------------------------------------------------------

// CVMETHOD=: the settings and the data pass keep these codes.
enum VsfCvMethod : uint8_t { CV_NONE = 0, CV_RANDOM = 1, CV_BLOCK = 2, CV_SPLIT = 3, CV_INDEX = 4 };

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

// Flags and slots of the procedure statement's node that the host parser itself uses, and
// those the grammar adds beside the numbered options: each plot option has a slot of its
// own, and the BY statement keeps its DESCENDING marks and NOTSORTED.
inline constexpr int kSlotByVariables = 0;    // BY variables
inline constexpr int kSlotClassVariables = 2; // CLASS variables
inline constexpr int kSlotData = 11;          // DATA=
inline constexpr int kSlotCoefStepAxis = 72;  // PLOTS=COEFFICIENTS(STEPAXIS=)
inline constexpr int kSlotEmphasis = 73;      // PLOTS=SELECTOGRAM(EMPHASISFACTOR=)
inline constexpr int kSlotAseStepAxis = 74;   // PLOTS=ASE(STEPAXIS=)
inline constexpr int kSlotCritStepAxis = 75;  // PLOTS=CRITERIA(STEPAXIS=)
inline constexpr int kSlotByDescending = 76;  // one number per BY variable: 1 DESCENDING
inline constexpr int kFlagByNotsorted = 76;   // BY ... NOTSORTED

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
