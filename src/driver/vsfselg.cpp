// The procedure's grammar: one rule per statement and per shared value form, in the rule
// notation of support/grammar.h, with the action routines that fill the statement nodes.
// The host parser interprets the rules; the statement readers read the nodes.
#include "driver/vsfselg.h"

#include "support/hoststubs.h"
#include "support/parsedstmt.h"

#include <cstring>
#include <initializer_list>
#include <string>

namespace {

// Action items of the rule notation, written from the named actions, flags and slots:
// #c, or #c(a,b,...).
std::string act(int code, std::initializer_list<int> args = {}) {
  std::string text = "#" + std::to_string(code);
  const char* sep = "(";
  for (int a : args) {
    text += sep + std::to_string(a);
    sep = ",";
  }
  return args.size() ? text + ")" : text;
}
std::string setFlag(int flag) { return act(GrammarAction::SetFlag, {flag}); }
std::string storeNumber(int slot) { return act(GrammarAction::StoreValue, {slot, 1}); }
std::string storeCode(int slot, int code) { return act(GrammarAction::StoreCode, {slot, code}); }

const std::string kPerfOptions =
    "( 'THREADS' " + act(GrammarAction::SetSwitch, {PerfFlag::Threads, 1}) + " [ '=' ( 'YES' " +
    act(GrammarAction::SetSwitch, {PerfFlag::Threads, 1}) + " | 'NO' " +
    act(GrammarAction::SetSwitch, {PerfFlag::NoThreads, 1}) + " ) ]" + " | 'NOTHREADS' " +
    act(GrammarAction::SetSwitch, {PerfFlag::NoThreads, 1}) + " | 'CPUCOUNT' '=' ( 'MIN' " +
    setFlag(PerfFlag::CpuMin) + " | 'MAX' " + setFlag(PerfFlag::CpuMax) + " | 'ACTUAL' " +
    setFlag(PerfFlag::CpuActual) + " | #20(1,1024) " + storeNumber(PerfSlot::CpuCount) + " INT )" +
    " | 'DETAILS' " + setFlag(PerfFlag::Details) + " | 'NOTIMING$' " + setFlag(PerfFlag::NoTiming) +
    " | 'PERFSTATUS$' " + setFlag(PerfFlag::PerfStatus) + " | 'ALLDETAILS$' " +
    setFlag(PerfFlag::AllDetails) + " " + setFlag(PerfFlag::Details) + " | 'FORCE$' " +
    setFlag(PerfFlag::Force) + " | 'BUILDSSCP' '=' ( 'INCREMENTAL' " +
    setFlag(PerfFlag::SscpIncremental) + " | 'FULL' " + setFlag(PerfFlag::SscpFull) + " )" +
    " | 'UTIL_RANDOM$' " + setFlag(PerfFlag::UtilRandom) + " | 'UTIL_BUFFERS$' '=' #20(0) " +
    storeNumber(PerfSlot::UtilBuffers) + " INT" + " | 'UTIL_PAGESIZE$' '=' #20(1,10000) " +
    storeNumber(PerfSlot::UtilPageSize) + " INT" + " | 'ALLSPARSE$' " +
    setFlag(PerfFlag::AllSparse) + " | 'ALLDENSE$' " + setFlag(PerfFlag::AllDense) +
    " | 'UTIL_DETAILS$' " + setFlag(PerfFlag::UtilDetails) + " | 'FULL_SWEEP$' '=' ( 'STEPADD' " +
    storeCode(PerfSlot::FullSweep, 0) + " | 'NEVER' " + storeCode(PerfSlot::FullSweep, 1) +
    " | 'ALWAYS' " + storeCode(PerfSlot::FullSweep, 2) + " ) )";

std::string startList(int slot, int kind) { return act(GrammarAction::StartList, {slot, kind}); }
std::string appendText(int slot) { return act(GrammarAction::AppendValue, {slot, 5}); }
// A statistic keyword whose flag is also the slot of the output name that may follow.
std::string stat(const char* keywords, int flag) {
  return std::string(keywords) + " " + setFlag(flag) + " [ '=' " + startList(flag, 9) +
         " outname ]";
}

const std::string kPartition =
    "#3(6) 'PARTITION' [ ( 'ROLEVAR'/'ROLE'/'VAR' '=' " + startList(PartitionSlot::RoleVar, 3) +
    " variable   [ '(' { 'TRAIN' '=' " + setFlag(PartitionFlag::Train) + " " +
    appendText(PartitionFlag::Train) + " QS | 'VALIDATE'/'VAL$'/'VALID$' '=' " +
    setFlag(PartitionFlag::Validate) + " " + appendText(PartitionFlag::Validate) +
    " QS   | 'TEST' '=' " + setFlag(PartitionFlag::Test) + " " + appendText(PartitionFlag::Test) +
    " QS } ')' ] | 'FRACTION'/'FRAC$' '(' { 'VALIDATE'/'VAL$'/'VALID$' '=' " +
    setFlag(PartitionFlag::ValidateFraction) + " #20(0,1) " +
    storeNumber(PartitionFlag::ValidateFraction) + " number   | 'TEST' '=' " +
    setFlag(PartitionFlag::TestFraction) + " #20(0,1) " + storeNumber(PartitionFlag::TestFraction) +
    " number } ')' ) ] #4";
const std::string kStatOptions =
    "( " + stat("'PRED'/'PREDICTED'/'P'", OutputFlag::Pred) + " | " +
    stat("'RESID'/'RESIDUAL'/'R'", OutputFlag::Resid) + " | " +
    stat("'SAMPLEPRED'/'SP'", OutputFlag::SamplePred) + " | " +
    stat("'STDDEV'/'STANDARDDEVIATION'", OutputFlag::StdDev) + " | " +
    stat("'UPPER'/'UPPERQUANTILE$'/'UQUANT$'", OutputFlag::Upper) + " | " +
    stat("'LOWER'/'LOWERQUANTILE$'/'LQUANT$'", OutputFlag::Lower) + " )";
const std::string kOutput =
    "#3(11) 'OUTPUT' { 'OUT' '=' dsname " +
    act(GrammarAction::DataSet, {OutputSlot::Out, 2, 0, 2, 2, 4, 0, 0}) + " | statopt | " +
    stat("'SAMPLEFREQ'/'SF'", OutputFlag::SampleFreq) + " | " +
    stat("'MEDIAN'", OutputFlag::Median) + " } " +
    act(GrammarAction::DefaultDataSet, {OutputSlot::Out, 2, 0, 2, 2, 4, 0, 0}) + " #4";
const std::string kScore =
    "#3(11) 'SCORE' { 'DATA' '=' dsname " +
    act(GrammarAction::DataSet, {OutputSlot::ScoreData, 1, 0, 2, 2, 3, 0}) +
    " | 'OUT' '=' dsname " + act(GrammarAction::DataSet, {OutputSlot::ScoreOut, 2, 0, 2, 2, 4, 0}) +
    " | statopt | " + stat("'MEDIAN'/'MED'", OutputFlag::Median) + " } " +
    act(GrammarAction::DefaultDataSet, {OutputSlot::ScoreOut, 2, 0, 2, 2, 4, 0}) + " #4";

// The procedure statement's options, the PLOTS= requests and their suboptions. STEPAXIS=
// stores 1 NUMBER, 2 EFFECT or 3 NORMB; a step range its two numbers; ORDER= 0 MODEL,
// 1 ASCENDING or 2 DESCENDING.
std::string stepAxis(int slot) {
  return "'STEPAXIS' '=' ( 'NUMBER' " + storeCode(slot, 1) + " | 'EFFECT' " + storeCode(slot, 2) +
         " | 'NORMB'/'NORMBETA$' " + storeCode(slot, 3) + " )";
}
std::string stepRange(int start, int end) {
  return "'STARTSTEP' '=' #20(0) " + storeNumber(start) + " INT | 'ENDSTEP' '=' #20(0) " +
         storeNumber(end) + " INT";
}
std::string order(int slot) {
  return "'ORDER' '=' ( 'MODEL' " + storeCode(slot, 0) + " | 'ASCENDING' " + storeCode(slot, 1) +
         " | 'DESCENDING' " + storeCode(slot, 2) + " )";
}

const std::string kProcStatement =
    "#1 #3(76) 'VARSIFTER' { procopt } " +
    act(GrammarAction::DefaultDataSet, {kSlotData, 1, 1, 2, 2, 2, 0}) + " #4";
const std::string kProcOptions =
    "( 'DATA' '=' dsname " + act(GrammarAction::DataSet, {kSlotData, 1, 1, 2, 2, 2, 0}) +
    " | 'NAMELEN' '=' " + storeNumber(ProcSlot::NameLen) + " #20(20,200) INT" +
    " | 'VALDATA'/'VALIDDATA$'/'VDATA$' '=' dsname " +
    act(GrammarAction::DataSet, {ProcSlot::ValData, 1, 0, 2, 2, 3, 0}) +
    " | 'TESTDATA'/'TDATA$' '=' dsname " +
    act(GrammarAction::DataSet, {ProcSlot::TestData, 1, 0, 2, 2, 3, 0}) + " | 'SEED' '=' " +
    storeNumber(ProcSlot::Seed) + " INT" + " | 'MAXMACRO' '=' #20(65535) " +
    storeNumber(ProcSlot::MaxMacro) + " INT" + " | 'SHOWINTERNALTABLES$' " +
    setFlag(ProcFlag::ShowInternal) + " | 'NOPRINT' " + setFlag(ProcFlag::NoPrint) +
    " | 'PLOTS'/'PLOT' " + setFlag(ProcFlag::Plots) + " [ '(' { globplotopt } ')' ]" + "   [ '=' " +
    setFlag(ProcFlag::PlotRequests) + " ( '(' { plotreq } ')' | plotreq ) ]" +
    " | 'PARMLABELSTYLE'/'LSTYLE$' '=' ( 'INTERLACED'/'INTERLACE$' " +
    storeCode(ProcSlot::ParmLabelStyle, 0) + "   [ '(' 'SEPARATOR' " +
    setFlag(ProcFlag::Separator) + " '=' " + appendText(ProcSlot::Separator) + " QS ')' ]" +
    "   | 'SEPARATE'/'SEPARATED$' " + storeCode(ProcSlot::ParmLabelStyle, 1) +
    " | 'SEPARATECOMPACT'/'SEPARATEDCOMPACT$' " + storeCode(ProcSlot::ParmLabelStyle, 2) + " )" +
    " | 'SHORTPARMNAMES$' " + setFlag(ProcFlag::ShortParmNames) + " [ '=' " +
    appendText(ProcSlot::ShortParmNames) + " QS ]" + " | 'OUTDESIGN'/'DESIGN$' " +
    setFlag(ProcFlag::OutDesign) + " [ '(' { 'FULLMODEL' " + setFlag(ProcFlag::FullModel) +
    " | 'ADDINPUTVARS' " + setFlag(ProcFlag::AddInputVars) + "   | 'PREFIX' " +
    setFlag(ProcFlag::Prefix) + " [ '=' " + setFlag(ProcFlag::PrefixName) + " " +
    startList(ProcSlot::Prefix, 9) + " outname ] | 'NAMES' " + setFlag(ProcFlag::Names) +
    " } ')' ]" + "   '=' dsname " +
    act(GrammarAction::DataSet, {ProcSlot::OutDesign, 2, 0, 2, 2, 4, 0, 0}) + " )";
const std::string kGlobalPlotOptions =
    "( 'UNPACK'/'UNPACKPANEL' " + setFlag(ProcFlag::Unpack) + " | 'LOGPVALUE$'/'LOGP' " +
    setFlag(ProcFlag::LogP) + " | 'CANDIDATES' '=' #20(2) " + storeNumber(ProcSlot::Candidates) +
    " INT" + " | 'MAXSTEPLABEL' '=' #20(9,256) " + storeNumber(ProcSlot::MaxStepLabel) + " INT" +
    " | 'MAXPARMLABEL' '=' #20(0,256) " + storeNumber(ProcSlot::MaxParmLabel) + " INT" + " | " +
    stepAxis(ProcSlot::StepAxis) + " | " + stepRange(ProcSlot::StartStep, ProcSlot::EndStep) + " )";
const std::string kPlotRequests =
    "( 'COEFFICIENTPANEL$'/'COEFFICIENTS'/'COEFFICIENT$' " + setFlag(ProcFlag::CoefPlot) +
    " [ '(' { coefopt } ')' ]" + " | 'SELECTOGRAM$' " + setFlag(ProcFlag::SelgPlot) +
    " [ '(' { selgopt } ')' ]" + " | 'CANDIDATESPLOT$'/'CANDIDATES' " +
    setFlag(ProcFlag::CandPlot) + " [ '(' { candopt } ')' ]" + " | 'ASEPLOT$'/'ASE' " +
    setFlag(ProcFlag::AsePlot) + " [ '(' { aseopt } ')' ]" +
    " | 'CRITERIONPANEL$'/'CRITERION$'/'CRITERIA' " + setFlag(ProcFlag::CritPlot) +
    " [ '(' { critopt } ')' ]" + " | 'ALL' " + setFlag(ProcFlag::PlotAll) + " | 'NONE' " +
    setFlag(ProcFlag::PlotNone) + " | 'EFFECTSELECTPCT'/'SELECTPCT'/'EFFECTSELECTPCTPLOT$' " +
    setFlag(ProcFlag::EspPlot) + " [ '(' { espopt } ')' ]" +
    " | 'PARMDIST'/'PARMDISTRIBUTION'/'PARMDISTPANEL$' " + setFlag(ProcFlag::PdPlot) +
    " [ '(' { pdopt } ')' ] )";
const std::string kCoefOptions = "( " + stepAxis(kSlotCoefStepAxis) + " | 'UNPACK'/'UNPACKPANEL' " +
                                 setFlag(ProcFlag::CoefUnpack) + " | 'LOGPVALUE$'/'LOGP' " +
                                 setFlag(ProcFlag::CoefLogP) + " | 'LABELGAP' '=' #20(0,100) " +
                                 storeNumber(ProcSlot::CoefLabelGap) + " number" + " | " +
                                 stepRange(ProcSlot::CoefStart, ProcSlot::CoefEnd) + " )";
const std::string kSelectogramOptions =
    "( 'LOGPVALUE$'/'LOGP' " + setFlag(ProcFlag::SelgLogP) + " | 'NORMALIZEDCRITERIA'/'NORMC' " +
    setFlag(ProcFlag::SelgNormc) + " | 'EMPHASISFACTOR'/'EMPHASIS' '=' #20(0,1) " +
    storeNumber(kSlotEmphasis) + " number" + " | 'CANDIDATES' '=' #20(2) " +
    storeNumber(ProcSlot::SelgCandidates) + " INT )";
const std::string kCandidatesOptions = "( 'LOGPVALUE$'/'LOGP' " + setFlag(ProcFlag::CandLogP) +
                                       " | 'SHOW' '=' #20(2,1000) " +
                                       storeNumber(ProcSlot::CandShow) + " INT )";
const std::string kAseOptions = "( " + stepAxis(kSlotAseStepAxis) + " | " +
                                stepRange(ProcSlot::AseStart, ProcSlot::AseEnd) + " )";
const std::string kCriteriaOptions = "( " + stepAxis(kSlotCritStepAxis) +
                                     " | 'UNPACK'/'UNPACKPANEL' " + setFlag(ProcFlag::CritUnpack) +
                                     " | " + stepRange(ProcSlot::CritStart, ProcSlot::CritEnd) +
                                     " )";
const std::string kEspOptions = "( 'MINPCT'/'MINPERCENT$' '=' #20(0,100) " +
                                storeNumber(ProcSlot::EspMinPct) + " number" + " | " +
                                order(ProcSlot::EspOrder) + " )";
const std::string kParmDistOptions =
    "( 'UNPACK' " + setFlag(ProcFlag::PdUnpack) + " | 'MINPCT'/'MINPERCENT$' '=' #20(0,100) " +
    storeNumber(ProcSlot::PdMinPct) + " number" + " | " + order(ProcSlot::PdOrder) +
    " | 'PLOTSPERPANEL' '=' #20(1,16) " + storeNumber(ProcSlot::PdPerPanel) +
    " number | 'NOBOXPLOTS' " + setFlag(ProcFlag::PdNoBox) + " )";
const std::string kBy = "#2 'BY' " + startList(kSlotByVariables, 3) +
                        " [ 'NOTSORTED' #29(3) ]"
                        " { #29(1) [ 'DESCENDING' #29(2) ] varitem [ 'NOTSORTED' #29(3) ] } #29(0)";
const std::string kFreq = "#2 'FREQ'/'FREQUENCY' " + startList(ProcSlot::Freq, 1) + " variable";
const std::string kWeight =
    "#2 'WEIGHT'/'WEIGHTS$' " + startList(ProcSlot::Weight, 1) + " variable";

const std::string kModelAverage =
    "#3(23) 'MODELAVERAGE' " + setFlag(AverageFlag::Statement) + " { maopt } #4";
const std::string kAverageOptions =
    "( 'NTHREADS$' '=' #20(0) " + storeNumber(AverageSlot::Threads) +
    " INT | 'NSAMPLES' '=' #20(1) " + storeNumber(AverageSlot::Samples) + " INT" + " | 'DETAILS' " +
    setFlag(AverageFlag::Details) + " | 'INMEMORY$' '=' ( 'YES' " + setFlag(AverageFlag::InMemory) +
    " | 'NO' )" + " | 'SAMPLING'/'SAMPLINGMETHOD'/'SAMPLEMETHOD$' '=' ( 'URS' | 'SRS' " +
    setFlag(AverageFlag::Srs) + " )" + "   [ '(' { 'SIZE'/'SAMPSIZE$' '=' #20(1) " +
    storeNumber(AverageSlot::SampleSize) + " number" +
    "   | 'PCT'/'PERCENTAGE'/'PERCENT'/'SAMPPERCENT$' '=' #20(0,100) " +
    storeNumber(AverageSlot::SamplePct) + " number } ')' ]" + " | 'SHAREDDRIVE$' " +
    setFlag(AverageFlag::SharedDrive) + " '=' " + appendText(AverageSlot::SharedDrive) + " QS" +
    " | 'SCHEDULE$' '=' ( 'STATIC' " + setFlag(AverageFlag::StaticSchedule) + " | #20(1) " +
    storeNumber(AverageSlot::ScheduleChunk) + " INT )" + " | 'TABLES'/'SHOW' [ '(' 'ONLY' " +
    setFlag(AverageFlag::TablesOnly) + " ')' ] '=' ( '(' { tableitem } ')' | tableitem )" +
    " | 'ALPHA' '=' #20(0,1) " + storeNumber(AverageSlot::Alpha) + " number" +
    " | 'PARMTHRESHOLD$'/'THRESHOLD$' '=' #20(0,99) " + storeNumber(AverageSlot::ParmThreshold) +
    " number" + " | 'SUBSET' '(' { 'MINMODELFREQ' '=' #20(1) " +
    storeNumber(AverageSlot::MinModelFreq) + " INT" + "   | 'BEST' '=' #20(1) " +
    storeNumber(AverageSlot::SubsetBest) + " INT } ')'" + " | 'AVERAGEMETHOD$' " +
    setFlag(AverageFlag::AverageMethod) + " '=' ( 'MEAN' " +
    storeCode(AverageSlot::AverageMethod, 1) + " [ trim ]" + "   | 'MEANNONZERO'/'MEANNZ' " +
    storeCode(AverageSlot::AverageMethod, 2) + " [ trim ] | 'MEDIAN' " +
    storeCode(AverageSlot::AverageMethod, 3) + "   | 'MEDIANNONZERO'/'MEDIANNZ' " +
    storeCode(AverageSlot::AverageMethod, 4) + " )" + " | 'REFIT' " + setFlag(AverageFlag::Refit) +
    " [ '(' { 'MINPCT'/'MINPERCENT$' '=' #20(0,100) " + storeNumber(AverageSlot::RefitMinPct) +
    " number" + "   | 'NSAMPLES' '=' #20(1) " + storeNumber(AverageSlot::RefitSamples) +
    " INT | 'BEST' '=' #20(0) " + storeNumber(AverageSlot::RefitBest) + " INT" + "   | 'ALL' " +
    setFlag(AverageFlag::RefitAll) + " } ')' ] )";
const std::string kTrim =
    "'(' 'TRIMPERCENT'/'TRIM$' '=' " + storeNumber(AverageSlot::TrimPercent) + " number ')'";
const std::string kTableItem =
    "( 'EFFECTSELECTPCT'/'EFFECTSELPERCENT$' " + setFlag(AverageFlag::EspTable) + " [ '(' {" +
    "   'MINPCT'/'MINPERCENT$' '=' #20(0,100) " + storeNumber(AverageSlot::EspMinPct) + " number" +
    "   | " + order(AverageSlot::EspOrder) + "   | 'ALL' " + setFlag(AverageFlag::EspAll) +
    " } ')' ]" + " | 'MODELSELECTFREQ' " + setFlag(AverageFlag::MsfTable) +
    " [ '(' { 'BEST' '=' #20(1) " + storeNumber(AverageSlot::MsfBest) + " INT | 'ALL' " +
    setFlag(AverageFlag::MsfAll) + " } ')' ]" + " | 'PARMEST' " + setFlag(AverageFlag::PestTable) +
    " [ '(' { 'MINPCT'/'MINPERCENT$' '=' #20(0,100) " + storeNumber(AverageSlot::PestMinPct) +
    " number" + "   | " + order(AverageSlot::PestOrder) + "   | 'NONZEROPARMS' " +
    setFlag(AverageFlag::NonzeroParms) + " | 'ALL' " + setFlag(AverageFlag::PestAll) + " } ')' ]" +
    " | 'ALL' " + setFlag(AverageFlag::AllTables) + " | 'NONE' " + setFlag(AverageFlag::NoTables) +
    " )";

// Rule 0 is the start rule. Flags and slots are those the readers read; support/protocol.h
// names the slots this grammar adds to the procedure statement's node.
const GrammarRule kRules[] = {
    {"statement",
     "( procstmt | bystmt | classstmt | effectstmt | freqstmt | partitionstmt | modelstmt"
     " | weightstmt | outputstmt | performancestmt | scorestmt | modelaveragestmt"
     " | storestmt | codestmt )"},

    // ---- shared value forms ----
    {"number", "( INT | NBR | DATE | TIME | DATETIME )"},
    {"name", "#26(1) ( NAMEX | VLITERAL ) #25(1)"},
    {"outname", "#26(1) ( NAMEX | VLITERAL ) #25(2)"},
    {"vname", "( NAMEX | VLITERAL )"},
    {"variable", "#9 ( NAMEX | VLITERAL ) #10(1)"},
    {"varlist", "{ varitem }"},
    {"varitem",
     "( '_NUMERIC_' #10(7) | '_CHARACTER_'/'_CHAR_' #10(8) | '_ALL_' #10(9)"
     " | #9 ( NAMEX | VLITERAL ) ( ':' #10(6) | '-' ( '-' vname #10(3)"
     " | 'NUMERIC' '-' vname #10(4) | 'CHARACTER'/'CHAR' '-' vname #10(5) | vname #10(2) )"
     " | #10(1) ) )"},
    {"dsname", "#30(208) #30(108) #15 ( NAMEX | VLITERAL | COMPOUND | FMT | QS )"
               " [ #30(18) #36(1) '(' #36(2) ')' #30(118) ]"},
    {"numlist", "( '(' numitems ')' | numitems )"},
    {"numitems", "{ ( #19(1) number [ 'TO' #19(2) number [ 'BY' #19(3) number ] ]"
                 " | #19(5,99) 'ALT' | #19(5,20) ( NAMEX | VLITERAL | FMT ) ) #19(4) [ ',' ] }"},

    // ---- procedure statement (also receives BY, CLASS, FREQ and WEIGHT) ----
    {"procstmt", kProcStatement.c_str()},
    {"procopt", kProcOptions.c_str()},
    {"globplotopt", kGlobalPlotOptions.c_str()},
    {"plotreq", kPlotRequests.c_str()},
    {"coefopt", kCoefOptions.c_str()},
    {"selgopt", kSelectogramOptions.c_str()},
    {"candopt", kCandidatesOptions.c_str()},
    {"aseopt", kAseOptions.c_str()},
    {"critopt", kCriteriaOptions.c_str()},
    {"espopt", kEspOptions.c_str()},
    {"pdopt", kParmDistOptions.c_str()},

    // ---- BY, CLASS, FREQ, WEIGHT (into the procedure statement's node) ----
    {"bystmt", kBy.c_str()},
    {"classstmt",
     "#2 'CLASS' { #8(2,3) varitem [ '(' { classvaropt } ')' ] } [ '/' { classglobopt } ]"},
    {"coding",
     "( 'EFFECT' #22(0) | 'ORTHEFFECT' #22(1) | 'REF'/'REFERENCE' #22(2) | 'ORTHREF' #22(3)"
     " | 'POLY'/'POLYNOMIAL' #22(4) | 'ORTHPOLY' #22(5)"
     " | 'ORD'/'ORDINAL'/'THERMOMETER'/'THERM' #22(7) | 'ORTHORDINAL'/'ORTHOTHERM' #22(8)"
     " | 'BATH$'/'BATHTUB$' #22(9) | 'ORTHBATH$'/'ORTHBATHTUB$' #22(10) )"},
    {"classorder", "( 'FORMATTED' #22(0) | 'DATA' #22(1) | 'FREQ' #22(2) | 'INTERNAL' #22(3) )"},
    {"classvaropt", "( 'PARAM'/'CODING' #31(14,2) '=' #8(15,1) coding"
                    " | 'ORDER' #31(17,2) '=' #8(18,1) classorder"
                    " | 'REFERENCE'/'REF' #31(20,2) '=' #8(21,1) ( 'FIRST' #22(1) | 'LAST' #22(2)"
                    "   | #22(3) #7(22,5) QS )"
                    " | 'DESCENDING'/'DESC' #31(24,2) #8(25,1) #22(1)"
                    " | 'CPREFIX' #31(27,2) '=' #7(28,1) #20(65535) INT"
                    " | 'LPREFIX' #31(30,2) '=' #7(31,1) #20(65535) INT"
                    " | 'MISSING' #31(33,2) #8(34,1) #22(1)"
                    " | 'SPLIT' #31(43,2) #8(44,1) #22(1) )"},
    {"classglobopt", "( 'PARAM'/'CODING' '=' #8(16,1) ( coding | 'GLM' #22(6) )"
                     " | 'ORDER' '=' #8(19,1) classorder"
                     " | 'REFERENCE'/'REF' '=' #8(23,1) ( 'FIRST' #22(1) | 'LAST' #22(2) )"
                     " | 'DESCENDING'/'DESC' #8(26,1) #22(1)"
                     " | 'CPREFIX' '=' #7(29,1) #20(65535) INT"
                     " | 'LPREFIX' '=' #7(32,1) #20(65535) INT"
                     " | 'MISSING' #8(35,1) #22(1)"
                     " | 'TRUNCATE' #5(40) [ '=' #6(36,1) #20(65535) INT ]"
                     " | 'SHOWCODING'/'SHOW' #5(41) | 'SPLIT' #5(42)"
                     " | 'DELIMITER' '=' #7(37,5) QS )"},
    {"freqstmt", kFreq.c_str()},
    {"weightstmt", kWeight.c_str()},

    // ---- MODEL ----
    {"modelstmt", "#3(38) 'MODEL' #8(2,1) varlist '=' #8(1,9) #39(16) { effect } #39(17)"
                  " [ '/' { modelopt } ] #4"},
    {"effect", "#39(8,0) #39(7,0) ( '_NUMERIC_' #39(10,6) | '_CHARACTER_'/'_CHAR_' #39(10,7)"
               " | term ( ':' #39(10,5) | { effsep term } ) ) [ '@' #39(12) number ] #39(6)"},
    {"effsep", "( '|' #39(10,0) | '-' ( 'NUMERIC' '-' #39(10,3) | 'CHARACTER'/'CHAR' '-' #39(10,4)"
               " | '-' #39(10,2) | #39(10,1) ) )"},
    {"term", "#39(0) evar { '*' evar } [ '(' { [ '*' ] #39(2) #26(1) vname } ')' ] #39(5)"},
    {"evar", "#39(1) #16(1,1) ( NAMEX | VLITERAL )"},
    {"crit11", "( 'SIGNIFICANCELEVEL'/'SL' #33(11,1) | 'AIC' #33(11,2) | 'AICC' #33(11,3)"
               " | 'SBC' #33(11,4) | 'RSQUARE' #33(11,5) | 'ADJRSQ' #33(11,6) | 'CP' #33(11,7)"
               " | 'BIC' #33(11,8) | 'PRESS' #33(11,9) | 'VALIDATE' #33(11,10)"
               " | 'CV'/'CROSSVALIDATE'/'XVALIDATE$' #33(11,11) )"},
    {"crit12",
     "( 'SIGNIFICANCELEVEL'/'SL' #33(12,1) | 'AIC' #33(12,2) | 'AICC' #33(12,3)"
     " | 'SBC' #33(12,4) | 'RSQUARE' #33(12,5) | 'ADJRSQ' #33(12,6) | 'CP' #33(12,7)"
     " | 'BIC' #33(12,8) | 'PRESS' #33(12,9) | 'VALIDATE' #33(12,10)"
     " | 'CV'/'CROSSVALIDATE'/'XVALIDATE$' #33(12,11) | 'NONE' #33(12,12) | 'L1' #33(12,14) )"},
    {"crit14", "( 'AIC' #33(14,2) | 'AICC' #33(14,3) | 'SBC' #33(14,4) | 'RSQUARE' #33(14,5)"
               " | 'ADJRSQ' #33(14,6) | 'CP' #33(14,7) | 'BIC' #33(14,8) | 'PRESS' #33(14,9)"
               " | 'VALIDATE' #33(14,10) | 'CV'/'CROSSVALIDATE'/'XVALIDATE$' #33(14,11)"
               " | 'CVEXTERNAL'/'CVEX'/'EXCV' #33(14,13) )"},
    {"oslentry", "'SLENTRY'/'SLE' '=' #20(0,1) #6(5,1) number"},
    {"oslstay", "'SLSTAY'/'SLS' '=' #20(0,1) #6(8,1) number"},
    {"oinclude", "'INCLUDE' '=' #20(0) #6(7,1) INT"},
    {"ostart", "'START' '=' #20(1) #6(15,1) INT"},
    {"omaxsteps", "'MAXSTEPS'/'MAXSTEP' '=' #20(1) #6(6,1) INT"},
    {"osteps", "'STEPS' '=' #20(1) #6(4,1) INT"},
    {"oselect", "'SELECT' #5(3) '=' crit11"},
    {"ostop", "'STOP' #5(4) '=' ( #20(1) #6(16,1) INT | crit12 )"},
    {"ochoose", "'CHOOSE' '=' crit14"},
    {"odrop",
     "'DROP' '=' ( 'BEFOREADD' #33(18,1) | 'COMPETITIVE' #33(18,2) | 'AFTERADD' #33(18,3) )"},
    {"fwdopt", "( oslentry | oinclude | ostart | omaxsteps | osteps | oselect | ostop | ochoose )"},
    {"bwdopt", "( oslstay | oinclude | omaxsteps | osteps | oselect | ostop | ochoose )"},
    {"swopt", "( oslentry | oslstay | oinclude | ostart | omaxsteps | osteps | oselect | ostop"
              " | ochoose | odrop )"},
    {"penopt",
     "( oslentry | oslstay | omaxsteps | osteps | ostop | ochoose"
     " | 'LSCOEFFS'/'LEASTSQUARESCOEFFS' #5(30)"
     " | 'ADAPTIVE' #5(41) [ '(' { 'GAMMA' '=' #20(0) #6(22,1) number"
     "   | 'INEST'/'IN' '=' dsname #17(23,1,0,2,2,3,0) } ')' ]"
     " | 'L2' '=' #6(25,1) number | 'ENSCALE' #5(76)"
     " | 'SHOWL2SEARCH$' #5(77) | 'SHOWCVEX$' #5(78) | 'SHOWSTEPL1$' #5(79)"
     " | 'LINEARCVEX$' #5(80)"
     " | 'L2STEPS' '=' #20(2) #6(26,1) INT"
     " | 'L2SEARCH' '=' ( 'NONE' #33(27,1) | 'GOLDEN' #33(27,2) | 'GRID' #33(27,3) )"
     " | 'L2LOW' '=' #20(0) #6(28,1) number | 'L2HIGH' '=' #20(0) #6(29,1) number"
     " | 'L1' '=' #20(0) #6(30,1) number"
     " | 'L1CHOICE' '=' ( 'RATIO' #33(31,1) | 'NORM' #33(31,2) | 'VALUE' #33(31,3) )"
     " | 'SCREEN' '=' ( 'NONE' #33(32,1) | 'BASE$' #33(32,2) | 'SASVI' #33(32,3)"
     "   | 'SASVI2$' #33(32,4) | 'DPP$' #33(32,5) | 'SIS' #33(32,6) [ '(' {"
     "   'KEEPNUM' '=' #20(1) #6(34,1) INT | 'KEEPRATIO' '=' #20(0,1) #6(35,1) number } ')' ] )"
     " | 'SCREENSTEPS$' '=' #20(1) #6(33,1) INT | 'SHOWSCREEN$' #5(81)"
     " | 'RHO' '=' #20(0,1) #6(36,1) number | 'TOL' '=' #20(0,1) #6(37,1) number"
     " | 'TOLERANCE' )"},
    {"method",
     "( 'NONE' #33(10,1) | 'FORWARD' #33(10,2) [ '(' { fwdopt } ')' ]"
     " | 'BACKWARD' #33(10,3) [ '(' { bwdopt } ')' ]"
     " | 'STEPWISE' #33(10,4) [ '(' { swopt } ')' ]"
     " | 'LAR' #33(10,5) [ '(' { penopt } ')' ] | 'LASSO' #33(10,6) [ '(' { penopt } ')' ]"
     " | 'ELASTICNET' #33(10,9) [ '(' { penopt } ')' ]"
     " | 'QKLASSO$' #33(10,11) [ '(' { penopt } ')' ]"
     " | 'QKGLASSO$' #33(10,12) [ '(' { penopt } ')' ]"
     " | 'GROUPLASSO' #33(10,13) [ '(' { penopt } ')' ] )"},
    {"statitem", "( 'ALL' #5(10) | 'SIGNIFICANCELEVEL'/'SL' #5(11) | 'FVALUE' #5(12) | 'AIC' #5(13)"
                 " | 'AICC' #5(14) | 'SBC' #5(15) | 'BIC' #5(16) | 'CP' #5(17) | 'PRESS' #5(18)"
                 " | 'RSQUARE' #5(19) | 'ADJRSQ' #5(20) | 'ASE' #5(21) )"},
    {"stepitem",
     "( 'ALL' #5(23) | 'ANOVA' #5(24) | 'FITSTATISTICS'/'FITSTATS'/'FIT' #5(25)"
     " | 'PARAMETERESTIMATES'/'PARMEST' #5(26)"
     " | 'CANDIDATES' #5(27) [ '(' 'SHOW' '=' ( 'ALL' #5(29) | #20(1) #6(17,1) INT ) ')' ] )"},
    {"cvcount", "'(' #20(2) #6(20,1) INT ')'"},
    {"modelopt",
     "( 'NOINT' #5(1)"
     " | 'STATS'/'STATISTICS'/'STAT' '=' ( '(' { statitem } ')' | statitem )"
     " | 'DETAILS' '=' ( 'ALL' #33(13,3) | 'STEPS' #33(13,2) [ '(' #5(22) { stepitem } ')' ]"
     "   | 'SUMMARY' #33(13,1) )"
     " | 'SELECTION' #5(2) '=' method"
     " | 'HIERARCHY'/'HIER' '=' ( 'NONE' #33(9,0) | 'SINGLE' #33(9,1) | 'SINGLECLASS' #33(9,2) )"
     " | 'ORDERSELECT' #5(28) | 'STB' #5(31)"
     " | 'CVMETHOD'/'XVMETHOD$' #5(32) '=' ( 'RANDOM' [ cvcount ] | 'BLOCK' #5(33) [ cvcount ]"
     "   | 'SPLIT' #5(34) [ cvcount ] | 'INDEX' #5(39) '(' #8(21,1) variable ')' )"
     " | 'CVDETAILS' #5(35) [ '=' ( 'CVPRESS' #5(36) | 'COEFFS' #5(37) | 'ALL' #5(38) ) ]"
     " | 'SHOWPVALUES'/'SHOWPVALS' #5(40) | 'NOSTANDARDIZE$' #5(42)"
     " | 'FUZZ' '=' #20(0,1) #6(24,1) number"
     " | oslentry | oslstay | oinclude | ostart | omaxsteps | osteps | oselect | ostop"
     " | ochoose | odrop )"},

    // ---- EFFECT ----
    {"effectstmt", "#3(25) #39(14) 'EFFECT' #8(1,9) name '=' efkind #4"},
    {"efkind", "( 'MULTIMEMBER'/'MM' #33(2,1) '(' #8(3,3) varlist [ '/' { mmopt } ] ')'"
               " | 'COLLECTION'/'VARIABLES$'/'VARS$' #33(2,2) '(' #8(3,3) varlist"
               "   [ '/' { efdetails } ] ')'"
               " | 'SPLINE'/'SPL' #33(2,3) '(' #8(3,1) varlist [ '/' { splopt } ] ')'"
               " | 'POLY'/'POLYNOMIAL' #33(2,4) '(' #8(3,1) varlist [ '/' { polyopt } ] ')'"
               " | 'LAG' #33(2,5) '(' #8(3,3) varitem [ '/' { lagopt } ] ')' )"},
    {"efdetails", "'DETAILS' #5(4) [ '(' 'DELIMITER' '=' #7(14,5) QS ')' ]"},
    {"mmopt", "( 'WEIGHT' '=' '(' #8(4,1) varlist ')' | efdetails | 'NOEFFECT' #5(8)"
              " | 'STDIZE'/'ROWSTD' #5(9) )"},
    {"splopt", "( 'KNOTMETHOD' '=' knotmethod | 'DEGREE' '=' #20(0) #6(5,1) INT"
               " | 'BASIS' '=' ( 'BSPLINE' #33(10,1) | 'TPF' #33(10,2)"
               "   [ '(' { 'NOINT' #5(5) | 'NOPOWERS' #5(6) } ')' ] )"
               " | 'KNOTMIN' '=' #6(6,1) number | 'KNOTMAX' '=' #6(7,1) number"
               " | 'NATURALCUBIC'/'NATURAL'/'RESTRICTED' #5(1) | 'SEPARATE' #5(2) | 'SPLIT' #5(3)"
               " | 'DETAILS' #5(4) | 'DATABOUNDARY' #5(7) )"},
    {"knotmethod",
     "( 'EQUAL' #33(13,1) [ '(' #20(0) #6(8,1) INT ')' ]"
     " | 'MULTISCALE' #33(13,2) [ '(' { 'STARTLEVEL'/'STARTSCALE$' '=' #20(0) #6(11,1) INT"
     "   | 'ENDSCALE'/'ENDLEVEL$' '=' #20(0,15) #6(12,1) INT } ')' ]"
     " | 'LIST' #33(13,3) '(' #8(9,4) numitems ')'"
     " | 'RANGEFRACTIONS' #33(13,4) '(' #20(0,1) #8(9,4) numitems ')'"
     " | 'PERCENTILES' #33(13,5) '(' #20(0) #6(8,1) INT ')'"
     " | 'LISTWITHBOUNDARY' #33(13,6) '(' #8(9,4) numitems ')' )"},
    {"polyopt",
     "( 'DEGREE' '=' #20(1) #6(15,1) INT | 'MDEGREE'/'MONOMIALDEGREE' '=' #20(1) #6(21,1) INT"
     " | 'NOSEPARATE' #5(20) | 'DETAILS' #5(4)"
     " | 'STANDARDIZE' #5(21) [ '(' { 'PREFIX' '=' ( 'NONE' #5(22) | #7(17,5) QS )"
     "   | 'METHOD' '=' ( 'MOMENTS' #33(20,1) | 'WMOMENTS' #33(20,2) | 'RANGE' #33(20,3) ) } ')' ]"
     "   [ '=' { 'NONE' #33(16,0) | 'CENTER' #33(16,1) | 'SCALE' #33(16,2)"
     "   | 'CENTERSCALE' #33(16,3) } ]"
     " | 'LABELSTYLE' '=' ( '(' { lsitem } ')' | lsitem ) )"},
    {"lsitem", "( 'EXPONENT' #5(23) [ '=' #7(18,5) QS ] | 'EXPAND' #5(24) | 'INCLUDENAME' #5(25)"
               " | 'PRODUCTSYMBOL' '=' ( 'NONE' #5(26) | #7(19,5) QS ) )"},
    {"lagopt", "( 'NLAG' '=' #20(1) #6(22,1) INT"
               " | 'WITHIN' '=' ( '(' #8(23,3) varlist ')' | #8(23,3) variable )"
               " | 'PERIOD' '=' #8(24,3) variable | 'DETAILS' #5(4) [ '(' 'LEVELS' #5(1) ')' ]"
               " | 'DESIGNROLE' '=' #8(25,1) variable )"},

    // ---- PARTITION, OUTPUT, SCORE ----
    {"partitionstmt", kPartition.c_str()},
    {"statopt", kStatOptions.c_str()},
    {"outputstmt", kOutput.c_str()},
    {"scorestmt", kScore.c_str()},

    // ---- PERFORMANCE ----
    {"performancestmt", "#3(5) 'PERFORMANCE' { perfopt } #4"},
    {"perfopt", kPerfOptions.c_str()},

    // ---- MODELAVERAGE ----
    {"modelaveragestmt", kModelAverage.c_str()},
    {"maopt", kAverageOptions.c_str()},
    {"trim", kTrim.c_str()},
    {"tableitem", kTableItem.c_str()},

    // ---- STORE and CODE (handed on, not read here) ----
    {"storestmt",
     "#3(7) 'STORE'/'ITEMSTORE$' [ 'OUT'/'OUTSTORE' '=' ] #8(1,6) #30(208) #30(108) #35(6,1)"
     " ( NAMEX | COMPOUND | FMT | QS ) [ '/' { 'LABEL' '=' #5(3) #6(5,5) QS } ] #4"},
    {"codestmt", "#3(20) #23(16) 'CODE' #33(1,13165) #30(114) { codeopt } #4"},
    {"codeopt",
     "( 'FILE' '=' ( #6(11,3) QS | #6(11,2,8,1) #16(1,1,1) NAMEX )"
     " | 'METABASE'/'CATALOG'/'CAT'/'C' '=' #8(12,6) #30(208) #30(108) #13(1)"
     "   ( NAMEX | COMPOUND | FMT )"
     "   [ '(' { 'READ' '=' #13(2) NAMEX | 'PROTECT' '=' #13(3) NAMEX } ')' ]"
     " | 'FORMAT' '=' #6(13,5) FMT | 'LINESIZE'/'LS$' '=' #20(78,254) #6(14,1) INT"
     " | 'LOOKUP'/'LOOK' '=' ( 'AUTO' #33(15,0) | 'SELECT' #33(15,1) | 'LINEAR' #33(15,2)"
     "   | 'BINARY' #33(15,4) )"
     " | 'GROUP' '=' #6(17,3,16) ( NAMEX | VLITERAL )"
     " | 'RESIDUALS'/'RES'/'RESIDUAL' #5(11) | 'NORESIDUALS'/'NORES'/'NORESIDUAL' #5(12)"
     " | 'ERRORS'/'ERR'/'ERROR' #5(13) | 'NOERRORS'/'NOERR'/'NOERROR' #5(14)"
     " | 'DUMMIES'/'DUM'/'DUMMY' #5(15) | 'NODUMMIES'/'NODUM'/'NODUMMY' #5(16)"
     " | 'IMPUTE'/'IMPUTATION$' #5(17) )"},
};

} // namespace

const GrammarRule* vsfGrammarRules(int* count) {
  *count = static_cast<int>(sizeof kRules / sizeof kRules[0]);
  return kRules;
}

VsfGrammar* vsfselg() {
  auto* g = static_cast<VsfGrammar*>(xtalloc(sizeof(VsfGrammar), 0x2004));
  if (g == nullptr)
    xexit(1016, 0);
  std::memset(g, 0, sizeof *g);
  g->tableFormat = kGrammarRuleText;
  g->tokenClassCount = TC_COUNT;
  g->rules = vsfGrammarRules(&g->ruleCount);
  return g;
}
