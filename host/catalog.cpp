// The message catalogue: one file per message set (host/messages/<set>.txt), loaded on
// first use, and the filling of the %1..%9 substitution markers. Writing the formatted
// message to the log is the supervisor's (supervisor.cpp).
#include "host/catalog.h"

#include "host/datadir.h"
#include "host/hostapi.h"
#include "host/output/numformat.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#ifndef QRX_MESSAGE_DIR
#define QRX_MESSAGE_DIR "messages"
#endif

namespace qrxhost {
namespace {

struct Catalogue {
  std::mutex mutex;
  std::string dir; // empty: not chosen explicitly
  // set -> (number -> message); a set present with no entries was looked for and is absent
  std::map<int, std::map<int, MessageDef>> sets;
};

Catalogue& catalogue() {
  static Catalogue c;
  return c;
}

std::string dirInUse(const Catalogue& c) {
  return dataDirectory(c.dir, "QRX_MESSAGE_DIR", QRX_MESSAGE_DIR);
}

bool parseSeverity(const std::string& s, HostSeverity* out) {
  if (s == "NOTE")
    *out = HostSeverity::Note;
  else if (s == "WARNING")
    *out = HostSeverity::Warning;
  else if (s == "ERROR")
    *out = HostSeverity::Error;
  else
    return false;
  return true;
}

// Parses one set file; malformed lines are skipped and described in `problems`.
std::map<int, MessageDef> loadSet(const std::filesystem::path& file, int set,
                                  std::vector<std::string>* problems) {
  std::map<int, MessageDef> out;
  std::ifstream in(file);
  if (!in)
    return out;
  std::string line;
  int lineNo = 0;
  auto problem = [&](const std::string& what) {
    if (problems)
      problems->push_back(file.string() + ":" + std::to_string(lineNo) + ": " + what);
  };
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty() || line[0] == '#')
      continue;
    size_t t1 = line.find('\t');
    size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string::npos) {
      problem("expected NUMBER<TAB>SEVERITY<TAB>TEXT");
      continue;
    }
    std::string num = line.substr(0, t1);
    char* end = nullptr;
    long n = std::strtol(num.c_str(), &end, 10);
    if (num.empty() || *end != '\0' || n < 0) {
      problem("bad message number '" + num + "'");
      continue;
    }
    HostSeverity sev;
    if (!parseSeverity(line.substr(t1 + 1, t2 - t1 - 1), &sev)) {
      problem("severity must be NOTE, WARNING or ERROR");
      continue;
    }
    if (out.count(static_cast<int>(n))) {
      problem("message " + num + " defined twice");
      continue;
    }
    out[static_cast<int>(n)] = MessageDef{set, static_cast<int>(n), sev, line.substr(t2 + 1)};
  }
  return out;
}

std::string argText(const HostMsgArg& a) {
  switch (a.kind) {
  case HostMsgArg::Int:
    return std::to_string(a.i);
  case HostMsgArg::Dbl:
    return formatBestNumber(a.d);
  case HostMsgArg::Str:
    return a.s && a.len > 0 ? std::string(a.s, static_cast<size_t>(a.len)) : std::string();
  }
  return std::string();
}

} // namespace

std::string formatBestNumber(double value, int width) {
  // Message values and numeric macro variables read as the listing shows numbers.
  return formatBest(value, width);
}

void setMessageDir(const std::string& dir) {
  Catalogue& c = catalogue();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.dir = dir;
  c.sets.clear();
}

std::string messageDir() {
  Catalogue& c = catalogue();
  std::lock_guard<std::mutex> lock(c.mutex);
  return dirInUse(c);
}

bool messageCatalogueAvailable(std::string* why) {
  namespace fs = std::filesystem;
  std::string dir = messageDir();
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    if (why)
      *why = "the message directory " + dir + " does not exist";
    return false;
  }
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.path().extension() == ".txt")
      return true;
  if (why)
    *why = "the message directory " + dir + " holds no message files";
  return false;
}

std::vector<std::string> checkMessageCatalogue() {
  namespace fs = std::filesystem;
  std::vector<std::string> problems;
  std::string dir = messageDir();
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.path().extension() != ".txt")
      continue;
    std::string stem = e.path().stem().string();
    char* end = nullptr;
    long set = std::strtol(stem.c_str(), &end, 10);
    if (stem.empty() || *end != '\0') {
      problems.push_back(e.path().string() + ": the file name is not a message set number");
      continue;
    }
    loadSet(e.path(), static_cast<int>(set), &problems);
  }
  if (ec)
    problems.push_back(dir + ": " + ec.message());
  return problems;
}

const MessageDef* findMessage(int set, int number) {
  Catalogue& c = catalogue();
  std::lock_guard<std::mutex> lock(c.mutex);
  auto it = c.sets.find(set);
  if (it == c.sets.end()) {
    std::filesystem::path file =
        std::filesystem::path(dirInUse(c)) / (std::to_string(set) + ".txt");
    it = c.sets.emplace(set, loadSet(file, set, nullptr)).first;
  }
  auto m = it->second.find(number);
  return m == it->second.end() ? nullptr : &m->second;
}

std::string formatMessage(int set, int number, const HostMsgArg* args, int count) {
  const MessageDef* def = findMessage(set, number);
  if (!def) {
    std::string out = "Message " + std::to_string(set) + "-" + std::to_string(number) +
                      " is not in the message catalogue.";
    for (int i = 0; i < count; ++i)
      out += (i == 0 ? " Values: " : ", ") + argText(args[i]);
    return out;
  }
  const std::string& t = def->text;
  std::string out;
  out.reserve(t.size() + 16);
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '%' && i + 1 < t.size()) {
      char c = t[i + 1];
      if (c >= '1' && c <= '9') {
        int k = c - '1';
        if (k < count)
          out += argText(args[k]);
        ++i;
        continue;
      }
      if (c == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += t[i];
  }
  return out;
}

} // namespace qrxhost
