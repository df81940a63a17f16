// The settings of a run as the statement readers store them: the MODEL options with the
// procedure options beside them, the PERFORMANCE block, the OUTPUT and SCORE settings, the
// procedure-statement, PLOTS=, CLASS, PARTITION and MODELAVERAGE settings. The readers
// (vsf*stmt.cpp) fill them; the later steps of the run read them.
#pragma once

#include "support/hostif.h"
#include "support/protocol.h"

#include <cstdint>

struct ParsedStatement;

// Criteria of SELECT=, STOP= and CHOOSE=; each has its row in kVsfCriterionTraits
// (support/vsfcriterion.h), and code asks the row what a criterion is.
enum class VsfCriterion : uint8_t {
  NoneGiven = 0, // the option was not given
  Sl = 1,
  Aic = 2,
  Aicc = 3,
  Sbc = 4,
  RSquare = 5,
  AdjRsq = 6,
  Cp = 7,
  Bic = 8,
  Press = 9,
  Validate = 10,
  Cv = 11,
  None = 12, // STOP=NONE
  Cvex = 13,
  L1 = 14,
  Last = L1, // the highest code: a new criterion moves it and adds its traits row
};

// Selection methods; each has its row in kVsfMethodTraits (support/vsfmethods.h), and code
// asks the row what a method does. The codes are the grammar's METHOD= codes.
enum class VsfMethod : int32_t {
  None = 1,
  Forward = 2,
  Backward = 3,
  Stepwise = 4,
  Lar = 5,
  Lasso = 6,
  LarLs = 7,
  LassoLs = 8,
  ElasticNet = 9,
  ElasticNetLs = 10, // ELASTICNET with least-squares coefficients; the MODEL reader never
                     // gives it
  QkLasso = 11,
  QkGLasso = 12,
  GroupLasso = 13,
  Last = GroupLasso, // the highest code: a new method moves it and adds its traits row
};

// L1CHOICE=: how a path position is told (None when the method has none).
enum class VsfL1Choice : uint8_t { None = 0, Ratio = 1, Norm = 2, Value = 3 };

enum class VsfScreenMethod : uint8_t {
  None = 1,
  Base = 2,
  Sasvi = 3,
  Sasvi2 = 4,
  Dpp = 5,
  Sis = 6,
};

// CVDETAILS=: which fold details the CVDetails tables show.
enum class VsfCvDetails : uint8_t { None = 0, CvPress = 1, Coeffs = 2, All = 3 };

struct VsfModelOptions {
  VsfMethod method;     // default STEPWISE
  uint8_t split;        // SPLIT asked
  uint8_t modelAverage; // a MODELAVERAGE statement was given
  uint8_t pad[2];
  int32_t utilRandom;       // UTIL_RANDOM$ (QkPgfSharing, default kQkPgfSequential)
  int32_t hasOutput;        // an OUTPUT statement was given
  int32_t hasOutDesign;     // OUTDESIGN= was given
  HostDataSet* outputBlock; // the OUTPUT data set's output block
  double outputByNumber;    // BY number of the current output rows
  uint8_t outDesignNames;   // OUTDESIGN(NAMES): print the parameter-names table
  uint8_t pad2[7];
  double testFraction;
  double validateFraction;
  double trainFraction; // default 1.0

