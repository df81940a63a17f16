// The steps of the run that the procedure main calls in other subsystems, gathered in one
// table of entry points. The main calls every neighbour step through this table, so a test
// can drive the main's orders with steps of its own.
#pragma once

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
  int32_t (*vsfParse)(VsfContext*);
  int32_t (*vsfPostInit)(VsfContext*);
  int32_t (*vsfInitializeModel)(VsfContext*);
  // Effects, levelisation and INEST.
  int32_t (*vsfPrepEffects)(VsfContext*, QkPool*);
  int32_t (*vsfMakeEffectNames)(VsfContext*, QkPool*);
  int32_t (*vsfSplitEffects)(VsfContext*, QkPool*);
  int32_t (*vsfSetEffectListNParms)(VsfContext*);
  int32_t (*vsfSplitHierarchy)(VsfContext*, QkPool*);
  int32_t (*vsfLev)(VsfContext*);
  int32_t (*vsfSetupInEstScatter)(VsfContext*);
  int32_t (*vsfReadInEstParms)(VsfContext*);
  int32_t (*zlevrgi)(LevRegContext*);
  void (*zlevtrm)(LevRegContext*, int32_t);
  // Data pages and threads.
  int32_t (*vsfInitializeThreads)(ThreadPuddle*, int32_t);
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
  int32_t (*vsfpModelInfo)(VsfContext*);
  int32_t (*vsfpBootstrapInfo)(VsfContext*);
  int32_t (*vsfpPerf)(VsfContext*);
  int32_t (*vsfPrepOutput)(VsfContext*);
  int32_t (*vsfPrepScores)(VsfContext*);
  int32_t (*vsfFitAndDisplay)(VsfContext*);
  int32_t (*vsfMakeMacroVar)(VsfContext*, int32_t);
  int32_t (*vsfPrepareOutputAndDesign)(VsfContext*);
  int32_t (*vsfSetSelModelGroup)(VsfContext*);
  int32_t (*vsfOutputBy)(VsfContext*, VsfModel*, VsfResampling*, int64_t);
  int32_t (*vsfpParameterNames)(VsfContext*, VsfModel*);
  int32_t (*vsfMakeDesignMacroVar)(VsfContext*, VsfModel*);
  int32_t (*vsfScoreResults)(VsfContext*, VsfModel*);
  int32_t (*vsfTimes)(VsfContext*);
};

// The table the procedure main uses: the real steps unless a test installed others.
VsfStepTable& vsfSteps();
// The table of the real steps.
const VsfStepTable& vsfRealSteps();
