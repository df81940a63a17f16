// The table of the steps that the procedure main calls in other subsystems.
#include "driver/vsfsteps.h"

#include "data/vsfdata.h"
#include "design/levreg.h"
#include "display/vsfdisplay.h"
#include "driver/vsfdesignsource.h"
#include "driver/vsflev.h"
#include "driver/vsfparse.h"
#include "driver/vsfpostinit.h"
#include "model/vsfmodel.h"
#include "numerics/zranms.h"
#include "output/vsfeffects.h"
#include "output/vsfresults.h"
#include "selection/vsfresample.h"

namespace {

const VsfStepTable kRealSteps = {
    xinit,
    vsfParse,
    vsfPostInit,
    vsfInitializeModel,
    vsfPrepEffects,
    vsfMakeEffectNames,
    vsfSplitEffects,
    vsfSetEffectListNParms,
    vsfSplitHierarchy,
    vsfLev,
    vsfSetupInEstScatter,
    vsfReadInEstParms,
    zlevrgi,
    zlevtrm,
    vsfInitializeThreads,
    vsfTerminateThreads,
    zpudt,
    vsfData,
    vsfBagVecRelease,
    vsfFreeScratch,
    vsfModelByFree,
    vsfResamplersCleanup,
    zranms,
    vsfpModelInfo,
    vsfpBootstrapInfo,
    vsfpPerf,
    vsfPrepOutput,
    vsfPrepScores,
    vsfFitAndDisplay,
    vsfMakeMacroVar,
    vsfPrepareOutputAndDesign,
    vsfSetSelModelGroup,
    vsfOutputBy,
    vsfpParameterNames,
    vsfMakeDesignMacroVar,
    vsfScoreResults,
    vsfTimes,
};

VsfStepTable gSteps = kRealSteps;

} // namespace

VsfStepTable& vsfSteps() { return gSteps; }
const VsfStepTable& vsfRealSteps() { return kRealSteps; }
