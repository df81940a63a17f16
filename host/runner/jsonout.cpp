// Writes the run record as JSON text. Only writing: nothing here reads JSON back.
#include "host/runner/jsonout.h"

#include "host/output/jsonnodes.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace qrxhost {

std::string jsonString(const std::string& text) {
  // One escaping rule for the whole record: the output nodes use the same.
  return jsonQuote(text);
}

std::string jsonNumber(double value) {
  std::string out;
  appendJsonNumber(out, value);
  return out;
}

void appendJsonNumber(std::string& out, double value) {
  if (isHostMissing(value) || !std::isfinite(value)) {
    out += "null";
    return;
  }
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

std::string jsonLogRecord(const LogRecord& r) {
  std::string out = "{";
  if (r.numbered) {
    out += "\"set\": " + std::to_string(r.set) + ", \"number\": " + std::to_string(r.number) + ", ";
  }
  out += "\"severity\": " + jsonString(severityName(r.severity));
  if (r.numbered) {
    out += ", \"values\": [";
    for (size_t i = 0; i < r.values.size(); ++i) {
      const LogValue& v = r.values[i];
      if (i)
        out += ", ";
      if (v.kind == HostMsgArg::Int)
        out += std::to_string(v.i);
      else if (v.kind == HostMsgArg::Dbl)
        out += jsonNumber(v.d);
      else
        out += jsonString(v.s);
    }
    out += "]";
  }
  out += ", \"text\": " + jsonString(r.text) + "}";
  return out;
}

std::string jsonRunRecord(const RunRecord& run) {
  std::string out = "{\n  \"returnCode\": " + std::to_string(run.returnCode.value()) + ",\n";
  out += "  \"macros\": {";
  bool first = true;
  for (const auto& [name, value] : run.macros) {
    out += first ? "" : ", ";
    out += jsonString(name) + ": " + jsonString(value);
    first = false;
  }
  out += "},\n  \"steps\": [";
  for (size_t s = 0; s < run.steps.size(); ++s) {
    const StepRecord& st = run.steps[s];
    out += s ? ",\n    " : "\n    ";
    out += "{ \"procedure\": " + jsonString(st.procedure) +
           ", \"line\": " + std::to_string(st.line) +
           ", \"returnCode\": " + std::to_string(st.returnCode.value()) + ",\n      \"log\": [";
    for (size_t i = 0; i < st.log.size(); ++i)
      out += (i ? ",\n        " : "\n        ") + jsonLogRecord(st.log[i]);
    out += st.log.empty() ? "],\n" : "\n      ],\n";
    out +=
        "      \"output\": " + (st.outputNodes.empty() ? std::string("[]") : st.outputNodes) + " }";
  }
  out += run.steps.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

} // namespace qrxhost
