// Post-parse initialisation and the per-BY-group model set-up.
#pragma once

#include <cstdint>

struct VsfContext;

int32_t vsfPostInit(VsfContext* ctx);
int32_t vsfInitializeModel(VsfContext* ctx);
