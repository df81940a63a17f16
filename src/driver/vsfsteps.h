// The steps of the run that the procedure main calls in other subsystems, gathered in one
// table of entry points. The main calls every neighbour step through this table, so a test
// can drive the main's orders with steps of its own.
#pragma once

#include "design/levbuild.h"
#include "design/levrelease.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct VsfModel;
struct VsfScratch;
struct VsfResampling;
struct ThreadPuddle;
struct VsfBagVec;
struct QkExtensionSet;
struct LevRegContext;
struct QkPool;

struct VsfStepTable {
  // Statements and initialisation.
  void (*xinit)(void*, void*, void*, void*, void*, void*);
  VsfStatus (*vsfParse)(VsfContext*);
  VsfStatus (*vsfPostInit)(VsfContext*);
  VsfStatus (*vsfInitializeModel)(VsfContext*);
  // Effects, levelisation and INEST.
  VsfStatus (*vsfPrepEffects)(VsfContext*, QkPool*);
  VsfStatus (*vsfMakeEffectNames)(VsfContext*, QkPool*);
  VsfStatus (*vsfSplitEffects)(VsfContext*, QkPool*);
  VsfStatus (*vsfSetEffectListNParms)(VsfContext*);
  VsfStatus (*vsfSplitHierarchy)(VsfContext*, QkPool*);
  LevBuild (*vsfLev)(VsfContext*);
  VsfStatus (*vsfSetupInEstScatter)(VsfContext*);
  VsfStatus (*vsfReadInEstParms)(VsfContext*);
  LevBuild (*zlevrgi)(LevRegContext*);
  void (*zlevtrm)(LevRegContext*, LevReleaseSet);
  // Data pages and threads.
  VsfStatus (*vsfInitializeThreads)(ThreadPuddle*, int32_t);
  void (*vsfTerminateThreads)(ThreadPuddle*);
  void (*zpudt)(ThreadPuddle*);
  VsfStatus (*vsfData)(VsfContext*);
  void (*vsfBagVecRelease)(VsfBagVec*, QkExtensionSet*);
  void (*vsfFreeScratch)(VsfScratch*, QkExtensionSet*);
  // Model and resampling.
  void (*vsfModelByFree)(VsfModel*);
  void (*vsfResamplersCleanup)(VsfResampling*);
  void (*zranms)(int64_t*, int32_t);
  // Results.
  VsfStatus (*vsfpModelInfo)(VsfContext*);
  VsfStatus (*vsfpBootstrapInfo)(VsfContext*);
  VsfStatus (*vsfpPerf)(VsfContext*);
  VsfStatus (*vsfPrepOutput)(VsfContext*);
  VsfStatus (*vsfPrepScores)(VsfContext*);
  VsfStatus (*vsfFitAndDisplay)(VsfContext*);
  VsfStatus (*vsfMakeMacroVar)(VsfContext*, int32_t);
  VsfStatus (*vsfPrepareOutputAndDesign)(VsfContext*);
  VsfStatus (*vsfSetSelModelGroup)(VsfContext*);
  VsfStatus (*vsfOutputBy)(VsfContext*, VsfModel*, VsfResampling*, int64_t);
  VsfStatus (*vsfpParameterNames)(VsfContext*, VsfModel*);
  VsfStatus (*vsfMakeDesignMacroVar)(VsfContext*, VsfModel*);
  VsfStatus (*vsfScoreResults)(VsfContext*, VsfModel*);
  VsfStatus (*vsfTimes)(VsfContext*);
};

// The table the procedure main uses: the real steps unless a test installed others.
VsfStepTable& vsfSteps();
// The table of the real steps.
const VsfStepTable& vsfRealSteps();
