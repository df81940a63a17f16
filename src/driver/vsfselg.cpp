// The procedure's grammar: one rule per statement and per shared value form, in the rule
// notation of support/grammar.h, with the action routines that fill the statement nodes.
// The host parser interprets the rules; the statement readers read the nodes.
#include "driver/vsfselg.h"

#include "effects/levdesign.h"
#include "effects/levkinds.h"
#include "support/hoststubs.h"
#include "support/parsedstmt.h"
#include "support/stepcodes.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"
#include "support/vsfoutputstat.h"

#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, int>& builtActions() {
  static std::map<std::string, int> items;
  return items;
}

// Action items of the rule notation, written from the named actions, flags and slots:
// #c, or #c(a,b,...). Every item of the rules is made here, and counted.
std::string act(int code, const std::vector<int>& args = {}) {
  // Appended piece by piece: GCC 12's optimiser takes "text" + std::string for an
  // overlapping copy (-Wrestrict).
  std::string text = "#";
  text += std::to_string(code);
  const char* sep = "(";
  for (int a : args) {
    text += sep;
    text += std::to_string(a);
    sep = ",";
  }
  if (args.size())
    text += ")";
  ++builtActions()[text];
  return text;
}
std::string setFlag(StmtFlagKey auto flag) { return act(GrammarAction::SetFlag, {keyOf(flag)}); }
// SetSwitch sets its flag as SetFlag does; the 1 after it is the host's own word.
std::string setSwitch(StmtFlagKey auto flag) {
  return act(GrammarAction::SetSwitch, {keyOf(flag), 1});
}
std::string storeNumber(StmtSlotKey auto slot) {
  return act(GrammarAction::StoreValue, {keyOf(slot), ValueForm::Number});
}
// The number of an option's code, as StoreCode and ListCode write it.
template <class E> int codeNumber(E code) { return static_cast<int>(code); }
std::string storeCode(StmtSlotKey auto slot, auto code) {
  return act(GrammarAction::StoreCode, {keyOf(slot), codeNumber(code)});
}
// The bounds of the number that follows: at least min, or between min and max.
std::string range(int min) { return act(GrammarAction::Range, {min}); }
std::string range(int min, int max) { return act(GrammarAction::Range, {min, max}); }
std::string newNode(int lastSlot) { return act(GrammarAction::NewNode, {lastSlot}); }
std::string endStatement() { return act(GrammarAction::EndStatement); }
std::string listCode(auto code) { return act(GrammarAction::ListCode, {codeNumber(code)}); }
std::string effect(int code) { return act(GrammarAction::Effect, {code}); }
std::string effect(int code, int operand) { return act(GrammarAction::Effect, {code, operand}); }
// The host parser's own name and token handling: routines whose arguments only the host
// that defined them reads (this host reads none of them).
std::string hostOwn(int routine, const std::vector<int>& args) { return act(routine, args); }

// DataSet and DefaultDataSet: the slot, the access and the host's own words about the data
// set after them (this host reads none of them).
const std::vector<int> kStepDataWords = {1, 2, 2, 2, 0};
const std::vector<int> kInputWords = {0, 2, 2, 3, 0};
const std::vector<int> kOutputWords = {0, 2, 2, 4, 0, 0};
const std::vector<int> kScoreOutWords = {0, 2, 2, 4, 0};
std::string dataSet(int routine, StmtSlotKey auto slot, int access,
                    const std::vector<int>& hostWords) {
  std::vector<int> args = {keyOf(slot), access};
  args.insert(args.end(), hostWords.begin(), hostWords.end());
  return act(routine, args);
}
std::string openDataSet(StmtSlotKey auto slot) {
  return dataSet(GrammarAction::DataSet, slot, DataSetAccess::Open, kInputWords);
}

const std::string kPerfOptions =
    "( 'THREADS' " + setSwitch(PerfFlag::Threads) + " [ '=' ( 'YES' " +
    setSwitch(PerfFlag::Threads) + " | 'NO' " + setSwitch(PerfFlag::NoThreads) + " ) ]" +
    " | 'NOTHREADS' " + setSwitch(PerfFlag::NoThreads) + " | 'CPUCOUNT' '=' ( 'MIN' " +
    setFlag(PerfFlag::CpuMin) + " | 'MAX' " + setFlag(PerfFlag::CpuMax) + " | 'ACTUAL' " +
    setFlag(PerfFlag::CpuActual) + " | " + range(1, 1024) + " " + storeNumber(PerfSlot::CpuCount) +
    " INT )" + " | 'DETAILS' " + setFlag(PerfFlag::Details) + " | 'NOTIMING$' " +
    setFlag(PerfFlag::NoTiming) + " | 'PERFSTATUS$' " + setFlag(PerfFlag::PerfStatus) +
    " | 'ALLDETAILS$' " + setFlag(PerfFlag::AllDetails) + " " + setFlag(PerfFlag::Details) +
    " | 'FORCE$' " + setFlag(PerfFlag::Force) + " | 'BUILDSSCP' '=' ( 'INCREMENTAL' " +
    setFlag(PerfFlag::SscpIncremental) + " | 'FULL' " + setFlag(PerfFlag::SscpFull) + " )" +
    " | 'UTIL_RANDOM$' " + setFlag(PerfFlag::UtilRandom) + " | 'UTIL_BUFFERS$' '=' " + range(0) +
    " " + storeNumber(PerfSlot::UtilBuffers) + " INT" + " | 'UTIL_PAGESIZE$' '=' " +
    range(1, 10000) + " " + storeNumber(PerfSlot::UtilPageSize) + " INT" + " | 'ALLSPARSE$' " +
    setFlag(PerfFlag::AllSparse) + " | 'ALLDENSE$' " + setFlag(PerfFlag::AllDense) +
    " | 'UTIL_DETAILS$' " + setFlag(PerfFlag::UtilDetails) + " | 'FULL_SWEEP$' '=' ( 'STEPADD' " +
    storeCode(PerfSlot::FullSweep, VsfFullSweep::StepAdd) + " | 'NEVER' " +
    storeCode(PerfSlot::FullSweep, VsfFullSweep::Never) + " | 'ALWAYS' " +
    storeCode(PerfSlot::FullSweep, VsfFullSweep::Always) + " ) )";

std::string startList(StmtSlotKey auto slot, int kind) {
  return act(GrammarAction::StartList, {keyOf(slot), kind});
}
std::string appendText(StmtSlotKey auto slot) {
  return act(GrammarAction::AppendValue, {keyOf(slot), ValueForm::Text});
}
// A statistic's keywords in OUTPUT (or SCORE): its flag, and the slot of the output name
// that may follow.
std::string stat(VsfOutputStatIndex index, bool score = false) {
  const VsfOutputStatTraits& row = vsfOutputStat(index);
  return std::string(score ? row.scoreKeyword : row.outputKeyword) + " " + setFlag(row.flag.get()) +
         " [ '=' " + startList(statNameSlot(row.flag.get()), ListKind::Names) + " outname ]";
}

const std::string kPartition =
    newNode(NodeSlots::Partition) + " 'PARTITION' [ ( 'ROLEVAR'/'ROLE'/'VAR' '=' " +
    startList(PartitionSlot::RoleVar, ListKind::Variables) + " variable   [ '(' { 'TRAIN' '=' " +
    setFlag(PartitionFlag::Train) + " " + appendText(roleSlot(PartitionFlag::Train)) +
    " QS | 'VALIDATE'/'VAL$'/'VALID$' '=' " + setFlag(PartitionFlag::Validate) + " " +
    appendText(roleSlot(PartitionFlag::Validate)) + " QS   | 'TEST' '=' " +
    setFlag(PartitionFlag::Test) + " " + appendText(roleSlot(PartitionFlag::Test)) +
    " QS } ')' ] | 'FRACTION'/'FRAC$' '(' { 'VALIDATE'/'VAL$'/'VALID$' '=' " +
    setFlag(PartitionFlag::ValidateFraction) + " " + range(0, 1) + " " +
    storeNumber(roleSlot(PartitionFlag::ValidateFraction)) + " number   | 'TEST' '=' " +
    setFlag(PartitionFlag::TestFraction) + " " + range(0, 1) + " " +
    storeNumber(roleSlot(PartitionFlag::TestFraction)) + " number } ')' ) ] " + endStatement();