  // MODEL statement options.
  double slEntry;   // SLENTRY
  double slStay;    // SLSTAY
  double gamma;     // ADAPTIVE(GAMMA=), default 1
  int32_t maxSteps; // 0: no limit
  int32_t steps;
  int32_t stopCount; // STOP=n (effects)
  int32_t include;
  int32_t start;
  int32_t forcedIn; // INCLUDE, plus 1 for the intercept
  uint8_t noint;
  VsfDrop drop;
  VsfCriterion select;
  VsfCriterion stop;   // NoneGiven: none
  VsfCriterion choose; // NoneGiven: none
  VsfHierarchy hierarchy;
  uint8_t stepDetails; // bit 0: DETAILS=STEPS or ALL
  uint8_t orderSelect;
  VsfCvMethod cvMethod;
  uint8_t showCvex;
  uint8_t showL2Search;
  uint8_t showStepL1;
  uint8_t linearCvex;
  uint8_t showScreen;
  VsfScreenMethod screen; // default NONE
  VsfCvDetails cvDetails;
  uint8_t adaptive;
  uint8_t adaptiveInest; // the adaptive weights' INEST= data set is open
  VsfDetails details;
  uint8_t pad3;
  int32_t cvFolds;          // default 5
  int32_t cvIndexVar;       // CVMETHOD=INDEX variable number
  VsfL1Choice stopL1Choice; // L1CHOICE when STOP=L1
  VsfL1Choice l1Choice;
  uint8_t pad4[6];
  double tol;
  double rho;
  uint8_t stepAnova; // step-table switches
  uint8_t stepFit;
  uint8_t stepParmEst;
  uint8_t stepCandidates;
  int32_t candidatesShown; // default 10; SHOW=ALL 2147483647
  // Statistics switches: ALL, SL, FVALUE, AIC, AICC, SBC, BIC, CP, PRESS, RSQUARE, ADJRSQ,
  // ASE, STB.
  uint8_t statAll;
  uint8_t statSl;
  uint8_t statF;
  uint8_t statAic;
  uint8_t statAicc;
  uint8_t statSbc;
  uint8_t statBic;
  uint8_t statCp;
  uint8_t statPress;
  uint8_t statRsquare;
  uint8_t statAdjrsq;
  uint8_t statAse;
  uint8_t statStb;
  uint8_t pad5[3];
  double fuzz;     // default 1e-12
  double l2;       // -1 not given
  int32_t l2Steps; // default 50
  VsfL2Search l2Search;
  int32_t enscale;
  int32_t pad6;
  double l2Low;
  double l2High;
  int32_t screenSteps; // default 4
  int32_t keepNum;
  int32_t keepNumWork;
  int32_t pad7;
  double keepRatio;
  double keepRatioWork;
  double l1; // -1 not given

  // Fitting switches the model core reads, decided by post-initialisation (the two that
  // follow from the method alone and the per-group words by src/model/vsfswitches.h).
  uint8_t fullXpx;         // the full cross-products matrix is formed before selection
  uint8_t storeCross;      // cross products grown per step and stored
  uint8_t fullModelFirst;  // the full model is fitted first (CP, BIC)
  uint8_t pressNeeded;     // PRESS is a criterion or is displayed
  uint8_t trialAll;        // every candidate is trial-fitted (SELECT= PRESS, VALIDATE, CV)
  uint8_t stopTest;        // STOP= names a criterion
  uint8_t stepRecordBits;  // step-record request bits
  uint8_t storeCandidates; // candidate values kept for display
  VsfFullSweep fullSweep;  // FULL_SWEEP$
  uint8_t cvOn;            // cross validation by folds for the CV criterion
  uint8_t cvExternal;      // external cross validation (CHOOSE=CVEX)
  uint8_t validateInUse;   // validation rows present
  uint8_t testInUse;       // test rows present
  uint8_t colStandardize;  // columns centred and scaled (penalized paths)
  uint8_t parmStandardize; // parameters centred and scaled (group solvers)
  uint8_t stdL1History;    // the standardized-L1 series is recorded
  int32_t transformPages;  // fit-control switches, set per BY group
  int32_t restorePages;
  int32_t recordSteps;
  // Hierarchy counts and lists per effect (null when HIERARCHY= is not in force).
  const int32_t* hierAddCountInit;
  const int32_t* hierDropCountInit;
  int32_t* const* hierListA;
  int32_t* const* hierListB;
};

// CVDETAILS=CVPRESS or ALL: the folds' counts and PRESS, shown in the CVDetails table.
[[nodiscard]] inline bool vsfCvFoldStatsAsked(const VsfModelOptions& o) {
  return o.cvDetails == VsfCvDetails::CvPress || o.cvDetails == VsfCvDetails::All;
}
// CVDETAILS=COEFFS or ALL: the folds' estimates, shown beside the model's.
[[nodiscard]] inline bool vsfCvFoldBetaAsked(const VsfModelOptions& o) {
  return o.cvDetails == VsfCvDetails::Coeffs || o.cvDetails == VsfCvDetails::All;
}

