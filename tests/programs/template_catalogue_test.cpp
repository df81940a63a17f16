// The template catalogue against the module: every template name the module passes (found
// by scanning src/) has a catalogue entry, every catalogue column has worded header and a
// known format, and every column of the tables that real runs publish has an entry.
#include "driver/vsfmain.h"
#include "host/data/dataset.h"
#include "host/hostcore.h"
#include "host/output/outputdoc.h"
#include "host/output/tableview.h"
#include "host/output/templates.h"
#include "host/runner/programrun.h"

#include "programs/byclassdata.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace qrxhost;

namespace {

// Template paths in the module's sources: full literals ("Stat.VARSIFTER.X"), and the short
// names that the constructed-effect printers hand to their bind and factoid helpers, which
// prefix "Stat.VARSIFTER.". Graph templates are drawn by the graph renderer, not laid out
// from the catalogue.
std::set<std::string> templatesInSources() {
  std::set<std::string> found;
  const std::regex literal(R"re("(Stat\.Var[Ss][Ii][Ff][Tt][Ee][Rr]\.[A-Za-z][A-Za-z.]*)")re",
                           std::regex::icase);
  const std::regex shortBind(R"re(\bbind\(\s*parent\s*,\s*data\s*,\s*label\s*,\s*"([A-Za-z]+)")re");
  const std::regex shortFactoid(R"re(\bcreateFactoid\(\s*parent\s*,\s*"([A-Za-z]+)")re");
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(QRX_SOURCE_DIR) / "src")) {
    if (!entry.is_regular_file() || entry.path().extension() != ".cpp")
      continue;
    std::string text = readFile(entry.path());
    for (std::sregex_iterator it(text.begin(), text.end(), literal), end; it != end; ++it)
      found.insert((*it)[1]);
    if (text.find("effects/effout.h") == std::string::npos)
      continue;
    for (const std::regex* re : {&shortBind, &shortFactoid})
      for (std::sregex_iterator it(text.begin(), text.end(), *re), end; it != end; ++it)
        found.insert("Stat.VARSIFTER." + (*it)[1].str());
  }
  for (auto it = found.begin(); it != found.end();)
    it = it->find(".Graphics.") != std::string::npos ? found.erase(it) : std::next(it);
  return found;
}

} // namespace

TEST(TemplateCatalogue, EveryTemplateTheModulePassesIsCatalogued) {
  std::set<std::string> used = templatesInSources();
  // The scan itself must work: the module has well over a dozen templates, among them the
  // short names of the effect printers.
  ASSERT_GE(used.size(), 20u);
  EXPECT_EQ(used.count("Stat.VARSIFTER.SelectionSummary"), 1u);
  EXPECT_EQ(used.count("Stat.VARSIFTER.LagDesignLevels"), 1u);
  EXPECT_EQ(used.count("Stat.VARSIFTER.PolynomialDetails"), 1u);
  for (const std::string& path : used)
    EXPECT_NE(findTemplate(path), nullptr) << "the catalogue has no template " << path;
}

TEST(TemplateCatalogue, EveryColumnHasAHeaderAndAKnownFormat) {
  std::string why;
  ASSERT_TRUE(templateCatalogueAvailable(&why)) << why;
  for (const std::string& problem : templateProblems())
    ADD_FAILURE() << problem;
  for (const std::string& path : templatePaths()) {
    const TableTemplate* t = findTemplate(path);
    ASSERT_NE(t, nullptr);
    for (const TemplateColumn& column : t->columns) {
      EXPECT_FALSE(column.header.empty()) << path << " column " << column.match;
      EXPECT_NE(findDisplayFormat(column.format), nullptr)
          << path << " column " << column.match << " format " << column.format;
    }
  }
}

namespace {

void entry(HostControlBlock* cb, void* pidb) { mcn_main(cb, pidb); }

// Every displayed table of the documents (groups included) must be fully catalogued.
void checkNodes(const std::vector<std::unique_ptr<OutputNode>>& nodes, int* tables) {
  for (const auto& node : nodes) {
    if (node->kind == NodeKind::Group) {
      checkNodes(node->children, tables);
    } else if (node->kind == NodeKind::Factoid) {
      EXPECT_NE(findTemplate(node->templ), nullptr) << node->templ;
    }
    if (node->kind != NodeKind::Table || !node->published)
      continue;
    ++*tables;
    EXPECT_NE(findTemplate(node->templ), nullptr) << node->templ;
    for (const std::string& column : uncataloguedColumns(*node))
      ADD_FAILURE() << node->templ << ": column " << column << " has no header";
  }
}

} // namespace

TEST(TemplateCatalogue, TablesOfRealRunsHaveAHeaderForEveryColumn) {
  fs::path work = fs::temp_directory_path() / ("qrx_tplcat_" + std::to_string(::getpid()));
  fs::create_directories(work);
  writeByClassData(work);
  setWorkDir(work.string());
  hostControlBlock();
  std::vector<ProcedureModule> modules(1);
  modules[0].name = "VARSIFTER";
  modules[0].entry = entry;
  modules[0].main = pcn_QRXVARSF.main;
  std::string program =
      "proc varsifter data=d;\n by g;\n class c k / showcoding;\n"
      "  model y = c k x1 x2 x3 / selection=stepwise(select=sl) details=all showpvalues stb;\n"
      "  performance details alldetails$ util_details$;\n"
      "run;\n"
      "proc varsifter data=d;\n class c;\n"
      "  model y = c x1 x2 x3 / selection=forward(select=aic choose=sbc) stats=all;\nrun;\n"
      "proc varsifter data=d;\n  model y = x1 x2 x3 / selection=lasso details=steps;\nrun;\n";
  ProgramResult result = runProgram(program, "catalogue.qrx", modules);
  int tables = 0;
  for (const auto& document : stepOutputs())
    checkNodes(document->nodes, &tables);
  EXPECT_GT(tables, 20);
  EXPECT_EQ(result.record.steps.size(), 3u);
  for (const StepRecord& step : result.record.steps)
    EXPECT_LT(step.returnCode, 5) << "step at line " << step.line;
  endRun();
  fs::remove_all(work);
}
