// The scoring code of the sibling module: a self-contained Python module (standard library
// only) whose function score(row) gives the procedure's prediction for a row of input
// values. CLASS values become levels the way the procedure forms them (numbers by their
// BEST12. text, texts cut to the level width and trimmed); each effect's CLASS part is
// tabulated by level combination, so every coding, crossing, nesting and split effect is
// reproduced; the prediction is summed in the procedure's order.
// Declared in host/modules/auxmodel.h.
#include "host/modules/auxmodel.h"

#include "host/runner/jsonout.h"

namespace qrxhost::aux {
namespace {

// The functions every scoring module carries.
constexpr const char* kRuntime = R"PY(
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


def _level(info, value):
    """The level index of a CLASS value, or None when it is not a level of the fit."""
    if info["numeric"]:
        x = _number(value)
        text = "." if x is None else _best12(x)
    else:
        text = "" if value is None else str(value)
    # Cut to the level width first, then trimmed: a value whose leading blanks push it past
    # the width is not the level it would be without them, as in the procedure.
    text = text[: info["width"]].strip()
    if text in ("", ".") and not info["missing"]:
        return None
    return info["levels"].get(text)


# The guarded integer power of the truncated-power bases: repeated squaring while the result
# stays well inside the range of doubles, the library power beyond.
_LOG_WIDEN = 1.0000000000000007
_OVERFLOW_LOG = 709.782712893384
_UNDERFLOW_LOG = -708.3964185
_SQUARING_LIMIT = 72.0873067782343


def _power(x, p):
    if p == 0:
        return 1.0
    if p == 1 or x == 1.0:
        return x
    z = math.log(x) * (_LOG_WIDEN * p)
    if z >= _OVERFLOW_LOG:
        return math.inf
    if z <= _UNDERFLOW_LOG:
        return 0.0
    if abs(z) < _SQUARING_LIMIT:
        r, b, k = 1.0, x, p
        while k:
            if k & 1:
                r *= b
            if k > 1:
                b *= b
            k >>= 1
        return r
    return math.pow(x, p)


def _truncated(knots, degree, x, first, last):
    out, p = [], degree
    for j, k in enumerate(knots):
        p = degree if j == 0 or k != knots[j - 1] else max(p - 1, 0)
        if first <= j < last:
            out.append(_power(x - k, p) if x - k > 0 else 0.0)
    return out


def _cube_plus(x, t):
    return (x - t) * (x - t) * (x - t) if x > t else 0.0


def _bspline(c, knots, x):
    """The B-spline basis at x: the de Boor values of the functions non-zero there."""
    k, nt = c["degree"], len(knots)
    left = i = k
    while i < nt - max(k, 1) and x >= knots[i]:
        i += 1
        left = i
    b = [0.0] * (k + 1)
    if x > knots[i]:
        b[k] = 1.0
    elif k == 0 or knots[k - 1] > x:
        b[0] = 1.0
    else:
        b[0] = 1.0
        dr, dl = [0.0] * k, [0.0] * k
        for j in range(k):
            dr[j] = knots[i + j] - x
            dl[j] = x - knots[i - 1 - j]
            saved = 0.0
            for r in range(j + 1):
                den = dr[r] + dl[j - r]
                term = b[r] / den if den != 0.0 else 0.0
                b[r] = saved + dr[r] * term
                saved = dl[j - r] * term
            b[j + 1] = saved
    out = [0.0] * c["perVariable"]
    for j in range(k + 1):
        if 0 <= left - k + j < c["perVariable"]:
            out[left - k + j] = b[j]
    return out


def _tpf(c, knots, x):
    """The truncated-power basis at x (natural cubic when asked)."""
    out, n = [], len(knots)
    if c["tpfTerms"] == 2:
        out.append(1.0)
    if not c["natural"]:
        power = x
        for _ in range(c["degree"] if c["tpfTerms"] != 0 else 0):
            out.append(power)
            power *= x
        return out + _truncated(knots, c["degree"], x, 0, n)
    if c["tpfTerms"] != 0:
        out.append(x)
    if n <= 2:
        return out
    kn, kn1 = knots[n - 1], knots[n - 2]
    e = (_cube_plus(x, kn1) - _cube_plus(x, kn)) / (kn - kn1)
    t = _truncated(knots, 3, x, 0, n - 2)
    return out + [(t[j] - _cube_plus(x, kn)) / (kn - knots[j]) - e for j in range(n - 2)]


def _standardised(c, i, x):
    if c["standardize"] == 1:
        return x - c["centers"][i]
    if c["standardize"] == 2:
        return x / c["scales"][i]
    if c["standardize"] == 3:
        return (x - c["centers"][i]) / c["scales"][i]
    return x


def _class_block(info, level):
    if info["coding"] == "GLM":
        block = [0.0] * len(info["levels"])
        block[level] = 1.0
        return block
    return list(info["rows"][level])


def _multimember(c, levels, numbers):
    """The union-level values of a multimember effect: each present member adds its weight
    (1 without weights) at its level's union column; STD divides by the weights' sum."""
    members = [levels[name] for name in c["classes"]]
    weights = c["numerics"]
    values = [0.0] * c["valueCount"]
    if all(level is None for level in members):
        if not c["noEffect"]:
            return None
        return values[c["offset"] : c["offset"] + c["columns"]]
    total = 0.0
    for k, level in enumerate(members):
        if level is None:
            continue
        w = numbers[weights[k]] if weights else 1.0
        if w is None:
            return None
        values[c["maps"][k][level]] += w
        total += w
    if c["stdize"] and weights and total == 0:
        return None
    if c["stdize"] and total != 0:
        if abs(total) <= 10 * 1.110223024625157e-13:
            values = [0.0] * c["valueCount"]
        else:
            scale = 1 / total
            values = [v * scale for v in values]
    return values[c["offset"] : c["offset"] + c["columns"]]


def _constructed(c, model, levels, numbers):
    """The values of a constructed effect's source record, then the part's columns."""
    if c["kind"] == "MULTIMEMBER":
        return _multimember(c, levels, numbers)
    xs = [numbers[name] for name in c["numerics"]]
    if any(x is None for x in xs) or any(levels[name] is None for name in c["classes"]):
        return None
    if c["kind"] == "SPLINE":
        values = []
        for x, knots in zip(xs, c["knots"]):
            part = _bspline(c, knots, x) if c["basis"] == "BSPLINE" else _tpf(c, knots, x)
            values += (part + [0.0] * c["perVariable"])[: c["perVariable"]]
    elif c["kind"] == "POLYNOMIAL":
        s = [_standardised(c, i, x) for i, x in enumerate(xs)]
        values = []
        for term in c["terms"]:
            v = s[term[-1]]
            for e in range(len(term) - 2, -1, -1):
                v = s[term[e]] * v
            values.append(v)
    else:  # COLLECTION
        values = list(xs)
        for name in c["classes"]:
            values += _class_block(model["CLASSES"][name], levels[name])
    return values[c["offset"] : c["offset"] + c["columns"]]


def _by_key(row):
    key = []
    for name, numeric in BY:
        value = _value(row, name)
        key.append(_number(value) if numeric else ("" if value is None else str(value).rstrip()))
    return tuple(key)


def _predict(model, row):
    levels = {name: _level(info, _value(row, name)) for name, info in model["CLASSES"].items()}
    numbers = {name: _number(_value(row, name)) for name in model["NUMERICS"]}
    if any(levels[name] is None for name, info in model["CLASSES"].items() if info["needed"]):
        return None
    constructed = {}
    blocks = []
    for effect in model["EFFECTS"]:
        parts = []
        for index in effect["constructed"]:
            if index not in constructed:
                c = model["CONSTRUCTED"][index]
                constructed[index] = _constructed(c, model, levels, numbers)
            if constructed[index] is None:
                return None
            parts.append(constructed[index])
        if effect["classPart"]:
            s = 1.0
            for name in effect["continuous"]:
                if numbers[name] is None:
                    return None
                s = s * numbers[name]
            cell = effect["cells"].get(tuple(levels[name] for name in effect["classes"]))
            if cell is None:
                return None
            block = [s * cell.get(c, 0.0) for c in range(effect["classColumns"])]
        else:
            block, parts = list(parts[-1]), parts[:-1]
        for values in reversed(parts):
            if values and block:
                block = [block[k] * v for v in values for k in range(len(block))]
        blocks.append(block)
    prediction = 0.0
    for effect, column, estimate, _name in model["PARAMETERS"]:
        prediction += estimate * blocks[effect][column]
    return prediction


def score(row):
    """The predicted value for a row (a mapping of variable names to values), or None when
    the procedure would not predict it: the row's BY group was not fitted, a needed value
    is missing, a CLASS value is not a level of the fit, or (GLM coding) a combination of
    levels did not occur in the fit."""
    model = GROUPS.get(_by_key(row))
    return None if model is None else _predict(model, row)
)PY";

// A Python float literal that reads back as the same double; None for a missing value.
std::string pyNumber(double value) {
  const std::string text = jsonNumber(value);
  return text == "null" ? "None" : text;
}

std::string classesTable(const PostFitModel& m) {
  std::string out = "        \"CLASSES\": {\n";
  for (int32_t i = 0; i < m.classCount; ++i) {
    const PostFitClass& c = m.classes[i];
    out += "    " + jsonString(c.name) + ": {\"numeric\": " + (c.numeric ? "True" : "False") +
           ", \"width\": " + std::to_string(c.levelWidth) +
           ", \"missing\": " + (c.missingIsLevel ? "True" : "False") +
           ", \"needed\": " + (c.needed ? "True" : "False") +
           ", \"coding\": " + jsonString(c.coding) + ",\n        \"levels\": {";
    for (int32_t k = 0; k < c.levelCount; ++k)
      out += (k ? ", " : "") + jsonString(c.levels[k]) + ": " + std::to_string(k);
    out += "}";
    if (c.codingColumns > 0) {
      out += ",\n        \"rows\": [";
      for (int32_t k = 0; k < c.levelCount; ++k)
        out +=
            (k ? ", " : "") + numberList(c.codingRows + k * c.codingColumns, c.codingColumns, true);
      out += "]";
    }
    out += "},\n";
  }
  return out + "        },\n";
}

std::string cellsOf(const PostFitEffect& e) {
  std::string out = "{";
  for (int32_t r = 0; r < e.comboCount; ++r) {
    out += r ? ",\n            (" : "\n            (";
    for (int32_t k = 0; k < e.classCount; ++k)
      out += std::to_string(e.comboLevels[r * e.classCount + k]) + ",";
    out += "): {";
    for (int64_t i = e.comboStarts[r]; i < e.comboStarts[r + 1]; ++i)
      out += (i > e.comboStarts[r] ? ", " : "") + std::to_string(e.comboColumns[i]) + ": " +
             pyNumber(e.comboValues[i]);
    out += "}";
  }
  return out + "}";
}

std::string effectsTable(const PostFitModel& m) {
  std::string out = "        \"EFFECTS\": [\n";
  for (int32_t i = 0; i < m.effectCount; ++i) {
    const PostFitEffect& e = m.effects[i];
    out += "    {\"name\": " + jsonString(e.name) +
           ", \"classes\": " + classNameList(m, e.classes, e.classCount) +
           ", \"continuous\": " + nameList(m.numerics, e.continuous, e.continuousCount) +
           ", \"constructed\": [";
    for (int32_t k = 0; k < e.constructedCount; ++k)
      out += (k ? ", " : "") + std::to_string(e.constructed[k]);
    out += std::string("], \"classPart\": ") + (e.classPart ? "True" : "False") +
           ", \"classColumns\": " + std::to_string(e.classColumns) +
           ",\n        \"cells\": " + cellsOf(e) + "},\n";
  }
  return out + "        ],\n";
}

// One constructed effect: its variables and what makes its values.
std::string constructedEntry(const PostFitModel& m, const PostFitConstructed& c) {
  std::string out = "    {\"name\": " + jsonString(c.name) +
                    ", \"kind\": " + jsonString(kindName(c.kind)) +
                    ", \"offset\": " + std::to_string(c.offset) +
                    ", \"columns\": " + std::to_string(c.columnCount) +
                    ", \"valueCount\": " + std::to_string(c.valueCount) +
                    ",\n        \"numerics\": " + nameList(m.numerics, c.numerics, c.numericCount) +
                    ", \"classes\": " + classNameList(m, c.classes, c.classCount);
  if (c.kind == PFK_SPLINE) {
    out += ",\n        \"basis\": " + jsonString(c.basis == PFB_BSPLINE ? "BSPLINE" : "TPF") +
           ", \"degree\": " + std::to_string(c.degree) +
           ", \"natural\": " + (c.natural ? "True" : "False") +
           ", \"tpfTerms\": " + std::to_string(c.tpfTerms) +
           ", \"perVariable\": " + std::to_string(c.columnsPerVariable) + ",\n        \"knots\": [";
    for (int32_t k = 0; k < c.numericCount; ++k)
      out += (k ? ", " : "") + numberList(c.knots[k], c.knotCounts[k], true);
    out += "]";
  } else if (c.kind == PFK_MULTIMEMBER) {
    out += std::string(",\n        \"stdize\": ") + (c.stdize ? "True" : "False") +
           ", \"noEffect\": " + (c.noEffect ? "True" : "False") + ", \"maps\": [";
    int32_t at = 0;
    for (int32_t k = 0; k < c.classCount; ++k) {
      out += k ? ", [" : "[";
      const int32_t n = m.classes[c.classes[k]].levelCount;
      for (int32_t L = 0; L < n; ++L)
        out += (L ? ", " : "") + std::to_string(c.memberMaps[at + L]);
      at += n;
      out += "]";
    }
    out += "]";
  } else if (c.kind == PFK_POLYNOMIAL) {
    out += ",\n        \"standardize\": " + std::to_string(c.standardize) +
           ", \"centers\": " + numberList(c.centers, c.numericCount, true) +
           ", \"scales\": " + numberList(c.scales, c.numericCount, true) +
           ",\n        \"terms\": [";
    for (int32_t t = 0; t < c.termCount; ++t) {
      out += t ? ", [" : "[";
      for (int32_t k = c.termStarts[t]; k < c.termStarts[t + 1]; ++k)
        out += (k > c.termStarts[t] ? ", " : "") + std::to_string(c.termVariables[k]);
      out += "]";
    }
    out += "]";
  }
  return out + "},\n";
}

std::string constructedTable(const PostFitModel& m) {
  std::string out = "        \"CONSTRUCTED\": [\n";
  for (int32_t i = 0; i < m.constructedCount; ++i)
    out += constructedEntry(m, m.constructed[i]);
  return out + "        ],\n";
}

std::string parametersTable(const PostFitModel& m) {
  std::string out = "        # (effect, column of its block, estimate, parameter)\n"
                    "        \"PARAMETERS\": [\n";
  for (int32_t i = 0; i < m.parameterCount; ++i) {
    const PostFitParameter& p = m.parameters[i];
    out += "    (" + std::to_string(p.effect) + ", " + std::to_string(p.column) + ", " +
           pyNumber(p.estimate) + ", " + jsonString(p.name) + "),\n";
  }
  return out + "        ],\n";
}

} // namespace

