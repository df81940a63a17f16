// Resetting the module's test switches and setting them from a text; compiled only where
// the switches exist (a tree that builds the tests or the benchmarks).
#ifdef QRX_WITH_TEST_HOOKS

#include "support/testhooks.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[nodiscard]] bool setFault(std::atomic<WorkerFault>& hook, std::string_view value) {
  static constexpr std::pair<std::string_view, WorkerFault> kFaults[] = {
      {"None", WorkerFault::None},
      {"NoMemory", WorkerFault::NoMemory},
      {"Exception", WorkerFault::Exception},
      {"Invalid", WorkerFault::Invalid},
      {"DivideByZero", WorkerFault::DivideByZero},
      {"Overflow", WorkerFault::Overflow}};
  for (const auto& [name, fault] : kFaults)
    if (value == name) {
      hook = fault;
      return true;
    }
  return false;
}

template <typename T> bool setNumber(std::atomic<T>& hook, std::string_view value) {
  const std::string text(value);
  char* end = nullptr;
  const long long n = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0')
    return false;
  hook = static_cast<T>(n);
  return true;
}

} // namespace

void TestHooks::reset() {
  readBlockRows.reset();
  failReadBlock.reset();
  readBlocksCopied.reset();
  readReleaseRows.reset();
  readDenseRows.reset();
  readSparseRows.reset();
  levelFaultBuffer.reset();
  levelWorkerFault.reset();
  levelBuffersHandedOver.reset();
  treeWalkFailures.reset();
  solverGramLimit.reset();
  denseRoad.reset();
  structuredColumns.reset();
  larCrossLimit.reset();
  larRefusalAhead.reset();
  levelCoupling.reset();
  utilFreeBytes.reset();
  partLeadPages.reset();
  stopBeforeFit.reset();
}

bool TestHooks::set(const char* text) {
  std::string_view rest = text != nullptr ? text : "";
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos)
      return false;
    const std::string_view name = item.substr(0, eq), value = item.substr(eq + 1);
    const bool ok = name == "readBlockRows"       ? setNumber(readBlockRows, value)
                    : name == "failReadBlock"     ? setNumber(failReadBlock, value)
                    : name == "readReleaseRows"   ? setNumber(readReleaseRows, value)
                    : name == "readDenseRows"     ? setNumber(readDenseRows, value)
                    : name == "levelFaultBuffer"  ? setNumber(levelFaultBuffer, value)
                    : name == "levelWorkerFault"  ? setFault(levelWorkerFault, value)
                    : name == "treeWalkFailures"  ? setNumber(treeWalkFailures, value)
                    : name == "solverGramLimit"   ? setNumber(solverGramLimit, value)
                    : name == "denseRoad"         ? setNumber(denseRoad, value)
                    : name == "structuredColumns" ? setNumber(structuredColumns, value)
                    : name == "larCrossLimit"     ? setNumber(larCrossLimit, value)
                    : name == "larRefusalAhead"   ? setNumber(larRefusalAhead, value)
                    : name == "levelCoupling"     ? setNumber(levelCoupling, value)
                    : name == "utilFreeBytes"     ? setNumber(utilFreeBytes, value)
                    : name == "partLeadPages"     ? setNumber(partLeadPages, value)
                    : name == "stopBeforeFit"     ? setNumber(stopBeforeFit, value)
                                                  : false;
    if (!ok)
      return false;
  }
  return true;
}

#endif
