// Pre-initialisation of the procedure context and loading of the host extensions.
#pragma once

#include <cstdint>

struct VsfContext;
struct QkExtensionSet;

[[nodiscard]] int32_t vsfPreInit(VsfContext* ctx);
[[nodiscard]] int32_t vsfQkExtsLoad(QkExtensionSet* exts);
void vsfQkExtsUnload(QkExtensionSet* exts);
