// The extension registry: host extensions loaded by name through the kernel handle. The
// table of names and factories is in extlist.cpp; each extension lives in its own file.
#pragma once

#include "support/hostif.h"

#include <string>

namespace qrxhost {

using ExtensionFactory = QkExtension* (*)();

struct ExtensionEntry {
  const char* name;         // as the module asks for it, e.g. "qkpgf"
  ExtensionFactory factory; // makes a loaded instance; it unloads through its word 2
};

// Loads an extension by name (exact, case-sensitive); null when the name is unknown, the
// factory fails, or a test refuses it.
QkExtension* loadExtension(const std::string& name);

} // namespace qrxhost
