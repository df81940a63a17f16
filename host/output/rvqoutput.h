// The host's output delivery as the host core sees it: the service groups 326 (output
// objects) and 320 (texts), the per-step output document and its renderers, and a test
// hook that makes a manager call fail. The classes and methods live in rvqobjects.cpp.
#pragma once

#include "host/output/outputdoc.h"
#include "support/hostif.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qrxhost {

// The service groups to install in the control block.
HostObjectServices* outputObjectServices();
HostRvqTextServices* rvqTextServices();

// Starts the output document of a step and makes it current (a document still current is
// ended first). xobinit starts one itself when none is current.
OutputDocument* beginStepOutput();
// Ends the current step's output: open groups are closed, every object handle and text
// handle of the step becomes invalid. The document's nodes stay readable until
// discardOutputs().
void endStepOutput();
// The current step's document, or null between steps.
OutputDocument* currentOutput();
// Frees every document made so far (the documents of finished steps included).
void discardOutputs();

// The text listing of a document: tables with aligned columns, factoids, text lines.
std::string renderListing(const OutputDocument& document);
// The document's top-level nodes as a JSON array (the "output" member of a step record).
std::string renderJsonNodes(const OutputDocument& document);

// Makes the call of method `method` (-1: any method; 2 the query slot, 4 the close slot)
// that comes after `afterCalls` further matching calls return `code`. The log-only status
// (facility 63, number 53) is returned after the call has done its work; any other code
// is returned instead of doing it. A code of 0 removes a pending failure.
void injectOutputFailure(int32_t method, int32_t code, int32_t afterCalls);

// The status codes of the output manager: sign bit, facility 62, and a number.
inline constexpr int32_t kOutputFacility = 62;
enum OutputError : int32_t {
  OUT_BAD_ATTRIBUTE = 1, // an attribute of a known id carries the wrong value type
  OUT_MISSING_ATTRIBUTE = 2,
  OUT_BAD_VALUE = 3,    // a value outside what the attribute allows
  OUT_BAD_HANDLE = 4,   // a handle that names no live object of the right kind
  OUT_BAD_SEQUENCE = 5, // a call out of the protocol's order
  OUT_NO_DOCUMENT = 6,  // a call after the step's output has ended
};
constexpr int32_t outputStatus(int32_t number) {
  return static_cast<int32_t>(0x80000000u | (static_cast<uint32_t>(kOutputFacility) << 11) |
                              static_cast<uint32_t>(number));
}
// The manager's status that is only logged (facility 63, number 53).
inline constexpr int32_t kOutputLogOnly = static_cast<int32_t>(0x80000000u | (63u << 11) | 53u);

// A text for the log describing `code`: for the manager's own statuses the detail of the
// last failure (method, attribute and what was wrong); empty for other codes.
std::string outputStatusText(int32_t code);

// The number of rows of a view (RvqMethod::MakeView) of the current step: the rows of its table
// that its filter keeps. The filter is a conjunction of comparisons of a numeric column
// with a number ("where=(step >= 1 and step <= 3)"); a missing value is below every
// number. False when the handle is no live view or the filter cannot be read.
bool outputViewRows(const void* view, int64_t* rows);
// The rows of `table` that a view's filter text selects, in table order; nullopt when the
// filter cannot be read.
std::optional<std::vector<size_t>> viewRowIndices(const OutputNode& table,
                                                  const std::string& where);

} // namespace qrxhost
