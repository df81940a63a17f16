// The procedure's grammar: one rule per statement and per shared value form, in the rule
// notation of support/grammar.h, with the action routines that fill the statement nodes.
// The host parser interprets the rules; the statement readers read the nodes.
#include "driver/vsfselg.h"

#include "effects/levdesign.h"
#include "support/hoststubs.h"
#include "support/parsedstmt.h"
#include "support/vsfoptions.h"

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
// A keyword and the code StoreCode writes for it.
struct Keyword {
  const char* words;
  int code;
};
// "w1 #33(slot,c1) | w2 #33(slot,c2) ...": keywords that each store their code in a slot.
std::string choices(int slot, std::initializer_list<Keyword> keywords) {
  std::string text;
  for (const Keyword& k : keywords)
    text += (text.empty() ? "" : " | ") + std::string(k.words) + " " + storeCode(slot, k.code);
  return text;
}
// The criteria SELECT=, STOP= and CHOOSE= share, from AIC to CV.
std::string criteria(int slot) {
  return choices(slot, {{"'AIC'", VC_AIC},
                        {"'AICC'", VC_AICC},
                        {"'SBC'", VC_SBC},
                        {"'RSQUARE'", VC_RSQUARE},
                        {"'ADJRSQ'", VC_ADJRSQ},
                        {"'CP'", VC_CP},
                        {"'BIC'", VC_BIC},
                        {"'PRESS'", VC_PRESS},
                        {"'VALIDATE'", VC_VALIDATE},
                        {"'CV'/'CROSSVALIDATE'/'XVALIDATE$'", VC_CV}});
}
std::string significance(int slot) { return "'SIGNIFICANCELEVEL'/'SL' " + storeCode(slot, VC_SL); }
// keywords '=' #20(range) #6(slot,1) form: a bounded number option.
std::string numberOption(const char* keywords, const char* range, int slot, const char* form) {
  return std::string(keywords) + " '=' " + range + " " + storeNumber(slot) + " " + form;
}
std::string flagged(const char* keywords, int flag) {
  return std::string(keywords) + " " + setFlag(flag);
}
std::string method(const char* keyword, int code, const char* options) {
  std::string text = std::string(keyword) + " " + storeCode(ModelSlot::Method, code);
  return options ? text + " [ '(' { " + options + " } ')' ]" : text;
}

const std::string kModelStmt = "#3(38) 'MODEL' " + startList(ModelSlot::Response, 1) +
                               " varlist '=' " + startList(ModelSlot::Effects, 9) +
                               " #39(16) { effect } #39(17) [ '/' { modelopt } ] #4";
const std::string kCrit11 =
    "( " + significance(ModelSlot::Select) + " | " + criteria(ModelSlot::Select) + " )";
const std::string kCrit12 = "( " + significance(ModelSlot::Stop) + " | " +
                            criteria(ModelSlot::Stop) + " | " +
                            choices(ModelSlot::Stop, {{"'NONE'", VC_NONE}, {"'L1'", VC_L1}}) + " )";
const std::string kCrit14 = "( " + criteria(ModelSlot::Choose) + " | " +
                            choices(ModelSlot::Choose, {{"'CVEXTERNAL'/'CVEX'/'EXCV'", VC_CVEX}}) +
                            " )";
const std::string kSlEntry =
    numberOption("'SLENTRY'/'SLE'", "#20(0,1)", ModelSlot::SlEntry, "number");
const std::string kSlStay = numberOption("'SLSTAY'/'SLS'", "#20(0,1)", ModelSlot::SlStay, "number");
const std::string kInclude = numberOption("'INCLUDE'", "#20(0)", ModelSlot::Include, "INT");
const std::string kStart = numberOption("'START'", "#20(1)", ModelSlot::Start, "INT");
const std::string kMaxSteps =
    numberOption("'MAXSTEPS'/'MAXSTEP'", "#20(1)", ModelSlot::MaxSteps, "INT");
const std::string kSteps = numberOption("'STEPS'", "#20(1)", ModelSlot::Steps, "INT");
const std::string kSelect = flagged("'SELECT'", ModelFlag::Select) + " '=' crit11";
const std::string kStop = flagged("'STOP'", ModelFlag::Stop) + " '=' ( #20(1) " +
                          storeNumber(ModelSlot::StopCount) + " INT | crit12 )";
