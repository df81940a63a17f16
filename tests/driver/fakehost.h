// A fake host control block for driving the procedure main without the stand-in host:
// it records log messages, macro variables and internal errors, counts live pools and
// extensions, and yields a set number of BY groups.
#pragma once

#include "msgid.h"
#include "support/hostif.h"

#include <map>
#include <string>
#include <vector>

namespace fakehost {

struct ExitCalled {
  int code;
};

struct LoggedMessage {
  int set;
  int number;
};

struct State {
  std::vector<LoggedMessage> log;
  std::vector<int32_t> statusLog; // codes given to xprrlog
  std::vector<std::string> internalErrors;
  std::map<std::string, double> macros;
  int livePools = 0;
  int liveExtensions = 0;
  int byGroups = 0; // how many BY groups xbynext yields
  int byYielded = 0;
  const char* missingExtension = nullptr; // extension name that fails to load
  bool noObjectBlock = false;
  // The manager's answer to method 439 (0 = success).
  int32_t levelMarkResult = 0;
  int levelMarkCalls = 0;
  int groupCloses = 0;
  void (*endOfTask)() = nullptr;

  int count(MsgId m) const;
};

// Installs a fresh fake control block and returns its state.
State& install();
State& state();
// A fake output group object whose close succeeds.
RvqObject* newGroupObject();
// Runs the procedure main to its exit; returns the exit code, then runs the end-of-task
// routine as the host does when the step ends.
int runMain();

} // namespace fakehost
