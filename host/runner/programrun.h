// Running a whole program: host statements (OPTIONS, LIBNAME, %PUT) are carried out in
// order and each procedure step is run through its module. The command line is the
// runner app's; splitting is program.cpp's; one step is steprunner.cpp's.
#pragma once

#include "host/runner/jsonout.h"
#include "host/runner/steprunner.h"
#include "support/stepcodes.h"

#include <functional>
#include <string>
#include <vector>

namespace qrxhost {

struct ProgramResult {
  RunRecord record;    // return code, macros, steps (for --json)
  std::string listing; // every step's listing in order
};

// Called when a step has ended, before the statements after it run, so that its output
// can be written in program order.
using StepEndHook = std::function<void(const StepOutcome&)>;

// Runs the program text (taken over: a caller done with it moves it in, so that it is held
// once). `modules` are looked up by PROC name.
ProgramResult runProgram(std::string text, const std::string& programFile,
                         std::vector<ProcedureModule>& modules, const StepEndHook& stepEnded = {});

// The process exit status for a return code: 0 for 0, 1 for warnings (up to 4), 2 above.
int exitStatusFor(int returnCode);

} // namespace qrxhost
