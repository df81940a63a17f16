// PRESS on nearly dependent designs, through qrx: raw powers of one variable whose cross
// products span dozens of orders of magnitude, with rows of leverage within rounding of 1 and
// a saturated design whose PRESS is 0. The PRESS of no selection, of FORWARD on the
// incremental cross products and of FORWARD SELECT=PRESS (each trial's PRESS), unweighted,
// weighted and with frequencies, alone and in BY groups, is the exact PRESS of the columns
// the fit takes (mpmath, tests/data/pressill from scripts/gen_press_ill_ref.py) within the
// error a computation from the cross products may carry, and one and eight threads agree to
// the last bit.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/pressill/";

// The exact PRESS and the relative error a computation in double may carry, by "data kind
// columns", columns the blank-separated names of those the fit takes.
struct Reference {
  double press = 0, tolerance = 0;
};
const std::map<std::string, Reference>& references() {
  static const std::map<std::string, Reference> refs = [] {
    std::map<std::string, Reference> r;
    const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "ref.csv"));
    for (size_t i = 1; i < rows.size(); ++i)
      r[rows[i][0] + " " + rows[i][1] + " " + rows[i][2]] = {std::stod(rows[i][3]),
                                                             std::stod(rows[i][4])};
    return r;
  }();
  return refs;
}

struct Data {
  std::string name;
  int columns;
};
const std::vector<Data> kData = {{"poly", 11}, {"saturated", 10}, {"nearsat", 11}};

// The statements of a fit of data set d of `kind` by `selection` on road `road` (a PERFORMANCE
// statement).
std::string program(const Data& d, const std::string& kind, const std::string& selection,
                    const std::string& road, const std::string& by) {
  std::string p = "proc varsifter data=";
  p += d.name;
  p += by.empty() ? "" : "by";
  p += ";\n";
  if (!by.empty()) {
    p += "  by g;\n";
  }
  if (kind != "plain")
    p += "  weight w;\n";
  if (kind == "freq")
    p += "  freq f;\n";
  p += "  model y = c1-c";
  p += std::to_string(d.columns);
  p += " / selection=";
  p += selection;
  p += " stats=press;\n  performance ";
  p += road;
  p += ";\nrun;\n";
  return p;
}

// Every node called `name` under `node` (tables and factoids alike), depth first.
void nodesNamed(const Value& node, const std::string& name, std::vector<const Value*>& out) {
  if (node.kind == Value::Array)
    for (const Value& item : node.items)
      nodesNamed(item, name, out);
  if (node.kind != Value::Object)
    return;
  if (node["name"].s == name && (node["kind"].s == "table" || node["kind"].s == "factoid"))
    out.push_back(&node);
  if (node.has("children"))
    nodesNamed(node["children"], name, out);
}

// The last node called `name` of BY group `group` of `groups`.
const Value* lastOfGroup(const Value& step, const std::string& name, int group, int groups) {
  std::vector<const Value*> all;
  nodesNamed(step["output"], name, all);
  const size_t each = all.size() / static_cast<size_t>(groups);
  return each == 0 ? nullptr : all[each * static_cast<size_t>(group + 1) - 1];
}

// The columns the selected fit of one BY group took (its parameters with DF, blank-separated)
// and its PRESS.
struct Shown {
  std::string taken;
  double press = 0;
};
Shown shown(const Value& step, int group, int groups) {
  Shown s;
  const Value* pe = lastOfGroup(step, "ParameterEstimates", group, groups);
  const Value* fs = lastOfGroup(step, "FitStatistics", group, groups);
  if (pe == nullptr || fs == nullptr) {
    ADD_FAILURE() << "no estimates or fit statistics";
    return s;
  }
  for (size_t r = 1; r < (*pe)["rows"].items.size(); ++r)
    if (qrxrun::number(*pe, r, "DF") > 0) {
      s.taken += s.taken.empty() ? "" : " ";
      s.taken += qrxrun::text(*pe, r, "Parameter");
    }
  for (const Value& e : (*fs)["entries"].items)
    if (e["label"].s == "PRESS")
      s.press = e["value"].n;
  return s;
}

