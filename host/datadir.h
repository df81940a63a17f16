// Where a host catalogue (messages, table templates, graph libraries) reads its files from.
#pragma once

#include <cstdlib>
#include <string>

namespace qrxhost {

// The directory chosen explicitly when `chosen` is not empty, else the environment variable
// `envName` when it is set and not empty, else `builtIn` (the build-time directory).
inline std::string dataDirectory(const std::string& chosen, const char* envName,
                                 const char* builtIn) {
  if (!chosen.empty())
    return chosen;
  if (const char* env = std::getenv(envName); env && *env)
    return env;
  return builtIn;
}

} // namespace qrxhost
