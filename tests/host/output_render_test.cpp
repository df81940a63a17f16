// The renderers on documents built by hand: listing layout of tables and factoids, the
// JSON node shape, JSON quoting of awkward texts, and the number formats.
#include "host/output/html.h"
#include "host/output/jsonnodes.h"
#include "host/output/numformat.h"
#include "host/output/rvqoutput.h"
#include "host/output/vegachart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

using namespace qrxhost;

namespace {

// A column of the given name, header, type and width, with the default format and neither
// a template nor dynamic variables.
OutputColumn column(const char* name, const char* label, ColumnType type, int32_t width) {
  OutputColumn c;
  c.name = name;
  c.label = label;
  c.type = type;
  c.width = width;
  return c;
}

std::unique_ptr<OutputNode> smallTable() {
  auto t = std::make_unique<OutputNode>();
  t->kind = NodeKind::Table;
  t->name = "Summary";
  t->label = "Selection Summary";
  t->templ = "Stat.VARSIFTER.SelectionSummary";
  t->published = true;
  t->columns.push_back(column("Step", "", ColumnType::Int, 0));
  t->columns.back().format.code = 0;
  t->columns.push_back(column("Effect", "Effect Entered", ColumnType::Chars, 10));
  t->columns.push_back(column("Value", "", ColumnType::Double, 0));
  t->rows.push_back({int64_t{0}, std::string("Intercept"), 1.5});
  t->rows.push_back({int64_t{12}, std::string("x"), std::monostate{}});
  t->dynamics.emplace_back("titleText", std::string("Forward"));
  return t;
}

} // namespace

TEST(OutputListing, TableColumnsAreAlignedUnderTheirHeaders) {
  OutputDocument doc;
  doc.nodes.push_back(smallTable());
  doc.nodes[0]->footnote = "Selection stopped.";
  // Widths: Step 4 (header), Effect Entered 14 (header), Value 5 (header). Numbers are
  // right-aligned, texts left-aligned, two blanks between columns, no trailing blanks. The
  // template's title (here its dynamic variable) heads the table rather than the label.
  std::string expected = "Forward\n"
                         "\n"
                         "Step  Effect Entered  Value\n"
                         "   0  Intercept         1.5\n"
                         "  12  x                   .\n"
                         "\n"
                         "Selection stopped.\n"
                         "\n";
  EXPECT_EQ(renderListing(doc), expected);
}

TEST(OutputListing, ShowVariablesHideColumnsAndOptColumnsMarkTheirColumn) {
  OutputDocument doc;
  auto t = std::make_unique<OutputNode>();
  t->kind = NodeKind::Table;
  t->name = "SelectionSummary";
  t->published = true;
  auto col = [](const char* name, ColumnType type, const char* show, int64_t on) {
    OutputColumn c = column(name, "", type, 0);
    if (show != nullptr)
      c.dynamics.emplace_back(show, OutputValue(on));
    return c;
  };
  t->columns = {
      col("Step", ColumnType::Int, nullptr, 0), col("AIC", ColumnType::Double, "showAIC", 1),
      col("OptAIC", ColumnType::Int, "showAIC", 1), col("SBC", ColumnType::Double, "showSBC", 0),
      col("OptSBC", ColumnType::Int, "showSBC", 0)};
  t->rows.push_back({int64_t{0}, 10.5, int64_t{0}, 3.0, int64_t{1}});
  t->rows.push_back({int64_t{1}, 9.25, int64_t{1}, 4.0, int64_t{0}});
  doc.nodes.push_back(std::move(t));
  // SBC and OptSBC are hidden; OptAIC turns into a '*' after the AIC of its row, and the
  // unmarked values keep a blank in its place so that the digits stay aligned.
  EXPECT_EQ(renderListing(doc), "SelectionSummary\n"
                                "\n"
                                "Step    AIC\n"
                                "   0  10.5\n"
                                "   1  9.25*\n"
                                "\n");
}

TEST(OutputListing, FactoidsAndGroupsAndHiddenTables) {
  OutputDocument doc;
  auto group = std::make_unique<OutputNode>();
  group->kind = NodeKind::Group;
  group->name = "G";
  auto factoid = std::make_unique<OutputNode>();
  factoid->kind = NodeKind::Factoid;
  factoid->name = "FitStatistics";
  factoid->label = "Fit Statistics";
  FactoidEntry rsq{"R-Square", 0.51234, {4, 6, ""}};
  FactoidEntry sse{"SSE", 1234.5, {98, 11, ""}};
  FactoidEntry p{"Pr > F", 0.00001, {-1, 0, "pvalue.4"}};
  factoid->entries = {rsq, sse, p};
  group->children.push_back(std::move(factoid));
  auto hidden = smallTable();
  hidden->hidden = true;
  group->children.push_back(std::move(hidden));
  doc.nodes.push_back(std::move(group));
  EXPECT_EQ(renderListing(doc), "Fit Statistics\n"
                                "\n"
                                "R-Square  0.5123\n"
                                "SSE       1234.5\n"
                                "Pr > F    <.0001\n"
                                "\n");
}

