// Pre-initialisation of the procedure context and loading of the host extensions.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct QkExtensionSet;

[[nodiscard]] VsfStatus vsfPreInit(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfQkExtsLoad(QkExtensionSet* exts);
void vsfQkExtsUnload(QkExtensionSet* exts);