struct VsfPerfBlock {
  uint8_t details;   // PERFORMANCE DETAILS
  uint8_t buildSscp; // BUILDSSCP choice
  uint8_t pad[2];
  int32_t threadCount;        // from CPUCOUNT (host option, then the statement)
  ParsedStatement* statement; // the (last) PERFORMANCE node, or null
  int32_t actualCpuCount;     // host.cpucount, or 1
  uint8_t threadingOn;        // host THREADS, then THREADS/NOTHREADS
  uint8_t allDetails;
  uint8_t timing;         // DETAILS unless NOTIMING$
  uint8_t status;         // PERFSTATUS$
  uint8_t force;          // FORCE$
  uint8_t threadsSetting; // threading as the options and the statement ask for it
  uint8_t pad2[7];
  int32_t cpuCountSetting; // the thread count as CPUCOUNT and the statement ask for it
};

// Hidden PERFORMANCE options copied into the run's settings.
struct VsfPerfOptions {
  uint8_t sscpIncremental; // BUILDSSCP=INCREMENTAL
  uint8_t sscpFull;        // BUILDSSCP=FULL
  uint8_t allSparse;
  uint8_t allDense;
  uint8_t utilDetails;
  VsfFullSweep fullSweep;
  uint8_t pad[2];
  int32_t utilBuffers;  // UTIL_BUFFERS$ (default 0)
  int32_t utilPageSize; // UTIL_PAGESIZE$ in kilobytes (default 0)
  int32_t utilAccess;   // kQkPgfRandom with UTIL_RANDOM$, else 0
};

// One statistic of OUTPUT or SCORE.
struct VsfOutputStat {
  uint8_t on;
  uint8_t pad;
  int16_t reserved;   // set to 0
  int16_t nameLength; // 0 when no name was given
  const char* name;   // into the host's name list
};

// The statistics of OUTPUT and SCORE; each has its row in kVsfOutputStatTraits
// (support/vsfoutputstat.h), and code asks the row what a statistic is.
enum class VsfOutputStatIndex : uint8_t {
  Pred = 0,
  StdDev,
  Upper,
  Lower,
  Resid,
  Median,
  SampleFreq,
  SamplePred,
  Last = SamplePred
};
inline constexpr int kVsfOutputStatCount = static_cast<int>(VsfOutputStatIndex::Last) + 1;

struct VsfOutputSpec {
  HostDataSet* out;
  int32_t columnCount; // PRED, RESID, STDDEV, UPPER, LOWER, MEDIAN requested
  VsfOutputStat stats[kVsfOutputStatCount];

  [[nodiscard]] VsfOutputStat& stat(VsfOutputStatIndex i) { return stats[static_cast<int>(i)]; }
  [[nodiscard]] const VsfOutputStat& stat(VsfOutputStatIndex i) const {
    return stats[static_cast<int>(i)];
  }
};

struct VsfScoreSpec {
  HostDataSet* data;
  HostDataSet* out;
  VsfOutputSpec spec; // spec.out is the same handle as out
};

// Procedure-statement settings.
struct VsfProcSettings {
  HostDataSet* valData;
  HostDataSet* testData;
  int32_t byCount;
  int32_t* byNumbers;
  uint8_t* byDescending;
  uint8_t byNotsorted;
  uint8_t weightGiven;
  uint8_t freqGiven;
  uint8_t freqOrWeight;
  HostVariable* weightVar;
  HostVariable* freqVar;
  int32_t nameLen; // NAMELEN=, default 20
  int16_t showInternal;
  uint8_t pad[2];
  HostDataSet* outDesign;
  uint8_t outDesignFull;
  uint8_t outDesignAddInput;
  uint8_t outDesignNames;
  uint8_t outDesignDefaultPrefix;
  int16_t outDesignPrefixZero;
  int16_t outDesignPrefixLength;
  const char* outDesignPrefix;
};

// How a graph is asked for (its *Level field in VsfPlotSettings): the sum of these, 0 when
// it is not drawn.
inline constexpr uint8_t kPlotByName = 1; // PLOTS= names it
inline constexpr uint8_t kPlotByAll = 2;  // PLOTS=ALL