void expectExact(const Shown& s, const std::string& key, const std::string& where) {
  const auto it = references().find(key);
  ASSERT_NE(it, references().end()) << where << ": no reference " << key;
  // A PRESS of 0 (every residual 0) comes out as rounding's leave-one-out residuals.
  const Reference& ref = it->second;
  EXPECT_NEAR(s.press, ref.press, ref.tolerance * ref.press + 1e-4) << where << " (" << key << ")";
}

} // namespace

TEST(PressIllConditioned, EveryRoadGivesTheExactPress) {
  // Selections and roads, each on one thread and then on eight.
  const std::vector<std::pair<std::string, std::string>> roads = {
      {"none", "nothreads"},
      {"none", "threads cpucount=8"},
      {"forward(select=sl stop=none)", "nothreads buildsscp=incremental"},
      {"forward(select=sl stop=none)", "threads cpucount=8 buildsscp=incremental"},
      {"forward(select=press stop=none)", "nothreads"},
      {"forward(select=press stop=none)", "threads cpucount=8"}};
  std::string text;
  std::vector<std::pair<std::string, std::string>> files;
  for (const Data& d : kData)
    files.emplace_back(d.name + ".csv", qrxrun::readFile(kDir + d.name + ".csv"));
  // The BY data: poly as group 1, nearsat as group 2.
  std::string by = "g,";
  by += qrxrun::readFile(kDir + "poly.csv");
  by = by.substr(0, by.find('\n') + 1);
  for (const char* g : {"1", "2"}) {
    const std::string body = qrxrun::readFile(kDir + (g[0] == '1' ? "poly.csv" : "nearsat.csv"));
    for (size_t at = body.find('\n') + 1; at < body.size();) {
      const size_t end = body.find('\n', at);
      by += g;
      by += ",";
      by += body.substr(at, end - at + 1);
      at = end + 1;
    }
  }
  files.emplace_back("polyby.csv", by);
  struct Fit {
    std::string key, where;
    int groups;
  };
  std::vector<Fit> fits;
  for (const std::string kind : {"plain", "weight", "freq"})
    for (const auto& [selection, road] : roads) {
      for (const Data& d : kData) {
        text += program(d, kind, selection, road, "");
        fits.push_back(
            {d.name + " " + kind, d.name + " " + kind + " " + selection + " " + road, 1});
      }
      text += program(kData[0], kind, selection, road, "g");
      fits.push_back(
          {qrxrun::concat("by ", kind), qrxrun::concat("BY ", kind, " ", selection, " ", road), 2});
    }
  const qrxrun::ProgramRun run = qrxrun::runProgram(text, "pressill", files);
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), fits.size()) << run.log;
  for (size_t i = 0; i < fits.size(); ++i) {
    const Value& step = run.json["steps"][i];
    for (int g = 0; g < fits[i].groups; ++g) {
      const Shown s = shown(step, g, fits[i].groups);
      const std::string kind = fits[i].key.substr(fits[i].key.find(' '));
      const std::string data = fits[i].groups == 1 ? fits[i].key.substr(0, fits[i].key.find(' '))
                                                   : (g == 0 ? "poly" : "nearsat");
      expectExact(s, data + kind + " " + s.taken, fits[i].where);
    }
  }
  // One and eight threads: the same PRESS to the last bit, road by road.
  const size_t perRoad = kData.size() + 1;
  for (size_t k = 0; k < 3; ++k)
    for (size_t r = 0; r < roads.size(); r += 2)
      for (size_t d = 0; d < perRoad; ++d) {
        const size_t one = (k * roads.size() + r) * perRoad + d;
        const size_t eight = one + perRoad;
        for (int g = 0; g < fits[one].groups; ++g)
          EXPECT_EQ(shown(run.json["steps"][one], g, fits[one].groups).press,
                    shown(run.json["steps"][eight], g, fits[eight].groups).press)
              << fits[one].where << " against " << fits[eight].where;
      }
}