const std::string kDrop =
    "'DROP' '=' ( " +
    choices(ModelSlot::Drop, {{"'BEFOREADD'", 1}, {"'COMPETITIVE'", 2}, {"'AFTERADD'", 3}}) + " )";
const std::string kPenaltyOptions =
    "( oslentry | oslstay | omaxsteps | osteps | ostop | ochoose | " +
    flagged("'LSCOEFFS'/'LEASTSQUARESCOEFFS'", ModelFlag::LsCoeffs) + " | " +
    flagged("'ADAPTIVE'", ModelFlag::Adaptive) + " [ '(' { 'GAMMA' '=' #20(0) " +
    storeNumber(ModelSlot::Gamma) + " number   | 'INEST'/'IN' '=' dsname " +
    act(GrammarAction::DataSet, {ModelSlot::InEst, 1, 0, 2, 2, 3, 0}) + " } ')' ] | 'L2' '=' " +
    storeNumber(ModelSlot::L2) + " number | " + flagged("'ENSCALE'", ModelFlag::EnScale) + " | " +
    flagged("'SHOWL2SEARCH$'", ModelFlag::ShowL2Search) + " | " +
    flagged("'SHOWCVEX$'", ModelFlag::ShowCvex) + " | " +
    flagged("'SHOWSTEPL1$'", ModelFlag::ShowStepL1) + " | " +
    flagged("'LINEARCVEX$'", ModelFlag::LinearCvex) + " | " +
    numberOption("'L2STEPS'", "#20(2)", ModelSlot::L2Steps, "INT") + " | 'L2SEARCH' '=' ( " +
    choices(ModelSlot::L2Search, {{"'NONE'", 1}, {"'GOLDEN'", 2}, {"'GRID'", 3}}) + " ) | " +
    numberOption("'L2LOW'", "#20(0)", ModelSlot::L2Low, "number") + " | " +
    numberOption("'L2HIGH'", "#20(0)", ModelSlot::L2High, "number") + " | " +
    numberOption("'L1'", "#20(0)", ModelSlot::L1, "number") + " | 'L1CHOICE' '=' ( " +
    choices(ModelSlot::L1Choice,
            {{"'RATIO'", VL1_RATIO}, {"'NORM'", VL1_NORM}, {"'VALUE'", VL1_VALUE}}) +
    " ) | 'SCREEN' '=' ( " +
    choices(ModelSlot::Screen,
            {{"'NONE'", SCREEN_NONE}, {"'BASE$'", SCREEN_BASE}, {"'SASVI'", SCREEN_SASVI}}) +
    "   | " +
    choices(ModelSlot::Screen,
            {{"'SASVI2$'", SCREEN_SASVI2}, {"'DPP$'", SCREEN_DPP}, {"'SIS'", SCREEN_SIS}}) +
    " [ '(' {   " + numberOption("'KEEPNUM'", "#20(1)", ModelSlot::KeepNum, "INT") + " | " +
    numberOption("'KEEPRATIO'", "#20(0,1)", ModelSlot::KeepRatio, "number") + " } ')' ] ) | " +
    numberOption("'SCREENSTEPS$'", "#20(1)", ModelSlot::ScreenSteps, "INT") + " | " +
    flagged("'SHOWSCREEN$'", ModelFlag::ShowScreen) + " | " +
    numberOption("'RHO'", "#20(0,1)", ModelSlot::Rho, "number") + " | " +
    numberOption("'TOL'", "#20(0,1)", ModelSlot::Tol, "number") + " | 'TOLERANCE' )";
const std::string kMethod =
    "( " + method("'NONE'", VM_NONE, nullptr) + " | " + method("'FORWARD'", VM_FORWARD, "fwdopt") +
    " | " + method("'BACKWARD'", VM_BACKWARD, "bwdopt") + " | " +
    method("'STEPWISE'", VM_STEPWISE, "swopt") + " | " + method("'LAR'", VM_LAR, "penopt") + " | " +
    method("'LASSO'", VM_LASSO, "penopt") + " | " +
    method("'ELASTICNET'", VM_ELASTICNET, "penopt") + " | " +
    method("'QKLASSO$'", VM_QKLASSO, "penopt") + " | " +
    method("'QKGLASSO$'", VM_QKGLASSO, "penopt") + " | " +
    method("'GROUPLASSO'", VM_GROUPLASSO, "penopt") + " )";
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
    flagged("'ALL'", ModelFlag::CandidatesAll) + " | #20(1) " +
    storeNumber(ModelSlot::CandidatesShown) + " INT ) ')' ] )";
