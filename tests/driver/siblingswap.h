// Swaps the host's module-loading services for a stand-in sibling module's loader and entry
// look-up while it lives, so that the post-fit bridge loads the stand-in.
#pragma once

#include "host/hostcore.h"
#include "support/postfit.h"

struct ModuleLoaderSwap {
  HostModuleServices fake{};
  HostModuleServices* saved;
  ModuleLoaderSwap(decltype(HostModuleServices::wiloadv) load,
                   decltype(HostModuleServices::viidb2g) entryOf) {
    HostServiceGroups* g = qrxhost::hostControlBlock()->groups;
    saved = g->module;
    fake = *saved;
    fake.wiloadv = load;
    fake.viidb2g = entryOf;
    g->module = &fake;
  }
  ~ModuleLoaderSwap() { qrxhost::hostControlBlock()->groups->module = saved; }
  ModuleLoaderSwap(const ModuleLoaderSwap&) = delete;
  ModuleLoaderSwap& operator=(const ModuleLoaderSwap&) = delete;
};