// The statistics OUTPUT and SCORE both take, with the same keywords.
const std::string kStatOptions =
    "( " + stat(VsfOutputStatIndex::Pred) + " | " + stat(VsfOutputStatIndex::Resid) + " | " +
    stat(VsfOutputStatIndex::SamplePred) + " | " + stat(VsfOutputStatIndex::StdDev) + " | " +
    stat(VsfOutputStatIndex::Upper) + " | " + stat(VsfOutputStatIndex::Lower) + " )";
const std::string kOutput =
    newNode(NodeSlots::Output) + " 'OUTPUT' { 'OUT' '=' dsname " +
    dataSet(GrammarAction::DataSet, OutputSlot::Out, DataSetAccess::Create, kOutputWords) +
    " | statopt | " + stat(VsfOutputStatIndex::SampleFreq) + " | " +
    stat(VsfOutputStatIndex::Median) + " } " +
    dataSet(GrammarAction::DefaultDataSet, OutputSlot::Out, DataSetAccess::Create, kOutputWords) +
    " " + endStatement();
const std::string kScore =
    newNode(NodeSlots::Output) + " 'SCORE' { 'DATA' '=' dsname " +
    openDataSet(OutputSlot::ScoreData) + " | 'OUT' '=' dsname " +
    dataSet(GrammarAction::DataSet, OutputSlot::ScoreOut, DataSetAccess::Create, kScoreOutWords) +
    " | statopt | " + stat(VsfOutputStatIndex::Median, true) + " } " +
    dataSet(GrammarAction::DefaultDataSet, OutputSlot::ScoreOut, DataSetAccess::Create,
            kScoreOutWords) +
    " " + endStatement();

// The procedure statement's options, the PLOTS= requests and their suboptions. STEPAXIS=
// stores 1 NUMBER, 2 EFFECT or 3 NORMB; a step range its two numbers; ORDER= 0 MODEL,
// 1 ASCENDING or 2 DESCENDING.
std::string stepAxis(ProcSlot slot) {
  return "'STEPAXIS' '=' ( 'NUMBER' " + storeCode(slot, VsfStepAxis::Step) + " | 'EFFECT' " +
         storeCode(slot, VsfStepAxis::StepLabel) + " | 'NORMB'/'NORMBETA$' " +
         storeCode(slot, VsfStepAxis::NormBeta) + " )";
}
std::string stepRange(ProcSlot start, ProcSlot end) {
  return "'STARTSTEP' '=' " + range(0) + " " + storeNumber(start) + " INT | 'ENDSTEP' '=' " +
         range(0) + " " + storeNumber(end) + " INT";
}
std::string order(StmtSlotKey auto slot) {
  return "'ORDER' '=' ( 'MODEL' " + storeCode(slot, VsfOrder::Model) + " | 'ASCENDING' " +
         storeCode(slot, VsfOrder::Ascending) + " | 'DESCENDING' " +
         storeCode(slot, VsfOrder::Descending) + " )";
}

const std::string kProcStatement =
    act(GrammarAction::ProcStatement) + " " + newNode(NodeSlots::Proc) +
    " 'VARSIFTER' { procopt } " +
    dataSet(GrammarAction::DefaultDataSet, ProcSlot::Data, DataSetAccess::Open, kStepDataWords) +
    " " + endStatement();
const std::string kProcOptions =
    "( 'DATA' '=' dsname " +
    dataSet(GrammarAction::DataSet, ProcSlot::Data, DataSetAccess::Open, kStepDataWords) +
    " | 'NAMELEN' '=' " + storeNumber(ProcSlot::NameLen) + " " + range(20, 200) + " INT" +
    " | 'VALDATA'/'VALIDDATA$'/'VDATA$' '=' dsname " + openDataSet(ProcSlot::ValData) +
    " | 'TESTDATA'/'TDATA$' '=' dsname " + openDataSet(ProcSlot::TestData) + " | 'SEED' '=' " +
    storeNumber(ProcSlot::Seed) + " INT" + " | 'MAXMACRO' '=' " + range(kRangeNone) + " " +
    storeNumber(ProcSlot::MaxMacro) + " INT" + " | 'SHOWINTERNALTABLES$' " +
    setFlag(ProcFlag::ShowInternal) + " | 'NOPRINT' " + setFlag(ProcFlag::NoPrint) +
    " | 'PLOTS'/'PLOT' " + setFlag(ProcFlag::Plots) + " [ '(' { globplotopt } ')' ]" + "   [ '=' " +
    setFlag(ProcFlag::PlotRequests) + " ( '(' { plotreq } ')' | plotreq ) ]" +
    " | 'PARMLABELSTYLE'/'LSTYLE$' '=' ( 'INTERLACED'/'INTERLACE$' " +
    storeCode(ProcSlot::ParmLabelStyle, LSTYLE_INTERLACED) + "   [ '(' 'SEPARATOR' " +
    setFlag(ProcFlag::Separator) + " '=' " + appendText(ProcSlot::Separator) + " QS ')' ]" +
    "   | 'SEPARATE'/'SEPARATED$' " + storeCode(ProcSlot::ParmLabelStyle, LSTYLE_SEPARATE) +
    " | 'SEPARATECOMPACT'/'SEPARATEDCOMPACT$' " +
    storeCode(ProcSlot::ParmLabelStyle, LSTYLE_SEPARATECOMPACT) + " )" + " | 'SHORTPARMNAMES$' " +
    setFlag(ProcFlag::ShortParmNames) + " [ '=' " + appendText(ProcSlot::ShortParmNames) + " QS ]" +
    " | 'OUTDESIGN'/'DESIGN$' " + setFlag(ProcFlag::OutDesign) + " [ '(' { 'FULLMODEL' " +
    setFlag(ProcFlag::FullModel) + " | 'ADDINPUTVARS' " + setFlag(ProcFlag::AddInputVars) +
    "   | 'PREFIX' " + setFlag(ProcFlag::Prefix) + " [ '=' " + setFlag(ProcFlag::PrefixName) + " " +
    startList(ProcSlot::Prefix, ListKind::Names) + " outname ] | 'NAMES' " +
    setFlag(ProcFlag::Names) + " } ')' ]" + "   '=' dsname " +
    dataSet(GrammarAction::DataSet, ProcSlot::OutDesign, DataSetAccess::Create, kOutputWords) +
    " )";
const std::string kGlobalPlotOptions =
    "( 'UNPACK'/'UNPACKPANEL' " + setFlag(ProcFlag::Unpack) + " | 'LOGPVALUE$'/'LOGP' " +
    setFlag(ProcFlag::LogP) + " | 'CANDIDATES' '=' " + range(2) + " " +
    storeNumber(ProcSlot::Candidates) + " INT" + " | 'MAXSTEPLABEL' '=' " + range(9, 256) + " " +
    storeNumber(ProcSlot::MaxStepLabel) + " INT" + " | 'MAXPARMLABEL' '=' " + range(0, 256) + " " +
    storeNumber(ProcSlot::MaxParmLabel) + " INT" + " | " + stepAxis(ProcSlot::StepAxis) + " | " +
    stepRange(ProcSlot::StartStep, ProcSlot::EndStep) + " )";
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
const std::string kCoefOptions =
    "( " + stepAxis(ProcSlot::CoefStepAxis) + " | 'UNPACK'/'UNPACKPANEL' " +
    setFlag(ProcFlag::CoefUnpack) + " | 'LOGPVALUE$'/'LOGP' " + setFlag(ProcFlag::CoefLogP) +
    " | 'LABELGAP' '=' " + range(0, 100) + " " + storeNumber(ProcSlot::CoefLabelGap) + " number" +
    " | " + stepRange(ProcSlot::CoefStart, ProcSlot::CoefEnd) + " )";
