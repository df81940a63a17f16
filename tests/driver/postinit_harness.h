// Runs whole procedure steps of VARSIFTER on small CSV data sets through the stand-in host
// (parser, data sets, log) with the real start order, post-initialisation, levelisation,
// effect records and INEST reading. The steps after the reading pass (fit, tables, output)
// are replaced by recorders that keep what each BY group handed them.
#pragma once

#include "design/levbuild.h"
#include "host/hostlog.h"
#include "msgid.h"
#include "output/vsfcontext.h"

#include <map>
#include <string>
#include <vector>

namespace postinit {

// One effect record as the fit of a BY group sees it.
struct Record {
  int32_t effect = 0;
  int32_t parmCount = 0;
  std::string name; // without trailing blanks
  std::vector<int32_t> columns;
  std::vector<int32_t> splitVars, splitLevels;
};

// What one BY group handed to the fit.
struct Group {
  int64_t byNumber = 0;
  std::vector<Record> records;
  int32_t enteredFirst = 0;
  bool hasStart = false;           // INEST start values were handed over
  std::vector<double> startValues; // one per design column when hasStart
  std::vector<std::string> columnNames;
  std::vector<int32_t> containsCounts, containedByCounts; // split hierarchy (may be empty)
  std::vector<std::vector<int32_t>> containsLists;
};

struct StepRun {
  int returnCode = 0;
  std::vector<qrxhost::LogRecord> log;
  std::map<std::string, std::string> macros;
  std::vector<Group> groups;
  bool postInitDone = false;
  int32_t postInitResult = 0;
  // Settings right after post-initialisation.
  VsfModelOptions options{};
  VsfPerfBlock perf{};
  VsfPartitionSettings partition{};
  std::vector<int32_t> classSplit; // SPLIT of each CLASS variable
  uint8_t forcedSplit = 0;
  uint8_t valBySync = 0, testBySync = 0;
  int32_t perfTables = 0, timingTables = 0, modelInfoTables = 0;

  int count(MsgId m) const;
  bool has(MsgId m) const { return count(m) > 0; }
  bool anyError() const;
  const qrxhost::LogRecord* find(MsgId m) const;
  std::string messages() const; // every numbered message as "set/number", for failures
};

// The WORK directory of the runs (files written there stay for the whole test program).
std::string workDir();
// Writes WORK/<name>.csv.
void writeCsv(const std::string& name, const std::string& text);
// Replaces the levelisation result of BY group `group` (1-based) by `result` in the runs
// that follow (0: no replacement).
void setLevelisationResult(int64_t group, LevBuild result);
// Runs a program (host statements and PROC VARSIFTER steps).
StepRun run(const std::string& program);

} // namespace postinit
