// The numbered messages by name: every enumerator of the module's and the host's message
// enumerations has its catalogue text, every text of the host's sets has its enumerator, and
// the sources write messages only through those names.
#include "host/catalog.h"
#include "host/hostapi.h"
#include "sourcescan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace srcscan;
namespace fs = std::filesystem;

// The module's messages are enumerators of src/support/messages.h, one enumeration per
// catalogue set. The header is read as text: each enumeration's set from its msgSet(), each
// enumerator and each run of texts chosen by a code, every one of which must have its text.
struct NamedMessages {
  std::map<std::string, int> setOf;                            // enumeration -> catalogue set
  std::map<std::string, std::map<std::string, int>> values;    // enumeration -> name -> number
  std::vector<std::tuple<std::string, std::string, int>> runs; // enumeration, first, count
};

std::string wordAt(const std::string& s, size_t& i) {
  while (i < s.size() && !identChar(s[i]))
    ++i;
  size_t start = i;
  while (i < s.size() && identChar(s[i]))
    ++i;
  return s.substr(start, i - start);
}

NamedMessages readNamedMessages(const std::string& code) {
  NamedMessages out;
  for (size_t at = code.find("enum class "); at != std::string::npos;
       at = code.find("enum class ", at + 1)) {
    size_t i = at + 11;
    std::string name = wordAt(code, i);
    size_t open = code.find('{', i), close = code.find('}', open);
    for (const std::string& item : splitArgs(code.substr(open + 1, close - open - 1))) {
      size_t eq = item.find('=');
      if (eq != std::string::npos)
        out.values[name][trim(item.substr(0, eq))] = std::stoi(trim(item.substr(eq + 1)));
    }
  }
  for (size_t at = code.find("msgSet("); at != std::string::npos;
       at = code.find("msgSet(", at + 1)) {
    size_t i = at + 7;
    std::string name = wordAt(code, i);
    size_t ret = code.find("return", i);
    if (out.values.count(name) && ret != std::string::npos && ret < code.find('}', i)) {
      size_t j = ret + 6;
      out.setOf[name] = std::stoi(wordAt(code, j));
    }
  }
  for (size_t at = code.find("MsgRun<"); at != std::string::npos;
       at = code.find("MsgRun<", at + 1)) {
    size_t i = at + 7;
    std::string name = wordAt(code, i);
    size_t brace = code.find('{', i), semi = code.find(';', i);
    if (!out.values.count(name) || brace > semi || code.compare(i, 1, ">") != 0)
      continue;
    std::vector<std::string> parts =
        splitArgs(code.substr(brace + 1, code.find('}', brace) - brace - 1));
    if (parts.size() == 2 && parts[0].rfind(name + "::", 0) == 0)
      out.runs.emplace_back(name, parts[0].substr(name.size() + 2), std::stoi(parts[1]));
  }
  return out;
}

} // namespace

TEST(CatalogueScan, EveryNamedMessageOfTheModuleHasAText) {
  CatalogueDir dir;
  std::ifstream in(fs::path(QRX_SOURCE_DIR) / "src/support/messages.h");
  std::stringstream text;
  text << in.rdbuf();
  NamedMessages named = readNamedMessages(blankComments(text.str()));
  size_t count = 0;
  for (const auto& [enumeration, names] : named.values) {
    ASSERT_TRUE(named.setOf.count(enumeration)) << enumeration << " has no msgSet()";
    const int set = named.setOf.at(enumeration);
    std::map<int, std::string> byNumber;
    for (const auto& [name, number] : names) {
      EXPECT_NE(qrxhost::findMessage(set, number), nullptr)
          << enumeration << "::" << name << " (" << set << "/" << number << ") has no text";
      auto [it, fresh] = byNumber.emplace(number, name);
      EXPECT_TRUE(fresh) << enumeration << "::" << name << " and " << it->second
                         << " name the same message";
    }
    count += names.size();
  }
  EXPECT_GT(count, 700u); // the header was read
  EXPECT_EQ(named.values.at("VsfMsg").at("OutOfMemory"), 140);
  ASSERT_GE(named.runs.size(), 10u);
  for (const auto& [enumeration, first, n] : named.runs) {
    ASSERT_TRUE(named.values.at(enumeration).count(first)) << enumeration << "::" << first;
    const int start = named.values.at(enumeration).at(first);
    for (int k = 0; k < n; ++k)
      EXPECT_NE(qrxhost::findMessage(named.setOf.at(enumeration), start + k), nullptr)
          << "entry " << k << " of the run from " << enumeration << "::" << first;
  }
}

