// The item store of the sibling module: the selected model of every group as JSON (the
// response, CLASS variables with their levels and codings, numeric variables, effects,
// parameters with their estimates, the error variance), enough to rebuild the predictions.
#include "host/modules/auxmodel.h"

#include "host/runner/jsonout.h"

namespace qrxhost::aux {
namespace {

std::string stringList(const char *const *items, int32_t count) {
  std::string out = "[";
  for (int32_t i = 0; i < count; ++i)
    out += (i ? ", " : "") + jsonString(items[i]);
  return out + "]";
}

std::string classJson(const PostFitClass &c) {
  std::string out = "{\"name\": " + jsonString(c.name) +
                    ", \"type\": " + jsonString(c.numeric ? "numeric" : "character") +
                    ", \"coding\": " + jsonString(c.coding) +
                    ", \"missingIsLevel\": " + (c.missingIsLevel ? "true" : "false") +
                    ", \"levelWidth\": " + std::to_string(c.levelWidth) +
                    ", \"levels\": " + stringList(c.levels, c.levelCount);
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

std::string effectJson(const PostFitModel &m, const PostFitEffect &e) {
  std::string out = "{\"name\": " + jsonString(e.name) + ", \"classes\": [";
  for (int32_t k = 0; k < e.classCount; ++k)
    out += (k ? ", " : "") + jsonString(m.classes[e.classes[k]].name);
  out += "], \"continuous\": [";
  for (int32_t k = 0; k < e.continuousCount; ++k)
    out += (k ? ", " : "") + jsonString(m.numerics[e.continuous[k]]);
  out += "], \"constructed\": " + stringList(e.constructed, e.constructedCount) +
         ", \"columns\": " + std::to_string(e.columnCount) + "}";
  return out;
}

} // namespace

std::string storeGroupJson(const PostFitModel &m, double errorVariance, double errorDf) {
  std::string out = "    {\"byGroup\": " + std::to_string(m.byIndex) +
                    ",\n     \"errorVariance\": " + jsonNumber(errorVariance) +
                    ", \"errorDF\": " + jsonNumber(errorDf) + ",\n     \"classes\": [";
  for (int32_t i = 0; i < m.classCount; ++i)
    out += std::string(i ? ",\n       " : "\n       ") + classJson(m.classes[i]);
  out +=
      "],\n     \"numerics\": " + stringList(m.numerics, m.numericCount) + ",\n     \"effects\": [";
  for (int32_t i = 0; i < m.effectCount; ++i)
    out += std::string(i ? ",\n       " : "\n       ") + effectJson(m, m.effects[i]);
  out += "],\n     \"parameters\": [";
  for (int32_t i = 0; i < m.parameterCount; ++i) {
    const PostFitParameter &p = m.parameters[i];
    out += std::string(i ? ",\n       " : "\n       ") + "{\"name\": " + jsonString(p.name) +
           ", \"effect\": " + jsonString(m.effects[p.effect].name) +
           ", \"column\": " + std::to_string(p.column) +
           ", \"estimate\": " + jsonNumber(p.estimate) + "}";
  }
  return out + "]}";
}

std::string storeDocument(const std::vector<std::string> &groups, const PostFitModel &m) {
  std::string out = "{\"itemStore\": \"VARSIFTER selected model\", \"version\": 1,\n"
                    " \"response\": " +
                    jsonString(m.response) +
                    ", \"intercept\": " + (m.noIntercept ? "false" : "true") +
                    ",\n \"groups\": [\n";
  for (size_t i = 0; i < groups.size(); ++i)
    out += groups[i] + (i + 1 < groups.size() ? ",\n" : "\n");
  return out + " ]}\n";
}

} // namespace qrxhost::aux
