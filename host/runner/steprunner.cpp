// The step runner: the one place that catches the host's exit. Everything a step holds in
// the host (data sets, parsed copies, output handles, default-pool blocks) is released
// here when the step ends, whichever road it took.
#include "host/runner/steprunner.h"
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/hostmessages.h"
#include "host/output/html.h"
#include "host/output/rvqoutput.h"
#include "host/pools.h"
#include "host/supervisor.h"

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

namespace qrxhost {
namespace {

// The module's identification block: the host hands its address to the module entry.
struct ModuleIdentification {
  char name[16];
} gPidb{"QRXVARSF"};

void internalError(const std::string& what) {
  logLine(HostSeverity::Error, "An internal error has occurred: " + what);
  raiseStepReturnCode(StepRc::Error);
}

// Calls `fn`; a host exit gives its code, anything else thrown is an internal error.
template <class Fn> ReturnCode guarded(Fn fn, bool* exited) {
  try {
    fn();
  } catch (const HostExit& e) {
    *exited = true;
    return ReturnCode::fromModule(e.code);
  } catch (const std::bad_alloc&) {
    // Not a fault of the program: the note on the largest request that failed follows.
    const std::string limit = addressLimitText();
    HostMsgArg arg(limit.c_str());
    logMessage(kRunnerMsgSet, static_cast<int>(RunnerMsg::StepOutOfMemory), &arg, 1);
    raiseStepReturnCode(StepRc::Error);
  } catch (const std::exception& e) {
    internalError(e.what());
  } catch (...) {
    internalError("an unknown exception reached the host");
  }
  return ReturnCode();
}

// A failed step that asked for a memory block it could not get says how large the block
// was and what makes a run need less; a step that recovered from it says nothing.
void reportFailedMemoryRequest(ReturnCode rc) {
  const size_t bytes = takeLargestFailedRequest();
  const bool unsized = takeUnsizedFailure();
  if ((bytes == 0 && !unsized) || rc <= codeOf(StepRc::Warning))
    return;
  const std::string size = bytes > 0 ? "a block of " + memorySizeText(bytes) : "a block",
                    limit = addressLimitText();
  HostMsgArg args[2] = {HostMsgArg(size.c_str()), HostMsgArg(limit.c_str())};
  logMessage(kRunnerMsgSet, static_cast<int>(RunnerMsg::MemoryRequestFailed), args, 2);
}

} // namespace

StepOutcome runStep(ProcedureModule& module, StepSource source) {
  StepOutcome out;
  out.record.procedure = module.name;
  out.record.line = source.firstLine;
  resetStepState();
  resetTaskBlocks();
  installNewFailureNote();
  setCurrentStepSource(std::move(source));
  HostControlBlock* cb = hostControlBlock();
  OutputDocument* doc = beginStepOutput();

  bool exited = false;
  ReturnCode rc = guarded(
      [&] {
        if (!module.entry || !module.main)
          throw std::logic_error("the procedure module " + module.name + " has no entry");
        if (!module.entered) {
          module.entered = true;
          module.entry(cb, &gPidb);
        }
        module.main(cb, cb->task, const_cast<StepSource*>(&currentStepSource()), nullptr, nullptr,
                    nullptr);
      },
      &exited);
  if (!exited && stepReturnCode() == 0 && rc == 0) {
    // The procedure main ends through the host's exit; a plain return is a fault.
    internalError("the procedure returned without ending through the host");
  }
  // The end-of-task routine runs on every road.
  if (EndOfTaskRoutine routine = takeEndOfTask()) {
    bool ignored = false;
    rc.raise(guarded([&] { routine(); }, &ignored));
  }
  rc.raise(stepReturnCode());
  reportFailedMemoryRequest(rc);

  commitStepOutputs(rc <= codeOf(StepRc::Warning));
  // An output that could not be put in place raises the step's return code.
  rc.raise(stepReturnCode());
  out.record.returnCode = rc;
  endStepDataSets();
  if (doc) {
    out.listing = renderListing(*doc);
    out.html = renderHtml(*doc);
    out.record.outputNodes = renderJsonNodes(*doc);
  }
  endStepOutput();
  out.record.log = takeLog();
  setCurrentStepSource(StepSource{});
  return out;
}

void endRun() { discardOutputs(); }

} // namespace qrxhost
