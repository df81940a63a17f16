// The host memory figure: the MEMSIZE option, or MemAvailable of /proc/meminfo, or the
// physical memory, in kilobytes; a test can fix the figure or make it fail.
#include "host/ext/qkmemfig.h"

#include "host/seams.h"
#include "host/supervisor.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace qrxhost {
bool parseMemorySize(const std::string& text, int64_t* kilobytes) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !(v > 0))
    return false;
  double scale = 1.0 / 1024.0;
  if (*end != '\0') {
    switch (std::toupper(static_cast<unsigned char>(*end))) {
    case 'K':
      scale = 1.0;
      break;
    case 'M':
      scale = 1024.0;
      break;
    case 'G':
      scale = 1024.0 * 1024.0;
      break;
    default:
      return false;
    }
    if (end[1] != '\0')
      return false;
  }
  *kilobytes = static_cast<int64_t>(v * scale);
  return *kilobytes > 0;
}

int32_t hostMemoryFigure(int64_t* kilobytes) {
  if (kilobytes == nullptr)
    return -1;
  const int64_t forced = seam::forcedMemoryFigure();
  if (forced < 0)
    return -1;
  if (forced > 0) {
    *kilobytes = forced;
    return 0;
  }
  if (auto v = hostOption("MEMSIZE"); v && parseMemorySize(*v, kilobytes))
    return 0;
  std::ifstream in("/proc/meminfo");
  std::string key;
  int64_t value = 0;
  std::string unit;
  while (in >> key >> value >> unit)
    if (key == "MemAvailable:") {
      *kilobytes = value;
      return 0;
    }
  long pages = ::sysconf(_SC_PHYS_PAGES);
  long size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || size <= 0)
    return -1;
  *kilobytes = static_cast<int64_t>(pages) * size / 1024;
  return 0;
}

} // namespace qrxhost
