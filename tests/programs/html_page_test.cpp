// The listing and the HTML page end to end through the qrx binary: the diabetes listings
// read as tables (worded headers, no marker columns, rules, the optimum marked, p-values,
// %PUT after the step), and every example plus a program with BY groups, CLASS tables and
// step details opened in headless Chromium: no console messages, and every table, factoid
// and text line of the listing on the page with the same headers and values.
#include "programs/byclassdata.h"
#include "programs/openpages.h"
#include "programs/pagesearch.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

int shell(const std::string& cmd) {
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream s(text);
  std::string line;
  while (std::getline(s, line))
    out.push_back(line);
  return out;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  size_t e = s.find_last_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::string unescape(std::string s) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [from, to] : entities)
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + 1))
      s.replace(at, std::strlen(from), to);
  return s;
}

std::vector<std::string> captures(const std::string& text, const pagesearch::Pattern& re,
                                  int group = 1) {
  std::vector<std::string> out;
  for (std::string& c : re.captures(text, group))
    out.push_back(unescape(std::move(c)));
  return out;
}

// Walks the listing's lines in order, skipping blank ones.
struct ListingCursor {
  std::vector<std::string> all;
  size_t at = 0;
  std::string next() {
    while (at < all.size() && trim(all[at]).empty())
      ++at;
    return at < all.size() ? all[at++] : "<end of listing>";
  }
  bool done() {
    while (at < all.size() && trim(all[at]).empty())
      ++at;
    return at == all.size();
  }
};

// True when the line is the cells in this order with only blanks around and between them.
bool lineHoldsCells(const std::string& line, const std::vector<std::string>& cells) {
  size_t pos = 0;
  for (const std::string& raw : cells) {
    std::string cell = trim(raw);
    if (cell.empty())
      continue;
    while (pos < line.size() && line[pos] == ' ')
      ++pos;
    if (line.compare(pos, cell.size(), cell) != 0)
      return false;
    pos += cell.size();
  }
  return trim(line.substr(std::min(pos, line.size()))).empty();
}

bool ruleLine(const std::string& line, char c) {
  return !line.empty() && line.find_first_not_of(c) == std::string::npos;
}

// Checks the page's elements, in order, against the listing; returns the number of tables.
int comparePageWithListing(const std::string& dom, const std::string& listing) {
  ListingCursor cur{lines(listing)};
  const pagesearch::Pattern item(
      R"re(<section class="output (table|factoid)"[^>]*>([\s\S]*?)</section>|<p class="text( center)?">([\s\S]*?)</p>|<hr class="rule">)re");
  const pagesearch::Pattern h2("<h2>([\\s\\S]*?)</h2>");
  const pagesearch::Pattern row("<tr( class=\"rule\")?>([\\s\\S]*?)</tr>");
  const pagesearch::Pattern cell("<t[dh][^>]*>([\\s\\S]*?)</t[dh]>");
  int tables = 0;
  for (const std::smatch& m : item.all(dom)) {
    std::string body = m[2];
    if (m[0].str().rfind("<hr", 0) == 0) {
      std::string line = cur.next();
      EXPECT_TRUE(ruleLine(line, '-') || ruleLine(line, '=')) << line;
    } else if (m[4].matched) {
      EXPECT_EQ(trim(cur.next()), trim(unescape(m[4]))) << "text line";
    } else {
      std::string title = captures(body, h2).at(0);
      EXPECT_EQ(trim(cur.next()), title);
      bool isTable = m[1] == "table";
      tables += isTable;
      std::string head = body.substr(0, body.find("<tbody>"));
      for (const std::string& span :
           captures(head, pagesearch::Pattern("<th class=\"span\"[^>]*>([^<]*)</th>")))
        EXPECT_NE(cur.next().find(span), std::string::npos) << title << ": span " << span;
      std::vector<std::string> headers =
          captures(head, pagesearch::Pattern("<tr class=\"headers\">([\\s\\S]*?)</tr>"));
      if (isTable && !headers.empty()) {
        std::string line = cur.next();
        EXPECT_TRUE(lineHoldsCells(line, captures(headers[0], cell))) << title << ": " << line;
      }
      std::string rows = isTable ? body.substr(body.find("<tbody>")) : body;
      for (const std::smatch& r : row.all(rows)) {
        if (r[1].matched) {
          EXPECT_TRUE(ruleLine(cur.next(), '-')) << title << ": rule";
        }
        std::string tr = r[2];
        const std::vector<std::string> cells = captures(tr, cell);
        if (std::all_of(cells.begin(), cells.end(),
                        [](const std::string& c) { return trim(c).empty(); }))
          continue; // a blank separating row is a blank line, which the cursor skips
        std::string line = cur.next();
        EXPECT_TRUE(lineHoldsCells(line, cells)) << title << ": " << line;
      }
      for (const std::string& note :
           captures(body, pagesearch::Pattern("<p class=\"footnote\">([^<]*)</p>")))
        EXPECT_EQ(trim(cur.next()), note);
    }
  }
  EXPECT_TRUE(cur.done()) << "the listing has more than the page: " << cur.next();
  return tables;
}

