// Vega-Lite charts of the graph templates. Each graph's tables go into the
// chart's named data sets (a view's rows only); every drawing is a layer of unit
// charts whose marks carry names (curve, optimum, chosen, coefficients, labels,
// criterion, pvaladd, pvaldrop, candidates, bars; units of a panel add their number, since
// equal names would be merged) so that a reader of the page can find them. Column
// names given by dynamic variables are matched without regard to case.
#include "host/output/vegachart.h"

#include "host/output/jsonnodes.h"
#include "host/output/rvqoutput.h"
#include "host/output/tableview.h"

#include <algorithm>
#include <cmath>
#include <strings.h>

namespace qrxhost {
namespace {

const char kSchema[] = "https://vega.github.io/schema/vega-lite/v5.json";
constexpr int kWidth = 320, kHeight = 210;

bool sameName(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

const OutputValue* dyn(const OutputNode& g, const std::string& name) {
  for (const auto& [n, v] : g.dynamics)
    if (sameName(n, name))
      return &v;
  return nullptr;
}

std::string dynText(const OutputNode& g, const std::string& name) {
  const OutputValue* v = dyn(g, name);
  if (v == nullptr)
    return "";
  if (const auto* s = std::get_if<std::string>(v))
    return *s;
  if (std::holds_alternative<std::monostate>(*v))
    return "";
  return jsonValue(*v);
}

double dynNumber(const OutputNode& g, const std::string& name, double otherwise) {
  const OutputValue* v = dyn(g, name);
  if (v == nullptr)
    return otherwise;
  if (const auto* i = std::get_if<int64_t>(v))
    return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(v))
    return *d;
  return otherwise;
}

std::string trimmed(const std::string& s) {
  size_t e = s.find_last_not_of(' ');
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// A cell as JSON data: texts without their blank fill, numbers that are not finite (and
// the largest doubles, the host's infinities) as null.
std::string cellJson(const OutputValue& v) {
  if (const auto* s = std::get_if<std::string>(&v))
    return jsonQuote(trimmed(*s));
  if (const auto* d = std::get_if<double>(&v))
    if (!std::isfinite(*d) || std::fabs(*d) >= 1.7976931348623157e308)
      return "null";
  return jsonValue(v);
}

// The table's column named `name` without regard to case (its own spelling), or "".
std::string column(const OutputNode* table, const std::string& name) {
  if (table == nullptr || name.empty())
    return "";
  for (const OutputColumn& c : table->columns)
    if (sameName(c.name, name))
      return c.name;
  return "";
}

// The worded header of a table's column, as the table shows it ("Validation ASE" for
// ValidationASE); the name itself for a column the table does not have.
std::string header(const OutputNode* table, const std::string& name) {
  if (table != nullptr)
    for (const OutputColumn& c : table->columns)
      if (sameName(c.name, name))
        return columnHeader(*table, c);
  return name;
}

// True when the table's column holds whole numbers (counts: effects, steps, trials).
bool integerColumn(const OutputNode* table, const std::string& name) {
  if (table != nullptr)
    for (const OutputColumn& c : table->columns)
      if (sameName(c.name, name))
        return c.type == ColumnType::Int || c.type == ColumnType::Int64;
  return false;
}

// A text as a JavaScript string literal in single quotes (for Vega expressions).
std::string jsString(const std::string& text) {
  std::string out = "'";
  for (char c : text)
    out += c == '\\' || c == '\'' ? std::string("\\") + c : std::string(1, c);
  return out + "'";
}

std::vector<size_t> shownRows(const OutputNode& table, const std::string& where) {
  std::vector<size_t> all(table.rows.size());
  for (size_t i = 0; i < all.size(); ++i)
    all[i] = i;
  if (where.empty())
    return all;
  auto kept = viewRowIndices(table, where);
  return kept ? *kept : all;
}

std::string rowsJson(const OutputNode& table, const std::string& where) {
  std::string out = "[";
  bool firstRow = true;
  for (size_t r : shownRows(table, where)) {
    out += firstRow ? "{" : ",{";
    firstRow = false;
    const auto& row = table.rows[r];
    for (size_t c = 0; c < table.columns.size() && c < row.size(); ++c)
      out +=
          std::string(c > 0 ? "," : "") + jsonQuote(table.columns[c].name) + ":" + cellJson(row[c]);
    out += "}";
  }
  return out + "]";
}

// True when some row of the table has a value in column `col` (a layer of a column without
// values would leave its scale without an extent).
bool anyValue(const OutputNode* table, const std::string& col) {
  if (table == nullptr || col.empty())
    return false;
  for (size_t c = 0; c < table->columns.size(); ++c)
    if (table->columns[c].name == col)
      for (const auto& row : table->rows)
        if (c < row.size() && cellJson(row[c]) != "null")
          return true;
  return false;
}

// One value of a table's first shown row, as JSON.
std::string firstValue(const OutputNode* table, const std::string& name) {
  std::string col = column(table, name);
  if (col.empty() || table->rows.empty())
    return "null";
  for (size_t c = 0; c < table->columns.size(); ++c)
    if (table->columns[c].name == col && c < table->rows[0].size())
      return cellJson(table->rows[0][c]);
  return "null";
}

// The x axis of a step-based graph.
struct Axis {
  std::string field;
  bool ordinal = false;
  std::string title;
  std::string domain; // JSON list of the ordinal labels in step order
  bool integer = false;
};

Axis stepAxis(const OutputNode& g, const OutputNode* table) {
  Axis a;
  std::string kind = dynText(g, "_STEPAXIS");
  a.title = dynText(g, "_STEPAXISLABEL");
  a.integer = sameName(dynText(g, "_INTTICKS"), "TRUE");
  if (sameName(kind, "STEPLABEL")) {
    a.field = column(table, "StepLabel");
    a.ordinal = !a.field.empty();
  } else if (sameName(kind, "NORMBETA")) {
    a.field = column(table, "NormBeta");
  } else if (!kind.empty() && !sameName(kind, "STEP")) {
    a.field = column(table, kind);
  }
  if (a.field.empty())
    a.field = column(table, "Step").empty() ? "Step" : column(table, "Step");
  if (a.ordinal) {
    // The labels of the shown steps only: a step range keeps the others off the axis.
    std::vector<std::string> seen;
    size_t c = 0;
    while (table->columns[c].name != a.field)
      ++c;
    for (size_t r : shownRows(*table, g.viewWhere)) {
      const auto& row = table->rows[r];
      std::string label = c < row.size() ? cellJson(row[c]) : "null";
      if (std::find(seen.begin(), seen.end(), label) == seen.end())
        seen.push_back(label);
    }
    a.domain = "[";
    for (size_t i = 0; i < seen.size(); ++i)
      a.domain += std::string(i > 0 ? "," : "") + seen[i];
    a.domain += "]";
  }
  return a;
}

// Ticks at whole numbers only, for an axis of counts.
// (A short axis may still place a tick between two numbers; it goes without a label.)
const char kIntegerAxis[] = "\"axis\":{\"tickMinStep\":1,\"format\":\"d\",\"labelExpr\":"
                            "\"datum.value % 1 ? '' : datum.label\"}";

std::string xEncoding(const Axis& a) {
  std::string out = "\"x\":{\"field\":" + jsonQuote(a.field) + ",\"type\":\"" +
                    (a.ordinal ? "ordinal" : "quantitative") + "\",\"title\":" + jsonQuote(a.title);
  if (a.ordinal)
    out += ",\"scale\":{\"domain\":" + a.domain + "},\"axis\":{\"labelAngle\":-45}";
  else if (a.integer)
    out += std::string(",") + kIntegerAxis;
  return out + "}";
}

std::string yEncoding(const std::string& field, const std::string& title, bool integer = false) {
  return "\"y\":{\"field\":" + jsonQuote(field) +
         ",\"type\":\"quantitative\",\"title\":" + jsonQuote(title) +
         ",\"scale\":{\"zero\":false}" + (integer ? std::string(",") + kIntegerAxis : "") + "}";
}

std::string tooltip(const OutputNode& g, const Axis& a, const std::string& y) {
  if (dynText(g, "_STEPTIP").empty())
    return "";
  return ",\"tooltip\":[{\"field\":" + jsonQuote(a.field) +
         ",\"title\":\"Step\"},{\"field\":" + jsonQuote(y) + ",\"type\":\"quantitative\"}]";
}

// Data sets of one chart, all named at its top (inline values in several layers
// are not kept apart by the compiler, named sets are).
using DataSets = std::vector<std::pair<std::string, std::string>>;

std::string addSet(DataSets& sets, const std::string& values) {
  std::string name = "d" + std::to_string(sets.size());
  sets.emplace_back(name, values);
  return name;
}

// The rule at the chosen step, when the graph has a chosen value.
std::string chosenLayer(const OutputNode& g, const Axis& a, DataSets& sets,
                        const std::string& suffix = "") {
  const OutputValue* v = dyn(g, "_CHOSENVALUE");
  if (v == nullptr || std::holds_alternative<std::monostate>(*v))
    return "";
  std::string set = addSet(sets, "[{" + jsonQuote(a.field) + ":" + cellJson(*v) + "}]");
  return ",{\"name\":\"chosen" + suffix + "\",\"data\":{\"name\":" + jsonQuote(set) +
         "},\"mark\":{\"type\":\"rule\",\"strokeDash\":[6,4],\"color\":\"#555\"}," +
         "\"encoding\":{" + xEncoding(a) + "}}";
}

std::string curveLayer(const OutputNode& g, const std::string& data, const Axis& a,
                       const std::string& y, const std::string& title,
                       const std::string& suffix = "") {
  return "{\"name\":\"curve" + suffix + "\",\"data\":{\"name\":" + jsonQuote(data) +
         "},\"mark\":{\"type\":\"line\",\"point\":true},\"encoding\":{" + xEncoding(a) + "," +
         yEncoding(y, title) + tooltip(g, a, y) + "}}";
}

// A unit plot of one criterion: its curve, the optimum and the chosen-step rule.
std::string criterionUnit(const OutputNode& g, const OutputNode* summary, const OutputNode* best,
                          const std::string& criterion, std::string title,
                          const std::string& optStep, const std::string& optVal, DataSets& sets,
                          const std::string& suffix) {
  Axis a = stepAxis(g, summary);
  std::string y = column(summary, criterion);
  if (y.empty())
    y = criterion;
  if (title.empty())
    title = header(summary, y);
  std::string out = "{\"width\":" + std::to_string(kWidth) +
                    ",\"height\":" + std::to_string(kHeight) + ",\"layer\":[" +
                    curveLayer(g, "summary", a, y, title, suffix);
  std::string ox = firstValue(best, optStep), oy = firstValue(best, optVal);
  if (ox != "null" && oy != "null")
    out += ",{\"name\":\"optimum" + suffix + "\",\"data\":{\"name\":" +
           jsonQuote(addSet(sets, "[{" + jsonQuote(a.field) + ":" + ox + "," + jsonQuote(y) + ":" +
                                      oy + "}]")) +
           "},\"mark\":{\"type\":\"point\",\"shape\":\"diamond\"," +
           "\"filled\":true,\"size\":120,\"color\":\"#c0392b\"},\"encoding\":{" + xEncoding(a) +
           "," + yEncoding(y, title) + "}}";
  return out + chosenLayer(g, a, sets, suffix) + "]}";
}

// Ends a chart whose text lacks its closing brace with its data sets.
std::string withSets(const std::string& spec, const DataSets& sets) {
  std::string out = spec + ",\"datasets\":{";
  for (size_t i = 0; i < sets.size(); ++i)
    out += std::string(i > 0 ? "," : "") + jsonQuote(sets[i].first) + ":" + sets[i].second;
  return out + "}}";
}

std::string top(const OutputNode& g) {
  return "{\"$schema\":" + jsonQuote(kSchema) +
         ",\"title\":" + jsonQuote(g.label.empty() ? g.name : g.label);
}

bool ends(const std::string& templ, const char* name) {
  std::string full = std::string("Stat.VARSIFTER.Graphics.") + name;
  return sameName(templ, full);
}

// The start of a chart titled `title`, with the graph's label as its subtitle.
std::string topTitled(const OutputNode& g, const std::string& title) {
  return "{\"$schema\":" + jsonQuote(kSchema) + ",\"title\":{\"text\":" + jsonQuote(title) +
         (g.label.empty() ? "" : ",\"subtitle\":" + jsonQuote(g.label)) + "}";
}

const OutputNode* source(const OutputNode& g, size_t i) {
  return i < g.sources.size() ? g.sources[i] : nullptr;
}

// The summary and the optimal-step data of a criterion graph: with a view the view (on the
// summary) comes after the data list.
void criterionSources(const OutputNode& g, const OutputNode** summary, const OutputNode** best) {
  *summary = *best = nullptr;
  for (const OutputNode* t : g.sources) {
    if (t != nullptr && sameName(t->name, "BestStep"))
      *best = t;
    else if (t != nullptr)
      *summary = t;
  }
}

std::string criterionSpec(const OutputNode& g, bool panel) {
  const OutputNode *summary, *best;
  criterionSources(g, &summary, &best);
  std::string rows = summary != nullptr ? rowsJson(*summary, g.viewWhere) : "[]";
  DataSets sets{{"summary", rows}};
  std::string out = top(g);
  if (!panel) {
    std::string unit =
        criterionUnit(g, summary, best, dynText(g, "_CRITERION"), dynText(g, "_SHORTYLABEL"),
                      dynText(g, "_OPTSTEP"), dynText(g, "_OPTVAL"), sets, "");
    return withSets(out + "," + unit.substr(1, unit.size() - 2), sets);
  }
  int columns = static_cast<int>(dynNumber(g, "_NCOLS", 2));
  out += ",\"columns\":" + std::to_string(std::max(columns, 1)) + ",\"concat\":[";
  for (int i = 1;; ++i) {
    std::string k = std::to_string(i);
    if (dyn(g, "_CRITERION" + k) == nullptr)
      break;
    out += std::string(i > 1 ? "," : "") +
           criterionUnit(g, summary, best, dynText(g, "_CRITERION" + k), dynText(g, "_LABEL" + k),
                         dynText(g, "_OPTSTEP" + k), dynText(g, "_OPTVAL" + k), sets, k);
  }
  return withSets(out + "]", sets);
}

std::string aseSpec(const OutputNode& g) {
  const OutputNode* summary = source(g, 0);
  Axis a = stepAxis(g, summary);
  // The ASE columns folded into one curve each, named by their headers in the legend.
  std::string fold = "[", worded = "datum.Data";
  for (const char* name : {"ASE", "ValidationASE", "TestASE"}) {
    const std::string col = column(summary, name);
    if (col.empty())
      continue;
    fold += std::string(fold.size() > 1 ? "," : "") + jsonQuote(col);
    worded =
        "datum.Data === " + jsString(col) + " ? " + jsString(header(summary, col)) + " : " + worded;
  }
  fold += "]";
  std::string rows = summary != nullptr ? rowsJson(*summary, g.viewWhere) : "[]";
  DataSets sets{{"summary", rows}};
  return withSets(
      top(g) + ",\"width\":" + std::to_string(kWidth) + ",\"height\":" + std::to_string(kHeight) +
          ",\"layer\":[{\"name\":\"curve\",\"data\":{\"name\":\"summary\"},\"transform\":[{"
          "\"fold\":" +
          fold + ",\"as\":[\"Data\",\"ASEValue\"]},{\"calculate\":" + jsonQuote(worded) +
          ",\"as\":\"Data\"}],\"mark\":{\"type\":\"line\",\"point\":true}," + "\"encoding\":{" +
          xEncoding(a) + "," + yEncoding("ASEValue", "Average Squared Error") +
          ",\"color\":{\"field\":\"Data\",\"type\":\"nominal\",\"title\":null}}}" +
          chosenLayer(g, a, sets) + "]",
      sets);
}

// The number of curves (distinct parameters) of the shown coefficient rows, and how many
// of them carry an end label.
std::pair<size_t, size_t> curveCounts(const OutputNode& coef, const std::string& where,
                                      const std::string& parm, const std::string& rhs) {
  size_t p = coef.columns.size(), h = coef.columns.size();
  for (size_t c = 0; c < coef.columns.size(); ++c) {
    p = coef.columns[c].name == parm ? c : p;
    h = coef.columns[c].name == rhs ? c : h;
  }
  std::vector<std::string> curves, labelled;
  for (size_t r : shownRows(coef, where)) {
    const auto& row = coef.rows[r];
    if (p >= row.size())
      continue;
    const std::string key = cellJson(row[p]);
    if (std::find(curves.begin(), curves.end(), key) == curves.end())
      curves.push_back(key);
    if (h < row.size() && cellJson(row[h]) != "null" &&
        std::find(labelled.begin(), labelled.end(), key) == labelled.end())
      labelled.push_back(key);
  }
  return {curves.size(), labelled.size()};
}

// The colour encoding of the coefficient curves. Up to ten curves that all carry their end
// label need no key; more curves, or a curve whose label was dropped, get a legend that
// names every parameter, and colours that do not repeat: the twenty of the tableau scheme,
// or past twenty one hue per curve (hues a golden angle apart, lightness alternating).
std::string curveColour(const OutputNode* coef, const std::string& where, const std::string& parm,
                        const std::string& color) {
  const auto [curves, labelled] =
      coef != nullptr && !parm.empty()
          ? curveCounts(*coef, where, parm, column(coef, "RhsLabelYValue"))
          : std::pair<size_t, size_t>{0, 0};
  if (curves <= 10 && labelled == curves)
    return ",\"color\":{\"field\":" + jsonQuote(color) + ",\"type\":\"nominal\",\"legend\":null}";
  std::string scale = "{\"scheme\":\"tableau20\"}";
  if (curves > 20) {
    scale = "{\"range\":[";
    for (size_t i = 0; i < curves; ++i)
      scale +=
          std::string(i > 0 ? "," : "") + "\"hsl(" +
          std::to_string(static_cast<int>(std::fmod(137.508 * static_cast<double>(i), 360.0))) +
          ",65%," + (i % 2 == 0 ? "40%" : "58%") + ")\"";
    scale += "]}";
  }
  return ",\"color\":{\"field\":" + jsonQuote(color) + ",\"type\":\"nominal\",\"scale\":" + scale +
         ",\"legend\":{\"title\":" + jsonQuote(header(coef, parm)) +
         ",\"symbolType\":\"stroke\",\"symbolLimit\":0,\"labelLimit\":160,\"columns\":" +
         std::to_string((curves + 15) / 16) + "}}";
}

// The upper plot of the coefficient progression: one curve per parameter, labels at the
// right end of the curves whose label is kept; hovering over a curve names its parameter.
std::string coefficientsUnit(const OutputNode& g, const OutputNode* coef, const Axis& a,
                             DataSets& sets) {
  std::string curve = column(coef, "CurveNumber");
  std::string parm = column(coef, "Parameter");
  std::string color = parm.empty() ? curve : parm;
  const std::string colour = curveColour(coef, g.viewWhere, parm, color);
  std::string out =
      "{\"width\":" + std::to_string(kWidth + 80) + ",\"height\":" + std::to_string(kHeight + 40) +
      ",\"layer\":[{\"name\":\"coefficients\",\"data\":{\"name\":\"coef\"},"
      "\"mark\":{\"type\":\"line\"},\"encoding\":{" +
      xEncoding(a) + "," + yEncoding(column(coef, "StandardizedEst"), "Standardized Coefficient") +
      colour + ",\"detail\":{\"field\":" + jsonQuote(curve) + ",\"type\":\"nominal\"}" +
      (parm.empty() ? ""
                    : ",\"tooltip\":[{\"field\":" + jsonQuote(parm) +
                          ",\"title\":" + jsonQuote(header(coef, parm)) + "}]") +
      "}}";
  std::string rhs = column(coef, "RhsLabelYValue");
  if (!parm.empty() && !rhs.empty())
    out += ",{\"name\":\"labels\",\"data\":{\"name\":\"coef\"},\"transform\":[{\"filter\":"
           "\"isValid(datum." +
           rhs +
           ")\"}],\"mark\":{\"type\":\"text\",\"align\":\"left\",\"dx\":4,\"fontSize\":10},"
           "\"encoding\":{" +
           xEncoding(a) + "," + yEncoding(rhs, "Standardized Coefficient") +
           ",\"text\":{\"field\":" + jsonQuote(parm) + "}" + colour + "}}";
  return out + chosenLayer(g, a, sets, "_coef") + "]}";
}

// The lower plot: the choosing criterion, or the entry and removal p-values as needles.
std::string criterionProgressUnit(const OutputNode& g, const OutputNode* coef, const Axis& a,
                                  DataSets& sets) {
  std::string out = "{\"width\":" + std::to_string(kWidth + 80) +
                    ",\"height\":" + std::to_string(kHeight - 60) + ",\"layer\":[";
  if (dynNumber(g, "_SHOWPVAL", 0) != 0 ||
      sameName(g.templ, "Stat.VARSIFTER.Graphics.PValuePlot")) {
    double base = dynNumber(g, "_BASELINE", 0);
    std::string label = dynText(g, "_PVALLABEL");
    bool firstNeedle = true;
    for (const char* which : {"_PVALADDVAR", "_PVALDROPVAR"}) {
      std::string field = column(coef, dynText(g, which));
      if (!anyValue(coef, field))
        continue;
      out += std::string(firstNeedle ? "" : ",") + "{\"name\":\"" +
             (std::string(which) == "_PVALADDVAR" ? "pvaladd" : "pvaldrop") +
             "\",\"data\":{\"name\":\"coef\"},\"transform\":[{\"filter\":"
             "\"isValid(datum." +
             field + ")\"}],\"mark\":{\"type\":\"rule\",\"strokeWidth\":2,\"color\":\"" +
             (std::string(which) == "_PVALADDVAR" ? "#1f77b4" : "#d62728") + "\"},\"encoding\":{" +
             xEncoding(a) + "," + yEncoding(field, label) +
             ",\"y2\":{\"datum\":" + jsonValue(OutputValue(base)) + "}}}";
      firstNeedle = false;
    }
    if (firstNeedle)
      out += "{\"mark\":\"point\",\"data\":{\"values\":[]}}";
  } else {
    std::string field = column(coef, dynText(g, "_CRITERION"));
    std::string title = dynText(g, "_SHORTCRITERIONLABEL");
    if (title.empty())
      title = header(coef, field.empty() ? dynText(g, "_CRITERION") : field);
    out += "{\"name\":\"criterion\",\"data\":{\"name\":\"coef\"},\"transform\":[{\"filter\":"
           "\"isValid(datum." +
           (field.empty() ? std::string("Step") : field) +
           ")\"}],\"mark\":{\"type\":\"line\",\"point\":true},\"encoding\":{" + xEncoding(a) + "," +
           yEncoding(field.empty() ? "Step" : field, title) + "}}";
  }
  return out + chosenLayer(g, a, sets, "_lower") + "]}";
}

std::string coefficientSpec(const OutputNode& g) {
  const OutputNode* coef = source(g, 0);
  Axis a = stepAxis(g, coef);
  std::string rows = coef != nullptr ? rowsJson(*coef, g.viewWhere) : "[]";
  DataSets sets{{"coef", rows}};
  std::string out = top(g);
  const std::string& t = g.templ;
  auto inner = [](const std::string& unit) { return unit.substr(1, unit.size() - 2); };
  if (sameName(t, "Stat.VARSIFTER.Graphics.CoefficientPlot"))
    return withSets(out + "," + inner(coefficientsUnit(g, coef, a, sets)), sets);
  if (sameName(t, "Stat.VARSIFTER.Graphics.CoefficientPanel")) {
    std::string upper = coefficientsUnit(g, coef, a, sets);
    std::string lower = criterionProgressUnit(g, coef, a, sets);
    return withSets(out + ",\"vconcat\":[" + upper + "," + lower + "]", sets);
  }
  return withSets(out + "," + inner(criterionProgressUnit(g, coef, a, sets)), sets);
}

// The effects of a candidates table in row order, as a JSON list (the bar axis keeps every
// candidate, also one without a value, at its rank).
std::string effectDomain(const OutputNode* table, const std::string& effect) {
  std::string out = "[";
  if (table != nullptr)
    for (size_t c = 0; c < table->columns.size(); ++c)
      if (table->columns[c].name == effect)
        for (size_t r = 0; r < table->rows.size(); ++r)
          out += std::string(r > 0 ? "," : "") +
                 (c < table->rows[r].size() ? cellJson(table->rows[r][c]) : std::string("null"));
  return out + "]";
}

std::string candidatesSpec(const OutputNode& g) {
  const OutputNode* table = source(g, 0);
  std::string effect = column(table, "Effect");
  if (effect.empty())
    effect = "Effect";
  std::string rows = table != nullptr ? rowsJson(*table, g.viewWhere) : "[]";
  std::string base = jsonValue(OutputValue(dynNumber(g, "_BASELINE", 0)));
  std::string yAxis = "\"y\":{\"field\":" + jsonQuote(effect) +
                      ",\"type\":\"nominal\",\"sort\":null,\"title\":null,\"scale\":{"
                      "\"domain\":" +
                      effectDomain(table, effect) + "}}";
  std::string out = top(g) + ",\"width\":" + std::to_string(kWidth) + ",\"layer\":[";
  // Bars for the value columns that hold a value (a layer without one would leave its
  // scale without an extent).
  std::vector<std::string> columns, fields;
  for (const char* name : {"Criterion", "CriterionDrop"})
    if (!column(table, name).empty())
      columns.push_back(column(table, name));
  for (const std::string& c : columns)
    if (anyValue(table, c))
      fields.push_back(c);
  // Entry candidates are blue, removal candidates red; when a step weighs both (competitive
  // stepwise), a legend says which is which.
  const bool both = dynNumber(g, "_ADDANDDROP", 0) != 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const bool drop = sameName(fields[i], "CriterionDrop");
    const std::string kind = both ? std::string(",{\"calculate\":\"") +
                                        (drop ? "'Removal'" : "'Entry'") +
                                        "\",\"as\":\"CandidateKind\"}"
                                  : "";
    const std::string colour =
        both ? ",\"color\":{\"field\":\"CandidateKind\",\"type\":\"nominal\",\"scale\":{"
               "\"domain\":[\"Entry\",\"Removal\"],\"range\":[\"#1f77b4\",\"#d62728\"]},"
               "\"legend\":{\"title\":" +
                   jsonQuote(header(table, "CandidateFor")) + "}}"
             : "";
    out += std::string(i > 0 ? "," : "") + "{\"name\":\"" +
           std::string(drop ? "candidatesdrop" : "candidates") +
           "\",\"data\":{\"name\":\"candidates\"},\"transform\":[{"
           "\"filter\":\"isValid(datum." +
           fields[i] + ")\"}" + kind + "],\"mark\":{\"type\":\"bar\",\"color\":\"" +
           (drop ? "#d62728" : "#1f77b4") + "\"},\"encoding\":{" + yAxis + colour +
           ",\"x\":{\"field\":" + jsonQuote(fields[i]) +
           ",\"type\":\"quantitative\",\"title\":" + jsonQuote(dynText(g, "_SHORTCRITERIONLABEL")) +
           ",\"scale\":{\"zero\":false}},\"x2\":{\"datum\":" + base + "}}}";
  }
  if (columns.empty()) {
    out += "{\"mark\":\"bar\",\"data\":{\"values\":[]}}";
  } else {
    // Candidates without a value, as the table shows them: a missing-value mark at the
    // baseline.
    std::string none;
    for (const std::string& f : columns)
      none += (none.empty() ? "" : " && ") + std::string("!isValid(datum.") + f + ")";
    out += std::string(fields.empty() ? "" : ",") +
           "{\"name\":\"novalue\",\"data\":{\"name\":\"candidates\"},\"transform\":[{"
           "\"filter\":" +
           jsonQuote(none) +
           "}],\"mark\":{\"type\":\"text\",\"align\":\"left\",\"dx\":4,\"text\":\".\"},"
           "\"encoding\":{" +
           yAxis + ",\"x\":{\"datum\":" + base + ",\"type\":\"quantitative\"}}}";
  }
  return withSets(out + "]", {{"candidates", rows}});
}

// A number of a cell or a dynamic variable; NaN for a text or no value.
double numberOf(const OutputValue& v) {
  if (const auto* i = std::get_if<int64_t>(&v))
    return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&v))
    return *d;
  return std::nan("");
}