const std::string kSelectogramOptions =
    "( 'LOGPVALUE$'/'LOGP' " + setFlag(ProcFlag::SelgLogP) + " | 'NORMALIZEDCRITERIA'/'NORMC' " +
    setFlag(ProcFlag::SelgNormc) + " | 'EMPHASISFACTOR'/'EMPHASIS' '=' " + range(0, 1) + " " +
    storeNumber(ProcSlot::Emphasis) + " number" + " | 'CANDIDATES' '=' " + range(2) + " " +
    storeNumber(ProcSlot::SelgCandidates) + " INT )";
const std::string kCandidatesOptions = "( 'LOGPVALUE$'/'LOGP' " + setFlag(ProcFlag::CandLogP) +
                                       " | 'SHOW' '=' " + range(2, 1000) + " " +
                                       storeNumber(ProcSlot::CandShow) + " INT )";
const std::string kAseOptions = "( " + stepAxis(ProcSlot::AseStepAxis) + " | " +
                                stepRange(ProcSlot::AseStart, ProcSlot::AseEnd) + " )";
const std::string kCriteriaOptions = "( " + stepAxis(ProcSlot::CritStepAxis) +
                                     " | 'UNPACK'/'UNPACKPANEL' " + setFlag(ProcFlag::CritUnpack) +
                                     " | " + stepRange(ProcSlot::CritStart, ProcSlot::CritEnd) +
                                     " )";
const std::string kEspOptions = "( 'MINPCT'/'MINPERCENT$' '=' " + range(0, 100) + " " +
                                storeNumber(ProcSlot::EspMinPct) + " number" + " | " +
                                order(ProcSlot::EspOrder) + " )";
const std::string kParmDistOptions =
    "( 'UNPACK' " + setFlag(ProcFlag::PdUnpack) + " | 'MINPCT'/'MINPERCENT$' '=' " + range(0, 100) +
    " " + storeNumber(ProcSlot::PdMinPct) + " number" + " | " + order(ProcSlot::PdOrder) +
    " | 'PLOTSPERPANEL' '=' " + range(1, 16) + " " + storeNumber(ProcSlot::PdPerPanel) +
    " number | 'NOBOXPLOTS' " + setFlag(ProcFlag::PdNoBox) + " )";
std::string intoProcNode() { return act(GrammarAction::IntoProcNode); }
std::string byPart(int part) { return act(GrammarAction::By, {part}); }
const std::string kBy =
    intoProcNode() + " 'BY' " + startList(ProcSlot::ByVariables, ListKind::Variables) +
    " [ 'NOTSORTED' " + byPart(ByPart::NotSorted) + " ] { " + byPart(ByPart::Item) +
    " [ 'DESCENDING' " + byPart(ByPart::Descending) + " ] varitem [ 'NOTSORTED' " +
    byPart(ByPart::NotSorted) + " ] } " + byPart(ByPart::End);
const std::string kFreq = intoProcNode() + " 'FREQ'/'FREQUENCY' " +
                          startList(ProcSlot::Freq, ListKind::Values) + " variable";
const std::string kWeight = intoProcNode() + " 'WEIGHT'/'WEIGHTS$' " +
                            startList(ProcSlot::Weight, ListKind::Values) + " variable";

const std::string kModelAverage = newNode(NodeSlots::ModelAverage) + " 'MODELAVERAGE' " +
                                  setFlag(AverageFlag::Statement) + " { maopt } " + endStatement();
const std::string kAverageOptions =
    "( 'NTHREADS$' '=' " + range(0) + " " + storeNumber(AverageSlot::Threads) +
    " INT | 'NSAMPLES' '=' " + range(1) + " " + storeNumber(AverageSlot::Samples) + " INT" +
    " | 'DETAILS' " + setFlag(AverageFlag::Details) + " | 'INMEMORY$' '=' ( 'YES' " +
    setFlag(AverageFlag::InMemory) + " | 'NO' )" +
    " | 'SAMPLING'/'SAMPLINGMETHOD'/'SAMPLEMETHOD$' '=' ( 'URS' | 'SRS' " +
    setFlag(AverageFlag::Srs) + " )" + "   [ '(' { 'SIZE'/'SAMPSIZE$' '=' " + range(1) + " " +
    storeNumber(AverageSlot::SampleSize) + " number" +
    "   | 'PCT'/'PERCENTAGE'/'PERCENT'/'SAMPPERCENT$' '=' " + range(0, 100) + " " +
    storeNumber(AverageSlot::SamplePct) + " number } ')' ]" + " | 'SHAREDDRIVE$' " +
    setFlag(AverageFlag::SharedDrive) + " '=' " + appendText(AverageSlot::SharedDrive) + " QS" +
    " | 'SCHEDULE$' '=' ( 'STATIC' " + setFlag(AverageFlag::StaticSchedule) + " | " + range(1) +
    " " + storeNumber(AverageSlot::ScheduleChunk) + " INT )" + " | 'TABLES'/'SHOW' [ '(' 'ONLY' " +
    setFlag(AverageFlag::TablesOnly) + " ')' ] '=' ( '(' { tableitem } ')' | tableitem )" +
    " | 'ALPHA' '=' " + range(0, 1) + " " + storeNumber(AverageSlot::Alpha) + " number" +
    " | 'PARMTHRESHOLD$'/'THRESHOLD$' '=' " + range(0, 99) + " " +
    storeNumber(AverageSlot::ParmThreshold) + " number" + " | 'SUBSET' '(' { 'MINMODELFREQ' '=' " +
    range(1) + " " + storeNumber(AverageSlot::MinModelFreq) + " INT" + "   | 'BEST' '=' " +
    range(1) + " " + storeNumber(AverageSlot::SubsetBest) + " INT } ')'" + " | 'AVERAGEMETHOD$' " +
    setFlag(AverageFlag::AverageMethod) + " '=' ( 'MEAN' " +
    storeCode(AverageSlot::AverageMethod, VsfAverageMethod::Mean) + " [ trim ]" +
    "   | 'MEANNONZERO'/'MEANNZ' " +
    storeCode(AverageSlot::AverageMethod, VsfAverageMethod::MeanNonzero) + " [ trim ] | 'MEDIAN' " +
    storeCode(AverageSlot::AverageMethod, VsfAverageMethod::Median) +
    "   | 'MEDIANNONZERO'/'MEDIANNZ' " +
    storeCode(AverageSlot::AverageMethod, VsfAverageMethod::MedianNonzero) + " )" + " | 'REFIT' " +
    setFlag(AverageFlag::Refit) + " [ '(' { 'MINPCT'/'MINPERCENT$' '=' " + range(0, 100) + " " +
    storeNumber(AverageSlot::RefitMinPct) + " number" + "   | 'NSAMPLES' '=' " + range(1) + " " +
    storeNumber(AverageSlot::RefitSamples) + " INT | 'BEST' '=' " + range(0) + " " +
    storeNumber(AverageSlot::RefitBest) + " INT" + "   | 'ALL' " + setFlag(AverageFlag::RefitAll) +
    " } ')' ] )";
const std::string kTrim =
    "'(' 'TRIMPERCENT'/'TRIM$' '=' " + storeNumber(AverageSlot::TrimPercent) + " number ')'";