struct PageRun {
  std::string listing, log, dom, console;
  std::string opener; // what the page opener said when it could not read the page
  int status = -1;
};

// A program to run with --html: its file, the directory it starts in, its tag (the name of
// its screenshot) and its WORK directory (a fresh one when empty).
struct PageProgram {
  fs::path program, cwd;
  std::string tag;
  fs::path work;
};

// Runs the programs side by side, each with --html, then opens their pages in one headless
// Chromium (their documents and console messages); with QRX_PAGE_SHOTS=1 keeps a screenshot
// of each under the build directory.
std::vector<PageRun> runAndOpen(const std::vector<PageProgram>& programs) {
  std::vector<PageRun> runs(programs.size());
  std::vector<fs::path> outs;
  std::vector<openpages::Page> pages(programs.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < programs.size(); ++i) {
    const PageProgram& p = programs[i];
    fs::path out =
        fs::temp_directory_path() / ("qrx_html_" + p.tag + "_" + std::to_string(::getpid()));
    fs::create_directories(out);
    outs.push_back(out);
    pages[i].html = out / "page.html";
    pages[i].shots = {{1100, 2400, p.tag + ".png", ""}};
    const std::string cmd = "cd '" + p.cwd.string() + "' && ASAN_OPTIONS=detect_leaks=0 '" +
                            QRX_BINARY + "' --work '" + (p.work.empty() ? out : p.work).string() +
                            "' --html '" + pages[i].html.string() + "' '" + p.program.string() +
                            "' > '" + (out / "listing.txt").string() + "' 2> '" +
                            (out / "log.txt").string() + "'";
    threads.emplace_back([cmd, &run = runs[i]] { run.status = shell(cmd); });
  }
  for (std::thread& t : threads)
    t.join();
  const std::string opener = openpages::open(pages, 4);
  for (size_t i = 0; i < programs.size(); ++i) {
    runs[i].listing = readFile(outs[i] / "listing.txt");
    runs[i].log = readFile(outs[i] / "log.txt");
    runs[i].dom = pages[i].dom;
    runs[i].console = pages[i].console;
    runs[i].opener = opener;
    fs::remove_all(outs[i]);
  }
  return runs;
}

