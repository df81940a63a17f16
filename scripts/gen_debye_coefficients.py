#!/usr/bin/python3
"""Coefficients of the Debye polynomials u_1 .. u_11 of the uniform asymptotic expansion of
the modified Bessel function I_nu(nu z) (Abramowitz and Stegun 9.3.9, 9.3.10), from the
recurrence
    u_{k+1}(t) = t^2 (1 - t^2) u_k'(t) / 2 + (1/8) int_0^t (1 - 5 s^2) u_k(s) ds,  u_0 = 1.
u_k(t) = t^k sum_j c_{k,j} t^{2j}, j = 0..k. Prints them as a C++ initialiser, by k and
ascending j, in exact rational arithmetic rounded to double at the end."""
from fractions import Fraction


def debye(kmax):
    polys = [{0: Fraction(1)}]  # power -> coefficient
    for k in range(kmax):
        u = polys[-1]
        nxt = {}
        # t^2 (1 - t^2) u'(t) / 2
        for p, c in u.items():
            if p == 0:
                continue
            d = c * p
            nxt[p + 1] = nxt.get(p + 1, 0) + d / 2
            nxt[p + 3] = nxt.get(p + 3, 0) - d / 2
        # (1/8) int_0^t (1 - 5 s^2) u(s) ds
        for p, c in u.items():
            nxt[p + 1] = nxt.get(p + 1, 0) + c / 8 / (p + 1)
            nxt[p + 3] = nxt.get(p + 3, 0) - 5 * c / 8 / (p + 3)
        polys.append({p: c for p, c in nxt.items() if c != 0})
    return polys


def main():
    polys = debye(11)
    for k in range(1, 12):
        u = polys[k]
        coefs = [u.get(k + 2 * j, Fraction(0)) for j in range(k + 1)]
        print("    // u_%d" % k)
        print("    " + ", ".join(repr(float(c)) for c in coefs) + ",")


if __name__ == "__main__":
    main()
