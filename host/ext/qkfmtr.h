// The "qkfmtr" host extension: value formatting (records in support/qkfmtr.h). The
// extension registry calls the factory below by name.
#pragma once

#include "support/hostif.h"

namespace qrxhost {

// Makes a loaded instance of the extension (a QkFmtrExtension); it unloads through word 2.
QkExtension* loadQkfmtr();

} // namespace qrxhost
