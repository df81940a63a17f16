// Running a program through the built qrx runner for end-to-end tests: the program and its
// data files go into a fresh WORK directory, the run's JSON record is parsed, and files the
// run wrote (output data sets) can be read back before the directory is removed.
#pragma once

#include "host/minijson.h"
#include "msgid.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <vector>

namespace qrxrun {

using minijson::Value;

// Joins the pieces by appending them one after another: GCC 12's optimiser takes
// "text" + std::string for an overlapping copy (-Wrestrict).
template <class... Pieces> std::string concat(const Pieces&... pieces) {
  std::string s;
  ((s += pieces), ...);
  return s;
}

// Appends a step on data set `data` with the statements `body` and an OUTPUT data set of its
// predictions, named o<N> after the outputs already listed, and lists that output's file.
inline void addOutputStep(std::string& program, std::vector<std::string>& outputs,
                          const std::string& data, const std::string& body) {
  const std::string out = concat("o", std::to_string(outputs.size()));
  program +=
      concat("proc varsifter data=", data, ";\n", body, "  output out=", out, " p=p;\nrun;\n");
  outputs.push_back(out + ".csv");
}

struct ProgramRun {
  int status = -1; // the runner's exit status
  std::string log; // standard output and error
  Value json;
  std::map<std::string, std::string> files; // the files asked for, as the run left them
};

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Runs a shell command, appending its output to *log; its exit status, -1 when it did not
// exit normally.
inline int runCommand(const std::string& cmd, std::string* log) {
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr)
    return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    log->append(buf, n);
  const int st = ::pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Runs program in a WORK directory holding files; readBack names WORK files to keep; the
// runner starts in directory cwd when one is given. With test switches `hooks`, or
// QRX_TEST_HOOKS set in the environment, the run takes qrx_hooked, the runner that sets the
// module's test switches; switches given here leave the environment alone, so that runs on
// other threads may take other switches.
inline ProgramRun runProgram(const std::string& program, const std::string& tag,
                             const std::vector<std::pair<std::string, std::string>>& files,
                             const std::vector<std::string>& readBack = {},
                             const std::string& cwd = "", const std::string& hooks = "") {
  namespace fs = std::filesystem;
  ProgramRun r;
  const fs::path work = fs::temp_directory_path() /
                        ("qrx_" + tag + "_" + std::to_string(static_cast<long>(::getpid())));
  fs::remove_all(work);
  fs::create_directories(work);
  for (const auto& [name, text] : files)
    std::ofstream(work / name, std::ios::binary) << text;
  std::ofstream(work / "program.qrx") << program;
  const fs::path json = work / "run.json";
  const bool hooked = !hooks.empty() || std::getenv("QRX_TEST_HOOKS") != nullptr;
  const char* runner = hooked ? QRX_HOOKED_BINARY : QRX_BINARY;
  const std::string cmd = (cwd.empty() ? std::string() : "cd '" + cwd + "' && ") +
                          (hooks.empty() ? std::string() : "QRX_TEST_HOOKS='" + hooks + "' ") +
                          "ASAN_OPTIONS=detect_leaks=0 '" + runner + "' --work '" + work.string() +
                          "' --json '" + json.string() + "' '" + (work / "program.qrx").string() +
                          "' 2>&1";
  r.status = runCommand(cmd, &r.log);
  std::string error;
  EXPECT_TRUE(minijson::Parser(readFile(json)).parse(&r.json, &error)) << error << "\n" << r.log;
  for (const std::string& name : readBack)
    if (fs::exists(work / name))
      r.files[name] = readFile(work / name);
  fs::remove_all(work);
  return r;
}

// Every node of a run's output as one text, numbers in full: two outputs are the same when
// Compares two outputs node by node: texts equal, numbers within `tolerance` relative.
inline void expectClose(const Value& a, const Value& b, double tolerance,
                        const std::string& where) {
  ASSERT_EQ(a.kind, b.kind) << where;
  switch (a.kind) {
  case Value::String:
    EXPECT_EQ(a.s, b.s) << where;
    break;
  case Value::Number:
    EXPECT_NEAR(a.n, b.n, tolerance * std::max(1.0, std::fabs(a.n))) << where;
    break;
  case Value::Array:
    ASSERT_EQ(a.items.size(), b.items.size()) << where;
    for (size_t i = 0; i < a.items.size(); ++i)
      expectClose(a.items[i], b.items[i], tolerance, where + "/" + std::to_string(i));
    break;
  case Value::Object:
    ASSERT_EQ(a.members.size(), b.members.size()) << where;
    for (const auto& [key, value] : a.members)
      expectClose(value, b[key], tolerance, where + "/" + key);
    break;
  default:
    break;
  }
}

// their texts are.
inline std::string dumpOutput(const Value& v) {
  std::string s;
  switch (v.kind) {
  case Value::String:
    return v.s;
  case Value::Number: {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v.n);
    return buf;
  }
  case Value::Array:
    for (const auto& item : v.items)
      s += dumpOutput(item) + ",";
    return "[" + s + "]";
  case Value::Object:
    for (const auto& [key, value] : v.members)
      s += key + ":" + dumpOutput(value) + ";";
    return "{" + s + "}";
  default:
    return "null";
  }
}

