"""mpmath's least squares of some of a design's columns, for the references of nearly
dependent fits (a high-degree spline over few rows) whose selected model must be that fit.

The design is a CSV as OUTDESIGN(FULLMODEL NAMES) writes it (a spline's columns named
S1_<k>), with the response y. The fit solves the normal equations of the columns as their
doubles stand, inverted by LU decomposition at 250 digits, and fit.csv gets the taken spline
columns, the model DF, the error SS and the estimates and standard errors of the named
columns, each to 17 digits."""
import csv

import mpmath


def read(path, cols):
    """The columns `cols` and the response of the design at `path`, as mpmath numbers."""
    with open(path) as f:
        rows = list(csv.reader(f))
    head = rows[0]
    X = [[mpmath.mpf(r[head.index(c)]) for c in cols] for r in rows[1:]]
    y = [mpmath.mpf(r[head.index("y")]) for r in rows[1:]]
    return X, y


def least_squares(X, y):
    """The error SS, the estimates and their standard errors of y on the columns of X."""
    n, p = len(X), len(X[0])
    A = mpmath.matrix(p, p)
    b = mpmath.matrix(p, 1)
    for i in range(p):
        b[i] = mpmath.fsum(X[r][i] * y[r] for r in range(n))
        for j in range(p):
            A[i, j] = mpmath.fsum(X[r][i] * X[r][j] for r in range(n))
    inv = mpmath.inverse(A)
    beta = inv * b
    sse = mpmath.fsum((y[r] - mpmath.fsum(X[r][i] * beta[i] for i in range(p))) ** 2
                      for r in range(n))
    mse = sse / (n - p)
    return sse, [beta[i] for i in range(p)], [mpmath.sqrt(mse * inv[i, i]) for i in range(p)]


def write_fit(design, out, named, spline):
    """Writes to `out` the least squares of the columns `named` (the intercept and the
    single-column effects, whose estimates are written) and spline columns `spline` (by
    number) of the design at `design`."""
    with mpmath.workdps(250):
        X, y = read(design, named + ["S1_%d" % k for k in spline])
        sse, beta, se = least_squares(X, y)
        with open(out, "w") as f:
            f.write("name,value\n")
            f.write("taken,%s\n" % " ".join(str(k) for k in spline))
            f.write("model_df,%d\n" % (len(X[0]) - 1))
            f.write("error_ss,%s\n" % mpmath.nstr(sse, 17))
            for i, name in enumerate(named):
                f.write("estimate %s,%s\n" % (name, mpmath.nstr(beta[i], 17)))
                f.write("stderr %s,%s\n" % (name, mpmath.nstr(se[i], 17)))
