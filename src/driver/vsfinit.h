// Pre-initialisation of the procedure context and loading of the host extensions.
#pragma once

#include <cstdint>

struct VsfContext;
struct QkExtensionSet;

int32_t vsfPreInit(VsfContext* ctx);
int32_t vsfQkExtsLoad(QkExtensionSet* exts);
void vsfQkExtsUnload(QkExtensionSet* exts);
