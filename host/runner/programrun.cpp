// Carries out a program item by item. Messages of host statements go to the log as they
// happen (the app echoes them); they are not part of any step's record.
#include "host/runner/programrun.h"
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/hostmessages.h"
#include "host/macros.h"
#include "host/runner/program.h"
#include "host/supervisor.h"

#include <algorithm>
#include <utility>

namespace qrxhost {
namespace {

void msg(RunnerMsg number, std::initializer_list<HostMsgArg> args) {
  logMessage(kRunnerMsgSet, static_cast<int>(number), args.begin(), static_cast<int>(args.size()));
}

// Sets the options of an OPTIONS statement; a value an option does not take is an error
// naming what it takes, a name that is not a host option one naming the host options, and
// that option is not set.
void setOptions(const ProgramItem& item, RunRecord* run) {
  for (const auto& [name, value] : item.options) {
    std::string allowed;
    const OptionCheck check = checkHostOption(name, value, &allowed);
    if (check == OptionCheck::Accepted) {
      setHostOption(name, value);
      continue;
    }
    if (check == OptionCheck::UnknownName)
      msg(RunnerMsg::UnknownOption, {item.line, name.c_str(), allowed.c_str()});
    else
      msg(RunnerMsg::BadOptionValue, {item.line, name.c_str(), value.c_str(), allowed.c_str()});
    run->returnCode.raise(StepRc::StatementError);
  }
}

// %LET: the value's macro references are resolved now (an unresolved one is warned about
// and kept as written), then the variable is set.
// A %LET or %PUT text with its macro references resolved, the unresolved ones warned about;
// nothing after an error when it grows too long.
std::optional<std::string> resolvedText(const ProgramItem& item, const std::string& text,
                                        RunRecord* run) {
  std::vector<std::string> unresolved;
  std::optional<std::string> out = resolveMacroRefs(text, &unresolved);
  for (const std::string& name : unresolved)
    msg(RunnerMsg::UnresolvedMacroRef, {name.c_str()});
  if (!out) {
    msg(text.size() > kMaxMacroText ? RunnerMsg::MacroLiteralTooLong : RunnerMsg::MacroTextTooLong,
        {item.line, static_cast<long long>(kMaxMacroText)});
    run->returnCode.raise(StepRc::StatementError);
  }
  return out;
}

void runLet(const ProgramItem& item, RunRecord* run) {
  if (std::optional<std::string> value = resolvedText(item, item.value, run))
    setMacro(item.name, *value);
}

// LIBNAME: the library (WORK too) refers to the directory from now on; a path that is no
// directory is an error naming it, and the library keeps what it referred to.
void assignLibrary(const ProgramItem& item, RunRecord* run) {
  const DirProblem problem = libraryDirProblem(item.value);
  if (problem == DirProblem::None) {
    setLibrary(item.name, item.value);
    msg(RunnerMsg::LibraryAssigned, {item.name.c_str(), item.value.c_str()});
    return;
  }
  msg(problem == DirProblem::Missing ? RunnerMsg::LibraryDirectoryMissing
                                     : RunnerMsg::LibraryNotDirectory,
      {item.name.c_str(), item.value.c_str()});
  run->returnCode.raise(StepRc::Error);
}

// Raises `rc` to the warning return code when the log holds a warning: a run or step with
// warnings does not end as a clean one.
void raiseForWarnings(const std::vector<LogRecord>& log, ReturnCode& rc) {
  for (const LogRecord& r : log)
    if (r.severity == HostSeverity::Warning) {
      rc.raise(StepRc::Warning);
      return;
    }
}

} // namespace

int exitStatusFor(int returnCode) {
  if (returnCode <= 0)
    return 0;
  return returnCode <= codeOf(StepRc::Warning) ? 1 : 2;
}

ProgramResult runProgram(std::string text, const std::string& programFile,
                         std::vector<ProcedureModule>& modules, const StepEndHook& stepEnded) {
  ProgramResult result;
  RunRecord& run = result.record;
  takeLog(); // records of anything before the program are not the program's
  ProgramSplitter splitter(std::move(text));
  for (const ProgramProblem& p : splitter.problems()) {
    msg(p.msg, {p.line});
    run.returnCode.raise(StepRc::StatementError);
  }
  if (!splitter.problems().empty()) {
    takeLog();
    run.macros = allMacros();
    return result;
  }
  // OPTIONS, LIBNAME, %PUT, %LET and statements that are not valid outside a step.
  auto runHost = [&](const ProgramItem& item) {
    switch (item.kind) {
    case ProgramItem::Options:
      setOptions(item, &run);
      break;
    case ProgramItem::Libname:
      assignLibrary(item, &run);
      break;
    case ProgramItem::Put:
      if (std::optional<std::string> out = resolvedText(item, item.message, &run)) {
        // A value set by a module may hold a NUL byte; the log is text and never shows one.
        out->erase(std::remove(out->begin(), out->end(), '\0'), out->end());
        logPlain(*out);
      }
      break;
    case ProgramItem::Let:
      runLet(item, &run);
      break;
    case ProgramItem::Invalid:
      msg(item.messageNumber, {item.line, item.message.c_str()});
      run.returnCode.raise(StepRc::StatementError);
      break;
    case ProgramItem::Step:
      break;
    }
  };

  // Items are made one at a time: a program of many statements is never held whole as items.
  ProgramItem item;
  while (splitter.next(&item)) {
    if (item.kind != ProgramItem::Step) {
      runHost(item);
      raiseForWarnings(takeLog(), run.returnCode);
      continue;
    }
    for (const ProgramItem& host : item.before)
      runHost(host);
    raiseForWarnings(takeLog(), run.returnCode);
    ProcedureModule* module = nullptr;
    for (ProcedureModule& m : modules)
      if (m.name == item.procedure)
        module = &m;
    if (!module) {
      msg(RunnerMsg::ProcedureNotFound, {item.procedure.c_str()});
      StepRecord rec;
      rec.procedure = item.procedure;
      rec.line = item.line;
      rec.returnCode.raise(StepRc::Error);
      rec.log = takeLog();
      run.returnCode.raise(rec.returnCode);
      run.steps.push_back(std::move(rec));
      continue;
    }
    if (!item.terminated)
      msg(RunnerMsg::StepWithoutRun, {item.line});
    StepSource source;
    source.text = std::move(item.text);
    source.programFile = programFile;
    source.firstLine = item.line;
    source.firstColumn = item.column;
    StepOutcome outcome = runStep(*module, std::move(source));
    raiseForWarnings(outcome.record.log, outcome.record.returnCode);
    run.returnCode.raise(outcome.record.returnCode);
    result.listing += outcome.listing;
    if (stepEnded)
      stepEnded(outcome);
    run.steps.push_back(std::move(outcome.record));
    takeLog();
  }
  run.macros = allMacros();
  return result;
}

} // namespace qrxhost
