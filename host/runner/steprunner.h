// Running one procedure step: the task block and step source are set up, the module is
// entered (once per process) and its procedure main called; the step ends through the
// host's exit, after which the end-of-task routine runs and the step's log and output
// document are collected. Splitting programs and host statements are elsewhere.
#pragma once

#include "host/hostapi.h"
#include "host/runner/jsonout.h"

#include <string>

namespace qrxhost {

// A procedure module as the runner calls it: the module entry (called once, with the
// control block and the module's identification block) and the procedure main.
struct ProcedureModule {
  std::string name; // the PROC name, upper case
  void (*entry)(HostControlBlock* controlBlock, void* pidb) = nullptr;
  void (*main)(void*, void*, void*, void*, void*, void*) = nullptr;
  bool entered = false;
};

struct StepOutcome {
  StepRecord record;   // procedure, line, return code, log, JSON output nodes
  std::string listing; // the step's output as a text listing
  std::string html;    // the step's output as HTML elements (a fragment of a page)
};

// Runs one step of `module` with the given source (taken over: the step text is held once
// while the step runs). Never throws.
StepOutcome runStep(ProcedureModule& module, StepSource source);

// Releases what the run kept between steps (output documents).
void endRun();

} // namespace qrxhost