// The first place where two outputs differ beyond rounding (empty when none): the same
// nodes and texts, numbers within `relative` (1e-9) of each other relative to their size or
// within `absolute` (1e-8).
inline std::string firstDifference(const Value& a, const Value& b, const std::string& at,
                                   double relative = 1e-9, double absolute = 1e-8) {
  if (a.kind != b.kind)
    return at + ": kinds";
  switch (a.kind) {
  case Value::Number:
    return std::fabs(a.n - b.n) <= relative * (std::fabs(a.n) + std::fabs(b.n)) + absolute
               ? ""
               : at + ": " + dumpOutput(a) + " vs " + dumpOutput(b);
  case Value::Array:
    if (a.items.size() != b.items.size())
      return at + ": lengths";
    for (size_t i = 0; i < a.items.size(); ++i)
      if (std::string d = firstDifference(a.items[i], b.items[i], at + "/" + std::to_string(i),
                                          relative, absolute);
          !d.empty())
        return d;
    return "";
  case Value::Object:
    if (a.members.size() != b.members.size())
      return at + ": members";
    for (const auto& [key, value] : a.members)
      if (std::string d = firstDifference(value, b[key], at + "." + key, relative, absolute);
          !d.empty())
        return d;
    return "";
  default:
    return dumpOutput(a) == dumpOutput(b) ? "" : at;
  }
}

inline void collectTables(const Value& node, const std::string& name,
                          std::vector<const Value*>& out) {
  if (node.kind == Value::Array) {
    for (const auto& item : node.items)
      collectTables(item, name, out);
    return;
  }
  if (node.kind != Value::Object)
    return;
  if ((node["kind"].s == "table" || node["kind"].s == "factoid") && node["name"].s == name)
    out.push_back(&node);
  if (node.has("children"))
    collectTables(node["children"], name, out);
}

// The first node of any kind (table, group, graph) with this name, in output order; null when
// there is none.
inline const Value* nodeNamed(const Value& node, const std::string& name) {
  if (node.kind == Value::Array) {
    for (const auto& item : node.items)
      if (const Value* n = nodeNamed(item, name))
        return n;
    return nullptr;
  }
  if (node.kind != Value::Object)
    return nullptr;
  if (node.has("name") && node["name"].s == name)
    return &node;
  return node.has("children") ? nodeNamed(node["children"], name) : nullptr;
}

// The tables (or factoids) of the first step with this name, in output order.
inline std::vector<const Value*> tablesOf(const ProgramRun& r, const std::string& name) {
  std::vector<const Value*> out;
  if (r.json.has("steps") && !r.json["steps"].items.empty())
    collectTables(r.json["steps"][0]["output"], name, out);
  return out;
}

// The displayed tables of this name: a graph's own data table of the same name has no label.
inline std::vector<const Value*> shownTables(const ProgramRun& r, const std::string& name) {
  std::vector<const Value*> out;
  for (const Value* t : tablesOf(r, name))
    if (!(*t)["label"].s.empty())
      out.push_back(t);
  return out;
}

inline int col(const Value& t, const std::string& name) {
  for (size_t i = 0; i < t["columns"].items.size(); ++i)
    if (t["columns"][i]["name"].s == name)
      return static_cast<int>(i);
  return -1;
}