void checkPage(const PageRun& r, const std::string& tag) {
  EXPECT_LE(r.status, 1) << tag << "\n" << r.log;
  ASSERT_FALSE(r.dom.empty()) << tag << ": Chromium gave no document\n" << r.opener;
  EXPECT_EQ(r.console, "") << tag;
  EXPECT_GT(comparePageWithListing(r.dom, r.listing), 3) << tag;
  // The page holds the run's log, line for line.
  std::vector<std::string> logged;
  for (const std::string& block :
       captures(r.dom, pagesearch::Pattern("<pre class=\"log\">([\\s\\S]*?)</pre>")))
    for (const std::string& line :
         captures(block, pagesearch::Pattern("<span class=\"[a-z]+\">([^<]*)</span>")))
      logged.push_back(line);
  EXPECT_EQ(logged, lines(r.log)) << tag;
  // Nothing outside the page's scripts loads from the network (an attribute or a style that
  // names a URL; the SVG namespaces are names, not loads).
  std::string markup;
  for (size_t at = 0; at < r.dom.size();) {
    const size_t open = r.dom.find("<script", at);
    markup += r.dom.substr(at, open == std::string::npos ? std::string::npos : open - at);
    const size_t close = open == std::string::npos ? open : r.dom.find("</script>", open);
    at = close == std::string::npos ? r.dom.size() : close + 9;
  }
  EXPECT_FALSE(std::regex_search(
      markup,
      std::regex(R"re((src|href)\s*=\s*["']?\s*(https?:)?//|url\(\s*["']?\s*(https?:)?//)re")))
      << tag << ": the page refers to the network";
}

} // namespace

// A Pattern finds what std::sregex_iterator finds: leads cut before a quantifier that allows
// none of their last character, top-level alternatives (and a bar inside a class or a group,
// which is none), escapes, a lead that stands where no match starts, overlapping leads.
TEST(PageSearch, FindsWhatStdRegexFinds) {
  const std::string text = "<p class=\"text\">a|b</p> <hr class=\"rule\"> aaaa abbbc ac ayc yc "
                           "<p class=\"textx\">no</p> x.y x|y <svg k class=\"marks\"> <svg>";
  for (const char* expression :
       {"<p class=\"text( center)?\">([\\s\\S]*?)</p>|<hr class=\"rule\">", "aa", "ab*c", "ab+c",
        "a?yc", "ab{2,}c", "x[|.]y", "x\\.y", "(src|y)c", "<svg[^>]*class=\"marks\"", "a|b",
        "<p class=\"text\">a\\|b", "zz"}) {
    const std::regex re(expression);
    std::vector<std::string> want;
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
      want.push_back(std::to_string(it->position()) + ":" + it->str());
    std::vector<std::string> got;
    for (const std::smatch& m : pagesearch::Pattern(expression).all(text))
      got.push_back(std::to_string(m[0].first - text.begin()) + ":" + m.str());
    EXPECT_EQ(got, want) << expression;
  }
  EXPECT_EQ(pagesearch::leadOf("ab*c"), "a");
  EXPECT_EQ(pagesearch::leadOf("<p a|<p b"), "<p ");
  EXPECT_EQ(pagesearch::leadOf("x[|]y"), "x");
}

TEST(HtmlPage, ConsoleMessagesOfAPageAreDetected) {
  if (!openpages::available())
    GTEST_SKIP() << "chromium or node is not installed (scripts/setup installs them)";
  // A message written while the page loads, an uncaught exception, a resource that is not
  // there and a message of a timer that runs after the load: each is a console line.
  fs::path page =
      fs::temp_directory_path() / ("qrx_console_" + std::to_string(::getpid()) + ".html");
  std::ofstream(page) << "<!DOCTYPE html><p>x</p><script>console.error('boom'); "
                         "setTimeout(function () { console.log('late'); }, 3000); "
                         "noSuchFunction();</script><img src='no_such_picture.png'>";
  std::vector<openpages::Page> pages(1);
  pages[0].html = page;
  const std::string opener = openpages::open(pages);
  EXPECT_NE(pages[0].dom.find("<p>x</p>"), std::string::npos) << opener;
  for (const char* message : {"boom", "noSuchFunction", "no_such_picture.png", "late"})
    EXPECT_NE(pages[0].console.find(message), std::string::npos) << message << "\n"
                                                                 << pages[0].console;
  fs::remove(page);
}

// A page whose script never ends is given up, by name, once the browser has spent the CPU
// limit on it, and the page before it is read; with no shared browser answering at
// QRX_PAGE_BROWSER the pages open in a browser of their own. One page at a time: a page open
// beside the hung one is charged the CPU that the hung one spends.
TEST(HtmlPage, HungPageIsGivenUpOnTheBrowsersCpuTime) {
  if (!openpages::available())
    GTEST_SKIP() << "chromium or node is not installed (scripts/setup installs them)";
  const fs::path dir = fs::temp_directory_path() / ("qrx_hung_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "hung.html")
      << "<!DOCTYPE html><p>x</p><script>setTimeout(function () { for (;;) {} }, 100);</script>";
  std::ofstream(dir / "fine.html") << "<!DOCTYPE html><p>fine</p>";
  std::vector<openpages::Page> pages(2);
  pages[0].html = dir / "fine.html";
  pages[1].html = dir / "hung.html";
  const char* shared = std::getenv("QRX_PAGE_BROWSER");
  const std::string kept = shared ? shared : "";
  ::setenv("QRX_PAGE_BROWSER", (dir / "no_browser").c_str(), 1);
  const std::string opener = openpages::open(pages, 1, 20);
  if (shared)
    ::setenv("QRX_PAGE_BROWSER", kept.c_str(), 1);
  else
    ::unsetenv("QRX_PAGE_BROWSER");
  EXPECT_NE(opener.find("no shared browser at"), std::string::npos) << opener;
  EXPECT_NE(opener.find("hung.html: not read after 20 s of the browser's CPU time: the page hangs"),
            std::string::npos)
      << opener;
  EXPECT_EQ(opener.find("fine.html"), std::string::npos) << opener;
  EXPECT_NE(pages[0].dom.find("<p>fine</p>"), std::string::npos) << opener;
  EXPECT_EQ(pages[1].dom, "");
  fs::remove_all(dir);
}

namespace {

// The examples whose names fall in [from, to) (by their first letter), each run and opened;
// how many there were.
int checkExamples(char from, char to) {
  std::vector<PageProgram> examples;
  for (const auto& entry : fs::directory_iterator(fs::path(QRX_SOURCE_DIR) / "examples")) {
    const std::string tag = entry.path().stem().string();
    if (entry.path().extension() != ".qrx" || tag.empty() || tag[0] < from || tag[0] >= to)
      continue;
    examples.push_back({entry.path(), QRX_SOURCE_DIR, tag, {}});
  }
  const std::vector<PageRun> runs = runAndOpen(examples);
  for (size_t i = 0; i < examples.size(); ++i)
    checkPage(runs[i], examples[i].tag);
  return static_cast<int>(examples.size());
}

} // namespace

// The examples in two tests, so that each stays short on a loaded machine.
TEST(HtmlPage, EveryExampleOpensCleanAndMatchesItsListing) {
  if (!openpages::available())
    GTEST_SKIP() << "chromium or node is not installed (scripts/setup installs them)";
  EXPECT_GE(checkExamples('\0', 'm'), 2);
}

TEST(HtmlPage, EveryLaterExampleOpensCleanAndMatchesItsListing) {
  if (!openpages::available())
    GTEST_SKIP() << "chromium or node is not installed (scripts/setup installs them)";
  EXPECT_GE(checkExamples('m', '\x7f'), 2);
}

TEST(HtmlPage, ByGroupsClassTablesAndStepDetails) {
  if (!openpages::available())
    GTEST_SKIP() << "chromium or node is not installed (scripts/setup installs them)";
  fs::path dir = fs::temp_directory_path() / ("qrx_html_by_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  writeByClassData(dir);
  std::ofstream(dir / "p.qrx")
      << "proc varsifter data=d;\n by g;\n class c k / showcoding;\n"
         "  model y = c k x1 x2 x3 / selection=stepwise(select=sl) details=all showpvalues;\n"
         "run;\n%put done;\n";
  const PageRun r = runAndOpen({{dir / "p.qrx", dir, "by_class_details", dir}}).at(0);
  checkPage(r, "by_class_details");
  EXPECT_NE(r.listing.find("Design Variables"), std::string::npos);
  EXPECT_NE(r.listing.find("g=2"), std::string::npos);
  EXPECT_NE(r.listing.find("Stepwise Selection: Step 1"), std::string::npos);
  fs::remove_all(dir);
}

TEST(Listing, DiabetesExamplesReadAsTablesInProgramOrder) {
  fs::path out = fs::temp_directory_path() / ("qrx_listing_" + std::to_string(::getpid()));
  fs::create_directories(out);
  for (const char* name : {"diabetes", "diabetes_stepwise"}) {
    fs::path listing = out / (std::string(name) + ".lst");
    int status = shell(std::string("cd '") + QRX_SOURCE_DIR + "' && ASAN_OPTIONS=detect_leaks=0 '" +
                       QRX_BINARY + "' --work '" + out.string() + "' --listing '" +
                       listing.string() + "' examples/" + name + ".qrx 2> /dev/null");
    EXPECT_EQ(status, 0) << name;
    std::string text = readFile(listing);
    // Worded headers, and neither the column names nor the marker columns.
    for (const char* words : {"Effect Entered", "Number Effects In", "Sum of Squares",
                              "Mean Square", "F Value", "Standard Error", "t Value"})
      EXPECT_NE(text.find(words), std::string::npos) << name << ": " << words;
    for (const char* raw :
         {"nEffectsIn", "FValue", "StdErr", "tValue", "Control", "OptSBC", "Label "})
      EXPECT_EQ(text.find(raw), std::string::npos) << name << ": " << raw;
    // The rule that Control asks for sits between the starting model and step 1, and the
    // SBC optimum (step 6) carries the mark.
    std::vector<std::string> all = lines(text);
    size_t first = 0;
    while (first < all.size() && all[first] != "Stepwise Selection Summary")
      ++first;
    while (first < all.size() && all[first].rfind("   1  BMI", 0) != 0)
      ++first;
    ASSERT_LT(first, all.size()) << name;
    EXPECT_TRUE(ruleLine(all[first - 1], '-')) << all[first - 1];
    EXPECT_EQ(all[first + 5].rfind("   6  S2", 0), 0u) << all[first + 5];
    EXPECT_EQ(all[first + 5].back(), '*') << all[first + 5];
    EXPECT_NE(text.find("Effects:  Intercept SEX BMI BP S1 S2 S5"), std::string::npos);
    // The %PUT line comes after the step's last table, the library note before the step.
    size_t put = text.find("Selected effects: SEX BMI BP S1 S2 S5");
    size_t lastRow = text.find("S5         S5          1    73.30653");
    EXPECT_NE(lastRow, std::string::npos) << text;
    EXPECT_GT(put, lastRow);
    EXPECT_LT(text.find("NOTE: Library EX refers"), text.find("Model Information"));
    if (std::string(name) == "diabetes_stepwise") {
      // p-values to four decimals, "<.0001" below that.
      EXPECT_NE(text.find("Pr > |t|"), std::string::npos);
      EXPECT_NE(text.find("    <.0001"), std::string::npos);
      EXPECT_NE(text.find("    0.0002"), std::string::npos);
    }
  }
  fs::remove_all(out);
}

// A selection summary wider than the window (every statistic, three data roles) scrolls inside
// its own box: the page itself is no wider than the window.
TEST(HtmlPage, WideTableScrollsInsideItsBox) {
  if (!openpages::available())
    GTEST_SKIP() << "chromium or node is not installed (scripts/setup installs them)";
  fs::path dir = fs::temp_directory_path() / ("qrx_html_wide_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "p.qrx")
      << "libname ex '" << QRX_SOURCE_DIR << "/examples';\n"
      << "proc varsifter data=ex.diabetes plots=none;\n  partition fraction(validate=0.3 "
         "test=0.2);\n  model y = age sex bmi bp s1-s6 / selection=stepwise(select=sbc) "
         "stats=all;\nrun;\n";
  const fs::path page = dir / "p.html";
  ASSERT_LE(shell("ASAN_OPTIONS=detect_leaks=0 '" + std::string(QRX_BINARY) + "' --work '" +
                  dir.string() + "' --html '" + page.string() + "' '" + (dir / "p.qrx").string() +
                  "' > /dev/null 2>&1"),
            1);
  // The page with a script that notes its layout in the document.
  std::ofstream(page, std::ios::app)
      << "<script>var box = document.querySelector('section[data-name=SelectionSummary] table')"
         ".parentElement; document.body.dataset.layout = 'page ' + "
         "(document.documentElement.scrollWidth > window.innerWidth ? 'wider' : 'fits') + "
         "', box ' + (box.scrollWidth > box.clientWidth ? 'scrolls' : 'still');</script>\n";
  std::vector<openpages::Page> pages(1);
  pages[0].html = page;
  pages[0].width = 800, pages[0].height = 600;
  const std::string opener = openpages::open(pages);
  EXPECT_NE(pages[0].dom.find("data-layout=\"page fits, box scrolls\""), std::string::npos)
      << opener << pages[0].dom.substr(0, 400);
  fs::remove_all(dir);
}