const std::string kTableItem =
    "( 'EFFECTSELECTPCT'/'EFFECTSELPERCENT$' " + setFlag(AverageFlag::EspTable) + " [ '(' {" +
    "   'MINPCT'/'MINPERCENT$' '=' " + range(0, 100) + " " + storeNumber(AverageSlot::EspMinPct) +
    " number" + "   | " + order(AverageSlot::EspOrder) + "   | 'ALL' " +
    setFlag(AverageFlag::EspAll) + " } ')' ]" + " | 'MODELSELECTFREQ' " +
    setFlag(AverageFlag::MsfTable) + " [ '(' { 'BEST' '=' " + range(1) + " " +
    storeNumber(AverageSlot::MsfBest) + " INT | 'ALL' " + setFlag(AverageFlag::MsfAll) +
    " } ')' ]" + " | 'PARMEST' " + setFlag(AverageFlag::PestTable) +
    " [ '(' { 'MINPCT'/'MINPERCENT$' '=' " + range(0, 100) + " " +
    storeNumber(AverageSlot::PestMinPct) + " number" + "   | " + order(AverageSlot::PestOrder) +
    "   | 'NONZEROPARMS' " + setFlag(AverageFlag::NonzeroParms) + " | 'ALL' " +
    setFlag(AverageFlag::PestAll) + " } ')' ]" + " | 'ALL' " + setFlag(AverageFlag::AllTables) +
    " | 'NONE' " + setFlag(AverageFlag::NoTables) + " )";
// A keyword and the code StoreCode writes for it.
struct Keyword {
  const char* words;
  int code;
  Keyword(const char* keywords, auto value) : words(keywords), code(codeNumber(value)) {}
};
// "w1 item(c1) | w2 item(c2) ...": keywords each followed by the action item of its code.
template <class Item> std::string keywordItems(std::initializer_list<Keyword> keywords, Item item) {
  std::string text;
  for (const Keyword& k : keywords)
    text += (text.empty() ? "" : " | ") + std::string(k.words) + " " + item(k.code);
  return text;
}
// Keywords that each store their code in a slot.
std::string choices(StmtSlotKey auto slot, std::initializer_list<Keyword> keywords) {
  return keywordItems(keywords, [slot](int code) { return storeCode(slot, code); });
}
// The criteria an option takes (`takes` tells which, from their rows), each keyword storing
// its code in the option's slot.
std::string criteria(ModelSlot slot, bool (*takes)(const VsfCriterionTraits&)) {
  std::string text;
  for (const VsfCriterionTraits& t : kVsfCriterionTraits)
    if (takes(t))
      text += (text.empty() ? "( " : " | ") + std::string(t.keyword) + " " +
              storeCode(slot, t.criterion.get());
  return text + " )";
}
// keywords '=' range slot form: a bounded number option.
std::string numberOption(const char* keywords, const std::string& bounds, StmtSlotKey auto slot,
                         const char* form) {
  return std::string(keywords) + " '=' " + bounds + " " + storeNumber(slot) + " " + form;
}
std::string flagged(const char* keywords, StmtFlagKey auto flag) {
  return std::string(keywords) + " " + setFlag(flag);
}
std::string method(const char* keyword, VsfMethod code, const char* options) {
  std::string text = std::string(keyword) + " " + storeCode(ModelSlot::Method, code);
  return options ? text + " [ '(' { " + options + " } ')' ]" : text;
}

// The METHOD= choices: each method of the traits table that has a keyword.
std::string methods() {
  std::string text;
  for (const VsfMethodTraits& t : kVsfMethodTraits)
    if (t.keyword != nullptr)
      text += (text.empty() ? "( " : " | ") + method(t.keyword, t.method, t.optionRule);
  return text + " )";
}

const std::string kModelStmt =
    newNode(NodeSlots::Model) + " 'MODEL' " + startList(ModelSlot::Response, ListKind::Values) +
    " varlist '=' " + startList(ModelSlot::Effects, ListKind::Names) + " " +
    effect(EffectCode::SharedOn) + " { effect } " + effect(EffectCode::SharedOff) +
    " [ '/' { modelopt } ] " + endStatement();
const std::string kCrit11 =
    criteria(ModelSlot::Select, [](const VsfCriterionTraits& t) { return t.inSelect.get(); });
const std::string kCrit12 =
    criteria(ModelSlot::Stop, [](const VsfCriterionTraits& t) { return t.inStop.get(); });
const std::string kCrit14 =
    criteria(ModelSlot::Choose, [](const VsfCriterionTraits& t) { return t.inChoose.get(); });
const std::string kSlEntry =
    numberOption("'SLENTRY'/'SLE'", range(0, 1), ModelSlot::SlEntry, "number");
const std::string kSlStay =
    numberOption("'SLSTAY'/'SLS'", range(0, 1), ModelSlot::SlStay, "number");
const std::string kInclude = numberOption("'INCLUDE'", range(0), ModelSlot::Include, "INT");
const std::string kStart = numberOption("'START'", range(1), ModelSlot::Start, "INT");
const std::string kMaxSteps =
    numberOption("'MAXSTEPS'/'MAXSTEP'", range(1), ModelSlot::MaxSteps, "INT");
const std::string kSteps = numberOption("'STEPS'", range(1), ModelSlot::Steps, "INT");
const std::string kSelect = flagged("'SELECT'", ModelFlag::Select) + " '=' crit11";
const std::string kStop = flagged("'STOP'", ModelFlag::Stop) + " '=' ( " + range(1) + " " +
                          storeNumber(ModelSlot::StopCount) + " INT | crit12 )";
const std::string kDrop = "'DROP' '=' ( " +
                          choices(ModelSlot::Drop, {{"'BEFOREADD'", VsfDrop::BeforeAdd},
                                                    {"'COMPETITIVE'", VsfDrop::Competitive},
                                                    {"'AFTERADD'", VsfDrop::AfterAdd}}) +
                          " )";
const std::string kPenaltyOptions =
    "( oslentry | oslstay | omaxsteps | osteps | ostop | ochoose | " +
    flagged("'LSCOEFFS'/'LEASTSQUARESCOEFFS'", ModelFlag::LsCoeffs) + " | " +
    flagged("'ADAPTIVE'", ModelFlag::Adaptive) + " [ '(' { 'GAMMA' '=' " + range(0) + " " +
    storeNumber(ModelSlot::Gamma) + " number   | 'INEST'/'IN' '=' dsname " +
    openDataSet(ModelSlot::InEst) + " } ')' ] | 'L2' '=' " + storeNumber(ModelSlot::L2) +
    " number | " + flagged("'ENSCALE'", ModelFlag::EnScale) + " | " +
    flagged("'SHOWL2SEARCH$'", ModelFlag::ShowL2Search) + " | " +
    flagged("'SHOWCVEX$'", ModelFlag::ShowCvex) + " | " +
    flagged("'SHOWSTEPL1$'", ModelFlag::ShowStepL1) + " | " +
    flagged("'LINEARCVEX$'", ModelFlag::LinearCvex) + " | " +
    numberOption("'L2STEPS'", range(2), ModelSlot::L2Steps, "INT") + " | 'L2SEARCH' '=' ( " +
    choices(ModelSlot::L2Search, {{"'NONE'", VsfL2Search::None},
                                  {"'GOLDEN'", VsfL2Search::Golden},
                                  {"'GRID'", VsfL2Search::Grid}}) +
    " ) | " + numberOption("'L2LOW'", range(0), ModelSlot::L2Low, "number") + " | " +
    numberOption("'L2HIGH'", range(0), ModelSlot::L2High, "number") + " | " +
    numberOption("'L1'", range(0), ModelSlot::L1, "number") + " | 'L1CHOICE' '=' ( " +
    choices(ModelSlot::L1Choice, {{"'RATIO'", VsfL1Choice::Ratio},
                                  {"'NORM'", VsfL1Choice::Norm},
                                  {"'VALUE'", VsfL1Choice::Value}}) +
    " ) | 'SCREEN' '=' ( " +
    choices(ModelSlot::Screen, {{"'NONE'", VsfScreenMethod::None},
                                {"'BASE$'", VsfScreenMethod::Base},
                                {"'SASVI'", VsfScreenMethod::Sasvi}}) +
    "   | " +
    choices(ModelSlot::Screen, {{"'SASVI2$'", VsfScreenMethod::Sasvi2},
                                {"'DPP$'", VsfScreenMethod::Dpp},
                                {"'SIS'", VsfScreenMethod::Sis}}) +
    " [ '(' {   " + numberOption("'KEEPNUM'", range(1), ModelSlot::KeepNum, "INT") + " | " +
    numberOption("'KEEPRATIO'", range(0, 1), ModelSlot::KeepRatio, "number") + " } ')' ] ) | " +
    numberOption("'SCREENSTEPS$'", range(1), ModelSlot::ScreenSteps, "INT") + " | " +
    flagged("'SHOWSCREEN$'", ModelFlag::ShowScreen) + " | " +
    numberOption("'RHO'", range(0, 1), ModelSlot::Rho, "number") + " | " +
    numberOption("'TOL'", range(0, 1), ModelSlot::Tol, "number") + " | 'TOLERANCE' )";