// The shown rows whose axis value is the chosen value, as a data set of the axis and the
// criterion ("[]" without a chosen value).
std::string chosenRows(const OutputNode& g, const OutputNode* table, const Axis& a,
                       const std::string& y) {
  const OutputValue* v = dyn(g, "_CHOSENVALUE");
  if (v == nullptr || table == nullptr)
    return "[]";
  const double chosen = numberOf(*v);
  size_t xc = table->columns.size(), yc = table->columns.size();
  for (size_t c = 0; c < table->columns.size(); ++c) {
    xc = table->columns[c].name == a.field ? c : xc;
    yc = table->columns[c].name == y ? c : yc;
  }
  std::string out = "[";
  for (size_t r : shownRows(*table, g.viewWhere)) {
    const auto& row = table->rows[r];
    if (xc >= row.size() || yc >= row.size())
      continue;
    const double x = numberOf(row[xc]);
    if (!(std::fabs(x - chosen) <= 1e-12 * std::max(1.0, std::fabs(chosen))) ||
        cellJson(row[yc]) == "null")
      continue;
    out += (out.size() > 1 ? ",{" : "{") + jsonQuote(a.field) + ":" + cellJson(row[xc]) + "," +
           jsonQuote(y) + ":" + cellJson(row[yc]) + "}";
  }
  return out + "]";
}

