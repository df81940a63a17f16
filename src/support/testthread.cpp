// The thread and road test switches, read from the task's macro variables.
#include "support/testthread.h"

#include "support/hoststubs.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// The truth of the macro variable `name` of the current task: -1 absent or missing, else 1
// for a nonzero number and 0 for zero.
int32_t macroTruth(const std::string& name) {
  HostTaskBlock* task = hostCurrentTask();
  HostMacroTable* anchor = xalanch(task ? task->macroWord : nullptr);
  char buf[64];
  const int32_t len =
      xjsymget(anchor, name.c_str(), static_cast<int32_t>(name.size()), buf, sizeof buf);
  if (len < 0)
    return -1;
  std::string v(buf, static_cast<size_t>(std::min<int32_t>(len, sizeof buf - 1)));
  while (!v.empty() && v.back() == ' ')
    v.pop_back();
  const size_t s = v.find_first_not_of(' ');
  v = s == std::string::npos ? std::string() : v.substr(s);
  char* end = nullptr;
  const double d = std::strtod(v.c_str(), &end);
  if (v.empty() || *end != '\0' || v == ".")
    return -1;
  return d != 0 ? 1 : 0;
}

const char* roadSwitchName(FastRoad road) {
  switch (road) {
  case FastRoad::BlockReading:
    return "_testroadread";
  case FastRoad::LarLookAhead:
    return "_testroadahead";
  case FastRoad::CvexSums:
    return "_testroadcvexsums";
  case FastRoad::CvSums:
    return "_testroadcvsums";
  }
  return "";
}

} // namespace

int32_t ztestthread(const char* suffix, int32_t suffixLength) {
  const int32_t base = macroTruth("_testthread");
  if (suffixLength <= 0 || !suffix)
    return base;
  const int32_t more =
      macroTruth("_testthread" + std::string(suffix, static_cast<size_t>(suffixLength)));
  if (base < 0 && more < 0)
    return -1;
  return (base == 1 || more == 1) ? 1 : 0;
}

bool fastRoadOn(FastRoad road) { return macroTruth(roadSwitchName(road)) != 0; }