// The first log record of message m in the run's first step, or null.
inline const Value* logEntry(const ProgramRun& r, MsgId m) {
  if (!r.json.has("steps") || r.json["steps"].items.empty())
    return nullptr;
  for (const Value& l : r.json["steps"][0]["log"].items)
    if (l.has("number") && m.is(static_cast<int>(l["set"].n), static_cast<int>(l["number"].n)))
      return &l;
  return nullptr;
}

inline bool logged(const ProgramRun& r, MsgId m) { return logEntry(r, m) != nullptr; }

// The first table called `name` under `node`, depth first; tables of BY groups follow each
// other, so `skip` passes over that many earlier ones.
inline const Value* findTable(const Value& node, const std::string& name, int* skip) {
  if (node.kind == Value::Array) {
    for (const auto& item : node.items)
      if (const Value* t = findTable(item, name, skip))
        return t;
    return nullptr;
  }
  if (node.kind != Value::Object)
    return nullptr;
  if (node["kind"].s == "table" && node["name"].s == name && (*skip)-- == 0)
    return &node;
  return node.has("children") ? findTable(node["children"], name, skip) : nullptr;
}

inline const Value* findTable(const Value& node, const std::string& name, int skip = 0) {
  return findTable(node, name, &skip);
}

// Every run's selection summary, ANOVA and estimates are those of the first run, to the bit.
inline void expectSameSelectedTables(const std::vector<ProgramRun>& runs) {
  for (const char* name : {"SelectionSummary", "ANOVA", "ParameterEstimates"}) {
    const Value* one = findTable(runs[0].json["steps"][0]["output"], name);
    ASSERT_NE(one, nullptr) << name;
    for (size_t i = 1; i < runs.size(); ++i) {
      const Value* other = findTable(runs[i].json["steps"][0]["output"], name);
      ASSERT_NE(other, nullptr) << name;
      EXPECT_EQ(dumpOutput(*one), dumpOutput(*other)) << name << " " << i;
    }
  }
}

inline const Value* cell(const Value& t, size_t row, const std::string& name) {
  const int k = col(t, name);
  if (k < 0 || row >= t["rows"].items.size())
    return nullptr;
  return &t["rows"][row][static_cast<size_t>(k)];
}

// A numeric cell by column name; NaN when it is missing or not a number.
inline double number(const Value& t, size_t row, const std::string& name) {
  const Value* v = cell(t, row, name);
  return v != nullptr && v->kind == Value::Number ? v->n : std::nan("");
}

inline std::string text(const Value& t, size_t row, const std::string& name) {
  const Value* v = cell(t, row, name);
  return v != nullptr ? v->s : std::string();
}

// The numbers of a spline S1's columns that a ParameterEstimates table holds with 1 DF
// ("1 2 3 ..."), and in *modelDf the count of every such parameter but the intercept.
inline std::string takenSplineColumns(const Value& estimates, double* modelDf) {
  std::string taken;
  *modelDf = 0;
  for (size_t i = 0; i < estimates["rows"].items.size(); ++i) {
    if (number(estimates, i, "DF") != 1)
      continue;
    const std::string name = text(estimates, i, "Parameter");
    *modelDf += name == "Intercept" ? 0 : 1;
    if (name.rfind("S1", 0) != 0)
      continue;
    if (!taken.empty())
      taken += ' ';
    taken += name.substr(name.find_last_of(' ') + 1);
  }
  return taken;
}

// The first `rows` rows of a ParameterEstimates table against a reference's "estimate NAME"
// and "stderr NAME" entries: each estimate within estimateTol of its standard error, each
// standard error within stderrTol of itself.
inline void expectNamedEstimates(const Value& estimates, size_t rows,
                                 const std::map<std::string, std::string>& want, double estimateTol,
                                 double stderrTol) {
  for (size_t row = 0; row < rows; ++row) {
    const std::string name = text(estimates, row, "Parameter");
    ASSERT_TRUE(want.count("estimate " + name)) << name;
    const double b = std::stod(want.at("estimate " + name));
    const double se = std::stod(want.at("stderr " + name));
    EXPECT_NEAR(number(estimates, row, "Estimate"), b, estimateTol * se) << name;
    EXPECT_NEAR(number(estimates, row, "StdErr"), se, stderrTol * se) << name;
  }
}