// The graph's criterion against its own axis column (the elastic-net search and the
// external cross validation): the line, a point per row (an L2 tried, a grid point), the
// rows at the chosen value marked and the rule there.
std::string tuningSpec(const OutputNode& g) {
  const OutputNode* table = source(g, 0);
  Axis a = stepAxis(g, table);
  a.integer = integerColumn(table, a.field);
  std::string y = column(table, dynText(g, "_CRITERION"));
  if (y.empty())
    y = dynText(g, "_CRITERION");
  const std::string title = dynText(g, "_SHORTYLABEL");
  std::string rows = table != nullptr ? rowsJson(*table, g.viewWhere) : "[]";
  DataSets sets{{"tuning", rows}};
  const std::string enc =
      "\"encoding\":{" + xEncoding(a) + "," + yEncoding(y, title, integerColumn(table, y)) + "}}";
  std::string layers = "{\"name\":\"curve\",\"data\":{\"name\":\"tuning\"},\"mark\":\"line\"," +
                       enc + ",{\"name\":\"trials\",\"data\":{\"name\":\"tuning\"},\"mark\":{" +
                       "\"type\":\"point\",\"filled\":true,\"size\":30}," + enc;
  std::string chosen = chosenRows(g, table, a, y);
  if (chosen != "[]")
    layers += ",{\"name\":\"optimum\",\"data\":{\"name\":" + jsonQuote(addSet(sets, chosen)) +
              "},\"mark\":{\"type\":\"point\",\"shape\":\"diamond\",\"filled\":true,\"size\":"
              "120,\"color\":\"#c0392b\"}," +
              enc;
  // The elastic-net graphs share one label (the choosing criterion's selected step): each is
  // titled by what it plots against what, with that label below.
  std::string head = top(g);
  if (ends(g.templ, "ElasticNetL2TuningPlot") && !dynText(g, "_YLABEL").empty())
    head = topTitled(g, dynText(g, "_YLABEL") + " by " + a.title);
  return withSets(head + ",\"width\":" + std::to_string(kWidth) +
                      ",\"height\":" + std::to_string(kHeight) + ",\"layer\":[" + layers +
                      chosenLayer(g, a, sets) + "]",
                  sets);
}