TEST(PressIllConditioned, LeveragesKeepTheirDigitsPastTheCrossProducts) {
  // Columns whose condition squared passes what X'X holds in double (tests/data/pressill
  // steep from scripts/gen_press_rows_ref.py): no selection and FORWARD, alone and as one of
  // two BY groups, on one thread and on eight; the same PRESS to the last bit on both.
  std::map<std::string, Reference> refs;
  const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "steep_ref.csv"));
  for (size_t i = 1; i < rows.size(); ++i)
    refs[rows[i][0]] = {std::stod(rows[i][1]), std::stod(rows[i][2])};
  const std::string data = qrxrun::readFile(kDir + "steep.csv");
  std::string by = "g,";
  by += data.substr(0, data.find('\n') + 1);
  for (const char* g : {"1", "2"})
    for (size_t at = data.find('\n') + 1; at < data.size();) {
      const size_t end = data.find('\n', at);
      by += g;
      by += ",";
      by += data.substr(at, end - at + 1);
      at = end + 1;
    }
  std::string text;
  for (const char* selection : {"none", "forward(select=sl stop=none)"})
    for (const char* road : {"nothreads", "threads cpucount=8"})
      for (const bool grouped : {false, true}) {
        text +=
            grouped ? "proc varsifter data=steepby;\n  by g;\n" : "proc varsifter data=steep;\n";
        text += "  weight w;\n  model y = c1-c11 / selection=";
        text += selection;
        text += " stats=press;\n  performance ";
        text += road;
        text += ";\nrun;\n";
      }
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(text, "pressrows", {{"steep.csv", data}, {"steepby.csv", by}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 8U) << run.log;
  for (size_t i = 0; i < 8; ++i) {
    const int groups = i % 2 == 0 ? 1 : 2;
    for (int g = 0; g < groups; ++g) {
      const Shown s = shown(run.json["steps"][i], g, groups);
      const auto it = refs.find(s.taken);
      ASSERT_NE(it, refs.end()) << "fit " << i << ": no reference for " << s.taken;
      EXPECT_NEAR(s.press, it->second.press, it->second.tolerance * it->second.press)
          << "fit " << i << " group " << g;
      if (i % 4 >= 2) {
        EXPECT_EQ(s.press, shown(run.json["steps"][i - 2], g, groups).press) << "fit " << i;
      }
    }
  }
}

TEST(PressIllConditioned, ManyLevelRoadKeepsTheLeveragesOfRowsNearItsSpan) {
  // A column within 1e-5 of the span of a CLASS effect of 136 levels, which BACKWARD's
  // structured road serves, and rows of weight 1e-6 whose leverages lie within 1e-6 of 1: the
  // full model's PRESS (step 0's) is the exact one (mpmath, tests/data/manylevelpress from
  // scripts/gen_manylevel_press_ref.py).
  const std::string dir = std::string(QRX_TEST_DATA) + "/manylevelpress/";
  const auto ref = qrxrun::csvRows(qrxrun::readFile(dir + "ref.csv"));
  const std::string text = "proc varsifter data=d;\n  class m1 / param=effect;\n"
                           "  effect p1 = polynomial(v1 / degree=2);\n  weight w;\n"
                           "  model y = z x1 x2 x3 x4 m1 p1 / selection=backward(select=cp)"
                           " details=all stats=press;\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(text, "manylevelpress", {{"d.csv", qrxrun::readFile(dir + "d.csv")}});
  ASSERT_EQ(run.status, 0) << run.log;
  std::vector<const Value*> fits;
  nodesNamed(run.json["steps"][0]["output"], "FitStatistics", fits);
  ASSERT_FALSE(fits.empty()) << run.log;
  double press = 0;
  for (const Value& e : (*fits[0])["entries"].items)
    if (e["label"].s == "PRESS")
      press = e["value"].n;
  const double exact = std::stod(ref[1][0]);
  EXPECT_NEAR(press, exact, 1e-8 * exact);
}
