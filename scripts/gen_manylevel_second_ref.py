#!/usr/bin/python3
"""Writes tests/data/manylevelsecond/fit.csv: numpy's least-squares fit of y on the intercept,
g, h and x1 (the last level of each CLASS variable out, which the intercept and the other levels
span) on synthdata's rows of two level sets (scripts/synthdata.py two_level_sets_csv: 5,000 rows,
g of 2,000 levels, h of 1,000, every level estimable, y depending on x1 and not on x2): its error
SS, the model DF and a sample of the estimates by parameter name (sampled below). Run from the
repository root: /usr/bin/python3 scripts/gen_manylevel_second_ref.py"""
import os
import sys

os.environ.setdefault("OPENBLAS_NUM_THREADS", "2")
import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthdata  # noqa: E402

OUT = "tests/data/manylevelsecond"
G, H = 2000, 1000


def fit(text):
    cols = list(zip(*synthdata.columns(text)[1]))
    y = np.array(cols[0], dtype=float)
    g = np.array([int(v[1:]) for v in cols[1]])
    h = np.array([int(v[1:]) for v in cols[2]])
    x1 = np.array(cols[3], dtype=float)
    n = len(y)
    X = np.zeros((n, 1 + (G - 1) + (H - 1) + 1))
    X[:, 0] = 1.0
    rows = np.nonzero(g < G - 1)[0]
    X[rows, 1 + g[rows]] = 1.0
    rows = np.nonzero(h < H - 1)[0]
    X[rows, G + h[rows]] = 1.0
    X[:, -1] = x1
    b, _, rank, _ = np.linalg.lstsq(X, y, rcond=None)
    assert rank == X.shape[1]
    r = y - X @ b
    names = (["Intercept"] + ["g L%04d" % l for l in range(G - 1)] +
             ["h M%04d" % l for l in range(H - 1)] + ["x1"])
    out = ["name,value", "error_ss,%.17g" % (r @ r), "model_df,%d" % (X.shape[1] - 1)]
    out += ["estimate %s,%.17g" % (name, v) for name, v in zip(names, b) if sampled(name)]
    return out


def sampled(name):
    """The estimates fit.csv keeps: the intercept, x1, and every 97th level of g and 43rd of
    h (the last estimable level of each among them), enough to pin the fit down."""
    if " " not in name:
        return True
    level = int(name.split()[1][1:])
    last = G - 2 if name[0] == "g" else H - 2
    return level % (97 if name[0] == "g" else 43) == 0 or level == last


def main():
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "fit.csv"), "w") as f:
        f.write("\n".join(fit(synthdata.two_level_sets_csv())) + "\n")


if __name__ == "__main__":
    main()
