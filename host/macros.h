// The macro-variable table of a run: the macro service group (xalanch, xjsympc, xjsympn,
// xjsymget) and the runner's access for %PUT and the JSON record.
#pragma once

#include "support/hostif.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qrxhost {

HostMacroVariableServices* macroServices();

// Names are case-insensitive and kept in upper case. setMacro returns false for a name
// that is not a valid macro name (1 to 32 letters, digits, underscores; no leading digit).
bool setMacro(const std::string& name, const std::string& value);
std::optional<std::string> getMacro(const std::string& name);
std::map<std::string, std::string> allMacros();
void clearMacros();
bool validMacroName(const std::string& name);

// The longest text a macro reference may resolve to: values that double in each %LET would
// otherwise take all memory in a few dozen statements.
inline constexpr size_t kMaxMacroText = 65534;

// Replaces &NAME and &NAME. references by their values; names that are not defined are
// left as written and listed in `unresolved`. Nothing (std::nullopt) when the text would
// grow past kMaxMacroText.
std::optional<std::string> resolveMacroRefs(const std::string& text,
                                            std::vector<std::string>* unresolved);

} // namespace qrxhost