const std::string kMethod = methods();
const std::string kStatItem =
    "( " + flagged("'ALL'", ModelFlag::StatAll) + " | " +
    flagged("'SIGNIFICANCELEVEL'/'SL'", ModelFlag::StatSl) + " | " +
    flagged("'FVALUE'", ModelFlag::StatF) + " | " + flagged("'AIC'", ModelFlag::StatAic) + " | " +
    flagged("'AICC'", ModelFlag::StatAicc) + " | " + flagged("'SBC'", ModelFlag::StatSbc) + " | " +
    flagged("'BIC'", ModelFlag::StatBic) + " | " + flagged("'CP'", ModelFlag::StatCp) + " | " +
    flagged("'PRESS'", ModelFlag::StatPress) + " | " +
    flagged("'RSQUARE'", ModelFlag::StatRsquare) + " | " +
    flagged("'ADJRSQ'", ModelFlag::StatAdjrsq) + " | " + flagged("'ASE'", ModelFlag::StatAse) +
    " )";
const std::string kStepItem =
    "( " + flagged("'ALL'", ModelFlag::StepAll) + " | " + flagged("'ANOVA'", ModelFlag::StepAnova) +
    " | " + flagged("'FITSTATISTICS'/'FITSTATS'/'FIT'", ModelFlag::StepFit) + " | " +
    flagged("'PARAMETERESTIMATES'/'PARMEST'", ModelFlag::StepParmEst) + " | " +
    flagged("'CANDIDATES'", ModelFlag::StepCandidates) + " [ '(' 'SHOW' '=' ( " +
    flagged("'ALL'", ModelFlag::CandidatesAll) + " | " + range(1) + " " +
    storeNumber(ModelSlot::CandidatesShown) + " INT ) ')' ] )";
const std::string kCvCount = "'(' " + range(2) + " " + storeNumber(ModelSlot::CvFolds) + " INT ')'";
const std::string kModelOptions =
    "( " + flagged("'NOINT'", ModelFlag::NoInt) +
    " | 'STATS'/'STATISTICS'/'STAT' '=' ( '(' { statitem } ')' | statitem ) | 'DETAILS' '=' ( " +
    choices(ModelSlot::Details, {{"'ALL'", VsfDetails::All}, {"'STEPS'", VsfDetails::Steps}}) +
    " [ '(' " + setFlag(ModelFlag::StepItems) + " { stepitem } ')' ]   | " +
    choices(ModelSlot::Details, {{"'SUMMARY'", VsfDetails::Summary}}) + " ) | " +
    flagged("'SELECTION'", ModelFlag::Selection) + " '=' method | 'HIERARCHY'/'HIER' '=' ( " +
    choices(ModelSlot::Hierarchy, {{"'NONE'", VsfHierarchy::None},
                                   {"'SINGLE'", VsfHierarchy::Single},
                                   {"'SINGLECLASS'", VsfHierarchy::SingleClass}}) +
    " ) | " + flagged("'ORDERSELECT'", ModelFlag::OrderSelect) + " | " +
    flagged("'STB'", ModelFlag::Stb) + " | " +
    flagged("'CVMETHOD'/'XVMETHOD$'", ModelFlag::CvMethod) + " '=' ( 'RANDOM' [ cvcount ] | " +
    flagged("'BLOCK'", ModelFlag::CvBlock) + " [ cvcount ]   | " +
    flagged("'SPLIT'", ModelFlag::CvSplit) + " [ cvcount ] | " +
    flagged("'INDEX'", ModelFlag::CvIndex) + " '(' " +
    startList(ModelSlot::CvIndexVar, ListKind::Values) + " variable ')' ) | " +
    flagged("'CVDETAILS'", ModelFlag::CvDetails) + " [ '=' ( " +
    flagged("'CVPRESS'", ModelFlag::CvPress) + " | " + flagged("'COEFFS'", ModelFlag::CvCoeffs) +
    " | " + flagged("'ALL'", ModelFlag::CvAll) + " ) ] | " +
    flagged("'SHOWPVALUES'/'SHOWPVALS'", ModelFlag::ShowPValues) + " | " +
    flagged("'NOSTANDARDIZE$'", ModelFlag::NoStandardize) + " | " +
    numberOption("'FUZZ'", range(0, 1), ModelSlot::Fuzz, "number") +
    " | oslentry | oslstay | oinclude | ostart | omaxsteps | osteps | oselect | ostop | ochoose"
    " | odrop )";

// CLASS: a variable's option records the variable's position before its value (the 2 is
// the host's own word).
std::string position(ClassSlot slot) { return act(GrammarAction::ClassPosition, {keyOf(slot), 2}); }
std::string appendNumber(ClassSlot slot) {
  return act(GrammarAction::AppendValue, {keyOf(slot), ValueForm::Number});
}
std::string values(ClassSlot slot) { return startList(slot, ListKind::Values); }
// An option a CLASS variable or the statement has or has not.
std::string given() { return listCode(kClassOptionGiven); }
// CPREFIX=, LPREFIX=, TRUNCATE=: any number.
std::string anyNumber() { return range(kRangeNone) + " INT"; }

const std::string kClassStmt = intoProcNode() + " 'CLASS' { " +
                               startList(ProcSlot::ClassVariables, ListKind::Variables) +
                               " varitem [ '(' { classvaropt } ')' ] } [ '/' { classglobopt } ]";
const std::string kClassVariableOptions =
    "( 'PARAM'/'CODING' " + position(ClassSlot::CodingPosition) + " '=' " +
    values(ClassSlot::Coding) + " coding | 'ORDER' " + position(ClassSlot::OrderPosition) +
    " '=' " + values(ClassSlot::Order) + " classorder | 'REFERENCE'/'REF' " +
    position(ClassSlot::ReferencePosition) + " '=' " + values(ClassSlot::Reference) +
    " ( 'FIRST' " + listCode(REF_FIRST) + " | 'LAST' " + listCode(REF_LAST) + "   | " +
    listCode(REF_VALUE) + " " + appendText(ClassSlot::ReferenceValue) +
    " QS ) | 'DESCENDING'/'DESC' " + position(ClassSlot::DescendingPosition) + " " +
    values(ClassSlot::Descending) + " " + given() + " | 'CPREFIX' " +
    position(ClassSlot::CprefixPosition) + " '=' " + appendNumber(ClassSlot::Cprefix) + " " +
    anyNumber() + " | 'LPREFIX' " + position(ClassSlot::LprefixPosition) + " '=' " +
    appendNumber(ClassSlot::Lprefix) + " " + anyNumber() + " | 'MISSING' " +
    position(ClassSlot::MissingPosition) + " " + values(ClassSlot::Missing) + " " + given() +
    " | 'SPLIT' " + position(ClassSlot::SplitPosition) + " " + values(ClassSlot::Split) + " " +
    given() + " )";
