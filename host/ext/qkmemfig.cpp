// The host memory figure: the MEMSIZE option, or MemAvailable of /proc/meminfo, or the
// physical memory, in kilobytes, no more than the address space left under the process's
// limit; a test can fix the figure or make it fail.
#include "host/ext/qkmemfig.h"

#include "host/seams.h"
#include "host/supervisor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace qrxhost {
bool parseMemorySize(const std::string& text, int64_t* kilobytes) {
  const size_t digits = text.find_first_not_of("0123456789.");
  const std::string number = text.substr(0, digits);
  if (number.empty() || number == "." || std::count(number.begin(), number.end(), '.') > 1)
    return false;
  double scale = 1.0 / 1024.0;
  if (digits != std::string::npos) {
    if (digits + 1 != text.size())
      return false;
    switch (std::toupper(static_cast<unsigned char>(text[digits]))) {
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
  }
  // Compared as a double before the conversion, which a size past int64_t would make
  // undefined.
  const double size = std::strtod(number.c_str(), nullptr) * scale;
  if (!(size >= 1.0) || size > static_cast<double>(kMaxMemoryKilobytes))
    return false;
  *kilobytes = static_cast<int64_t>(size);
  return true;
}

uint64_t addressSpaceLeft() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return UINT64_MAX;
  unsigned long long pages = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  const bool known = statm != nullptr && std::fscanf(statm, "%llu", &pages) == 1;
  if (statm != nullptr)
    std::fclose(statm);
  const uint64_t used = pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  return known && used < limit.rlim_cur ? limit.rlim_cur - used : 0;
}

int32_t mallocArenas(int64_t threads, uint64_t left) {
  // An arena beside the first reserves this much address space whatever it holds.
  constexpr uint64_t kArenaReserve = uint64_t{64} << 20;
  uint64_t arenas = static_cast<uint64_t>(std::clamp<int64_t>(threads, 1, 256));
  if (left != UINT64_MAX)
    arenas = std::clamp<uint64_t>(left / 8 / kArenaReserve, 1, arenas);
  return static_cast<int32_t>(arenas);
}

void boundMallocArenas(int64_t threads) {
  ::mallopt(M_ARENA_MAX, mallocArenas(threads, addressSpaceLeft()));
}

namespace {

// The memory the system reports available (MemAvailable, else the physical memory) in KB.
bool systemMemory(int64_t* kilobytes) {
  std::ifstream in("/proc/meminfo");
  std::string key;
  int64_t value = 0;
  std::string unit;
  while (in >> key >> value >> unit)
    if (key == "MemAvailable:") {
      *kilobytes = value;
      return true;
    }
  long pages = ::sysconf(_SC_PHYS_PAGES);
  long size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || size <= 0)
    return false;
  *kilobytes = static_cast<int64_t>(pages) * size / 1024;
  return true;
}

} // namespace

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
  if (!systemMemory(kilobytes))
    return -1;
  // Under an address-space limit the memory that can be mapped is what the limit leaves, of
  // which the procedure plans with half: the threads' stacks, the pieces of the files read
  // and the windows of their values take the rest.
  const uint64_t left = addressSpaceLeft() / 2 / 1024;
  if (left < static_cast<uint64_t>(*kilobytes))
    *kilobytes = std::max<int64_t>(1, static_cast<int64_t>(left));
  return 0;
}

} // namespace qrxhost
