// The macro-variable table: one table per run, shared by all steps, guarded for threads.
// Macro references in %PUT are resolved here; the statement itself is the runner's.
#include "host/macros.h"
#include "host/catalog.h"
#include "host/textcase.h"

#include <cctype>
#include <cstring>
#include <mutex>

struct HostMacroTable {
  int unused;
};

namespace qrxhost {
namespace {

std::mutex gMutex;
std::map<std::string, std::string>& table() {
  static std::map<std::string, std::string> t;
  return t;
}
HostMacroTable gAnchor{0};

HostMacroTable* hostXalanch(void* /*taskWord*/) { return &gAnchor; }

int32_t hostXjsympc(HostMacroTable* anchor, const char* name, int32_t nameLength, int32_t, int32_t,
                    const char* value, int32_t valueLength) {
  if (!anchor || !name || nameLength <= 0 || valueLength < 0 || (!value && valueLength > 0))
    return -1;
  std::string v = value ? std::string(value, static_cast<size_t>(valueLength)) : std::string();
  return setMacro(std::string(name, static_cast<size_t>(nameLength)), v) ? 0 : -1;
}

int32_t hostXjsympn(HostMacroTable* anchor, const char* name, int32_t nameLength, int32_t, int32_t,
                    double value) {
  if (!anchor || !name || nameLength <= 0)
    return -1;
  return setMacro(std::string(name, static_cast<size_t>(nameLength)), formatBestNumber(value)) ? 0
                                                                                               : -1;
}

int32_t hostXjsymget(HostMacroTable* anchor, const char* name, int32_t nameLength, char* buffer,
                     int32_t capacity) {
  if (!anchor || !name || nameLength <= 0)
    return -1;
  auto v = getMacro(std::string(name, static_cast<size_t>(nameLength)));
  if (!v)
    return -1;
  if (buffer && capacity > 0) {
    size_t n = std::min(v->size(), static_cast<size_t>(capacity - 1));
    std::memcpy(buffer, v->data(), n);
    buffer[n] = '\0';
    return static_cast<int32_t>(n);
  }
  return static_cast<int32_t>(v->size());
}

} // namespace

HostMacroVariableServices* macroServices() {
  static HostMacroVariableServices s = [] {
    HostMacroVariableServices m{};
    m.xalanch = hostXalanch;
    m.xjsympc = hostXjsympc;
    m.xjsympn = hostXjsympn;
    m.xjsymget = hostXjsymget;
    return m;
  }();
  return &s;
}

bool validMacroName(const std::string& name) {
  if (name.empty() || name.size() > 32)
    return false;
  if (std::isdigit(static_cast<unsigned char>(name[0])))
    return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
      return false;
  return true;
}

bool setMacro(const std::string& name, const std::string& value) {
  if (!validMacroName(name))
    return false;
  std::lock_guard<std::mutex> lock(gMutex);
  table()[asciiUpper(name)] = value;
  return true;
}

std::optional<std::string> getMacro(const std::string& name) {
  std::lock_guard<std::mutex> lock(gMutex);
  auto it = table().find(asciiUpper(name));
  if (it == table().end())
    return std::nullopt;
  return it->second;
}

std::map<std::string, std::string> allMacros() {
  std::lock_guard<std::mutex> lock(gMutex);
  return table();
}

void clearMacros() {
  std::lock_guard<std::mutex> lock(gMutex);
  table().clear();
}

std::optional<std::string> resolveMacroRefs(const std::string& text,
                                            std::vector<std::string>* unresolved) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (out.size() > kMaxMacroText)
      return std::nullopt;
    if (text[i] != '&') {
      out += text[i++];
      continue;
    }
    size_t j = i + 1;
    while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_'))
      ++j;
    std::string name = text.substr(i + 1, j - i - 1);
    if (!validMacroName(name)) {
      out += text[i++];
      continue;
    }
    auto v = getMacro(name);
    if (!v) {
      if (unresolved)
        unresolved->push_back(asciiUpper(name));
      out += text.substr(i, j - i);
      i = j;
      continue;
    }
    out += *v;
    i = j;
    if (i < text.size() && text[i] == '.')
      ++i; // the period ends the reference and is consumed
  }
  if (out.size() > kMaxMacroText)
    return std::nullopt;
  return out;
}

} // namespace qrxhost
