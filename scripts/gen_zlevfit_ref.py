#!/usr/bin/python3
"""Reference values of the design library's fit interface on a small GLM design.

The design: Intercept, the CLASS variable a (levels p, q, r: one indicator column each, so
the last one is the sum of the intercept less the others), x1, x2 and x12 = x1 + x2 (also a
dependent column); two responses; a WEIGHT variable. From numpy linear algebra, not from a
sweep: with S the design pivots whose Schur complement exceeds min(1e7 2^-53 d_k, 1e-4),
  swept matrix   [S,S] = inv(A_SS); [R,S] = A_RS inv(A_SS); [R,R] = A_RR - A_RS inv(A_SS) A_SR,
                 rows and columns of the other design pivots zero;
  dependencies   of a dependent pivot k on the earlier swept columns: A_kS inv(A_SS);
  root           the Cholesky factor of A on its independent columns, a dependent row
                 holding its triangular solve and a zero diagonal;
  inverse root   inv of the root's design block with the zero diagonals taken as 1, the
                 dependent rows negated left of their (zero) diagonal;
  test           M = L S L', its generalized inverse by the same rule, estimates E = L B',
                 hypothesis SS = E M^- E'.
Writes tests/data/design/zlevfit_data.csv and tests/data/design/zlevfit_ref.txt (lines:
name count values...; matrices packed lower-triangular row by row).
Run: /usr/bin/python3 scripts/gen_zlevfit_ref.py
"""
import os

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "design")
EPS = 1e7 * 2.0**-53

rng = np.random.default_rng(20261207)
n = 30
a = np.array(["pqr"[i % 3] for i in range(n)])
x1 = np.round(rng.normal(0, 2, n), 2)
x2 = np.round(rng.normal(1, 1, n), 2)
x12 = np.round(x1 + x2, 2)
w = np.round(rng.uniform(0.5, 2.0, n), 3)
y1 = np.round(1 + 2 * x1 - x2 + (a == "p") * 1.5 + rng.normal(0, 0.5, n), 4)
y2 = np.round(-3 + 0.5 * x2 + (a == "q") + rng.normal(0, 1.0, n), 4)

with open(os.path.join(OUT, "zlevfit_data.csv"), "w") as f:
    f.write("a,x1,x2,x12,w,y1,y2\n")
    for i in range(n):
        f.write(f"{a[i]},{x1[i]!r},{x2[i]!r},{x12[i]!r},{w[i]!r},{y1[i]!r},{y2[i]!r}\n")

# Values as the procedure reads them back from the text.
x1, x2, x12, w, y1, y2 = (np.array([float(repr(v)) for v in c]) for c in (x1, x2, x12, w, y1, y2))
X = np.column_stack([np.ones(n), a == "p", a == "q", a == "r", x1, x2, x12]).astype(float)
Z = np.column_stack([X, y1, y2])
A = Z.T @ (w[:, None] * Z)
p, r = X.shape[1], 2
N = p + r


def swept_set(A, count, relative_cap=True):
    S = []
    for k in range(count):
        pivot = A[k, k]
        if S:
            pivot -= A[k, S] @ np.linalg.solve(A[np.ix_(S, S)], A[S, k])
        tol = min(A[k, k] * EPS, 1e-4) if relative_cap else A[k, k] * EPS
        if pivot > tol:
            S.append(k)
    return S


def swept_matrix(A, S):
    m = A.shape[0]
    R = [i for i in range(m) if i not in S and i >= p] if m == N else []
    G = np.zeros_like(A)
    inv = np.linalg.inv(A[np.ix_(S, S)])
    G[np.ix_(S, S)] = inv
    if R:
        G[np.ix_(R, S)] = A[np.ix_(R, S)] @ inv
        G[np.ix_(S, R)] = G[np.ix_(R, S)].T
        G[np.ix_(R, R)] = A[np.ix_(R, R)] - A[np.ix_(R, S)] @ inv @ A[np.ix_(S, R)]
    return G


def packed(M):
    return [M[i, j] for i in range(M.shape[0]) for j in range(i + 1)]


S = swept_set(A, p)
G = swept_matrix(A, S)
dep = np.zeros(N * N)
for k in range(p):
    if k in S:
        dep[k * p + k] = 1.0
        continue
    before = [i for i in S if i < k]
    coef = A[k, before] @ np.linalg.inv(A[np.ix_(before, before)])
    tol = min(A[k, k] * EPS, 1e-4)
    for i, c in zip(before, coef):
        if abs(c) > tol:
            dep[i * p + k] = c

# The Cholesky root: independent columns by the root's own rule (no 1e-4 cap).
C = swept_set(A, N, relative_cap=False)
L = np.zeros_like(A)
Lc = np.linalg.cholesky(A[np.ix_(C, C)])
L[np.ix_(C, C)] = Lc
for i in range(N):
    if i in C:
        continue
    before = [j for j in C if j < i]
    sub = L[np.ix_(before, before)]
    L[i, before] = np.linalg.solve(sub, A[before, i])
Mp = L[:p, :p].copy()
dependent = [k for k in range(p) if k not in C]
for k in dependent:
    Mp[k, k] = 1.0
invp = np.linalg.inv(Mp)
for k in dependent:
    invp[k, :k] = -invp[k, :k]
    invp[k, k] = 0.0
Linv = L.copy()
Linv[:p, :p] = invp

B = G[p:, :p]  # coefficients, one row per response
SSE = G[p:, p:]
SST = A[p:, p:]
Lh = np.zeros((3, p))
Lh[0, 1], Lh[0, 2] = 1.0, -1.0
Lh[1, 4] = 1.0
Lh[2] = 2.0 * Lh[1]
M = Lh @ G[:p, :p] @ Lh.T
SM = swept_set(M, 3)
Minv = np.zeros_like(M)
Minv[np.ix_(SM, SM)] = np.linalg.inv(M[np.ix_(SM, SM)])
E = B @ Lh.T  # t x q
HSS = E @ Minv @ E.T

with open(os.path.join(OUT, "zlevfit_ref.txt"), "w") as f:
    def put(name, values):
        values = list(np.ravel(values))
        f.write(name + " " + str(len(values)) + " " + " ".join(repr(float(v)) for v in values) + "\n")
    put("xpx", packed(A))
    put("swept", packed(G))
    put("sweptflags", [1.0 if k in S else 0.0 for k in range(p)])
    put("dependencies", dep[: p * p])
    put("root", packed(L))
    put("invroot", packed(Linv))
    put("beta", B)
    put("sse", packed(SSE))
    put("sst", packed(SST))
    put("ssm", packed(SST - SSE))
    put("hypothesis", Lh)
    put("variance", packed(M))
    put("df", [len(SM)])
    put("estimates", E)
    put("hypothesisss", packed(HSS))