// Graph settings read from PLOTS=.
struct VsfPlotSettings {
  int16_t graphicsEnabled; // set from the host's output state; cleared by PLOTS=NONE
  uint8_t unpack;
  uint8_t pad;
  int32_t startStep;
  int32_t endStep;
  int32_t maxStepLabel;
  int32_t maxParmLabel;
  uint8_t coefLevel;
  VsfStepAxis coefStepAxis;
  uint8_t coefUnpack, coefLogp;
  double coefLabelGap;
  int32_t coefStart, coefEnd;
  uint8_t selgLevel, selgLogp, selgNormc, pad2;
  double selgEmphasis;
  int32_t selgCandidates;
  uint8_t candLevel, candLogp, pad3[2];
  int32_t candShow;
  uint8_t aseLevel;
  VsfStepAxis aseStepAxis;
  uint8_t pad4[2];
  int32_t aseStart, aseEnd;
  uint8_t critLevel;
  VsfStepAxis critStepAxis;
  uint8_t critUnpack, pad5;
  int32_t critStart, critEnd;
  uint8_t espLevel;
  VsfOrder espOrder;
  uint8_t pad6[6];
  double espMinPct;
  uint8_t pdLevel;
  VsfOrder pdOrder;
  uint8_t pdUnpack, pdNoBox;
  int32_t pdPerPanel;
  double pdMinPct;
};

// CLASS statement switches kept beside the design.
struct VsfClassSettings {
  uint8_t splitAll;
  uint8_t splitAny;
  uint8_t delimiter;
  uint8_t pad;
  int32_t splitCount;
  int16_t showCoding;
};

struct VsfPartitionSettings {
  uint8_t given;
  uint8_t validationAsked;
  uint8_t testAsked;
  uint8_t pad;
  int32_t roleVar; // 0 without ROLEVAR=
  const char* trainText;
  int32_t trainLength;
  const char* validateText;
  int32_t validateLength;
  const char* testText;
  int32_t testLength;
};

// Model-averaging settings.
struct VsfModelAverageSettings {
  uint8_t on;
  uint8_t details;
  uint8_t multithreaded;
  VsfAverageMethod averageMethod;
  uint8_t averageGiven;
  uint8_t srs;
  uint8_t inMemory;
  uint8_t sharedGiven;
  double sampleFraction;
  double sampleSize;
  double trimFraction;
  double parmThreshold;
  double alpha;
  double refitMinPct;
  int32_t threads;
  int32_t nSamples;
  int32_t scheduleChunk;
  int32_t samplesPerThread;
  int32_t minModelFreq;
  int32_t subsetBest;
  int32_t remainder;
  int32_t seed;
  int32_t sharedLength;
  int32_t refitNSamples;
  int32_t refitChunk;
  int32_t refitPerThread;
  int32_t refitRemainder;
  int32_t refitBest;
  const char* sharedPath;
  uint8_t refit;
  uint8_t nonzeroParms;
  uint8_t espLevel; // EFFECTSELECTPCT table
  VsfOrder espOrder;
  uint8_t msfLevel;  // MODELSELECTFREQ table
  uint8_t pestLevel; // PARMEST table
  VsfOrder pestOrder;
  uint8_t pad;
  double espMinPct;
  int32_t msfBest;
  int32_t pad2;
  double pestMinPct;
};

// Utility-file settings that a statement can change (the shared drive of MODELAVERAGE).
struct VsfUtilSettings {
  uint8_t sharedDrive;
  uint8_t pad[3];
  int32_t pathLength;
  const char* path;
};

// Everything the statement readers store besides VsfModelOptions and VsfPerfBlock.
struct VsfStatementSettings {
  double parseStart; // host clock when parsing began
  VsfProcSettings proc;
  VsfPlotSettings plots;
  VsfClassSettings cls;
  VsfPartitionSettings partition;
  VsfModelAverageSettings ma;
  VsfUtilSettings util;
  VsfPerfOptions perfOptions;
  VsfOutputSpec output;
  // MODEL statement values kept outside the options.
  int32_t responseCount;
  HostVariable** responses;
  uint8_t noStandardize;
  uint8_t showPValues;
  uint8_t pad[6];
  HostDataSet* adaptiveInest;
};