const std::string kCvCount = "'(' #20(2) " + storeNumber(ModelSlot::CvFolds) + " INT ')'";
const std::string kModelOptions =
    "( " + flagged("'NOINT'", ModelFlag::NoInt) +
    " | 'STATS'/'STATISTICS'/'STAT' '=' ( '(' { statitem } ')' | statitem ) | 'DETAILS' '=' ( " +
    choices(ModelSlot::Details, {{"'ALL'", 3}, {"'STEPS'", 2}}) + " [ '(' " +
    setFlag(ModelFlag::StepItems) + " { stepitem } ')' ]   | " +
    choices(ModelSlot::Details, {{"'SUMMARY'", 1}}) + " ) | " +
    flagged("'SELECTION'", ModelFlag::Selection) + " '=' method | 'HIERARCHY'/'HIER' '=' ( " +
    choices(ModelSlot::Hierarchy, {{"'NONE'", 0}, {"'SINGLE'", 1}, {"'SINGLECLASS'", 2}}) +
    " ) | " + flagged("'ORDERSELECT'", ModelFlag::OrderSelect) + " | " +
    flagged("'STB'", ModelFlag::Stb) + " | " +
    flagged("'CVMETHOD'/'XVMETHOD$'", ModelFlag::CvMethod) + " '=' ( 'RANDOM' [ cvcount ] | " +
    flagged("'BLOCK'", ModelFlag::CvBlock) + " [ cvcount ]   | " +
    flagged("'SPLIT'", ModelFlag::CvSplit) + " [ cvcount ] | " +
    flagged("'INDEX'", ModelFlag::CvIndex) + " '(' " + startList(ModelSlot::CvIndexVar, 1) +
    " variable ')' ) | " + flagged("'CVDETAILS'", ModelFlag::CvDetails) + " [ '=' ( " +
    flagged("'CVPRESS'", ModelFlag::CvPress) + " | " + flagged("'COEFFS'", ModelFlag::CvCoeffs) +
    " | " + flagged("'ALL'", ModelFlag::CvAll) + " ) ] | " +
    flagged("'SHOWPVALUES'/'SHOWPVALS'", ModelFlag::ShowPValues) + " | " +
    flagged("'NOSTANDARDIZE$'", ModelFlag::NoStandardize) + " | " +
    numberOption("'FUZZ'", "#20(0,1)", ModelSlot::Fuzz, "number") +
    " | oslentry | oslstay | oinclude | ostart | omaxsteps | osteps | oselect | ostop | ochoose"
    " | odrop )";

// CLASS: a variable's option records the variable's position before its value.
std::string position(int slot) { return act(GrammarAction::ClassPosition, {slot, 2}); }
std::string appendNumber(int slot) { return act(GrammarAction::AppendValue, {slot, 1}); }

const std::string kClassStmt = "#2 'CLASS' { " + startList(kSlotClassVariables, 3) +
                               " varitem [ '(' { classvaropt } ')' ] } [ '/' { classglobopt } ]";
const std::string kClassVariableOptions =
    "( 'PARAM'/'CODING' " + position(ClassSlot::CodingPosition) + " '=' " +
    startList(ClassSlot::Coding, 1) + " coding | 'ORDER' " + position(ClassSlot::OrderPosition) +
    " '=' " + startList(ClassSlot::Order, 1) + " classorder | 'REFERENCE'/'REF' " +
    position(ClassSlot::ReferencePosition) + " '=' " + startList(ClassSlot::Reference, 1) +
    " ( 'FIRST' #22(1) | 'LAST' #22(2)   | #22(3) " + appendText(ClassSlot::ReferenceValue) +
    " QS ) | 'DESCENDING'/'DESC' " + position(ClassSlot::DescendingPosition) + " " +
    startList(ClassSlot::Descending, 1) + " #22(1) | 'CPREFIX' " +
    position(ClassSlot::CprefixPosition) + " '=' " + appendNumber(ClassSlot::Cprefix) +
    " #20(65535) INT | 'LPREFIX' " + position(ClassSlot::LprefixPosition) + " '=' " +
    appendNumber(ClassSlot::Lprefix) + " #20(65535) INT | 'MISSING' " +
    position(ClassSlot::MissingPosition) + " " + startList(ClassSlot::Missing, 1) +
    " #22(1) | 'SPLIT' " + position(ClassSlot::SplitPosition) + " " +
    startList(ClassSlot::Split, 1) + " #22(1) )";
