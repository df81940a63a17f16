// The output-delivery text services (group 320): text handles of literals and of
// numbered messages, owned by the step's document. Message texts come from the catalogue.
// Declared in host/output/rvqoutput.h.
#include "host/hostapi.h"
#include "host/output/rvqobjects.h"
#include "host/output/rvqoutput.h"

#include <cstring>
#include <vector>

namespace qrxhost {
namespace {

// A literal of `length` characters, or up to the terminating NUL when length is -1. Any
// other negative length, or a null text with a positive length, gives no handle.
RvqText* literal(const char* text, int32_t length) {
  if (length == -1)
    return makeText(text != nullptr ? std::string(text) : std::string());
  if (length < 0 || (text == nullptr && length > 0))
    return nullptr;
  return makeText(std::string(text != nullptr ? text : "", static_cast<size_t>(length)));
}

RvqText* rvqmsgHost(int32_t set, int32_t number) {
  return makeText(formatMessage(set, number, nullptr, 0));
}

// Values may be text handles (HostMsgArg::text): their texts are substituted; a handle
// that the text services did not make gives an empty text.
RvqText* rvqmsgsHost(int32_t set, int32_t number, const HostMsgArg* args, int32_t count) {
  if (count < 0 || (count > 0 && args == nullptr))
    count = 0;
  std::vector<HostMsgArg> values(args, args + count);
  for (HostMsgArg& v : values) {
    if (v.t == nullptr)
      continue;
    if (isLiveText(v.t))
      v = HostMsgArg(v.t->text.data(), static_cast<int32_t>(v.t->text.size()));
    else
      v = HostMsgArg("", 0);
  }
  return makeText(formatMessage(set, number, values.data(), count));
}

RvqText* rvqtxtHost(const char* text, int32_t length) { return literal(text, length); }

// The module formats the text itself; the host keeps a copy.
RvqText* rvqtxtsHost(const char* text, int32_t length) { return literal(text, length); }

} // namespace

HostRvqTextServices* rvqTextServices() {
  static HostRvqTextServices services{rvqmsgHost, rvqmsgsHost, rvqtxtHost, rvqtxtsHost};
  return &services;
}

} // namespace qrxhost