const std::string kClassGlobalOptions =
    "( 'PARAM'/'CODING' '=' " + values(ClassSlot::CodingAll) + " ( coding | 'GLM' " +
    listCode(CC_GLM) + " ) | 'ORDER' '=' " + values(ClassSlot::OrderAll) +
    " classorder | 'REFERENCE'/'REF' '=' " + values(ClassSlot::ReferenceAll) + " ( 'FIRST' " +
    listCode(REF_FIRST) + " | 'LAST' " + listCode(REF_LAST) + " ) | 'DESCENDING'/'DESC' " +
    values(ClassSlot::DescendingAll) + " " + given() + " | 'CPREFIX' '=' " +
    appendNumber(ClassSlot::CprefixAll) + " " + anyNumber() + " | 'LPREFIX' '=' " +
    appendNumber(ClassSlot::LprefixAll) + " " + anyNumber() + " | 'MISSING' " +
    values(ClassSlot::MissingAll) + " " + given() + " | " +
    flagged("'TRUNCATE'", ClassFlag::Truncate) + " [ '=' " + storeNumber(ClassSlot::Truncate) +
    " " + anyNumber() + " ] | " + flagged("'SHOWCODING'/'SHOW'", ClassFlag::ShowCoding) + " | " +
    flagged("'SPLIT'", ClassFlag::SplitAll) + " | 'DELIMITER' '=' " +
    appendText(ClassSlot::Delimiter) + " QS )";

// EFFECT: each kind of the traits table, its keywords storing its code, then its list and
// its options.
std::string effectKinds() {
  std::string text;
  for (const EffectKindTraits& t : kEffectKindTraits)
    text += (text.empty() ? "( " : " | ") + std::string(t.keyword) + " " +
            storeCode(EffectSlot::Kind, t.kind.get()) + " '(' " +
            startList(EffectSlot::Variables, t.listKind) + " " + t.listItem.get() + t.options.get();
  return text + " )";
}

const std::string kEffectStmt =
    newNode(NodeSlots::Effect) + " " + effect(EffectCode::EffectStatement) + " 'EFFECT' " +
    startList(EffectSlot::Name, ListKind::Names) + " name '=' efkind " + endStatement();
const std::string kEffectKind = effectKinds();
const std::string kEffectDetails = flagged("'DETAILS'", EffectFlag::Details) +
                                   " [ '(' 'DELIMITER' '=' " + appendText(EffectSlot::Delimiter) +
                                   " QS ')' ]";
const std::string kMultiMemberOptions =
    "( 'WEIGHT' '=' '(' " + startList(EffectSlot::Weight, ListKind::Values) +
    " varlist ')' | efdetails | " + flagged("'NOEFFECT'", EffectFlag::NoEffect) + " | " +
    flagged("'STDIZE'/'ROWSTD'", EffectFlag::Stdize) + " )";
const std::string kSplineOptions =
    "( 'KNOTMETHOD' '=' knotmethod | " +
    numberOption("'DEGREE'", range(0), EffectSlot::SplineDegree, "INT") + " | 'BASIS' '=' ( " +
    choices(EffectSlot::Basis, {{"'BSPLINE'", SB_BSPLINE}, {"'TPF'", SB_TPF}}) + "   [ '(' { " +
    flagged("'NOINT'", EffectFlag::NoInt) + " | " + flagged("'NOPOWERS'", EffectFlag::NoPowers) +
    " } ')' ] ) | 'KNOTMIN' '=' " + storeNumber(EffectSlot::KnotMin) + " number | 'KNOTMAX' '=' " +
    storeNumber(EffectSlot::KnotMax) + " number | " +
    flagged("'NATURALCUBIC'/'NATURAL'/'RESTRICTED'", EffectFlag::Natural) + " | " +
    flagged("'SEPARATE'", EffectFlag::Separate) + " | " + flagged("'SPLIT'", EffectFlag::Split) +
    " | " + flagged("'DETAILS'", EffectFlag::Details) + " | " +
    flagged("'DATABOUNDARY'", EffectFlag::DataBoundary) + " )";
std::string knots(const char* keyword, int code, const std::string& bounds) {
  return std::string(keyword) + " " + storeCode(EffectSlot::KnotMethod, code) + " '(' " + bounds +
         startList(EffectSlot::KnotList, ListKind::Numbers) + " numitems ')'";
}
const std::string kKnotMethod =
    "( 'EQUAL' " + storeCode(EffectSlot::KnotMethod, KM_EQUAL) + " [ '(' " + range(0) + " " +
    storeNumber(EffectSlot::KnotCount) + " INT ')' ] | 'MULTISCALE' " +
    storeCode(EffectSlot::KnotMethod, KM_MULTISCALE) + " [ '(' { " +
    numberOption("'STARTLEVEL'/'STARTSCALE$'", range(0), EffectSlot::StartScale, "INT") + "   | " +
    numberOption("'ENDSCALE'/'ENDLEVEL$'", range(0, 15), EffectSlot::EndScale, "INT") +
    " } ')' ] | " + knots("'LIST'", KM_LIST, "") + " | " +
    knots("'RANGEFRACTIONS'", KM_RANGEFRACTIONS, range(0, 1) + " ") + " | 'PERCENTILES' " +
    storeCode(EffectSlot::KnotMethod, KM_PERCENTILES) + " '(' " + range(0) + " " +
    storeNumber(EffectSlot::KnotCount) + " INT ')' | " +
    knots("'LISTWITHBOUNDARY'", KM_LISTWITHBOUNDARY, "") + " )";
const std::string kPolyOptions =
    "( " + numberOption("'DEGREE'", range(1), EffectSlot::PolyDegree, "INT") + " | " +
    numberOption("'MDEGREE'/'MONOMIALDEGREE'", range(1), EffectSlot::MonoDegree, "INT") + " | " +
    flagged("'NOSEPARATE'", EffectFlag::NoSeparate) + " | " +
    flagged("'DETAILS'", EffectFlag::Details) + " | " +
    flagged("'STANDARDIZE'", EffectFlag::Standardize) + " [ '(' { 'PREFIX' '=' ( " +
    flagged("'NONE'", EffectFlag::PrefixNone) + " | " + appendText(EffectSlot::Prefix) +
    " QS )   | 'METHOD' '=' ( " +
    choices(EffectSlot::StdMethod,
            {{"'MOMENTS'", PM_MOMENTS}, {"'WMOMENTS'", PM_WMOMENTS}, {"'RANGE'", PM_RANGE}}) +
    " ) } ')' ]   [ '=' { " +
    choices(EffectSlot::StdKind,
            {{"'NONE'", PS_NONE}, {"'CENTER'", PS_CENTER}, {"'SCALE'", PS_SCALE}}) +
    "   | " + choices(EffectSlot::StdKind, {{"'CENTERSCALE'", PS_CENTERSCALE}}) +
    " } ] | 'LABELSTYLE' '=' ( '(' { lsitem } ')' | lsitem ) )";
const std::string kLabelStyleItem =
    "( " + flagged("'EXPONENT'", EffectFlag::Exponent) + " [ '=' " +
    appendText(EffectSlot::Exponent) + " QS ] | " + flagged("'EXPAND'", EffectFlag::Expand) +
    " | " + flagged("'INCLUDENAME'", EffectFlag::IncludeName) + " | 'PRODUCTSYMBOL' '=' ( " +
    flagged("'NONE'", EffectFlag::ProductNone) + " | " + appendText(EffectSlot::Product) +
    " QS ) )";