TEST(OutputJson, NodeShapeOfEveryKind) {
  OutputDocument doc;
  auto group = std::make_unique<OutputNode>();
  group->kind = NodeKind::Group;
  group->name = "SelectedModel";
  group->label = "Selected Model";
  group->children.push_back(smallTable());
  auto text = std::make_unique<OutputNode>();
  text->kind = NodeKind::Text;
  text->text = "note";
  group->children.push_back(std::move(text));
  doc.nodes.push_back(std::move(group));
  auto graph = std::make_unique<OutputNode>();
  graph->kind = NodeKind::Graph;
  graph->name = "ASEPlot";
  graph->templ = "Stat.VARSIFTER.Graphics.ASEPlot";
  graph->data = {"Summary"};
  graph->dynamics.emplace_back("_INTTICKS", std::string("TRUE"));
  graph->dynamics.emplace_back("_CHOSENVALUE", 2.25);
  doc.nodes.push_back(std::move(graph));
  const std::string json = renderJsonNodes(doc);
  const std::string expected =
      R"([{"kind":"group","name":"SelectedModel","label":"Selected Model","children":[)"
      R"({"kind":"table","name":"Summary","template":"Stat.VARSIFTER.SelectionSummary",)"
      R"("label":"Selection Summary","title":"Forward","title2":"","hidden":false,)"
      R"("dynamics":{"titleText":"Forward"},)"
      R"("columns":[{"name":"Step","label":"","type":"int","format":"12.","header":"Step"},)"
      R"({"name":"Effect","label":"Effect Entered","type":"char","format":"$10.",)"
      R"("header":"Effect Entered"},)"
      R"({"name":"Value","label":"","type":"double","format":"BEST12.","header":"Value"}],)"
      R"("rows":[[0,"Intercept",1.5],[12,"x",null]]},)"
      R"({"kind":"text","text":"note"}]},)"
      R"({"kind":"graph","name":"ASEPlot","template":"Stat.VARSIFTER.Graphics.ASEPlot",)"
      R"("data":["Summary"],"dynamics":{"_INTTICKS":"TRUE","_CHOSENVALUE":2.25},)"
      R"("vegaLite":{"$schema":)";
  EXPECT_EQ(json.substr(0, expected.size()), expected);
  EXPECT_EQ(json.substr(json.size() - 3), "}}]");
}

TEST(OutputJson, QuotingKeepsTheDocumentValid) {
  EXPECT_EQ(jsonQuote("a\"b\\c/d"), R"("a\"b\\c/d")");
  EXPECT_EQ(jsonQuote("l1\nl2\r\t\b\f"), R"("l1\nl2\r\t\b\f")");
  EXPECT_EQ(jsonQuote(std::string("x\x01y\x1f", 4)), R"("x\u0001y\u001f")");
  EXPECT_EQ(jsonQuote(std::string("nul\0z", 5)), R"("nul\u0000z")");
  EXPECT_EQ(jsonQuote("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");      // valid UTF-8 passes
  EXPECT_EQ(jsonQuote("caf\xE9"), R"("caf\u00e9")");               // a Latin-1 byte
  EXPECT_EQ(jsonQuote("end\xC3"), R"("end\u00c3")");               // cut sequence
  EXPECT_EQ(jsonQuote("\xC0\xAF"), R"("\u00c0\u00af")");           // overlong form
  EXPECT_EQ(jsonQuote("\xED\xA0\x80"), R"("\u00ed\u00a0\u0080")"); // surrogate
}

// The page takes a byte that starts no UTF-8 sequence as the character the JSON record gives
// it (U+0080 to U+00FF), written as a character reference so that the page is valid UTF-8;
// valid UTF-8 and the markup characters are kept or escaped as before.
TEST(OutputHtml, BytesThatAreNotUtf8AreTheJsonRecordsCharacters) {
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const std::string text(1, static_cast<char>(byte));
    char json[16], html[16];
    std::snprintf(json, sizeof json, "\"\\u%04x\"", static_cast<unsigned>(byte));
    std::snprintf(html, sizeof html, "&#x%02X;", static_cast<unsigned>(byte));
    EXPECT_EQ(jsonQuote(text), json) << byte;
    EXPECT_EQ(htmlEscape(text), html) << byte;
  }
  EXPECT_EQ(htmlEscape("caf\xE9 <b> & \"na\xC3\xAFve\""),
            "caf&#xE9; &lt;b&gt; &amp; &quot;na\xC3\xAFve&quot;");
  EXPECT_EQ(htmlEscape("end\xC3"), "end&#xC3;");               // cut sequence
  EXPECT_EQ(htmlEscape("\xED\xA0\x80"), "&#xED;&#xA0;&#x80;"); // surrogate
}

