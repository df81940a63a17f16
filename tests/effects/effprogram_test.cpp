// The effect syntax and design descriptor behind the real statement parser: whole programs
// run through the host runner, checking the messages of set 174 and the step's return code.
#include "driver/vsfmain.h"
#include "host/hostcore.h"
#include "host/runner/programrun.h"
#include "msgid.h"
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

void entry(HostControlBlock* cb, void* pidb) { mcn_main(cb, pidb); }

struct ProgramTest : ::testing::Test {
  std::filesystem::path dir;
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("effprog_" + std::to_string(static_cast<long>(::getpid())) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "d.csv") << "y,x,g,name\n1,2,a,foo\n2,3,b,bar\n3,1,a,baz\n";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  qrxhost::StepRecord run(const std::string& statements) {
    std::vector<qrxhost::ProcedureModule> modules(1);
    modules[0].name = "VARSIFTER";
    modules[0].entry = entry;
    modules[0].main = pcn_QRXVARSF.main;
    qrxhost::hostControlBlock();
    std::string program =
        "libname t '" + dir.string() + "';\nproc varsifter data=t.d;\n" + statements + "\nrun;\n";
    qrxhost::ProgramResult result = qrxhost::runProgram(program, "p.qrx", modules);
    EXPECT_EQ(result.record.steps.size(), 1u);
    return result.record.steps.empty() ? qrxhost::StepRecord{} : result.record.steps[0];
  }
  static int count(const qrxhost::StepRecord& step, MsgId m) {
    int n = 0;
    for (const auto& r : step.log)
      n += r.numbered && m.is(r.set, r.number);
    return n;
  }
};

TEST_F(ProgramTest, CharacterContinuousEffectEndsWith3000) {
  qrxhost::StepRecord step = run("class g;\nmodel y = x name;");
  EXPECT_EQ(count(step, EffMsg::CharacterVariableNotContinuous), 1);
  EXPECT_EQ(step.returnCode, 3000);
}

TEST_F(ProgramTest, EffectStatementAfterModelIsRefused) {
  qrxhost::StepRecord step = run("model y = x;\neffect sp = spline(x);");
  EXPECT_EQ(count(step, EffMsg::StatementKeywordAfterEffects), 1);
  EXPECT_EQ(step.returnCode, 3000);
}

TEST_F(ProgramTest, CharacterSplineVariableIsRefused) {
  qrxhost::StepRecord step = run("class g;\neffect sp = spline(name x);\nmodel y = sp;");
  EXPECT_EQ(count(step, EffMsg::ConstructedVariableIsCharacter), 1);
  EXPECT_GE(step.returnCode, 1012);
}

} // namespace