const std::string kLagOptions =
    "( " + numberOption("'NLAG'", range(1), EffectSlot::Nlag, "INT") + " | 'WITHIN' '=' ( '(' " +
    startList(EffectSlot::Within, ListKind::Variables) + " varlist ')' | " +
    startList(EffectSlot::Within, ListKind::Variables) + " variable ) | 'PERIOD' '=' " +
    startList(EffectSlot::Period, ListKind::Variables) + " variable | " +
    flagged("'DETAILS'", EffectFlag::Details) + " [ '(' " +
    flagged("'LEVELS'", EffectFlag::Levels) + " ')' ] | 'DESIGNROLE' '=' " +
    startList(EffectSlot::Role, ListKind::Values) + " variable )";

// The host's own token classes before a name of a data set, store or catalog.
std::string nameClasses() {
  return hostOwn(GrammarAction::NameClass, {208}) + " " + hostOwn(GrammarAction::NameClass, {108});
}

const std::string kStoreStmt =
    newNode(NodeSlots::Store) + " 'STORE'/'ITEMSTORE$' [ 'OUT'/'OUTSTORE' '=' ] " +
    startList(StoreSlot::Name, ListKind::StoreName) + " " + nameClasses() + " " +
    hostOwn(GrammarAction::ListText, {6, 1}) +
    " ( NAMEX | COMPOUND | FMT | QS ) [ '/' { 'LABEL' '=' " + setFlag(StoreFlag::Label) + " " +
    act(GrammarAction::StoreValue, {keyOf(StoreSlot::Label), ValueForm::Text}) + " QS } ] " +
    endStatement();
const std::string kCodeStmt =
    newNode(NodeSlots::Code) + " " + hostOwn(GrammarAction::TokenSave, {16}) + " 'CODE' " +
    storeCode(PostFitSlot::Code, kPostFitCode) + " " + hostOwn(GrammarAction::NameClass, {114}) +
    " { codeopt } " + endStatement();
const std::string kCodeOptions =
    "( 'FILE' '=' ( " + act(GrammarAction::StoreValue, {keyOf(CodeSlot::File), ValueForm::Quoted}) +
    " QS | " + act(GrammarAction::StoreValue, {keyOf(CodeSlot::File), ValueForm::Name, 8, 1}) +
    " " + hostOwn(GrammarAction::NameToken, {1, 1, 1}) +
    " NAMEX ) | 'METABASE'/'CATALOG'/'CAT'/'C' '=' " +
    startList(CodeSlot::Metabase, ListKind::StoreName) + " " + nameClasses() + " " +
    hostOwn(GrammarAction::CatalogPart, {1}) +
    "   ( NAMEX | COMPOUND | FMT )   [ '(' { 'READ' '=' " +
    hostOwn(GrammarAction::CatalogPart, {2}) + " NAMEX | 'PROTECT' '=' " +
    hostOwn(GrammarAction::CatalogPart, {3}) + " NAMEX } ')' ] | 'FORMAT' '=' " +
    act(GrammarAction::StoreValue, {keyOf(CodeSlot::Format), ValueForm::Text}) + " FMT | " +
    numberOption("'LINESIZE'/'LS$'", range(78, 254), CodeSlot::LineSize, "INT") +
    " | 'LOOKUP'/'LOOK' '=' ( " +
    choices(CodeSlot::Lookup,
            {{"'AUTO'", LOOKUP_AUTO}, {"'SELECT'", LOOKUP_SELECT}, {"'LINEAR'", LOOKUP_LINEAR}}) +
    "   | " + choices(CodeSlot::Lookup, {{"'BINARY'", LOOKUP_BINARY}}) + " ) | 'GROUP' '=' " +
    act(GrammarAction::StoreValue, {keyOf(CodeSlot::Group), ValueForm::Quoted, 16}) +
    " ( NAMEX | VLITERAL ) | " + flagged("'RESIDUALS'/'RES'/'RESIDUAL'", CodeFlag::Residuals) +
    " | " + flagged("'NORESIDUALS'/'NORES'/'NORESIDUAL'", CodeFlag::NoResiduals) + " | " +
    flagged("'ERRORS'/'ERR'/'ERROR'", CodeFlag::Errors) + " | " +
    flagged("'NOERRORS'/'NOERR'/'NOERROR'", CodeFlag::NoErrors) + " | " +
    flagged("'DUMMIES'/'DUM'/'DUMMY'", CodeFlag::Dummies) + " | " +
    flagged("'NODUMMIES'/'NODUM'/'NODUMMY'", CodeFlag::NoDummies) + " | " +
    flagged("'IMPUTE'/'IMPUTATION$'", CodeFlag::Impute) + " )";

// The shared value forms: names, variables and variable lists, data-set names, number lists.
std::string nameStart() { return hostOwn(GrammarAction::NameStart, {1}); }
std::string appendName(int nameCase) { return act(GrammarAction::AppendName, {nameCase}); }
std::string itemStart() { return act(GrammarAction::ItemStart); }
std::string variableItem(int kind) { return act(GrammarAction::VariableItem, {kind}); }
std::string numberItem(int part) { return act(GrammarAction::NumberList, {part}); }
std::string dataSetOptions(int at) { return act(GrammarAction::DataSetOptions, {at}); }

const std::string kName = nameStart() + " ( NAMEX | VLITERAL ) " + appendName(NameCase::Upper);
const std::string kOutName = nameStart() + " ( NAMEX | VLITERAL ) " + appendName(NameCase::AsTyped);
const std::string kVariable = itemStart() + " ( NAMEX | VLITERAL ) " + variableItem(HLK_SINGLE);
const std::string kVariableItem =
    "( '_NUMERIC_' " + variableItem(HLK_NUMERIC) + " | '_CHARACTER_'/'_CHAR_' " +
    variableItem(HLK_CHARACTER) + " | '_ALL_' " + variableItem(HLK_ALL) + " | " + itemStart() +
    " ( NAMEX | VLITERAL ) ( ':' " + variableItem(HLK_PREFIX) + " | '-' ( '-' vname " +
    variableItem(HLK_POSITIONAL) + " | 'NUMERIC' '-' vname " + variableItem(HLK_NUMERIC_RANGE) +
    " | 'CHARACTER'/'CHAR' '-' vname " + variableItem(HLK_CHARACTER_RANGE) + " | vname " +
    variableItem(HLK_NUMBERED) + " ) | " + variableItem(HLK_SINGLE) + " ) )";
const std::string kDataSetName = nameClasses() + " " + act(GrammarAction::DataSetStart) +
                                 " ( NAMEX | VLITERAL | COMPOUND | FMT | QS ) [ " +
                                 hostOwn(GrammarAction::NameClass, {18}) + " " +
                                 dataSetOptions(DataSetOptionsAt::Before) + " '(' " +
                                 dataSetOptions(DataSetOptionsAt::Inside) + " ')' " +
                                 hostOwn(GrammarAction::NameClass, {118}) + " ]";
// A name item's second word (99 ALT, 20 a name) is the host's own.
const std::string kNumberItems =
    "{ ( " + numberItem(NumberItem::Start) + " number [ 'TO' " + numberItem(NumberItem::To) +
    " number [ 'BY' " + numberItem(NumberItem::By) + " number ] ] | " +
    act(GrammarAction::NumberList, {NumberItem::Name, 99}) + " 'ALT' | " +
    act(GrammarAction::NumberList, {NumberItem::Name, 20}) + " ( NAMEX | VLITERAL | FMT ) ) " +
    numberItem(NumberItem::End) + " [ ',' ] }";

