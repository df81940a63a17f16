// The "qksv" host extension: the numerical optimisation solver of the solver-based LASSO
// selections (records in support/qksv.h). The extension registry calls the factory below by
// name.
#pragma once

#include "support/hostif.h"

namespace qrxhost {

// Makes a loaded instance of the extension (a QkSvExtension); it unloads through word 2.
QkExtension* loadQksv();

} // namespace qrxhost
