// The item store of the sibling module: the selected model of every group as JSON (the
// label and BY variables, the response, CLASS variables with their levels and codings,
// numeric variables, effects, parameters with their estimates, each group's BY values and
// error variance), enough to rebuild the predictions. Declared in host/modules/auxmodel.h.
#include "host/modules/auxmodel.h"

#include "host/data/outfile.h"
#include "host/runner/jsonout.h"

#include <algorithm>
#include <vector>

namespace qrxhost::aux {
namespace {

std::string classJson(const PostFitClass& c) {
  std::string out = "{\"name\": " + jsonString(c.name) +
                    ", \"type\": " + jsonString(c.numeric ? "numeric" : "character") +
                    ", \"coding\": " + jsonString(c.coding) +
                    ", \"missingIsLevel\": " + (c.missingIsLevel ? "true" : "false") +
                    ", \"levelWidth\": " + std::to_string(c.levelWidth) +
                    ", \"levels\": " + nameList(c.levels, nullptr, c.levelCount);
  out += ", \"reference\": " + (c.reference >= 0 ? jsonString(c.levels[c.reference]) : "null");
  if (c.codingColumns > 0) {
    out += ", \"codingRows\": [";
    for (int32_t i = 0; i < c.levelCount; ++i) {
      out += i ? ", [" : "[";
      for (int32_t k = 0; k < c.codingColumns; ++k)
        out += (k ? ", " : "") + jsonNumber(c.codingRows[i * c.codingColumns + k]);
      out += "]";
    }
    out += "]";
  }
  return out + "}";
}

std::string effectJson(const PostFitModel& m, const PostFitEffect& e) {
  std::string out = "{\"name\": " + jsonString(e.name) +
                    ", \"classes\": " + classNameList(m, e.classes, e.classCount) +
                    ", \"continuous\": " + nameList(m.numerics, e.continuous, e.continuousCount) +
                    ", \"constructed\": [";
  for (int32_t k = 0; k < e.constructedCount; ++k)
    out += (k ? ", " : "") + jsonString(m.constructed[e.constructed[k]].name);
  out += "], \"columns\": " + std::to_string(e.columnCount) +
         ", \"selected\": " + (e.guard ? "false" : "true") + "}";
  return out;
}

// What makes a constructed effect's values: its variables, and the knots of a spline or the
// standardisation and terms of a polynomial.
std::string constructedJson(const PostFitModel& m, const PostFitConstructed& c) {
  std::string out = "{\"name\": " + jsonString(c.name) +
                    ", \"kind\": " + jsonString(kindName(c.kind)) + ", \"variables\": [";
  for (int32_t k = 0; k < c.numericCount; ++k)
    out += (k ? ", " : "") + jsonString(m.numerics[c.numerics[k]]);
  for (int32_t k = 0; k < c.classCount; ++k)
    out += (k || c.numericCount ? ", " : "") + jsonString(m.classes[c.classes[k]].name);
  out += "], \"columns\": " + std::to_string(c.columnCount) +
         ", \"firstValue\": " + std::to_string(c.offset);
  if (c.kind == PFK_SPLINE && c.knots != nullptr) {
    out += ", \"basis\": " + jsonString(c.basis == PFB_BSPLINE ? "BSPLINE" : "TPF") +
           ", \"degree\": " + std::to_string(c.degree) +
           ", \"natural\": " + (c.natural ? "true" : "false") + ", \"knots\": [";
    for (int32_t k = 0; k < c.numericCount; ++k)
      out += (k ? ", " : "") + numberList(c.knots[k], c.knotCounts[k], false);
    out += "]";
  }
  if (c.kind == PFK_POLYNOMIAL && c.centers != nullptr) {
    out += ", \"degree\": " + std::to_string(c.degree) +
           ", \"centers\": " + numberList(c.centers, c.numericCount, false) +
           ", \"scales\": " + numberList(c.scales, c.numericCount, false) + ", \"terms\": [";
    for (int32_t t = 0; t < c.termCount; ++t) {
      out += t ? ", [" : "[";
      for (int32_t k = c.termStarts[t]; k < c.termStarts[t + 1]; ++k)
        out += (k > c.termStarts[t] ? ", " : "") +
               jsonString(m.numerics[c.numerics[c.termVariables[k]]]);
      out += "]";
    }
    out += "]";
  }
  return out + "}";
}

// The covariance's rows [first, first + count) into `rows` (count rows of P values), tile by
// tile of kStoreTile columns: the elements above the diagonal lie down a column of the packed
// triangle, and a tile's rows read each cache line of it once where reading a whole row at a
// time would miss on every element of a large model.
constexpr int32_t kStoreTile = 64;
void covarianceRows(const PostFitModel& m, const HandedStatistics& handed, int32_t first,
                    int32_t count, std::vector<double>& rows) {
  const int32_t P = m.parameterCount;
  auto at = [&](int64_t i, int64_t j) {
    return i >= j ? handed.triangle[size_t(i * (i + 1) / 2 + j)]
                  : handed.triangle[size_t(j * (j + 1) / 2 + i)];
  };
  for (int32_t j0 = 0; j0 < P; j0 += kStoreTile) {
    const int32_t j1 = std::min(P, j0 + kStoreTile);
    for (int32_t r = 0; r < count; ++r) {
      const int64_t a = m.parameters[first + r].reducedColumn;
      double* row = rows.data() + size_t(r) * size_t(P);
      for (int32_t j = j0; j < j1; ++j) {
        const int64_t b = m.parameters[j].reducedColumn;
        row[j] = a >= 0 && b >= 0 ? handed.errorVariance * at(a, b) : 0.0;
      }
    }
  }
}

// Appends the covariance of the estimates, parameter by parameter: the error variance
// times the block of the swept triangle (a missing error variance gives nulls). Its numbers
// go straight into `out`, reserved for the longest number each, so that the text of a large
// model is held once.
void appendCovariance(std::string& out, const PostFitModel& m, const HandedStatistics& handed) {
  const int64_t N = m.reducedColumnCount;
  if (handed.triangle.size() != size_t((N + 1) * (N + 2) / 2))
    return;
  const size_t P = size_t(std::max(m.parameterCount, 0));
  out.reserve(out.size() + P * P * 26 + P * 10 + 64);
  out += ",\n     \"covariance\": [";
  std::vector<double> rows(size_t(kStoreTile) * P);
  for (int32_t first = 0; first < m.parameterCount; first += kStoreTile) {
    const int32_t count = std::min(kStoreTile, m.parameterCount - first);
    covarianceRows(m, handed, first, count, rows);
    for (int32_t r = 0; r < count; ++r) {
      out += first + r ? ",\n       [" : "\n       [";
      for (size_t j = 0; j < P; ++j) {
        if (j)
          out += ", ";
        appendJsonNumber(out, rows[size_t(r) * P + j]);
      }
      out += "]";
    }
  }
  out += "]";
}

} // namespace

std::string storeGroupJson(const PostFitModel& m, const HandedStatistics& handed) {
  std::string out = "    {\"byGroup\": " + std::to_string(m.byIndex) + ", \"byValues\": [";
  for (int32_t b = 0; b < m.byCount; ++b)
    out +=
        (b ? ", " : "") + (m.byNumeric[b] ? jsonNumber(m.byNumbers[b]) : jsonString(m.byTexts[b]));
  out += "],\n     \"errorVariance\": " + jsonNumber(handed.errorVariance) +
         ", \"errorDF\": " + jsonNumber(handed.errorDf) + ",\n     \"classes\": [";
  for (int32_t i = 0; i < m.classCount; ++i)
    out += std::string(i ? ",\n       " : "\n       ") + classJson(m.classes[i]);
  out += "],\n     \"numerics\": " + nameList(m.numerics, nullptr, m.numericCount) +
         ",\n     \"constructed\": [";
  for (int32_t i = 0; i < m.constructedCount; ++i)
    out += std::string(i ? ",\n       " : "\n       ") + constructedJson(m, m.constructed[i]);
  out += "],\n     \"effects\": [";
  for (int32_t i = 0; i < m.effectCount; ++i)
    out += std::string(i ? ",\n       " : "\n       ") + effectJson(m, m.effects[i]);
  out += "],\n     \"parameters\": [";
  for (int32_t i = 0; i < m.parameterCount; ++i) {
    const PostFitParameter& p = m.parameters[i];
    out += std::string(i ? ",\n       " : "\n       ") + "{\"name\": " + jsonString(p.name) +
           ", \"effect\": " + jsonString(m.effects[p.effect].name) +
           ", \"column\": " + std::to_string(p.column) +
           ", \"estimate\": " + jsonNumber(p.estimate) + "}";
  }
  out += "]";
  appendCovariance(out, m, handed);
  out += "}";
  return out;
}

void writeStoreDocument(OutFile& file, const std::vector<std::string>& groups,
                        const PostFitModel& m, const std::string& label) {
  std::string out =
      "{\"itemStore\": \"VARSIFTER selected model\", \"version\": 1,\n"
      " \"label\": " +
      (label.empty() ? "null" : jsonString(label)) + ",\n \"response\": " + jsonString(m.response) +
      ", \"intercept\": " + (m.noIntercept ? "false" : "true") + ",\n \"byVariables\": [";
  for (int32_t b = 0; b < m.byCount; ++b)
    out += std::string(b ? ", " : "") + "{\"name\": " + jsonString(m.byNames[b]) +
           ", \"type\": " + (m.byNumeric[b] ? "\"numeric\"" : "\"character\"") + "}";
  out += "],\n \"groups\": [\n";
  file << out;
  for (size_t i = 0; i < groups.size(); ++i)
    file << groups[i] << (i + 1 < groups.size() ? ",\n" : "\n");
  file << " ]}\n";
}

const char* kindName(int32_t kind) {
  static const char* const names[] = {"",       "MULTIMEMBER", "COLLECTION",
                                      "SPLINE", "POLYNOMIAL",  "LAG"};
  return kind >= 1 && kind <= 5 ? names[kind] : "";
}

std::string nameList(const char* const* all, const int32_t* indexes, int32_t count) {
  std::string out = "[";
  for (int32_t i = 0; i < count; ++i)
    out += (i ? ", " : "") + jsonString(all[indexes != nullptr ? indexes[i] : i]);
  return out + "]";
}

std::string classNameList(const PostFitModel& m, const int32_t* indexes, int32_t count) {
  std::string out = "[";
  for (int32_t i = 0; i < count; ++i)
    out += (i ? ", " : "") + jsonString(m.classes[indexes[i]].name);
  return out + "]";
}

std::string numberList(const double* values, int32_t count, bool python) {
  std::string out = "[";
  for (int32_t i = 0; i < count; ++i) {
    const std::string text = jsonNumber(values[i]);
    out += (i ? ", " : "") + (python && text == "null" ? std::string("None") : text);
  }
  return out + "]";
}

} // namespace qrxhost::aux