// How many log records of a step carry message m.
inline int messageCount(const Value& step, MsgId m) {
  int n = 0;
  for (const auto& rec : step["log"].items)
    if (rec.has("set") && m.is(rec["set"].n, rec["number"].n))
      ++n;
  return n;
}

using Run = ProgramRun;

// runProgram from the source directory, with the data files given by name.
inline Run run(const std::string& program, const std::string& tag,
               const std::map<std::string, std::string>& files = {}) {
  return runProgram(program, tag, {files.begin(), files.end()}, {}, QRX_SOURCE_DIR);
}

// The position of a column in a CSV header, names compared without regard to case; a test
// failure and 0 when there is none.
inline int headerColumn(const std::vector<std::string>& header, const std::string& name) {
  auto upper = [](std::string s) {
    for (char& ch : s)
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
  };
  for (size_t i = 0; i < header.size(); ++i)
    if (upper(header[i]) == upper(name))
      return static_cast<int>(i);
  ADD_FAILURE() << "no column " << name;
  return 0;
}

// A CSV text as rows of fields (no quoting: the runner writes none for these data).
using ::csvRows;

// A selected model's table against the same table of the step it names: the same rows and
// columns, every number the same to `tolerance` of itself, a missing one missing too.
inline void expectSameNumbers(const Value& selected, const Value& step, double tolerance = 1e-9) {
  ASSERT_EQ(selected["rows"].items.size(), step["rows"].items.size());
  for (size_t r = 0; r < step["rows"].items.size(); ++r)
    for (const Value& c : step["columns"].items) {
      const double a = number(selected, r, c["name"].s);
      const double b = number(step, r, c["name"].s);
      EXPECT_EQ(std::isnan(a), std::isnan(b)) << c["name"].s << " row " << r;
      if (!std::isnan(b)) {
        EXPECT_NEAR(a, b, tolerance * std::fabs(b)) << c["name"].s << " row " << r;
      }
    }
}

// The selected model's ANOVA and parameter estimates in a run's output, each checked against
// the same table of the step `stepName` (expectSameNumbers); nulls, after a test failure, when
// a node or table is missing.
struct SelectedTables {
  const Value* anova = nullptr;
  const Value* estimates = nullptr;
};
inline SelectedTables expectSelectedIsStep(const Value& output, const std::string& stepName,
                                           double tolerance = 1e-9) {
  const Value* selected = nodeNamed(output, "SelectedModel");
  const Value* step = nodeNamed(output, stepName);
  if (selected == nullptr || step == nullptr) {
    ADD_FAILURE() << "no selected model or no " << stepName;
    return {};
  }
  SelectedTables tables{findTable(*selected, "ANOVA"), findTable(*selected, "ParameterEstimates")};
  const Value* stepAnova = findTable(*step, "ANOVA");
  const Value* stepEstimates = findTable(*step, "ParameterEstimates");
  if (!tables.anova || !tables.estimates || !stepAnova || !stepEstimates) {
    ADD_FAILURE() << "a missing ANOVA or ParameterEstimates table";
    return {};
  }
  expectSameNumbers(*tables.anova, *stepAnova, tolerance);
  expectSameNumbers(*tables.estimates, *stepEstimates, tolerance);
  return tables;
}

// The error SS of the predictions p of y in an OUTPUT data set's text, each row weighted by
// column `weight` when one is named.
inline double predictedSse(const std::string& text, const std::string& weight = "") {
  const auto rows = csvRows(text);
  const int y = headerColumn(rows[0], "y"), p = headerColumn(rows[0], "p");
  const int w = weight.empty() ? -1 : headerColumn(rows[0], weight);
  double sse = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    const double e = std::stod(rows[i][y]) - std::stod(rows[i][p]);
    sse += (w >= 0 ? std::stod(rows[i][w]) : 1.0) * e * e;
  }
  return sse;
}

// A numeric CSV file without its header line, as rows of numbers.
inline std::vector<std::vector<double>> csvNumbers(const std::filesystem::path& path) {
  return readNumberRows(path.string());
}

} // namespace qrxrun