// CLASS PARAM= and ORDER=: keywords that each append their code to the list.
std::string listChoices(std::initializer_list<Keyword> keywords) {
  return keywordItems(keywords, [](int code) { return listCode(code); });
}
const std::string kCoding =
    "( " +
    listChoices({{"'EFFECT'", CC_EFFECT},
                 {"'ORTHEFFECT'", CC_ORTHEFFECT},
                 {"'REF'/'REFERENCE'", CC_REFERENCE},
                 {"'ORTHREF'", CC_ORTHREF}}) +
    " | " + listChoices({{"'POLY'/'POLYNOMIAL'", CC_POLYNOMIAL}, {"'ORTHPOLY'", CC_ORTHPOLY}}) +
    " | " +
    listChoices({{"'ORD'/'ORDINAL'/'THERMOMETER'/'THERM'", CC_ORDINAL},
                 {"'ORTHORDINAL'/'ORTHOTHERM'", CC_ORTHORDINAL}}) +
    " | " +
    listChoices(
        {{"'BATH$'/'BATHTUB$'", CC_BATHTUB}, {"'ORTHBATH$'/'ORTHBATHTUB$'", CC_ORTHBATHTUB}}) +
    " )";
const std::string kClassOrder = "( " +
                                listChoices({{"'FORMATTED'", CORDER_FORMATTED},
                                             {"'DATA'", CORDER_DATA},
                                             {"'FREQ'", CORDER_FREQ},
                                             {"'INTERNAL'", CORDER_INTERNAL}}) +
                                " )";

// MODEL's effects, written for the effect callback.
std::string listItem(int item) { return effect(EffectCode::ListItem, item); }
const std::string kEffect =
    effect(EffectCode::DirectRestriction, kNoDirectRestriction) + " " +
    effect(EffectCode::ListMode, EffectListMode::Ordinary) + " ( '_NUMERIC_' " +
    listItem(EffectItem::Numeric) + " | '_CHARACTER_'/'_CHAR_' " + listItem(EffectItem::Character) +
    " | term ( ':' " + listItem(EffectItem::Prefix) + " | { effsep term } ) ) [ '@' " +
    effect(EffectCode::OrderLimit) + " number ] " + effect(EffectCode::EndExpression);
const std::string kEffectSeparator =
    "( '|' " + listItem(EffectItem::Bar) + " | '-' ( 'NUMERIC' '-' " +
    listItem(EffectItem::NumericRange) + " | 'CHARACTER'/'CHAR' '-' " +
    listItem(EffectItem::CharacterRange) + " | '-' " + listItem(EffectItem::Positional) + " | " +
    listItem(EffectItem::Numbered) + " ) )";
const std::string kTerm = effect(EffectCode::NewTerm) + " evar { '*' evar } [ '(' { [ '*' ] " +
                          effect(EffectCode::Nested) + " " + nameStart() + " vname } ')' ] " +
                          effect(EffectCode::EndTerm);
const std::string kEffectVariable = effect(EffectCode::Variable) + " " +
                                    hostOwn(GrammarAction::NameToken, {1, 1}) +
                                    " ( NAMEX | VLITERAL )";

const std::string kPerformanceStmt =
    newNode(NodeSlots::Performance) + " 'PERFORMANCE' { perfopt } " + endStatement();

// Rule 0 is the start rule. Flags and slots are those the readers read; support/protocol.h
// names the slots this grammar adds to the procedure statement's node.
const GrammarRule kRules[] = {
    {"statement",
     "( procstmt | bystmt | classstmt | effectstmt | freqstmt | partitionstmt | modelstmt"
     " | weightstmt | outputstmt | performancestmt | scorestmt | modelaveragestmt"
     " | storestmt | codestmt )"},

    // ---- shared value forms ----
    {"number", "( INT | NBR | DATE | TIME | DATETIME )"},
    {"name", kName.c_str()},
    {"outname", kOutName.c_str()},
    {"vname", "( NAMEX | VLITERAL )"},
    {"variable", kVariable.c_str()},
    {"varlist", "{ varitem }"},
    {"varitem", kVariableItem.c_str()},
    {"dsname", kDataSetName.c_str()},
    {"numlist", "( '(' numitems ')' | numitems )"},
    {"numitems", kNumberItems.c_str()},

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
    {"classstmt", kClassStmt.c_str()},
    {"coding", kCoding.c_str()},
    {"classorder", kClassOrder.c_str()},
    {"classvaropt", kClassVariableOptions.c_str()},
    {"classglobopt", kClassGlobalOptions.c_str()},
    {"freqstmt", kFreq.c_str()},
    {"weightstmt", kWeight.c_str()},

    // ---- MODEL ----
    {"modelstmt", kModelStmt.c_str()},
    {"effect", kEffect.c_str()},
    {"effsep", kEffectSeparator.c_str()},
    {"term", kTerm.c_str()},
    {"evar", kEffectVariable.c_str()},
    {"crit11", kCrit11.c_str()},
    {"crit12", kCrit12.c_str()},
    {"crit14", kCrit14.c_str()},
    {"oslentry", kSlEntry.c_str()},
    {"oslstay", kSlStay.c_str()},
    {"oinclude", kInclude.c_str()},
    {"ostart", kStart.c_str()},
    {"omaxsteps", kMaxSteps.c_str()},
    {"osteps", kSteps.c_str()},
    {"oselect", kSelect.c_str()},
    {"ostop", kStop.c_str()},
    {"ochoose", "'CHOOSE' '=' crit14"},
    {"odrop", kDrop.c_str()},
    {"fwdopt", "( oslentry | oinclude | ostart | omaxsteps | osteps | oselect | ostop | ochoose )"},
    {"bwdopt", "( oslstay | oinclude | omaxsteps | osteps | oselect | ostop | ochoose )"},
    {"swopt", "( oslentry | oslstay | oinclude | ostart | omaxsteps | osteps | oselect | ostop"
              " | ochoose | odrop )"},
    {"penopt", kPenaltyOptions.c_str()},
    {"method", kMethod.c_str()},
    {"statitem", kStatItem.c_str()},
    {"stepitem", kStepItem.c_str()},
    {"cvcount", kCvCount.c_str()},
    {"modelopt", kModelOptions.c_str()},

    // ---- EFFECT ----
    {"effectstmt", kEffectStmt.c_str()},
    {"efkind", kEffectKind.c_str()},
    {"efdetails", kEffectDetails.c_str()},
    {"mmopt", kMultiMemberOptions.c_str()},
    {"splopt", kSplineOptions.c_str()},
    {"knotmethod", kKnotMethod.c_str()},
    {"polyopt", kPolyOptions.c_str()},
    {"lsitem", kLabelStyleItem.c_str()},
    {"lagopt", kLagOptions.c_str()},

    // ---- PARTITION, OUTPUT, SCORE ----
    {"partitionstmt", kPartition.c_str()},
    {"statopt", kStatOptions.c_str()},
    {"outputstmt", kOutput.c_str()},
    {"scorestmt", kScore.c_str()},

    // ---- PERFORMANCE ----
    {"performancestmt", kPerformanceStmt.c_str()},
    {"perfopt", kPerfOptions.c_str()},

    // ---- MODELAVERAGE ----
    {"modelaveragestmt", kModelAverage.c_str()},
    {"maopt", kAverageOptions.c_str()},
    {"trim", kTrim.c_str()},
    {"tableitem", kTableItem.c_str()},

    // ---- STORE and CODE (handed on, not read here) ----
    {"storestmt", kStoreStmt.c_str()},
    {"codestmt", kCodeStmt.c_str()},
    {"codeopt", kCodeOptions.c_str()},
};

} // namespace

const std::map<std::string, int>& vsfGrammarBuiltActions() { return builtActions(); }

const GrammarRule* vsfGrammarRules(int* count) {
  *count = static_cast<int>(sizeof kRules / sizeof kRules[0]);
  return kRules;
}

VsfGrammar* vsfselg() {
  auto* g = static_cast<VsfGrammar*>(xtalloc(sizeof(VsfGrammar), 0x2004));
  if (g == nullptr)
    xexit(codeOf(StepRc::NoResources), 0);
  std::memset(g, 0, sizeof *g);
  g->tableFormat = kGrammarRuleText;
  g->tokenClassCount = TC_COUNT;
  g->rules = vsfGrammarRules(&g->ruleCount);
  return g;
}
