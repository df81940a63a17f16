// The thread test switches, read from the task's macro variables.
#include "support/testthread.h"

#include "support/hoststubs.h"

#include <algorithm>
#include <cstdlib>
#include <string>

int32_t ztestthread(const char* suffix, int32_t suffixLength) {
  HostTaskBlock* task = hostCurrentTask();
  HostMacroTable* anchor = xalanch(task ? task->macroWord : nullptr);
  // -1 absent or missing, else the value's truth.
  auto lookup = [&](const char* name, int32_t n) {
    char buf[64];
    int32_t len = xjsymget(anchor, name, n, buf, sizeof buf);
    if (len < 0)
      return -1;
    std::string v(buf, static_cast<size_t>(std::min<int32_t>(len, sizeof buf - 1)));
    while (!v.empty() && v.back() == ' ')
      v.pop_back();
    size_t s = v.find_first_not_of(' ');
    v = s == std::string::npos ? std::string() : v.substr(s);
    char* end = nullptr;
    double d = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || v == ".")
      return -1;
    return d != 0 ? 1 : 0;
  };
  int base = lookup("_testthread", 11);
  if (suffixLength <= 0 || !suffix)
    return base;
  std::string name = "_testthread" + std::string(suffix, static_cast<size_t>(suffixLength));
  int more = lookup(name.c_str(), static_cast<int32_t>(name.size()));
  if (base < 0 && more < 0)
    return -1;
  return (base == 1 || more == 1) ? 1 : 0;
}
