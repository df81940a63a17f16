// Reading the attribute records of a manager call: value-type checks, texts, counted
// strings, values and dynamic-variable pairs, and the failure detail kept for the log.
// Which attributes a method takes is rvqmethods.cpp's concern.
#pragma once

#include "host/output/outputdoc.h"
#include "host/output/rvqoutput.h"
#include "support/hostif.h"
#include "support/protocol.h"

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace qrxhost {

// Keeps the detail of a failed call for outputStatusText and returns its status code.
int32_t outputFail(OutputError error, int32_t method, const std::string& detail);
// The same for a failure the user's program caused: `text` is what the log shows, in the
// program's terms, without the method number.
int32_t outputFailForUser(OutputError error, const std::string& text);

// 0 when the record has value type `type`, else a failure naming the attribute.
int32_t expectType(int32_t method, const RvqAttr& attr, uint16_t type);

// A text handle (type 66): its text into `out`; a null handle leaves `out` empty and
// `present` false. A handle that the text services did not make is a failure.
int32_t readText(int32_t method, const RvqAttr& attr, std::string* out, bool* present = nullptr);
// A text attribute that a method takes: its id, where its text goes and, when the method
// needs to know, a flag that tells whether the record held a text (see readText).
struct TextAttr {
  int32_t id;
  std::string* out;
  bool* present = nullptr;
};
// Reads `attr` as the text of the entry of `fields` with its id; a record whose id none of
// them has is passed over. 0, or the failure of readText.
int32_t readTextAttr(int32_t method, const RvqAttr& attr, std::span<const TextAttr> fields);
// A text handle (type 66) as the handle itself, checked to be live (null allowed).
int32_t readTextHandle(int32_t method, const RvqAttr& attr, RvqText** out);
// A counted string (type 20).
int32_t readCounted(int32_t method, const RvqAttr& attr, std::string* out);
// An integer (type 3).
int32_t readInt(int32_t method, const RvqAttr& attr, int32_t* out);
// A value record (id 287) of type 3, 4, 5, 13 or 66; a missing number becomes null.
int32_t readValue(int32_t method, const RvqAttr& attr, OutputValue* out);

using Dynamics = std::vector<std::pair<std::string, OutputValue>>;
// At attrs[*index], a name record (311) that must be followed by its value (287): appends
// the pair (a name set again takes the new value) and moves *index to the value record.
int32_t readDynamic(int32_t method, const RvqAttr* attrs, int32_t count, int32_t* index,
                    Dynamics* out);

} // namespace qrxhost
