// The "qkavlt" host extension: threaded AVL trees made from a descriptor (the records are
// in support/qkavlt.h). The extension registry calls the factory below by name.
#pragma once

#include "support/hostif.h"

namespace qrxhost {

// Makes a loaded instance of the extension (a QkAvlExtension); it unloads through word 2.
QkExtension* loadQkavlt();

} // namespace qrxhost