const std::string kClassGlobalOptions =
    "( 'PARAM'/'CODING' '=' " + startList(ClassSlot::CodingAll, 1) +
    " ( coding | 'GLM' #22(6) ) | 'ORDER' '=' " + startList(ClassSlot::OrderAll, 1) +
    " classorder | 'REFERENCE'/'REF' '=' " + startList(ClassSlot::ReferenceAll, 1) +
    " ( 'FIRST' #22(1) | 'LAST' #22(2) ) | 'DESCENDING'/'DESC' " +
    startList(ClassSlot::DescendingAll, 1) + " #22(1) | 'CPREFIX' '=' " +
    appendNumber(ClassSlot::CprefixAll) + " #20(65535) INT | 'LPREFIX' '=' " +
    appendNumber(ClassSlot::LprefixAll) + " #20(65535) INT | 'MISSING' " +
    startList(ClassSlot::MissingAll, 1) + " #22(1) | " +
    flagged("'TRUNCATE'", ClassFlag::Truncate) + " [ '=' " + storeNumber(ClassSlot::Truncate) +
    " #20(65535) INT ] | " + flagged("'SHOWCODING'/'SHOW'", ClassFlag::ShowCoding) + " | " +
    flagged("'SPLIT'", ClassFlag::SplitAll) + " | 'DELIMITER' '=' " +
    appendText(ClassSlot::Delimiter) + " QS )";

// EFFECT: a kind's keywords, its code, the variable list's kind, the list and its options.
std::string effectKind(const char* keywords, int kind, int listKind, const char* list,
                       const char* options) {
  return std::string(keywords) + " " + storeCode(EffectSlot::Kind, kind) + " '(' " +
         startList(EffectSlot::Variables, listKind) + " " + list + options;
}

const std::string kEffectStmt =
    "#3(25) #39(14) 'EFFECT' " + startList(EffectSlot::Name, 9) + " name '=' efkind #4";
const std::string kEffectKind =
    "( " +
    effectKind("'MULTIMEMBER'/'MM'", EV_MULTIMEMBER, 3, "varlist", " [ '/' { mmopt } ] ')'") +
    " | " +
    effectKind("'COLLECTION'/'VARIABLES$'/'VARS$'", EV_COLLECTION, 3, "varlist",
               "   [ '/' { efdetails } ] ')'") +
    " | " + effectKind("'SPLINE'/'SPL'", EV_SPLINE, 1, "varlist", " [ '/' { splopt } ] ')'") +
    " | " +
    effectKind("'POLY'/'POLYNOMIAL'", EV_POLYNOMIAL, 1, "varlist", " [ '/' { polyopt } ] ')'") +
    " | " + effectKind("'LAG'", EV_LAG, 3, "varitem", " [ '/' { lagopt } ] ')'") + " )";
const std::string kEffectDetails = flagged("'DETAILS'", EffectFlag::Details) +
                                   " [ '(' 'DELIMITER' '=' " + appendText(EffectSlot::Delimiter) +
                                   " QS ')' ]";
const std::string kMultiMemberOptions = "( 'WEIGHT' '=' '(' " + startList(EffectSlot::Weight, 1) +
                                        " varlist ')' | efdetails | " +
                                        flagged("'NOEFFECT'", EffectFlag::NoEffect) + " | " +
                                        flagged("'STDIZE'/'ROWSTD'", EffectFlag::Stdize) + " )";
