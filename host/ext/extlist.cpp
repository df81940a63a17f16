// The table of host extensions that the kernel handle can load by name, and the loader.
// The extensions themselves (page files, scratch files, paths, trees, ...) are elsewhere.
#include "host/ext/extlist.h"
#include "host/ext/qkaux.h"
#include "host/ext/qkavlt.h"
#include "host/ext/qkbkf.h"
#include "host/ext/qkfmtr.h"
#include "host/ext/qkpgf.h"
#include "host/ext/qkpool.h"
#include "host/ext/qksv.h"
#include "host/ext/qkupath.h"
#include "host/seams.h"

namespace qrxhost {
namespace {

// One line per extension: { "name", factory }. Helpers adding an extension append a line
// here (and include its header above); the table ends with the null entry.
const ExtensionEntry kExtensions[] = {
    {"qkpgf", makeQkpgf},   {"qkbkf", makeQkbkf},   {"qkupath", makeQkupath},
    {"qkpool", makeQkpool}, {"qkavlt", loadQkavlt}, {"qkaux", loadQkaux},
    {"qkfmtr", loadQkfmtr}, {"qksv", loadQksv},     {nullptr, nullptr},
};

} // namespace

QkExtension* loadExtension(const std::string& name) {
  if (seam::refuseExtension(name))
    return nullptr;
  for (const ExtensionEntry* e = kExtensions; e->name; ++e)
    if (name == e->name)
      return e->factory ? e->factory() : nullptr;
  return nullptr;
}

} // namespace qrxhost