// Only the named-message layer reaches the host's message services, and nothing turns a
// number into a message name: so every message the module writes is one the test above
// checked.
TEST(CatalogueScan, TheModuleWritesMessagesOnlyThroughTheirNames) {
  const std::set<std::string> layer = {"src/support/messages.h", "src/support/hoststubs.h",
                                       "src/support/hoststubs.cpp", "src/output/vsfprint.cpp"};
  const std::vector<std::string> services = {"xpmlog", "xpmlogv", "xpmstr",
                                             "rvqmsg", "rvqmsgs", "wkread"};
  size_t files = 0;
  for (const Source& f : readTree("src")) {
    ++files;
    if (layer.count(f.path))
      continue;
    for (const std::string& s : services)
      for (size_t pos = f.code.find(s + "("); pos != std::string::npos;
           pos = f.code.find(s + "(", pos + 1))
        if (pos == 0 || (!identChar(f.code[pos - 1]) && f.code[pos - 1] != '>'))
          ADD_FAILURE() << f.path << " calls " << s << " with a bare message number";
    // static_cast<VsfMsg>(n), VsfMsg(n) and VsfMsg{n} (VsfMsg{} is "no message").
    for (std::string e : {"VsfMsg", "EffMsg", "LevMsg", "OptionMsg", "HostMsg"})
      for (const std::string& cast : {"static_cast<" + e + ">", e + "(", e + "{"})
        for (size_t pos = f.code.find(cast); pos != std::string::npos;
             pos = f.code.find(cast, pos + 1))
          if ((pos == 0 || !identChar(f.code[pos - 1])) &&
              f.code.compare(pos, e.size() + 2, e + "{}") != 0)
            ADD_FAILURE() << f.path << " makes a message name from a number";
  }
  EXPECT_GT(files, 100u);
}

// The host's message enumerations name every text of their sets, and only those: a
// name whose number has no text, or a text that no name reaches, is caught even when
// nothing logs it yet.
TEST(CatalogueScan, HostMessageEnumerationsMatchTheirSets) {
  CatalogueDir dir;
  std::ifstream in(QRX_SOURCE_DIR "/host/hostmessages.h", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string code = blankComments(text.str());
  static const std::regex setEnum(
      R"(constexpr\s+int\s+\w+\s*=\s*(\d+)\s*;\s*enum\s+class\s+(\w+)[^{]*\{([^}]*)\})");
  int sets = 0;
  for (std::sregex_iterator it(code.begin(), code.end(), setEnum), end; it != end; ++it, ++sets) {
    const int set = std::stoi((*it)[1]);
    std::set<int> named;
    for (const std::string& item : splitArgs((*it)[3])) {
      if (item.empty())
        continue;
      const int number = std::stoi(item.substr(item.find('=') + 1));
      named.insert(number);
      EXPECT_NE(qrxhost::findMessage(set, number), nullptr) << (*it)[2] << "::" << item;
    }
    std::ifstream catalogue(QRX_SOURCE_DIR "/host/messages/" + std::to_string(set) + ".txt");
    for (std::string line; std::getline(catalogue, line);) {
      if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0])))
        continue;
      EXPECT_TRUE(named.count(std::stoi(line)))
          << set << "/" << std::stoi(line) << " has no enumerator in " << (*it)[2];
    }
  }
  EXPECT_EQ(sets, 3);
}

// The host writes its own sets through its wrappers, each of which takes only its set's
// enumeration: outside them no call of logMessage passes a bare number, and nothing turns a
// number into a message name. The module's messages reach the host through the supervisor's
// xpmlog, which only relays them.
TEST(CatalogueScan, TheHostWritesItsMessagesOnlyThroughTheirNames) {
  const std::set<std::string> relays = {"host/hostlog.h", "host/hostlog.cpp",
                                        "host/supervisor.cpp"};
  const std::regex bareNumber(R"(\blogMessage\s*\(\s*[^,()]*,\s*-?\d)");
  const std::regex setByName(R"(\blogMessage\s*\(\s*(k\w+MsgSet)\s*,)");
  const std::regex fromNumber(
      R"(\b(static_cast\s*<\s*(qrxhost::)?(DataMsg|RunnerMsg|AuxMsg|ParserMsg)\s*>|(DataMsg|RunnerMsg|AuxMsg)\s*[({]\s*[^\s})]))");
  const std::regex call(R"(\blogMessage\s*\()");
  size_t calls = 0;
  for (const Source& f : readTree("host")) {
    if (relays.count(f.path))
      continue;
    EXPECT_FALSE(std::regex_search(f.code, bareNumber)) << f.path << " logs a bare number";
    EXPECT_FALSE(std::regex_search(f.code, fromNumber))
        << f.path << " makes a message name from a number";
    for (std::sregex_iterator it(f.code.begin(), f.code.end(), call), end; it != end;
         ++it, ++calls) {
      const std::string from = f.code.substr(static_cast<size_t>(it->position()));
      EXPECT_TRUE(std::regex_search(from, setByName, std::regex_constants::match_continuous))
          << f.path << " logs a set that is not named";
    }
  }
  EXPECT_GT(calls, 5u);
}
