// The "qkaux" host extension: keyed lookup tables (records in support/qkaux.h). The
// extension registry calls the factory below by name.
#pragma once

#include "support/hostif.h"

namespace qrxhost {

// Makes a loaded instance of the extension (a QkAuxExtension); it unloads through word 2.
QkExtension* loadQkaux();

} // namespace qrxhost