TEST(OutputJson, NumbersRoundTripAndSpecialValues) {
  EXPECT_EQ(jsonValue(0.1), "0.1");
  EXPECT_EQ(jsonValue(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(jsonValue(-2.0), "-2");
  EXPECT_EQ(jsonValue(1e300), "1e+300");
  EXPECT_EQ(jsonValue(int64_t{-9007199254740993}), "-9007199254740993");
  EXPECT_EQ(jsonValue(std::monostate{}), "null");
  EXPECT_EQ(jsonValue(std::numeric_limits<double>::quiet_NaN()), "null");
  EXPECT_EQ(jsonValue(std::numeric_limits<double>::infinity()), "\"Infinity\"");
  double back = std::strtod(jsonValue(0.1 + 0.2).c_str(), nullptr);
  EXPECT_EQ(back, 0.1 + 0.2);
}

TEST(OutputFormat, BestShowsTheMostDigitsThatFit) {
  // Expected texts worked out by hand: the most significant digits within 12 characters,
  // plain notation when it fits, trailing zeros dropped.
  EXPECT_EQ(formatBest(1.0 / 3.0), "0.3333333333");
  EXPECT_EQ(formatBest(2.0 / 3.0), "0.6666666667");
  EXPECT_EQ(formatBest(-1.0 / 3.0), "-0.333333333");
  EXPECT_EQ(formatBest(100.0), "100");
  EXPECT_EQ(formatBest(-0.0), "0");
  EXPECT_EQ(formatBest(0.1 + 0.2), "0.3");
  EXPECT_EQ(formatBest(12345678.9), "12345678.9");
  EXPECT_EQ(formatBest(123456789012.0), "123456789012");
  EXPECT_EQ(formatBest(123456789012345.0), "1.2345679E14");
  EXPECT_EQ(formatBest(0.00012345), "0.00012345");
  EXPECT_EQ(formatBest(0.000001234), "1.234E-6");
  EXPECT_EQ(formatBest(1e-7), "1E-7");
  EXPECT_EQ(formatBest(1e300), "1E300");
  EXPECT_EQ(formatBest(-1.5e-300), "-1.5E-300");
  EXPECT_EQ(formatBest(std::nan("")), ".");
  EXPECT_EQ(formatBest(123.456, 5), "123.5");
  EXPECT_EQ(formatBest(-123456.0, 4), "-1E5");
  EXPECT_EQ(formatBest(-123456.0, 3), "***");
}

TEST(OutputFormat, FixedCodesNamesAndColumnFormats) {
  EXPECT_EQ(formatFixed(0.81234, 4, 6), "0.8123");
  EXPECT_EQ(formatFixed(-0.0001, 2), "0.00");
  EXPECT_EQ(formatFixed(2.5, 0), "2");                  // round half to even
  EXPECT_EQ(formatFixed(123456.789, 4, 8), "123456.8"); // too wide: BEST of the width
  OutputFormat code4{4, 6, ""};
  EXPECT_EQ(formatValue(0.51236, code4), "0.5124");
  OutputFormat none;
  EXPECT_EQ(formatValue(int64_t{-42}, none), "-42");
  EXPECT_EQ(formatValue(std::monostate{}, none), ".");
  EXPECT_EQ(formatValue(std::string("txt"), code4), "txt");
  OutputFormat pvalue{-1, 0, "PVALUE6.4"};
  EXPECT_EQ(formatValue(0.00009, pvalue), "<.0001");
  EXPECT_EQ(formatValue(0.0123, pvalue), "0.0123");
  EXPECT_EQ(formatName(OutputFormat{}, ColumnType::Double), "BEST12.");
  EXPECT_EQ(formatName(OutputFormat{0, 0, ""}, ColumnType::Int), "12.");
  EXPECT_EQ(formatName(OutputFormat{4, 6, ""}, ColumnType::Double), "6.4");
  EXPECT_EQ(formatName(OutputFormat{98, 11, ""}, ColumnType::Double), "BEST11.");
  EXPECT_EQ(formatName(OutputFormat{-1, 0, "pvalue.3"}, ColumnType::Double), "pvalue.3");
}

// A candidate whose value could not be worked out is a missing value in the plot's data:
// its effect keeps its rank on the bar axis and is marked, as the table lists it.
TEST(GraphSpec, CandidatesWithoutAValueKeepTheirPlaceOnTheBarAxis) {
  auto table = std::make_unique<OutputNode>();
  table->kind = NodeKind::Table;
  table->name = "PlotCandidates";
  table->columns.push_back(column("Effect", "", ColumnType::Chars, 4));
  table->columns.push_back(column("Criterion", "", ColumnType::Double, 0));
  table->rows.push_back({std::string("BMI "), 1.0});
  table->rows.push_back({std::string("S5  "), 2.0});
  table->rows.push_back({std::string("AGE "), std::monostate{}});
  OutputNode graph;
  graph.kind = NodeKind::Graph;
  graph.name = "CandidatesPlot";
  graph.templ = "Stat.VARSIFTER.Graphics.CandidatesPlot";
  graph.sources = {table.get()};
  graph.dynamics.emplace_back("_BASELINE", 0.95);
  const std::string spec = vegaLiteSpec(graph);
  EXPECT_NE(spec.find(R"("domain":["BMI","S5","AGE"])"), std::string::npos) << spec;
  EXPECT_NE(spec.find(R"("name":"novalue")"), std::string::npos) << spec;
  EXPECT_NE(spec.find(R"({"Effect":"AGE","Criterion":null})"), std::string::npos) << spec;
}