// Bars of the first numeric column by the first text column (the selection percentages).
std::string barsSpec(const OutputNode& g) {
  const OutputNode* table = source(g, 0);
  std::string label, value;
  if (table != nullptr)
    for (const OutputColumn& c : table->columns) {
      bool text = c.type == ColumnType::Chars || c.type == ColumnType::Text;
      if (text && label.empty())
        label = c.name;
      else if (!text && c.type != ColumnType::Char1 && value.empty() && !label.empty())
        value = c.name;
    }
  std::string rows = table != nullptr ? rowsJson(*table, g.viewWhere) : "[]";
  return withSets(
      top(g) + ",\"width\":" + std::to_string(kWidth) +
          ",\"layer\":[{\"name\":\"bars\",\"data\":{\"name\":\"bars\"},\"mark\":\"bar\","
          "\"encoding\":{\"y\":{\"field\":" +
          jsonQuote(label.empty() ? "Effect" : label) +
          ",\"type\":\"nominal\",\"sort\":null,\"title\":null},\"x\":{\"field\":" +
          jsonQuote(value.empty() ? "Percent" : value) +
          ",\"type\":\"quantitative\",\"title\":" + jsonQuote(header(table, value)) + "}}}]",
      {{"bars", rows}});
}

// The distribution of one parameter's estimates over the resamples: a histogram ("hist"
// followed by the plot's number), with a box plot ("box" and the number) above it unless only
// histograms are asked for. The numbers keep the names of a panel's plots apart.
std::string distributionUnit(const std::string& field, const std::string& title, bool box,
                             int number) {
  const std::string k = std::to_string(number);
  std::string hist = "{\"name\":\"hist" + k +
                     "\",\"data\":{\"name\":\"coeffs\"},\"width\":220,"
                     "\"height\":140,\"mark\":\"bar\",\"encoding\":{\"x\":{\"field\":" +
                     jsonQuote(field) + ",\"bin\":true,\"title\":" + jsonQuote(title) +
                     "},\"y\":{\"aggregate\":\"count\",\"title\":\"Count\"," + kIntegerAxis + "}}}";
  if (!box)
    return hist;
  // The box plot and the histogram share one x scale (the histogram's bins), so that the
  // box sits over the bars it summarizes.
  return "{\"vconcat\":[{\"name\":\"box" + k +
         "\",\"data\":{\"name\":\"coeffs\"},\"width\":220,\"height\":30,\"mark\":"
         "{\"type\":\"boxplot\",\"extent\":\"min-max\"},\"encoding\":{\"x\":{\"field\":" +
         jsonQuote(field) +
         ",\"type\":\"quantitative\",\"title\":null,\"scale\":{\"zero\":false}}}}," + hist +
         "],\"resolve\":{\"scale\":{\"x\":\"shared\"}}}";
}

