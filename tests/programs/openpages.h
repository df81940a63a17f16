// Opening HTML pages for end-to-end tests: scripts/open_pages.js loads them all in one headless
// Chromium (a browser started for each page spent most of a page test's time starting), and
// reads each page's document and console once its scripts and the graphs they draw have run to
// the end in virtual time. Under ctest that browser is the one the page_browser fixture starts
// for the whole run (QRX_PAGE_BROWSER names it); a test run alone starts its own. With
// QRX_PAGE_SHOTS=1 the pages' screenshots are kept under the build directory for people to
// look at; no test reads them, so they are not drawn otherwise.
#pragma once

#include "programs/qrxrun.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace openpages {

namespace fs = std::filesystem;

// A screenshot of the viewport at width x height, with what matches the CSS selector `hide`
// (when given) left out of the layout.
struct Shot {
  int width = 0, height = 0;
  std::string png;  // the file's name under shotsDirectory()
  std::string hide; // a CSS selector
};

struct Page {
  fs::path html;
  int width = 0, height = 0; // the viewport the page is laid out in (the browser's window if 0)
  std::vector<Shot> shots;
  std::string dom;     // the root element's markup once the page has run
  std::string console; // one line per console message, uncaught exception or log entry
};

// Whether the screenshots are taken (QRX_PAGE_SHOTS=1).
inline bool shotsWanted() {
  const char* shots = std::getenv("QRX_PAGE_SHOTS");
  return shots != nullptr && std::string(shots) == "1";
}

inline bool available() {
  std::string ignored;
  return qrxrun::runCommand("command -v chromium && command -v node", &ignored) == 0;
}

// Where the screenshots are kept: html/ beside the runner's directory in the build tree.
inline fs::path shotsDirectory() {
  const fs::path dir = fs::path(QRX_BINARY).parent_path().parent_path() / "html";
  fs::create_directories(dir);
  return dir;
}

// Quotes text as a JSON string.
inline std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

// Opens every page, `parallel` of them at a time, and fills in its document and console; the
// script's messages (empty when every page was read). A page not read once the browser has
// spent `cpuLimit` seconds of CPU on it (the script's own limit when 0) is given up as hung.
inline std::string open(std::vector<Page>& pages, int parallel = 1, int cpuLimit = 0) {
  const fs::path dir =
      fs::temp_directory_path() / ("qrx_pages_" + std::to_string(static_cast<long>(::getpid())));
  fs::create_directories(dir);
  std::string jobs = "{\"parallel\": " + std::to_string(parallel) +
                     ", \"cpuLimit\": " + std::to_string(cpuLimit) + ", \"pages\": [";
  for (size_t i = 0; i < pages.size(); ++i) {
    const std::string n = std::to_string(i);
    jobs += std::string(i ? ",\n" : "") +
            "{\"url\": " + jsonString("file://" + fs::absolute(pages[i].html).string()) +
            ", \"dom\": " + jsonString((dir / (n + ".dom")).string()) +
            ", \"console\": " + jsonString((dir / (n + ".console")).string()) +
            ", \"width\": " + std::to_string(pages[i].width) +
            ", \"height\": " + std::to_string(pages[i].height) + ", \"shots\": [";
    for (size_t k = 0; shotsWanted() && k < pages[i].shots.size(); ++k) {
      const Shot& s = pages[i].shots[k];
      jobs += std::string(k ? ", " : "") + "{\"width\": " + std::to_string(s.width) +
              ", \"height\": " + std::to_string(s.height) +
              ", \"path\": " + jsonString((shotsDirectory() / s.png).string()) +
              ", \"hide\": " + jsonString(s.hide) + "}";
    }
    jobs += "]}";
  }
  std::ofstream(dir / "jobs.json") << jobs << "]}\n";
  std::string log;
  qrxrun::runCommand("node '" + std::string(QRX_SOURCE_DIR) + "/scripts/open_pages.js' '" +
                         (dir / "jobs.json").string() + "' 2>&1",
                     &log);
  for (size_t i = 0; i < pages.size(); ++i) {
    pages[i].dom = qrxrun::readFile(dir / (std::to_string(i) + ".dom"));
    pages[i].console = qrxrun::readFile(dir / (std::to_string(i) + ".console"));
  }
  fs::remove_all(dir);
  return log;
}

} // namespace openpages
