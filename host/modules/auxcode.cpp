// The scoring code of the sibling module: a self-contained Python module (standard library
// only) whose function score(row) gives the procedure's prediction for a row of input
// values. CLASS values become levels the way the procedure forms them (numbers by their
// BEST12. text, texts cut to the level width and trimmed); each effect's CLASS part is
// tabulated by level combination, so every coding, crossing, nesting and split effect is
// reproduced; the prediction is summed in the procedure's order.
#include "host/modules/auxmodel.h"

#include "host/runner/jsonout.h"

namespace qrxhost::aux {
namespace {

// The functions every scoring module carries.
constexpr const char *kRuntime = R"PY(
def _value(row, name):
    if name in row:
        return row[name]
    upper = name.upper()
    for key in row:
        if str(key).upper() == upper:
            return row[key]
    raise KeyError("the row has no variable " + name)


def _number(value):
    """A number, or None for a missing value (None, NaN, empty, '.', NA, NaN, N/A)."""
    if value is None:
        return None
    if isinstance(value, str):
        text = value.strip()
        if text == "" or text == "." or text.upper() in ("NA", "NAN", "N/A"):
            return None
        value = float(text)
    value = float(value)
    return None if math.isnan(value) else value


def _best12(x):
    """The BEST12. text of a number: the most significant digits that fit in 12 places."""
    if x == 0:
        return "0"
    for precision in range(12, 0, -1):
        text = "%.*G" % (precision, x)
        if "E" in text:
            mantissa, exponent = text.split("E")
            sign = "-" if exponent.startswith("-") else ""
            digits = exponent.lstrip("+-").lstrip("0") or "0"
            text = mantissa + "E" + sign + digits
        if len(text) <= 12:
            return text
    return "*" * 12


def _level(spec, value):
    """The level index of a CLASS value, or None when it is not a level of the fit."""
    if spec["numeric"]:
        x = _number(value)
        text = "." if x is None else _best12(x)
    else:
        text = "" if value is None else str(value)
    text = text.lstrip()[: spec["width"]].rstrip()
    if text in ("", ".") and not spec["missing"]:
        return None
    return spec["levels"].get(text)


def score(row):
    """The predicted value for a row (a mapping of variable names to values), or None when
    the procedure would not predict it: a needed value is missing, a CLASS value is not a
    level of the fit, or (GLM coding) a combination of levels did not occur in the fit."""
    levels = {name: _level(spec, _value(row, name)) for name, spec in CLASSES.items()}
    numbers = {name: _number(_value(row, name)) for name in NUMERICS}
    if any(v is None for v in levels.values()) or any(v is None for v in numbers.values()):
        return None
    blocks = []
    for effect in EFFECTS:
        s = 1.0
        for name in effect["continuous"]:
            s = s * numbers[name]
        cell = effect["cells"].get(tuple(levels[name] for name in effect["classes"]))
        if cell is None:
            return None
        blocks.append((s, cell))
    prediction = 0.0
    for effect, column, estimate, _name in PARAMETERS:
        s, cell = blocks[effect]
        prediction += estimate * (s * cell.get(column, 0.0))
    return prediction
)PY";

std::string classesTable(const PostFitModel &m) {
  std::string out = "CLASSES = {\n";
  for (int32_t i = 0; i < m.classCount; ++i) {
    const PostFitClass &c = m.classes[i];
    out += "    " + jsonString(c.name) + ": {\"numeric\": " + (c.numeric ? "True" : "False") +
           ", \"width\": " + std::to_string(c.levelWidth) +
           ", \"missing\": " + (c.missingIsLevel ? "True" : "False") +
           ", \"coding\": " + jsonString(c.coding) + ",\n        \"levels\": {";
    for (int32_t k = 0; k < c.levelCount; ++k)
      out += (k ? ", " : "") + jsonString(c.levels[k]) + ": " + std::to_string(k);
    out += "}},\n";
  }
  return out + "}\n";
}

std::string cellsOf(const PostFitEffect &e) {
  std::string out = "{";
  for (int32_t r = 0; r < e.comboCount; ++r) {
    out += r ? ",\n            (" : "\n            (";
    for (int32_t k = 0; k < e.classCount; ++k)
      out += std::to_string(e.comboLevels[r * e.classCount + k]) + ",";
    out += "): {";
    bool first = true;
    for (int32_t c = 0; c < e.columnCount; ++c) {
      const double v = e.comboValues[r * e.columnCount + c];
      if (v == 0)
        continue;
      out += (first ? "" : ", ") + std::to_string(c) + ": " + jsonNumber(v);
      first = false;
    }
    out += "}";
  }
  return out + "}";
}

std::string effectsTable(const PostFitModel &m) {
  std::string out = "EFFECTS = [\n";
  for (int32_t i = 0; i < m.effectCount; ++i) {
    const PostFitEffect &e = m.effects[i];
    out += "    {\"name\": " + jsonString(e.name) + ", \"classes\": [";
    for (int32_t k = 0; k < e.classCount; ++k)
      out += (k ? ", " : "") + jsonString(m.classes[e.classes[k]].name);
    out += "], \"continuous\": [";
    for (int32_t k = 0; k < e.continuousCount; ++k)
      out += (k ? ", " : "") + jsonString(m.numerics[e.continuous[k]]);
    out += "],\n        \"cells\": " + cellsOf(e) + "},\n";
  }
  return out + "]\n";
}

std::string parametersTable(const PostFitModel &m) {
  std::string out = "# (effect, column of its block, estimate, parameter)\nPARAMETERS = [\n";
  for (int32_t i = 0; i < m.parameterCount; ++i) {
    const PostFitParameter &p = m.parameters[i];
    out += "    (" + std::to_string(p.effect) + ", " + std::to_string(p.column) + ", " +
           jsonNumber(p.estimate) + ", " + jsonString(p.name) + "),\n";
  }
  return out + "]\n";
}

} // namespace

Refusal codeRefusal(const PostFitModel &m) {
  if (m.byIndex > 0)
    return {5, "", ""};
  for (int32_t i = 0; i < m.effectCount; ++i) {
    const PostFitEffect &e = m.effects[i];
    if (e.constructedCount > 0)
      return {3, e.name, e.constructed[0]};
    if (e.comboCount < 0)
      return {4, e.name, ""};
  }
  for (int32_t i = 0; i < m.parameterCount; ++i)
    if (isHostMissing(m.parameters[i].estimate))
      return {7, m.parameters[i].name, ""};
  return {};
}

std::string scoringCode(const PostFitModel &m) {
  std::string out = "# Scoring code of a model selected by the VARSIFTER procedure; response " +
                    std::string(m.response) +
                    ".\n# score(row) takes a mapping of input variable names to values "
                    "(numbers, texts, or None\n# for missing) and returns the predicted "
                    "value, or None. Standard library only.\nimport math\n\n";
  out += "RESPONSE = " + jsonString(m.response) + "\n";
  out += "NUMERICS = [";
  for (int32_t i = 0; i < m.numericCount; ++i)
    out += (i ? ", " : "") + jsonString(m.numerics[i]);
  out += "]\n";
  out += classesTable(m) + effectsTable(m) + parametersTable(m) + kRuntime;
  return out;
}

} // namespace qrxhost::aux