const std::string kSplineOptions =
    "( 'KNOTMETHOD' '=' knotmethod | " +
    numberOption("'DEGREE'", "#20(0)", EffectSlot::SplineDegree, "INT") + " | 'BASIS' '=' ( " +
    choices(EffectSlot::Basis, {{"'BSPLINE'", SB_BSPLINE}, {"'TPF'", SB_TPF}}) + "   [ '(' { " +
    flagged("'NOINT'", EffectFlag::NoInt) + " | " + flagged("'NOPOWERS'", EffectFlag::NoPowers) +
    " } ')' ] ) | 'KNOTMIN' '=' " + storeNumber(EffectSlot::KnotMin) + " number | 'KNOTMAX' '=' " +
    storeNumber(EffectSlot::KnotMax) + " number | " +
    flagged("'NATURALCUBIC'/'NATURAL'/'RESTRICTED'", EffectFlag::Natural) + " | " +
    flagged("'SEPARATE'", EffectFlag::Separate) + " | " + flagged("'SPLIT'", EffectFlag::Split) +
    " | " + flagged("'DETAILS'", EffectFlag::Details) + " | " +
    flagged("'DATABOUNDARY'", EffectFlag::DataBoundary) + " )";
std::string knots(const char* keyword, int code, const char* range) {
  return std::string(keyword) + " " + storeCode(EffectSlot::KnotMethod, code) + " '(' " + range +
         startList(EffectSlot::KnotList, 4) + " numitems ')'";
}
const std::string kKnotMethod =
    "( 'EQUAL' " + storeCode(EffectSlot::KnotMethod, KM_EQUAL) + " [ '(' #20(0) " +
    storeNumber(EffectSlot::KnotCount) + " INT ')' ] | 'MULTISCALE' " +
    storeCode(EffectSlot::KnotMethod, KM_MULTISCALE) + " [ '(' { " +
    numberOption("'STARTLEVEL'/'STARTSCALE$'", "#20(0)", EffectSlot::StartScale, "INT") + "   | " +
    numberOption("'ENDSCALE'/'ENDLEVEL$'", "#20(0,15)", EffectSlot::EndScale, "INT") +
    " } ')' ] | " + knots("'LIST'", KM_LIST, "") + " | " +
    knots("'RANGEFRACTIONS'", KM_RANGEFRACTIONS, "#20(0,1) ") + " | 'PERCENTILES' " +
    storeCode(EffectSlot::KnotMethod, KM_PERCENTILES) + " '(' #20(0) " +
    storeNumber(EffectSlot::KnotCount) + " INT ')' | " +
    knots("'LISTWITHBOUNDARY'", KM_LISTWITHBOUNDARY, "") + " )";
const std::string kPolyOptions =
    "( " + numberOption("'DEGREE'", "#20(1)", EffectSlot::PolyDegree, "INT") + " | " +
    numberOption("'MDEGREE'/'MONOMIALDEGREE'", "#20(1)", EffectSlot::MonoDegree, "INT") + " | " +
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
    "( " + numberOption("'NLAG'", "#20(1)", EffectSlot::Nlag, "INT") + " | 'WITHIN' '=' ( '(' " +
    startList(EffectSlot::Within, 3) + " varlist ')' | " + startList(EffectSlot::Within, 3) +
    " variable ) | 'PERIOD' '=' " + startList(EffectSlot::Period, 3) + " variable | " +
    flagged("'DETAILS'", EffectFlag::Details) + " [ '(' " +
    flagged("'LEVELS'", EffectFlag::Levels) + " ')' ] | 'DESIGNROLE' '=' " +
    startList(EffectSlot::Role, 1) + " variable )";

const std::string kStoreStmt =
    "#3(7) 'STORE'/'ITEMSTORE$' [ 'OUT'/'OUTSTORE' '=' ] " + startList(StoreSlot::Name, 6) +
    " #30(208) #30(108) #35(6,1) ( NAMEX | COMPOUND | FMT | QS ) [ '/' { 'LABEL' '=' " +
    setFlag(StoreFlag::Label) + " " + act(GrammarAction::StoreValue, {StoreSlot::Label, 5}) +
    " QS } ] #4";
const std::string kCodeStmt =
    "#3(20) #23(16) 'CODE' " + storeCode(kSlotPostFit, kPostFitCode) + " #30(114) { codeopt } #4";
