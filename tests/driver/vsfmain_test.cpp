// The procedure main's orders driven through a fake host: BY-group loop, macro variables,
// return codes, output failures and the release of every pool and extension on each road.
#include "fakehost.h"

#include "display/vsfdisplay.h"
#include "driver/vsfmain.h"
#include "driver/vsfsteps.h"
#include "output/vsfcontext.h"

#include <gtest/gtest.h>

namespace {

struct Settings {
  int32_t maxMacro = 100;
  int failLevGroup = 0; // levelisation fails (library code 1) on this group
  LevBuild levCode = LevBuild::NoLevels;
  int32_t returnCodeBefore = 0;
  int fits = 0;
  bool openGroup = true;
  VsfContext* seen = nullptr;
  // Snapshot of the defaults right after pre-initialisation.
  int64_t byCountAtParse = -1;
  double trainAtParse = 0;
  int32_t utilRandomAtParse = 0, utilPageAtParse = -1, utilBuffersAtParse = -1;
};
Settings gSet;

VsfStatus okStatus(VsfContext*) { return VsfStatus::Ok; }
VsfStatus okPoolStatus(VsfContext*, QkPool*) { return VsfStatus::Ok; }

VsfStepTable fakeSteps() {
  VsfStepTable t = vsfRealSteps();
  t.xinit = [](void*, void*, void*, void*, void*, void*) {};
  t.vsfParse = [](VsfContext* ctx) -> VsfStatus {
    gSet.seen = ctx;
    gSet.byCountAtParse = ctx->byCount;
    gSet.trainAtParse = ctx->options.trainFraction;
    gSet.utilRandomAtParse = ctx->options.utilRandom;
    gSet.utilPageAtParse = ctx->stmt.perfOptions.utilPageSize;
    gSet.utilBuffersAtParse = ctx->stmt.perfOptions.utilBuffers;
    ctx->maxMacro = gSet.maxMacro;
    ctx->returnCode = gSet.returnCodeBefore;
    return VsfStatus::Ok;
  };
  t.vsfPostInit = okStatus;
  t.vsfInitializeModel = [](VsfContext* ctx) -> VsfStatus {
    QkPoolAttributes a{};
    ctx->model.pool = Exported_QKHandle->createPool(Exported_QKHandle, &a, nullptr, "model pool");
    return VsfStatus::Ok;
  };
  t.vsfpModelInfo = okStatus;
  t.vsfpBootstrapInfo = okStatus;
  t.vsfpPerf = okStatus;
  t.vsfPrepEffects = okPoolStatus;
  t.vsfMakeEffectNames = okPoolStatus;
  t.vsfSetEffectListNParms = okStatus;
  t.zlevrgi = [](LevRegContext*) {
    return fakehost::state().byYielded == gSet.failLevGroup ? gSet.levCode : LevBuild::Ready;
  };
  t.vsfData = [](VsfContext*) { return VsfStatus::Ok; };
  t.vsfFitAndDisplay = [](VsfContext* ctx) {
    gSet.fits++;
    if (gSet.openGroup)
      ctx->outputGroup = fakehost::newGroupObject();
    return VsfStatus::Ok;
  };
  t.vsfMakeMacroVar = [](VsfContext*, int32_t) -> VsfStatus { return VsfStatus::Ok; };
  t.vsfPrepareOutputAndDesign = okStatus;
  t.vsfSetSelModelGroup = okStatus;
  t.vsfTimes = okStatus;
  // The fake host has no thread pool, page files or scratch files: the frame's steps are
  // replaced by ones that record a running pool in the puddle word.
  static int fakePool;
  t.vsfInitializeThreads = [](ThreadPuddle* p, int32_t) -> VsfStatus {
    p->pool = reinterpret_cast<decltype(p->pool)>(&fakePool);
    return VsfStatus::Ok;
  };
  t.vsfTerminateThreads = [](ThreadPuddle* p) { p->pool = nullptr; };
  t.zpudt = [](ThreadPuddle* p) { p->pool = nullptr; };
  t.vsfBagVecRelease = [](VsfBagVec*, QkExtensionSet*) {};
  t.vsfFreeScratch = [](VsfScratch*, QkExtensionSet*) {};
  return t;
}

class ProcedureMain : public ::testing::Test {
protected:
  void SetUp() override {
    gSet = Settings{};
    fakehost::install();
    vsfSteps() = fakeSteps();
  }
  void TearDown() override { vsfSteps() = vsfRealSteps(); }
  fakehost::State& host() { return fakehost::state(); }
  void expectNothingLeft() {
    EXPECT_EQ(host().livePools, 0);
    EXPECT_EQ(host().liveExtensions, 0);
  }
};

TEST_F(ProcedureMain, DefaultsAfterPreInitialisation) {
  host().byGroups = 0; // no observations: an error once the settings are made
  EXPECT_EQ(fakehost::runMain(), 1012);
  EXPECT_EQ(gSet.byCountAtParse, 0);
  EXPECT_EQ(gSet.trainAtParse, 1.0);
  EXPECT_EQ(gSet.utilRandomAtParse, 4);
  EXPECT_EQ(gSet.utilPageAtParse, 0);
  EXPECT_EQ(gSet.utilBuffersAtParse, 0);
}

TEST_F(ProcedureMain, FailedLevelisationSkipsOnlyItsGroup) {
  host().byGroups = 3;
  gSet.failLevGroup = 2;
  EXPECT_EQ(fakehost::runMain(), 108);
  EXPECT_EQ(host().count(VsfMsg::ClassLevelsNotDetermined), 1);
  EXPECT_EQ(gSet.fits, 2);
  EXPECT_EQ(host().macros.at("_VSFNUMBYS"), 3.0);
  EXPECT_EQ(host().macros.at("_VSFNUMMACROBYS"), 3.0);
  EXPECT_EQ(host().groupCloses, 2);
  expectNothingLeft();
}

TEST_F(ProcedureMain, LibraryCodeSixGives112WithoutMessage144) {
  host().byGroups = 2;
  gSet.failLevGroup = 1;
  gSet.levCode = LevBuild::ConstructedFailed;
  EXPECT_EQ(fakehost::runMain(), 112);
  EXPECT_EQ(host().count(VsfMsg::ClassLevelsNotDetermined), 0);
  EXPECT_EQ(gSet.fits, 1);
  expectNothingLeft();
}

TEST_F(ProcedureMain, MaxMacroControlsTheByCountMacros) {
  host().byGroups = 3;
  gSet.maxMacro = -1;
  EXPECT_EQ(fakehost::runMain(), 0);
  EXPECT_EQ(host().macros.count("_VSFNUMBYS"), 0u);
  EXPECT_EQ(host().macros.count("_VSFNUMMACROBYS"), 0u);

  SetUp();
  host().byGroups = 3;
  gSet.maxMacro = 0;
  EXPECT_EQ(fakehost::runMain(), 0);
  EXPECT_EQ(host().macros.at("_VSFNUMBYS"), 3.0);
  EXPECT_EQ(host().macros.at("_VSFNUMMACROBYS"), 0.0);

  SetUp();
  host().byGroups = 5;
  gSet.maxMacro = 2;
  EXPECT_EQ(fakehost::runMain(), 0);
  EXPECT_EQ(host().macros.at("_VSFNUMBYS"), 5.0);
  EXPECT_EQ(host().macros.at("_VSFNUMMACROBYS"), 2.0);
}

TEST_F(ProcedureMain, NoByGroupSetsBothMacrosToZero) {
  host().byGroups = 0;
  // A data set without observations gives no BY group: the step says so and fails.
  EXPECT_EQ(fakehost::runMain(), 1012);
  EXPECT_EQ(host().count(VsfMsg::InputDataSetNo), 1);
  EXPECT_EQ(gSet.fits, 0);
  EXPECT_EQ(host().macros.at("_VSFNUMBYS"), 0.0);
  EXPECT_EQ(host().macros.at("_VSFNUMMACROBYS"), 0.0);
  expectNothingLeft();
}

TEST_F(ProcedureMain, OutputFailureEndsTheRunWith120) {
  host().byGroups = 2;
  host().levelMarkResult = static_cast<int32_t>(0x80001234u);
  EXPECT_EQ(fakehost::runMain(), 120);
  EXPECT_EQ(host().statusLog.size(), 1u);
  EXPECT_EQ(gSet.fits, 1);
  expectNothingLeft();
}

TEST_F(ProcedureMain, LogOnlyOutputStatusLetsTheRunGoOn) {
  host().byGroups = 2;
  host().levelMarkResult = static_cast<int32_t>(0x80000000u | (63u << 11) | 53u);
  EXPECT_EQ(fakehost::runMain(), 0);
  EXPECT_EQ(gSet.fits, 2);
  EXPECT_EQ(host().statusLog.size(), 4u); // two level marks per group, each logged
  expectNothingLeft();
}

TEST_F(ProcedureMain, MissingExtensionEndsWithMessageAndCode) {
  host().missingExtension = "qkavlt";
  EXPECT_EQ(fakehost::runMain(), 1012);
  EXPECT_EQ(host().count(VsfMsg::HostExtensionNotLoaded), 1);
  expectNothingLeft(); // the three loaded extensions were unloaded
}

TEST_F(ProcedureMain, MissingOutputBlockEndsWithMessageAndCode) {
  host().noObjectBlock = true;
  EXPECT_EQ(fakehost::runMain(), 1012);
  EXPECT_EQ(host().count(VsfMsg::OutputBlockNotCreated), 1);
  expectNothingLeft();
}

TEST_F(ProcedureMain, ExitCodeNeverLowersAnEarlierOne) {
  host().byGroups = 1;
  gSet.returnCodeBefore = 3000;
  vsfSteps().vsfFitAndDisplay = [](VsfContext*) { return VsfStatus::NotRestored; };
  EXPECT_EQ(fakehost::runMain(), 3000);
  EXPECT_EQ(host().count(VsfMsg::StepNotRestored), 1);
  expectNothingLeft();
}

// Every step that can fail ends the run with a raised code and releases every pool,
// extension and the group's design pool, wherever in the run it fails.
TEST_F(ProcedureMain, EveryFailureRoadReleasesEverything) {
  struct Road {
    const char* name;
    void (*arm)(VsfStepTable&);
    int32_t minCode;
  };
  const Road roads[] = {
      {"parse",
       [](VsfStepTable& t) { t.vsfParse = [](VsfContext*) { return VsfStatus::InternalError; }; },
       1012},
      {"postinit",
       [](VsfStepTable& t) {
         t.vsfPostInit = [](VsfContext*) { return VsfStatus::DataNotReadable; };
       },
       1012},
      {"modelinfo",
       [](VsfStepTable& t) {
         t.vsfpModelInfo = [](VsfContext*) -> VsfStatus { return VsfStatus::NoMemory; };
       },
       1016},
      {"prepeffects",
       [](VsfStepTable& t) {
         t.vsfPrepEffects = [](VsfContext*, QkPool*) -> VsfStatus { return VsfStatus::NoMemory; };
       },
       1016},
      {"threads",
       [](VsfStepTable& t) {
         t.vsfInitializeThreads = [](ThreadPuddle*, int32_t) -> VsfStatus {
           return VsfStatus::NoPoolOrHandle;
         };
       },
       1016},
      {"initmodel",
       [](VsfStepTable& t) {
         t.vsfInitializeModel = [](VsfContext*) -> VsfStatus { return VsfStatus::NoMemory; };
       },
       1016},
      {"data", [](VsfStepTable& t) { t.vsfData = [](VsfContext*) { return VsfStatus::NoPage; }; },
       1016},
      {"fit",
       [](VsfStepTable& t) {
         t.vsfFitAndDisplay = [](VsfContext*) { return VsfStatus::NotRestored; };
       },
       1020},
      {"macro",
       [](VsfStepTable& t) {
         t.vsfMakeMacroVar = [](VsfContext*, int32_t) -> VsfStatus { return VsfStatus::NoMemory; };
       },
       1016},
      {"prepout",
       [](VsfStepTable& t) {
         t.vsfPrepareOutputAndDesign = [](VsfContext*) -> VsfStatus {
           return VsfStatus::ScratchNotMade;
         };
       },
       1012},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    SetUp();
    host().byGroups = 2;
    road.arm(vsfSteps());
    int code = fakehost::runMain();
    EXPECT_GE(code, road.minCode);
    expectNothingLeft();
  }
}

TEST(ModuleEntry, EntryKeepsAnchorsAndReturnsImageInformation) {
  fakehost::install();
  EXPECT_NE(v_global_gcb_anchor, nullptr);
  EXPECT_NE(Exported_QKHandle, nullptr);
  const VsfImageInfo* info = mcn_main(v_global_gcb_anchor, nullptr);
  EXPECT_EQ(std::string(info->marker, 22), "QRX_Image_Information=");
  EXPECT_EQ(info->magic, 0xB0BDEBEDu);
  EXPECT_EQ(info->eight, 8u);
  EXPECT_STREQ(info->version, "001");
  EXPECT_STREQ(pcn_QRXVARSF.name, "qrxvarsf");
  EXPECT_EQ(pcn_QRXVARSF.main, &qrxvarsf);
}

} // namespace