std::string distributionSpec(const OutputNode& g, bool panel, bool box) {
  const OutputNode* table = source(g, 0);
  std::string rows = table != nullptr ? rowsJson(*table, g.viewWhere) : "[]";
  DataSets sets{{"coeffs", rows}};
  std::string out = top(g);
  if (!panel) {
    std::string field = column(table, dynText(g, "_INDEPVAR"));
    std::string unit = distributionUnit(field, dynText(g, "_INDEPLABEL"), box, 1);
    return withSets(out + "," + unit.substr(1, unit.size() - 2), sets);
  }
  int columns = static_cast<int>(dynNumber(g, "_NCOLUMNS", 3));
  out += ",\"columns\":" + std::to_string(std::max(columns, 1)) + ",\"concat\":[";
  for (int i = 1;; ++i) {
    std::string k = std::to_string(i);
    if (dyn(g, "_XVAR" + k) == nullptr)
      break;
    out += std::string(i > 1 ? "," : "") + distributionUnit(column(table, dynText(g, "_XVAR" + k)),
                                                            dynText(g, "_XLABEL" + k), box, i);
  }
  return withSets(out + "]", sets);
}

} // namespace

std::string vegaLiteSpec(const OutputNode& g) {
  const std::string& t = g.templ;
  if (ends(t, "CriterionPanel"))
    return criterionSpec(g, true);
  if (ends(t, "CriterionPlot"))
    return criterionSpec(g, false);
  if (ends(t, "ASEPlot"))
    return aseSpec(g);
  if (ends(t, "CoefficientPanel") || ends(t, "CoefficientPlot") || ends(t, "ChooseCriterionPlot") ||
      ends(t, "PValuePlot"))
    return coefficientSpec(g);
  if (ends(t, "CandidatesPlot"))
    return candidatesSpec(g);
  if (ends(t, "ElasticNetL2TuningPlot") || ends(t, "CVEXTERNAL"))
    return tuningSpec(g);
  if (ends(t, "EffectSelectPctPlot"))
    return barsSpec(g);
  if (ends(t, "ParmDistribution") || ends(t, "ParmHistogram") || ends(t, "ParmDistributionPanel") ||
      ends(t, "ParmHistogramPanel"))
    return distributionSpec(g, ends(t, "ParmDistributionPanel") || ends(t, "ParmHistogramPanel"),
                            ends(t, "ParmDistribution") || ends(t, "ParmDistributionPanel"));
  // A template this host does not know: its name, drawn as text.
  return top(g) + ",\"data\":{\"values\":[{\"t\":" + jsonQuote("No drawing for " + t) +
         "}]},\"mark\":\"text\",\"encoding\":{\"text\":{\"field\":\"t\"}}}";
}

} // namespace qrxhost
