#!/usr/bin/python3
"""Writes tests/data/levelretake/fit.csv: numpy's least-squares fit of the model that STEPWISE
by significance selects on synthdata's level-retake rows (scripts/synthdata.py
level_retake_csv: y on the intercept, x1, z, g of 40 levels under the GLM coding, and x2, in
that order of entry). The columns are taken in that order by the exact pivot rule (a column
whose pivot falls below 1e-9 of its sum of squares is left out: the last two levels, which
with the intercept and z span the others); the file holds the refused columns, the model DF,
the error SS, and the estimate and standard error of every column taken. Run from the
repository root: /usr/bin/python3 scripts/gen_level_retake_ref.py"""
import os
import sys

os.environ.setdefault("OPENBLAS_NUM_THREADS", "2")
import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import exactpivots  # noqa: E402
import synthdata  # noqa: E402

OUT = "tests/data/levelretake"
LEVELS = 40


def taken_columns(X):
    """The columns kept by the pivot rule in order (exactpivots.py)."""
    return exactpivots.kept_columns(X)


def main():
    header, rows = synthdata.columns(synthdata.level_retake_csv())
    cols = dict(zip(header, zip(*rows)))
    y = np.array(cols["y"], dtype=float)
    g = np.array([int(v[1:]) - 1 for v in cols["g"]])
    number = {name: np.array(cols[name], dtype=float) for name in ("z", "x1", "x2")}
    levels = [(g == l).astype(float) for l in range(LEVELS)]
    X = np.column_stack([np.ones(len(y)), number["x1"], number["z"]] + levels + [number["x2"]])
    names = (["Intercept", "x1", "z"] + ["g " + synthdata.level(l) for l in range(LEVELS)] +
             ["x2"])
    keep = taken_columns(X)
    Xk = X[:, keep]
    b, _, rank, _ = np.linalg.lstsq(Xk, y, rcond=None)
    assert rank == len(keep)
    r = y - Xk @ b
    sse = r @ r
    cov = np.linalg.inv(Xk.T @ Xk) * sse / (len(y) - len(keep))
    out = ["name,value",
           "refused,%s" % " ".join(names[j] for j in range(len(names)) if j not in keep),
           "model_df,%d" % (len(keep) - 1), "error_ss,%.17g" % sse]
    for i, j in enumerate(keep):
        out.append("estimate %s,%.17g" % (names[j], b[i]))
        out.append("stderr %s,%.17g" % (names[j], np.sqrt(cov[i, i])))
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "fit.csv"), "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
