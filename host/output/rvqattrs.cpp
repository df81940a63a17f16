// Attribute records of manager calls: type checks and value reading, and the detail of
// the last failure for the log. The methods that use them are in rvqmethods.cpp.
#include "host/output/rvqattrs.h"

#include "host/output/rvqobjects.h"

#include <cmath>
#include <cstring>

namespace qrxhost {
namespace {

struct LastFailure {
  int32_t code = 0;
  std::string detail;
};
LastFailure lastFailure;

const char* errorText(int32_t number) {
  switch (number) {
  case OUT_BAD_ATTRIBUTE:
    return "an attribute carries the wrong value type";
  case OUT_MISSING_ATTRIBUTE:
    return "a required attribute is missing";
  case OUT_BAD_VALUE:
    return "an attribute value is not allowed";
  case OUT_BAD_HANDLE:
    return "a handle names no live output object";
  case OUT_BAD_SEQUENCE:
    return "a call is out of order";
  case OUT_NO_DOCUMENT:
    return "the step's output has ended";
  default:
    return "unknown failure";
  }
}

} // namespace

int32_t outputFail(OutputError error, int32_t method, const std::string& detail) {
  int32_t code = outputStatus(error);
  lastFailure.code = code;
  lastFailure.detail = "Output manager, method " + std::to_string(method) + ": " + detail;
  return code;
}

int32_t outputFailForUser(OutputError error, const std::string& text) {
  int32_t code = outputStatus(error);
  lastFailure.code = code;
  lastFailure.detail = text;
  return code;
}

std::string outputStatusText(int32_t code) {
  uint32_t u = static_cast<uint32_t>(code);
  if (code >= 0 || ((u >> 11) & 0x7FF) != static_cast<uint32_t>(kOutputFacility))
    return std::string();
  if (code == lastFailure.code && !lastFailure.detail.empty())
    return lastFailure.detail;
  return std::string("Output manager: ") + errorText(static_cast<int32_t>(u & 0x7FF));
}

int32_t expectType(int32_t method, const RvqAttr& attr, uint16_t type) {
  if (attr.type == type)
    return 0;
  return outputFail(OUT_BAD_ATTRIBUTE, method,
                    "attribute " + std::to_string(attr.id) + " has value type " +
                        std::to_string(attr.type) + " where " + std::to_string(type) +
                        " is expected");
}

int32_t readTextHandle(int32_t method, const RvqAttr& attr, RvqText** out) {
  if (int32_t rc = expectType(method, attr, RVQ_TEXTHANDLE))
    return rc;
  auto* text = static_cast<RvqText*>(attr.value.ptr);
  if (text != nullptr && !isLiveText(text))
    return outputFail(OUT_BAD_HANDLE, method,
                      "attribute " + std::to_string(attr.id) + " holds no valid text handle");
  *out = text;
  return 0;
}

int32_t readText(int32_t method, const RvqAttr& attr, std::string* out, bool* present) {
  RvqText* text = nullptr;
  if (int32_t rc = readTextHandle(method, attr, &text))
    return rc;
  if (present != nullptr)
    *present = text != nullptr;
  *out = text != nullptr ? text->text : std::string();
  return 0;
}

int32_t readTextAttr(int32_t method, const RvqAttr& attr, std::span<const TextAttr> fields) {
  for (const TextAttr& field : fields)
    if (field.id == attr.id)
      return readText(method, attr, field.out, field.present);
  return 0;
}

int32_t readCounted(int32_t method, const RvqAttr& attr, std::string* out) {
  if (int32_t rc = expectType(method, attr, RVQ_STRING))
    return rc;
  uint16_t length = attr.value.counted.length;
  if (length > 0 && attr.second.text == nullptr)
    return outputFail(OUT_BAD_VALUE, method,
                      "attribute " + std::to_string(attr.id) + " is a counted string without text");
  out->assign(length > 0 ? attr.second.text : "", length);
  return 0;
}

int32_t readInt(int32_t method, const RvqAttr& attr, int32_t* out) {
  if (int32_t rc = expectType(method, attr, RVQ_INT))
    return rc;
  *out = attr.value.i32;
  return 0;
}

int32_t readValue(int32_t method, const RvqAttr& attr, OutputValue* out) {
  switch (attr.type) {
  case RVQ_INT:
    *out = static_cast<int64_t>(attr.value.i32);
    return 0;
  case RVQ_INT64:
    *out = attr.value.i64;
    return 0;
  case RVQ_DOUBLE:
    if (std::isnan(attr.value.f64))
      *out = std::monostate{};
    else
      *out = attr.value.f64;
    return 0;
  case RVQ_FLAG:
    *out = static_cast<int64_t>(attr.second.i32);
    return 0;
  case RVQ_TEXTHANDLE: {
    std::string text;
    if (int32_t rc = readText(method, attr, &text))
      return rc;
    *out = std::move(text);
    return 0;
  }
  default:
    return outputFail(OUT_BAD_ATTRIBUTE, method,
                      "attribute " + std::to_string(attr.id) + " has value type " +
                          std::to_string(attr.type) + ", which no value may have");
  }
}

int32_t readDynamic(int32_t method, const RvqAttr* attrs, int32_t count, int32_t* index,
                    Dynamics* out) {
  int32_t i = *index;
  std::string name;
  if (int32_t rc = readText(method, attrs[i], &name))
    return rc;
  if (name.empty())
    return outputFail(OUT_BAD_VALUE, method, "a dynamic variable has no name");
  if (i + 1 >= count || attrs[i + 1].id != RvqAttrId::Value)
    return outputFail(OUT_MISSING_ATTRIBUTE, method,
                      "dynamic variable " + name + " is not followed by its value (287)");
  OutputValue value;
  if (int32_t rc = readValue(method, attrs[i + 1], &value))
    return rc;
  *index = i + 1;
  for (auto& [existing, old] : *out) {
    if (existing == name) {
      old = std::move(value);
      return 0;
    }
  }
  out->emplace_back(std::move(name), std::move(value));
  return 0;
}

} // namespace qrxhost
