#!/usr/bin/python3
"""Writes tests/data/manylevelsecond/data.csv and fit.csv: 5,000 rows of a CLASS variable g of
2,000 levels (the first 2,000 rows take every level in turn, the others one at random) and a
CLASS variable h of 1,000 levels (row r < 2,000 at level r mod 1,000, the next 999 rows
joining level l of h to level l + 1 of g so that every level is estimable, the others at
random), a noise column x1 that y depends on (y = the level means of g and h, of spread 3,
+ 2 x1 + noise) and a noise column x2 that it does not; fit.csv holds
numpy's least-squares fit of y on the intercept, g, h and x1 (the last level of each CLASS
variable out, which the intercept and the other levels span): its error SS and every
estimate by parameter name. Run from the repository root:
/usr/bin/python3 scripts/gen_manylevel_second_ref.py"""
import os

os.environ.setdefault("OPENBLAS_NUM_THREADS", "2")
import numpy as np  # noqa: E402

OUT = "tests/data/manylevelsecond"
ROWS, G, H = 5000, 2000, 1000


def write_data(path):
    rng = np.random.default_rng(20261209)
    gmean, hmean = 3.0 * rng.normal(size=G), 3.0 * rng.normal(size=H)
    lines = ["y,g,h,x1,x2"]
    for r in range(ROWS):
        if r < G:
            g, h = r, r % H
        elif r < G + H - 1:
            g, h = r - G + 1, r - G
        else:
            g, h = int(rng.integers(G)), int(rng.integers(H))
        x1, x2, e = rng.normal(size=3)
        y = gmean[g] + hmean[h] + 2.0 * x1 + e
        lines.append("%.4f,L%04d,M%04d,%.4f,%.4f" % (y, g, h, x1, x2))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def fit(path):
    text = open(path).read().strip().split("\n")[1:]
    cols = list(zip(*[line.split(",") for line in text]))
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
    out = ["name,value", "error_ss,%.17g" % (r @ r)]
    out += ["estimate %s,%.17g" % (name, v) for name, v in zip(names, b)]
    return out


def main():
    os.makedirs(OUT, exist_ok=True)
    data = os.path.join(OUT, "data.csv")
    write_data(data)
    with open(os.path.join(OUT, "fit.csv"), "w") as f:
        f.write("\n".join(fit(data)) + "\n")


if __name__ == "__main__":
    main()
