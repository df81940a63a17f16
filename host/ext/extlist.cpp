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

#include <mutex>

namespace qrxhost {
namespace {

// One line per extension: { "name", factory }. Helpers adding an extension append a line
// here (and include its header above); the table ends with the null entry.
const ExtensionEntry kExtensions[] = {
    {"qkpgf", makeQkpgf},   {"qkbkf", makeQkbkf},   {"qkupath", makeQkupath},
    {"qkpool", makeQkpool}, {"qkavlt", loadQkavlt}, {"qkaux", loadQkaux},
    {"qkfmtr", loadQkfmtr}, {"qksv", loadQksv},     {nullptr, nullptr},
};

std::mutex gMutex;
std::string gFailing;

} // namespace

QkExtension* loadExtension(const std::string& name) {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gFailing.empty() && name == gFailing)
      return nullptr;
  }
  for (const ExtensionEntry* e = kExtensions; e->name; ++e)
    if (name == e->name)
      return e->factory ? e->factory() : nullptr;
  return nullptr;
}

void failExtensionLoad(const std::string& name) {
  std::lock_guard<std::mutex> lock(gMutex);
  gFailing = name;
}

} // namespace qrxhost
