"""The columns a least-squares fit takes by the exact pivot rule, for reference scripts whose
designs hold columns that the others span: Gram-Schmidt, twice, against the columns kept so
far, keeping a column whose residual's sum of squares is at least 1e-9 of its own."""
import numpy as np


def kept_columns(A):
    """The indices of the columns of A (rows already weighted) the rule keeps, in order."""
    Q = np.zeros((A.shape[0], 0))
    keep = []
    for j in range(A.shape[1]):
        v = A[:, j]
        r = v.copy()
        for _ in range(2):
            r -= Q @ (Q.T @ r)
        if r @ r >= 1e-9 * (v @ v):
            keep.append(j)
            Q = np.column_stack([Q, r / np.sqrt(r @ r)])
    return keep
