// The host's test switches: the faults the tests inject into the host, and the counts they
// read back. They exist only in a tree that builds the tests or the benchmarks
// (QRX_WITH_TEST_HOOKS); the product reads none of them but calls the seams of host/seams.h.
#pragma once

#include <cstdint>
#include <string>

#ifndef QRX_WITH_TEST_HOOKS
#error "the host's test switches exist only in a tree that builds the tests or the benchmarks"
#endif

namespace qrxhost {

// Named pools made through the kernel handle with this name fail (null) until cleared with
// an empty name.
void failNamedPool(const std::string& name);
// Loading the extension of this name fails until cleared with an empty name.
void failExtensionLoad(const std::string& name);
// Makes the Nth read or write of a utility file from now on fail (counting from 1); 0
// switches it off. Either way the count of reads and writes starts again from 0.
void failUtilityIoAt(int64_t n);
// Reads and writes of utility files (page and byte files) since failUtilityIoAt.
int64_t utilityIoCount();
// A fixed host memory figure in kilobytes; a negative value makes the service fail; 0 goes
// back to the real figure.
void setMemoryFigureForTest(int64_t kilobytes);
// xdsappend takes `rows` more rows and then refuses every row, as it does for a closed
// output; a negative count turns the switch off. refusedOutputRows counts the rows refused
// since the switch was last set.
void refuseOutputRowsAfter(int64_t rows);
int64_t refusedOutputRows();

} // namespace qrxhost
