// Linked into the test runner qrx_hooked (the runner's own sources besides this file): sets
// the module's test switches from the environment variable QRX_TEST_HOOKS ("name=value,...")
// before main starts, so that end-to-end tests reach them; the product runner has no such
// entry.
#include "support/testhooks.h"

#include <cstdio>
#include <cstdlib>

namespace {

const bool kHooksSet = [] {
  if (!testHooks().set(std::getenv("QRX_TEST_HOOKS"))) {
    std::fputs("qrx: QRX_TEST_HOOKS names a switch or value that is not known\n", stderr);
    std::exit(2);
  }
  return true;
}();

} // namespace