const std::string kCodeOptions =
    "( 'FILE' '=' ( " + act(GrammarAction::StoreValue, {CodeSlot::File, 3}) + " QS | " +
    act(GrammarAction::StoreValue, {CodeSlot::File, 2, 8, 1}) +
    " #16(1,1,1) NAMEX ) | 'METABASE'/'CATALOG'/'CAT'/'C' '=' " + startList(CodeSlot::Metabase, 6) +
    " #30(208) #30(108) #13(1)   ( NAMEX | COMPOUND | FMT )   [ '(' { 'READ' '=' #13(2) NAMEX"
    " | 'PROTECT' '=' #13(3) NAMEX } ')' ] | 'FORMAT' '=' " +
    act(GrammarAction::StoreValue, {CodeSlot::Format, 5}) + " FMT | " +
    numberOption("'LINESIZE'/'LS$'", "#20(78,254)", CodeSlot::LineSize, "INT") +
    " | 'LOOKUP'/'LOOK' '=' ( " +
    choices(CodeSlot::Lookup, {{"'AUTO'", 0}, {"'SELECT'", 1}, {"'LINEAR'", 2}}) + "   | " +
    choices(CodeSlot::Lookup, {{"'BINARY'", 4}}) + " ) | 'GROUP' '=' " +
    act(GrammarAction::StoreValue, {CodeSlot::Group, 3, 16}) + " ( NAMEX | VLITERAL ) | " +
    flagged("'RESIDUALS'/'RES'/'RESIDUAL'", CodeFlag::Residuals) + " | " +
    flagged("'NORESIDUALS'/'NORES'/'NORESIDUAL'", CodeFlag::NoResiduals) + " | " +
    flagged("'ERRORS'/'ERR'/'ERROR'", CodeFlag::Errors) + " | " +
    flagged("'NOERRORS'/'NOERR'/'NOERROR'", CodeFlag::NoErrors) + " | " +
    flagged("'DUMMIES'/'DUM'/'DUMMY'", CodeFlag::Dummies) + " | " +
    flagged("'NODUMMIES'/'NODUM'/'NODUMMY'", CodeFlag::NoDummies) + " | " +
    flagged("'IMPUTE'/'IMPUTATION$'", CodeFlag::Impute) + " )";

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
    {"classstmt", kClassStmt.c_str()},
    {"coding",
     "( 'EFFECT' #22(0) | 'ORTHEFFECT' #22(1) | 'REF'/'REFERENCE' #22(2) | 'ORTHREF' #22(3)"
     " | 'POLY'/'POLYNOMIAL' #22(4) | 'ORTHPOLY' #22(5)"
     " | 'ORD'/'ORDINAL'/'THERMOMETER'/'THERM' #22(7) | 'ORTHORDINAL'/'ORTHOTHERM' #22(8)"
     " | 'BATH$'/'BATHTUB$' #22(9) | 'ORTHBATH$'/'ORTHBATHTUB$' #22(10) )"},
    {"classorder", "( 'FORMATTED' #22(0) | 'DATA' #22(1) | 'FREQ' #22(2) | 'INTERNAL' #22(3) )"},
    {"classvaropt", kClassVariableOptions.c_str()},
    {"classglobopt", kClassGlobalOptions.c_str()},
    {"freqstmt", kFreq.c_str()},
    {"weightstmt", kWeight.c_str()},

    // ---- MODEL ----
    {"modelstmt", kModelStmt.c_str()},
    {"effect", "#39(8,0) #39(7,0) ( '_NUMERIC_' #39(10,6) | '_CHARACTER_'/'_CHAR_' #39(10,7)"
               " | term ( ':' #39(10,5) | { effsep term } ) ) [ '@' #39(12) number ] #39(6)"},
    {"effsep", "( '|' #39(10,0) | '-' ( 'NUMERIC' '-' #39(10,3) | 'CHARACTER'/'CHAR' '-' #39(10,4)"
               " | '-' #39(10,2) | #39(10,1) ) )"},
    {"term", "#39(0) evar { '*' evar } [ '(' { [ '*' ] #39(2) #26(1) vname } ')' ] #39(5)"},
    {"evar", "#39(1) #16(1,1) ( NAMEX | VLITERAL )"},
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
    {"performancestmt", "#3(5) 'PERFORMANCE' { perfopt } #4"},
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