Refusal codeRefusal(const PostFitModel& m) {
  for (int32_t i = 0; i < m.effectCount; ++i) {
    const PostFitEffect& e = m.effects[i];
    for (int32_t k = 0; k < e.constructedCount; ++k)
      if (!m.constructed[e.constructed[k]].reproducible)
        return {true, AuxMsg::CodeNeedsEarlierRows, e.name, m.constructed[e.constructed[k]].name};
    if (e.comboCount < 0)
      return {true, AuxMsg::CodeTooManyLevels, e.name, ""};
  }
  for (int32_t i = 0; i < m.parameterCount; ++i)
    if (isHostMissing(m.parameters[i].estimate))
      return {true, AuxMsg::CodeMissingEstimate, m.parameters[i].name, ""};
  return {};
}

std::string scoringGroupKey(const PostFitModel& m) {
  std::string out = "(";
  for (int32_t b = 0; b < m.byCount; ++b)
    out += (m.byNumeric[b] ? pyNumber(m.byNumbers[b]) : jsonString(m.byTexts[b])) + ",";
  return out + ")";
}

std::string scoringGroup(const PostFitModel& m) {
  return "    " + scoringGroupKey(m) +
         ": {\n        \"NUMERICS\": " + nameList(m.numerics, nullptr, m.numericCount) + ",\n" +
         classesTable(m) + constructedTable(m) + effectsTable(m) + parametersTable(m) + "    },\n";
}

std::string scoringModule(const std::vector<std::string>& groups, const PostFitModel& m) {
  std::string out = "# Scoring code of a model selected by the VARSIFTER procedure; response " +
                    std::string(m.response) +
                    ".\n# score(row) takes a mapping of input variable names to values "
                    "(numbers, texts, or None\n# for missing) and returns the predicted "
                    "value, or None. Standard library only.\nimport math\n\n";
  out += "RESPONSE = " + jsonString(m.response) + "\n";
  out += "# The BY variables (name, numeric) and the model of each BY group by its values.\nBY = [";
  for (int32_t b = 0; b < m.byCount; ++b)
    out += std::string(b ? ", (" : "(") + jsonString(m.byNames[b]) + ", " +
           (m.byNumeric[b] ? "True" : "False") + ")";
  out += "]\nGROUPS = {\n";
  for (const std::string& g : groups)
    out += g;
  return out + "}\n" + kRuntime;
}

} // namespace qrxhost::aux
